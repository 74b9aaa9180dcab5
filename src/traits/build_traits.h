// The build trait. Every place where the Windows and the Mac builds differ asks
// `kWindowsBuild` (or, for types, the one alias in twain/twain.h that follows it).
#pragma once

#if defined(_WIN32)
#define KV_WINDOWS_BUILD 1
#else
#define KV_WINDOWS_BUILD 0
#endif

constexpr bool kWindowsBuild = KV_WINDOWS_BUILD != 0;
