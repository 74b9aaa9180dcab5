// The files the extension writes itself from a natively transferred page, with each build's
// own image codecs (Windows: WIC; Mac: ImageIO, the picture drawn into a CoreGraphics
// bitmap context). Shared code reaches them only through this port; each
// build implements it once, in platform/<os>/image_files.cpp.
//
// The native image is what the source handed over: a Mac picture Handle, a Windows packed DIB
// (HGLOBAL) or device bitmap (HBITMAP). The writers only read it; it stays the caller's.
//
// Answers: 0; 2 when the page cannot be encoded (an image that fails its check, no memory for
// the pixels, a depth the codec refuses); 7 on the Mac when a file of that name exists (an
// existing file is never replaced there; on Windows it is); 8 when the file cannot be created
// or written. A writer that fails after creating its file removes it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "twain/twain.h"

// What the source said of the page before its transfer (DAT_IMAGEINFO).
// Windows: the DIB says its own depth and resolution; the facts give the resolution only
// where the DIB has none (0) and for a device bitmap. Mac: a picture's pixels are 32-bit
// whatever the page was, and its frame need not count pixels: the facts give the depth
// (black and white 1 bit, grey 8, colour 24), the size in pixels and the resolution; the
// picture's frame and header resolution count only where the facts have none.
struct PageFacts {
  int16_t pixelType = TWPT_RGB;  // TWPT_BW, TWPT_GRAY, TWPT_RGB (anything else: colour)
  int32_t width = 0;             // pixels; 0 when unknown
  int32_t height = 0;
  double xResolution = 0;  // dots per inch; 0 when unknown
  double yResolution = 0;
};
PageFacts PageFactsOf(const TW_IMAGEINFO& info);

// Whether the extension writes `format` itself from a native transfer in a batch: PNG, TIFF,
// multi-page TIFF, JPEG, PDF, and the build's own format (BMP on Windows, PICT on the Mac).
bool WritesFormatItself(TW_UINT16 format);

// `path` as the host gave it: Mac, a length-prefixed Mac file name; Windows, NUL-terminated.

// The JPEG files and pages the extension writes are at this quality (1 to 100) unless the
// option JPEGQUALITY says otherwise.
constexpr int kDefaultJpegQuality = 85;

// One page as TWFF_PNG, TWFF_TIFF, TWFF_JFIF (at jpegQuality; a black-and-white page becomes
// grey), TWFF_BMP (Windows) or TWFF_PICT (Mac). Any other format answers 2.
int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                      int jpegQuality = kDefaultJpegQuality);

// A multi-page TIFF that grows page by page, each page added as it arrives. A failure keeps
// the pages added before it.
struct PageBook;
// Creates the file (empty until the first page). Null with *result set (7 or 8) on failure.
PageBook* OpenPageBook(const uint8_t* path, int16_t* result);
// Adds one page: 0, or 2 (the page is not added; the book stays usable), or 8 (the write
// failed: the file keeps the pages before, or is removed when there were none, and the book
// takes no more pages).
int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts);
// Ends the book and frees it: 0, or 8 when finishing the file failed. A book without a single
// page leaves no file. `pages` (unless null) receives the pages the file holds: after a
// failure, a book may hold fewer than it took (a page whose end could not be written).
int16_t ClosePageBook(PageBook* book, int* pages = nullptr);
// Pages the book holds so far (on the Mac in files of their own until it closes).
int PageBookCount(const PageBook* book);

// ---- pages that arrive in rows (memory transfers)
//
// A RowPage holds a page that a source sends in strips, as rows the platform's writers take:
// Windows, the rows of a top-down DIB (1-bit black and white, 8-bit grey, 24-bit
// blue-green-red), of which only a window is in memory, the rest in a spool file, read back by
// the writers a window at a time; Mac, rows of 1-bit grey, 8-bit grey or 24-bit RGB that a
// CGImage reads. 1-bit rows hold 1 for white. The page grows to the rows that come, whatever
// length was announced.
struct RowPage;
// Colour rows keep blue first where the platform's writers take them so.
constexpr bool kRowPageBlueFirst = kWindowsBuild;
// The shapes a RowPage takes: 1, 8 or 24 bits a pixel, 1 to 2^20 pixels wide.
constexpr bool IsRowPageShape(uint32_t width, uint16_t bitsPerPixel) {
  return width > 0 && width <= 0x100000 && (bitsPerPixel == 1 || bitsPerPixel == 8 || bitsPerPixel == 24);
}
// The rows a RowPage of `capacity` rows grows to so that it holds row y: doubled until it does.
constexpr uint32_t RowPageGrowth(uint32_t capacity, uint32_t y) {
  uint32_t rows = capacity > 0 ? capacity : 1;
  while (rows <= y) rows = rows < 0x40000000 ? rows * 2 : y + 1;
  return rows;
}
// The row buffer *buffer, of *capacity rows of `rowBytes`, reallocated to hold `rows` rows;
// false (the buffer as it was) when there is no memory or it would pass 2 GB.
bool GrowRowBuffer(uint8_t** buffer, uint32_t* capacity, size_t rowBytes, uint32_t rows);
// A page `width` pixels wide of 1, 8 or 24 bits a pixel; `expectedRows` (0: not known) is room
// made at once. Null when there is no memory, or for another depth.
RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows);
void FreeRowPage(RowPage* page);
// Row y, at most one past the rows made so far (the page grows to hold it, new rows white);
// valid until the next call. Null when there is no memory or the spool cannot be written.
uint8_t* RowPageRow(RowPage* page, uint32_t y);
// What a page holds: its width, its bits a pixel, and the rows made so far.
struct RowPageSize {
  uint32_t width = 0;
  uint16_t bitsPerPixel = 0;
  uint32_t rows = 0;
};
RowPageSize RowPageSizeOf(const RowPage* page);
// The first `rows` rows of the page as one page file, or as the book's next page; the facts'
// size is not used (the page's own counts). Answers as WritePageFile and AddBookPage.
int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality = kDefaultJpegQuality);
int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts);
// Whether pages in `format` can be written from rows (PICT is written from pictures only).
constexpr bool WritesFormatFromRows(TW_UINT16 format) {
  return format == TWFF_PNG || format == TWFF_TIFF || format == TWFF_TIFFMULTI || format == TWFF_JFIF ||
         format == TWFF_PDF || (kWindowsBuild && format == TWFF_BMP);
}

// ---- files written as their bytes come (a page the source compressed itself)
struct ByteFile;
// Creates the file for `format` (TWFF_JFIF, TWFF_PDF; Mac: never over an existing one, 7).
// Null with *result (7 or 8).
ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16 format, int16_t* result);
// 0, or 8 when the write failed (and every later write fails until the file is cut).
int16_t AppendByteFile(ByteFile* file, const void* bytes, size_t size);
// Cuts the file back to its first `length` bytes, where the next write goes; a write that
// failed before is forgotten. 0, or 8.
int16_t CutByteFile(ByteFile* file, uint64_t length);
// Closes the file, and removes it unless `keep`. 0, or 8 when closing a kept file failed (it
// is removed then too).
int16_t CloseByteFile(ByteFile* file, bool keep);
