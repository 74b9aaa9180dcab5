// A comment segment for a JFIF stream whose codec writes none.
#include <cstring>

#include "standins/virtual-scanner/image/bytes.h"
#include "standins/virtual-scanner/image/page.h"

namespace vscan {

bool InsertJpegComment(std::vector<uint8_t>& jfif, const char* text) {
  const size_t length = std::strlen(text);
  if (length > 0xFFFF - 2 || jfif.size() < 2 || jfif[0] != 0xFF || jfif[1] != 0xD8) return false;
  // Past the APPn segments (0xFFE0 to 0xFFEF) behind SOI: JFIF wants its APP0 first.
  size_t at = 2;
  while (at + 4 <= jfif.size() && jfif[at] == 0xFF && jfif[at + 1] >= 0xE0 && jfif[at + 1] <= 0xEF) {
    const size_t declared = size_t(jfif[at + 2]) << 8 | jfif[at + 3];  // its own two bytes included
    if (declared < 2 || at + 2 + declared > jfif.size()) return false;
    const size_t segment = 2 + declared;
    at += segment;
  }
  detail::Bytes comment = {0xFF, 0xFE};
  detail::PutBE16(comment, uint32_t(length + 2));
  comment.insert(comment.end(), text, text + length);
  jfif.insert(jfif.begin() + long(at), comment.begin(), comment.end());
  return true;
}

}  // namespace vscan
