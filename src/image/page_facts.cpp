#include "image/page_facts.h"

#include "caps/conversions.h"

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
