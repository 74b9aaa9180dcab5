// ISOLATION "PROCESS" against a source that takes its worker down: a crash, an exit, a damaged
// heap and a hang at every request that a single-page scan (a native page, and a file the
// source writes) and a three-page batch send the source, the worker killed by hand during a
// batch, and the host killed during one. Whatever the source does, the host lives, the call
// answers 19 (or, for a hang, as without it), no half page and no temporary file is left, a
// batch keeps and counts the pages it had settled, the next calls work in a fresh worker, and
// no worker outlives its instance or its host.
//
// The requests are the source's own account of a clean run in a worker (the virtual
// scanner's journal, handed on to the worker's copy), so a request the extension adds or
// drops changes the matrix with it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/time_budget.h"
#include "traits/build_traits.h"
#if KV_WINDOWS_BUILD
#include <windows.h>
#endif

namespace kvtest {
namespace {

#if KV_WINDOWS_BUILD

// How the calls reach a worker: ISOLATION "PROCESS" (kv-worker.exe) and, on the 64-bit build,
// a 32-bit source (SOURCES "32BIT": kv-worker32.exe).
struct Route {
  const char* option;
  const char* value;
  const char* worker;
};
const Route* gRoute = nullptr;  // the running test's

// The worker processes of the running test's route that `parent` started.
std::vector<unsigned long> WorkersOf(DWORD parent) { return ChildProcesses(gRoute->worker, parent); }
std::vector<unsigned long> Workers() { return WorkersOf(GetCurrentProcessId()); }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names of the files in `dir`, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void Empty(const std::string& dir) {
  for (const std::string& name : FilesIn(dir)) DeleteFileA((dir + "\\" + name).c_str());
}

std::string Joined(const std::vector<std::string>& names) {
  std::string all;
  for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
  return all.empty() ? "(none)" : all;
}

// One request the source received, as its journal gives it: the triplet and the page in the
// scanner then (0: none).
struct Request {
  unsigned long dg = 0;
  unsigned dat = 0, msg = 0;
  int page = 0;
  bool SameTriplet(const Request& o) const { return dg == o.dg && dat == o.dat && msg == o.msg; }
  std::string Triplet() const {
    char text[48];
    std::snprintf(text, sizeof text, "%lu 0x%X 0x%X", dg, dat, msg);
    return text;
  }
};

std::vector<Request> ReadJournal(const std::string& path) {
  std::vector<Request> requests;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    Request r;
    if (words >> r.dg >> r.dat >> r.msg >> r.page) requests.push_back(r);
  }
  return requests;
}

enum class Misdeed { kCrash, kExit, kCorruptHeap, kHang };
const char* Verb(Misdeed m) {
  switch (m) {
    case Misdeed::kCrash:
      return "crash";
    case Misdeed::kExit:
      return "exit";
    case Misdeed::kCorruptHeap:
      return "corrupt-heap";
    case Misdeed::kHang:
      return "hang";
  }
  return "";
}
// The scanner command; an exit ends the worker with 0, the code of a process that ended well.
std::string Command(Misdeed m, const Request& r, int page) {
  std::string c = std::string(Verb(m)) + " " + r.Triplet();
  if (m == Misdeed::kExit) c += " 0";
  if (m == Misdeed::kHang) c += " 1";
  if (page) c += " page " + std::to_string(page);
  return c;
}

// One place a misdeed strikes: the request's first occurrence in the call (for a batch, while
// page 2 is in the scanner), after `before` occurrences of its triplet in Connect, which the
// case lets pass with a hang of no seconds each.
struct Target {
  Request request;
  int before = 0;
};

// The single-page scans: a native page the extension writes, and a PNG the source writes
// itself (a file transfer, into the temporary file beside the page's name).
enum Single { kNative, kFile, kSingles };
const char* const kSingleNames[kSingles] = {"page.bmp", "page.png"};
const char* const kSingleFormats[kSingles] = {"", ", 7"};

// What the clean runs in a worker gave: the requests of each call and the files it wrote.
struct Baseline {
  std::vector<Target> single[kSingles], batch;
  std::string page[kSingles];      // the single scans' files
  std::vector<std::string> pages;  // the batch's, page 1 first
};

const char* const kBatchPages = "pages 3";

class WorkerFaultTest : public ExtensionTest, public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    gRoute = &GetParam();
    // The 32-bit worker under an emulator of i386 programs: Wine's structured exceptions do not
    // work there, so a source's faults cannot be told from the emulator's (and each of the
    // matrix's hundreds of workers takes a minute to start).
    if (std::string(gRoute->worker) == "kv-worker32.exe" &&
        SkipWhereI386IsEmulated("the 32-bit worker's fault matrix"))
      GTEST_SKIP() << "i386 programs run emulated";
    ExtensionTest::SetUp();
    dir_ = "wf" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
    Empty(dir_);
    journal_ = "wf-journal" + std::to_string(GetCurrentProcessId()) + ".txt";
    ASSERT_EQ("0", Call(RouteCall()));
  }
  static std::string RouteCall() {
    return std::string("Twain.SetOption(\"") + gRoute->option + "\", \"" + gRoute->value + "\")";
  }
  void TearDown() override {
    if (!host) return;  // skipped before it began
    Call("Twain.Disconnect()");
    ExtensionTest::TearDown();
    EXPECT_TRUE(Workers().empty()) << "a worker outlived its instance";
    Empty(dir_);
    RemoveDirectoryA(dir_.c_str());
    std::remove(journal_.c_str());
  }

  std::string SinglePath(Single s = kNative) const { return dir_ + "\\" + kSingleNames[s]; }
  // The path in a call's text, where a backslash is written twice.
  std::string InCall(const std::string& path) const {
    std::string text;
    for (char c : path) text += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return text;
  }
  std::string SingleCall(Single s = kNative) const {
    return "Twain.ScanToFile(\"" + InCall(SinglePath(s)) + "\", 0" + kSingleFormats[s] + ")";
  }
  // Three pages written by the extension as BMP files, dir\batch-0001.bmp and on.
  std::string BatchCall() const {
    return "Twain.ScanPages(\"" + InCall(dir_ + "\\batch.bmp") + "\", $n, 0, 2, 3)";
  }
  static std::string PageFile(int k) {
    char name[32];
    std::snprintf(name, sizeof name, "batch-%04d.bmp", k);
    return name;
  }

  // The page count the last batch wrote; -1 where it wrote none.
  double Count() {
    const velmar::Value& v = host->Fields().VariableValue("n");
    return v.kind == velmar::Value::kNumber ? v.AsNumber() : -1;
  }
  velmar::CallResult Batch() {
    host->Fields().Set(host->Fields().Variable("n"), velmar::Value::Text("unset"));
    return CallFull(BatchCall());
  }

  // Runs `call` in a fresh worker whose source keeps a journal: its requests after Connect's,
  // each once (for a batch, those while page 2 is in the scanner), with how often Connect sent
  // its triplet.
  std::vector<Target> Derive(const std::string& call, bool batch) {
    std::remove(journal_.c_str());
    std::vector<std::string> commands = {"journal " + journal_};
    if (batch) commands.insert(commands.begin(), kBatchPages);
    velmar::HandOnScannerCommands(commands);
    EXPECT_EQ("0", Call("Twain.Connect()"));
    const std::vector<Request> connect = ReadJournal(journal_);
    EXPECT_FALSE(connect.empty()) << "the worker's source kept no journal";
    EXPECT_EQ("0", CallFull(call).result.Display()) << call << " in a clean run";
    EXPECT_EQ("0", Call("Twain.Disconnect()"));
    std::vector<Request> all = ReadJournal(journal_);
    std::vector<Target> targets;
    for (size_t i = connect.size(); i < all.size(); ++i) {
      const Request& r = all[i];
      if (batch && r.page != 2) continue;
      bool seen = false;
      for (const Target& t : targets) seen = seen || t.request.SameTriplet(r);
      if (seen) continue;
      Target t{r, 0};
      for (const Request& c : connect) t.before += c.SameTriplet(r) ? 1 : 0;
      targets.push_back(t);
    }
    return targets;
  }

  // The clean runs, once a route (each route's worker has its own copy of the scanner).
  const Baseline& Clean() {
    static std::map<const Route*, Baseline> baselines;
    static std::set<const Route*> made;
    Baseline& b = baselines[gRoute];
    if (made.count(gRoute)) return b;
    for (Single s : {kNative, kFile}) {
      b.single[s] = Derive(SingleCall(s), false);
      b.page[s] = Bytes(SinglePath(s));
      EXPECT_FALSE(b.page[s].empty()) << "the clean scan left no page: " << SingleCall(s);
      EXPECT_FALSE(b.single[s].empty());
      Empty(dir_);
    }
    b.batch = Derive(BatchCall(), true);
    EXPECT_EQ(3, Count()) << "the clean batch";
    for (int k = 1; k <= 3; ++k) b.pages.push_back(Bytes(dir_ + "\\" + PageFile(k)));
    Empty(dir_);
    for (const std::string& p : b.pages) EXPECT_FALSE(p.empty()) << "the clean batch left a page out";
    EXPECT_FALSE(b.batch.empty());
    // The transfer itself is among the requests of each.
    auto has = [](const std::vector<Target>& list, TW_UINT16 dat) {
      for (const Target& t : list)
        if (t.request.dg == DG_IMAGE && t.request.dat == dat) return true;
      return false;
    };
    EXPECT_TRUE(has(b.single[kNative], DAT_IMAGENATIVEXFER));
    EXPECT_TRUE(has(b.single[kFile], DAT_IMAGEFILEXFER));
    EXPECT_TRUE(has(b.batch, DAT_IMAGENATIVEXFER));
    if (!::testing::Test::HasFailure()) made.insert(gRoute);
    return b;
  }

  // After a case: the next calls work in a fresh worker, and Disconnect ends it.
  void ExpectRecovery(const std::string& what) {
    Empty(dir_);
    EXPECT_EQ("0", Call("Twain.Connect()")) << what << ": Connect afterwards";
    EXPECT_EQ("0", Call(SingleCall())) << what << ": a scan afterwards";
    EXPECT_TRUE(Bytes(SinglePath()) == Clean().page[kNative]) << what << ": the page of the scan afterwards";
    EXPECT_EQ("0", Call("Twain.Disconnect()")) << what;
    EXPECT_TRUE(Workers().empty()) << what << ": a worker outlived Disconnect";
    Empty(dir_);
  }

  // A call's answer as the misdeed allows it: 19 for a worker that ended, 0 for a hang, either
  // for a damaged heap (it may never show). True when the call went through.
  static bool ExpectAnswer(Misdeed m, const std::string& got, const std::string& what) {
    if (m == Misdeed::kHang) {
      EXPECT_EQ("0", got) << what;
    } else if (m == Misdeed::kCorruptHeap) {
      EXPECT_TRUE(got == "0" || got == "19") << what << ": " << got;
    } else {
      EXPECT_EQ("19", got) << what;
    }
    return got == "0";
  }

  // The batch's folder holds pages 1 to its count, each whole (the clean batch's page), and
  // nothing else.
  void ExpectCountedPages(const std::string& what) {
    const double count = Count();
    std::vector<std::string> want;
    for (int k = 1; k <= count && k <= 3; ++k) want.push_back(PageFile(k));
    EXPECT_EQ(Joined(want), Joined(FilesIn(dir_)))
        << what << ": the pages left are the pages counted (" << count << ")";
    for (int k = 1; k <= count && k <= 3; ++k)
      EXPECT_TRUE(Bytes(dir_ + "\\" + PageFile(k)) == Clean().pages[size_t(k - 1)])
          << what << ": page " << k << " is not whole";
  }

  void SingleCase(Single s, Misdeed m, const Target& t) {
    const std::string what = SingleCall(s) + ", " + Command(m, t.request, 0);
    Empty(dir_);
    std::vector<std::string> commands(size_t(t.before), "hang " + t.request.Triplet() + " 0");
    commands.push_back(Command(m, t.request, 0));
    velmar::HandOnScannerCommands(commands);
    ASSERT_EQ("0", Call("Twain.Connect()")) << what;
    const std::string got = Call(SingleCall(s));
    if (ExpectAnswer(m, got, what)) {
      EXPECT_EQ(kSingleNames[s], Joined(FilesIn(dir_))) << what;
      EXPECT_TRUE(Bytes(SinglePath(s)) == Clean().page[s]) << what << ": the page is not whole";
    } else {
      EXPECT_TRUE(Workers().empty()) << what << ": the worker that ended is still there";
      EXPECT_EQ("(none)", Joined(FilesIn(dir_))) << what << ": a scan that failed left files";
    }
    ExpectRecovery(what);
  }

  void BatchCase(Misdeed m, const Target& t) {
    const std::string what = std::string("ScanPages, ") + Command(m, t.request, 2);
    Empty(dir_);
    velmar::HandOnScannerCommands({kBatchPages, Command(m, t.request, 2)});
    ASSERT_EQ("0", Call("Twain.Connect()")) << what;
    const std::string got = Batch().result.Display();
    if (ExpectAnswer(m, got, what)) {
      EXPECT_EQ(3, Count()) << what;
    } else {
      EXPECT_TRUE(Workers().empty()) << what << ": the worker that ended is still there";
      // Page 1 was settled before page 2 came; a damaged heap may end the worker later on.
      if (m == Misdeed::kCorruptHeap) {
        EXPECT_GE(Count(), 1) << what << ": the page count";
      } else {
        EXPECT_EQ(1, Count()) << what << ": the page count";
      }
    }
    ExpectCountedPages(what);
    ExpectRecovery(what);
  }

  void Matrix(Misdeed m) {
    const auto start = std::chrono::steady_clock::now();
    const Baseline& b = Clean();
    ASSERT_FALSE(::testing::Test::HasFailure()) << "no clean run to derive the requests from";
    for (Single s : {kNative, kFile}) {
      for (const Target& t : b.single[s]) {
        SingleCase(s, m, t);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    for (const Target& t : b.batch) {
      BatchCase(m, t);
      if (::testing::Test::HasFatalFailure()) return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "  %s: %zu requests of the native scan, %zu of the file scan, %zu of the batch's page 2, %.1f s\n",
        Verb(m), b.single[kNative].size(), b.single[kFile].size(), b.batch.size(), seconds);
  }

  std::string dir_;
  std::string journal_;
};

TEST_P(WorkerFaultTest, ASourceThatCrashesAtAnyRequestAnswers19) { Matrix(Misdeed::kCrash); }
TEST_P(WorkerFaultTest, ASourceThatExitsAtAnyRequestAnswers19) { Matrix(Misdeed::kExit); }
TEST_P(WorkerFaultTest, ASourceThatDamagesItsHeapAtAnyRequestAnswers0Or19) { Matrix(Misdeed::kCorruptHeap); }
TEST_P(WorkerFaultTest, ASourceThatHangsAtAnyRequestAnswersAsWithoutIt) { Matrix(Misdeed::kHang); }

// The worker killed while the source hangs on page 2: 19, and page 1 kept and counted.
TEST_P(WorkerFaultTest, AWorkerKilledDuringABatchAnswers19AndKeepsItsPages) {
  Clean();
  ASSERT_FALSE(HasFailure());
  std::remove(journal_.c_str());
  velmar::HandOnScannerCommands({kBatchPages, "journal " + journal_, "hang 0xFFFF 0xFFFF 0xFFFF 30 page 2"});
  ASSERT_EQ("0", Call("Twain.Connect()"));
  std::atomic<bool> killed{false};
  std::thread killer([&] {
    for (int i = 0; i < 1000 && !killed; ++i) {
      bool onPage2 = false;
      for (const Request& r : ReadJournal(journal_)) onPage2 = onPage2 || r.page == 2;
      std::vector<unsigned long> workers = Workers();
      if (onPage2 && workers.size() == 1) {
        HANDLE worker = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, workers[0]);
        if (worker) {
          killed = TerminateProcess(worker, 9) != 0;
          CloseHandle(worker);
        }
      }
      Sleep(20);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const std::string got = Batch().result.Display();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  killed = true;  // ends the killer, should it still look
  killer.join();
  EXPECT_EQ("19", got);
  EXPECT_LT(seconds, 25) << "the call waited out the hang";
  EXPECT_EQ(1, Count()) << "page 1 counted";
  ExpectCountedPages("killed on page 2");
  ExpectRecovery("killed on page 2");
}

// The host killed while its worker's source hangs on page 2: the worker goes with it.
TEST_P(WorkerFaultTest, AHostKilledDuringABatchLeavesNoWorker) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  std::string folder(self, n);
  folder.erase(folder.find_last_of('\\'));
  // velmar-host.exe and the DLL are in the build's folder, kv_tests.exe in it or below.
  std::string hostProgram;
  for (const std::string& d : {folder, folder + "\\.."})
    if (GetFileAttributesA((d + "\\velmar-host.exe").c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA((d + "\\" + gRoute->worker).c_str()) != INVALID_FILE_ATTRIBUTES)
      hostProgram = d + "\\velmar-host.exe";
  ASSERT_FALSE(hostProgram.empty()) << "no velmar-host.exe with a worker beside it near " << folder;
  std::remove(journal_.c_str());
  std::string command =
      "\"" + hostProgram + "\" --scanner-control \"" + kBatchPages + "\" --scanner-control \"journal " +
      journal_ + "\" --scanner-control \"hang 0xFFFF 0xFFFF 0xFFFF 60 page 2\"" +
      " --setup \"Twain.SetOption(\\\"" + gRoute->option + "\\\", \\\"" + gRoute->value +
      "\\\")\" \"Twain.Connect()\"" + " \"Twain.ScanPages(\\\"" + dir_ + "\\\\host.bmp\\\", $n, 0, 2, 3)\"";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nothing = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA info{};
  info.cb = sizeof info;
  info.dwFlags = STARTF_USESTDHANDLES;
  info.hStdInput = info.hStdOutput = info.hStdError = nothing;
  PROCESS_INFORMATION child{};
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &info, &child))
      << command;
  CloseHandle(nothing);
  CloseHandle(child.hThread);
  // Until its worker's source is on page 2.
  std::vector<unsigned long> workers;
  bool onPage2 = false;
  for (int i = 0; i < 1500 && !onPage2; ++i) {
    Sleep(20);
    workers = WorkersOf(child.dwProcessId);
    for (const Request& r : ReadJournal(journal_)) onPage2 = onPage2 || r.page == 2;
    if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) break;
  }
  HANDLE worker = workers.size() == 1 ? OpenProcess(SYNCHRONIZE, FALSE, workers[0]) : nullptr;
  TerminateProcess(child.hProcess, 9);
  WaitForSingleObject(child.hProcess, 10000);
  CloseHandle(child.hProcess);
  ASSERT_TRUE(onPage2) << "the host's batch never reached page 2: " << command;
  ASSERT_NE(nullptr, worker) << "the host had no worker";
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 10000)) << "the worker outlived its host";
  CloseHandle(worker);
  EXPECT_TRUE(WorkersOf(child.dwProcessId).empty());
}

const Route kRoutes[] = {
    {"ISOLATION", "PROCESS", "kv-worker.exe"},
#ifdef _WIN64
    {"SOURCES", "32BIT", "kv-worker32.exe"},
#endif
};
INSTANTIATE_TEST_SUITE_P(Routes, WorkerFaultTest, ::testing::ValuesIn(kRoutes),
                         [](const ::testing::TestParamInfo<Route>& info) {
                           return std::string(info.param.worker[9] == '3' ? "Worker32" : "Worker");
                         });

#endif
// The Mac build has no worker process (worker_test.cpp checks that ISOLATION "PROCESS" is
// refused there): nothing here runs on it.

}  // namespace
}  // namespace kvtest
