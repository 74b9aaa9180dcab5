// A page's destination on Windows: the folder of the full path must exist, and the name must
// be one the file system can hold; an existing directory is no file to write.
#include <windows.h>

#include <string>

#include "pages/destination_platform.h"
#include "platform/windows/page_files_listener.h"
#include "twain/result_codes.h"

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != kNoAttributes && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

namespace platform {

DestinationState ProbeDestination(const char* name, size_t length) {
  std::string path(name, length);
  if (path.find('\0') != std::string::npos) return DestinationState::kUnusable;
  // Windows' file functions take a full path of at most MAX_PATH characters with its NUL:
  // 259 characters. A longer one (the name's own, or the current folder's with it) is no name
  // a file can have.
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return DestinationState::kUnusable;
  std::string fullPath(full, n);
  size_t slash = fullPath.find_last_of("\\/");
  if (slash == std::string::npos || slash + 1 == fullPath.size()) return DestinationState::kUnusable;
  std::string folder = fullPath.substr(0, slash + 1);  // "C:\" stays a root
  if (!IsFolder(folder)) return DestinationState::kUnusable;
  DWORD a = GetFileAttributesA(fullPath.c_str());
  if (a != kNoAttributes)
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? DestinationState::kUnusable : DestinationState::kFile;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? DestinationState::kAbsent : DestinationState::kUnusable;
}

void RemoveDestination(const char* name, size_t length) {
  std::string path(name, length);
  DeleteFileA(path.c_str());
}

// MoveFileEx within one folder renames; with MOVEFILE_REPLACE_EXISTING an older file gives
// way in the same step.
int16_t PlaceDestination(const char* from, size_t fromLength, const char* to, size_t toLength, bool replace) {
  std::string source(from, fromLength), target(to, toLength);
  const DWORD how = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(source.c_str(), target.c_str(), how)) return kResultOk;
  const DWORD error = GetLastError();
  if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return kResultFileExists;
  return kResultFileError;
}

std::vector<std::string> SeriesCandidates(const std::string& head, const std::string& tail) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((head + "*" + tail).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

namespace {
PageFilesListener gListener = nullptr;
}  // namespace

void ListenToPageFiles(PageFilesListener listener) { gListener = listener; }

void NotePageFiles(const std::string& underWay, uint32_t kept) {
  if (gListener) gListener(underWay, kept);
}

}  // namespace platform
