// A page's destination on the Mac, through the File Manager: a Mac name (plain, partial from
// the default directory, or full from a volume), each part at most 31 characters.
#include <Carbon/Carbon.h>

#include <cstring>

#include "pages/destination_platform.h"

namespace {

constexpr size_t kMaxNamePart = 31;

bool PartsFit(const char* name, size_t length) {
  size_t part = 0;
  for (size_t i = 0; i < length; ++i) {
    part = name[i] == ':' ? 0 : part + 1;
    if (part > kMaxNamePart) return false;
  }
  return true;
}

void ToStr255(const char* name, size_t length, Str255 out) {
  out[0] = static_cast<unsigned char>(length);
  std::memcpy(out + 1, name, length);
}

}  // namespace

namespace platform {

DestinationState ProbeDestination(const char* name, size_t length) {
  if (length > 255 || !PartsFit(name, length)) return DestinationState::kUnusable;
  Str255 macName;
  ToStr255(name, length, macName);
  FInfo info;
  FSSpec spec;
  switch (HGetFInfo(0, 0, macName, &info)) {
    case noErr:
      return DestinationState::kFile;
    case fnfErr:
      // No file; something else of that name is a folder.
      return FSMakeFSSpec(0, 0, macName, &spec) == fnfErr ? DestinationState::kAbsent
                                                          : DestinationState::kUnusable;
    default:  // dirNFErr, nsvErr, bdNamErr, ...
      return DestinationState::kUnusable;
  }
}

void RemoveDestination(const char* name, size_t length) {
  if (length > 255) return;
  Str255 macName;
  ToStr255(name, length, macName);
  HDelete(0, 0, macName);
}

// The File Manager exchanges the two files' contents; the old one's, now under `from`, goes.
// A volume that cannot exchange files (FAT, APFS, many server volumes) answers paramErr, and
// both files stay as they were. The Mac build never replaces an existing file (it refuses
// one before the scan), so no page comes here today.
bool ReplaceDestination(const char* from, size_t fromLength, const char* to, size_t toLength) {
  if (fromLength > 255 || toLength > 255) return false;
  Str255 fromName, toName;
  ToStr255(from, fromLength, fromName);
  ToStr255(to, toLength, toName);
  FSSpec source, target;
  if (FSMakeFSSpec(0, 0, fromName, &source) != noErr || FSMakeFSSpec(0, 0, toName, &target) != noErr)
    return false;
  if (FSpExchangeFiles(&source, &target) != noErr) return false;
  FSpDelete(&source);
  return true;
}

}  // namespace platform
