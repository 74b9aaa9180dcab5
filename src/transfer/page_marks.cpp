#include "transfer/page_marks.h"

#include <cstddef>
#include <cstring>

#include "caps/conversions.h"
#include "caps/write_caps.h"
#include "host/host_kit.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

// The items a page is asked for, in the order of the request.
constexpr TW_UINT16 kAsked[] = {TWEI_PAGESIDE,          TWEI_PATCHCODE,   TWEI_BARCODECOUNT,
                                TWEI_BARCODETEXTLENGTH, TWEI_BARCODETEXT, TWEI_DOCUMENTNUMBER,
                                TWEI_PAGENUMBER};
constexpr TW_UINT32 kAskedCount = sizeof kAsked / sizeof kAsked[0];

// TW_EXTIMAGEINFO with room for the items asked: NumInfos, then the records.
struct InfoRequest {
  TW_UINT32 NumInfos;
  TW_INFO Info[kAskedCount];
};
static_assert(offsetof(InfoRequest, Info) == sizeof(TW_UINT32), "the records follow the count");

// The scan collecting marks, and where they go (one scan runs at a time).
const TwainGlobals* gCollecting = nullptr;
PageMarks* gMarks = nullptr;
bool gAskSource = false;  // whether the source is asked what it read (DAT_EXTIMAGEINFO)

// No block of memory has an address in the lowest 64 KiB of either platform's address space.
constexpr TW_UINTPTR kLowestAddress = 0x10000;

// The bytes of one number of the type (0: no number, as texts are).
size_t ItemBytes(TW_UINT16 type) { return IsStringType(type) ? 0 : GetItemSize(type); }

// Whether the record's Item is a handle of the source's. Texts, and values that do not fit in
// Item (several, or larger than it), always come in one. A single short value may come either
// way: TWAIN puts it in Item itself, some sources hand it over in a handle all the same. No
// block of memory lies in the lowest 64 KiB, and no item's value reaches there (a side, a patch
// code, a count, a number within a batch): below that it is the value, from there a handle.
bool InHandle(const TW_INFO& info) {
  if (info.ReturnCode != TWRC_SUCCESS || info.Item == 0) return false;
  if (info.ItemType == TWTY_HANDLE) return true;
  const size_t bytes = ItemBytes(info.ItemType);
  if (info.NumItems != 1 || bytes == 0 || bytes > sizeof(TW_UINTPTR)) return true;
  return info.Item >= kLowestAddress;
}

uint32_t ReadNumber(const uint8_t* at, size_t bytes) {
  if (bytes == 1) return at[0];
  if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// A locked handle of the source's: its bytes and its size, unlocked and freed when done.
class HeldHandle {
 public:
  explicit HeldHandle(TW_HANDLE handle) : handle_(handle) {
    size_ = GetXPHandleSize(handle_);
    bytes_ = static_cast<const uint8_t*>(LockXPHandle(handle_));
    if (!bytes_) size_ = 0;
  }
  ~HeldHandle() {
    if (bytes_) UnlockXPHandle(handle_);
    DisposeXPHandle(handle_);
  }
  HeldHandle(const HeldHandle&) = delete;
  HeldHandle& operator=(const HeldHandle&) = delete;
  const uint8_t* bytes() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  TW_HANDLE handle_;
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

// A record's numbers: inline, or as many as its handle holds (the handle is freed, whatever
// it holds).
std::vector<uint32_t> Numbers(const TW_INFO& info, bool inHandle) {
  std::vector<uint32_t> numbers;
  const size_t bytes = ItemBytes(info.ItemType);
  if (inHandle) {
    HeldHandle held(reinterpret_cast<TW_HANDLE>(info.Item));
    for (size_t i = 0; bytes > 0 && i < info.NumItems && (i + 1) * bytes <= held.size(); ++i)
      numbers.push_back(ReadNumber(held.bytes() + i * bytes, bytes));
    return numbers;
  }
  if (info.ReturnCode == TWRC_SUCCESS && bytes > 0 && info.NumItems == 1) {
    const uint64_t mask = bytes >= 4 ? 0xFFFFFFFFull : ((1ull << (8 * bytes)) - 1);
    numbers.push_back(static_cast<uint32_t>(static_cast<uint64_t>(info.Item) & mask));
  }
  return numbers;
}

// The texts of TWEI_BARCODETEXT: one after another, each ended by a NUL; `lengths` (of
// TWEI_BARCODETEXTLENGTH, one per text, when the source gave them) leave the NUL out. Nothing
// is read past the handle's end.
std::vector<std::string> Texts(const TW_INFO& info, const std::vector<uint32_t>& lengths) {
  std::vector<std::string> texts;
  HeldHandle held(reinterpret_cast<TW_HANDLE>(info.Item));
  const bool measured = lengths.size() == info.NumItems;
  size_t at = 0;
  for (size_t i = 0; i < info.NumItems && at < held.size(); ++i) {
    const char* start = reinterpret_cast<const char*>(held.bytes() + at);
    const size_t room = held.size() - at;
    const void* nul = std::memchr(start, 0, room);
    size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : room;
    if (measured && lengths[i] < length) length = lengths[i];
    texts.emplace_back(start, length);
    at += (nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) + 1 : room);
  }
  return texts;
}

}  // namespace

