// File Manager on POSIX files. Only the default volume and directory exist: they are the
// current working directory, and the volume has no name that a full pathname could use. Type and creator live
// in the file's FinderInfo (the extended attribute Mac OS X uses, 32 bytes, type at 0 and creator at 4,
// big-endian), or in a sidecar file where the file system has no extended attributes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>

#include "CarbonStandin.h"
#include "standins/carbon/internal.h"

namespace {

const char kFinderInfoAttr[] = "user.com.apple.FinderInfo";

struct OpenFile {
  int fd;
  SInt8 permission;
  bool canWrite;
  std::string path;
  off_t mark;
};

std::recursive_mutex gLock;
std::map<SInt16, OpenFile> gFiles;
// Directories that FSMakeFSSpec gave an ID, absolute and ending in '/': an ID names its
// directory, wherever the working directory goes afterwards.
std::vector<std::string> gDirectories;
constexpr SInt32 kFirstDirID = 1000;
// Files that FSpMakeFSRef named.
std::vector<std::string> gRefs;
// Whether the volume exchanges files; a test (or KV_CARBON_NO_EXCHANGE=1 in the environment)
// makes it one that does not. -1: not decided yet.
int gExchangeSupported = -1;
long gFailAt[kCarbonStandinHRename + 1] = {};
OSErr gFailErr[kCarbonStandinHRename + 1] = {};
long gStrayCloses = 0;

// True when this call of `which` has been chosen to fail; *err receives the error.
bool Injected(int which, OSErr* err) {
  for (int slot : {which, static_cast<int>(kCarbonStandinAnyFileCall)}) {
    if (gFailAt[slot] > 0 && --gFailAt[slot] == 0) {
      *err = gFailErr[slot];
      return true;
    }
  }
  return false;
}

bool ExchangeSupported() {
  if (gExchangeSupported < 0) {
    const char* off = std::getenv("KV_CARBON_NO_EXCHANGE");
    gExchangeSupported = off && off[0] && std::strcmp(off, "0") != 0 ? 0 : 1;
  }
  return gExchangeSupported == 1;
}

OSErr ErrnoToOSErr(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return fnfErr;
    case EEXIST:
      return dupFNErr;
    case EACCES:
    case EPERM:
      return permErr;
    case EROFS:
      return wPrErr;
    case ENOSPC:
    case EDQUOT:
      return dskFulErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENAMETOOLONG:
      return bdNamErr;
    case EISDIR:
      return fnfErr;
    default:
      return ioErr;
  }
}

// Names as the File Manager reads them. A name without a colon is a file in the directory
// given by vRefNum and dirID. A name that starts with a colon is a partial pathname from that
// directory, where each further empty part ("::") climbs one level. Any other name with a
// colon is a full pathname whose first part names a volume; no volume is mounted here under
// a name, so a full pathname answers nsvErr. A part longer than 31 characters is bdNamErr, a
// name that ends at a directory is bdNamErr, and a directory on the way that does not exist
// is dirNFErr. '/' is an ordinary character of a Mac name.
constexpr size_t kMaxNamePart = 31;

