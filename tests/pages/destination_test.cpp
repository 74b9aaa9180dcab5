// A page's destination is checked before the source is asked for anything, so that no page
// is scanned (or taken from a feeder) for a file that cannot be written; what a failed
// write leaves behind; the check itself, as a batch scan calls it per page name.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pages/destination.h"
#include "traits/build_traits.h"
#if !KV_WINDOWS_BUILD
#include <CarbonStandin.h>
#endif
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void MakeFolder(const char* name) {
#if KV_WINDOWS_BUILD
  mkdir(name);
#else
  mkdir(name, 0755);
#endif
}

// A text argument of a call: the host's parser takes a backslash as an escape.
std::string Quote(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') q += '\\';
    q += c;
  }
  return q + "\"";
}

// Names in the build's own form: a relative Windows path, or a Mac partial path.
std::string Native(const std::string& folder, const std::string& file) {
  if (folder.empty()) return file;
  return kWindowsBuild ? folder + "\\" + file : ":" + folder + ":" + file;
}

// A name of exactly n characters naming `file` in the current directory: Windows climbs in
// and out with ".\", the Mac with "d::" (into folder d and back up).
std::string PaddedName(size_t n, const std::string& file) {
  std::string step = kWindowsBuild ? ".\\" : "d::";
  std::string name = kWindowsBuild ? "" : ":";
  while (name.size() + step.size() + file.size() <= n) name += step;
  name += std::string(n - name.size() - file.size(), kWindowsBuild ? '_' : '_');
  return name + file;
}

class DestinationTest : public ExtensionTest {
 protected:
  void SetUp() override {
    ExtensionTest::SetUp();
    MakeFolder("d");
    for (const char* f : {"page.img", "page.png", "_page.img", "d/page.img"}) std::remove(f);
  }
  void Connect() { ASSERT_EQ("0", Call("Twain.Connect()")); }
  // The scan answers `result` with the source untouched: no request reached it.
  void ExpectRefusedUnscanned(const std::string& call, const std::string& result) {
    std::string before = ScannerQuery("calls");
    EXPECT_EQ(result, Call(call)) << call;
    EXPECT_EQ(before, ScannerQuery("calls")) << call << ": the source was asked for something";
    EXPECT_EQ(0, Record()->dsEnabled) << call;
  }
};

TEST_F(DestinationTest, NamesThatCannotBeWrittenAreRefusedBeforeTheScan) {
  Connect();
  const std::string missingFolder = Native("nofolder", "page.img");
  const std::string missingVolume = kWindowsBuild ? "Q:\\page.img" : "No Such Volume:page.img";
  for (const std::string& name : {missingFolder, missingVolume}) {
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(name) + ")", "8");
    // A file transfer too: the source would have been asked to create the file.
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(name) + ", 0, 7)", "8");
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(name) + ", 1, 0)", "8");
  }
  if constexpr (!kWindowsBuild) {
    // Each part of a Mac name holds 31 characters; 32 cannot be created.
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(std::string(28, 'n') + ".img") + ")", "8");
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(":" + std::string(32, 'd') + ":p.png") + ", 0, 7)", "8");
  }
  EXPECT_EQ("0", Call("Twain.ScanToFile(" + Quote(Native("d", "page.img")) + ")"));
  EXPECT_TRUE(Exists("d/page.img"));
}

// A path of 255 characters is the longest the extension holds; a longer one is refused,
// never cut to a name it did not give (and a second long path would overwrite the first).
TEST_F(DestinationTest, APathLongerThanTheExtensionHoldsIsRefusedNotCut) {
  Connect();
  const std::string longest = PaddedName(255, "page.img");
  ASSERT_EQ(255u, longest.size());
  EXPECT_EQ("0", Call("Twain.ScanToFile(" + Quote(longest) + ")"));
  EXPECT_TRUE(Exists("_page.img") || Exists("page.img")) << longest;
  for (const char* f : {"page.img", "_page.img"}) std::remove(f);

  // What the name would be, cut at 255 characters: not written either.
  const std::string cut = PaddedName(256, "page.img").substr(0, 255);
  const std::string cutFile = cut.substr(cut.find_last_of(kWindowsBuild ? "\\" : ":") + 1);
  std::remove(cutFile.c_str());
  for (size_t n : {256u, 300u, 1000u}) {
    const std::string tooLong = PaddedName(n, "page.img");
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(tooLong) + ")", "8");
    ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(tooLong) + ", 0, 7)", "8");
  }
  EXPECT_FALSE(Exists(cutFile)) << cutFile;
}

