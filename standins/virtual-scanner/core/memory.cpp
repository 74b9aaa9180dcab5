// Buffered memory transfers: DAT_SETUPMEMXFER and DAT_IMAGEMEMXFER. The page is streamed as a
// device streams it: each strip's rows are rendered when the strip is asked for, so the page
// is never whole in the scanner's memory (a JPEG page is held as its encoded stream).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {
namespace {

constexpr TW_UINT32 kDefaultMax = 1024 * 1024;
constexpr TW_UINT32 kDefaultPreferred = 64 * 1024;
// The bytes of `memory-padding` after a row's pixels: not zero, so that an application that
// takes them for pixels shows it.
constexpr uint8_t kPaddingByte = 0xA5;

}  // namespace

vscan::ScanSettings Scanner::CurrentPage() const { return state_ >= 6 ? PageSettings() : profile_.Settings(); }

TW_UINT32 Scanner::RowBytes() const {
  // The page that streams knows its rows: its renderer is set up once, not for every strip.
  const bool streaming = strips_.phase == Strips::Phase::Streaming && strips_.rows;
  const size_t packed = streaming ? strips_.rows->packedBytes() : vscan::PageRows(CurrentPage()).packedBytes();
  return TW_UINT32(packed) + rowPadding_;
}

TW_UINT16 Scanner::PageCompression(const vscan::ScanSettings& s) const {
  bool jpeg = profile_.Number(ICAP_COMPRESSION) == kCompressionJpeg && s.pixelType != TWPT_BW;
  return jpeg ? kCompressionJpeg : kCompressionNone;
}

Scanner::BufferLimits Scanner::Limits() const {
  if (buffersSet_) return buffers_;
  // At least one row; at most 1 MiB unless a row is longer; 64 KiB preferred within them.
  const TW_UINT32 row = RowBytes();
  const TW_UINT32 max = std::max(kDefaultMax, row);
  return BufferLimits{row, max, std::min(max, std::max(kDefaultPreferred, row))};
}

TW_UINT16 Scanner::SetupMemXfer(TW_UINT16 msg, TW_SETUPMEMXFER* s) {
  if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
  if (!profile_.MemoryTransfers()) return Fail(TWCC_BADPROTOCOL);  // a scanner without them
  if (state_ < 4 || state_ > 6) return Fail(TWCC_SEQERROR);
  if (!s) return Fail(TWCC_BADVALUE);
  const BufferLimits l = Limits();
  s->MinBufSize = l.min;
  s->MaxBufSize = l.max;
  s->Preferred = l.preferred;
  return TWRC_SUCCESS;
}

TW_UINT16 Scanner::CheckBuffer(const TW_MEMORY& m, bool compressed) {
  // The application owns the buffer and says whether TheMem is a pointer or a handle.
  const bool pointer = (m.Flags & kMemPointer) != 0, handle = (m.Flags & kMemHandle) != 0;
  if (!(m.Flags & kMemAppOwns) || (m.Flags & (kMemDsOwns | kMemDsmOwns)) || pointer == handle || !m.TheMem)
    return TWCC_BADVALUE;
  const BufferLimits l = Limits();
  if (m.Length == 0 || (l.min != kDontCare32 && m.Length < l.min) || (l.max != kDontCare32 && m.Length > l.max))
    return TWCC_BADVALUE;
  // Uncompressed strips are whole rows: a buffer must hold one.
  if (!compressed && m.Length < RowBytes()) return TWCC_BADVALUE;
  if (handle && platform_->Size(m.TheMem) < m.Length) return TWCC_BADVALUE;
  return TWCC_SUCCESS;
}

TW_UINT16 Scanner::StartStrips() {
  vscan::ScanSettings s = PageSettings();
  strips_ = Strips();
  strips_.compression = PageCompression(s);
  if (strips_.compression == kCompressionJpeg) s.pixelFlavor = TWPF_CHOCOLATE;  // JFIF: 0 is black
  try {
    strips_.rows.reset(new vscan::PageRows(s));
  } catch (const std::bad_alloc&) {
    return TWCC_LOWMEMORY;
  }
  const int announced = strips_.rows->height();
  if (announced == 0) return TWCC_BUMMER;
  strips_.height = std::max(1, announced - rowsShort_);
  strips_.phase = Strips::Phase::Streaming;
  if (strips_.compression != kCompressionJpeg) return TWCC_SUCCESS;
  // A JPEG page: the codec takes the rows as they are rendered; the stream is what is held.
  const vscan::PageRows& rows = *strips_.rows;
  Platform::JpegSource source;
  source.width = rows.width();
  source.height = strips_.height;
  source.components = rows.bitsPerPixel() / 8;
  source.xres = s.xres;
  source.yres = s.yres;
  source.row = [&rows](int j) { return rows.Row(j); };
  strips_.jpeg = platform_->EncodeJpeg(source, kJpegComment);
  return strips_.jpeg.empty() ? TWCC_BUMMER : TWCC_SUCCESS;
}

