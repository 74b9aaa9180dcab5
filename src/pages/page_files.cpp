#include "pages/page_files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "transfer/collect_image.h"
#include "pages/destination_platform.h"
#include "pages/page_delivery.h"
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

PageFiles::PageFiles(const HostPath& path, bool numbered, uint32_t longest)
    : path_(path), numbered_(numbered), longest_(longest) {}

int16_t PageFiles::NamePage(TwainGlobals* g, uint32_t number, ExistingFile existing) {
  check_ = DestinationCheck{};
  replacing_ = false;
  if (!numbered_) {
    page_ = path_;
  } else if (!NumberedPageName(path_, number, &page_)) {
    return check_.result = kResultFileError;
  }
  std::string text = TextOf(page_);
  check_ = CheckDestination(text.data(), text.size(), existing);
  if (check_.result != 0) return check_.result;
  if (IsNativeFormat(g->fileFormat)) {
    replacing_ = check_.existed;
    if (!replacing_) return 0;
    // The name beside the older file must be one the page can be written under, too.
    text += kBesideSuffix;
    if (!Store(text, &beside_)) return kResultFileError;
    int16_t r = CheckDestination(text.data(), text.size(), ExistingFile::kReplaced).result;
    if (r == 0) platform::RemoveDestination(text.data(), text.size());  // left by a run that died
    return r;
  }
  // The source writes the page itself, under this name.
  static_assert(sizeof g->filePath <= sizeof page_.bytes, "a page's name fills the record's path");
  std::memcpy(g->filePath, page_.bytes, sizeof g->filePath);
  return 0;
}

int16_t PageFiles::Settle(int16_t result) {
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

// Before anything is scanned: the longest name the batch can reach (as a name: a file of that
// name is no reason to stop now), then the first page's.
int16_t PageFiles::Begin(TwainGlobals* g) {
  int16_t r = NamePage(g, longest_, ExistingFile::kReplaced);
  return r != 0 ? r : BeforePage(g, 1);
}

int16_t PageFiles::BeforePage(TwainGlobals* g, uint32_t number) {
  return NamePage(g, number, ExistingFileFor(g->fileFormat));
}

int16_t PageFiles::WritePage(TwainGlobals* g, uint32_t) {
  return Settle(WriteImageToFile(g, WriteName().bytes));
}

// The native writer leaves nothing behind itself; a failed file transfer may have.
void PageFiles::Abandon(TwainGlobals* g, uint32_t) {
  if (IsNativeFormat(g->fileFormat)) return;
  std::string text = TextOf(page_);
  RemoveUnfinishedPage(text.data(), text.size(), check_);
}
