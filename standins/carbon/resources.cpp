// Resource Manager reading the classic resource-file layout:
//   header (16 bytes): data offset, map offset, data length, map length, all big-endian;
//   data: each resource as a 4-byte length then its bytes;
//   map: a copy of the header (16), next-map handle (4), file reference (2), attributes (2),
//        offset from the map to the type list (2), offset from the map to the name list (2);
//   type list: count - 1 (2), then per type: type (4), count - 1 (2), offset of its
//        reference list from the start of the type list (2);
//   reference list entries (12): id (2), name offset from the name list or -1 (2),
//        attributes (1), data offset from the start of the data (3), handle (4).
// A file is read and checked whole when it is opened, so later look-ups cannot run past it.
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "CarbonStandin.h"
#include "standins/carbon/internal.h"

namespace {

struct Resource {
  ResType type;
  ResID id;
  std::vector<unsigned char> data;
  Handle loaded = nullptr;
};

struct ResFile {
  SInt16 refNum;
  std::vector<Resource> resources;
};

std::recursive_mutex gLock;
std::vector<ResFile> gChain;  // in the order opened; the newest is searched first
SInt16 gCurrent = -1;
OSErr gResError = noErr;

UInt32 Be(const std::vector<unsigned char>& b, size_t at, int bytes) {
  UInt32 v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + i];
  return v;
}

// Parses a whole resource file; false for anything out of bounds or inconsistent.
bool Parse(const std::vector<unsigned char>& b, std::vector<Resource>* out) {
  if (b.size() < 16) return false;
  UInt32 dataOff = Be(b, 0, 4), mapOff = Be(b, 4, 4), dataLen = Be(b, 8, 4), mapLen = Be(b, 12, 4);
  if (dataOff > b.size() || dataLen > b.size() - dataOff) return false;
  if (mapOff > b.size() || mapLen > b.size() - mapOff || mapLen < 30) return false;
  std::vector<unsigned char> map(b.begin() + mapOff, b.begin() + mapOff + mapLen);
  size_t typeList = Be(map, 24, 2);
  size_t nameList = Be(map, 26, 2);
  if (typeList + 2 > map.size()) return false;
  size_t types = (Be(map, typeList, 2) + 1) & 0xFFFF;  // 0xFFFF means no types
  if (typeList + 2 + types * 8 > map.size()) return false;
  for (size_t t = 0; t < types; ++t) {
    size_t entry = typeList + 2 + t * 8;
    ResType type = Be(map, entry, 4);
    size_t count = Be(map, entry + 4, 2) + 1;
    size_t refs = typeList + Be(map, entry + 6, 2);
    if (refs + count * 12 > map.size()) return false;
    for (size_t r = 0; r < count; ++r) {
      size_t ref = refs + r * 12;
      Resource res;
      res.type = type;
      res.id = static_cast<ResID>(Be(map, ref, 2));
      UInt32 nameOff = Be(map, ref + 2, 2);
      if (nameOff != 0xFFFF &&
          (nameList + nameOff >= map.size() || nameList + nameOff + 1 + map[nameList + nameOff] > map.size()))
        return false;
      size_t at = Be(map, ref + 5, 3);
      if (at + 4 > dataLen) return false;
      size_t len = Be(b, dataOff + at, 4);
      if (len > dataLen - at - 4) return false;
      res.data.assign(b.begin() + dataOff + at + 4, b.begin() + dataOff + at + 4 + len);
      out->push_back(std::move(res));
    }
  }
  return true;
}

ResFile* FileOf(SInt16 refNum) {
  for (auto& f : gChain)
    if (f.refNum == refNum) return &f;
  return nullptr;
}

Resource* Find(ResFile& f, ResType type, ResID id) {
  for (auto& r : f.resources)
    if (r.type == type && r.id == id) return &r;
  return nullptr;
}

