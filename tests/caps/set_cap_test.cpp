// SetCap and SetCapInt: what MSG_SET carries for each container the source returns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "caps/conversions.h"
#include "caps/write_caps.h"
#include "tests/caps/cap_fixture.h"

using namespace capstest;

namespace {

constexpr int16_t kField = 212;
const auto& O = tw::kContainers;

uint32_t At32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
  return v;
}
uint32_t FixBits(float v) { return At32(Fix(v), 0); }

class SetCapRoute : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env.open) << env.route->Name(); }
  void TearDown() override {
    long live = env.route->LiveContainers();
    if (live >= 0) {
      EXPECT_EQ(live, env.liveBefore) << "a container was not released";
    }
  }
  // Sets `cap` from a number (or text) after the source answers MSG_GET with (con, bytes).
  int16_t SetNumber(TW_UINT16 cap, TW_UINT16 con, const Bytes& bytes, HostFloat value) {
    env.host.SetNumber(kField, value);
    return Set(cap, con, bytes);
  }
  int16_t SetText(TW_UINT16 cap, TW_UINT16 con, const Bytes& bytes, const std::string& value) {
    env.host.SetText(kField, value);
    return Set(cap, con, bytes);
  }
  int16_t Set(TW_UINT16 cap, TW_UINT16 con, const Bytes& bytes) {
    env.route->Forget();
    env.route->ScriptGet(cap, Answer{con, bytes});
    return SetCap(env.g.get(), cap, kField);
  }
  SentSet Sent(TW_UINT16 cap) { return env.route->LastSet(cap); }
  uint32_t SentItem(TW_UINT16 cap) { return At32(Sent(cap).bytes, O.oneValueItem); }
  CapsEnv env;
};

}  // namespace

TEST_F(SetCapRoute, EnumerationIsSentAsOneValue) {
  Bytes e = Enumeration(TWTY_UINT16, 3, 2, 2, Cat({U16(0), U16(1), U16(2)}));
  EXPECT_EQ(SetNumber(ICAP_PIXELTYPE, TWON_ENUMERATION, e, 1), 0);
  SentSet s = Sent(ICAP_PIXELTYPE);
  ASSERT_TRUE(s.sent);
  EXPECT_EQ(s.conType, TWON_ONEVALUE);
  EXPECT_EQ(At32(s.bytes, 0) & 0xFFFF, TWTY_UINT16);
  EXPECT_EQ(SentItem(ICAP_PIXELTYPE), 1u);
}

TEST_F(SetCapRoute, IntegerItemsKeepAll32Bits) {
  EXPECT_EQ(SetNumber(CAP_INDICATORS, TWON_ONEVALUE, OneValue(TWTY_BOOL, U16(1)), 5), 0);
  EXPECT_EQ(SentItem(CAP_INDICATORS), 5u);  // a boolean is not reduced to 0 or 1
  EXPECT_EQ(SetNumber(CAP_XFERCOUNT, TWON_ONEVALUE, OneValue(TWTY_INT16, U16(1)), -1.9), 0);
  EXPECT_EQ(SentItem(CAP_XFERCOUNT), 0xFFFFFFFFu);  // truncated toward zero
  // An unsigned 32-bit value of 2^31 and more keeps its bits instead of stopping at 2^31 - 1.
  Bytes u32 = OneValue(TWTY_UINT32, U32(0));
  struct {
    HostFloat in;
    uint32_t out;
  } rows[] = {{3000000000.0, 0xB2D05E00u}, {2147483648.0, 0x80000000u}, {4294967295.0, 0xFFFFFFFFu},
              {1e12, 0xFFFFFFFFu},         {-3e9, 0x80000000u},         {2147483647.9, 0x7FFFFFFFu}};
  for (const auto& row : rows) {
    EXPECT_EQ(SetNumber(0x8123, TWON_ONEVALUE, u32, row.in), 0);
    EXPECT_EQ(SentItem(0x8123), row.out) << double(row.in);
  }
}

TEST_F(SetCapRoute, IntegerRangeClampsByTheItemsSign) {
  Bytes r = Range(TWTY_INT16, 50, 600, 50, 100, 100);
  struct {
    HostFloat in;
    uint32_t out;
  } rows[] = {{700, 600}, {10, 50}, {75, 75}, {-5, 50}, {1e10, 600}, {-1e10, 50}};
  for (const auto& row : rows) {
    EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, r, row.in), 0);
    SentSet s = Sent(ICAP_XRESOLUTION);
    EXPECT_EQ(s.conType, TWON_ONEVALUE);
    EXPECT_EQ(SentItem(ICAP_XRESOLUTION), row.out) << double(row.in);
    EXPECT_EQ(At32(s.bytes, O.rangeCurrent), row.out);
  }
  // Signed bounds below zero, whether the source sign-extended them or not.
  Bytes signed32 = Range(TWTY_INT32, uint32_t(-10), 10, 1, 0, 0);
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, signed32, -5), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), uint32_t(-5));
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, signed32, -50), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), uint32_t(-10));
  Bytes signed16 = Range(TWTY_INT16, 0xFC18, 1000, 1, 0, 0);  // -1000 in 16 bits
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, signed16, -2000), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), 0xFC18u);
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, signed16, -7), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), uint32_t(-7));
  // An unsigned range: a negative value is below the minimum, 2^31 and more compare as such.
  Bytes unsigned32 = Range(TWTY_UINT32, 10, 3000000000u, 1, 10, 10);
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, unsigned32, -1), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), 10u);
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, unsigned32, 2500000000.0), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), 2500000000u);
  EXPECT_EQ(SetNumber(ICAP_XRESOLUTION, TWON_RANGE, unsigned32, 4000000000.0), 0);
  EXPECT_EQ(SentItem(ICAP_XRESOLUTION), 3000000000u);
}

