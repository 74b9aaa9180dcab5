// The capability table, item sizes, FIX32 and frame conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "caps/cap_table.h"
#include "caps/conversions.h"
#include "host/host_kit.h"
#include "tests/caps/cap_fixture.h"

using namespace capstest;

namespace {

std::unique_ptr<TwainGlobals> FilledRecord() {
  std::unique_ptr<TwainGlobals> g(new TwainGlobals{});
  initCaps(g.get());
  return g;
}

std::string Name(const TwainGlobals* g, TW_UINT16 id) {
  char out[64];
  std::memset(out, 'x', sizeof out);
  GetCapName(g, id, out, sizeof out);
  return out;
}

}  // namespace

TEST(CapTable, RowsAreDistinctAndNamesFit) {
  auto g = FilledRecord();
  std::set<TW_UINT16> ids;
  std::set<std::string> names;
  for (const CapEntry& e : g->capTable) {
    ids.insert(e.capId);
    names.insert(e.capName);
    EXPECT_LE(std::strlen(e.capName), static_cast<size_t>(kCapNameMax));
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kCapRows));
  EXPECT_EQ(names.size(), static_cast<size_t>(kCapRows));
  EXPECT_EQ(g->capTable[0].capId, 0x0001);
  EXPECT_EQ(g->capTable[83].capId, 0x102E);  // FEEDERORDER closes both builds' common rows
  EXPECT_EQ(g->capTable[29].itemType, TWTY_FRAME);
}

TEST(CapTable, LookupIsExactAndCaseSensitive) {
  auto g = FilledRecord();
  EXPECT_EQ(GetCapNum(g.get(), "XFERCOUNT"), 0x0001);
  EXPECT_EQ(GetCapNum(g.get(), "xfercount"), 0);
  EXPECT_EQ(GetCapNum(g.get(), "XFERCOUNT "), 0);
  EXPECT_EQ(GetCapNum(g.get(), "XFERCOUN"), 0);
  EXPECT_EQ(GetCapNum(g.get(), "ICAP_PIXELTYPE"), 0);
  EXPECT_EQ(GetCapNum(g.get(), ""), 0);
  EXPECT_EQ(GetCapNum(g.get(), "PATCHCODEMAXSEARCHPRIORITIES"), 0x1141);
  EXPECT_EQ(Name(g.get(), 0x1005), "SUPPORTEDCAPS");
  EXPECT_EQ(Name(g.get(), 0x0102), "UNITS");
  EXPECT_EQ(Name(g.get(), 0x1102), "");
}

TEST(CapTable, MacOnlyRows) {
  auto g = FilledRecord();
  const char* names[] = {"DEVICEEVENT", "JPEGQUALITY", "ENABLEDSUIONLY", "CUSTOMDSDATA"};
  const TW_UINT16 ids[] = {0x1022, 0x1153, 0x1014, 0x1015};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(GetCapNum(g.get(), names[i]), kWindowsBuild ? 0 : ids[i]) << names[i];
    EXPECT_EQ(Name(g.get(), ids[i]), kWindowsBuild ? "" : names[i]);
  }
}

TEST(CapTable, NameIsCutToTheOutput) {
  auto g = FilledRecord();
  char out[6];
  GetCapName(g.get(), 0x1005, out, sizeof out);
  EXPECT_STREQ(out, "SUPPO");
}

TEST(ItemSize, EveryType) {
  const size_t sizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 0, 34, 66, 130, 256};
  for (TW_UINT16 t = 0; t <= TWTY_STR255; ++t) EXPECT_EQ(GetItemSize(t), sizes[t]) << t;
  EXPECT_EQ(GetItemSize(13), 0u);
  EXPECT_EQ(GetItemSize(0xFFFF), 0u);
}

namespace {
void ExpectFix(float x, int whole, unsigned frac) {
  TW_FIX32 f = FloatToFIX32(x);
  EXPECT_EQ(f.Whole, whole) << x;
  EXPECT_EQ(f.Frac, frac) << x;
}
}  // namespace

TEST(Fix32, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(FIX32ToFloat(TW_FIX32{-1, 0x8000}), -0.5f);
  ExpectFix(-0.5f, -1, 0x8000);
  ExpectFix(1.5f, 1, 0x8000);
  ExpectFix(0.5f / 65536, 0, 1);
  ExpectFix(-0.5f / 65536, -1, 0xFFFF);
  ExpectFix(0.0f, 0, 0);
  ExpectFix(-32768.0f, -32768, 0);
  ExpectFix(32767.5f, 32767, 0x8000);
}

