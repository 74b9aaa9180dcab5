// The Mac source: DS_Entry for the TWAIN framework, Memory Manager handles, notifications
// through DSM_Entry, files through the File Manager, and an interface whose scripted user
// acts through Carbon events of the scanner's own class.
#include <Carbon/Carbon.h>
#include <CarbonStandin.h>
#include <TWAIN/TWAINFramework.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include "standins/virtual-scanner/core/scanner.h"
#include "standins/virtual-scanner/vscanner.h"

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// The scanner's own event class and kinds.
constexpr UInt32 kScannerEventClass = 0x7653636E;  // 'vScn'
enum : UInt32 { kWakeKind = 1, kScanPressedKind = 2, kCancelPressedKind = 3 };

OSType FileType(TW_UINT16 format) {
  switch (format) {
    case TWFF_TIFF:
      return 0x54494646;  // 'TIFF'
    case TWFF_PNG:
      return 0x504E4766;  // 'PNGf'
    default:
      return 0x424D5066;  // 'BMPf'
  }
}

// A button press names the showing of the interface it was made on.
constexpr EventParamName kShowingParam = 0x76536877;  // 'vShw'

void Post(UInt32 kind, UInt32 showing = 0) {
  EventRef ev = nullptr;
  if (CreateEvent(kCFAllocatorDefault, kScannerEventClass, kind, GetCurrentEventTime(), kEventAttributeNone,
                  &ev) != noErr)
    return;
  if (kind != kWakeKind) SetEventParameter(ev, kShowingParam, typeUInt32, sizeof showing, &showing);
  PostEventToQueue(GetMainEventQueue(), ev, kEventPriorityStandard);
  ReleaseEvent(ev);
}

UInt32 ShowingOf(EventRef ev) {
  UInt32 showing = 0;
  GetEventParameter(ev, kShowingParam, typeUInt32, nullptr, sizeof showing, nullptr, &showing);
  return showing;
}

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void JpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

// libjpeg-turbo, as ImageIO would encode: JFIF with the resolution in dots per inch, quality 85.
// No object with a destructor lives between setjmp and the calls that may jump.
bool CompressJpeg(const vs::Platform::JpegSource& src, const char* comment, unsigned char** out,
                  unsigned long* size) {
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, size);
  cinfo.image_width = JDIMENSION(src.width);
  cinfo.image_height = JDIMENSION(src.height);
  cinfo.input_components = src.components;
  cinfo.in_color_space = src.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  cinfo.write_JFIF_header = TRUE;
  cinfo.density_unit = 1;
  cinfo.X_density = UINT16(src.xres + 0.5);
  cinfo.Y_density = UINT16(src.yres + 0.5);
  jpeg_start_compress(&cinfo, TRUE);
  jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment), unsigned(std::strlen(comment)));
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row[1] = {const_cast<JSAMPROW>(src.row(int(cinfo.next_scanline)))};
    jpeg_write_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

class MacPlatform : public vs::Platform {
 public:
  TW_HANDLE Alloc(size_t size) override { return NewHandleClear(::Size(size)); }
  uint8_t* Lock(TW_HANDLE h) override {
    HLock(static_cast<Handle>(h));
    return reinterpret_cast<uint8_t*>(*static_cast<Handle>(h));
  }
  void Unlock(TW_HANDLE h) override { HUnlock(static_cast<Handle>(h)); }
  size_t Size(TW_HANDLE h) override {
    ::Size n = GetHandleSize(static_cast<Handle>(h));
    return n > 0 ? size_t(n) : 0;
  }
  void Free(TW_HANDLE h) override { DisposeHandle(static_cast<Handle>(h)); }
  TW_HANDLE ImageBlock(const vs::Bytes& image, bool, long* distance) override {
    Handle h = NewHandle(::Size(image.size()));
    if (h && !image.empty()) std::memcpy(*h, image.data(), image.size());
    *distance = -1;
    return h;
  }

