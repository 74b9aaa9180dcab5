// The manager stand-in, driven as an application drives it: loaded by path from the build,
// with the two test sources installed below the width's source folder for the run.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "standins/twaindsm/twaindsm.h"

namespace {

constexpr bool kWide = sizeof(void*) == 8;
const char* const kRegistryKey = kWide ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN64"
                                       : "Software\\Microsoft\\Windows NT\\CurrentVersion\\TWAIN";

// A path of the build (a Unix path) as Wine's Z: drive shows it.
std::string WinePath(const char* unixPath) {
  std::string path = std::string("Z:") + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

HMODULE Manager() {
  static HMODULE module = LoadLibraryA(WinePath(KV_TWAINDSM_DLL).c_str());
  return module;
}

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

DSMENTRYPROC Entry() { return Export<DSMENTRYPROC>(Manager(), "DSM_Entry"); }

TW_UINT32 LiveBlocks() { return Export<TWAINDSM_LIVEBLOCKS>(Manager(), "TwainDsmStandinLiveBlocks")(); }

std::string SourceFolder() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows) + (kWide ? "\\twain_64\\kvtest" : "\\twain_32\\kvtest");
}
// The 1.x source one folder deeper, to be found recursively.
std::string InstalledSource(int kind) {
  return SourceFolder() + (kind == 1 ? "\\deeper\\kvtest_ds1.ds" : "\\kvtest_ds2.ds");
}
// Beside them: a .ds that is no module, and a source under another extension.
std::string BrokenSource() { return SourceFolder() + "\\broken.ds"; }
std::string NotASource() { return SourceFolder() + "\\kvtest_ds2.dsx"; }

std::string ReadDefault() {
  char path[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  if (RegGetValueA(HKEY_CURRENT_USER, kRegistryKey, "Default Source", RRF_RT_REG_SZ, nullptr, path, &size) !=
      ERROR_SUCCESS)
    return "";
  return path;
}
void WriteDefault(const std::string& path) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (path.empty())
    RegDeleteValueA(key, "Default Source");
  else
    RegSetValueExA(key, "Default Source", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
}

TW_IDENTITY AppIdentity(bool twain2) {
  TW_IDENTITY id{};
  id.Version.MajorNum = 1;
  id.ProtocolMajor = twain2 ? 2 : 1;
  id.ProtocolMinor = twain2 ? 4 : 9;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE | (twain2 ? DF_APP2 : 0);
  std::strcpy(id.Manufacturer, "Kardivelle tests");
  std::strcpy(id.ProductFamily, "Manager tests");
  std::strcpy(id.ProductName, "Manager suite");
  return id;
}

// One application of the manager; closes what it opened.
struct App {
  explicit App(bool twain2 = true, HWND window = nullptr) : identity(AppIdentity(twain2)), window(window) {}
  ~App() {
    for (TW_IDENTITY& s : open) Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &s);
    if (opened) Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
  }
  TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return Entry()(&identity, dest, dg, dat, msg, data);
  }
  TW_UINT16 OpenDsm() {
    const TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window);
    opened = opened || rc == TWRC_SUCCESS;
    return rc;
  }
  TW_UINT16 Status(TW_IDENTITY* dest = nullptr) {
    TW_STATUS status{0xFFFF, 0};
    EXPECT_EQ(Call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    return status.ConditionCode;
  }
  // MSG_OPENDS by product name ("" for the default); the identity the manager gave back.
  TW_UINT16 OpenDs(const char* name, TW_IDENTITY* source) {
    *source = TW_IDENTITY{};
    std::strcpy(source->ProductName, name);
    const TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, source);
    if (rc == TWRC_SUCCESS) open.push_back(*source);
    return rc;
  }
  TW_UINT16 CloseDs(TW_IDENTITY* source) {
    const TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, source);
    if (rc == TWRC_SUCCESS)
      for (auto it = open.begin(); it != open.end(); ++it)
        if (it->Id == source->Id) {
          open.erase(it);
          break;
        }
    return rc;
  }
  std::vector<TW_IDENTITY> List() {
    std::vector<TW_IDENTITY> all;
    TW_IDENTITY s{};
    for (TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &s); rc == TWRC_SUCCESS;
         rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &s))
      all.push_back(s);
    return all;
  }
  TW_IDENTITY identity;
  HWND window;
  bool opened = false;
  std::vector<TW_IDENTITY> open;
};

constexpr const char* kSource1 = "KV Test Source 1";
constexpr const char* kSource2 = "KV Test Source 2";

