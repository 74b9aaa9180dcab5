// A page as one frame of a WIC encoder, for the Windows writers (page_file.cpp, page_book.cpp,
// jpeg_encoder.cpp). Each page goes to its encoder as rows of black and white (1 bit), 8-bit
// grey or 24-bit colour (page_rows.h), with its resolution on its frame, and with what Windows
// should make of it: TIFF compressed with CCITT Group 4 (1 bit) or LZW, JPEG at the quality
// asked for (85 unless JPEGQUALITY says otherwise; grey or colour: a black-and-white page is
// written grey), PNG with adaptive filters. An option an encoder does not know leaves its
// default: Wine 8.0's TIFF encoder writes uncompressed and its JPEG encoder at its own
// quality, whatever they are asked for.
#pragma once
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"
#include "platform/windows/wic.h"

// Rows handed to an encoder at a time. Wine 8.0's TIFF encoder keeps a row of colour for
// every call that gives it rows (its buffer for swapping red and blue is never freed): a page
// given in bands costs it a few rows, not a page.
constexpr UINT kBandRows = 256;

// The container WIC writes `format` in (PNG, JPEG, TIFF of one page or many); null for another.
const GUID* ContainerOf(TW_UINT16 format);

// JPEG's quality, 1 to 100, as WIC's 0 to 1.
void AskForQuality(IPropertyBag2* options, int jpegQuality);

// The page as one frame of `encoder`. A book's checkpoint follows the frame's first row:
// Wine's TIFF encoder writes a page's directory when the next page starts (or the file ends),
// so the file is complete with the pages before this one once its first row is handed over.
HRESULT AddFrame(IWICBitmapEncoder* encoder, FrameRows* page, TW_UINT16 format, CheckedFileStream* stream,
                 bool checkpoint, int jpegQuality = kDefaultJpegQuality);

// An encoder of `format` writing into `stream`.
HRESULT NewEncoder(IWICImagingFactory* factory, TW_UINT16 format, IStream* stream,
                   Held<IWICBitmapEncoder>* out);
