// SOURCES: the widths of the sources a record reaches. The 64-bit build reaches the machine's
// 32-bit sources through kv-worker32.exe, beside the test program: listed after its own, once
// each, chosen by name, and scanned with the same answers and the same files as a source of
// its own width in process. A 32-bit build's own sources are the 32-bit ones.
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/time_budget.h"
#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>
#endif

namespace kvtest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\r', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class SourcesTest : public ExtensionTest {
 protected:
  std::vector<std::string> Listed(const char* sources, std::string* current = nullptr) {
    EXPECT_EQ("0", Call(std::string("Twain.SetOption(\"SOURCES\", \"") + sources + "\")"));
    EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
    if (current) *current = host->Variable("current").text;
    return Lines(host->Variable("names").text);
  }
};

TEST_F(SourcesTest, TheOptionTakesItsThreeWordsAndStartsAtAuto) {
  EXPECT_EQ("0", Call("Twain.GetOption(\"SOURCES\", $s)"));
  EXPECT_EQ("AUTO", host->Variable("s").text);
  EXPECT_EQ("10", Call("Twain.SetOption(\"SOURCES\", \"64BIT\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"SOURCES\", \"own\")"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"SOURCES\", \"OWN\")"));
  EXPECT_EQ("0", Call("Twain.GetOption(\"SOURCES\", $s)"));
  EXPECT_EQ("OWN", host->Variable("s").text);
}

#if KV_WINDOWS_BUILD
// The processes of a program this test program started.
size_t Children(const char* exe) { return ChildProcesses(exe).size(); }
#endif

#if KV_WINDOWS_BUILD && defined(_WIN64)
// A 32-bit copy of the virtual scanner under a name no 64-bit source has, listed by the 32-bit
// TWAIN 2 manager (which finds copies below twain_32).
constexpr const char* kCopyName = "KV Thirty-Two";

size_t Count(const std::vector<std::string>& lines, const std::string& name) {
  size_t n = 0;
  for (const auto& l : lines) n += l == name;
  return n;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CopyPath() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + "\\twain_32\\kvcopies\\thirtytwo.ds";
}

// Each file a scan makes, made by one source and again by another: the same bytes but for a
// PDF's creation date.
struct Scan {
  const char* call;  // %s: the file's name
  const char* file;
  const char* writer = "EXTENSION";  // of the TIFF, JPEG, PNG and PDF of Twain.ScanToFile
};
const Scan kScans[] = {
    {"Twain.ScanToFile(\"%s\", 0, 0)", "source.tif", "SOURCE"},
    {"Twain.ScanToFile(\"%s\", 0, 7)", "source.png", "SOURCE"},
    {"Twain.ScanToFile(\"%s\", 0)", "page.bmp"},
    {"Twain.ScanToFile(\"%s\", 0, 0)", "page.tif"},
    {"Twain.ScanToFile(\"%s\", 0, 4)", "page.jpg"},
    {"Twain.ScanToFile(\"%s\", 0, 7)", "page.png"},
    {"Twain.ScanToFile(\"%s\", 0, 10)", "page.pdf"},
    {"Twain.ScanPages(\"%s\", $n, 0, 6)", "batch.tif"},
};

// The file's bytes as a short text to compare: its size and a hash, a PDF's creation date and
// the identifier made from it left out.
std::string Comparable(const std::string& file, std::string bytes) {
  bytes = std::regex_replace(bytes, std::regex("/CreationDate \\([^)]*\\)"), "/CreationDate ()");
  bytes = std::regex_replace(bytes, std::regex("/ID \\[<[0-9A-F]*> <[0-9A-F]*>\\]"), "/ID []");
  return file + ": " + std::to_string(bytes.size()) + " bytes, hash " +
         std::to_string(std::hash<std::string>()(bytes));
}

