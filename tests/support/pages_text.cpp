#include "tests/support/pages_text.h"

#include <gtest/gtest.h>

namespace kvtest {

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::vector<std::vector<std::string>> PagesLines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  if (text.empty()) return lines;
  for (const std::string& line : SplitText(text, '\r')) {
    lines.push_back(SplitText(line, '\t'));
    EXPECT_EQ(kPagesFields, lines.back().size()) << line;
    lines.back().resize(kPagesFields);
  }
  return lines;
}

}  // namespace kvtest