bool EnablePageMarks(TwainGlobals* g) {
  if (SetCapInt(g, ICAP_EXTIMAGEINFO, 1) != 0) return false;
  // A source that finds patch sheets only when asked to is asked (one without the capability
  // reports them or not, as it does).
  SetCapInt(g, ICAP_PATCHCODEDETECTIONENABLED, 1);
  return true;
}

void CollectPageMarks(const TwainGlobals* g, PageMarks* marks, bool askSource) {
  gCollecting = marks ? g : nullptr;
  gMarks = marks;
  gAskSource = marks && askSource;
}

void NotePageJobEnd(const TwainGlobals* g, TW_UINT32 jobEnd) {
  if (gMarks && gCollecting == g) gMarks->jobEnd = jobEnd;
}

void TakeInfoItems(TW_INFO* infos, TW_UINT32 count, PageMarks* marks) {
  *marks = PageMarks{};
  // The lengths first: the texts are read by them. Every handle is freed as it is read.
  std::vector<uint32_t> lengths;
  TW_INFO* texts = nullptr;
  for (TW_UINT32 i = 0; i < count; ++i) {
    TW_INFO& info = infos[i];
    const bool inHandle = InHandle(info);
    if (info.InfoID == TWEI_BARCODETEXT && inHandle) {
      texts = &info;
      continue;
    }
    const std::vector<uint32_t> numbers = Numbers(info, inHandle);
    if (inHandle) info.Item = 0;
    if (numbers.empty()) continue;
    switch (info.InfoID) {
      case TWEI_PAGESIDE:
        if (numbers[0] == TWCS_TOP || numbers[0] == TWCS_BOTTOM)
          marks->side = static_cast<TW_UINT16>(numbers[0]);
        break;
      case TWEI_PATCHCODE:
        if (numbers[0] <= TWPCH_PATCHT) marks->patch = static_cast<int32_t>(numbers[0]);
        break;
      case TWEI_BARCODETEXTLENGTH:
        lengths = numbers;
        break;
      case TWEI_DOCUMENTNUMBER:
        marks->document = numbers[0];
        break;
      case TWEI_PAGENUMBER:
        marks->page = numbers[0];
        break;
      default:
        break;
    }
  }
  if (texts) {
    marks->barcodes = Texts(*texts, lengths);
    texts->Item = 0;
  }
}

void ReadPageMarks(TwainGlobals* g) {
  if (!gMarks || gCollecting != g || !gAskSource) return;
  InfoRequest request;
  std::memset(&request, 0, sizeof request);
  request.NumInfos = kAskedCount;
  for (TW_UINT32 i = 0; i < kAskedCount; ++i) request.Info[i].InfoID = kAsked[i];
  TW_IDENTITY* ds = &g->sourceIdentity;
  const TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, &request);
  if (rc != TWRC_SUCCESS) {
    // Not this page's failure: the source's condition is read (and so cleared) and the page
    // goes on without marks.
    xlateErr(g, ds, rc);
    *gMarks = PageMarks{};
    return;
  }
  TakeInfoItems(request.Info, kAskedCount, gMarks);
}
