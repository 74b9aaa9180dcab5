#include <windows.h>

#include <string>

#include "host/host_text.h"

// Every byte of code page 1252 has a character (its five unassigned bytes map to the C1
// controls of their value), so the conversion fails only for want of memory.
bool HostTextToUnicode(const char* text, std::string* utf8, std::u16string* utf16) try {
  constexpr UINT kHostCodePage = 1252;
  utf8->clear();
  utf16->clear();
  if (!*text) return true;
  const int units = MultiByteToWideChar(kHostCodePage, 0, text, -1, nullptr, 0);
  if (units <= 1) return false;
  std::wstring wide(static_cast<size_t>(units), L'\0');
  if (MultiByteToWideChar(kHostCodePage, 0, text, -1, &wide[0], units) != units) return false;
  wide.resize(static_cast<size_t>(units - 1));
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return false;
  std::string narrow(static_cast<size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &narrow[0], bytes, nullptr, nullptr) != bytes)
    return false;
  narrow.resize(static_cast<size_t>(bytes - 1));
  utf16->assign(wide.begin(), wide.end());
  utf8->swap(narrow);
  return true;
} catch (...) {
  utf8->clear();
  utf16->clear();
  return false;
}
