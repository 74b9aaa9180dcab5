// A minimal loadable source for the folder tests: its ProductName is its own file name.
#include <dlfcn.h>

#include <cstring>

#include "twain/twain.h"

extern "C" TW_UINT16 DS_Entry(pTW_IDENTITY, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
  if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_GET) {
    Dl_info info;
    dladdr(reinterpret_cast<void*>(&DS_Entry), &info);
    const char* base = std::strrchr(info.dli_fname, '/');
    base = base ? base + 1 : info.dli_fname;
    auto* id = static_cast<pTW_IDENTITY>(pData);
    size_t n = std::strlen(base);
    if (n > 32) n = 32;
    id->ProductName[0] = static_cast<char>(n);
    std::memcpy(id->ProductName + 1, base, n);
    return TWRC_SUCCESS;
  }
  return TWRC_SUCCESS;
}
