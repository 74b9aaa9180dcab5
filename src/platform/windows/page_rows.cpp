#include "platform/windows/page_rows.h"
#include "host/host_kit.h"

#include <cmath>
#include <cstring>

#include "image/image_platform.h"

namespace {

constexpr double kInchesPerMeter = 0.0254;

// A DIB's resolution in whole pixels a metre holds dots per inch to within 0.013: rounded to
// hundredths, 3937 is 100 dpi again.
double DotsPerInch(LONG pelsPerMeter) {
  return pelsPerMeter > 0 ? std::round(pelsPerMeter * kInchesPerMeter * 100) / 100 : 0;
}

// The image's own resolution; the facts' where it has none, or where they are the same
// resolution stated more exactly (a DIB's whole pixels a metre hold 150 dpi as 150.0124).
double Resolution(double own, double facts) {
  if (!(own > 0) || (facts > 0 && std::fabs(own - facts) <= kInchesPerMeter / 2)) return facts;
  return own;
}

bool IsGrey(const BYTE* bgr) { return bgr[0] == bgr[1] && bgr[1] == bgr[2]; }
bool IsBlack(const BYTE* bgr) { return IsGrey(bgr) && bgr[0] == 0; }
bool IsWhite(const BYTE* bgr) { return IsGrey(bgr) && bgr[0] == 255; }

UINT IndexAt(const BYTE* row, UINT x, UINT bits) {
  switch (bits) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xFu;
    default:
      return row[x];
  }
}

}  // namespace

PageRows::PageRows(void* image, const PageFacts& facts, bool oneBit) : oneBit_(oneBit) {
  if (!image) return;
  if (GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP) {
    ok_ = FromDeviceBitmap(static_cast<HBITMAP>(image));
  } else {
    FromDib(image);
  }
  xDpi_ = Resolution(xDpi_, facts.xResolution);
  yDpi_ = Resolution(yDpi_, facts.yResolution);
  if (ok_) row_.resize(RowBytes());
}

PageRows::~PageRows() {
  if (locked_) UnlockXPHandle(locked_);
}

UINT FrameRows::RowBytes() const {
  switch (format_) {
    case RowFormat::kBlackWhite:
      return (width_ + 7) / 8;
    case RowFormat::kGrey:
      return width_;
    default:
      return width_ * 3;
  }
}

void PageRows::FromDib(void* dib) {
  const uint8_t* bytes = static_cast<const uint8_t*>(LockXPHandle(dib));
  if (!bytes) return;
  locked_ = dib;
  dib::Layout l;
  if (dib::Check(bytes, GlobalSize(dib), &l) != dib::Fault::kNone) return;
  if (l.headerSize >= dib::kInfoHeader) {
    const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
    xDpi_ = DotsPerInch(h->biXPelsPerMeter);
    yDpi_ = DotsPerInch(h->biYPelsPerMeter);
  }
  const bool plain = l.compression == dib::kRgb;
  if (!plain || l.bitCount == 16 || l.bitCount == 32) {
    // What is not rows of indices or of blue, green and red goes through GDI's conversion.
    HBITMAP converted = static_cast<HBITMAP>(DIBToDeviceBitmap(dib));
    ok_ = converted && FromDeviceBitmap(converted);
    DeleteDeviceBitmap(converted);
    return;
  }
  width_ = l.width;
  height_ = l.height;
  rows_ = bytes + l.rowsOffset;
  stride_ = l.stride;
  topDown_ = l.topDown;
  bitCount_ = l.bitCount;
  if (l.bitCount <= 8) ReadTable(bytes, l, oneBit_);
  ok_ = true;
}

// The colour table as 2 to the bit count entries (those the table does not have are black),
// and what the rows become through it.
void PageRows::ReadTable(const uint8_t* dib, const dib::Layout& l, bool oneBit) {
  const uint8_t* entry = dib + l.tableOffset;
  bool grey = true;
  for (UINT i = 0; i < (1u << l.bitCount); ++i) {
    if (i < l.colorCount) {
      std::memcpy(table_[i], entry, 3);
      entry += l.tableEntrySize;
    }
    grey = grey && IsGrey(table_[i]);
  }
  source_ = Source::kTable;
  format_ = grey ? RowFormat::kGrey : RowFormat::kColour;
  if (l.bitCount == 1 && oneBit) {
    if (IsBlack(table_[0]) && IsWhite(table_[1])) {
      format_ = RowFormat::kBlackWhite;
      source_ = Source::kOwnRows;
    } else if (IsWhite(table_[0]) && IsBlack(table_[1])) {
      format_ = RowFormat::kBlackWhite;
      source_ = Source::kInvertedRows;
    }
  }
}

bool PageRows::FromDeviceBitmap(HBITMAP bitmap) {
  BITMAP bm;
  if (GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm || bm.bmWidth <= 0 || bm.bmHeight == 0) return false;
  width_ = static_cast<UINT>(bm.bmWidth);
  height_ = static_cast<UINT>(bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight);
  stride_ = (width_ * 3 + 3) & ~3u;
  copy_.resize(static_cast<size_t>(stride_) * height_);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width_);
  info.bmiHeader.biHeight = -static_cast<LONG>(height_);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC dc = GetDC(nullptr);
  if (!dc) return false;
  const int got = GetDIBits(dc, bitmap, 0, height_, copy_.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (got != static_cast<int>(height_)) return false;
  rows_ = copy_.data();
  topDown_ = true;
  bitCount_ = 24;
  format_ = RowFormat::kColour;
  source_ = Source::kCopy;
  return true;
}

const BYTE* PageRows::DibRow(UINT y) const {
  return rows_ + static_cast<size_t>(stride_) * (topDown_ ? y : height_ - 1 - y);
}

const BYTE* PageRows::Row(UINT y) {
  const BYTE* from = DibRow(y);
  switch (source_) {
    case Source::kOwnRows:
    case Source::kCopy:
      return from;
    case Source::kInvertedRows:
      for (UINT i = 0; i < row_.size(); ++i) row_[i] = static_cast<BYTE>(~from[i]);
      return row_.data();
    case Source::kTable:
      break;
  }
  BYTE* to = row_.data();
  if (format_ == RowFormat::kGrey) {
    for (UINT x = 0; x < width_; ++x) to[x] = table_[IndexAt(from, x, bitCount_)][0];
  } else {
    for (UINT x = 0; x < width_; ++x, to += 3) std::memcpy(to, table_[IndexAt(from, x, bitCount_)], 3);
  }
  return row_.data();
}
