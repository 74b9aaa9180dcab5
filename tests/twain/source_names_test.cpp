// Sources by name: the DSM's list and the next open's source (Twain.GetSourceNames), and a
// choice by exact product name (Twain.SelectSource) with the selection dialog's rules.
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tests/support/fixture.h"

#if !KV_WINDOWS_BUILD
#include <TWAIN/TWAINFrameworkStandin.h>
#endif

namespace kvtest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line, '\r');) lines.push_back(line);
  return lines;
}

class SourceNamesTest : public ExtensionTest {
 protected:
  // As a program ends: the Windows build lets TWAIN_32.DLL go only at Disconnect, and a
  // record made while it is loaded starts bound.
  void TearDown() override {
    if (host && Record()) Call("Twain.Disconnect()");
    ExtensionTest::TearDown();
  }
  std::string Text(const std::string& variable) { return host->Variable(variable).text; }
  // The next open's source, as Twain.GetSourceNames tells it.
  std::string Current() {
    EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
    return Text("current");
  }
  std::string OpenName() {
    char name[40];
    tw::GetString(Record()->sourceIdentity.ProductName, sizeof Record()->sourceIdentity.ProductName, name,
                  !kWindowsBuild);
    return name;
  }
};

TEST_F(SourceNamesTest, ListsEverySourceAndTheOneTheNextOpenUses) {
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_TRUE(Record()->dsmOpen) << "the source manager is opened as for the dialog";
  EXPECT_FALSE(Record()->dsOpen);
  std::vector<std::string> names = Lines(Text("names"));
  ASSERT_FALSE(names.empty());
  // In the manager's order: Wine's TWAIN_32.DLL lists the virtual scanner first, TWAINDSM.DLL
  // its sources in the order of their paths (Wine's camera, gphoto2.ds, first).
  EXPECT_NE(std::find(names.begin(), names.end(), "Virtual Scanner"), names.end()) << Text("names");
  for (const std::string& name : names) EXPECT_FALSE(name.empty()) << Text("names");
  if constexpr (!kWindowsBuild) {
    EXPECT_EQ(std::vector<std::string>{"Virtual Scanner"}, names);
  }
  // The DSM's default is what Connect opens.
  EXPECT_EQ("Virtual Scanner", Text("current"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("4", ScannerQuery("state"));
  EXPECT_EQ("0", Call("Twain.GetSourceNames($again)"));
  EXPECT_EQ(Text("names"), Text("again"));
  EXPECT_EQ("Virtual Scanner", Current()) << "with a source open";
}

TEST_F(SourceNamesTest, SelectSourceTakesTheExactProductNameOnly) {
  for (const char* near : {"virtual scanner", "Virtual Scanner ", "Virtual", "", "Virtual Scanner\r"}) {
    SCOPED_TRACE(near);
    EXPECT_EQ("15", Call(std::string("Twain.SelectSource(\"") + near + "\")"));
    EXPECT_FALSE(Record()->sourceSelected);
  }
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  EXPECT_TRUE(Record()->sourceSelected);
  EXPECT_FALSE(Record()->dsOpen) << "a choice opens no source";
  EXPECT_EQ("15", Call("Twain.SelectSource(\"No Such Scanner\")"));
  EXPECT_TRUE(Record()->sourceSelected) << "a failed choice keeps the one before";
  EXPECT_EQ("Virtual Scanner", Current());
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("4", ScannerQuery("state"));
  EXPECT_EQ("Virtual Scanner", OpenName());
  // The choice outlives Disconnect and Connect, as the dialog's does.
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_TRUE(Record()->sourceSelected);
  EXPECT_EQ("4", ScannerQuery("state"));
}

TEST_F(SourceNamesTest, AMissingOrWrongParameterAnswers3AndOpensNothing) {
  for (const char* call :
       {"Twain.GetSourceNames()", "Twain.GetSourceNames($p:picture)", "Twain.GetSourceNames($n, $p:picture)",
        "Twain.SelectSource()", "Twain.SelectSource(12)", "Twain.SelectSource($p:picture)"}) {
    SCOPED_TRACE(call);
    EXPECT_EQ("3", Call(call));
    EXPECT_FALSE(Record()->dsmOpen);
  }
  EXPECT_EQ("", Text("n")) << "the names went nowhere";
}

// No source installed at all: the list is empty and whole (0), a name finds no source (15),
// on both builds; opening one answers the DSM's "no data source" (the Mac 15, Windows 3003).
// Windows runs it in a process of its own whose Wine loads no source (KV_NO_SOURCES: the
// virtual scanner and the camera source switched off), so it makes the host itself, without
// the virtual scanner's control.
class NoSourceInstalledTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if KV_WINDOWS_BUILD
    if (!std::getenv("KV_NO_SOURCES")) GTEST_SKIP() << "needs a Wine that loads no source (KV_NO_SOURCES)";
#else
    TWAINFramework_Reset();
    TWAINFramework_SetSourceFolder("");
#endif
    host = std::make_unique<velmar::Host>(Entry(), CatalogueStrings());
    host->Construct();
  }
  void TearDown() override {
    if (!host) return;
    host->Call("Twain.Disconnect()");
    host->Destruct();
#if !KV_WINDOWS_BUILD
    TWAINFramework_Reset();
#endif
  }
  std::string Call(const std::string& call) { return host->Call(call).result.Display(); }
  std::unique_ptr<velmar::Host> host;
};

