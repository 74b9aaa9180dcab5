// The virtual scanner's data source: TWAIN states 4 to 7, the triplets it answers, its
// user interface and the control interface for tests. One source per process, as a DSM
// loads it; the platform adapter supplies memory, notification and the user interface.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "standins/twaindsm/twaindsm.h"
#include "standins/virtual-scanner/core/document.h"
#include "standins/virtual-scanner/core/memory_xfer.h"
#include "standins/virtual-scanner/core/profile.h"

namespace vs {

// ScanThenClose: presses Scan, and Cancel (which closes the interface) once the source has
// no transfers left.
enum class User { None, Scan, Cancel, ScanThenClose };

// What an installed copy of the scanner is. Without a description it is the Virtual Scanner
// as it always was: a 1.x flatbed.
struct Model {
  std::string productName = "Virtual Scanner";
  bool twain2 = false;  // DF_DS2: takes the manager's entry points, its memory and its DSM_Entry
  bool feeder = false;  // a sheet-fed scanner: CAP_FEEDERENABLED and CAP_FEEDERLOADED, `pages` by default
  int sheets = 3;       // with a feeder: the sheets `reset` loads (as `pages N`)
};
// Reads a copy's description: `Key=Value` lines (ProductName, Twain2, Feeder, Sheets), blank
// lines and lines starting with ';' or '#' ignored. False, with the reason in *error, for an
// unknown or repeated key, a bad value, or a description without a ProductName.
bool ParseModel(const std::string& text, Model* model, std::string* error);

// What differs between the Mac and the Windows source.
class Platform {
 public:
  virtual ~Platform() = default;
  // Container and image memory of the platform's own kind, zero-filled.
  virtual TW_HANDLE Alloc(size_t size) = 0;
  virtual uint8_t* Lock(TW_HANDLE h) = 0;
  virtual void Unlock(TW_HANDLE h) = 0;
  virtual size_t Size(TW_HANDLE h) = 0;
  virtual void Free(TW_HANDLE h) = 0;
  // DG_CONTROL / DAT_NULL / msg through the DSM, from the source to the application.
  virtual TW_UINT16 Notify(TW_IDENTITY* source, TW_IDENTITY* app, TW_UINT16 msg) = 0;
  // A TWAIN 2 manager's entry points (DAT_ENTRYPOINT), or null when the session that had them
  // is over. While they are set, every handle the source hands out or reads is the manager's
  // (DSM_MemAllocate, DSM_MemLock, DSM_MemUnlock) and notices go through its DSM_Entry.
  virtual void UseEntryPoints(const TW_ENTRYPOINT* points) {}
  // Arranges for an event of the source's own to reach MSG_PROCESSEVENT soon, or (WakeAfter)
  // once `ms` milliseconds have passed.
  virtual void Wake(void* parent) = 0;
  virtual void WakeAfter(void* parent, long ms) = 0;
  // The platform's clock, in seconds (Mac: the event clock; Windows: the tick count).
  virtual double Now() = 0;
  // Blocks the calling thread for ms milliseconds.
  virtual void Pause(long ms) = 0;
  // Shows the interface (the scripted user then acts as told) or takes it down.
  virtual void ShowUI(void* parent, User user) = 0;
  virtual void HideUI() = 0;
  // The scripted user presses Scan or Cancel on the interface shown.
  virtual void Press(User button) = 0;
  // Events of MSG_PROCESSEVENT: what the source makes of them.
  enum class Event { Foreign, Wake, ScanPressed, CancelPressed, Interface };
  virtual Event Classify(void* event) = 0;
  // The block of a native image, of exactly its size. guard (Windows): placed so that reading
  // past its end faults as soon as the heap allows; *distance then says how many bytes after
  // the end can still be read (-1: the heap keeps the block among others, no guard).
  virtual TW_HANDLE ImageBlock(const Bytes& image, bool guard, long* distance) = 0;
  // Windows: a device bitmap (HBITMAP) of a packed DIB, as a camera source hands over; null
  // where there is no such thing.
  virtual TW_HANDLE DeviceBitmap(const Bytes& dib) { return nullptr; }
  // Writes a whole file; returns a condition code.
  virtual TW_UINT16 WriteFile(const char* nameField, const Bytes& data, TW_UINT16 format) = 0;
  // One JFIF stream from the platform's codec, with a comment segment (COM) carrying `comment`:
  // rows of 8-bit grey (components 1) or R, G, B (3), asked for top first, one at a time, as
  // the encoder takes them. Empty when the codec fails.
  struct JpegSource {
    int width = 0, height = 0, components = 3;
    double xres = 100, yres = 100;
    std::function<const uint8_t*(int row)> row;
  };
  virtual Bytes EncodeJpeg(const JpegSource& source, const char* comment) = 0;
};

// The text of the comment segment of the scanner's JPEG streams.
constexpr const char kJpegComment[] = "Virtual Scanner";

class Scanner {
 public:
  static Scanner& Instance();
  void SetPlatform(Platform* p) { platform_ = p; }
  // The installed copy this source is; applies its defaults as `reset` does.
  void Configure(const Model& model);
  const Model& model() const { return model_; }
  // Tests that drive DS_Entry without a DSM catch the notifications here.
  void SetNotifyHook(std::function<TW_UINT16(TW_UINT16)> hook) { notifyHook_ = std::move(hook); }