// The open test source's own exports (the module the manager loaded).
HMODULE TestSource(int kind) { return GetModuleHandleA(InstalledSource(kind).c_str()); }
TW_UINT16 SourceSends(int kind, TW_UINT16 msg) {
  auto send = Export<TW_UINT16 (*)(TW_UINT16)>(TestSource(kind), "KvTestSourceSend");
  return send ? send(msg) : 0xFFFE;
}

class ManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(Manager(), nullptr) << WinePath(KV_TWAINDSM_DLL);
    CreateDirectoryA(SourceFolder().c_str(), nullptr);
    CreateDirectoryA((SourceFolder() + "\\deeper").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(WinePath(KV_TEST_SOURCE_1).c_str(), InstalledSource(1).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(WinePath(KV_TEST_SOURCE_2).c_str(), InstalledSource(2).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(WinePath(KV_TEST_SOURCE_2).c_str(), NotASource().c_str(), FALSE));
    HANDLE broken = CreateFileA(BrokenSource().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(broken, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(broken, "not a module", 12, &written, nullptr);
    CloseHandle(broken);
    savedDefault_ = new std::string(ReadDefault());
  }
  static void TearDownTestSuite() {
    WriteDefault(*savedDefault_);
    DeleteFileA(InstalledSource(1).c_str());
    DeleteFileA(InstalledSource(2).c_str());
    DeleteFileA(NotASource().c_str());
    DeleteFileA(BrokenSource().c_str());
    RemoveDirectoryA((SourceFolder() + "\\deeper").c_str());
    RemoveDirectoryA(SourceFolder().c_str());
  }
  static std::string* savedDefault_;
};
std::string* ManagerTest::savedDefault_ = nullptr;

TW_IDENTITY Find(const std::vector<TW_IDENTITY>& list, const char* name) {
  for (const TW_IDENTITY& s : list)
    if (!std::strcmp(s.ProductName, name)) return s;
  return TW_IDENTITY{};
}

// ---------------------------------------------------------------- identity and entry points

TEST_F(ManagerTest, OpenDsmGivesAnIdAndFlagsOnlyTwain2Applications) {
  App two(true), one(false);
  one.identity.SupportedGroups |= DF_DSM2;  // an application cannot claim the manager's flag
  ASSERT_EQ(two.OpenDsm(), TWRC_SUCCESS);
  ASSERT_EQ(one.OpenDsm(), TWRC_SUCCESS);
  EXPECT_TRUE(two.identity.SupportedGroups & DF_DSM2);
  EXPECT_FALSE(one.identity.SupportedGroups & DF_DSM2);
  EXPECT_NE(two.identity.Id, 0u);
  EXPECT_NE(one.identity.Id, two.identity.Id);
  EXPECT_EQ(two.OpenDsm(), TWRC_FAILURE) << "a second MSG_OPENDSM";
  EXPECT_EQ(two.Status(), TWCC_SEQERROR);
  EXPECT_EQ(two.Status(), TWCC_SUCCESS) << "a condition is answered once";
}

TEST_F(ManagerTest, EntryPointOnlyForAnOpenTwain2ApplicationWithTheRightSize) {
  TW_ENTRYPOINT points{};
  points.Size = sizeof points;
  App early(true);
  EXPECT_EQ(early.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_FAILURE);
  EXPECT_EQ(early.Status(), TWCC_BADPROTOCOL) << "before MSG_OPENDSM";

  App one(false);
  ASSERT_EQ(one.OpenDsm(), TWRC_SUCCESS);
  EXPECT_EQ(one.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_FAILURE);
  EXPECT_EQ(one.Status(), TWCC_BADPROTOCOL) << "without DF_APP2";

  App two(true);
  ASSERT_EQ(two.OpenDsm(), TWRC_SUCCESS);
  for (TW_UINT32 wrong : {0u, TW_UINT32(sizeof points - 1), kWide ? 24u : 44u}) {
    points.Size = wrong;
    EXPECT_EQ(two.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_FAILURE) << wrong;
    EXPECT_EQ(two.Status(), TWCC_BADPROTOCOL) << wrong;
  }
  points.Size = sizeof points;
  EXPECT_EQ(two.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points), TWRC_FAILURE);
  ASSERT_EQ(two.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_SUCCESS);
  EXPECT_EQ(sizeof points, kWide ? 44u : 24u);
  EXPECT_EQ(reinterpret_cast<void*>(points.DSM_Entry), reinterpret_cast<void*>(Entry()));
  ASSERT_TRUE(points.DSM_MemAllocate && points.DSM_MemFree && points.DSM_MemLock && points.DSM_MemUnlock);
}

// ---------------------------------------------------------------- states

TEST_F(ManagerTest, TripletsOutsideTheirStateAreSequenceErrors) {
  App app;
  TW_IDENTITY s{};
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &s), TWRC_FAILURE) << "state 2";
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &app.window), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);

  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &s), TWRC_FAILURE) << "no GETFIRST yet";
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
  TW_IDENTITY closed = Find(app.List(), kSource2);
  ASSERT_NE(closed.Id, 0u);
  TW_EVENT event{};
  EXPECT_EQ(app.Call(&closed, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_SEQERROR) << "a triplet for a source not open";
  EXPECT_EQ(app.CloseDs(&closed), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
  TW_CALLBACK callback{};
  EXPECT_EQ(app.Call(&closed, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &callback), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_SEQERROR) << "a callback before MSG_OPENDS";

  TW_IDENTITY source;
  ASSERT_EQ(app.OpenDs(kSource2, &source), TWRC_SUCCESS);
  TW_IDENTITY again;
  EXPECT_EQ(app.OpenDs(kSource2, &again), TWRC_FAILURE) << "already open: the source refuses";
  EXPECT_EQ(app.Status(), TWCC_OPERATIONERROR) << "an open TWAIN 2 source refuses new entry points";
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &app.window), TWRC_FAILURE)
      << "a source is still open";
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
  ASSERT_EQ(app.CloseDs(&source), TWRC_SUCCESS);
  EXPECT_EQ(app.Call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_FAILURE) << "closed again";
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
}