OSErr ToPosix(SInt16 vRefNum, SInt32 dirID, ConstStr255Param name, std::string* out) {
  if (!name || name[0] == 0) return bdNamErr;
  std::string mac(reinterpret_cast<const char*>(name + 1), name[0]);
  for (size_t start = 0, end; start <= mac.size(); start = end + 1) {
    end = mac.find(':', start);
    if (end == std::string::npos) end = mac.size();
    if (end - start > kMaxNamePart) return bdNamErr;
  }
  size_t firstColon = mac.find(':');
  if (firstColon != std::string::npos && firstColon != 0) return nsvErr;
  if (vRefNum != 0) return nsvErr;
  std::string directory;  // "" or ending in '/'
  if (dirID != 0) {
    if (dirID < kFirstDirID || dirID - kFirstDirID >= static_cast<SInt32>(gDirectories.size())) return dirNFErr;
    directory = gDirectories[dirID - kFirstDirID];
  }
  std::string part;
  for (size_t i = firstColon == 0 ? 1 : 0; i <= mac.size(); ++i) {
    char c = i < mac.size() ? mac[i] : ':';
    if (c != ':') {
      part += c == '/' ? ':' : c;
      continue;
    }
    if (i == mac.size()) break;  // the last part is the file's name
    directory += part.empty() ? "../" : part + "/";
    part.clear();
  }
  if (part.empty()) return bdNamErr;  // names a directory, not a file
  struct stat st;
  if (!directory.empty() && (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return dirNFErr;
  *out = directory + part;
  return noErr;
}

std::string SidecarOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "._" + base + ".finderinfo";
}

void PutBE32(unsigned char* p, UInt32 v) {
  p[0] = v >> 24;
  p[1] = v >> 16;
  p[2] = v >> 8;
  p[3] = v;
}
UInt32 GetBE32(const unsigned char* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
}

bool WriteFinderInfo(const std::string& path, OSType type, OSType creator) {
  unsigned char info[32] = {};
  PutBE32(info, type);
  PutBE32(info + 4, creator);
  if (setxattr(path.c_str(), kFinderInfoAttr, info, sizeof info, 0) == 0) return true;
  FILE* f = std::fopen(SidecarOf(path).c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(info, 1, sizeof info, f) == sizeof info;
  return std::fclose(f) == 0 && ok;
}

// Whether the open path is the file `path` names now (one file under two spellings, "f" and
// a directory ID's absolute form, is one file).
bool IsFile(const OpenFile& f, const std::string& path) {
  struct stat a, b;
  return ::fstat(f.fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

OpenFile* Find(SInt16 refNum) {
  auto it = gFiles.find(refNum);
  return it == gFiles.end() ? nullptr : &it->second;
}

bool OpenForWriting(const std::string& path) {
  for (auto& f : gFiles)
    if (f.second.canWrite && IsFile(f.second, path)) return true;
  return false;
}

}  // namespace

namespace carbon {
// A file reference number is the offset of the path's file control block in the FCB table
// (Technote 1184: 94 bytes a block after a 2-byte header), and opening takes the first free
// block: a number that was closed is the next file's (Technote 1089, "One Close is Always
// Enough"). tmfoErr when all 348 are in use.
namespace {
constexpr SInt16 kFirstRefNum = 2, kFcbLength = 94, kMaxPaths = 348;
std::mutex gRefLock;
std::vector<bool> gRefInUse(kMaxPaths, false);
}  // namespace

SInt16 AllocateRefNum() {
  std::lock_guard<std::mutex> g(gRefLock);
  for (SInt16 i = 0; i < kMaxPaths; ++i) {
    if (gRefInUse[i]) continue;
    gRefInUse[i] = true;
    return static_cast<SInt16>(kFirstRefNum + i * kFcbLength);
  }
  return 0;
}

void FreeRefNum(SInt16 refNum) {
  std::lock_guard<std::mutex> g(gRefLock);
  const int i = (refNum - kFirstRefNum) / kFcbLength;
  if (refNum >= kFirstRefNum && (refNum - kFirstRefNum) % kFcbLength == 0 && i < kMaxPaths)
    gRefInUse[i] = false;
}
}  // namespace carbon

namespace {

// The ID of a directory (absolute, ending in '/'), given it the first time it is asked for.
SInt32 DirectoryID(const std::string& directory) {
  for (size_t i = 0; i < gDirectories.size(); ++i)
    if (gDirectories[i] == directory) return kFirstDirID + static_cast<SInt32>(i);
  gDirectories.push_back(directory);
  return kFirstDirID + static_cast<SInt32>(gDirectories.size() - 1);
}

// The FSSpec of `leaf` (a POSIX name) in `folder` ("", or ending in '/', as ToPosix
// leaves it): dirNFErr when the folder is gone.
OSErr FillSpec(const std::string& folder, std::string leaf, FSSpec* location) {
  // realpath's answer is freed however the rest goes (an allocation that fails throws).
  std::unique_ptr<char, void (*)(void*)> absolute(::realpath(folder.empty() ? "." : folder.c_str(), nullptr),
                                                  std::free);
  if (!absolute) return dirNFErr;
  const std::string directory =
      std::string(absolute.get()) + (std::strcmp(absolute.get(), "/") == 0 ? "" : "/");
  for (char& c : leaf)
    if (c == ':') c = '/';  // back to the Mac's character
  location->vRefNum = 0;
  location->parID = DirectoryID(directory);
  location->name[0] = static_cast<unsigned char>(leaf.size());
  std::memcpy(location->name + 1, leaf.data(), leaf.size());
  return noErr;
}

// The FSSpec of the directory that vRefNum and dirID name: its parent's ID and its own
// name (the root's parent is fsRtParID, and the root has no name here, the volume having none).
OSErr DirectorySpec(SInt16 vRefNum, SInt32 dirID, FSSpec* location) {
  if (vRefNum != 0) return nsvErr;
  std::string directory = ".";
  if (dirID != 0) {
    if (dirID < kFirstDirID || dirID - kFirstDirID >= static_cast<SInt32>(gDirectories.size())) return dirNFErr;
    directory = gDirectories[dirID - kFirstDirID];
  }
  std::unique_ptr<char, void (*)(void*)> absolute(::realpath(directory.c_str(), nullptr), std::free);
  if (!absolute) return dirNFErr;
  const std::string path(absolute.get());
  if (path == "/") {
    location->vRefNum = 0;
    location->parID = fsRtParID;
    location->name[0] = 0;
    return noErr;
  }
  const size_t slash = path.rfind('/');
  if (path.size() - slash - 1 > kMaxNamePart) return bdNamErr;  // no Mac name reaches it
  return FillSpec(path.substr(0, slash + 1), path.substr(slash + 1), location);
}

// What a folder holds as the catalog shows it: the entries with Mac names (at most 31
// characters; '/' for ':'), without the sidecars that hold FinderInfo, in the catalog's order.
std::vector<std::string> CatalogEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name.size() > kMaxNamePart) continue;
    if (name.rfind("._", 0) == 0 && name.size() > 13 && name.compare(name.size() - 11, 11, ".finderinfo") == 0)
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  auto folded = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
  };
  std::sort(names.begin(), names.end(), folded);
  return names;
}

// The POSIX folder ("" or ending in '/') that vRefNum and dirID name.
OSErr FolderOf(SInt16 vRefNum, SInt32 dirID, std::string* folder) {
  if (vRefNum != 0) return nsvErr;
  folder->clear();
  if (dirID == 0) return noErr;
  if (dirID < kFirstDirID || dirID - kFirstDirID >= static_cast<SInt32>(gDirectories.size())) return dirNFErr;
  *folder = gDirectories[dirID - kFirstDirID];
  struct stat st;
  return ::stat(folder->c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? static_cast<OSErr>(noErr)
                                                                  : static_cast<OSErr>(dirNFErr);
}

// Fills the catalog information of `path` (an existing entry) named `leaf` (POSIX) into the block.
OSErr DescribeEntry(const std::string& path, std::string leaf, HFileInfo* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrnoToOSErr(errno);
  const size_t slash = path.rfind('/');
  FSSpec parent;  // its parID is the ID of the folder that holds the entry
  OSErr err = FillSpec(slash == std::string::npos ? "" : path.substr(0, slash + 1), ".", &parent);
  if (err != noErr) return err;
  StringPtr name = info->ioNamePtr;
  if (name) {
    for (char& c : leaf)
      if (c == ':') c = '/';
    name[0] = static_cast<unsigned char>(std::min(leaf.size(), kMaxNamePart));
    std::memcpy(name + 1, leaf.data(), name[0]);
  }
  // Everything after the name and volume is the answer, but the index that was asked.
  const SInt16 index = info->ioFDirIndex;
  const size_t header = offsetof(HFileInfo, ioFRefNum);
  std::memset(reinterpret_cast<char*>(info) + header, 0, sizeof(HFileInfo) - header);
  info->ioFDirIndex = index;
  if (S_ISDIR(st.st_mode)) {
    DirInfo* dir = reinterpret_cast<DirInfo*>(info);
    dir->ioFlAttrib = kioFlAttribDirMask;
    std::unique_ptr<char, void (*)(void*)> absolute(::realpath(path.c_str(), nullptr), std::free);
    if (!absolute) return dirNFErr;
    dir->ioDrDirID =
        DirectoryID(std::string(absolute.get()) + (std::strcmp(absolute.get(), "/") == 0 ? "" : "/"));
    dir->ioDrParID = parent.parID;
    dir->ioDrNmFls = static_cast<UInt16>(std::min<size_t>(CatalogEntries(path + "/").size(), 0xFFFF));
    return noErr;
  }
  info->ioDirID = static_cast<SInt32>(st.st_ino & 0x7FFFFFFF);  // the file's number
  info->ioFlParID = parent.parID;
  info->ioFlLgLen = static_cast<SInt32>(std::min<off_t>(st.st_size, 0x7FFFFFFF));
  info->ioFlPyLen = static_cast<SInt32>(std::min<off_t>(static_cast<off_t>(st.st_blocks) * 512, 0x7FFFFFFF));
  CarbonStandin_ReadFinderInfo(path.c_str(), &info->ioFlFndrInfo.fdType, &info->ioFlFndrInfo.fdCreator);
  return noErr;
}
}  // namespace

extern "C" {

OSErr HCreate(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, OSType creator, OSType fileType) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OSErr err;
  if (Injected(kCarbonStandinHCreate, &err)) return err;
  std::string path;
  if ((err = ToPosix(vRefNum, dirID, fileName, &path)) != noErr) return err;
  int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
  if (fd < 0) return ErrnoToOSErr(errno);
  ::close(fd);
  if (!WriteFinderInfo(path, fileType, creator)) {
    ::unlink(path.c_str());
    return ioErr;
  }
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr HOpen(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, SInt8 permission, SInt16* refNum) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (refNum) *refNum = 0;
  OSErr err;
  if (Injected(kCarbonStandinHOpen, &err)) return err;
  std::string path;
  if ((err = ToPosix(vRefNum, dirID, fileName, &path)) != noErr) return err;
  if (!refNum || permission < fsCurPerm || permission > fsRdWrShPerm) return paramErr;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrnoToOSErr(errno);
  if (!S_ISREG(st.st_mode)) return fnfErr;
  bool wantWrite = permission != fsRdPerm;
  bool shared = permission == fsRdWrShPerm;
  int fd = -1;
  if (wantWrite) {
    if (!shared && OpenForWriting(path)) {
      if (permission != fsCurPerm) return opWrErr;
      wantWrite = false;  // fsCurPerm settles for reading
    }
  }
  if (wantWrite) {
    fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0 && permission == fsCurPerm)
      wantWrite = false;
    else if (fd < 0)
      return ErrnoToOSErr(errno);
  }
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return ErrnoToOSErr(errno);
  SInt16 ref = carbon::AllocateRefNum();
  if (ref == 0) {
    ::close(fd);
    return tmfoErr;
  }
  gFiles[ref] = OpenFile{fd, permission, wantWrite, path, 0};
  *refNum = ref;
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr HDelete(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OSErr err;
  if (Injected(kCarbonStandinHDelete, &err)) return err;
  std::string path;
  if ((err = ToPosix(vRefNum, dirID, fileName, &path)) != noErr) return err;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrnoToOSErr(errno);
  if (S_ISDIR(st.st_mode)) {  // an empty one only
    if (::rmdir(path.c_str()) == 0) return noErr;
    return errno == ENOTEMPTY || errno == EEXIST ? static_cast<OSErr>(fBsyErr) : ErrnoToOSErr(errno);
  }
  for (auto& f : gFiles)
    if (IsFile(f.second, path)) return fBsyErr;
  if (::unlink(path.c_str()) != 0) return ErrnoToOSErr(errno);
  ::unlink(SidecarOf(path).c_str());
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr HRename(SInt16 vRefNum, SInt32 dirID, ConstStr255Param oldName, ConstStr255Param newName) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OSErr err;
  if (Injected(kCarbonStandinHRename, &err)) return err;
  std::string from;
  if ((err = ToPosix(vRefNum, dirID, oldName, &from)) != noErr) return err;
  if (!newName || newName[0] == 0 || newName[0] > kMaxNamePart ||
      std::memchr(newName + 1, ':', newName[0]) != nullptr)
    return bdNamErr;
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) return ErrnoToOSErr(errno);
  std::string leaf(reinterpret_cast<const char*>(newName + 1), newName[0]);
  for (char& c : leaf)
    if (c == '/') c = ':';  // the POSIX name of a Mac '/'
  const size_t slash = from.rfind('/');
  const std::string to = (slash == std::string::npos ? "" : from.substr(0, slash + 1)) + leaf;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return ErrnoToOSErr(errno);
    // A file system without RENAME_NOREPLACE: a second name, then the first one goes.
    if (S_ISDIR(st.st_mode)) return ErrnoToOSErr(errno);
    if (::link(from.c_str(), to.c_str()) != 0) return ErrnoToOSErr(errno);
    ::unlink(from.c_str());
  }
  // The Finder information kept beside the file (where there are no extended attributes)
  // follows it.
  if (::rename(SidecarOf(from).c_str(), SidecarOf(to).c_str()) != 0 && errno != ENOENT) return ioErr;
  for (auto& f : gFiles)
    if (f.second.path == from) f.second.path = to;
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr HGetFInfo(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FInfo* fndrInfo) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  std::string path;
  OSErr err = ToPosix(vRefNum, dirID, fileName, &path);
  if (err != noErr) return err;
  if (!fndrInfo) return paramErr;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrnoToOSErr(errno);
  if (!S_ISREG(st.st_mode)) return fnfErr;
  std::memset(fndrInfo, 0, sizeof *fndrInfo);
  CarbonStandin_ReadFinderInfo(path.c_str(), &fndrInfo->fdType, &fndrInfo->fdCreator);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  if (!count || *count < 0) return paramErr;
  OSErr err;
  if (Injected(kCarbonStandinFSWrite, &err)) {
    *count = 0;
    return err;
  }
  if (!f->canWrite) {
    *count = 0;
    return wrPermErr;
  }
  SInt32 done = 0;
  const char* p = static_cast<const char*>(buffPtr);
  while (done < *count) {
    ssize_t n = ::pwrite(f->fd, p + done, *count - done, f->mark + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = ErrnoToOSErr(errno);
      f->mark += done;
      *count = done;
      return err;
    }
    done += static_cast<SInt32>(n);
  }
  f->mark += done;
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  if (!count || *count < 0) return paramErr;
  OSErr err;
  if (Injected(kCarbonStandinFSRead, &err)) {
    *count = 0;
    return err;
  }
  SInt32 done = 0;
  char* p = static_cast<char*>(buffPtr);
  while (done < *count) {
    ssize_t n = ::pread(f->fd, p + done, *count - done, f->mark + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      f->mark += done;
      *count = done;
      return ioErr;
    }
    if (n == 0) break;
    done += static_cast<SInt32>(n);
  }
  f->mark += done;
  bool shortRead = done < *count;
  *count = done;
  return shortRead ? eofErr : noErr;
} catch (...) {
  return memFullErr;
}

