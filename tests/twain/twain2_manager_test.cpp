// The TWAIN 2 manager (TWAINDSM.DLL of the system folder, here the stand-in): the option DSM and
// what it binds, the identity each manager is given, the entry points and the callback route,
// and the manager's memory functions for a TWAIN 2 source (every block handed over is freed:
// the fixture counts them after every call).
#include <cstdlib>
#include <string>

#include "tests/support/fixture.h"

#if KV_WINDOWS_BUILD
#include <windows.h>

#include "standins/twaindsm/twaindsm.h"
#endif

namespace kvtest {
namespace {

#if KV_WINDOWS_BUILD

bool Loaded(const char* module) { return GetModuleHandleA(module) != nullptr; }

// Calls of applications' callbacks the loaded stand-in made; -1 when none is loaded.
long CallbacksMade() {
  HMODULE manager = GetModuleHandleA("twaindsm.dll");
  auto count = manager ? reinterpret_cast<TWAINDSM_CALLBACKS>(
                             reinterpret_cast<void*>(GetProcAddress(manager, "TwainDsmStandinCallbacks")))
                       : nullptr;
  return count ? static_cast<long>(count()) : -1;
}

class TwainManagerTest : public ExtensionTest {
 protected:
  void SetUp() override {
    if (std::getenv("KV_FAULT_DSM") || std::getenv("KV_FAKE_DSM")) GTEST_SKIP() << "needs the installed managers";
    ExtensionTest::SetUp();
  }
  std::string Option(const std::string& name) {
    velmar::CallResult r = CallFull("Twain.GetOption(\"" + name + "\", $v)");
    EXPECT_EQ("0", r.result.Display()) << name;
    return host->Variable("v").Display();
  }
};

TEST_F(TwainManagerTest, EachWidthStartsWithItsManager) {
  if (TestManager()) GTEST_SKIP() << "every test here runs against " << TestManager();
  EXPECT_EQ(kPointerBytes == 8 ? "\"AUTO\"" : "\"TWAIN_32\"", Option("DSM"));
  // The call that asks binds: the 64-bit build finds TWAINDSM.DLL in the system folder.
  EXPECT_EQ(kPointerBytes == 8 ? "\"TWAINDSM\"" : "\"TWAIN_32\"", Option("DSMINUSE"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(kPointerBytes == 8, Loaded("twaindsm.dll"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

TEST_F(TwainManagerTest, ANewManagerTakesEffectAtTheNextBinding) {
  EXPECT_EQ("11", Call("Twain.SetOption(\"DSMINUSE\", \"TWAINDSM\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"DSM\", \"twaindsm\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"DSM\", \"TWAIN\")"));
  // Nothing connected: at once.
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  EXPECT_EQ("\"TWAINDSM\"", Option("DSMINUSE"));
  EXPECT_TRUE(Loaded("twaindsm.dll"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  // Connected: the manager stays until Disconnect lets it go.
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAIN_32\")"));
  EXPECT_EQ("\"TWAINDSM\"", Option("DSMINUSE"));
  EXPECT_EQ("\"TWAIN_32\"", Option("DSM"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_FALSE(Loaded("twaindsm.dll"));
  EXPECT_EQ("\"TWAIN_32\"", Option("DSMINUSE"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_TRUE(Loaded("twain_32.dll"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"manager-switch.bmp\")"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  DeleteFileA("manager-switch.bmp");
  // AUTO takes the system folder's TWAINDSM.DLL, which both prefixes have.
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"AUTO\")"));
  EXPECT_EQ("\"TWAINDSM\"", Option("DSMINUSE"));
}

TEST_F(TwainManagerTest, TwaindsmMeetsATwain2ApplicationAndTwain32TheOldOne) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  const TW_IDENTITY& two = Record()->appIdentity;
  EXPECT_EQ(DF_APP2 | DF_DSM2, two.SupportedGroups & (DF_APP2 | DF_DSM2 | DF_DS2));
  EXPECT_EQ(DG_CONTROL | DG_IMAGE, two.SupportedGroups & 0xFFFF);
  EXPECT_EQ(2, two.ProtocolMajor);
  EXPECT_EQ(4, two.ProtocolMinor);
  EXPECT_EQ("0", Call("Twain.Disconnect()"));

  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAIN_32\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  const TW_IDENTITY& one = Record()->appIdentity;
  EXPECT_EQ(DG_CONTROL | DG_IMAGE, one.SupportedGroups);
  EXPECT_EQ(1, one.ProtocolMajor);
  EXPECT_EQ(8, one.ProtocolMinor);
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// Without TWAINDSM.DLL in the system folder, asking for it answers 4 at every call but the
// options' until the option goes back; AUTO then takes TWAIN_32.DLL.
TEST_F(TwainManagerTest, WithoutTwaindsmItsChoiceAnswers4AndAutoFallsBack) {
  char dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  const std::string manager = std::string(dir) + "\\twaindsm.dll", aside = manager + ".aside";
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAIN_32\")"));
  ASSERT_TRUE(MoveFileA(manager.c_str(), aside.c_str()));
  struct Restored {
    std::string from, to;
    ~Restored() { MoveFileA(from.c_str(), to.c_str()); }
  } restored{aside, manager};
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  EXPECT_EQ("4", Call("Twain.Connect()"));
  EXPECT_FALSE(Record()->dsmBound);
  // The options still answer, so that the choice can be put right.
  EXPECT_EQ("\"\"", Option("DSMINUSE"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"AUTO\")"));
  EXPECT_EQ("\"TWAIN_32\"", Option("DSMINUSE"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// A scan through TWAINDSM.DLL: the source's ready notice comes through the callback the
// extension registered, and the transfer runs afterwards on the host's thread.
TEST_F(TwainManagerTest, AScanThroughTwaindsmTakesItsNoticeThroughTheCallback) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  const long before = CallbacksMade();
  ASSERT_GE(before, 0);
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"callback-route.bmp\")"));
  EXPECT_GT(CallbacksMade(), before) << "the source's notices did not come through the callback";
  WIN32_FILE_ATTRIBUTE_DATA file{};
  EXPECT_TRUE(GetFileAttributesExA("callback-route.bmp", GetFileExInfoStandard, &file));
  EXPECT_GT(file.nFileSizeLow, 1000u);
  DeleteFileA("callback-route.bmp");
  EXPECT_EQ("0", Call("Twain.ScanPages(\"callback-page.png\", $n)"));
  DeleteFileA("callback-page-0001.png");
  DeleteFileA("callback-page.png");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

#endif

}  // namespace
}  // namespace kvtest