// A close answered otherwise than TWRC_SUCCESS leaves the source with the manager, open and
// loaded; opening it again is the source's to decide.
TEST_F(ManagerTest, ASourceWhoseCloseIsNotASuccessIsKeptAndAskedAgainOnTheNextOpen) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  TW_IDENTITY source;
  ASSERT_EQ(app.OpenDs(kSource2, &source), TWRC_SUCCESS);
  auto entryPointsSet = Export<int (*)()>(TestSource(2), "KvTestSourceEntryPointsSet");
  const int handedOver = entryPointsSet();
  Export<void (*)(TW_UINT16)>(TestSource(2), "KvTestSourceNextCloseAnswers")(TWRC_CHECKSTATUS);
  EXPECT_EQ(app.CloseDs(&source), TWRC_CHECKSTATUS);
  EXPECT_EQ(app.Status(), TWCC_OPERATIONERROR);
  TW_STATUS status{};
  EXPECT_EQ(app.Call(&source, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS) << "still reachable";
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &app.window), TWRC_FAILURE)
      << "a source is still open";
  // The source itself closed: it takes the open, and then closes for good.
  TW_IDENTITY again;
  ASSERT_EQ(app.OpenDs(kSource2, &again), TWRC_SUCCESS);
  EXPECT_EQ(again.Id, source.Id);
  EXPECT_EQ(entryPointsSet(), handedOver + 1) << "its entry points anew";
  ASSERT_EQ(app.CloseDs(&again), TWRC_SUCCESS);
  app.open.clear();
  EXPECT_EQ(app.Call(&source, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
  EXPECT_EQ(app.Call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &status), TWRC_FAILURE) << "closed";
}

// ---------------------------------------------------------------- sources

TEST_F(ManagerTest, ListsEverySourceOnceAmongOthersThenEndOfList) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  const std::vector<TW_IDENTITY> all = app.List();
  const TW_IDENTITY one = Find(all, kSource1), two = Find(all, kSource2);
  ASSERT_NE(one.Id, 0u);
  ASSERT_NE(two.Id, 0u);
  EXPECT_TRUE(two.SupportedGroups & DF_DS2);
  EXPECT_FALSE(one.SupportedGroups & DF_DS2);
  int twos = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    twos += !std::strcmp(all[i].ProductName, kSource2);
    for (size_t j = i + 1; j < all.size(); ++j) EXPECT_NE(all[i].Id, all[j].Id);
  }
  EXPECT_EQ(twos, 1) << "only *.ds files are sources";
  TW_IDENTITY s{};
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &s), TWRC_ENDOFLIST) << "still at the end";
  EXPECT_EQ(app.List().size(), all.size()) << "GETFIRST starts over";
}

