#include "platform/macos/created_file.h"

#include "twain/result_codes.h"

bool KindOf(TW_UINT16 format, FileKind* kind) {
  switch (format) {
    case TWFF_PNG:
      *kind = {CFSTR("public.png"), kTypePng};
      return true;
    case TWFF_JFIF:
      *kind = {CFSTR("public.jpeg"), kTypeJpeg};
      return true;
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
      *kind = {CFSTR("public.tiff"), kTypeTiff};
      return true;
    default:
      return false;
  }
}

int16_t NewFileLocation(const uint8_t* path, FSSpec* location) {
  OSErr err = FSMakeFSSpec(0, 0, path, location);
  if (err == noErr) return kResultFileExists;
  if (err == memFullErr) return kResultUnusablePage;
  return err == fnfErr ? 0 : kResultFileError;
}

int16_t CreateFile(const FSSpec& location, OSType fileType) {
  OSErr err = FSpCreate(&location, kCreator, fileType, smSystemScript);
  if (err == dupFNErr) return kResultFileExists;
  if (err == memFullErr) return kResultUnusablePage;
  return err == noErr ? 0 : kResultFileError;
}
