// The sRGB colour profile (ICC version 2) that an archival PDF embeds as its output intent:
// Debian's icc-profiles-free sRGB.icc (Zlib licence), compiled into the extension when it is
// built (cmake/extension.cmake), so that no file is needed where it runs.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint8_t kSrgbProfile[];
extern const size_t kSrgbProfileBytes;
