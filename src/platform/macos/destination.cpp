// A page's destination on the Mac, through the File Manager: a Mac name (plain, partial from
// the default directory, or full from a volume), each part at most 31 characters.
#include <Carbon/Carbon.h>

#include <cstring>

#include "acquire/destination_platform.h"

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
  switch (HGetFInfo(0, 0, macName, &info)) {
    case noErr:
      return DestinationState::kFile;
    case fnfErr:
      return DestinationState::kAbsent;
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

}  // namespace platform