OSErr GetEOF(SInt16 refNum, SInt32* logEOF) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  OSErr err;
  if (Injected(kCarbonStandinGetEOF, &err)) return err;
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return ioErr;
  if (logEOF) *logEOF = static_cast<SInt32>(st.st_size);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  OSErr err;
  if (Injected(kCarbonStandinSetFPos, &err)) return err;
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return ioErr;
  long long pos;
  switch (posMode & 3) {
    case fsAtMark:
      return noErr;
    case fsFromStart:
      pos = posOff;
      break;
    case fsFromLEOF:
      pos = static_cast<long long>(st.st_size) + posOff;
      break;
    default:
      pos = static_cast<long long>(f->mark) + posOff;
      break;
  }
  if (pos < 0) return posErr;
  if (pos > st.st_size) {  // the mark cannot pass the logical end of file
    f->mark = st.st_size;
    return eofErr;
  }
  f->mark = static_cast<off_t>(pos);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr GetFPos(SInt16 refNum, SInt32* filePos) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  if (filePos) *filePos = static_cast<SInt32>(f->mark);
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr SetEOF(SInt16 refNum, SInt32 logEOF) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) return rfNumErr;
  OSErr err;
  if (Injected(kCarbonStandinSetEOF, &err)) return err;
  if (logEOF < 0) return paramErr;
  if (!f->canWrite) return wrPermErr;
  // A longer file gets its blocks now (HFS files are never sparse): without room on the
  // volume nothing changes and the answer is dskFulErr.
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return ioErr;
  if (logEOF > st.st_size) {
    const int rc = ::posix_fallocate(f->fd, st.st_size, logEOF - st.st_size);
    if (rc != 0) {
      if (::ftruncate(f->fd, st.st_size) != 0) return ioErr;
      return ErrnoToOSErr(rc);
    }
  }
  if (::ftruncate(f->fd, logEOF) != 0) return ErrnoToOSErr(errno);
  if (f->mark > logEOF) f->mark = logEOF;
  return noErr;
} catch (...) {
  return memFullErr;
}