// Searches from the current file towards the oldest one (only the current with `one`).
Resource* Search(ResType type, ResID id, bool one) {
  int start = -1;
  for (int i = 0; i < static_cast<int>(gChain.size()); ++i)
    if (gChain[i].refNum == gCurrent) start = i;
  for (int i = start; i >= 0; --i) {
    if (Resource* r = Find(gChain[i], type, id)) return r;
    if (one) break;
  }
  return nullptr;
}

Handle Load(Resource* r) {
  if (!r) {
    gResError = resNotFound;
    return nullptr;
  }
  if (!r->loaded) r->loaded = carbon::NewResourceHandle(r->data.data(), static_cast<Size>(r->data.size()));
  gResError = r->loaded ? noErr : memFullErr;
  return r->loaded;
}

}  // namespace

extern "C" {

SInt16 OpenResFileAtPath(const char* posixPath) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  FILE* f = posixPath ? std::fopen(posixPath, "rb") : nullptr;
  if (!f) {
    gResError = fnfErr;
    return -1;
  }
  std::vector<unsigned char> bytes;
  unsigned char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  ResFile file;
  if (!Parse(bytes, &file.resources)) {
    gResError = mapReadErr;
    return -1;
  }
  file.refNum = carbon::AllocateRefNum();
  if (file.refNum == 0) {
    gResError = tmfoErr;
    return -1;
  }
  gChain.push_back(std::move(file));
  gCurrent = gChain.back().refNum;
  gResError = noErr;
  return gCurrent;
} catch (...) {
  return {};
}

void UseResFile(SInt16 refNum) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!FileOf(refNum)) {
    gResError = resFNotFound;
    return;
  }
  gCurrent = refNum;
  gResError = noErr;
} catch (...) {
}

void CloseResFile(SInt16 refNum) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  for (size_t i = 0; i < gChain.size(); ++i) {
    if (gChain[i].refNum != refNum) continue;
    for (auto& r : gChain[i].resources)
      if (r.loaded) carbon::DisposeResourceHandle(r.loaded);
    gChain.erase(gChain.begin() + i);
    carbon::FreeRefNum(refNum);
    // The current file, if closed, becomes the newest one left.
    if (gCurrent == refNum) gCurrent = gChain.empty() ? -1 : gChain.back().refNum;
    gResError = noErr;
    return;
  }
  gResError = resFNotFound;
} catch (...) {
}

SInt16 CurResFile(void) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gCurrent;
} catch (...) {
  return {};
}

OSErr ResError(void) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gResError;
} catch (...) {
  return memFullErr;
}

Handle Get1Resource(ResType theType, ResID theID) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Load(Search(theType, theID, true));
} catch (...) {
  return {};
}

Handle GetResource(ResType theType, ResID theID) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return Load(Search(theType, theID, false));
} catch (...) {
  return {};
}

void ReleaseResource(Handle theResource) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  for (auto& f : gChain)
    for (auto& r : f.resources)
      if (theResource && r.loaded == theResource) {
        carbon::DisposeResourceHandle(r.loaded);
        r.loaded = nullptr;
        gResError = noErr;
        return;
      }
  gResError = resNotFound;
} catch (...) {
}

void GetIndString(Str255 theString, SInt16 strListID, SInt16 index) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  theString[0] = 0;
  Resource* r = Search(0x53545223 /* 'STR#' */, strListID, false);
  if (!r) {
    gResError = resNotFound;
    return;
  }
  gResError = noErr;
  const auto& d = r->data;
  if (d.size() < 2 || index < 1 || index > static_cast<SInt16>(Be(d, 0, 2))) return;
  size_t at = 2;
  for (SInt16 i = 1; i < index; ++i) {
    if (at >= d.size()) return;
    at += 1 + d[at];
  }
  if (at >= d.size()) return;
  size_t len = d[at];
  if (at + 1 + len > d.size()) len = d.size() - at - 1;  // a truncated list: keep what is there
  theString[0] = static_cast<unsigned char>(len);
  std::memcpy(theString + 1, d.data() + at + 1, len);
} catch (...) {
}

}  // extern "C"