TEST_F(NoSourceInstalledTest, TheListIsEmptyAndNoNameIsASource) {
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ("", host->Variable("names").text);
  EXPECT_EQ("", host->Variable("current").text);
  EXPECT_EQ("15", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  const char* const noSource = kWindowsBuild ? "3003" : "15";
  EXPECT_EQ(noSource, Call("Twain.Connect()"));
  EXPECT_EQ(noSource, Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ(noSource, Call("Twain.ScanToField($p:picture)"));
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names)")) << "the same once the source manager is open";
}

#if !KV_WINDOWS_BUILD
// A second source, listed before the scanner: it opens, closes and answers its status.
TW_UINT16 SecondSource(pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (dg != DG_CONTROL) return TWRC_FAILURE;
  if (dat == DAT_IDENTITY && msg == MSG_GET) {
    auto* id = static_cast<TW_IDENTITY*>(data);
    TW_UINT32 keep = id->Id;
    std::memset(id, 0, sizeof *id);
    id->Id = keep;
    id->ProtocolMajor = 1;
    id->ProtocolMinor = 9;
    id->SupportedGroups = DG_CONTROL | DG_IMAGE;
    tw::PutString(id->ProductName, sizeof id->ProductName, "Second Source", true);
    return TWRC_SUCCESS;
  }
  if (dat == DAT_IDENTITY && (msg == MSG_OPENDS || msg == MSG_CLOSEDS)) return TWRC_SUCCESS;
  if (dat == DAT_STATUS) {
    static_cast<TW_STATUS*>(data)->ConditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  return TWRC_FAILURE;
}

TEST_F(SourceNamesTest, AChoiceByNameWhileASourceIsOpenAppliesAtTheNextOpen) {
  TWAINFramework_RegisterSource(&SecondSource);
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ("Second Source\rVirtual Scanner", Text("names"));
  EXPECT_EQ("Second Source", Text("current")) << "the first listed is the default";
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  EXPECT_EQ("Virtual Scanner", Current());
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("4", ScannerQuery("state"));
  // Chosen while the scanner is open: the scanner stays open and addressed.
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Second Source\")"));
  EXPECT_EQ("Second Source", Current());
  EXPECT_EQ("15", Call("Twain.SelectSource(\"Third Source\")"));
  EXPECT_EQ("Second Source", Current()) << "a failed choice keeps the waiting one";
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ("100", host->Variable("x").Display());
  EXPECT_EQ("Virtual Scanner", OpenName());
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("3", ScannerQuery("state"));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ("0", Call("Twain.Connect()"));
    EXPECT_EQ("Second Source", OpenName());
    EXPECT_EQ("3", ScannerQuery("state"));
    EXPECT_EQ(1, TWAINFramework_OpenSources());
    EXPECT_EQ("0", Call("Twain.Disconnect()"));
  }
}

// A list request that fails: its code, and the variables keep what they held.
TEST_F(SourceNamesTest, AFailingRequestAnswersItsCodeAndChangesNothing) {
  // The variables hold numbers before: a failed call leaves them so.
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $names, \"YRESOLUTION\", $current)"));
  struct {
    TW_UINT16 msg;
    const char* call;
  } cases[] = {
      {MSG_GETFIRST, "Twain.GetSourceNames($names, $current)"},
      {MSG_GETNEXT, "Twain.GetSourceNames($names, $current)"},
      {MSG_GETDEFAULT, "Twain.GetSourceNames($names, $current)"},
      {MSG_GETFIRST, "Twain.SelectSource(\"Virtual Scanner\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    TWAINFramework_FailNext(DG_CONTROL, DAT_IDENTITY, c.msg, TWRC_FAILURE, TWCC_LOWMEMORY);
    EXPECT_EQ("3002", Call(c.call));
    EXPECT_EQ("100", host->Variable("names").Display());
    EXPECT_EQ("100", host->Variable("current").Display());
  }
  EXPECT_FALSE(Record()->sourceSelected) << "no choice made";
  // An empty list: no names, no current source, no default asked for.
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  TWAINFramework_SetSourceFolder("");
  TWAINFramework_ClearLog();
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ("", Text("names"));
  EXPECT_EQ("", Text("current"));
  EXPECT_EQ(0, TWAINFramework_CountCalls(DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT));
  EXPECT_EQ("15", Call("Twain.SelectSource(\"Virtual Scanner\")"));
}
#endif

}  // namespace
}  // namespace kvtest
