#include "pages/page_names.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "pages/destination_platform.h"
#include "traits/build_traits.h"
#include "twain/result_codes.h"

namespace {

// What goes after a page's name for the file written beside an older one.
constexpr char kBesideSuffix[] = ".part";

std::string TextOf(const HostPath& path) {
  if constexpr (kWindowsBuild) return std::string(reinterpret_cast<const char*>(path.bytes));
  return std::string(reinterpret_cast<const char*>(path.bytes + 1), path.bytes[0]);
}

bool Store(const std::string& text, HostPath* path) {
  if (text.size() > kMaxDestinationChars) return false;
  *path = HostPath{};
  if constexpr (kWindowsBuild) {
    std::memcpy(path->bytes, text.data(), text.size());
  } else {
    path->bytes[0] = static_cast<uint8_t>(text.size());
    std::memcpy(path->bytes + 1, text.data(), text.size());
  }
  return true;
}

// Where the path's last part starts: after the last separator (Mac ':'; Windows '\', '/' and
// the drive's ':').
size_t LastPartStart(const std::string& text) {
  size_t at = text.find_last_of(kWindowsBuild ? "\\/:" : ":");
  return at == std::string::npos ? 0 : at + 1;
}

}  // namespace

bool NumberedPageName(const HostPath& path, uint32_t number, HostPath* page) {
  std::string text = TextOf(path);
  char digits[16];
  std::snprintf(digits, sizeof digits, "-%0*u", kPageNumberDigits, static_cast<unsigned>(number));
  size_t dot = text.find_last_of('.');
  size_t at = dot != std::string::npos && dot >= LastPartStart(text) ? dot : text.size();
  text.insert(at, digits);
  return Store(text, page);
}

PageName::PageName(const HostPath& path, bool numbered, uint32_t longest, bool sourceWrites)
    : path_(path), numbered_(numbered), longest_(longest), sourceWrites_(sourceWrites) {}

int16_t PageName::Name(uint32_t number, ExistingFile existing) {
  check_ = DestinationCheck{};
  replacing_ = false;
  if (!numbered_) {
    page_ = path_;
  } else if (!NumberedPageName(path_, number, &page_)) {
    return check_.result = kResultFileError;
  }
  std::string text = TextOf(page_);
  check_ = CheckDestination(text.data(), text.size(), existing);
  if (check_.result != 0 || sourceWrites_) return check_.result;
  replacing_ = check_.existed;
  if (!replacing_) return 0;
  // The name beside the older file must be one the page can be written under, too.
  text += kBesideSuffix;
  if (!Store(text, &beside_)) return kResultFileError;
  int16_t r = CheckDestination(text.data(), text.size(), ExistingFile::kReplaced).result;
  if (r == 0) platform::RemoveDestination(text.data(), text.size());  // left by a run that died
  return r;
}

int16_t PageName::Settle(int16_t result) {
  if (!replacing_) return result;
  std::string beside = TextOf(beside_);
  if (result == 0) {
    std::string text = TextOf(page_);
    if (platform::ReplaceDestination(beside.data(), beside.size(), text.data(), text.size())) return 0;
    result = kResultFileError;
  }
  platform::RemoveDestination(beside.data(), beside.size());
  return result;
}

int16_t PageName::Begin(ExistingFile existing) {
  int16_t r = Name(longest_, ExistingFile::kReplaced);
  return r != 0 ? r : Name(1, existing);
}

void PageName::RemoveUnfinished() {
  std::string text = TextOf(page_);
  RemoveUnfinishedPage(text.data(), text.size(), check_);
}
