#include "pages/page_names.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pages/destination_platform.h"
#include "traits/build_traits.h"
#include "twain/result_codes.h"

namespace {

// What goes after a final name for the file written beside it.
constexpr char kTemporarySuffix[] = ".part";
// A shortened last part: its start, '~', eight hexadecimal digits, ".part".
constexpr size_t kShortenedTail = 1 + 8 + sizeof kTemporarySuffix - 1;
// The shortest last part a shortened name is made for ('~' and three digits of the hash).
constexpr size_t kShortestPart = 4;

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

// A temporary name beside the final `name` that a file can have, with a leftover of an earlier write under
// it removed: 0, or 8 when none can be had.
int16_t TemporaryName(const std::string& name, HostPath* temporary) {
  std::string text = name + kTemporarySuffix;
  DestinationCheck check = CheckDestination(text.data(), text.size(), ExistingFile::kReplaced);
  if (check.result != 0) {
    // Too long for the folder or the file system: the last part's start, '~' and a hash of
    // the whole name (as much of "~HASH.part" as the part holds), as long as the final name.
    const size_t part = name.size() - LastPartStart(name);
    if (part < kShortestPart) return kResultFileError;
    uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char tail[kShortenedTail + 1];
    std::snprintf(tail, sizeof tail, "~%08X%s", static_cast<unsigned>(hash), kTemporarySuffix);
    const size_t keep = part > kShortenedTail ? part - kShortenedTail : 0;
    text = name.substr(0, name.size() - part + keep) + std::string(tail).substr(0, part - keep);
    check = CheckDestination(text.data(), text.size(), ExistingFile::kReplaced);
    if (check.result != 0) return check.result;
  }
  if (!Store(text, temporary)) return kResultFileError;
  if (check.existed) platform::RemoveDestination(text.data(), text.size());
  return 0;
}

// The series' names around the number: `head` ends with "-", `tail` is the last extension.
void SplitSeries(const std::string& text, std::string* head, std::string* tail) {
  const size_t dot = text.find_last_of('.');
  const size_t at = dot != std::string::npos && dot >= LastPartStart(text) ? dot : text.size();
  *head = text.substr(0, at) + "-";
  *tail = text.substr(at);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Whether `name` (a last part) is a page of the series `leafHead`, number, `tail`, the number
// written as the series writes it (at least kPageNumberDigits digits, no other leading zeros,
// 32 bits): its number in *n. Both file systems compare names without case.
bool SeriesNumber(const std::string& name, const std::string& leafHead, const std::string& tail, uint32_t* n) {
  if (name.size() < leafHead.size() + tail.size() + kPageNumberDigits) return false;
  if (!SameName(name.substr(0, leafHead.size()), leafHead) ||
      !SameName(name.substr(name.size() - tail.size()), tail))
    return false;
  const std::string middle = name.substr(leafHead.size(), name.size() - leafHead.size() - tail.size());
  if (middle.size() > 10 || (middle.size() > static_cast<size_t>(kPageNumberDigits) && middle[0] == '0') ||
      middle.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long value = std::strtoull(middle.c_str(), nullptr, 10);
  if (value > UINT32_MAX) return false;
  *n = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

std::string HostPathText(const HostPath& path) { return TextOf(path); }

bool NumberedPageName(const HostPath& path, uint32_t number, HostPath* page) {
  std::string head, tail;
  SplitSeries(TextOf(path), &head, &tail);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*u", kPageNumberDigits, static_cast<unsigned>(number));
  return Store(head + digits + tail, page);
}

PageName::PageName(const HostPath& path, bool numbered, uint32_t longest, ExistingFile existing)
    : path_(path), numbered_(numbered), longest_(longest), existing_(existing) {}

int16_t PageName::Name(uint32_t number) {
  number_ = number;
  temporary_ = HostPath{};
  if (!numbered_) {
    page_ = path_;
  } else if (!NumberedPageName(path_, number, &page_)) {
    return kResultFileError;
  }
  const std::string text = TextOf(page_);
  int16_t r = CheckDestination(text.data(), text.size(), existing_).result;
  if (r == 0) r = TemporaryName(text, &temporary_);
  platform::NotePageFiles(TextOf(temporary_), kept_);
  return r;
}

int16_t PageName::Settle(int16_t result, uint32_t pages) {
  const std::string temporary = TextOf(temporary_);
  if (temporary.empty()) return result;
  if (result == kResultOk) {
    const std::string text = TextOf(page_);
    result = platform::PlaceDestination(temporary.data(), temporary.size(), text.data(), text.size(),
                                        existing_ == ExistingFile::kReplaced);
    if (result == kResultOk && number_ > lastWritten_) lastWritten_ = number_;
    if (result == kResultOk) kept_ += pages;
  }
  if (result != kResultOk) platform::RemoveDestination(temporary.data(), temporary.size());
  temporary_ = HostPath{};
  platform::NotePageFiles(std::string(), kept_);
  return result;
}

std::vector<uint32_t> PageName::Members(uint32_t first) const {
  std::string head, tail;
  SplitSeries(TextOf(path_), &head, &tail);
  const std::string leafHead = head.substr(LastPartStart(head));
  std::vector<uint32_t> members;
  for (const std::string& name : platform::SeriesCandidates(head, tail)) {
    uint32_t n = 0;
    if (SeriesNumber(name, leafHead, tail, &n) && n >= first && n <= SeriesEnd()) members.push_back(n);
  }
  std::sort(members.begin(), members.end());
  members.erase(std::unique(members.begin(), members.end()), members.end());
  return members;
}

int16_t PageName::Begin() {
  const ExistingFile asked = existing_;
  existing_ = ExistingFile::kReplaced;
  int16_t r = Name(longest_);
  existing_ = asked;
  if (r != 0) return r;
  if (numbered_ && existing_ == ExistingFile::kRefused && !Members(1).empty()) return kResultFileExists;
  return Name(1);
}

void PageName::EndSeries() {
  if (!numbered_ || existing_ != ExistingFile::kReplaced || lastWritten_ == 0) return;
  for (const uint32_t n : Members(lastWritten_ + 1)) {
    HostPath member;
    if (!NumberedPageName(path_, n, &member)) return;
    const std::string text = TextOf(member);
    platform::RemoveDestination(text.data(), text.size());
  }
}