OSErr FSClose(SInt16 refNum) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  OpenFile* f = Find(refNum);
  if (!f) {
    ++gStrayCloses;
    return rfNumErr;
  }
  OSErr err = noErr;
  bool injected = Injected(kCarbonStandinFSClose, &err);
  int rc = ::close(f->fd);
  gFiles.erase(refNum);
  carbon::FreeRefNum(refNum);
  if (injected) return err;
  return rc == 0 ? noErr : ioErr;
} catch (...) {
  return memFullErr;
}

// After any result other than noErr or fnfErr every field of the FSSpec is 0 (Inside
// Macintosh: Files, PBMakeFSSpec); after fnfErr it is valid for a file about to be created.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* location) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!location) return paramErr;
  std::memset(location, 0, sizeof *location);
  OSErr err;
  if (fileName && fileName[0] == 0) {
    if ((err = DirectorySpec(vRefNum, dirID, location)) != noErr) std::memset(location, 0, sizeof *location);
    return err;
  }
  std::string path;
  if ((err = ToPosix(vRefNum, dirID, fileName, &path)) != noErr) return err;
  const size_t slash = path.rfind('/');
  err = slash == std::string::npos ? FillSpec("", path, location)
                                   : FillSpec(path.substr(0, slash + 1), path.substr(slash + 1), location);
  if (err != noErr) return err;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? noErr : fnfErr;
} catch (...) {
  if (location) std::memset(location, 0, sizeof *location);
  return memFullErr;
}

