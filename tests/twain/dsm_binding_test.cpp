// Binding the manager on Windows (here TWAIN_32.DLL, which the option DSM names; TWAINDSM.DLL
// in twain2_manager_test.cpp): loaded at the first call, unloaded by Disconnect and loaded
// again; without the file, or without its entry, every call answers 4.
#include <cstdlib>

#include "tests/support/fixture.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
#endif

namespace kvtest {
namespace {

class DsmBindingTest : public ExtensionTest {
 protected:
  void SetUp() override {
    if constexpr (!kWindowsBuild) {
      GTEST_SKIP() << "the Mac links its DSM";
    }
    ExtensionTest::SetUp();
    // Binds nothing where TWAIN_32.DLL is missing or no manager: the option is all it sets.
    // Setting it binds (beside the library without ordinal 1 it binds nothing, and answers 0
    // all the same); Disconnect lets the library go again, so that each test starts unbound.
    ASSERT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAIN_32\")"));
    if (!std::getenv("KV_FAKE_DSM")) {
      ASSERT_EQ("0", Call("Twain.Disconnect()"));
    }
  }
};

#if KV_WINDOWS_BUILD
bool DsmLoaded() { return GetModuleHandleA("twain_32.dll") != nullptr; }
bool FakeDsmRun() { return std::getenv("KV_FAKE_DSM") != nullptr; }

TEST_F(DsmBindingTest, DisconnectUnloadsAndTheNextConnectLoadsAgain) {
  if (FakeDsmRun()) GTEST_SKIP();
  EXPECT_FALSE(Record()->dsmBound);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_TRUE(DsmLoaded());
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_FALSE(DsmLoaded());
  EXPECT_FALSE(Record()->dsmBound);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_TRUE(DsmLoaded());
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

TEST_F(DsmBindingTest, AnInstanceMadeWhileBoundIsBoundAtOnce) {
  if (FakeDsmRun()) GTEST_SKIP();
  EXPECT_EQ("0", Call("Twain.Connect()"));
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  EXPECT_TRUE(Record()->dsmBound);
  // The other instance unbinds the library: this one binds again before its call.
  host->UseInstance(0);
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  host->UseInstance(other);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  host->Destruct();
  host->UseInstance(0);
}

TEST_F(DsmBindingTest, WithoutTheDsmFileEveryCallAnswers4) {
  if (FakeDsmRun()) GTEST_SKIP();
  char dir[MAX_PATH];
  GetWindowsDirectoryA(dir, MAX_PATH);
  std::string dsm = std::string(dir) + "\\twain_32.dll", aside = dsm + ".aside";
  ASSERT_TRUE(MoveFileA(dsm.c_str(), aside.c_str()));
  EXPECT_EQ("4", Call("Twain.About()"));
  EXPECT_EQ("4", Call("Twain.Connect()"));
  EXPECT_EQ("4", Call("Twain.ScanToFile()"));
  EXPECT_FALSE(Record()->dsmBound);
  ASSERT_TRUE(MoveFileA(aside.c_str(), dsm.c_str()));
  EXPECT_EQ("0", Call("Twain.Connect()"));  // the attempt is repeated at the next call
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// AUTO takes TWAINDSM.DLL from the system folder where there is one, and TWAIN_32.DLL only
// where there is none: a TWAINDSM.DLL that is no manager (the library without ordinal 1)
// answers 4 to every call, and is let go; without it, TWAIN_32.DLL serves.
TEST_F(DsmBindingTest, AutoTakesTwaindsmFromTheSystemFolderFirst) {
  if (FakeDsmRun()) GTEST_SKIP();
  char dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  const std::string manager = std::string(dir) + "\\twaindsm.dll", aside = manager + ".aside";
  // The installed manager waits aside, and comes back whatever happens.
  const bool installed = MoveFileA(manager.c_str(), aside.c_str()) != 0;
  struct Restored {
    std::string manager, aside;
    bool installed;
    ~Restored() {
      DeleteFileA(manager.c_str());
      if (installed) MoveFileA(aside.c_str(), manager.c_str());
    }
  } restored{manager, aside, installed};
  // Run from the tree's folder, where the library without ordinal 1 is built.
  ASSERT_TRUE(CopyFileA("fake-dsm\\twain_32.dll", manager.c_str(), FALSE));
  EXPECT_EQ("0", Call("Twain.SetOption(\"DSM\", \"AUTO\")"));
  EXPECT_EQ("4", Call("Twain.About()"));
  EXPECT_EQ("4", Call("Twain.Connect()"));
  EXPECT_FALSE(Record()->dsmBound);
  EXPECT_EQ(nullptr, GetModuleHandleA("twaindsm.dll")) << "a library that is no manager is let go";
  EXPECT_FALSE(DsmLoaded());
  ASSERT_TRUE(DeleteFileA(manager.c_str()));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_TRUE(DsmLoaded());
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// Run with the library above TWAIN_32.DLL beside the program and KV_FAKE_DSM set.
TEST_F(DsmBindingTest, ADsmWithoutOrdinalOneLeavesEveryCallAt4) {
  if (!FakeDsmRun()) GTEST_SKIP() << "needs the no-ordinal DSM beside the program";
  EXPECT_EQ("4", Call("Twain.About()"));
  EXPECT_EQ("4", Call("Twain.Connect()"));
  EXPECT_EQ("4", Call("Twain.Reset()"));
  EXPECT_FALSE(Record()->dsmBound);
  EXPECT_FALSE(DsmLoaded()) << "each failed binding must free the library it loaded";
}
#endif

}  // namespace
}  // namespace kvtest