TEST_F(SetCapRoute, Fix32RangeComparesAsNumbers) {
  Bytes r = Range(TWTY_FIX32, FixBits(-1000), FixBits(1000), FixBits(1), 0, 0);
  EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, 5000), 0);
  EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(1000));
  EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, -1000.5), 0);
  EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(-1000));
  EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, -2.25), 0);
  EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(-2.25f));  // negative but inside: kept
  // Beyond what a FIX32 holds: still the bound, never a wrapped-around number.
  for (HostFloat big : {32768.0, 40000.0, 1e9}) {
    EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, big), 0);
    EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(1000)) << double(big);
    EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, -big), 0);
    EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(-1000)) << double(-big);
  }
  EXPECT_EQ(SetNumber(ICAP_BRIGHTNESS, TWON_RANGE, r, std::nan("")), 0);  // no number: the minimum
  EXPECT_EQ(SentItem(ICAP_BRIGHTNESS), FixBits(-1000));

  Bytes fromOne = Range(TWTY_FIX32, FixBits(1), FixBits(10), FixBits(1), 0, 0);
  EXPECT_EQ(SetNumber(ICAP_GAMMA, TWON_RANGE, fromOne, 0.5), 0);
  EXPECT_EQ(SentItem(ICAP_GAMMA), FixBits(1));
  EXPECT_EQ(SetNumber(ICAP_GAMMA, TWON_RANGE, fromOne, 1.5), 0);  // between steps: unchanged
  EXPECT_EQ(SentItem(ICAP_GAMMA), FixBits(1.5f));
}

TEST_F(SetCapRoute, Fix32OneValueIsTheNearestToTheSingle) {
  EXPECT_EQ(SetNumber(ICAP_GAMMA, TWON_ONEVALUE, OneValue(TWTY_FIX32, Fix(2.2f)), 72.1), 0);
  EXPECT_EQ(SentItem(ICAP_GAMMA), FixBits(72.1f));
}

TEST_F(SetCapRoute, ShapesThatAreNotSet) {
  EXPECT_EQ(SetNumber(CAP_SUPPORTEDCAPS, TWON_ARRAY, Array(TWTY_UINT16, 2, Cat({U16(1), U16(2)})), 3), 0);
  EXPECT_FALSE(Sent(CAP_SUPPORTEDCAPS).sent);
  EXPECT_EQ(SetText(ICAP_HALFTONES, TWON_RANGE, Range(TWTY_STR32, 0, 0, 0, 0, 0), "x"), 0);
  EXPECT_FALSE(Sent(ICAP_HALFTONES).sent);
  // A container type TWAIN does not define has no item to rewrite: 9, nothing sent.
  EXPECT_EQ(SetNumber(ICAP_GAMMA, 77, OneValue(TWTY_UINT16, U16(1)), 3), 9);
  EXPECT_FALSE(Sent(ICAP_GAMMA).sent);
}

TEST_F(SetCapRoute, FrameFromText) {
  EXPECT_EQ(SetText(ICAP_FRAMES, TWON_ONEVALUE, OneValue(TWTY_FRAME, Frame(0, 0, 8.5f, 11)), "1,2,3.5,4"), 0);
  SentSet s = Sent(ICAP_FRAMES);
  ASSERT_TRUE(s.sent);
  EXPECT_EQ(Bytes(s.bytes.begin() + O.oneValueItem, s.bytes.begin() + O.oneValueItem + 16),
            Frame(1, 2, 3.5f, 4));
  EXPECT_EQ(env.host.Text(kField), "4");  // the field holds the last edge
}

TEST_F(SetCapRoute, StringsAreCutToTheirLimit) {
  Bytes e = Enumeration(TWTY_STR32, 1, 0, 0, Str(TWTY_STR32, "None"));
  EXPECT_EQ(SetText(ICAP_HALFTONES, TWON_ENUMERATION, e, std::string(40, 'd')), 0);
  Bytes sent = Sent(ICAP_HALFTONES).bytes;
  Bytes expect = Str(TWTY_STR32, std::string(31, 'd'));
  EXPECT_EQ(Bytes(sent.begin() + O.oneValueItem, sent.begin() + O.oneValueItem + 32),
            Bytes(expect.begin(), expect.begin() + 32));
}