OSErr FSpCreate(const FSSpec* location, OSType creator, OSType fileType, ScriptCode) try {
  if (!location) return paramErr;
  return HCreate(location->vRefNum, location->parID, location->name, creator, fileType);
} catch (...) {
  return memFullErr;
}

OSErr FSpDelete(const FSSpec* location) try {
  if (!location) return paramErr;
  return HDelete(location->vRefNum, location->parID, location->name);
} catch (...) {
  return memFullErr;
}

OSErr FSpRename(const FSSpec* location, ConstStr255Param newName) try {
  if (!location) return paramErr;
  return HRename(location->vRefNum, location->parID, location->name, newName);
} catch (...) {
  return memFullErr;
}

// As exchangedata(2) does on Mac OS X: the files' data change places in one step (the
// inodes change names), open paths follow the data, and what belongs to the name rather than
// to the data goes back: the FinderInfo (type and creator) and the permissions. The
// modification dates go with the data.
OSErr FSpExchangeFiles(const FSSpec* source, const FSSpec* dest) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!source || !dest) return paramErr;
  std::string a, b;
  OSErr err = ToPosix(source->vRefNum, source->parID, source->name, &a);
  if (err == noErr) err = ToPosix(dest->vRefNum, dest->parID, dest->name, &b);
  if (err != noErr) return err;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return ErrnoToOSErr(errno);
  if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode)) return notAFileErr;
  if (sa.st_dev != sb.st_dev) return diffVolErr;
  if (!ExchangeSupported()) return paramErr;
  // Writing both is asked for; a file that no one may write counts as locked even for root.
  if ((sa.st_mode & 0222) == 0 || (sb.st_mode & 0222) == 0) return permErr;
  if (::access(a.c_str(), W_OK) != 0 || ::access(b.c_str(), W_OK) != 0) return ErrnoToOSErr(errno);
  unsigned char infoA[32], infoB[32];
  const ssize_t hasA = getxattr(a.c_str(), kFinderInfoAttr, infoA, sizeof infoA);
  const ssize_t hasB = getxattr(b.c_str(), kFinderInfoAttr, infoB, sizeof infoB);
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0)
    return errno == EINVAL || errno == ENOSYS ? static_cast<OSErr>(paramErr) : ErrnoToOSErr(errno);
  // Each name takes back its own; a sidecar FinderInfo never moved.
  bool restored = ::chmod(a.c_str(), sa.st_mode & 07777) == 0 && ::chmod(b.c_str(), sb.st_mode & 07777) == 0;
  for (const auto& [path, info, has] : {std::make_tuple(&a, infoA, hasA), std::make_tuple(&b, infoB, hasB)}) {
    if (has == static_cast<ssize_t>(sizeof infoA))
      restored = setxattr(path->c_str(), kFinderInfoAttr, info, sizeof infoA, 0) == 0 && restored;
    else
      removexattr(path->c_str(), kFinderInfoAttr);
  }
  return restored ? noErr : ioErr;
} catch (...) {
  return memFullErr;
}

