// Files written as their bytes come, on Windows: plain Win32 files.
#include <windows.h>

#include <cstring>
#include <new>

#include "image/byte_file.h"
#include "twain/result_codes.h"

struct ByteFile {
  HANDLE file = INVALID_HANDLE_VALUE;
  char name[258] = {};
  bool failed = false;
};

ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16, int16_t* result) {
  ByteFile* f = new (std::nothrow) ByteFile;
  if (!f) {
    *result = kResultUnusablePage;
    return nullptr;
  }
  std::strncpy(f->name, reinterpret_cast<const char*>(path), sizeof f->name - 1);
  f->file = CreateFileA(f->name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f->file == INVALID_HANDLE_VALUE) {
    delete f;
    *result = kResultFileError;
    return nullptr;
  }
  *result = 0;
  return f;
}

int16_t AppendByteFile(ByteFile* f, const void* bytes, size_t size) {
  const uint8_t* at = static_cast<const uint8_t*>(bytes);
  while (!f->failed && size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    if (!WriteFile(f->file, at, chunk, &written, nullptr) || written != chunk) f->failed = true;
    at += chunk;
    size -= chunk;
  }
  return f->failed ? kResultFileError : 0;
}

int16_t CutByteFile(ByteFile* f, uint64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  const bool cut = SetFilePointerEx(f->file, at, nullptr, FILE_BEGIN) && SetEndOfFile(f->file);
  f->failed = !cut;
  return cut ? 0 : kResultFileError;
}

int16_t CloseByteFile(ByteFile* f, bool keep) {
  const bool closed = CloseHandle(f->file) != 0;
  const bool kept = keep && closed && !f->failed;
  if (!kept) DeleteFileA(f->name);
  const int16_t r = keep && !kept ? kResultFileError : 0;
  delete f;
  return r;
}
