// The host's number format and its reading of numbers from text, and the field value.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

std::string Print(HostFloat value, int precision, bool fixed) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  if (fixed) out << std::fixed;
  out << std::setprecision(precision) << value;
  return out.str();
}

HostFloat Read(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  HostFloat value = 0;
  in >> value;
  return value;
}

// `digits` significant digits in positional notation (never an exponent, which the host's
// reading of numbers does not take), trailing zeros of the fraction dropped.
std::string Positional(HostFloat value, int digits) {
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  std::string text = Print(value, std::max(0, digits - 1 - exponent), true);
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
  if (value == std::trunc(value)) return Print(value, 0, true);
  for (int digits = 1; digits < 15; ++digits) {
    std::string text = Positional(value, digits);
    if (Read(text) == value) return text;
  }
  return Positional(value, 15);
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
    case kNothing: return "(nothing)";
    case kNumber: return FormatNumber(WireToFloat(number));
    case kText: return "\"" + text + "\"";
    case kPicture:
      if (!picture.present) return "picture (none)";
      return "picture " + std::to_string(picture.width) + "x" + std::to_string(picture.height);
  }
  return "";
}

}  // namespace velmar
