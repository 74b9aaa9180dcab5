#include "pages/page_route.h"

#include "options/options.h"

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

ExistingFile ExistingFiles(const TwainGlobals* g) {
  return OptionValue(g, Option::kExisting) == kExistingRefuse ? ExistingFile::kRefused
                                                              : ExistingFile::kReplaced;
}

PageRoute SinglePageRoute(bool formatGiven, TW_UINT16 format, ExistingFile existing) {
  PageRoute route;
  route.existing = existing;
  if (!formatGiven) return route;
  route.format = format;
  if (!IsNativeCode(format)) route.transfer = PageTransfer::kFile;
  return route;
}

PageRoute BatchRoute(TW_UINT16 format, ExistingFile existing) {
  PageRoute route;
  route.existing = existing;
  if (EncodesItself(format)) {
    route.format = format;
    route.encoded = true;
  } else {
    route.format = format;
    if (!IsNativeCode(format)) route.transfer = PageTransfer::kFile;
  }
  return route;
}
