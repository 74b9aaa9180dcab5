// The text of the option PAGES as the tests read it: its lines (separated by carriage
// returns), each as its fields (separated by tabs), by name.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace kvtest {

enum PagesField {
  kFile,
  kPageInFile,
  kDocument,
  kWidth,
  kHeight,
  kXRes,
  kYRes,
  kType,
  kSide,
  kFate,
  kPatch,
  kCodes
};
constexpr size_t kPagesFields = 12;

std::vector<std::string> SplitText(const std::string& text, char separator);
// Every line of `text` with exactly kPagesFields fields (a line with more or fewer is a
// failure of the calling test, and is padded or cut to that many).
std::vector<std::vector<std::string>> PagesLines(const std::string& text);

}  // namespace kvtest
