// Every TWAIN return and condition code becomes the result code the host sees. The
// condition codes come from the virtual scanner through the build's real DSM.
#include <string>

#include "tests/support/fixture.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace kvtest {
namespace {

class ConditionCodeTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  // Makes the scanner fail one capability request with condition code cc, sends it, and
  // translates the failure as every caller does.
  int16_t TranslateSourceFailure(int cc) {
    EXPECT_EQ(0, Scanner("fail 1 1 1 1 " + std::to_string(cc)));
    TwainGlobals* g = Record();
    TW_CAPABILITY cap{};
    cap.Cap = CAP_XFERCOUNT;
    cap.ConType = TWON_DONTCARE16;
    TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    EXPECT_EQ(TWRC_FAILURE, rc);
    return xlateErr(g, &g->sourceIdentity, rc);
  }
};

TEST_F(ConditionCodeTest, EveryConditionCodeHasItsResult) {
  const struct {
    int cc;
    int16_t result;
  } rows[] = {{0, 2001},  {1, 3001},  {2, 3002},  {3, kWindowsBuild ? 3003 : 15},
              {4, 3004},  {5, 13},    {6, 9},     {7, 3007},
              {8, 3008},  {9, 3009},  {10, 10},   {11, 14},
              {12, 11},   {13, 9},    {14, 11},   {15, 11},
              {16, 3016}, {17, 3017}, {18, 3018}, {200, 3200}};
  for (const auto& row : rows) EXPECT_EQ(row.result, TranslateSourceFailure(row.cc)) << "condition " << row.cc;
}

// A document scanner's conditions (TWAIN 2) keep their number; a source's own codes, from
// 0x8000 up, and any code that would not fit stay positive: 3999.
TEST_F(ConditionCodeTest, FeederConditionsAndTheSourcesOwnCodesStayPositive) {
  for (int cc = TWCC_NOTEMPTY; cc <= TWCC_NOMEDIA; ++cc) EXPECT_EQ(3000 + cc, TranslateSourceFailure(cc)) << cc;
  EXPECT_EQ(32767, TranslateSourceFailure(29767));
  for (int cc : {29768, 0x7FFF, 0x8000, 0x8001, 0xFFFF})
    EXPECT_EQ(3999, TranslateSourceFailure(cc)) << "condition " << cc;
}

TEST_F(ConditionCodeTest, OtherReturnCodesNeedNoStatus) {
  TwainGlobals* g = Record();
  long before = DsmCalls();
  EXPECT_EQ(0, xlateErr(g, &g->sourceIdentity, TWRC_SUCCESS));
  EXPECT_EQ(5, xlateErr(g, &g->sourceIdentity, TWRC_CANCEL));
  EXPECT_EQ(2002, xlateErr(g, &g->sourceIdentity, TWRC_CHECKSTATUS));
  EXPECT_EQ(2005, xlateErr(g, &g->sourceIdentity, TWRC_NOTDSEVENT));
  EXPECT_EQ(2006, xlateErr(g, &g->sourceIdentity, TWRC_XFERDONE));
  EXPECT_EQ(2009, xlateErr(g, &g->sourceIdentity, TWRC_DATANOTAVAILABLE));
  EXPECT_EQ(32767, xlateErr(g, &g->sourceIdentity, 30767));
  for (TW_UINT16 rc : {30768, 0x8000, 0x8001, 0xFFFF})
    EXPECT_EQ(2999, xlateErr(g, &g->sourceIdentity, rc)) << rc;
  EXPECT_EQ(before, DsmCalls());
}

TEST_F(ConditionCodeTest, AFailingStatusRequestPassesItsOwnReturnCode) {
  ASSERT_EQ(0, Scanner("fail 1 8 1 1 0"));  // the source's DAT_STATUS fails
  TwainGlobals* g = Record();
  EXPECT_EQ(1, xlateErr(g, &g->sourceIdentity, TWRC_FAILURE));
}

TEST_F(ConditionCodeTest, TheStatusIsAskedOfTheDsmAfterADsmRequest) {
  TwainGlobals* g = Record();
  // Opening the already open source again fails in the DSM, not in the source.
  TW_IDENTITY again = g->sourceIdentity;
  TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &again);
  ASSERT_EQ(TWRC_FAILURE, rc);
  int16_t r = xlateErr(g, nullptr, rc);
  EXPECT_TRUE(r == 14 || r == 3004 || r == 13) << r;
}

}  // namespace
}  // namespace kvtest