  TW_UINT16 Notify(TW_IDENTITY* source, TW_IDENTITY* app, TW_UINT16 msg) override {
    return DSM_Entry(source, app, DG_CONTROL, DAT_NULL, msg, nullptr);
  }
  void Wake(void*) override { Post(kWakeKind); }
  void WakeAfter(void*, long ms) override {
    CarbonStandin_ScheduleEvent(GetCurrentEventTime() + double(ms) / 1000, kScannerEventClass, kWakeKind);
  }
  double Now() override { return GetCurrentEventTime(); }
  void Pause(long ms) override {
    timespec wait{ms / 1000, (ms % 1000) * 1000000L}, left{};
    while (nanosleep(&wait, &left) != 0) wait = left;
  }
  // The interface is the scripted user's: it presses its button through an event. A press
  // still queued when its interface is taken down went to a window that is gone: it is no
  // event of the source's, and no later showing of the interface takes it.
  void ShowUI(void*, vs::User user) override {
    ++showing_;
    shown_ = true;
    if (user == vs::User::ScanThenClose) user = vs::User::Scan;
    if (user == vs::User::Scan || user == vs::User::Cancel) Press(user);
  }
  void Press(vs::User button) override {
    Post(button == vs::User::Scan ? kScanPressedKind : kCancelPressedKind, shown_ ? showing_ : 0);
  }
  void HideUI() override { shown_ = false; }

  Event Classify(void* event) override {
    EventRef ev = static_cast<EventRef>(event);
    if (GetEventClass(ev) != kScannerEventClass) return Event::Foreign;
    UInt32 kind = GetEventKind(ev);
    bool pressed = kind == kScanPressedKind || kind == kCancelPressedKind;
    if (pressed && (!shown_ || ShowingOf(ev) != showing_)) return Event::Foreign;
    switch (kind) {
      case kWakeKind:
        return Event::Wake;
      case kScanPressedKind:
        return Event::ScanPressed;
      case kCancelPressedKind:
        return Event::CancelPressed;
      default:
        return Event::Interface;
    }
  }

  vs::Bytes EncodeJpeg(const JpegSource& source, const char* comment) override {
    unsigned char* data = nullptr;
    unsigned long size = 0;
    vs::Bytes stream;
    if (CompressJpeg(source, comment, &data, &size)) stream.assign(data, data + size);
    std::free(data);
    return stream;
  }

  // The name is the Pascal string of DAT_SETUPFILEXFER, in the default directory. An existing
  // file is replaced, as a file transfer does.
  TW_UINT16 WriteFile(const char* nameField, const vs::Bytes& data, TW_UINT16 format) override {
    const unsigned char* name = reinterpret_cast<const unsigned char*>(nameField);
    if (name[0] == 0) return TWCC_BADVALUE;
    OSErr err = HCreate(0, 0, name, 0x6F676C65 /* 'ogle' */, FileType(format));
    if (err != noErr && err != dupFNErr) return TWCC_OPERATIONERROR;
    SInt16 ref = 0;
    if (HOpen(0, 0, name, fsWrPerm, &ref) != noErr) return TWCC_OPERATIONERROR;
    SInt32 count = SInt32(data.size());
    err = SetEOF(ref, 0);
    if (err == noErr) err = SetFPos(ref, fsFromStart, 0);
    if (err == noErr) err = FSWrite(ref, &count, data.data());
    OSErr closed = FSClose(ref);
    return err == noErr && closed == noErr && size_t(count) == data.size() ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
  }

 private:
  UInt32 showing_ = 0;  // counts the showings of the interface
  bool shown_ = false;  // the interface is up
};

vs::Scanner& Source() {
  static MacPlatform platform;
  vs::Scanner& s = vs::Scanner::Instance();
  s.SetPlatform(&platform);
  return s;
}

}  // namespace

KV_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  return Source().Entry(origin, dg, dat, msg, data);
}

KV_EXPORT int VirtualScannerControl(const char* command) { return Source().Control(command); }
KV_EXPORT int VirtualScannerQuery(const char* what, char* out, int size) {
  return Source().Query(what, out, size);
}
