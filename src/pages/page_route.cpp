#include "pages/page_route.h"

namespace {

bool IsNativeCode(TW_UINT16 format) { return format == TWFF_PICT || format == TWFF_BMP; }

bool EncodesItself(TW_UINT16 format) {
  switch (format) {
    case TWFF_PNG:
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
    case TWFF_JFIF:
    case TWFF_PDF:
    case kOwnFormat:
      return true;
    default:
      return false;
  }
}

}  // namespace

PageRoute FieldRoute() { return PageRoute{}; }

PageRoute SinglePageRoute(bool formatGiven, TW_UINT16 format) {
  PageRoute route;
  if (formatGiven && !IsNativeCode(format)) {
    route.format = format;
    route.transfer = PageTransfer::kFile;
  }
  return route;
}

PageRoute BatchRoute(TW_UINT16 format) {
  PageRoute route;
  if (EncodesItself(format)) {
    route.format = format;
    route.encoded = true;
  } else if (!IsNativeCode(format)) {
    route.format = format;
    route.transfer = PageTransfer::kFile;
  }
  return route;
}