OSErr PBGetCatInfoSync(CInfoPBPtr paramBlock) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!paramBlock) return paramErr;
  HFileInfo& info = paramBlock->hFileInfo;
  OSErr err;
  std::string path, leaf;
  if (info.ioFDirIndex > 0) {
    std::string folder;
    if ((err = FolderOf(info.ioVRefNum, info.ioDirID, &folder)) == noErr) {
      const std::vector<std::string> names = CatalogEntries(folder);
      if (static_cast<size_t>(info.ioFDirIndex) > names.size()) {
        err = fnfErr;
      } else {
        leaf = names[info.ioFDirIndex - 1];
        path = folder + leaf;
      }
    }
  } else if (info.ioFDirIndex == 0) {
    err = ToPosix(info.ioVRefNum, info.ioDirID, info.ioNamePtr, &path);
    const size_t slash = path.rfind('/');
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  } else {
    std::string folder;
    if ((err = FolderOf(info.ioVRefNum, info.ioDirID, &folder)) == noErr) {
      path = folder.empty() ? "." : folder.substr(0, folder.size() - 1);
      std::unique_ptr<char, void (*)(void*)> absolute(::realpath(path.c_str(), nullptr), std::free);
      if (!absolute) err = dirNFErr;
      const std::string full = absolute ? absolute.get() : "";
      leaf = full.substr(full.rfind('/') + 1);
    }
  }
  if (err == noErr) err = DescribeEntry(path, leaf, &info);
  info.ioResult = err;
  return err;
} catch (...) {
  return memFullErr;
}

