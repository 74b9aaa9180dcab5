// The files the extension writes itself from a natively transferred page, with each build's
// own image codecs (Windows: WIC; Mac: ImageIO, the picture drawn into a CoreGraphics
// bitmap context). Shared code reaches them only through this port; each
// build implements it once, in platform/<os>/ (page_file.cpp, page_book.cpp, jpeg_encoder.cpp, and the
// native image's own writers and conversions).
//
// The native image is what the source handed over: a Mac picture Handle, a Windows packed DIB
// (HGLOBAL) or device bitmap (HBITMAP). The writers only read it; it stays the caller's.
//
// Answers: 0; 2 when the page cannot be encoded (an image that fails its check, no memory for
// the pixels, a depth the codec refuses); 7 on the Mac when a file of that name exists (the
// File Manager never writes over one; on Windows it is replaced); 8 when the file cannot be
// created or written. A writer that fails after creating its file removes it. The scans give
// every writer a temporary name beside the file's own (pages/page_names.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/page_facts.h"
#include "image/page_pixels.h"
#include "image/row_page.h"

// `path` as the host gave it: Mac, a length-prefixed Mac file name; Windows, NUL-terminated.

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
// The bytes the book's file would take if it closed now (0 before its first page).
uint64_t PageBookBytes(const PageBook* book);

// The first `rows` rows of the page as one page file, or as the book's next page; the facts'
// size is not used (the page's own counts). Answers as WritePageFile and AddBookPage.
int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality = kDefaultJpegQuality);
int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts);
// ---- JPEG into memory (the pages of a PDF)

// A grey or colour page as one JFIF stream at `quality` (1 to 100: as much of the encoder's
// range), grey pages as one component, colour as three, the page's resolution in its header.
// 0, or 2 (no memory, a black-and-white page, the encoder refuses); *jpeg holds the stream.
int16_t EncodeJpeg(PagePixels& page, int quality, std::vector<uint8_t>* jpeg);

// ---- the native image's own format and its conversions

// ---- Mac (platform/macos/pict_writer.cpp)
// name: length-prefixed. 0, 7 (the file exists) or 8 (nothing left behind).
int16_t WritePICTfile(const uint8_t* pascalName, void* picture);

// ---- Windows (platform/windows/device_bitmap.cpp, bmp_writer.cpp)
// A device bitmap for the host window's display made from a packed DIB (not freed), or null
// for a DIB that fails its check or cannot be converted.
void* DIBToDeviceBitmap(void* dib);
// The native image as a device bitmap: a DIB is converted and freed; a device bitmap that the
// source handed over instead is taken as it is. Null when there is nothing usable.
void* TakeDeviceBitmap(void* image);
void DeleteDeviceBitmap(void* bitmap);
// Releases an image as the source handed it over: a device bitmap with DeleteObject, a DIB
// with GlobalFree.
void ReleaseSourceImage(void* image);
// The page's resolution in pixels per metre, as a DIB's header carries it; 0 when the image
// gives none.
struct PageResolution {
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};
// What the source's image says of its resolution: the header of a DIB that passes its check;
// nothing for a device bitmap, a 12-byte header or a DIB that fails its check.
PageResolution DibResolution(void* image);
// name: NUL-terminated. 0, 2 (no memory, or no bitmap to describe) or 8 (nothing left
// behind). The header carries `resolution`.
int16_t WriteBMPfile(const char* name, void* bitmap, PageResolution resolution = {});