  TW_UINT16 Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  int Control(const char* command);
  int Query(const char* what, char* out, int size);
  // The user pressed a button of the interface.
  void UserAction(User action);
  int State() const { return state_; }

 private:
  struct Fault {
    TW_UINT32 dg;
    TW_UINT16 dat, msg, rc, cc;
  };
  // What a broken driver does inside a request: an access violation, exit(), a write past a
  // block of its heap (then it goes on), or a sleep (then it goes on). Once, at the next
  // matching triplet (0xFFFF = any), on page `page` of the enable only when not 0.
  struct Misdeed {
    enum class Kind { Crash, Exit, CorruptHeap, Hang } kind;
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    long value;  // the exit code, or the seconds of a hang
    int page;
  };
  // Does the first misdeed that matches the triplet, if any (a crash and an exit never return).
  void Misbehave(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);
  // Appends the triplet, and the page in the scanner, to the journal's file, if one is kept.
  void Journal(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const;
  struct ScriptedGet {
    TW_UINT16 conType, rc;
    Bytes bytes;
    bool container;
    TW_UINT16 cc;
  };
  struct ScriptedSet {
    TW_UINT16 rc, cc;
  };
  // A request carried out as usual, then answered with rc instead of TWRC_SUCCESS.
  struct Answer {
    TW_UINT32 dg;
    TW_UINT16 dat, msg, rc;
    long count;
  };
  // What one native transfer hands over; queued, one per transfer.
  struct NativeOrder {
    bool file = false;  // `bytes` instead of the page
    Bytes bytes;
    long size = -1;     // cut or zero-extended to this many bytes
    bool null = false;  // no handle at all
    bool bitmap = false;
  };

  TW_UINT16 Fail(TW_UINT16 cc) {
    cc_ = cc;
    return TWRC_FAILURE;
  }
  TW_UINT16 Dispatch(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
  // The answer that replaces a success of this triplet, if one is queued (it is used up).
  TW_UINT16 Answered(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc);
  TW_UINT16 Identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* id);
  // DAT_ENTRYPOINT / MSG_SET: a TWAIN 2 copy keeps the manager's entry points until MSG_CLOSEDS.
  TW_UINT16 EntryPoint(TW_UINT16 msg, TW_ENTRYPOINT* points);
  TW_UINT16 Caps(TW_UINT16 msg, TW_CAPABILITY* cap);
  TW_UINT16 UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui);
  TW_UINT16 ProcessEvent(TW_EVENT* ev);
  TW_UINT16 PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* p);
  // Back in state 5 after the last transfer: the scripted user may close the interface.
  void TransfersOver();
  TW_UINT16 SetupFileXfer(TW_UINT16 msg, TW_SETUPFILEXFER* s);
  TW_UINT16 ImageInfo(TW_IMAGEINFO* info);
  TW_UINT16 NativeXfer(TW_HANDLE* out);
  TW_UINT16 FileXfer();
  TW_UINT16 SetupMemXfer(TW_UINT16 msg, TW_SETUPMEMXFER* s);
  TW_UINT16 MemXfer(TW_IMAGEMEMXFER* x);
  int MemoryCommand(const std::vector<std::string>& w);
  // A cancel the test asked for: the transfer answers TWRC_CANCEL and stays in state 7.
  bool CancelTransfer();
  int NativeCommand(const std::vector<std::string>& w, const char* command);
  TW_HANDLE NativeImage();
  // Sends the pending notice through the DSM; false when the DSM would not take it.
  bool Deliver();
  void ResetSession();
  void ResetControls();
  TW_HANDLE MakeHandle(const Bytes& b);
  // The count DAT_PENDINGXFERS reports for `left` images: -1 while some are left when the
  // source does not know how many.
  TW_UINT16 Reported(int left) const;
  // Checks before a transfer hands a page over; a jam is its failure. TWRC_SUCCESS: go on.
  TW_UINT16 FeedPage();
  vscan::ScanSettings PageSettings() const;
  // The notice an enable sends by itself: a page, or the close request asked for instead.
  TW_UINT16 Page();

