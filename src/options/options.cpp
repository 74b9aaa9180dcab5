#include "options/options.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/host_kit.h"
#include "host/number_fields.h"
#include "host/value_pairs.h"
#include "image/image_platform.h"
#include "image/no_throw.h"
#include "traits/build_traits.h"
#include "twain/result_codes.h"

namespace {

constexpr const char* kTransferWords[] = {"NATIVE", "MEMORY", "AUTO", nullptr};
constexpr const char* kCompressionWords[] = {"NONE", "JPEG", nullptr};
constexpr const char* kPdfImagesWords[] = {"JPEG", "LOSSLESS", nullptr};
constexpr const char* kPdfAWords[] = {"NONE", "2B", nullptr};
constexpr const char* kBlankPagesWords[] = {"KEEP", "DISCARD", nullptr};
constexpr const char* kWriterWords[] = {"SOURCE", "EXTENSION", nullptr};
constexpr const char* kExistingWords[] = {"REPLACE", "REFUSE", nullptr};
constexpr const char* kDsmWords[] = {"TWAIN_32", "TWAINDSM", "AUTO", nullptr};
constexpr const char* kDsmInUseWords[] = {"", "TWAIN_32", "TWAINDSM", nullptr};
// The Mac build has no worker process: its calls are carried out in process only.
constexpr const char* kIsolationWords[] = {"NONE", kWindowsBuild ? "PROCESS" : nullptr, nullptr};
constexpr const char* kSourcesWords[] = {"AUTO", "OWN", "32BIT", nullptr};
constexpr const char* kPaperSourceWords[] = {"AUTO", "FEEDER", "FLATBED", nullptr};
constexpr const char* kSeparationWords[] = {"NONE", "BLANKSHEET", "PATCHCODE", nullptr};
static_assert(kDsmTwain32 == int32_t(ManagerChoice::kTwain32) &&
                  kDsmTwainDsm == int32_t(ManagerChoice::kTwainDsm) &&
                  kDsmAuto == int32_t(ManagerChoice::kAuto),
              "the option's words in the binding's order");
static_assert(kDsmInUseTwain32 == int32_t(BoundManager::kTwain32) &&
                  kDsmInUseTwainDsm == int32_t(BoundManager::kTwainDsm),
              "the read-only option's words in the binding's order");

constexpr OptionRow kOptionRows[] = {
    {"TRANSFER", kTransferWords, 0, 0, kTransferNative, false},
    {"COMPRESSION", kCompressionWords, 0, 0, kCompressionNone, false},
    // The files Twain.ScanPages encodes itself.
    {"JPEGQUALITY", nullptr, 1, 100, kDefaultJpegQuality, false},
    {"PDFIMAGES", kPdfImagesWords, 0, 0, kPdfImagesJpeg, false},
    // the PDFs the extension writes
    {"PDFA", kPdfAWords, 0, 0, kPdfANone, false},
    {"PDFTITLE", nullptr, 0, kOptionTextMost, 0, false, 1, true},
    {"PDFAUTHOR", nullptr, 0, kOptionTextMost, 0, false, 1, true},
    {"PDFSUBJECT", nullptr, 0, kOptionTextMost, 0, false, 1, true},
    {"PDFKEYWORDS", nullptr, 0, kOptionTextMost, 0, false, 1, true},
    // blank pages
    {"BLANKPAGES", kBlankPagesWords, 0, 0, kBlankPagesKeep, false},
    {"BLANKINK", nullptr, 0, 100 * kBlankInkUnits, 1500, false, kBlankInkUnits},
    // files: Windows has always replaced an existing file, the Mac refused one
    {"WRITER", kWriterWords, 0, 0, kWriterSource, false},
    {"EXISTING", kExistingWords, 0, 0, kWindowsBuild ? kExistingReplace : kExistingRefuse, false},
    {"DISCARDED", nullptr, 0, INT32_MAX, 0, true},
    {"PAGES", nullptr, 0, static_cast<int32_t>(kPagesTextMost), 0, true, 1, true},
    // the scan's wait
    {"READYWAIT", nullptr, 1, 600, 5, false},
    // The 32-bit build keeps the manager it has always loaded; a 64-bit process prefers the
    // TWAIN 2 manager, the only one 64-bit Windows has.
    {"DSM", kDsmWords, 0, 0, kPointerBytes == 8 ? kDsmAuto : kDsmTwain32, false},
    {"DSMINUSE", kDsmInUseWords, 0, 0, kDsmInUseNone, true},
    {"ISOLATION", kIsolationWords, 0, 0, kIsolationNone, false},
    // A 32-bit build's own sources are the 32-bit ones.
    {"SOURCES", kSourcesWords, 0, 0, kSourcesAuto, false},
    // Longer than a slow scanner takes over a page inside one request.
    {"WORKERWAIT", nullptr, 5, 3600, 120, false},
    // the feeder: by default whichever holds paper, and an empty feeder not waited for
    {"PAPERSOURCE", kPaperSourceWords, 0, 0, kPaperSourceAuto, false},
    {"WAITFORPAPER", nullptr, 0, 3600, 0, false},
    // documents: one file for the whole batch unless asked
    {"SEPARATION", kSeparationWords, 0, 0, kSeparationNone, false},
    {"DOCUMENTS", nullptr, 0, INT32_MAX, 0, true},
};
static_assert(sizeof kOptionRows / sizeof kOptionRows[0] == kOptionCount, "one row for each option");

constexpr bool TextRowsFollow(int first, int count) {
  for (int i = 0; i < kOptionCount; ++i)
    if (i != static_cast<int>(Option::kPages) && kOptionRows[i].text != (i >= first && i < first + count))
      return false;
  return kOptionRows[static_cast<int>(Option::kPages)].text;
}
static_assert(TextRowsFollow(static_cast<int>(Option::kPdfTitle), kTextOptionCount),
              "the text options follow one another from PDFTITLE");

// Characters of a name or a word that are read: more than any option's name or word has, so
// that a longer text is none of them.
constexpr int16_t kTextRead = 31;

typedef std::array<int32_t, kOptionCount> Values;
typedef std::array<std::string, kTextOptionCount> Texts;

// A record's options: the values of every row, the text options' texts, and PAGES.
struct Stored {
  Values values;
  Texts texts;
  std::string pages;
};

std::vector<std::pair<const TwainGlobals*, Stored>>& Store() {
  static std::vector<std::pair<const TwainGlobals*, Stored>> store;
  return store;
}

Stored Defaults() {
  Stored s{};
  for (int i = 0; i < kOptionCount; ++i) s.values[i] = kOptionRows[i].initial;
  return s;
}

Stored& StoredOf(const TwainGlobals* g) {
  for (auto& entry : Store())
    if (entry.first == g) return entry.second;
  Store().emplace_back(g, Defaults());
  return Store().back().second;
}

Values& ValuesOf(const TwainGlobals* g) { return StoredOf(g).values; }

int TextPlace(Option option) { return static_cast<int>(option) - static_cast<int>(Option::kPdfTitle); }

std::string& TextOf(Stored& stored, Option option) {
  return option == Option::kPages ? stored.pages : stored.texts[TextPlace(option)];
}
const std::string& TextOf(const Stored& stored, Option option) {
  return option == Option::kPages ? stored.pages : stored.texts[TextPlace(option)];
}

const OptionRow* RowNamed(const char* name) {
  for (const OptionRow& row : kOptionRows)
    if (std::strcmp(row.name, name) == 0) return &row;
  return nullptr;
}

int Place(const OptionRow* row) { return static_cast<int>(row - kOptionRows); }

void ReadText(TwainGlobals* g, int16_t field, char (&text)[kTextRead + 1]) {
  std::memset(text, 0, sizeof text);
  GetFldVal(field, kValueCText, kTextRead, text, g->hostParams);
  text[kTextRead] = 0;
}

// The option a pair names, or why the pair fails: 3 for a picture in either field, 9 for a
// name that is no option.
int16_t PairOption(TwainGlobals* g, int16_t nameField, int16_t valueField, const OptionRow** row) {
  if (IsThisFieldType(nameField, kFieldTypePicture, g->hostParams) ||
      IsThisFieldType(valueField, kFieldTypePicture, g->hostParams)) {
    return kResultBadParameter;
  }
  char name[kTextRead + 1];
  ReadText(g, nameField, name);
  *row = RowNamed(name);
  return *row ? kResultOk : kResultUnsupportedCapability;
}

// A text option's text: a text of at most the row's characters (a number, or a longer text,
// is none it takes).
int16_t SetTextFromField(TwainGlobals* g, const OptionRow& row, int16_t valueField) {
  if (IsThisFieldType(valueField, kFieldTypeNumber, g->hostParams)) return kResultBadValue;
  char text[kOptionTextMost + 2] = {};
  GetFldVal(valueField, kValueCText, kOptionTextMost + 1, text, g->hostParams);
  text[kOptionTextMost + 1] = 0;
  if (!OptionTakesTextValue(row, text)) return kResultBadValue;
  // 2: no memory for the text.
  return StoreOptionText(g, static_cast<Option>(Place(&row)), text) ? kResultOk : kResultUnusablePage;
}

int16_t SetFromField(TwainGlobals* g, const OptionRow& row, int16_t valueField) {
  if (row.readOnly) return kResultNotNow;
  if (row.text) return SetTextFromField(g, row, valueField);
  int32_t value;
  if (row.words) {
    char word[kTextRead + 1];
    ReadText(g, valueField, word);
    value = OptionWordIndex(row, word);
    if (value < 0) return kResultBadValue;
  } else {
    HostFloat number = 0;
    if (!GetFldStrictNumber(valueField, g->hostParams, &number) || !OptionTakesNumber(row, number))
      return kResultBadValue;
    value = OptionUnits(row, number);
  }
  ValuesOf(g)[Place(&row)] = value;
  return kResultOk;
}

void GetIntoField(TwainGlobals* g, const OptionRow& row, int16_t valueField) {
  if (row.text) {
    SetFldText(valueField, OptionText(g, static_cast<Option>(Place(&row))).c_str(), g->hostParams);
    return;
  }
  const int32_t value = ValuesOf(g)[Place(&row)];
  if (row.words) {
    SetFldText(valueField, row.words[value], g->hostParams);
  } else {
    SetFldNumber(valueField, static_cast<HostFloat>(value) / row.scale, g->hostParams);
  }
}

// The pairs of a call; a call without its first parameter answers 3.
template <typename Handle>
int16_t ForEachOptionPair(TwainGlobals* g, Handle handle) {
  if (GetFldInt(kFieldParamCount, g->hostParams) < 1) return kResultBadParameter;
  return ForEachValuePair(g->hostParams, [&](int16_t nameField, int16_t valueField) -> int16_t {
    const OptionRow* row = nullptr;
    int16_t r = PairOption(g, nameField, valueField, &row);
    return r != 0 ? r : handle(*row, valueField);
  });
}

}  // namespace