bool Scanner::FillStrip(TW_IMAGEMEMXFER* x, uint8_t* to) {
  const vscan::PageRows& rows = *strips_.rows;
  const TW_UINT32 rowBytes = RowBytes();
  const size_t packed = rows.packedBytes();
  const int count =
      int(std::min<TW_UINT32>(x->Memory.Length / rowBytes, TW_UINT32(strips_.height - strips_.next)));
  for (int i = 0; i < count; ++i, to += rowBytes) {
    std::memcpy(to, rows.Row(strips_.next + i), packed);
    std::memset(to + packed, kPaddingByte, rowBytes - packed);
  }
  x->Compression = kCompressionNone;
  x->BytesPerRow = rowBytes;
  x->Columns = TW_UINT32(rows.width());
  x->Rows = TW_UINT32(count);
  x->XOffset = 0;
  x->YOffset = TW_UINT32(strips_.next);
  x->BytesWritten = TW_UINT32(count) * rowBytes;
  strips_.next += count;
  return strips_.next >= strips_.height;
}

bool Scanner::FillJpegStrip(TW_IMAGEMEMXFER* x, uint8_t* to) {
  const size_t n = std::min<size_t>(x->Memory.Length, strips_.jpeg.size() - strips_.sent);
  std::memcpy(to, strips_.jpeg.data() + strips_.sent, n);
  strips_.sent += n;
  // Every strip belongs to the one stream of the whole image.
  x->Compression = kCompressionJpeg;
  x->BytesPerRow = 0;
  x->Columns = TW_UINT32(strips_.rows->width());
  x->Rows = TW_UINT32(strips_.height);
  x->XOffset = 0;
  x->YOffset = 0;
  x->BytesWritten = TW_UINT32(n);
  return strips_.sent >= strips_.jpeg.size();
}

TW_UINT16 Scanner::MemXfer(TW_IMAGEMEMXFER* x) {
  if (!x) return Fail(TWCC_BADVALUE);
  if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
  if (profile_.Number(ICAP_XFERMECH) != TWSX_MEMORY) return Fail(TWCC_SEQERROR);
  // In state 7 only while the page is streaming: after its end only MSG_ENDXFER.
  if (state_ == 7 && strips_.phase != Strips::Phase::Streaming) return Fail(TWCC_SEQERROR);
  const bool started = strips_.phase == Strips::Phase::Streaming;
  const bool compressed =
      started ? strips_.compression != kCompressionNone : PageCompression(PageSettings()) != kCompressionNone;
  if (TW_UINT16 cc = CheckBuffer(x->Memory, compressed)) return Fail(cc);
  if (!started) {
    if (CancelTransfer()) {
      strips_.phase = Strips::Phase::Cancelled;
      return TWRC_CANCEL;
    }
    if (TW_UINT16 rc = FeedPage()) return rc;
    if (TW_UINT16 cc = StartStrips()) {
      EndStrips();
      return Fail(cc);
    }
  }
  if (++strips_.calls == memFailAt_) {
    if (memFailRc_ == TWRC_CANCEL) {
      strips_.phase = Strips::Phase::Cancelled;
      state_ = 7;
    }
    cc_ = memFailCc_;
    return memFailRc_;  // a failure leaves the state as it was
  }
  const bool handle = (x->Memory.Flags & kMemHandle) != 0;
  uint8_t* to = handle ? platform_->Lock(x->Memory.TheMem) : static_cast<uint8_t*>(x->Memory.TheMem);
  if (!to) return Fail(TWCC_BADVALUE);
  const bool last = strips_.compression == kCompressionJpeg ? FillJpegStrip(x, to) : FillStrip(x, to);
  if (handle) platform_->Unlock(x->Memory.TheMem);
  state_ = 7;
  if (!last) return TWRC_SUCCESS;
  strips_.phase = Strips::Phase::Done;
  strips_.rows.reset();  // the image is out; its size stays for DAT_IMAGEINFO
  strips_.jpeg = Bytes();
  return TWRC_XFERDONE;
}

}  // namespace vs