  // Document scanning (core/document.cpp).
  // The images of the batch a ready report announces, into plan_; false when there are none
  // (an empty feeder). Separator sheets excluded at the start of the batch are passed over.
  bool BuildPlan();
  // Whether the next batch comes from the feeder (else from the glass).
  bool UsesFeeder();
  // The paper of `feeder-loaded-after` arrives once its time has come.
  void CheckPaper();
  // Whether the feeder holds paper now (CAP_FEEDERLOADED).
  bool PaperInFeeder();
  void RefreshFeederLoaded();
  // The profile for the scanner the controls describe (documents, items, formats, memory).
  void RebuildProfile();
  TW_UINT16 ExtImageInfo(void* data);
  TW_UINT16 StopFeeder(TW_PENDINGXFERS* p);
  int DocumentCommand(const std::vector<std::string>& w, const char* command);
  // Sheets that leave the feeder when the pending images are dropped (MSG_RESET, a jam).
  int PlannedSheets() const;

  // Memory transfers (core/memory.cpp).
  struct BufferLimits {
    TW_UINT32 min, max, preferred;  // kDontCare32: no limit
  };
  // What DAT_SETUPMEMXFER answers for the page the next transfer delivers.
  BufferLimits Limits() const;
  // The settings that describe the page: the page in the scanner in states 6 and 7.
  vscan::ScanSettings CurrentPage() const;
  // Bytes of one row of an uncompressed strip (the padding of `memory-padding` included).
  TW_UINT32 RowBytes() const;
  // The compression a memory transfer of this page carries: JPEG only for grey and colour.
  TW_UINT16 PageCompression(const vscan::ScanSettings& s) const;
  // TWCC_SUCCESS when the buffer of a request is one the source takes.
  TW_UINT16 CheckBuffer(const TW_MEMORY& m, bool compressed);
  // Starts the page: its renderer, or its JPEG stream. A condition code.
  TW_UINT16 StartStrips();
  // Fills one strip into `to` (Length bytes); true when it was the page's last.
  bool FillStrip(TW_IMAGEMEMXFER* x, uint8_t* to);
  bool FillJpegStrip(TW_IMAGEMEMXFER* x, uint8_t* to);
  // The page in the scanner as a memory transfer streams it.
  struct Strips {
    enum class Phase { Idle, Streaming, Done, Cancelled };
    Phase phase = Phase::Idle;
    int calls = 0;   // DAT_IMAGEMEMXFER requests of this page that passed the checks
    int next = 0;    // the next row
    int height = 0;  // the rows the page really has
    TW_UINT16 compression = kCompressionNone;
    std::unique_ptr<vscan::PageRows> rows;
    Bytes jpeg;       // the whole stream of a JPEG page
    size_t sent = 0;  // its bytes handed over
  };
  void EndStrips() { strips_ = Strips(); }

  Platform* platform_ = nullptr;
  std::function<TW_UINT16(TW_UINT16)> notifyHook_;
  Model model_;
  bool entryPoints_ = false;  // a TWAIN 2 copy got them for the next (or the open) session
  Profile profile_;
  int state_ = 3;  // 3: closed; 4 to 7: the TWAIN states of an open source
  TW_UINT16 cc_ = TWCC_SUCCESS;
  TW_UINT16 scriptCc_ = TWCC_BUMMER;  // condition code of the next scripted MSG_GET failure
  TW_IDENTITY self_{}, app_{};
  bool showUI_ = false;
  void* parent_ = nullptr;
  TW_UINT16 notice_ = MSG_NULL;  // waiting to be sent
  TW_UINT16 unsent_ = MSG_NULL;  // the DSM refused it: handed out through TWMessage
  int remaining_ = 0;            // images still pending in states 6 and 7
  int tray_ = 0;                 // `pages`: sheets left in the feeder since MSG_ENABLEDS
  int fed_ = 0;                  // pages ended since MSG_ENABLEDS: the next page's mark
  bool jammed_ = false;          // the page in the scanner jammed: the batch ends with it
  char fileName_[256] = {};
  TW_INT16 vRefNum_ = 0;

