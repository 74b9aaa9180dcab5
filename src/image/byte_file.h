// Files written as their bytes come: a page the source compressed itself, a PDF. Each build
// implements them once, in platform/<os>/byte_file.cpp, with its own file system.
//
// `path` as the host gave it: Mac, a length-prefixed Mac file name; Windows, NUL-terminated.
#pragma once
#include <cstddef>
#include <cstdint>

#include "twain/twain.h"

struct ByteFile;
// Creates the file for `format` (TWFF_JFIF, TWFF_PDF; Mac: never over an existing one, 7).
// Null with *result (7 or 8).
ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16 format, int16_t* result);
// 0, or 8 when the write failed (and every later write fails until the file is cut).
int16_t AppendByteFile(ByteFile* file, const void* bytes, size_t size);
// Cuts the file back to its first `length` bytes, where the next write goes; a write that
// failed before is forgotten. 0, or 8.
int16_t CutByteFile(ByteFile* file, uint64_t length);
// Closes the file, and removes it unless `keep`. 0, or 8 when closing a kept file failed (it
// is removed then too).
int16_t CloseByteFile(ByteFile* file, bool keep);
