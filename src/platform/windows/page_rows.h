// A page the source handed over, as rows of one of the three pixel formats the encoders are
// given: black and white (1 bit, 0 black), 8-bit grey, or 24-bit colour (blue, green, red).
//
// A packed DIB is read after its check (dib_check.h), over its own rows where they already
// are one of the three: a 1-bit page whose colours are black and white, a 24-bit page. The
// other palette pages go through their colour table, row by row: grey where every entry is
// grey (a black-and-white page too where 1 bit is not wanted), colour otherwise. Compressed
// and 16- or 32-bit DIBs, and a device bitmap a source hands over instead, become a 24-bit
// copy through GDI.
//
// The resolution is the DIB's, or the source's facts where the DIB has none (and for a
// device bitmap).
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "image/image_platform.h"
#include "platform/windows/dib_check.h"

enum class RowFormat { kBlackWhite, kGrey, kColour };

// A page as the WIC writers take it (wic_frame.h): its shape and resolution, and its rows
// top first, each RowBytes() bytes without padding, asked for in order.
class FrameRows {
 public:
  virtual ~FrameRows() = default;
  RowFormat Format() const { return format_; }
  UINT Width() const { return width_; }
  UINT Height() const { return height_; }
  double XDpi() const { return xDpi_; }
  double YDpi() const { return yDpi_; }
  UINT RowBytes() const;
  // Row y; valid until the next call. Null when it cannot be read.
  virtual const BYTE* Row(UINT y) = 0;

 protected:
  RowFormat format_ = RowFormat::kColour;
  UINT width_ = 0, height_ = 0;
  double xDpi_ = 0, yDpi_ = 0;
};

// The WIC writers on rows: one PNG, TIFF or JPEG file (page_file.cpp; answers as
// WritePageFile), or the book's next page (page_book.cpp; as AddBookPage).
int16_t WriteFrameFile(FrameRows* rows, TW_UINT16 format, const char* name,
                       int jpegQuality = kDefaultJpegQuality);
int16_t AddBookFrame(PageBook* book, FrameRows* rows);
// A BMP file (page_file.cpp) of `header` (a DIB's header and colour table; a resolution of 0 is filled in
// from the facts) and `rowsSize` bytes of rows that `rows(at, &piece)` hands over from byte
// `at` on, `piece` bytes at a time (null: they cannot be read). 0, 2 or 8; nothing left
// behind on failure.
int16_t WriteBmpParts(const char* name, std::vector<uint8_t> header, const PageFacts& facts, DWORD rowsSize,
                      const std::function<const uint8_t*(DWORD at, DWORD* piece)>& rows);

class PageRows : public FrameRows {
 public:
  // oneBit: whether a black-and-white page stays 1 bit (else it becomes grey). The image
  // stays the caller's and must outlive this. May throw std::bad_alloc.
  PageRows(void* image, const PageFacts& facts, bool oneBit);
  ~PageRows();
  PageRows(const PageRows&) = delete;
  PageRows& operator=(const PageRows&) = delete;

  // False when the image fails its check or cannot be converted.
  bool Ok() const { return ok_; }
  const BYTE* Row(UINT y) override;

 private:
  enum class Source { kOwnRows, kInvertedRows, kTable, kCopy };
  void FromDib(void* dib);
  bool FromDeviceBitmap(HBITMAP bitmap);
  void ReadTable(const uint8_t* dib, const dib::Layout& l, bool oneBit);
  const BYTE* DibRow(UINT y) const;

  void* locked_ = nullptr;
  bool ok_ = false;
  bool oneBit_;
  Source source_ = Source::kOwnRows;
  const BYTE* rows_ = nullptr;  // the first row in memory
  UINT stride_ = 0;             // bytes from one row in memory to the next
  bool topDown_ = true;
  UINT bitCount_ = 24;
  BYTE table_[256][3] = {};  // blue, green, red of each index
  std::vector<BYTE> copy_;   // a 24-bit copy, top-down
  std::vector<BYTE> row_;    // the row handed out
};
