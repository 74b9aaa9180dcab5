// A Mac page as a CGImage and its export (page_file.cpp, page_book.cpp, jpeg_encoder.cpp): a
// native page is drawn (page_picture.h) and made an image of its own depth, a RowPage's rows
// are read as they are, and an ImageIO destination writes the image as PNG, JPEG or TIFF.
#pragma once
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cstdint>

#include "image/image_platform.h"
#include "platform/macos/created_file.h"
#include "platform/macos/page_picture.h"

struct PageImage {
  CGImageRef image = nullptr;
  Depth depth = Depth::kColour;
  double xDpi = 72, yDpi = 72;
  int jpegQuality = kDefaultJpegQuality;  // 1 to 100
};

// The page's image, or false when the picture cannot become one.
bool MakePageImage(void* picture, const PageFacts& facts, PageImage* page);

// The first `rows` rows as the page's image; the page keeps its rows while the image lives.
bool MakeRowImage(RowPage* page, uint32_t rows, const PageFacts& facts, PageImage* image);

// The properties of one image: its resolution, JPEG's quality, TIFF's compression.
CFDictionaryRef ImageProperties(const PageImage& page, TW_UINT16 format);

// The file's URL, or null.
CFURLRef UrlOf(const FSSpec& location);

// Writes `page` into the existing file `location`. True when ImageIO finalized the file.
bool Export(const FSSpec& location, const FileKind& kind, TW_UINT16 format, const PageImage& page);