// Windows' file functions take a full path of at most 259 characters (MAX_PATH, 260, counts
// the closing NUL): a name whose full path has 259 is written, one of 260 is refused before the
// scan, as a file transfer's.
TEST_F(DestinationTest, WindowsAFullPathOf260CharactersIsRefusedBeforeTheScan) {
  if (!kWindowsBuild) GTEST_SKIP() << "Windows' limit";
  char folder[1024] = {};
  ASSERT_NE(nullptr, getcwd(folder, sizeof folder));
  const std::string base = std::string(folder) + (folder[std::strlen(folder) - 1] == '\\' ? "" : "\\");
  auto named = [&](size_t full) { return std::string(full - base.size() - 4, 'w') + ".img"; };
  ASSERT_LT(named(260).size(), 256u) << base;
  Connect();
  EXPECT_EQ("0", Call("Twain.ScanToFile(" + Quote(named(259)) + ")"));
  EXPECT_TRUE(Exists(named(259)));
  std::remove(named(259).c_str());
  ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(named(260)) + ")", "8");
  ExpectRefusedUnscanned("Twain.ScanToFile(" + Quote(named(260)) + ", 0, 7)", "8");
  ExpectRefusedUnscanned("Twain.ScanPages(" + Quote(named(260)) + ", $n, 0, 7, 1)", "8");
  EXPECT_FALSE(Exists(named(260)));
}

// An existing file of the page's name, for the extension's writer and a file transfer alike:
// as each build has always done by default (Windows replaces it; the Mac refuses it before the
// scan, 7, a file transfer now too), and as the option EXISTING says on both builds. A replaced
// file is the new page; nothing is left beside it.
TEST_F(DestinationTest, AnExistingFileIsReplacedOrRefusedAsTheOptionSays) {
  Connect();
  const std::vector<std::string> calls = {"Twain.ScanToFile(\"page.img\")",
                                          "Twain.ScanToFile(\"page.png\", 0, 7)"};
  auto older = [] {
    for (const char* f : {"page.img", "page.png"}) std::ofstream(f) << "keep me";
  };
  auto kept = [](const char* f) {
    std::ifstream in(f);
    std::string text;
    std::getline(in, text);
    return text == "keep me";
  };
  older();
  for (const std::string& call : calls) {
    if constexpr (kWindowsBuild) {
      EXPECT_EQ("0", Call(call)) << call;
    } else {
      ExpectRefusedUnscanned(call, "7");
    }
  }
  if constexpr (!kWindowsBuild) ExpectRefusedUnscanned("Twain.ScanToFile(\"page.img\", 0, 12)", "7");
  EXPECT_EQ(!kWindowsBuild, kept("page.img"));
  EXPECT_EQ(!kWindowsBuild, kept("page.png"));
  older();
  ASSERT_EQ("0", Call("Twain.SetOption(\"EXISTING\", \"REFUSE\")"));
  for (const std::string& call : calls) ExpectRefusedUnscanned(call, "7");
  ASSERT_EQ("0", Call("Twain.SetOption(\"EXISTING\", \"REPLACE\")"));
  for (const std::string& call : calls) EXPECT_EQ("0", Call(call)) << call;
  EXPECT_FALSE(kept("page.img"));
  std::ifstream png("page.png", std::ios::binary);
  std::string head(4, '\0');
  png.read(&head[0], 4);
  EXPECT_EQ("\x89PNG", head) << "the source's file replaced the older one";
  for (const char* f : {"page.img.part", "page.png.part"}) EXPECT_FALSE(Exists(f)) << f;
}