class ThirtyTwoBitSourcesTest : public SourcesTest {
 protected:
  void SetUp() override {
    SourcesTest::SetUp();
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    CreateDirectoryA((std::string(windows) + "\\twain_32\\kvcopies").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((std::string(windows) + "\\twain_32\\sane.ds").c_str(), CopyPath().c_str(), FALSE))
        << "no 32-bit virtual scanner in the prefix";
    std::ofstream((CopyPath() + ".ini").c_str()) << "ProductName=" << kCopyName << "\r\n";
    // Copies are sources of the TWAIN 2 manager, in either width.
    ASSERT_EQ("0", Call("Twain.SetOption(\"DSM\", \"TWAINDSM\")"));
  }
  void TearDown() override {
    if (host && Record()) Call("Twain.Disconnect()");
    EXPECT_EQ(0u, Children("kv-worker32.exe")) << "a 32-bit worker outlived Disconnect";
    ExtensionTest::TearDown();
    DeleteFileA(CopyPath().c_str());
    DeleteFileA((CopyPath() + ".ini").c_str());
  }
  // The files of kScans made by the record's source, with `tag` in their names.
  std::vector<std::string> ScanEach(const std::string& tag) {
    std::vector<std::string> files;
    for (const Scan& s : kScans) {
      EXPECT_EQ("0", Call(std::string("Twain.SetOption(\"WRITER\", \"") + s.writer + "\")"));
      const std::string name = tag + "-" + s.file;
      char call[256];
      std::snprintf(call, sizeof call, s.call, name.c_str());
      std::remove(name.c_str());
      EXPECT_EQ("0", Call(call)) << call;
      const std::string bytes = Bytes(name);
      EXPECT_FALSE(bytes.empty()) << name;
      files.push_back(Comparable(s.file, bytes));
      std::remove(name.c_str());
    }
    return files;
  }
};

TEST_F(ThirtyTwoBitSourcesTest, AutoListsItsOwnSourcesThenThe32BitOnesEachNameOnce) {
  std::string current;
  const std::vector<std::string> own = Listed("OWN", &current);
  EXPECT_EQ(0u, Count(own, kCopyName));
  EXPECT_EQ(1u, Count(own, "Virtual Scanner"));
  EXPECT_EQ(0u, Children("kv-worker32.exe")) << "OWN needs no 32-bit worker";

  const std::vector<std::string> thirtyTwo = Listed("32BIT");
  EXPECT_EQ(1u, Count(thirtyTwo, kCopyName));
  EXPECT_EQ(1u, Count(thirtyTwo, "Virtual Scanner"));

  std::string autoCurrent;
  const std::vector<std::string> all = Listed("AUTO", &autoCurrent);
  ASSERT_GE(all.size(), own.size());
  EXPECT_EQ(own, std::vector<std::string>(all.begin(), all.begin() + own.size())) << "its own first, in order";
  // The 32-bit virtual scanner and camera share their names with the 64-bit ones.
  EXPECT_EQ(std::vector<std::string>{kCopyName}, std::vector<std::string>(all.begin() + own.size(), all.end()));
  EXPECT_EQ(current, autoCurrent) << "nothing chosen: the 64-bit default";
  EXPECT_EQ("15", Call("Twain.SelectSource(\"KV No Such Scanner\")"));
}

TEST_F(ThirtyTwoBitSourcesTest, A32BitSourceScansTheFilesAndAnswersAsOneInProcess) {
  ASSERT_EQ("0", Call("Twain.SetOption(\"SOURCES\", \"OWN\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  ASSERT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  const std::string resolution = host->Variable("x").Display();
  ASSERT_EQ("0", Call("Twain.GetSourceCapRange(\"XRESOLUTION\", $r, \"PIXELTYPE\", $t)"));
  const std::string range = host->Variable("r").Display() + host->Variable("t").Display();
  const std::vector<std::string> inProcess = ScanEach("own");
  ASSERT_EQ("0", Call("Twain.Disconnect()"));

  // Chosen by name among every source: its 32-bit worker carries out every call.
  ASSERT_EQ("0", Call("Twain.SetOption(\"SOURCES\", \"AUTO\")"));
  ASSERT_EQ("0", Call(std::string("Twain.SelectSource(\"") + kCopyName + "\")"));
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ(kCopyName, host->Variable("current").text);
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(1u, Children("kv-worker32.exe"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ(resolution, host->Variable("x").Display());
  EXPECT_EQ("0", Call("Twain.GetSourceCapRange(\"XRESOLUTION\", $r, \"PIXELTYPE\", $t)"));
  EXPECT_EQ(range, host->Variable("r").Display() + host->Variable("t").Display());
  // A value set in the worker holds there, as in process.
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 150)"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_EQ("150", host->Variable("x").Display());
  ASSERT_EQ("0", Call(std::string("Twain.SetSourceCapability(\"XRESOLUTION\", ") + resolution + ")"));
  EXPECT_EQ(inProcess, ScanEach("copy"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ(0u, Children("kv-worker32.exe"));
  // The choice holds across Disconnect, as in process: a fresh worker chooses it again.
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ(kCopyName, host->Variable("current").text);
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"again.bmp\", 0)"));
  EXPECT_EQ(inProcess[2], Comparable(kScans[2].file, Bytes("again.bmp")));
  std::remove("again.bmp");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));

  // SOURCES "32BIT": the 32-bit virtual scanner, by the name the 64-bit one has too.
  ASSERT_EQ("0", Call("Twain.SetOption(\"SOURCES\", \"32BIT\")"));
  ASSERT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(inProcess, ScanEach("thirtytwo"));
  EXPECT_EQ(1u, Children("kv-worker32.exe"));
}

TEST_F(ThirtyTwoBitSourcesTest, A32BitSourceThatCrashesAnswers19AndTheNextCallsWork) {
  if (SkipWhereI386IsEmulated("a 32-bit source that crashes its worker")) GTEST_SKIP();
  ASSERT_EQ("0", Call("Twain.SetOption(\"SOURCES\", \"32BIT\")"));
  // The commands reach the scanner the worker opens.
  velmar::HandOnScannerCommands({"crash 2 0x101 1"});
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("19", Call("Twain.ScanToFile(\"crashed.bmp\", 0)"));
  EXPECT_TRUE(Bytes("crashed.bmp").empty());
  EXPECT_EQ(0u, Children("kv-worker32.exe"));
  ASSERT_EQ("0", Call("Twain.Connect()")) << "a fresh worker";
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"crashed.bmp\", 0)"));
  EXPECT_FALSE(Bytes("crashed.bmp").empty());
  std::remove("crashed.bmp");
}

