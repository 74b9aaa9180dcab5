// The lines of PAGES (pages/page_log.h) and the reading of a source's extended image
// information (transfer/page_marks.h): the fields as the host reads them, the text cut at a
// line boundary, items inline and in handles, texts held to their handle, every handle freed.
#include "pages/page_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_kit.h"
#include "tests/support/fixture.h"
#include "tests/support/test_pages.h"
#include "transfer/page_marks.h"

namespace kvtest {
namespace {

PageLine Line(const std::string& file, uint32_t page) {
  PageLine line;
  line.file = file;
  line.pageInFile = page;
  line.info.ImageWidth = 1275;
  line.info.ImageLength = 1650;
  line.info.XResolution = {150, 0};
  line.info.YResolution = {150, 0x8000};
  line.info.PixelType = 2;
  return line;
}

// ------------------------------------------------------------------ lines

TEST(PageLineTest, FieldsInTheirOrder) {
  PageLine line = Line("C:\\scans\\doc-0001.png", 1);
  line.marks.side = TWCS_BOTTOM;
  line.marks.patch = 1;
  line.marks.barcodes = {"A1", "B 2"};
  EXPECT_EQ("C:\\scans\\doc-0001.png\t1\t1\t1275\t1650\t150\t150.5\t2\tBACK\tWRITTEN\t2\tA1|B 2",
            PageLineText(line));
  PageLine blank = Line("", 0);
  blank.fate = PageFate::kBlank;
  EXPECT_EQ("\t0\t1\t1275\t1650\t150\t150.5\t2\t\tBLANK\t\t", PageLineText(blank));
}

TEST(PageLineTest, PatchCodesAsPrintedOnTheSheet) {
  const char* const printed[] = {"1", "2", "3", "4", "6", "T", ""};
  for (int32_t code = 0; code <= 6; ++code) {
    PageLine line = Line("a", 1);
    line.marks.patch = code;
    const std::string text = PageLineText(line);  // ... fate, patch, barcodes (none)
    const std::string upToPatch = text.substr(0, text.size() - 1);
    EXPECT_EQ(printed[code], upToPatch.substr(upToPatch.rfind('\t') + 1)) << code;
  }
  PageLine none = Line("a", 1);
  EXPECT_EQ("a\t1\t1\t1275\t1650\t150\t150.5\t2\t\tWRITTEN\t\t", PageLineText(none));
}

// A barcode (or a name) holding a tab or a line end would break the lines apart.
TEST(PageLineTest, ControlCharactersInTextsBecomeBlanks) {
  PageLine line = Line("a\tb", 1);
  line.marks.barcodes = {"x\ty\rz\n"};
  const std::string text = PageLineText(line);
  EXPECT_EQ(std::string::npos, text.find('\r'));
  EXPECT_EQ(std::string::npos, text.find('\n'));
  EXPECT_EQ(0u, text.find("a b\t1\t"));
  EXPECT_NE(std::string::npos, text.find("\tx y z "));
  size_t tabs = 0;
  for (char c : text) tabs += c == '\t';
  EXPECT_EQ(11u, tabs);
}

TEST(PagesTextTest, LinesAreSeparatedByCarriageReturnsAndCutWhole) {
  const std::vector<PageLine> lines = {Line("a", 1), Line("bb", 1), Line("ccc", 1)};
  const std::string whole = PagesText(lines);
  EXPECT_EQ(PageLineText(lines[0]) + "\r" + PageLineText(lines[1]) + "\r" + PageLineText(lines[2]), whole);
  EXPECT_EQ(whole, PagesText(lines, whole.size()));
  const std::string two = PageLineText(lines[0]) + "\r" + PageLineText(lines[1]);
  EXPECT_EQ(two, PagesText(lines, whole.size() - 1));
  EXPECT_EQ(two, PagesText(lines, two.size()));
  EXPECT_EQ(PageLineText(lines[0]), PagesText(lines, two.size() - 1));
  EXPECT_EQ("", PagesText(lines, PageLineText(lines[0]).size() - 1));
  EXPECT_EQ("", PagesText({}));
}

// A batch of 100 pages under the longest name a host path takes fits in the host's text.
TEST(PagesTextTest, AHundredPagesOfTheLongestNamesFit) {
  std::vector<PageLine> lines;
  for (uint32_t i = 1; i <= 100; ++i) {
    PageLine line = Line(std::string(255, 'n'), i);
    line.info.ImageWidth = 32767;
    line.info.ImageLength = 32767;
    line.marks.side = TWCS_BOTTOM;
    line.marks.patch = TWPCH_PATCHT;
    lines.push_back(line);
  }
  const std::string text = PagesText(lines);
  size_t returns = 0;
  for (char c : text) returns += c == '\r';
  EXPECT_EQ(99u, returns);
  EXPECT_LE(text.size(), kPagesTextMost);
}

// ------------------------------------------------------------------ extended image information

TW_HANDLE HandleOf(const std::vector<uint8_t>& bytes) { return static_cast<TW_HANDLE>(NativeImage(bytes)); }

TW_INFO Info(TW_UINT16 id, TW_UINT16 type, TW_UINT16 count, TW_UINTPTR item, TW_UINT16 rc = TWRC_SUCCESS) {
  TW_INFO info;
  std::memset(&info, 0, sizeof info);
  info.InfoID = id;
  info.ItemType = type;
  info.NumItems = count;
  info.ReturnCode = rc;
  info.Item = item;
  return info;
}

TW_UINTPTR Held(TW_HANDLE h) { return reinterpret_cast<TW_UINTPTR>(h); }

std::vector<uint8_t> Uint32s(std::vector<uint32_t> values) {
  std::vector<uint8_t> bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

std::vector<uint8_t> Texts(const std::string& joined) {
  return std::vector<uint8_t>(joined.begin(), joined.end());
}

TEST(PageMarksTest, InlineValuesAndItemsTheSourceHasNot) {
  TW_INFO infos[] = {
      Info(TWEI_PAGESIDE, TWTY_UINT16, 1, TWCS_BOTTOM), Info(TWEI_PATCHCODE, 0, 0, 0, TWRC_DATANOTAVAILABLE),
      Info(TWEI_BARCODECOUNT, TWTY_UINT32, 1, 0),       Info(TWEI_BARCODETEXT, 0, 0, 0, TWRC_DATANOTAVAILABLE),
      Info(TWEI_DOCUMENTNUMBER, TWTY_UINT32, 1, 3),     Info(TWEI_PAGENUMBER, 0, 0, 0, TWRC_INFONOTSUPPORTED)};
  PageMarks marks;
  marks.barcodes = {"stale"};
  const long before = LiveBlocks();
  TakeInfoItems(infos, 6, &marks);
  EXPECT_EQ(before, LiveBlocks());
  EXPECT_EQ(TWCS_BOTTOM, marks.side);
  EXPECT_EQ(-1, marks.patch);
  EXPECT_TRUE(marks.barcodes.empty());
  EXPECT_EQ(3u, marks.document);
  EXPECT_EQ(0u, marks.page);
}

TEST(PageMarksTest, ValuesInHandlesAreReadAndFreed) {
  const long before = LiveBlocks();
  std::vector<uint8_t> side(2);
  const uint16_t front = TWCS_TOP;
  std::memcpy(side.data(), &front, 2);
  TW_INFO infos[] = {
      Info(TWEI_PAGESIDE, TWTY_UINT16, 1, Held(HandleOf(side))),
      Info(TWEI_PATCHCODE, TWTY_UINT32, 1, Held(HandleOf(Uint32s({TWPCH_PATCHT})))),
      Info(TWEI_BARCODETEXTLENGTH, TWTY_UINT32, 2, Held(HandleOf(Uint32s({3, 5})))),
      Info(TWEI_BARCODETEXT, TWTY_HANDLE, 2, Held(HandleOf(Texts(std::string("abc\0defgh\0", 10))))),
      Info(TWEI_PAGENUMBER, TWTY_UINT32, 1, Held(HandleOf(Uint32s({2}))))};
  if (!kWindowsBuild) {
    EXPECT_EQ(before + 5, LiveBlocks());
  }
  PageMarks marks;
  TakeInfoItems(infos, 5, &marks);
  EXPECT_EQ(before, LiveBlocks());
  EXPECT_EQ(TWCS_TOP, marks.side);
  EXPECT_EQ(static_cast<int32_t>(TWPCH_PATCHT), marks.patch);
  EXPECT_EQ((std::vector<std::string>{"abc", "defgh"}), marks.barcodes);
  EXPECT_EQ(2u, marks.page);
  for (const TW_INFO& info : infos) EXPECT_EQ(0u, info.Item);
}

// A short value the item cannot take (a side of 3, a patch code of 9) is still a value, not a
// handle: no address lies that low. It is ignored, and nothing is read or freed through it.
TEST(PageMarksTest, AValueOutsideTheItemsWordsIsNoHandle) {
  const long before = LiveBlocks();
  TW_INFO infos[] = {Info(TWEI_PAGESIDE, TWTY_UINT16, 1, 3), Info(TWEI_PATCHCODE, TWTY_UINT32, 1, 9),
                     Info(TWEI_PAGENUMBER, TWTY_UINT32, 1, 0xFFFF)};
  PageMarks marks;
  TakeInfoItems(infos, 3, &marks);
  EXPECT_EQ(before, LiveBlocks());
  EXPECT_EQ(0, marks.side);
  EXPECT_EQ(-1, marks.patch);
  EXPECT_EQ(0xFFFFu, marks.page);
  EXPECT_EQ(3u, infos[0].Item);  // left as the source gave it
}

// Lengths and counts that reach past the handle read nothing beyond it.
TEST(PageMarksTest, NothingIsReadPastAHandle) {
  const long before = LiveBlocks();
  TW_INFO infos[] = {Info(TWEI_BARCODETEXTLENGTH, TWTY_UINT32, 3, Held(HandleOf(Uint32s({2, 400, 9})))),
                     Info(TWEI_BARCODETEXT, TWTY_HANDLE, 3, Held(HandleOf(Texts(std::string("ab\0cdef", 7))))),
                     Info(TWEI_DOCUMENTNUMBER, TWTY_UINT32, 4, Held(HandleOf(Uint32s({5}))))};
  PageMarks marks;
  TakeInfoItems(infos, 3, &marks);
  EXPECT_EQ(before, LiveBlocks());
  // The second text has no NUL before the handle's end: it ends there; there is no third.
  EXPECT_EQ((std::vector<std::string>{"ab", "cdef"}), marks.barcodes);
  EXPECT_EQ(5u, marks.document);  // one number of the four said fits
}

}  // namespace
}  // namespace kvtest