int32_t OptionWordIndex(const OptionRow& row, const char* text) {
  for (int32_t i = 0; row.words && row.words[i]; ++i)
    if (std::strcmp(row.words[i], text) == 0) return i;
  return -1;
}

bool OptionTakesNumber(const OptionRow& row, HostFloat value) {
  if (!(value * row.scale >= row.least && value * row.scale <= row.most)) return false;
  return row.scale > 1 || value == static_cast<HostFloat>(static_cast<int32_t>(value));
}

int32_t OptionUnits(const OptionRow& row, HostFloat value) {
  return static_cast<int32_t>(std::lround(value * row.scale));
}

bool OptionTakesTextValue(const OptionRow& row, const char* text) {
  const size_t length = std::strlen(text);
  if (!row.text || length > static_cast<size_t>(row.most)) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

int32_t OptionValue(const TwainGlobals* g, Option option) {
  for (const auto& entry : Store())
    if (entry.first == g) return entry.second.values[static_cast<int>(option)];
  return kOptionRows[static_cast<int>(option)].initial;
}

bool OptionTakesText(Option option) { return kOptionRows[static_cast<int>(option)].text; }

std::string OptionText(const TwainGlobals* g, Option option) {
  if (!OptionTakesText(option)) return std::string();
  for (const auto& entry : Store())
    if (entry.first == g) return TextOf(entry.second, option);
  return std::string();
}

bool StoreOptionText(const TwainGlobals* g, Option option, const std::string& text) {
  if (!OptionTakesText(option)) return false;
  return AnswerWithoutThrowing([&] {
           TextOf(StoredOf(g), option) = text;
           return kResultOk;
         }) == kResultOk;
}

void StoreOptionValue(const TwainGlobals* g, Option option, int32_t value) {
  ValuesOf(g)[static_cast<int>(option)] = value;
}

bool OptionReadOnly(Option option) { return kOptionRows[static_cast<int>(option)].readOnly; }

void ForgetOptions(const TwainGlobals* g) {
  auto& store = Store();
  for (auto it = store.begin(); it != store.end(); ++it) {
    if (it->first == g) {
      store.erase(it);
      return;
    }
  }
}

int16_t DoSetOption(TwainGlobals* g) {
  return ForEachOptionPair(
      g, [&](const OptionRow& row, int16_t valueField) { return SetFromField(g, row, valueField); });
}

ManagerChoice ManagerChoiceOf(const TwainGlobals* g) {
  return static_cast<ManagerChoice>(OptionValue(g, Option::kDsm));
}

void NoteManagerInUse(const TwainGlobals* g) {
  StoreOptionValue(g, Option::kDsmInUse, g->dsmBound ? static_cast<int32_t>(platform::Bound()) : kDsmInUseNone);
}

int16_t DoGetOption(TwainGlobals* g) {
  return ForEachOptionPair(g, [&](const OptionRow& row, int16_t valueField) -> int16_t {
    GetIntoField(g, row, valueField);
    return kResultOk;
  });
}