// The 32-bit sources are reached whatever ISOLATION says of the 64-bit ones; with PROCESS the
// record may hold a worker of each width, and Disconnect ends both.
// Without kv-worker32.exe beside the extension the 32-bit sources are out of reach: AUTO lists
// the 64-bit ones alone, and a call that needs the 32-bit worker answers 4.
TEST_F(ThirtyTwoBitSourcesTest, WithoutThe32BitWorkerAutoListsTheOwnSourcesAlone) {
  const std::string worker = BesideTheProgram("kv-worker32.exe");
  const std::string away = worker + ".away";
  const std::vector<std::string> own = Listed("OWN");
  ASSERT_TRUE(MoveFileA(worker.c_str(), away.c_str())) << worker;
  const std::vector<std::string> all = Listed("AUTO");
  const std::string chosen = Call(std::string("Twain.SelectSource(\"") + kCopyName + "\")");
  const std::string thirtyTwo = Call("Twain.SetOption(\"SOURCES\", \"32BIT\")");
  const std::string connect = Call("Twain.Connect()");
  MoveFileA(away.c_str(), worker.c_str());
  EXPECT_EQ(own, all);
  EXPECT_EQ("15", chosen);
  EXPECT_EQ("0", thirtyTwo);
  EXPECT_EQ("4", connect);
  EXPECT_EQ("0", Call("Twain.Connect()")) << "the worker is back";
}

TEST_F(ThirtyTwoBitSourcesTest, WithIsolationEachWidthHasItsWorker) {
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  const std::vector<std::string> all = Listed("AUTO");
  EXPECT_EQ(1u, Count(all, kCopyName));
  EXPECT_EQ(1u, Children("kv-worker.exe"));
  EXPECT_EQ(1u, Children("kv-worker32.exe"));
  ASSERT_EQ("0", Call(std::string("Twain.SelectSource(\"") + kCopyName + "\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"iso32.bmp\", 0)"));
  EXPECT_FALSE(Bytes("iso32.bmp").empty());
  std::remove("iso32.bmp");
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")")) << "back to the 64-bit one";
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"iso64.bmp\", 0)"));
  EXPECT_FALSE(Bytes("iso64.bmp").empty());
  std::remove("iso64.bmp");
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ(0u, Children("kv-worker.exe"));
}
#else
// A 32-bit build's own sources are its 32-bit ones: the three words list the same.
TEST_F(SourcesTest, A32BitBuildListsTheSameSourcesForEachWord) {
  std::string current;
  const std::vector<std::string> own = Listed("OWN", &current);
  EXPECT_FALSE(own.empty());
  for (const char* word : {"AUTO", "32BIT"}) {
    std::string c;
    EXPECT_EQ(own, Listed(word, &c)) << word;
    EXPECT_EQ(current, c) << word;
  }
#if KV_WINDOWS_BUILD
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(0u, Children("kv-worker.exe")) << "its sources run in process";
#endif
}
#endif

}  // namespace
}  // namespace kvtest
