#include "host/number_fields.h"

#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters of a text that are read: a number that is any longer is no number anyone means.
constexpr int16_t kNumberTextRead = 255;

}  // namespace

bool IsNumberText(const char* text) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  int digits = 0;
  while (IsDigit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) ++p, ++digits;
  }
  while (IsBlank(*p)) ++p;
  return digits > 0 && *p == '\0';
}

bool GetFldStrictNumber(int16_t field, HostContext ctx, HostFloat* value) {
  if (IsThisFieldType(field, kFieldTypePicture, ctx)) return false;
  if (IsThisFieldType(field, kFieldTypeText, ctx)) {
    char text[kNumberTextRead + 2] = {};
    GetFldVal(field, kValueCText, kNumberTextRead + 1, text, ctx);
    if (std::strlen(text) > static_cast<size_t>(kNumberTextRead) || !IsNumberText(text)) return false;
  }
  HostFloat number = 0;
  GetFldVal(field, kValueNumber, 0, &number, ctx);
  *value = number;
  return true;
}
