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

void RecordRoute(TwainGlobals* g, const PageRoute& route) {
  g->fileFormat = route.encoded ? kOwnFormat : route.format;
}

PageRoute FieldRoute() {
  PageRoute route;
  route.format = TWFF_PICT;
  return route;
}

PageRoute SinglePageRoute(bool formatGiven, TW_UINT16 format) {
  PageRoute route;
  if (!formatGiven) return route;
  route.format = format;
  if (!IsNativeCode(format)) route.transfer = PageTransfer::kFile;
  return route;
}

PageRoute BatchRoute(TW_UINT16 format) {
  PageRoute route;
  if (EncodesItself(format)) {
    route.format = format;
    route.encoded = true;
  } else {
    route.format = format;
    if (!IsNativeCode(format)) route.transfer = PageTransfer::kFile;
  }
  return route;
}
