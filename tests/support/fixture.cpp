#include "tests/support/fixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "entry/entry.h"
#include "host/host_platform.h"
#include "kv_catalogue.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
// After windows.h.
#include <psapi.h>
#include <tlhelp32.h>

#else
#include <CarbonStandin.h>
#include <ImageIOStandin.h>
#include <TWAIN/TWAINFrameworkStandin.h>
#include <dlfcn.h>
#endif

namespace kvtest {

#if KV_WINDOWS_BUILD
static void __stdcall EntryPoint(int32_t message, void** slot, void* window, int32_t, int32_t,
                                 HostCallback cb) {
  RouteMessage(static_cast<int16_t>(message), slot, cb, window);
}

static void* ScannerModule() {
  // Where the build's prefix holds the scanner: the sources of a 64-bit process are in twain_64.
  static HMODULE module =
      LoadLibraryA(kPointerBytes == 8 ? "C:\\windows\\twain_64\\sane.ds" : "C:\\windows\\twain_32\\sane.ds");
  return reinterpret_cast<void*>(module);
}
static void* ScannerSymbol(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(ScannerModule()), name));
}
long LiveBlocks() { return 0; }
long ManagerCount(const char* exportName) {
  HMODULE manager = GetModuleHandleA("twaindsm.dll");
  auto count =
      manager ? reinterpret_cast<TW_UINT32 (*)()>(reinterpret_cast<void*>(GetProcAddress(manager, exportName)))
              : nullptr;
  return count ? static_cast<long>(count()) : -1;
}
long ManagerBlocks() { return ManagerCount("TwainDsmStandinLiveBlocks"); }
// The TWAIN 2 manager's default source (the registry value it keeps and a choice in its
// dialog writes), saved before each test and put back after it, so that a test's choice does
// not become the next test's default.
const char* const kManagerKey = kPointerBytes == 8 ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN64"
                                                   : "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN";
static std::string SavedDefaultSource() {
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  if (RegGetValueA(HKEY_CURRENT_USER, kManagerKey, "Default Source", RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS)
    return "";
  return value;
}
static void RestoreDefaultSource(const std::string& value) {
  if (value.empty()) return;
  RegSetKeyValueA(HKEY_CURRENT_USER, kManagerKey, "Default Source", REG_SZ, value.c_str(),
                  static_cast<DWORD>(value.size() + 1));
}
// The TWAIN 2 manager loads every source at each MSG_OPENDSM to ask its identity, and Wine's
// camera source keeps some 6.7 MB at each load: over the hundreds of openings of a fault
// matrix that fills a 32-bit process. Held loaded by the test program, it is loaded once.
static const bool kCameraHeld = [] {
  if (!UnderTwain2Manager()) return false;
  char windows[MAX_PATH];
  UINT w = GetWindowsDirectoryA(windows, MAX_PATH - 32);
  if (w == 0 || w >= MAX_PATH - 32) return false;
  lstrcpyA(windows + w, kPointerBytes == 8 ? "\\twain_64\\gphoto2.ds" : "\\twain_32\\gphoto2.ds");
  return LoadLibraryA(windows) != nullptr;
}();
std::vector<unsigned long> ChildProcesses(const char* exe, unsigned long parent) {
  if (parent == 0) parent = GetCurrentProcessId();
  std::vector<unsigned long> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ParentProcessID == parent && lstrcmpiA(entry.szExeFile, exe) == 0)
      found.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return found;
}

std::string BesideTheProgram(const char* file) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return file;
  std::string path(self, n);
  return path.erase(path.find_last_of('\\') + 1) + file;
}

long GdiObjects() {
  long n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (n != 0) return n;
  for (ULONG_PTR index = 1; index < 0x10000; ++index)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++n;
  return n;
}
#else
static void EntryPoint(int16_t message, void** slot, HostParamBlock* block) {
  RouteMessage(message, slot, block);
}

static void* ScannerModule() {
  static void* module = dlopen(KV_OUT_DIR "/lib/TWAIN Data Sources/VirtualScanner.ds", RTLD_NOW);
  return module;
}
static void* ScannerSymbol(const char* name) {
  return ScannerModule() ? dlsym(ScannerModule(), name) : nullptr;
}
long LiveBlocks() { return CarbonStandin_LivePointers() + CarbonStandin_LiveHandles(); }
long GdiObjects() { return 0; }

// Every test, once over: the extension closes each file once. A second FSClose of a number
// is rfNumErr here only because nothing took the number in between; on a Mac it may close
// another file (Inside Macintosh: Files, FSClose).
static std::string gSecondCloses;  // the tests that closed a file twice

// Every test, once over, has also released every CoreFoundation and CoreGraphics object it
// made (what lives on between tests, such as constants, is the same before and after).
static std::string gObjectsLeft;  // the tests that left objects alive

