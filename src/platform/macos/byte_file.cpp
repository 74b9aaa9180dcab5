// Files written as their bytes come, on the Mac: a File Manager file of the format's type,
// never over an existing one.
#include <Carbon/Carbon.h>

#include <new>

#include "image/byte_file.h"
#include "platform/macos/created_file.h"
#include "twain/result_codes.h"

struct ByteFile {
  FSSpec location;
  SInt16 refNum = 0;
  bool failed = false;
};

ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16 format, int16_t* result) {
  FileKind kind{nullptr, kTypePdf};
  if (format != TWFF_PDF && !KindOf(format, &kind)) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  ByteFile* f = new (std::nothrow) ByteFile;
  if (!f) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  *result = NewFileLocation(path, &f->location);
  if (*result == 0) *result = CreateFile(f->location, kind.fileType);
  if (*result == 0 &&
      (HOpen(f->location.vRefNum, f->location.parID, f->location.name, fsWrPerm, &f->refNum) != noErr ||
       f->refNum == 0)) {
    FSpDelete(&f->location);
    *result = kResultFileError;
  }
  if (*result != 0) {
    delete f;
    return nullptr;
  }
  return f;
}

int16_t AppendByteFile(ByteFile* f, const void* bytes, size_t size) {
  if (!f->failed && size > 0) {
    SInt32 count = static_cast<SInt32>(size);
    f->failed = FSWrite(f->refNum, &count, bytes) != noErr || count != static_cast<SInt32>(size);
  }
  return f->failed ? kResultFileError : 0;
}

int16_t CutByteFile(ByteFile* f, uint64_t length) {
  const bool cut = length <= 0x7FFFFFFF && SetEOF(f->refNum, static_cast<SInt32>(length)) == noErr &&
                   SetFPos(f->refNum, fsFromStart, static_cast<SInt32>(length)) == noErr;
  f->failed = !cut;
  return cut ? 0 : kResultFileError;
}

int16_t CloseByteFile(ByteFile* f, bool keep) {
  const bool closed = FSClose(f->refNum) == noErr;
  const bool kept = keep && closed && !f->failed;
  if (!kept) FSpDelete(&f->location);
  const int16_t r = keep && !kept ? kResultFileError : 0;
  delete f;
  return r;
}
