// GetCap over every container path, well-formed and hostile, through the build's route.
#include <gtest/gtest.h>

#include <string>

#include "caps/conversions.h"
#include "caps/read_caps.h"
#include "tests/caps/cap_fixture.h"

using namespace capstest;

namespace {

constexpr int16_t kField = 212;
const auto& O = tw::kContainers;

struct GetCase {
  const char* label;
  TW_UINT16 cap;
  Answer answer;
  int listMode, useDefault;
  enum { kNumber, kText, kUnchanged } expect;
  HostFloat number;
  std::string text;
  int16_t result;
};

GetCase Num(const char* label, TW_UINT16 con, Bytes b, int list, int def, HostFloat n) {
  return GetCase{label, ICAP_BRIGHTNESS, Answer{con, b}, list, def, GetCase::kNumber, n, "", 0};
}
GetCase Txt(const char* label, TW_UINT16 con, Bytes b, int list, int def, std::string t) {
  return GetCase{label, ICAP_BRIGHTNESS, Answer{con, b}, list, def, GetCase::kText, 0, t, 0};
}
GetCase Same(const char* label, TW_UINT16 con, Bytes b, int list, int def) {
  return GetCase{label, ICAP_BRIGHTNESS, Answer{con, b}, list, def, GetCase::kUnchanged, 0, "", 0};
}
Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}
Bytes U16s(std::initializer_list<uint16_t> v) {
  Bytes out;
  for (uint16_t x : v) out = Cat({out, U16(x)});
  return out;
}
Bytes Fixes(std::initializer_list<float> v) {
  Bytes out;
  for (float x : v) out = Cat({out, Fix(x)});
  return out;
}
uint32_t FixBits(float v) {
  Bytes b = Fix(v);
  return b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
}

