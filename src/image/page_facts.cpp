// The part of the page writers that both builds share.
#include "image/image_files.h"

#include "caps/conversions.h"

#include <cstdlib>

PageFacts PageFactsOf(const TW_IMAGEINFO& info) {
  PageFacts facts;
  facts.pixelType = info.PixelType;
  facts.width = info.ImageWidth > 0 ? info.ImageWidth : 0;
  facts.height = info.ImageLength > 0 ? info.ImageLength : 0;
  facts.xResolution = FIX32ToFloat(info.XResolution);
  facts.yResolution = FIX32ToFloat(info.YResolution);
  if (!(facts.xResolution > 0)) facts.xResolution = 0;
  if (!(facts.yResolution > 0)) facts.yResolution = 0;
  return facts;
}

bool GrowRowBuffer(uint8_t** buffer, uint32_t* capacity, size_t rowBytes, uint32_t rows) {
  const uint64_t bytes = uint64_t(rowBytes) * rows;
  if (bytes > 0x7FFFFFFF) return false;
  void* grown = std::realloc(*buffer, static_cast<size_t>(bytes));
  if (!grown) return false;
  *buffer = static_cast<uint8_t*>(grown);
  *capacity = rows;
  return true;
}

bool WritesFormatItself(TW_UINT16 format) {
  switch (format) {
    case TWFF_PNG:
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
    case TWFF_JFIF:
    case TWFF_PDF:
      return true;
    case TWFF_BMP:
      return kWindowsBuild;
    case TWFF_PICT:
      return !kWindowsBuild;
    default:
      return false;
  }
}