TEST_F(ManagerTest, OpenDsHandsTheEntryPointsOnlyToATwain2SourceAndForwardsWhileOpen) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  TW_IDENTITY two, one, none;
  ASSERT_EQ(app.OpenDs(kSource2, &two), TWRC_SUCCESS);
  ASSERT_EQ(app.OpenDs(kSource1, &one), TWRC_SUCCESS);
  EXPECT_STREQ(two.ProductName, kSource2);
  EXPECT_EQ(Export<int (*)()>(TestSource(2), "KvTestSourceEntryPointsSet")(), 1);
  EXPECT_EQ(Export<int (*)()>(TestSource(1), "KvTestSourceEntryPointsSet")(), 0);
  EXPECT_EQ(Export<TW_UINT32 (*)()>(TestSource(2), "KvTestSourceId")(), two.Id) << "the source saw its Id";
  EXPECT_EQ(app.OpenDs("No Such Source", &none), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_NODS);

  TW_EVENT event{nullptr, 0xFFFF};
  EXPECT_EQ(app.Call(&one, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  EXPECT_EQ(event.TWMessage, MSG_NULL);
  // A failure of the source is the source's condition; the manager's own stays clear.
  TW_UINT32 group = 0;
  EXPECT_EQ(app.Call(&two, DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group), TWRC_FAILURE);
  EXPECT_EQ(app.Status(&two), TWCC_BADPROTOCOL);
  EXPECT_EQ(app.Status(), TWCC_SUCCESS);
}

TEST_F(ManagerTest, DefaultSourceIsTheRegistrysPathOrTheFirst) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  const std::vector<TW_IDENTITY> all = app.List();
  TW_IDENTITY s{};
  WriteDefault(InstalledSource(1));
  ASSERT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s), TWRC_SUCCESS);
  EXPECT_STREQ(s.ProductName, kSource1);
  WriteDefault(InstalledSource(2));
  ASSERT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s), TWRC_SUCCESS);
  EXPECT_STREQ(s.ProductName, kSource2);
  TW_IDENTITY opened;
  ASSERT_EQ(app.OpenDs("", &opened), TWRC_SUCCESS) << "no name: the default";
  EXPECT_STREQ(opened.ProductName, kSource2);
  WriteDefault("C:\\nowhere\\gone.ds");
  ASSERT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &s), TWRC_SUCCESS);
  EXPECT_STREQ(s.ProductName, all[0].ProductName) << "a stale default: the first source";
  // MSG_SET keeps the path, as the Windows manager does.
  TW_IDENTITY one = Find(all, kSource1);
  ASSERT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_SET, &one), TWRC_SUCCESS);
  EXPECT_EQ(lstrcmpiA(ReadDefault().c_str(), InstalledSource(1).c_str()), 0) << ReadDefault();
}

// Answers the manager's select dialog as a user would: list entry `choice` and OK, or Cancel
// when `choice` is negative. Looks for a visible dialog (#32770) of this process with a list box.
BOOL CALLBACK FindSelectDialog(HWND window, LPARAM param) {
  DWORD process = 0;
  char name[16] = {};
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (!GetClassNameA(window, name, sizeof name) || std::strcmp(name, "#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

void AnswerDialog(int choice, std::atomic<bool>* answered) {
  for (int tries = 0; tries < 500 && !*answered; ++tries) {
    Sleep(20);
    HWND found = nullptr;
    EnumWindows(FindSelectDialog, reinterpret_cast<LPARAM>(&found));
    if (!found) continue;
    HWND list = FindWindowExA(found, nullptr, "ListBox", nullptr);
    if (choice >= 0 && list) {
      SendMessageA(list, LB_SETCURSEL, WPARAM(choice), 0);
      SendMessageA(found, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    }
    PostMessageA(found, WM_COMMAND, MAKEWPARAM(choice >= 0 ? IDOK : IDCANCEL, BN_CLICKED), 0);
    *answered = true;
  }
}

TEST_F(ManagerTest, UserSelectIsADialogWhoseChoiceBecomesTheDefault) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  const std::vector<TW_IDENTITY> all = app.List();
  const TW_IDENTITY one = Find(all, kSource1);
  WriteDefault(InstalledSource(2));

  std::atomic<bool> answered{false};
  std::thread user(AnswerDialog, static_cast<int>(one.Id - 1), &answered);  // listed in Id order
  TW_IDENTITY chosen{};
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen), TWRC_SUCCESS);
  user.join();
  EXPECT_TRUE(answered);
  EXPECT_STREQ(chosen.ProductName, kSource1);
  EXPECT_EQ(chosen.Id, one.Id);
  EXPECT_EQ(lstrcmpiA(ReadDefault().c_str(), InstalledSource(1).c_str()), 0) << ReadDefault();

  answered = false;
  std::thread cancel(AnswerDialog, -1, &answered);
  TW_IDENTITY untouched{};
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &untouched), TWRC_CANCEL);
  cancel.join();
  EXPECT_TRUE(answered);
  EXPECT_EQ(untouched.Id, 0u);
  EXPECT_EQ(lstrcmpiA(ReadDefault().c_str(), InstalledSource(1).c_str()), 0) << "Cancel keeps the default";
}

