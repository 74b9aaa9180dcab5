#include "pages/page_log.h"

#include <cmath>
#include <cstdio>

#include "caps/conversions.h"

namespace {

// A resolution as a number: whole where it is, else to two decimals without trailing zeros.
std::string Resolution(TW_FIX32 value) {
  const double number = FIX32ToFloat(value);
  char text[32];
  if (value.Frac == 0 || std::fabs(number - std::round(number)) < 0.005) {
    std::snprintf(text, sizeof text, "%.0f", number);
    return text;
  }
  std::snprintf(text, sizeof text, "%.2f", number);
  std::string s(text);
  while (s.back() == '0') s.pop_back();
  return s;
}

const char* Side(TW_UINT16 side) {
  if (side == TWCS_TOP) return "FRONT";
  if (side == TWCS_BOTTOM) return "BACK";
  return "";
}

const char* Fate(PageFate fate) {
  switch (fate) {
    case PageFate::kBlank:
      return "BLANK";
    case PageFate::kSeparator:
      return "SEPARATOR";
    case PageFate::kWritten:
      break;
  }
  return "WRITTEN";
}

// The patch as printed on the sheet: 1 to 4, 6, T.
std::string Patch(int32_t patch) {
  if (patch >= 0 && patch < static_cast<int32_t>(TWPCH_PATCH6)) return std::to_string(patch + 1);
  if (patch == static_cast<int32_t>(TWPCH_PATCH6)) return "6";
  if (patch == static_cast<int32_t>(TWPCH_PATCHT)) return "T";
  return "";
}

// A text the source or the host gave, in one field: the separators of lines and fields (and
// every other control character) become blanks.
std::string Field(const std::string& text) {
  std::string field(text);
  for (char& c : field)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return field;
}

}  // namespace

std::string PageLineText(const PageLine& line) {
  std::string barcodes;
  for (size_t i = 0; i < line.marks.barcodes.size(); ++i) {
    if (i > 0) barcodes += '|';
    barcodes += Field(line.marks.barcodes[i]);
  }
  const std::string fields[] = {Field(line.file),
                                std::to_string(line.pageInFile),
                                std::to_string(line.document),
                                std::to_string(line.info.ImageWidth),
                                std::to_string(line.info.ImageLength),
                                Resolution(line.info.XResolution),
                                Resolution(line.info.YResolution),
                                std::to_string(line.info.PixelType),
                                Side(line.marks.side),
                                Fate(line.fate),
                                Patch(line.marks.patch),
                                barcodes};
  std::string text = fields[0];
  for (size_t i = 1; i < sizeof fields / sizeof fields[0]; ++i) {
    text += '\t';
    text += fields[i];
  }
  return text;
}

std::string PagesText(const std::vector<PageLine>& lines, size_t most) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = PageLineText(lines[i]);
    const size_t grown = text.size() + (i > 0 ? 1 : 0) + line.size();
    if (grown > most) break;
    if (i > 0) text += '\r';
    text += line;
  }
  return text;
}
