// A PICT file: 512 zero bytes of header, then the picture's data, type 'PICT', creator
// 'ttxt'. An existing file is never replaced, and a file that could not be written whole
// (a full disk, a failed close) is deleted again: nothing half-written stays behind.
#include <Carbon/Carbon.h>

#include <cstring>

#include "image/image_platform.h"
#include "twain/result_codes.h"

namespace {
constexpr OSType kCreator = 0x74747874;   // 'ttxt'
constexpr OSType kFileType = 0x50494354;  // 'PICT'
constexpr SInt32 kHeaderBlock = 256;
}  // namespace

namespace {

// Writes the created file; 0 or 8, the file deleted on failure.
int16_t WriteCreated(const uint8_t* pascalName, void* picture) {
  SInt16 ref = 0;
  if (HOpen(0, 0, pascalName, fsWrPerm, &ref) != noErr || ref == 0) {
    HDelete(0, 0, pascalName);
    return kResultFileError;
  }

  int16_t result = 0;
  if (SetFPos(ref, fsFromStart, 0) != noErr) result = kResultFileError;
  static const char zeros[kHeaderBlock] = {};
  for (int i = 0; i < 2 && result == 0; ++i) {
    SInt32 count = kHeaderBlock;
    if (FSWrite(ref, &count, zeros) != noErr) result = kResultFileError;
  }
  SInt32 size = 0;
  if (result == 0) {
    Handle h = static_cast<Handle>(picture);
    SInt8 state = HGetState(h);
    HLock(h);
    size = static_cast<SInt32>(GetHandleSize(h));
    SInt32 count = size;
    if (size > 0 && FSWrite(ref, &count, *h) != noErr) result = kResultFileError;
    HSetState(h, state);
  }
  if (result == 0 && SetEOF(ref, 2 * kHeaderBlock + size) != noErr) result = kResultFileError;
  if (FSClose(ref) != noErr) result = kResultFileError;
  if (result != 0) HDelete(0, 0, pascalName);
  return result;
}

}  // namespace

int16_t WritePICTfile(const uint8_t* pascalName, void* picture) {
  OSErr err = HCreate(0, 0, pascalName, kCreator, kFileType);
  if (err == dupFNErr) return kResultFileExists;
  if (err != noErr) return kResultFileError;
  try {
    return WriteCreated(pascalName, picture);
  } catch (...) {
    HDelete(0, 0, pascalName);  // nothing half-written stays, whatever ended the call
    throw;
  }
}
