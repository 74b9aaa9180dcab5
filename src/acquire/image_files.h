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
// multi-page TIFF, JPEG, and the build's own format (BMP on Windows, PICT on the Mac).
bool WritesFormatItself(TW_UINT16 format);

// `path` as the host gave it: Mac, a length-prefixed Mac file name; Windows, NUL-terminated.

// One page as TWFF_PNG, TWFF_TIFF, TWFF_JFIF (quality 85; a black-and-white page becomes
// grey), TWFF_BMP (Windows) or TWFF_PICT (Mac). Any other format answers 2.
int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path);

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
// Pages in the book's file so far.
int PageBookCount(const PageBook* book);
