// A page's destination on the Mac, through the File Manager: a Mac name (plain, partial from
// the default directory, or full from a volume), each part at most 31 characters.
#include <Carbon/Carbon.h>

#include <cstring>

#include "pages/destination_platform.h"
#include "twain/result_codes.h"

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
  FSSpec location;
  switch (HGetFInfo(0, 0, macName, &info)) {
    case noErr:
      return DestinationState::kFile;
    case fnfErr:
      // No file; something else of that name is a folder.
      return FSMakeFSSpec(0, 0, macName, &location) == fnfErr ? DestinationState::kAbsent
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

// A rename never replaces on the Mac (dupFNErr). To replace, the File Manager exchanges the
// two files' contents (the older name keeps its type and creator, as a safe save does) and
// the older contents, now under `from`, go; a volume that cannot exchange files (FAT, APFS,
// many server volumes: paramErr) has the older file deleted, then the new one renamed.
int16_t PlaceDestination(const char* from, size_t fromLength, const char* to, size_t toLength, bool replace) {
  if (fromLength > 255 || toLength > 255) return kResultFileError;
  Str255 fromName, toName, leaf;
  ToStr255(from, fromLength, fromName);
  ToStr255(to, toLength, toName);
  size_t start = toLength;
  while (start > 0 && to[start - 1] != ':') --start;
  ToStr255(to + start, toLength - start, leaf);
  FSSpec source, target;
  if (FSMakeFSSpec(0, 0, fromName, &source) != noErr) return kResultFileError;
  const OSErr renamed = FSpRename(&source, leaf);
  if (renamed == noErr) return kResultOk;
  if (renamed != dupFNErr) return kResultFileError;
  if (!replace) return kResultFileExists;
  if (FSMakeFSSpec(0, 0, toName, &target) != noErr) return kResultFileError;
  const OSErr exchanged = FSpExchangeFiles(&source, &target);
  if (exchanged == noErr) {
    FSpDelete(&source);
    return kResultOk;
  }
  if (exchanged != paramErr || FSpDelete(&target) != noErr) return kResultFileError;
  return FSpRename(&source, leaf) == noErr ? kResultOk : kResultFileError;
}

// The File Manager lists a folder by index (PBGetCatInfo), in the catalog's order: every
// file of head's folder, found from the folder's ID that FSMakeFSSpec gives for a name in it.
std::vector<std::string> SeriesCandidates(const std::string& head, const std::string&) {
  std::vector<std::string> names;
  if (head.empty() || head.size() > 255) return names;
  Str255 macName;
  ToStr255(head.data(), head.size(), macName);
  FSSpec location;
  const OSErr made = FSMakeFSSpec(0, 0, macName, &location);
  if (made != noErr && made != fnfErr) return names;
  CInfoPBRec pb;
  Str255 name;
  for (SInt16 index = 1; index > 0; ++index) {
    std::memset(&pb, 0, sizeof pb);
    pb.hFileInfo.ioNamePtr = name;
    pb.hFileInfo.ioVRefNum = location.vRefNum;
    pb.hFileInfo.ioDirID = location.parID;  // each call overwrites it
    pb.hFileInfo.ioFDirIndex = index;
    if (PBGetCatInfoSync(&pb) != noErr) break;
    if (!(pb.hFileInfo.ioFlAttrib & kioFlAttribDirMask))
      names.emplace_back(reinterpret_cast<const char*>(name + 1), name[0]);
  }
  return names;
}

// Every call runs in the host's process: nobody is left to tidy up after it.
void NotePageFiles(const std::string&, uint32_t) {}

}  // namespace platform
