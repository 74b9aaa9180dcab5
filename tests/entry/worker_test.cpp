// ISOLATION "PROCESS": the record's calls carried out in kv-worker.exe (the worker beside the
// test program), with the answers, files and pictures they have in process; a worker that
// ends answers 19 once, and the next call starts a fresh one; Disconnect ends it.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "record/records.h"
#include "tests/support/fixture.h"
#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>
#endif

namespace kvtest {
namespace {

#if KV_WINDOWS_BUILD
// The worker processes this test program started.
std::vector<unsigned long> Workers() { return ChildProcesses("kv-worker.exe"); }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The picture's pixels as 32-bit rows.
std::vector<uint8_t> Pixels(const velmar::Value& v) {
  std::vector<uint8_t> rows;
  if (v.kind != velmar::Value::kPicture || !v.picture.present) return rows;
  HBITMAP bitmap = static_cast<HBITMAP>(v.picture.bitmap.get());
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = v.picture.width;
  info.bmiHeader.biHeight = v.picture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  rows.resize(size_t(v.picture.width) * 4 * size_t(v.picture.height));
  HDC dc = GetDC(nullptr);
  int got = GetDIBits(dc, bitmap, 0, UINT(v.picture.height), rows.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (got != v.picture.height) rows.clear();
  return rows;
}

class IsolationTest : public ExtensionTest {
 protected:
  void TearDown() override {
    Call("Twain.Disconnect()");
    ExtensionTest::TearDown();
    EXPECT_TRUE(Workers().empty()) << "a worker outlived its instance";
  }
  velmar::Value Variable(const velmar::CallResult& r, const std::string& name) {
    for (const auto& v : r.variables)
      if (v.first == name) return v.second;
    return velmar::Value();
  }
};

TEST_F(IsolationTest, CallsInAWorkerAnswerAsInProcessWithTheSameFilesAndPictures) {
  const std::string here = "iso-here" + std::to_string(GetCurrentProcessId()) + ".bmp";
  const std::string there = "iso-there" + std::to_string(GetCurrentProcessId()) + ".bmp";
  ASSERT_EQ("0", Call("Twain.Connect()"));
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"" + here + "\", 0)"));
  velmar::CallResult inProcess = CallFull("Twain.ScanToField($p:picture, 0)");
  const std::string capsHere =
      Variable(CallFull("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"), "x").Display();
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  EXPECT_TRUE(Workers().empty()) << "started at the first call that needs it";
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ(1u, Workers().size());
  EXPECT_EQ(capsHere, Variable(CallFull("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"), "x").Display());
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"" + there + "\", 0)"));
  velmar::CallResult inWorker = CallFull("Twain.ScanToField($q:picture, 0)");
  EXPECT_EQ(1u, Workers().size()) << "one worker for the connection";
  EXPECT_EQ("0", inWorker.result.Display());
  std::string a = Bytes(here), b = Bytes(there);
  EXPECT_FALSE(a.empty());
  EXPECT_TRUE(a == b) << "the worker's file differs from the one made in process";
  std::vector<uint8_t> p = Pixels(Variable(inProcess, "p")), q = Pixels(Variable(inWorker, "q"));
  EXPECT_FALSE(p.empty());
  EXPECT_TRUE(p == q) << "the worker's picture differs from the one made in process";
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_TRUE(Workers().empty()) << "Disconnect ends the worker";
  EXPECT_EQ("\"1.2\"", Call("Twain.About()")) << "About needs no worker";
  EXPECT_TRUE(Workers().empty());
  std::remove(here.c_str());
  std::remove(there.c_str());
}

