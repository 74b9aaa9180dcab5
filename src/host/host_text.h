// The host's texts in Unicode. The host passes texts in the platform's character set: the
// Windows ANSI code page 1252, the Mac's Mac Roman. Each build converts them with its own
// services (platform/<os>/host_text.cpp): Windows' MultiByteToWideChar, CoreFoundation's
// CFString on the Mac.
#pragma once
#include <string>

// `text` (NUL-terminated) as UTF-8 and as UTF-16 (native order). False when it cannot be
// converted (no memory); both are then empty.
bool HostTextToUnicode(const char* text, std::string* utf8, std::u16string* utf16);
