// Loading a Windows extension as the host does: LoadLibraryA, the entry "Kardivelle", the
// "Q7INF" record (RCDATA, "7CMD" and the first string id), then the catalogue strings from
// that id on until the library's own "*Kardivelle" entry or an empty string.
#include <windows.h>

#include <cstring>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {
const char* const kLibraryEntry = "*Kardivelle";
const size_t kRecordSize = 14;
}  // namespace

std::unique_ptr<Host> Host::Load(const std::string& path, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library) {
    *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  auto fail = [&](const std::string& why) {
    *error = path + ": " + why;
    FreeLibrary(library);
    return nullptr;
  };
  auto entry = reinterpret_cast<ExtensionEntry>(reinterpret_cast<void*>(GetProcAddress(library, "Kardivelle")));
  if (!entry) return fail("no export 'Kardivelle'");
  HRSRC found = FindResourceExA(library, reinterpret_cast<LPCSTR>(RT_RCDATA), "Q7INF",
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  HGLOBAL loaded = found ? LoadResource(library, found) : nullptr;
  const uint8_t* record = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  if (!record || SizeofResource(library, found) < kRecordSize) return fail("no 14-byte \"Q7INF\" resource");
  if (std::memcmp(record, "7CMD", 4) != 0) return fail("the \"Q7INF\" resource does not start with 7CMD");
  uint32_t firstId =
      uint32_t(record[4]) | uint32_t(record[5]) << 8 | uint32_t(record[6]) << 16 | uint32_t(record[7]) << 24;

  std::vector<std::string> catalogue;
  for (uint32_t id = firstId; id < firstId + 1000; ++id) {
    char text[256];
    int length = LoadStringA(library, UINT(id), text, sizeof text);
    if (length <= 0) break;
    std::string entryText(text, size_t(length));
    if (entryText == kLibraryEntry) break;
    catalogue.push_back(entryText);
  }
  if (catalogue.empty()) return fail("no catalogue strings from id " + std::to_string(firstId));
  std::unique_ptr<Host> host(new Host(entry, catalogue));
  host->library_ = library;
  return host;
}

void UnloadLibrary(void* library, int16_t) {
  // The library stays loaded: a source may still post to windows it subclassed.
  (void)library;
}

}  // namespace velmar
