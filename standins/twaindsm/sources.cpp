// Where the sources are, and which one is the default: as the Windows manager keeps them.
#include <algorithm>
#include <cstring>

#include "standins/twaindsm/manager.h"

namespace twaindsm {
namespace {

constexpr bool kWide = sizeof(void*) == 8;
const char* const kRegistryKey = kWide ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN64"
                                       : "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN";
const char* const kDefaultValue = "Default Source";

bool EndsWithDs(const char* name) {
  const size_t n = std::strlen(name);
  return n > 3 && lstrcmpiA(name + n - 3, ".ds") == 0;
}

void Collect(const std::string& folder, std::vector<std::string>* found) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!std::strcmp(entry.cFileName, ".") || !std::strcmp(entry.cFileName, "..")) continue;
    const std::string path = folder + "\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      Collect(path, found);
    else if (EndsWithDs(entry.cFileName))
      found->push_back(path);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

}  // namespace

std::string SourceFolder() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + (kWide ? "\\twain_64" : "\\twain_32");
}

std::vector<Source> FindSources(const TW_IDENTITY& app) {
  std::vector<std::string> paths;
  Collect(SourceFolder(), &paths);
  std::sort(paths.begin(), paths.end(),
            [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
  std::vector<Source> sources;
  for (const std::string& path : paths) {
    // Its own folder first for what the source itself loads.
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) continue;
    auto entry = reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DS_Entry")));
    Source source;
    source.path = path;
    TW_IDENTITY origin = app;
    if (entry && entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source.identity) == TWRC_SUCCESS) {
      source.identity.ProductName[sizeof source.identity.ProductName - 1] = 0;
      source.identity.Manufacturer[sizeof source.identity.Manufacturer - 1] = 0;
      source.identity.ProductFamily[sizeof source.identity.ProductFamily - 1] = 0;
      source.identity.Id = static_cast<TW_UINT32>(sources.size() + 1);
      sources.push_back(source);
    }
    FreeLibrary(module);
  }
  return sources;
}

std::string DefaultSourcePath() {
  char path[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
  const LONG status =
      RegQueryValueExA(key, kDefaultValue, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return "";
  return path;
}

bool SetDefaultSourcePath(const std::string& path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG status = RegSetValueExA(key, kDefaultValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                     static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace twaindsm