// The worker's PDF is what the instance's options say: the texts go with every call, as the
// other options do.
TEST_F(IsolationTest, AWorkersPdfTakesTheInstancesTexts) {
  const std::string file = "iso-texts" + std::to_string(GetCurrentProcessId()) + ".pdf";
  ASSERT_EQ("0",
            Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\", \"WRITER\", \"EXTENSION\", \"PDFA\", \"2B\", "
                 "\"PDFTITLE\", \"Worker (title)\", \"PDFKEYWORDS\", \"k\xE9y\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  ASSERT_EQ("0", Call("Twain.ScanToFile(\"" + file + "\", 0, 10)"));
  EXPECT_EQ(1u, Workers().size());
  const std::string pdf = Bytes(file);
  EXPECT_EQ(0u, pdf.find("%PDF-1.7\n"));
  EXPECT_NE(std::string::npos, pdf.find("/Title (Worker \\(title\\))"));
  EXPECT_NE(std::string::npos, pdf.find("/Keywords (k\\351y)"));
  EXPECT_NE(std::string::npos, pdf.find("<pdf:Keywords>k\xC3\xA9y</pdf:Keywords>"));
  std::remove(file.c_str());
}

// What each page of a batch in the worker was comes back with the call, as DISCARDED does.
TEST_F(IsolationTest, AWorkersBatchSaysWhatEachPageWas) {
  const std::string stem = "iso-pages" + std::to_string(GetCurrentProcessId());
  velmar::HandOnScannerCommands({"documents on", "barcode-at 2 W-2", "pages 2"});
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  ASSERT_EQ("0", Call("Twain.ScanPages(\"" + stem + ".png\", $n, 0, 7)"));
  const std::string pages = Variable(CallFull("Twain.GetOption(\"PAGES\", $p)"), "p").AsText();
  EXPECT_EQ(1, std::count(pages.begin(), pages.end(), '\r')) << pages;
  EXPECT_EQ(0u, pages.find(stem + "-0001.png\t1\t1\t")) << pages;
  EXPECT_NE(std::string::npos, pages.find("\tFRONT\tWRITTEN\t\tW-2")) << pages;
  for (int i = 1; i <= 2; ++i) std::remove((stem + "-000" + std::to_string(i) + ".png").c_str());
}

// A batch in the worker separated into documents: the files, and DOCUMENTS with the call.
TEST_F(IsolationTest, AWorkersBatchIsSeparatedIntoDocuments) {
  const std::string stem = "iso-docs" + std::to_string(GetCurrentProcessId());
  velmar::HandOnScannerCommands({"documents on", "patch-at 2 T", "pages 4"});
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\", \"SEPARATION\", \"PATCHCODE\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  const velmar::CallResult r = CallFull("Twain.ScanPages(\"" + stem + ".pdf\", $n, 0, 10)");
  EXPECT_EQ("0", r.result.Display());
  EXPECT_EQ("3", Variable(r, "n").Display());
  EXPECT_EQ("2", Variable(CallFull("Twain.GetOption(\"DOCUMENTS\", $d)"), "d").Display());
  for (int i = 1; i <= 2; ++i) {
    const std::string file = stem + "-000" + std::to_string(i) + ".pdf";
    EXPECT_EQ(0u, Bytes(file).find("%PDF-")) << file;
    std::remove(file.c_str());
  }
}