std::vector<GetCase> Cases() {
  const Bytes e3 = U16s({10, 20, 30});
  std::vector<GetCase> c = {
      // one value
      Num("uint16 one value in list mode is the number", TWON_ONEVALUE, OneValue(TWTY_UINT16, U16(7)), 1, 0, 7),
      Num("bool one value", TWON_ONEVALUE, OneValue(TWTY_BOOL, U16(1)), 0, 0, 1),
      Txt("bool one value in list mode", TWON_ONEVALUE, OneValue(TWTY_BOOL, U16(1)), 1, 0, "0,1"),
      Num("uint32 all ones is -1", TWON_ONEVALUE, OneValue(TWTY_UINT32, U32(0xFFFFFFFF)), 0, 0, -1),
      Num("int8 sign", TWON_ONEVALUE, OneValue(TWTY_INT8, U32(0xFF)), 0, 0, -1),
      Num("int16 sign", TWON_ONEVALUE, OneValue(TWTY_INT16, U32(0x8000)), 0, 0, -32768),
      Num("uint8", TWON_ONEVALUE, OneValue(TWTY_UINT8, U32(0xFFFF)), 0, 0, 255),
      Num("int32", TWON_ONEVALUE, OneValue(TWTY_INT32, U32(0x80000000)), 0, 0, -2147483648.0),
      Num("fix32", TWON_ONEVALUE, OneValue(TWTY_FIX32, Fix(2.2f)), 0, 1, FIX32ToFloat(FloatToFIX32(2.2f))),
      Txt("string", TWON_ONEVALUE, OneValue(TWTY_STR32, Str(TWTY_STR32, "Dither")), 0, 0, "Dither"),
      Txt("frame", TWON_ONEVALUE, OneValue(TWTY_FRAME, Frame(0, 0, 8.5f, 11)), 1, 0, "0,0,8.5,11"),
      // enumeration and array, one item
      Num("enum current", TWON_ENUMERATION, Enumeration(TWTY_UINT16, 3, 1, 2, e3), 0, 0, 20),
      Num("enum default", TWON_ENUMERATION, Enumeration(TWTY_UINT16, 3, 1, 2, e3), 0, 1, 30),
      Num("enum current past the end", TWON_ENUMERATION, Enumeration(TWTY_UINT16, 3, 3, 2, e3), 0, 1, 10),
      Num("enum negative default", TWON_ENUMERATION, Enumeration(TWTY_UINT16, 3, 1, 0xFFFF, e3), 0, 1, 10),
      Num("enum bool item is a number", TWON_ENUMERATION, Enumeration(TWTY_BOOL, 2, 1, 0, U16s({0, 1})), 0, 0,
          1),
      Txt("enum string item", TWON_ENUMERATION,
          Enumeration(TWTY_STR32, 2, 1, 0, Cat({Str(TWTY_STR32, "None"), Str(TWTY_STR32, "Diffusion")})), 0, 0,
          "Diffusion"),
      Txt("enum frame item is empty", TWON_ENUMERATION, Enumeration(TWTY_FRAME, 1, 0, 0, Frame(1, 2, 3, 4)), 0,
          0, ""),
      Num("array takes item 0", TWON_ARRAY, Array(TWTY_INT16, 2, U16s({0xFFFE, 5})), 0, 0, -2),
      // lists
      Txt("enum fix32 list", TWON_ENUMERATION, Enumeration(TWTY_FIX32, 3, 0, 0, Fixes({75, 100, 8.5f})), 1, 0,
          "75,100,8.5"),
      Txt("enum bool list is 0,1", TWON_ENUMERATION, Enumeration(TWTY_BOOL, 1, 0, 0, U16s({1})), 1, 0, "0,1"),
      Txt("enum frame list is empty", TWON_ENUMERATION, Enumeration(TWTY_FRAME, 3, 0, 0, Bytes(48, 1)), 1, 0,
          ""),
      Txt("array string list", TWON_ARRAY,
          Array(TWTY_STR32, 2, Cat({Str(TWTY_STR32, "a"), Str(TWTY_STR32, "")})), 1, 0, "a,"),
      // ranges
      Num("int range current", TWON_RANGE, Range(TWTY_INT16, 50, 600, 1, 100, 0xFFFFFFFF), 0, 1, -1),
      Num("bool range current", TWON_RANGE, Range(TWTY_BOOL, 0, 1, 1, 0, 5), 0, 0, 1),
      Num("fix32 range current", TWON_RANGE, Range(TWTY_FIX32, 0, 0, 0, 0, FixBits(-0.5f)), 0, 0, -0.5),
      Txt("int range list", TWON_RANGE, Range(TWTY_INT16, 50, 600, 1, 100, 100), 1, 0, "50:600:1"),
      Txt("fix32 range list", TWON_RANGE, Range(TWTY_FIX32, FixBits(-1000), FixBits(1000), FixBits(0.5f), 0, 0),
          1, 0, "-1000:1000:0.5"),
      Txt("bool range list is empty", TWON_RANGE, Range(TWTY_BOOL, 0, 1, 1, 0, 0), 1, 0, ""),
      Txt("frame range is empty", TWON_RANGE, Range(TWTY_FRAME, 0, 1, 1, 0, 0), 0, 0, ""),
      // A container type TWAIN does not define: 9, nothing filled, in both modes.
      GetCase{"unknown container type", ICAP_BRIGHTNESS, Answer{9, OneValue(TWTY_UINT16, U16(7))}, 0, 0,
              GetCase::kUnchanged, 0, "", 9},
      GetCase{"unknown container type, list mode", ICAP_BRIGHTNESS,
              Answer{0x8000, OneValue(TWTY_UINT16, U16(7))}, 1, 0, GetCase::kUnchanged, 0, "", 9},
      // hostile containers
      Txt("NumItems past the container lists what is there", TWON_ENUMERATION,
          Enumeration(TWTY_UINT16, 1000, 0, 0, e3), 1, 0, "10,20,30"),
      Num("index inside NumItems but past the container", TWON_ENUMERATION,
          Enumeration(TWTY_UINT16, 1000, 500, 0, e3), 0, 0, 10),
      Same("NumItems 0", TWON_ENUMERATION, Enumeration(TWTY_UINT16, 0, 0, 0, e3), 0, 0),
      Txt("NumItems 0 in list mode", TWON_ARRAY, Array(TWTY_UINT16, 0, e3), 1, 0, ""),
      Same("negative NumItems", TWON_ARRAY, Array(TWTY_UINT16, 0xFFFF, e3), 0, 0),
      Same("item cut by the container end", TWON_ARRAY, Cut(Array(TWTY_UINT32, 1, U32(9)), O.arrayItemList + 3),
           0, 0),
      Same("enumeration header cut", TWON_ENUMERATION,
           Cut(Enumeration(TWTY_UINT16, 1, 0, 0, e3), O.enumCurrentIndex), 0, 0),
      Same("empty container", TWON_ONEVALUE, Bytes(), 0, 0),
      Same("one value without its item", TWON_ONEVALUE, Cut(OneValue(TWTY_UINT16, U16(7)), O.oneValueItem + 1),
           0, 0),
      Txt("frame cut by the container end", TWON_ONEVALUE, Cut(OneValue(TWTY_FRAME, Frame(1, 2, 3, 4)), 12), 0,
          0, ""),
      Txt("string cut by the container end", TWON_ONEVALUE,
          Cut(OneValue(TWTY_STR255, Str(TWTY_STR255, "abcdefgh")), O.oneValueItem + 6), 0, 0,
          tw::native::kPascalStrings ? "abcde" : "abcdef"),
      Txt("string range reads to the container end only", TWON_RANGE,
          Cat({Cut(Range(TWTY_STR32, 0, 0, 0, 0, 0), O.rangeCurrent), Bytes(4, 'q')}), 0, 0,
          tw::native::kPascalStrings ? "qqq" : "qqqq"),
      Txt("string range list is empty", TWON_RANGE, Range(TWTY_STR32, 0, 0, 0, 0, 0), 1, 0, ""),
      Same("range without its fields", TWON_RANGE, Cut(Range(TWTY_INT16, 1, 2, 3, 4, 5), O.rangeStep), 1, 0),
  };
  // A string item that fills its slot with no terminator, or a length byte past the slot.
  Bytes full = OneValue(TWTY_STR32, Bytes(34, 'A'));
  if (tw::native::kPascalStrings) full[O.oneValueItem] = 200;
  c.push_back(Txt("unterminated string", TWON_ONEVALUE, full, 0, 0,
                  std::string(tw::native::kPascalStrings ? 33 : 34, 'A')));
  // Failures
  GetCase fail = Same("source refuses the capability", TWON_ONEVALUE, Bytes(), 0, 0);
  fail.answer.rc = TWRC_FAILURE;
  fail.answer.cc = TWCC_CAPUNSUPPORTED;
  fail.result = 9;
  c.push_back(fail);
  GetCase none = Same("success without a container", TWON_ONEVALUE, Bytes(), 0, 0);
  none.answer.container = false;
  c.push_back(none);
  return c;
}