TEST_F(SetCapRoute, ValuesNeverLeaveASmallContainer) {
  // A one-value string container with room for 6 bytes from Item on.
  Bytes small = OneValue(TWTY_STR255, Bytes(6, 'z'));
  EXPECT_EQ(SetText(ICAP_HALFTONES, TWON_ONEVALUE, small, "Diffusion"), 0);
  SentSet s = Sent(ICAP_HALFTONES);
  ASSERT_TRUE(s.sent);
  ASSERT_EQ(s.bytes.size(), small.size());
  Bytes item(s.bytes.begin() + O.oneValueItem, s.bytes.end());
  const Bytes pascal{5, 'D', 'i', 'f', 'f', 'u'}, terminated{'D', 'i', 'f', 'f', 'u', 0};
  EXPECT_EQ(item, tw::native::kPascalStrings ? pascal : terminated);

  // A frame that does not fit, a range without CurrentValue, an item slot cut short.
  EXPECT_EQ(SetText(ICAP_FRAMES, TWON_ONEVALUE, OneValue(TWTY_FRAME, U32(0)), "1,2,3,4"), 0);
  EXPECT_FALSE(Sent(ICAP_FRAMES).sent);
  Bytes shortRange = Range(TWTY_INT16, 0, 10, 1, 0, 0);
  shortRange.resize(O.rangeCurrent + 2);
  EXPECT_EQ(SetNumber(ICAP_THRESHOLD, TWON_RANGE, shortRange, 5), 0);
  EXPECT_FALSE(Sent(ICAP_THRESHOLD).sent);
  Bytes shortItem = OneValue(TWTY_UINT16, U16(1));
  shortItem.resize(O.oneValueItem + 2);
  EXPECT_EQ(SetNumber(ICAP_UNITS, TWON_ONEVALUE, shortItem, 1), 0);
  EXPECT_FALSE(Sent(ICAP_UNITS).sent);
  EXPECT_EQ(SetNumber(ICAP_UNITS, TWON_ONEVALUE, Bytes(1, 0), 1), 0);
  EXPECT_FALSE(Sent(ICAP_UNITS).sent);
}

TEST_F(SetCapRoute, FailuresAreTranslated) {
  struct {
    TW_UINT16 rc, cc;
    int16_t result;
  } rows[] = {
      {TWRC_FAILURE, TWCC_BADVALUE, 10}, {TWRC_FAILURE, TWCC_CAPBADOPERATION, 11}, {TWRC_CHECKSTATUS, 0, 2002}};
  for (const auto& r : rows) {
    env.route->ScriptSet(ICAP_PIXELTYPE, r.rc, r.cc);
    EXPECT_EQ(SetNumber(ICAP_PIXELTYPE, TWON_ONEVALUE, OneValue(TWTY_UINT16, U16(0)), 9), r.result);
  }
  Answer refused;
  refused.rc = TWRC_FAILURE;
  refused.cc = TWCC_CAPUNSUPPORTED;
  env.route->Forget();
  env.route->ScriptGet(0x8001, refused);
  EXPECT_EQ(SetCap(env.g.get(), 0x8001, kField), 9);
  EXPECT_FALSE(Sent(0x8001).sent);
}

TEST_F(SetCapRoute, SetCapIntOnlyForIntegerOneValuesAndEnumerations) {
  env.route->ScriptGet(ICAP_XFERMECH,
                       Answer{TWON_ENUMERATION, Enumeration(TWTY_UINT16, 2, 0, 0, Cat({U16(0), U16(1)}))});
  EXPECT_EQ(SetCapInt(env.g.get(), ICAP_XFERMECH, TWSX_FILE), 0);
  EXPECT_EQ(SentItem(ICAP_XFERMECH), uint32_t(TWSX_FILE));
  EXPECT_EQ(Sent(ICAP_XFERMECH).conType, TWON_ONEVALUE);

  env.route->Forget();
  env.route->ScriptGet(ICAP_IMAGEFILEFORMAT, Answer{TWON_RANGE, Range(TWTY_UINT16, 0, 9, 1, 0, 0)});
  EXPECT_EQ(SetCapInt(env.g.get(), ICAP_IMAGEFILEFORMAT, TWFF_PNG), 0);
  EXPECT_FALSE(Sent(ICAP_IMAGEFILEFORMAT).sent);
  env.route->ScriptGet(ICAP_IMAGEFILEFORMAT,
                       Answer{TWON_ENUMERATION, Enumeration(TWTY_STR32, 1, 0, 0, Str(TWTY_STR32, "x"))});
  EXPECT_EQ(SetCapInt(env.g.get(), ICAP_IMAGEFILEFORMAT, TWFF_PNG), 0);
  EXPECT_FALSE(Sent(ICAP_IMAGEFILEFORMAT).sent);
  env.route->ScriptSet(ICAP_XFERMECH, TWRC_FAILURE, TWCC_SEQERROR);
  env.route->ScriptGet(ICAP_XFERMECH, Answer{TWON_ONEVALUE, OneValue(TWTY_UINT16, U16(0))});
  EXPECT_EQ(SetCapInt(env.g.get(), ICAP_XFERMECH, TWSX_NATIVE), 14);
}