// The check as a batch scan calls it for each page name, before its source is opened.
TEST_F(DestinationTest, TheCheckAnswersPerName) {
  std::ofstream("page.img") << "x";
  std::string existing = "page.img", absent = Native("d", "page.img"), missing = Native("nofolder", "page.img");
  DestinationCheck c = CheckDestination(existing.data(), existing.size(), ExistingFile::kReplaced);
  EXPECT_EQ(0, c.result);
  EXPECT_TRUE(c.existed);
  c = CheckDestination(existing.data(), existing.size(), ExistingFile::kRefused);
  EXPECT_EQ(7, c.result);
  c = CheckDestination(absent.data(), absent.size(), ExistingFile::kRefused);
  EXPECT_EQ(0, c.result);
  EXPECT_FALSE(c.existed);
  EXPECT_EQ(8, CheckDestination(missing.data(), missing.size(), ExistingFile::kReplaced).result);
  EXPECT_EQ(8, CheckDestination("", 0, ExistingFile::kReplaced).result);
  const std::string tooLong = PaddedName(256, "page.img");
  EXPECT_EQ(8, CheckDestination(tooLong.data(), tooLong.size(), ExistingFile::kReplaced).result);
  // A folder is no file to write into, whether a file there would be replaced or refused.
  for (ExistingFile existing : {ExistingFile::kReplaced, ExistingFile::kRefused}) {
    c = CheckDestination("d", 1, existing);
    EXPECT_EQ(8, c.result);
    EXPECT_FALSE(c.existed);
  }
}

// A folder of the page's name: 8 before the scan, for the extension's writer and a file
// transfer alike.
TEST_F(DestinationTest, AFolderOfThatNameIsRefusedBeforeTheScan) {
  Connect();
  ExpectRefusedUnscanned("Twain.ScanToFile(\"d\")", "8");
  ExpectRefusedUnscanned("Twain.ScanToFile(\"d\", 0, 7)", "8");
  ExpectRefusedUnscanned("Twain.ScanPages(\"d\", $n, 0, 1, 1)", "8");
}

#if !KV_WINDOWS_BUILD
std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The disk fills while a page is written, by the extension or by the source in a file
// transfer (the virtual scanner writes through the same File Manager): the half-written file
// goes, an older file of that name stays, and the same call works once there is room.
TEST_F(DestinationTest, AFullDiskLeavesNoHalfWrittenFileAndTheRetryWorks) {
  Connect();
  CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 2, dskFulErr);  // the PICT header's second block
  EXPECT_EQ("8", Call("Twain.ScanToFile(\"page.img\")"));
  EXPECT_FALSE(Exists("page.img"));
  EXPECT_EQ(0, CarbonStandin_OpenFiles());
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"page.img\")")) << "nothing left to answer 7";

  // The source's page: 8, as when the extension writes it (never 13, "not connected").
  CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 1, dskFulErr);
  EXPECT_EQ("8", Call("Twain.ScanToFile(\"page.png\", 0, 7)"));
  EXPECT_FALSE(Exists("page.png")) << "the source's empty file stayed";
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"page.png\", 0, 7)"));
  EXPECT_TRUE(Exists("page.png"));

  // Over an older file (which the Mac replaces only when asked to): it stays as it was.
  ASSERT_EQ("0", Call("Twain.SetOption(\"EXISTING\", \"REPLACE\")"));
  const std::vector<unsigned char> older = ReadAll("page.png");
  CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 1, dskFulErr);
  EXPECT_EQ("8", Call("Twain.ScanToFile(\"page.png\", 0, 7)"));
  EXPECT_EQ(older, ReadAll("page.png")) << "a file that was there before the scan is not the scan's to remove";
}
#endif

}  // namespace
}  // namespace kvtest