class GetCapRoute : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env.open) << env.route->Name(); }
  void TearDown() override {
    long live = env.route->LiveContainers();
    if (live >= 0) {
      EXPECT_EQ(live, env.liveBefore) << "a container was not released";
    }
  }
  int16_t Get(TW_UINT16 cap, const Answer& a, int listMode, int useDefault = 0) {
    env.route->ScriptGet(cap, a);
    return GetCap(env.g.get(), cap, kField, listMode, useDefault);
  }
  CapsEnv env;
};

}  // namespace

TEST_F(GetCapRoute, ContainerCases) {
  for (const GetCase& c : Cases()) {
    SCOPED_TRACE(c.label);
    env.host.SetText(kField, "untouched");
    EXPECT_EQ(Get(c.cap, c.answer, c.listMode, c.useDefault), c.result);
    switch (c.expect) {
      case GetCase::kNumber:
        EXPECT_FALSE(env.host.IsText(kField));
        EXPECT_EQ(env.host.Number(kField), c.number);
        break;
      case GetCase::kText:
        EXPECT_TRUE(env.host.IsText(kField));
        EXPECT_EQ(env.host.Text(kField), c.text);
        break;
      case GetCase::kUnchanged:
        EXPECT_EQ(env.host.Text(kField), "untouched");
        break;
    }
  }
}

TEST_F(GetCapRoute, SupportedCapsAreNamed) {
  Bytes ids = U16s({0x0001, 0x1005, 0x1102, 0x1153, 0x1006});
  EXPECT_EQ(Get(CAP_SUPPORTEDCAPS, Answer{TWON_ARRAY, Array(TWTY_UINT16, 5, ids)}, 1), 0);
  EXPECT_EQ(env.host.Text(kField), kWindowsBuild ? "XFERCOUNT,SUPPORTEDCAPS,4354,4435,4102"
                                                 : "XFERCOUNT,SUPPORTEDCAPS,4354,JPEGQUALITY,4102");
  // The same identifiers under another capability are plain numbers.
  EXPECT_EQ(Get(ICAP_PIXELTYPE, Answer{TWON_ARRAY, Array(TWTY_UINT16, 2, U16s({1, 0x1005}))}, 1), 0);
  EXPECT_EQ(env.host.Text(kField), "1,4101");
}

TEST_F(GetCapRoute, ListIsCutAtItemBoundaries) {
  const std::string a(255, 'a');
  Bytes nine;
  for (int i = 0; i < 9; ++i) nine = Cat({nine, Str(TWTY_STR255, a)});
  EXPECT_EQ(Get(ICAP_HALFTONES, Answer{TWON_ARRAY, Array(TWTY_STR255, 9, nine)}, 1), 0);
  std::string eight = a;
  for (int i = 1; i < 8; ++i) eight += "," + a;
  EXPECT_EQ(env.host.Text(kField), eight);  // exactly 2,047 characters, no separator after

  // A left-out item keeps its separator; a shorter item after it still fits.
  Bytes items;
  for (int i = 0; i < 7; ++i) items = Cat({items, Str(TWTY_STR255, a)});
  items = Cat({items, Str(TWTY_STR255, "ab"), Str(TWTY_STR255, a), Str(TWTY_STR255, "y")});
  EXPECT_EQ(Get(ICAP_HALFTONES, Answer{TWON_ARRAY, Array(TWTY_STR255, 10, items)}, 1), 0);
  std::string seven = a;
  for (int i = 1; i < 7; ++i) seven += "," + a;
  EXPECT_EQ(env.host.Text(kField), seven + ",ab,,y");
}

TEST_F(GetCapRoute, FailureTranslations) {
  struct {
    TW_UINT16 rc, cc;
    int16_t result;
  } rows[] = {{TWRC_FAILURE, TWCC_BADCAP, 9},
              {TWRC_FAILURE, TWCC_SEQERROR, 14},
              {TWRC_FAILURE, TWCC_CAPBADOPERATION, 11},
              {TWRC_FAILURE, TWCC_BUMMER, 3001},
              {TWRC_CHECKSTATUS, 0, 2002}};
  for (const auto& r : rows) {
    Answer a;
    a.rc = r.rc;
    a.cc = r.cc;
    env.host.SetNumber(kField, 42);
    EXPECT_EQ(Get(ICAP_GAMMA, a, 0), r.result);
    EXPECT_EQ(env.host.Number(kField), 42);
  }
}