TEST(Fix32, OutOfRangeGivesMinusWhole32768) {
  ExpectFix(32768.0f, -32768, 0);
  ExpectFix(1e9f, -32768, 0);
  ExpectFix(-32769.0f, -32768, 0);
  ExpectFix(NAN, -32768, 0);
  ExpectFix(INFINITY, -32768, 0);
  ExpectFix(-INFINITY, -32768, 0);
}

TEST(Fix32, TenthComesBackAsTheNearestFraction) {
  TW_FIX32 f = FloatToFIX32(0.1f);
  EXPECT_EQ(f.Whole, 0);
  EXPECT_EQ(f.Frac, static_cast<unsigned>(std::lround(0.1 * 65536)));
  EXPECT_EQ(FIX32ToFloat(f), static_cast<float>(f.Frac / 65536.0));
  EXPECT_NE(FIX32ToFloat(f), 0.1f);
  // Whole + Frac needs more than 24 bits: rounded once to single precision.
  EXPECT_EQ(FIX32ToFloat(TW_FIX32{30000, 1}), static_cast<float>(30000 + 1 / 65536.0));
}

class Frames : public ::testing::Test {
 protected:
  Frames() : g(new TwainGlobals{}) { g->hostParams = host.Context(); }
  TW_FRAME Parse(const std::string& text) {
    TW_FRAME f;
    std::memset(&f, 0x55, sizeof f);
    UnstringFrame(g.get(), &f, text.c_str(), 212);
    return f;
  }
  FakeHost host;
  std::unique_ptr<TwainGlobals> g;
};

// GetFldVal reaches the host only through its read-value service, numbers included;
// GetFldInt and GetFldLong through the read-number service.
TEST_F(Frames, HostReadsGoThroughTheirOwnService) {
  host.SetNumber(212, 2.5);
  HostFloat value = 0;
  GetFldVal(212, kValueNumber, 10, &value, host.Context());
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(host.readValueCalls, 1);
  EXPECT_EQ(host.readNumberCalls, 0);
  EXPECT_EQ(GetFldLong(212, host.Context()), 2);
  EXPECT_EQ(host.readValueCalls, 1);
  EXPECT_EQ(host.readNumberCalls, 1);
}

TEST_F(Frames, StringFrameUsesTheHostsDigits) {
  char out[64] = "";
  TW_FRAME f{{0, 0}, {0, 0}, {8, 0x8000}, {11, 0}};
  StringFrame(g.get(), f, out, sizeof out, 212);
  EXPECT_STREQ(out, "0,0,8.5,11");
  StringFrame(g.get(), TW_FRAME{{-1, 0x8000}, {1, 0}, {2, 0}, {3, 0}}, out, sizeof out, 212);
  EXPECT_STREQ(out, "0,0,8.5,11-0.5,1,2,3");  // appends
  char small[6] = "";
  StringFrame(g.get(), f, small, sizeof small, 212);
  EXPECT_STREQ(small, "0,0,8");
}

TEST_F(Frames, UnstringFrameTokens) {
  TW_FRAME f = Parse("1,2,3");
  EXPECT_EQ(FIX32ToFloat(f.Left), 1);
  EXPECT_EQ(FIX32ToFloat(f.Top), 2);
  EXPECT_EQ(FIX32ToFloat(f.Right), 3);
  EXPECT_EQ(FIX32ToFloat(f.Bottom), 0);  // the host's number for an empty text
  EXPECT_EQ(host.Text(212), "");

  f = Parse("1,2,3,4,");
  EXPECT_EQ(host.Text(212), "4,");  // the final comma stays in the last token
  EXPECT_EQ(FIX32ToFloat(f.Bottom), 4);

  f = Parse("0.25,2,8.5,11,5");
  EXPECT_EQ(FIX32ToFloat(f.Left), 0.25f);
  EXPECT_EQ(FIX32ToFloat(f.Right), 8.5f);
  EXPECT_EQ(FIX32ToFloat(f.Bottom), 11);
  EXPECT_EQ(host.Text(212), "11");

  f = Parse("1,2,3,,");
  EXPECT_EQ(host.Text(212), ",");
  EXPECT_EQ(FIX32ToFloat(f.Bottom), 0);
  f = Parse(std::string(300, '7'));
  EXPECT_EQ(f.Left.Whole, -32768);  // 255 digits: out of FIX32 range
  EXPECT_EQ(f.Top.Whole, 0);        // the rest are empty
}
