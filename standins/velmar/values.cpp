// The host's number format and its reading of numbers from text, and the field value.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

// Positional notation with `precision` digits after the point. The C library's own
// conversions (the "C" locale: nothing here sets another) are what a stream with the classic
// locale calls underneath, without a stream's cost.
constexpr bool kDoubleNumbers = sizeof(HostFloat) == sizeof(double);  // Windows: 8 bytes

int Format(char* out, size_t size, int precision, HostFloat value) {
  if constexpr (kDoubleNumbers) return std::snprintf(out, size, "%.*f", precision, double(value));
  return std::snprintf(out, size, "%.*Lf", precision, static_cast<long double>(value));
}

std::string Print(HostFloat value, int precision) {
  char small[64];
  int n = Format(small, sizeof small, precision, value);
  if (n >= 0 && size_t(n) < sizeof small) return small;
  std::string text(size_t(n) + 1, '\0');
  Format(&text[0], text.size(), precision, value);
  text.pop_back();
  return text;
}

// A number in positional notation; as a stream reads it, a value beyond the range is the
// largest one of its sign and a text that is no number is 0.
HostFloat Read(const std::string& text) {
  char* end = nullptr;
  HostFloat value =
      kDoubleNumbers ? HostFloat(std::strtod(text.c_str(), &end)) : HostFloat(std::strtold(text.c_str(), &end));
  if (end == text.c_str()) return 0;
  if (std::isinf(value))
    return value < 0 ? -std::numeric_limits<HostFloat>::max() : std::numeric_limits<HostFloat>::max();
  return value;
}

// `digits` significant digits in positional notation (never an exponent, which the host's
// reading of numbers does not take), trailing zeros of the fraction dropped.
std::string Positional(HostFloat value, int digits) {
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  std::string text = Print(value, std::max(0, digits - 1 - exponent));
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

}  // namespace

std::string FormatNumber(HostFloat value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return "0";  // -0 too
  if (value == std::trunc(value)) return Print(value, 0);
  // The fewest digits that read back as the value. Once some number of digits does, every
  // larger number does too (the finer grid holds the coarser one's point, so its nearest point
  // is at least as near), so the search halves the range each step.
  int low = 1, high = 15;  // 15: the answer when fewer digits never read back
  while (low < high) {
    int digits = (low + high) / 2;
    if (Read(Positional(value, digits)) == value) {
      high = digits;
    } else {
      low = digits + 1;
    }
  }
  return Positional(value, low);
}

HostFloat ParseNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == digits) return 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  }
  std::string prefix = text.substr(start, i - start);
  if (prefix[0] == '+') prefix.erase(0, 1);
  return Read(prefix);
}

Value Value::Number(HostFloat v) {
  Value value;
  value.kind = kNumber;
  value.number = FloatToWire(v);
  return value;
}

Value Value::Text(std::string t) {
  Value value;
  value.kind = kText;
  value.text = std::move(t);
  return value;
}

Value Value::OfPicture(Picture p) {
  Value value;
  value.kind = kPicture;
  value.picture = std::move(p);
  return value;
}

HostFloat Value::AsNumber() const {
  if (kind == kNumber) return WireToFloat(number);
  if (kind == kText) return ParseNumber(text);
  return 0;
}

std::string Value::AsText() const {
  if (kind == kNumber) return FormatNumber(WireToFloat(number));
  if (kind == kText) return text;
  return "";
}

std::string Value::Display() const {
  switch (kind) {
    case kNothing:
      return "(nothing)";
    case kNumber:
      return FormatNumber(WireToFloat(number));
    case kText:
      return "\"" + text + "\"";
    case kPicture:
      if (!picture.present) return "picture (none)";
      return "picture " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
  }
  return "";
}

}  // namespace velmar
