// The TWAIN 2 manager (TWAINDSM.DLL of the system folder, here the stand-in): the option DSM and
// what it binds, the identity each manager is given, the entry points and the callback route,
// and the manager's memory functions for a TWAIN 2 source (every block handed over is freed:
// the fixture counts them after every call).
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/faults/injecting_dsm.h"
#include "tests/support/fixture.h"

#if KV_WINDOWS_BUILD
#include <windows.h>

#endif

namespace kvtest {
namespace {

#if KV_WINDOWS_BUILD

bool Loaded(const char* module) { return GetModuleHandleA(module) != nullptr; }

void RemoveFiles(const char* pattern) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do DeleteFileA(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
}

// Calls of applications' callbacks the loaded stand-in made; -1 when none is loaded.
long CallbacksMade() { return ManagerCount("TwainDsmStandinCallbacks"); }

class TwainManagerTest : public ExtensionTest {
 protected:
  void SetUp() override {
    // The fault-injecting TWAINDSM.DLL runs TwainManagerFaults alone.
    if ((std::getenv("KV_FAULT_DSM") && !std::getenv("KV_FAULT_TWAINDSM")) || std::getenv("KV_FAKE_DSM"))
      GTEST_SKIP() << "needs the installed managers";
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
  RemoveFiles("callback-page*");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// Installed copies of the virtual scanner beside sane.ds, below the width's source folder
// (kvcopies\), which only the TWAIN 2 manager lists: a TWAIN 2 feeder and a 1.x flatbed. The
// fixture installs them and removes them again.
struct Copy {
  const char* file;
  const char* description;
};
const Copy kCopies[] = {
    {"feeder2.ds", "ProductName=KV Feeder 2\r\nTwain2=1\r\nFeeder=1\r\nSheets=3\r\n"},
    {"flatbed1.ds", "ProductName=KV Flatbed 1\r\nTwain2=0\r\n"},
};

std::string CopiesFolder() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + (kPointerBytes == 8 ? "\\twain_64\\kvcopies" : "\\twain_32\\kvcopies");
}

class TwainSourcesTest : public TwainManagerTest {
 protected:
  void SetUp() override {
    TwainManagerTest::SetUp();
    if (IsSkipped()) return;
    RemoveCopies();
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string scanner =
        std::string(windows) + (kPointerBytes == 8 ? "\\twain_64\\sane.ds" : "\\twain_32\\sane.ds");
    CreateDirectoryA(CopiesFolder().c_str(), nullptr);
    for (const Copy& c : kCopies) {
      const std::string path = CopiesFolder() + "\\" + c.file;
      ASSERT_TRUE(CopyFileA(scanner.c_str(), path.c_str(), FALSE)) << path;
      HANDLE f = CreateFileA((path + ".ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, f);
      DWORD written = 0;
      WriteFile(f, c.description, DWORD(std::strlen(c.description)), &written, nullptr);
      CloseHandle(f);
    }
    ASSERT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  }
  void TearDown() override {
    if (host && Record()) Call("Twain.Disconnect()");
    ExtensionTest::TearDown();
    RemoveCopies();
  }
  static void RemoveCopies() {
    for (const Copy& c : kCopies) {
      const std::string path = CopiesFolder() + "\\" + c.file;
      DeleteFileA(path.c_str());
      DeleteFileA((path + ".ini").c_str());
    }
    RemoveDirectoryA(CopiesFolder().c_str());
  }
};

TEST_F(TwainSourcesTest, TheManagerListsEveryCopyAndEachIsChosenByName) {
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  const std::string names = host->Variable("names").text;
  for (const char* name : {"KV Feeder 2", "KV Flatbed 1", "Virtual Scanner"})
    EXPECT_NE(std::string::npos, names.find(name)) << names;
  EXPECT_EQ("Virtual Scanner", host->Variable("current").text) << "the default source the prefix keeps";
  EXPECT_EQ("0", Call("Twain.SelectSource(\"KV Flatbed 1\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(0u, Record()->sourceIdentity.SupportedGroups & DF_DS2);
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"copy-flatbed.bmp\")"));
  DeleteFileA("copy-flatbed.bmp");
  EXPECT_EQ("0", Call("Twain.SelectSource(\"KV Feeder 2\")"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_NE(0u, Record()->sourceIdentity.SupportedGroups & DF_DS2);
}

// A TWAIN 2 source under the TWAIN 2 manager: every container and image it hands over comes
// from the manager's memory functions, and the fixture checks after every call that all of
// them were freed; its notices come through the callback.
TEST_F(TwainSourcesTest, ATwain2SourceHandsOverTheManagersMemoryAndAllOfItIsFreed) {
  EXPECT_EQ("0", Call("Twain.SelectSource(\"KV Feeder 2\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  // Every handle the extension locked, unlocked or freed through the manager was the manager's.
  const long foreignBefore = ManagerCount("TwainDsmStandinForeignUses");
  ASSERT_GE(foreignBefore, 0);
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapRange(\"PIXELTYPE\", $r)"));
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 150)"));
  const long before = CallbacksMade();
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"copy-feeder.bmp\")"));
  EXPECT_GT(CallbacksMade(), before);
  DeleteFileA("copy-feeder.bmp");
  EXPECT_EQ("0", Call("Twain.ScanToField($pic:picture, 0)"));
  // The manager loads the copy at each open, and its feeder holds its three sheets again.
  EXPECT_EQ("0", Call("Twain.ScanPages(\"copy-page.png\", $n)"));
  EXPECT_EQ("3", host->Variable("n").Display());
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY\")"));
  EXPECT_EQ("0", Call("Twain.ScanPages(\"copy-page.pdf\", $n, 0, 10)"));
  EXPECT_EQ("3", host->Variable("n").Display());
  RemoveFiles("copy-page*");
  EXPECT_EQ(foreignBefore, ManagerCount("TwainDsmStandinForeignUses"))
      << "the extension gave the manager's functions memory not theirs";
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ(0, ManagerBlocks() > 0 ? ManagerBlocks() : 0);
}

// A TWAIN 2 manager whose memory functions fail (DSM_MemAllocate and DSM_MemLock answer null),
// with a TWAIN 2 source: what needs them fails with a result code, nothing is left behind, and
// with the manager's memory back the next calls work. Run beside the fault-injecting
// TWAINDSM.DLL.
class TwainManagerFaults : public TwainSourcesTest {
 protected:
  void SetUp() override {
    if (!std::getenv("KV_FAULT_TWAINDSM")) GTEST_SKIP() << "runs beside the fault-injecting TWAINDSM.DLL";
    injecting_dsm::Reset();
    TwainSourcesTest::SetUp();
  }
  void TearDown() override {
    injecting_dsm::FailMemory(false);
    TwainSourcesTest::TearDown();
  }
};

TEST_F(TwainManagerFaults, MemoryFunctionsThatFailLeaveNothingBehind) {
  ASSERT_TRUE(injecting_dsm::FailMemory(true));
  EXPECT_EQ("0", Call("Twain.SelectSource(\"KV Feeder 2\")"));
  // The source's containers come, and cannot be locked: nothing is read or set (no memory: 2).
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("2", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ("2", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 150)"));
  EXPECT_NE("0", Call("Twain.ScanToFile(\"failing-memory.bmp\")"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("failing-memory.bmp"));
  Call("Twain.Disconnect()");
  EXPECT_FALSE(Record()->dsmOpen);
  ASSERT_TRUE(injecting_dsm::FailMemory(false));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"failing-memory.bmp\")"));
  DeleteFileA("failing-memory.bmp");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

#endif

}  // namespace
}  // namespace kvtest