// The volume (the default one; vRefNum 0) and what it can do.
OSErr PBHGetVolParmsSync(HParmBlkPtr paramBlock) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!paramBlock) return paramErr;
  HIOParam& io = paramBlock->ioParam;
  OSErr err = noErr;
  const unsigned char* name = io.ioNamePtr;
  if (name && name[0] > 0 && name[1] != ':' && std::memchr(name + 1, ':', name[0]))
    err = nsvErr;  // a full name starts with a volume's: none is mounted under one here
  else if (io.ioVRefNum != 0)
    err = nsvErr;
  else if (!io.ioBuffer || io.ioReqCount < 0)
    err = paramErr;
  if (err == noErr) {
    GetVolParmsInfoBuffer info = {};
    info.vMVersion = 3;
    const bool exchanges = ExchangeSupported();
    info.vMAttrib = exchanges ? 1 << bHasFileIDs : 0;
    info.vMExtendedAttributes = exchanges ? 1 << bSupportsFSExchangeObjects : 0;
    const SInt32 count = io.ioReqCount < static_cast<SInt32>(sizeof info) ? io.ioReqCount : sizeof info;
    std::memcpy(io.ioBuffer, &info, static_cast<size_t>(count));
    io.ioActCount = count;
  }
  io.ioResult = err;
  return err;
} catch (...) {
  return memFullErr;
}

OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!source || !newRef) return paramErr;
  std::string path;
  OSErr err = ToPosix(source->vRefNum, source->parID, source->name, &path);
  if (err != noErr) return err;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return fnfErr;
  char* absolute = ::realpath(path.c_str(), nullptr);
  if (!absolute) return ioErr;
  try {
    gRefs.push_back(absolute);
  } catch (...) {
    std::free(absolute);
    throw;
  }
  std::free(absolute);
  std::memset(newRef, 0, sizeof *newRef);
  const UInt32 index = static_cast<UInt32>(gRefs.size());  // 1-based: an all-zero FSRef names nothing
  std::memcpy(newRef->hidden, &index, sizeof index);
  return noErr;
} catch (...) {
  return memFullErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef) try {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (!fsRef) return nullptr;
  UInt32 index = 0;
  std::memcpy(&index, fsRef->hidden, sizeof index);
  if (index == 0 || index > gRefs.size()) return nullptr;
  // An FSRef names a file that exists: once it is deleted the reference names nothing.
  struct stat st;
  if (::stat(gRefs[index - 1].c_str(), &st) != 0) return nullptr;
  CFStringRef path = CFStringCreateWithCString(allocator, gRefs[index - 1].c_str(), kCFStringEncodingUTF8);
  if (!path) return nullptr;
  CFURLRef url = CFURLCreateWithFileSystemPath(allocator, path, kCFURLPOSIXPathStyle, false);
  CFRelease(path);
  return url;
} catch (...) {
  return {};
}

int CarbonStandin_ReadFinderInfo(const char* posixPath, OSType* type, OSType* creator) {
  unsigned char info[32];
  ssize_t n = getxattr(posixPath, kFinderInfoAttr, info, sizeof info);
  if (n != static_cast<ssize_t>(sizeof info)) {
    FILE* f = std::fopen(SidecarOf(posixPath).c_str(), "rb");
    if (!f) return -1;
    n = static_cast<ssize_t>(std::fread(info, 1, sizeof info, f));
    std::fclose(f);
    if (n != static_cast<ssize_t>(sizeof info)) return -1;
  }
  if (type) *type = GetBE32(info);
  if (creator) *creator = GetBE32(info + 4);
  return 0;
}

long CarbonStandin_OpenFiles(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return static_cast<long>(gFiles.size());
}

long CarbonStandin_StrayCloses(void) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  return gStrayCloses;
}

void CarbonStandin_SetExchangeSupported(bool supported) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  gExchangeSupported = supported ? 1 : 0;
}

void CarbonStandin_FailFileCall(int which, long n, OSErr err) {
  std::lock_guard<std::recursive_mutex> g(gLock);
  if (which < 0 || which > kCarbonStandinHRename) return;
  gFailAt[which] = n < 0 ? 0 : n;
  gFailErr[which] = err;
}

}  // extern "C"