TEST_F(IsolationTest, AWorkerThatEndsAnswers19OnceAndTheNextCallStartsAFreshOne) {
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  std::vector<unsigned long> workers = Workers();
  ASSERT_EQ(1u, workers.size());
  HANDLE worker = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, workers[0]);
  ASSERT_NE(nullptr, worker);
  TerminateProcess(worker, 9);
  WaitForSingleObject(worker, 5000);
  CloseHandle(worker);
  EXPECT_EQ("19", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $x)"));
  EXPECT_TRUE(Workers().empty());
  EXPECT_EQ("0", Call("Twain.Connect()")) << "a fresh worker";
  const std::string page = "iso-after" + std::to_string(GetCurrentProcessId()) + ".bmp";
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"" + page + "\", 0)"));
  EXPECT_FALSE(Bytes(page).empty());
  std::remove(page.c_str());
  // Back in process: the worker ends with the option.
  EXPECT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"NONE\")"));
  EXPECT_TRUE(Workers().empty());
  EXPECT_EQ("0", Call("Twain.Connect()"));
}
// A source that crashes or calls exit in the worker, at its open or inside a scan: the call
// answers 19, the host goes on, nothing of the page is left, and the next calls work in a
// fresh worker. One that damages its heap answers what the damage leads to, never worse.
TEST_F(IsolationTest, ASourceThatTakesItsWorkerDownAnswers19AndTheNextCallsWork) {
  const std::string page = "iso-fault" + std::to_string(GetCurrentProcessId()) + ".bmp";
  struct Case {
    const char* command;
    bool scan;  // the fault comes inside a scan, not at the open
    const char* answer;
  };
  for (const Case& c :
       {Case{"crash 1 3 0x401", false, "19"}, Case{"exit 1 3 0x401 3", false, "19"},
        Case{"crash 2 0x101 1", true, "19"}, Case{"exit 0xFFFF 0xFFFF 0xFFFF 0 page 1", true, "19"},
        Case{"corrupt-heap 2 0x101 1", true, nullptr}}) {
    SCOPED_TRACE(c.command);
    std::remove(page.c_str());
    velmar::HandOnScannerCommands({c.command});
    ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
    if (c.scan) {
      ASSERT_EQ("0", Call("Twain.Connect()"));
    }
    std::string got = Call(c.scan ? "Twain.ScanToFile(\"" + page + "\", 0)" : std::string("Twain.Connect()"));
    if (c.answer) {
      EXPECT_EQ(c.answer, got);
      EXPECT_TRUE(Workers().empty());
    } else {
      EXPECT_TRUE(got == "0" || got == "19") << got;
    }
    if (got != "0") {
      EXPECT_TRUE(Bytes(page).empty()) << "no page of a scan that did not end";
    }
    EXPECT_EQ("0", Call("Twain.Connect()"));
    EXPECT_EQ("0", Call("Twain.ScanToFile(\"" + page + "\", 0)"));
    EXPECT_FALSE(Bytes(page).empty());
    EXPECT_EQ("0", Call("Twain.Disconnect()"));
    EXPECT_TRUE(Workers().empty());
  }
  std::remove(page.c_str());
}
// Without its program beside the extension no worker starts: the calls that need one answer 4,
// and the next one works once the program is back.
TEST_F(IsolationTest, AWorkerThatCannotBeStartedAnswers4) {
  const std::string worker = BesideTheProgram("kv-worker.exe");
  const std::string away = worker + ".away";
  ASSERT_TRUE(MoveFileA(worker.c_str(), away.c_str())) << worker;
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  const std::string connect = Call("Twain.Connect()");
  const std::string names = Call("Twain.GetSourceNames($names)");
  MoveFileA(away.c_str(), worker.c_str());
  EXPECT_EQ("4", connect);
  EXPECT_EQ("4", names);
  EXPECT_TRUE(Workers().empty());
  EXPECT_EQ("0", Call("Twain.Connect()"));
}
// The manager's dialog shows in the worker, over the host's window, where the user picks a
// source; the choice, by name or in the dialog, holds when Disconnect ends the worker, as a
// choice in process holds, and the next worker opens that source.
// The build's own sources: on the 64-bit build the 32-bit worker's choice holds likewise
// (ThirtyTwoBitSourcesTest).
TEST_F(IsolationTest, TheChosenSourceHoldsAcrossTheWorkersEnd) {
  const std::string camera = "GPhoto2 Camera";
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\", \"SOURCES\", \"OWN\")"));
  std::string error;
  ASSERT_TRUE(velmar::ArrangeSelection(*host, 1 - VirtualScannerChoice(), &error)) << error;
  EXPECT_EQ("0", Call("Twain.SelectDataSource()"));
  velmar::EndSelection();
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ(camera, host->Variable("current").text);
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_TRUE(Workers().empty());
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ(camera, host->Variable("current").text) << "the dialog's choice";
  EXPECT_EQ("0", Call("Twain.SelectSource(\"Virtual Scanner\")"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.GetSourceNames($names, $current)"));
  EXPECT_EQ("Virtual Scanner", host->Variable("current").text) << "the choice by name";
  // The TWAIN 2 manager keeps the dialog's last choice as its default source: the virtual
  // scanner again, for the tests after this one.
  ASSERT_TRUE(velmar::ArrangeSelection(*host, VirtualScannerChoice(), &error)) << error;
  EXPECT_EQ("0", Call("Twain.SelectDataSource()"));
  velmar::EndSelection();
}
// A source that stays inside a request without end: the worker takes no message for
// WORKERWAIT seconds, counts as stopped and is ended; the call answers 19 and leaves no file,
// and the next calls work. One that returns within the wait only makes the call slower.
TEST_F(IsolationTest, ASourceThatStopsAnsweringIsEndedAfterTheWorkersWait) {
  const std::string page = "iso-hang" + std::to_string(GetCurrentProcessId()) + ".bmp";
  std::remove(page.c_str());
  EXPECT_EQ("10", Call("Twain.SetOption(\"WORKERWAIT\", 4)"));
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\", \"WORKERWAIT\", 5)"));
  velmar::HandOnScannerCommands({"hang 2 0x101 1 600"});
  ASSERT_EQ("0", Call("Twain.Connect()"));
  const DWORD start = GetTickCount();
  EXPECT_EQ("19", Call("Twain.ScanToFile(\"" + page + "\", 0)"));
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 5000u);
  EXPECT_LT(took, 10000u);
  EXPECT_TRUE(Workers().empty());
  EXPECT_TRUE(Bytes(page).empty());
  velmar::HandOnScannerCommands({"hang 2 0x101 1 2"});
  ASSERT_EQ("0", Call("Twain.Connect()")) << "a fresh worker";
  EXPECT_EQ("0", Call("Twain.ScanToFile(\"" + page + "\", 0)")) << "a short hang is waited for";
  EXPECT_FALSE(Bytes(page).empty());
  std::remove(page.c_str());
}
// What the host does from its own message loop while a call waits for the worker: a call of
// another instance is turned away (14), and destroying the waiting instance empties its slot
// at once and frees the record, with its worker, once the call has its answer.
TEST_F(IsolationTest, TheHostsCallsAndDestructionDuringAWorkerCallWaitForIt) {
  static std::function<void()> action;
  static UINT message = RegisterWindowMessageA("Kardivelle test: run inside the worker's call");
  static WNDPROC previous = nullptr;
  HWND window = static_cast<HWND>(host->Window());
  previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == message && action) {
          auto run = std::move(action);
          action = nullptr;
          run();
          return 0;
        }
        return CallWindowProcA(previous, w, msg, wp, lp);
      })));
  const std::string page = "iso-during" + std::to_string(GetCurrentProcessId()) + ".bmp";
  std::remove(page.c_str());
  ASSERT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  ASSERT_EQ("0", Call("Twain.Connect()"));
  TwainGlobals* waiting = Record();
  auto other = std::make_unique<velmar::Host>(Entry(), CatalogueStrings());
  other->Construct();
  std::string nested;
  bool ran = false;
  action = [&] {
    ran = true;
    nested = other->Call("Twain.Connect()").result.Display();
    host->Destruct();
  };
  PostMessageA(window, message, 0, 0);
  // (The call frees its record: host->Call, not the block-counting Call.)
  velmar::CallResult r = host->Call("Twain.ScanToFile(\"" + page + "\", 0)");
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
  ASSERT_TRUE(ran) << "the host's message was not dispatched during the call";
  EXPECT_EQ("0", r.result.Display());
  EXPECT_EQ("14", nested);
  EXPECT_FALSE(Bytes(page).empty()) << "the scan lost its page";
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ(nullptr, LiveRecord(waiting)) << "the record outlived its call";
  EXPECT_TRUE(Workers().empty()) << "its worker outlived it";
  other->Destruct();
  host->Construct();
  EXPECT_EQ("0", Call("Twain.Connect()"));
  std::remove(page.c_str());
}
#else
class IsolationTest : public ExtensionTest {};

TEST_F(IsolationTest, TheMacCarriesOutEveryCallInProcess) {
  EXPECT_EQ("10", Call("Twain.SetOption(\"ISOLATION\", \"PROCESS\")"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"ISOLATION\", \"NONE\")"));
  EXPECT_EQ("0", Call("Twain.GetOption(\"ISOLATION\", $i)"));
}
#endif

}  // namespace
}  // namespace kvtest
