// The build traits. Every place where the Windows and the Mac builds differ asks
// `kWindowsBuild` (or, for types, the one alias in twain/twain.h that follows it); every
// place where a layout depends on the width of an address asks `kPointerBytes`.
#pragma once
#include <cstddef>

#if defined(_WIN32)
#define KV_WINDOWS_BUILD 1
#else
#define KV_WINDOWS_BUILD 0
#endif

constexpr bool kWindowsBuild = KV_WINDOWS_BUILD != 0;

// 4 in the 32-bit builds (the Mac bundle, the 32-bit DLL), 8 in the 64-bit DLL. TWAIN's
// TW_MEMREF, TW_HANDLE and TW_UINTPTR, the host's slot, window and callback arguments are
// this wide.
constexpr size_t kPointerBytes = sizeof(void*);
static_assert(kPointerBytes == 4 || (kWindowsBuild && kPointerBytes == 8),
              "the Mac build is 32-bit; the Windows build is 32- or 64-bit");