  // Control interface
  User user_ = User::Scan;
  enum class Modal { Clear, Keep, Set };
  Modal modal_ = Modal::Clear;     // what MSG_ENABLEDS does to TW_USERINTERFACE.ModalUI
  bool cancelNext_ = false;        // the next image transfer is cancelled by the source
  bool noticesByMessage_ = false;  // notices handed out as TWMessage instead of through the DSM
  bool keepSettings_ = false;      // MSG_OPENDS keeps the capabilities of the last session
  bool currentOnly_ = false;       // MSG_GET answers the current value alone (`lists current`)
  bool reportDuringEnable_ = false;
  bool closeRequestInstead_ = false;  // the next enable without the interface asks to be closed
  long noticeDelayMs_ = 0;            // without the interface, the notice this long after the enable
  double noticeDue_ = 0;              // the platform's time from which the notice may go
  std::deque<Answer> answers_;
  int pending_ = 1;
  std::vector<TW_UINT16> fileFormats_ = kFileFormats;  // offered at every open (`file-formats`)
  bool feeder_ = false;        // `pages N`: a feeder of pending_ sheets loaded at each enable
  bool countUnknown_ = false;  // pending counts reported as -1 while images remain
  int jamAt_ = 0;              // the page (from the enable, 1 first) that jams; 0 none
  long calls_ = 0;
  std::deque<Fault> faults_;
  std::deque<Misdeed> misdeeds_;
  std::string journal_;  // the file every triplet received is appended to (`journal`); empty: none
  std::map<TW_UINT16, std::deque<ScriptedGet>> scriptGet_;
  std::map<TW_UINT16, std::deque<ScriptedSet>> scriptSet_;
  std::map<TW_UINT16, std::string> lastSet_;
  std::set<TW_UINT16> scriptedCaps_;  // answered from a script: MSG_SET taken as it comes
  std::deque<NativeOrder> nativeOrders_;
  bool nativeGuard_ = false;
  long guardDistance_ = -2;  // of the last native block: -2 none yet, -1 not guarded

  // Memory transfers: the page being streamed and what the `memory-*` commands set.
  Strips strips_;
  bool memoryOffered_ = true;  // `memory off` takes them away
  bool buffersSet_ = false;    // `memory-buffers`: DAT_SETUPMEMXFER answers these
  BufferLimits buffers_{0, 0, 0};
  TW_UINT32 rowPadding_ = 0;    // bytes every row carries beyond its pixels
  bool lengthUnknown_ = false;  // DAT_IMAGEINFO says ImageLength -1 until the page is done
  int rowsShort_ = 0;           // the page ends this many rows before its announced length
  int memFailAt_ = 0;           // the Kth request of every page answers memFailRc_ (0: none)
  TW_UINT16 memFailRc_ = 0, memFailCc_ = 0;
  static constexpr int kBlankSheet = 1, kNearlyBlankSheet = 2;  // vscan::ScanSettings::sheet
  std::map<int, int> pixelTypeAt_;  // page K of a batch -> the pixel type it comes in
  std::map<int, int> sheetAt_;      // page K of a batch -> kBlankSheet or kNearlyBlankSheet

  // Document scanning: what `documents`, `jobcontrol`, `extimageinfo`, `patch-at`,
  // `barcode-at` and `feeder-loaded-after` set, and the batch in the scanner.
  bool documents_ = false;
  bool jobControl_ = true;  // CAP_JOBCONTROL; without it patch code detection
  InfoItems infoItems_ = InfoItems::Inline;
  std::map<int, int> patchAt_;                          // sheet side -> TWEI_PATCHCODE value
  std::map<int, std::vector<std::string>> barcodesAt_;  // sheet side -> its barcodes' texts
  double loadAt_ = 0;           // the platform's time the feeder's paper arrives; 0 none
  bool awaitingPaper_ = false;  // a ready report found the feeder empty and paper is coming
  std::deque<Shot> plan_;       // the images still pending; the front is the one in the scanner
  bool fromFeeder_ = false;     // the batch comes from the feeder
  bool done_ = false;           // the page in state 7 was answered TWRC_XFERDONE
  int document_ = 1;            // the document (job) of the enable the next image belongs to
  int pageInDocument_ = 0;      // images of that document ended so far
};

}  // namespace vs
