// One page as a file on the Mac: PNG, JPEG or TIFF from the page as a CGImage (page_image.h),
// written by ImageIO; PICT is written as it always was (pict_writer.cpp).
//
// Files are never replaced: a name that exists answers 7, as for PICT files.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/macos/created_file.h"
#include "platform/macos/page_image.h"
#include "twain/result_codes.h"

namespace {

// Where a page file in `format` goes: 0 with its kind and a name that does not exist yet, or
// 2 (a format written elsewhere), 7 or 8.
int16_t PrepareFile(TW_UINT16 format, const uint8_t* path, FileKind* kind, FSSpec* location) {
  if (!KindOf(format, kind) || format == TWFF_TIFFMULTI) return kResultUnusablePage;
  return NewFileLocation(path, location);
}

// Writes the page's image (released here) into the new file `location`.
int16_t WriteImageFile(const PageImage& page, const FileKind& kind, TW_UINT16 format, const FSSpec& location) {
  const Ref<CGImageRef, CGImageRelease> held(page.image);
  int16_t result = CreateFile(location, kind.fileType);
  if (result == 0) {
    CreatedFile created(location);
    if (Export(location, kind, format, page))
      created.Keep();
    else
      result = kResultFileError;
  }
  return result;
}

int16_t WriteOnePage(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                     int jpegQuality) {
  if (format == TWFF_PICT) return WritePICTfile(path, image);
  FileKind kind;
  FSSpec location;
  int16_t result = PrepareFile(format, path, &kind, &location);
  if (result != 0) return result;
  PageImage page;
  if (!MakePageImage(image, facts, &page)) return kResultUnusablePage;
  page.jpegQuality = jpegQuality;
  return WriteImageFile(page, kind, format, location);
}

}  // namespace

int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                      int jpegQuality) {
  return AnswerWithoutThrowing([&] { return WriteOnePage(image, facts, format, path, jpegQuality); });
}

int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    FileKind kind;
    FSSpec location;
    int16_t result = PrepareFile(format, path, &kind, &location);
    if (result != 0) return result;
    PageImage image;
    if (!MakeRowImage(page, rows, facts, &image)) return kResultUnusablePage;
    image.jpegQuality = jpegQuality;
    return WriteImageFile(image, kind, format, location);
  });
}