class SecondCloses : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    before_ = CarbonStandin_StrayCloses();
    objects_ = ImageIOStandin_LiveObjects();
  }
  void OnTestEnd(const ::testing::TestInfo& test) override {
    const std::string name = std::string(" ") + test.test_suite_name() + "." + test.name();
    if (CarbonStandin_StrayCloses() != before_) gSecondCloses += name;
    if (ImageIOStandin_LiveObjects() != objects_) gObjectsLeft += name;
  }
  long before_ = 0;
  long objects_ = 0;
};

class NoSecondCloses : public ::testing::Environment {
  void TearDown() override {
    EXPECT_EQ(gSecondCloses, "") << "closed a file that was already closed";
    EXPECT_EQ(gObjectsLeft, "") << "left CoreFoundation or CoreGraphics objects alive";
  }
};

static const bool kOneCloseAFile = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SecondCloses);
  ::testing::AddGlobalTestEnvironment(new NoSecondCloses);
  return true;
}();
#endif

#if !KV_WINDOWS_BUILD
long ManagerCount(const char*) { return -1; }
long ManagerBlocks() { return -1; }
static std::string SavedDefaultSource() { return ""; }
static void RestoreDefaultSource(const std::string&) {}
#endif

namespace {
std::string gDefaultSource;  // the manager's default source when the test began
}  // namespace

bool UnderTwain2Manager() {
  const char* manager = TestManager();
  return kWindowsBuild && (manager ? std::strcmp(manager, "TWAIN_32") != 0 : kPointerBytes == 8);
}

int VirtualScannerChoice() { return UnderTwain2Manager() ? 1 : 0; }

velmar::ExtensionEntry Entry() { return &EntryPoint; }

std::vector<std::string> CatalogueStrings() {
  return std::vector<std::string>(kCatalogueEntries, kCatalogueEntries + kCatalogueEntryCount);
}

int Scanner(const std::string& command) {
  auto control = reinterpret_cast<int (*)(const char*)>(ScannerSymbol("VirtualScannerControl"));
  if (!control) {
    ADD_FAILURE() << "the virtual scanner's control interface is not reachable";
    return -1;
  }
  return control(command.c_str());
}

std::string ScannerQuery(const std::string& what) {
  auto query = reinterpret_cast<int (*)(const char*, char*, int)>(ScannerSymbol("VirtualScannerQuery"));
  char out[4096] = {0};
  if (!query || query(what.c_str(), out, sizeof out) != 0) return "";
  return out;
}

long DsmCalls() {
#if KV_WINDOWS_BUILD
  return std::atol(ScannerQuery("calls").c_str());
#else
  return TWAINFramework_CallCount();
#endif
}

long long ProcessBytes() {
#if KV_WINDOWS_BUILD
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long long>(counters.PagefileUsage);  // Wine leaves PrivateUsage 0
#else
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<long long>(resident) * 4096;
#endif
}

void ExtensionTest::SetUp() {
#if !KV_WINDOWS_BUILD
  // Every test starts with a DSM that no application holds open.
  TWAINFramework_Reset();
  CarbonStandin_ResetEvents();
#endif
  ASSERT_EQ(0, Scanner("reset"));
  gDefaultSource = SavedDefaultSource();
  host = std::make_unique<velmar::Host>(Entry(), CatalogueStrings());
  host->Construct();
  ASSERT_NE(nullptr, Record());
  // KV_TEST_DSM runs every test against the manager it names (the option DSM), for the suite
  // to run once against each manager.
  if (const char* manager = TestManager()) {
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"DSM\", \"") + manager + "\")"));
  }
}

const char* TestManager() {
  const char* manager = std::getenv("KV_TEST_DSM");
  return manager && *manager ? manager : nullptr;
}

void ExtensionTest::TearDown() {
  if (host) {
    host->Destruct();
    EXPECT_EQ(nullptr, host->Slot());
    host.reset();
  }
  platform::SetHostWindow(nullptr);  // the host's window went with it
  RestoreDefaultSource(gDefaultSource);
}

velmar::CallResult ExtensionTest::CallFull(const std::string& call) {
  long before = LiveBlocks();
  long managerBefore = ManagerBlocks();
  velmar::CallResult r = host->Call(call);
  EXPECT_TRUE(r.ok) << call << ": " << r.error;
  // The TWAIN 2 manager's memory functions: every block of them that the call saw handed over
  // was freed. Its count starts at 0 when the call loads it; a call that unloads it proves
  // nothing.
  long managerAfter = ManagerBlocks();
  if (managerAfter >= 0) {
    EXPECT_EQ(managerBefore < 0 ? 0 : managerBefore, managerAfter)
        << call << " left blocks of the manager's memory functions behind";
  }
  // Whatever the call did, it leaves no image and no block behind.
  if (TwainGlobals* g = Record()) {
    EXPECT_EQ(nullptr, g->imageHandle) << call;
  }
  EXPECT_EQ(before, LiveBlocks()) << call << " left Memory Manager blocks behind";
  return r;
}

std::string ExtensionTest::Call(const std::string& call) { return CallFull(call).result.Display(); }

TwainGlobals* ExtensionTest::Record() { return LiveRecord(host->Slot()); }

}  // namespace kvtest