// ---------------------------------------------------------------- DAT_NULL: callbacks and the queue

struct CallbackCall {
  int count = 0;
  TW_UINT32 originId = 0, destId = 0, dg = 0;
  TW_UINT16 dat = 0xFFFF, msg = 0;
  TW_MEMREF data = nullptr;
} g_callback;

TW_UINT16 TW_CALLINGSTYLE Callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                   TW_UINT16 msg, TW_MEMREF data) {
  ++g_callback.count;
  g_callback.originId = origin ? origin->Id : 0;
  g_callback.destId = dest ? dest->Id : 0;
  g_callback.dg = dg;
  g_callback.dat = dat;
  g_callback.msg = msg;
  g_callback.data = data;
  return TWRC_SUCCESS;
}

TEST_F(ManagerTest, DatNullCallsTheCallbackRegisteredForThatSource) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  TW_IDENTITY two, one;
  ASSERT_EQ(app.OpenDs(kSource2, &two), TWRC_SUCCESS);
  ASSERT_EQ(app.OpenDs(kSource1, &one), TWRC_SUCCESS);
  TW_CALLBACK callback{reinterpret_cast<TW_MEMREF>(Callback), 0x12345678, 0};
  ASSERT_EQ(app.Call(&two, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
  g_callback = {};
  EXPECT_EQ(SourceSends(2, MSG_XFERREADY), TWRC_SUCCESS);
  EXPECT_EQ(g_callback.count, 1);
  EXPECT_EQ(g_callback.originId, two.Id);
  EXPECT_EQ(g_callback.destId, app.identity.Id);
  EXPECT_EQ(g_callback.dg, DG_CONTROL);
  EXPECT_EQ(g_callback.dat, DAT_NULL);
  EXPECT_EQ(g_callback.msg, MSG_XFERREADY);
  EXPECT_EQ(g_callback.data, reinterpret_cast<TW_MEMREF>(TW_UINTPTR(0x12345678)));

  // DAT_CALLBACK2 on the 1.x source, with a reference as wide as an address.
  const TW_UINTPTR wide = kWide ? TW_UINTPTR(0x1122334455667788ull) : 0x55667788u;
  TW_CALLBACK2 callback2{reinterpret_cast<TW_MEMREF>(Callback), wide, 0};
  ASSERT_EQ(app.Call(&one, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback2), TWRC_SUCCESS);
  g_callback = {};
  EXPECT_EQ(SourceSends(1, MSG_CLOSEDSREQ), TWRC_SUCCESS);
  EXPECT_EQ(g_callback.count, 1);
  EXPECT_EQ(g_callback.originId, one.Id);
  EXPECT_EQ(g_callback.msg, MSG_CLOSEDSREQ);
  EXPECT_EQ(g_callback.data, reinterpret_cast<TW_MEMREF>(wide));

  // Not a message a source may send.
  g_callback = {};
  EXPECT_EQ(SourceSends(2, MSG_ENABLEDS), TWRC_FAILURE);
  EXPECT_EQ(g_callback.count, 0);
  EXPECT_EQ(app.Status(), TWCC_BADPROTOCOL);
}

TEST_F(ManagerTest, WithoutACallbackTheMessageWaitsForTheNextEventAndTheWindowIsWoken) {
  HWND window = CreateWindowExA(0, "STATIC", "app", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  {
    App app(false, window);  // a 1.x application: no callbacks at all
    ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
    TW_IDENTITY two, one;
    ASSERT_EQ(app.OpenDs(kSource2, &two), TWRC_SUCCESS);
    ASSERT_EQ(app.OpenDs(kSource1, &one), TWRC_SUCCESS);
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(SourceSends(2, MSG_XFERREADY), TWRC_SUCCESS);
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_NULL, WM_NULL, PM_REMOVE)) << "the window is woken";

    TW_EVENT event{&msg, 0xFFFF};
    EXPECT_EQ(app.Call(&one, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT)
        << "the message is the other source's";
    EXPECT_EQ(app.Call(&two, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_XFERREADY);
    event.TWMessage = 0xFFFF;
    EXPECT_EQ(app.Call(&two, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT)
        << "handed over once, then the source answers";
    EXPECT_EQ(event.TWMessage, MSG_NULL);

    // Closing the source drops what waited for it.
    EXPECT_EQ(SourceSends(1, MSG_CLOSEDSREQ), TWRC_SUCCESS);
    ASSERT_EQ(app.CloseDs(&one), TWRC_SUCCESS);
    TW_IDENTITY reopened;
    ASSERT_EQ(app.OpenDs(kSource1, &reopened), TWRC_SUCCESS);
    EXPECT_EQ(app.Call(&reopened, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  }
  DestroyWindow(window);
}

TEST_F(ManagerTest, DatNullFromASourceThatIsNotOpenFails) {
  App app;
  ASSERT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  TW_IDENTITY closed = Find(app.List(), kSource2);
  EXPECT_EQ(Entry()(&closed, &app.identity, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr), TWRC_FAILURE);
  EXPECT_EQ(app.Status(), TWCC_SEQERROR);
}

// ---------------------------------------------------------------- memory functions

TW_ENTRYPOINT EntryPoints(App& app) {
  TW_ENTRYPOINT points{};
  points.Size = sizeof points;
  EXPECT_EQ(app.OpenDsm(), TWRC_SUCCESS);
  EXPECT_EQ(app.Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &points), TWRC_SUCCESS);
  return points;
}

TEST(ManagerMemoryTest, BlocksAreCountedWhileLive) {
  ASSERT_NE(Manager(), nullptr);
  App app;
  const TW_ENTRYPOINT m = EntryPoints(app);
  const TW_UINT32 before = LiveBlocks();
  TW_HANDLE a = m.DSM_MemAllocate(100), b = m.DSM_MemAllocate(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(LiveBlocks(), before + 2);
  auto* bytes = static_cast<unsigned char*>(m.DSM_MemLock(a));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[0] | bytes[99], 0) << "zeroed";
  std::memset(bytes, 0xAB, 100);
  m.DSM_MemUnlock(a);
  EXPECT_EQ(static_cast<unsigned char*>(m.DSM_MemLock(a))[99], 0xAB);
  m.DSM_MemUnlock(a);
  m.DSM_MemFree(a);
  EXPECT_EQ(LiveBlocks(), before + 1);
  m.DSM_MemFree(b);
  EXPECT_EQ(LiveBlocks(), before);
}

// Another's global memory is the system's to the manager's functions, and counted.
TEST(ManagerMemoryTest, GlobalMemoryItDidNotAllocateIsTheSystemsAndCounted) {
  ASSERT_NE(Manager(), nullptr);
  App app;
  const TW_ENTRYPOINT m = EntryPoints(app);
  auto foreign = reinterpret_cast<TWAINDSM_FOREIGNUSES>(
      reinterpret_cast<void*>(GetProcAddress(Manager(), "TwainDsmStandinForeignUses")));
  ASSERT_NE(foreign, nullptr);
  const TW_UINT32 live = LiveBlocks(), before = foreign();
  HGLOBAL h = GlobalAlloc(GHND, 16);
  ASSERT_NE(h, nullptr);
  auto* bytes = static_cast<unsigned char*>(m.DSM_MemLock(h));
  ASSERT_NE(bytes, nullptr);
  bytes[15] = 7;
  m.DSM_MemUnlock(h);
  m.DSM_MemFree(h);
  EXPECT_EQ(foreign(), before + 3);
  EXPECT_EQ(LiveBlocks(), live);
}

TEST(ManagerMemoryDeathTest, HaltsOnASecondFreeOrAForeignHandle) {
  ASSERT_NE(Manager(), nullptr);
  EXPECT_DEATH(
      {
        App app;
        const TW_ENTRYPOINT m = EntryPoints(app);
        TW_HANDLE h = m.DSM_MemAllocate(16);
        m.DSM_MemFree(h);
        m.DSM_MemFree(h);
      },
      "DSM_MemFree.*already freed");
  EXPECT_DEATH(
      {
        App app;
        const TW_ENTRYPOINT m = EntryPoints(app);
        static char notMemory[16];
        m.DSM_MemLock(notMemory + 3);
      },
      "DSM_MemLock.*neither a handle");
}

}  // namespace
