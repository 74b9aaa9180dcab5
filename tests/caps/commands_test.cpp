// The name/value-pair loop of the three capability commands.
#include <gtest/gtest.h>

#include "caps/cap_commands.h"
#include "tests/caps/cap_fixture.h"

using namespace capstest;

namespace {

class CapCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(env.open) << env.route->Name(); }
  void TearDown() override {
    long live = env.route->LiveContainers();
    if (live >= 0) {
      EXPECT_EQ(live, env.liveBefore) << "a container was not released";
    }
  }
  void Offer(TW_UINT16 cap, TW_UINT16 con, const Bytes& b) { env.route->ScriptGet(cap, Answer{con, b}); }
  Bytes Pixel() { return Enumeration(TWTY_UINT16, 3, 2, 2, Cat({U16(0), U16(1), U16(2)})); }
  CapsEnv env;
};

}  // namespace

TEST_F(CapCommands, ListModeSticksAfterSupportedCaps) {
  Offer(CAP_SUPPORTEDCAPS, TWON_ARRAY, Array(TWTY_UINT16, 2, Cat({U16(0x0101), U16(0x1005)})));
  Offer(ICAP_PIXELTYPE, TWON_ENUMERATION, Pixel());
  env.host.SetParams({"4101", "", "PIXELTYPE", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 0);
  EXPECT_EQ(env.host.Text(212), "PIXELTYPE,SUPPORTEDCAPS");
  EXPECT_EQ(env.host.Text(214), "0,1,2");  // a list, not the current value

  Offer(ICAP_PIXELTYPE, TWON_ENUMERATION, Pixel());
  env.host.SetParams({"PIXELTYPE", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 0);
  EXPECT_FALSE(env.host.IsText(212));
  EXPECT_EQ(env.host.Number(212), 2);
}

TEST_F(CapCommands, NamesAreExactOrDecimal) {
  env.host.SetParams({"pixeltype", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 9);
  env.host.SetParams({"ICAP_PIXELTYPE", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 1), 9);
  env.host.SetParams({"0", ""});
  EXPECT_EQ(DoSetSourceCap(env.g.get()), 9);
  // An identifier the table has no word for.
  Offer(0x8123, TWON_ONEVALUE, OneValue(TWTY_INT32, U32(77)));
  env.host.SetParams({"33059", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 0);
  EXPECT_EQ(env.host.Number(212), 77);
}

TEST_F(CapCommands, FirstFailureStopsTheCall) {
  Offer(ICAP_PIXELTYPE, TWON_ENUMERATION, Pixel());
  Offer(ICAP_UNITS, TWON_ENUMERATION, Enumeration(TWTY_UINT16, 1, 0, 0, U16(0)));
  env.host.SetParams({"PIXELTYPE", "1", "NOSUCHCAP", "1", "UNITS", "0"});
  EXPECT_EQ(DoSetSourceCap(env.g.get()), 9);
  EXPECT_TRUE(env.route->LastSet(ICAP_PIXELTYPE).sent);
  EXPECT_FALSE(env.route->LastSet(ICAP_UNITS).sent);

  // A source's refusal stops it too, and leaves the value variable as it was.
  env.route->Forget();
  Answer refused;
  refused.rc = TWRC_FAILURE;
  refused.cc = TWCC_BADCAP;
  env.route->ScriptGet(ICAP_GAMMA, refused);
  env.host.SetParams({"GAMMA", "old", "UNITS", ""});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 9);
  EXPECT_EQ(env.host.Text(212), "old");
  EXPECT_EQ(env.host.Text(214), "");
}

TEST_F(CapCommands, OddParameterIsIgnored) {
  Offer(ICAP_PIXELTYPE, TWON_ENUMERATION, Pixel());
  env.host.SetParams({"PIXELTYPE", "0", "NOSUCHCAP"});
  EXPECT_EQ(DoSetSourceCap(env.g.get()), 0);
  EXPECT_EQ(env.route->LastSet(ICAP_PIXELTYPE).sent, true);
  env.host.SetParams({"PIXELTYPE"});
  EXPECT_EQ(DoGetSourceCap(env.g.get(), 0), 0);
}
