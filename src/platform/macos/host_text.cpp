#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <vector>

#include "host/host_text.h"

namespace {

// Releases the string however the conversion ends.
struct Owned {
  CFStringRef string;
  ~Owned() {
    if (string) CFRelease(string);
  }
};

}  // namespace

// Every byte of Mac Roman has a character, so the conversion fails only for want of memory.
bool HostTextToUnicode(const char* text, std::string* utf8, std::u16string* utf16) try {
  utf8->clear();
  utf16->clear();
  if (!*text) return true;
  const Owned s{CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman)};
  if (!s.string) return false;
  const CFIndex units = CFStringGetLength(s.string);
  std::vector<UniChar> chars(static_cast<size_t>(units));
  CFStringGetCharacters(s.string, CFRangeMake(0, units), chars.data());
  std::vector<char> bytes(static_cast<size_t>(CFStringGetMaximumSizeForEncoding(units, kCFStringEncodingUTF8)) +
                          1);
  if (!CFStringGetCString(s.string, bytes.data(), static_cast<CFIndex>(bytes.size()), kCFStringEncodingUTF8))
    return false;
  utf16->assign(chars.begin(), chars.end());
  utf8->assign(bytes.data());
  return true;
} catch (...) {
  utf8->clear();
  utf16->clear();
  return false;
}
