// The user in front of the Windows host: a second thread that answers Wine's "Select Source"
// dialog (pick list entry N and press OK, or press Cancel), the host's own or that of a
// process it started (the extension's worker, whose dialogs stand over the host's window), and
// the virtual scanner's control interface, reached in the very module that Wine's DSM loads.
#include <windows.h>
// tlhelp32.h needs windows.h first.
#include <tlhelp32.h>

#include <cstdio>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

std::atomic<bool> g_stop{false};
std::thread g_user;

// The dialogs answered, with when: one still shown a while later is answered again, as a user
// presses OK again when nothing happened (a busy machine's dialog took the first press before
// its list was filled).
using Answered = std::map<HWND, DWORD>;
constexpr DWORD kAnswerAgainAfterMs = 2000;

struct Search {
  std::set<DWORD> processes;  // this one and those it started
  const Answered* handled;
  HWND found;
};

std::set<DWORD> ThisAndItsChildren() {
  std::set<DWORD> found{GetCurrentProcessId()};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ParentProcessID == GetCurrentProcessId()) found.insert(entry.th32ProcessID);
  CloseHandle(snapshot);
  return found;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  char name[16] = {};
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (!search->processes.count(process) || !IsWindowVisible(window)) return TRUE;
  if (!GetClassNameA(window, name, sizeof name) || std::strcmp(name, "#32770") != 0) return TRUE;
  const auto answered = search->handled->find(window);
  if (answered != search->handled->end() && GetTickCount() - answered->second < kAnswerAgainAfterMs)
    return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK FindListBox(HWND window, LPARAM param) {
  char name[16] = {};
  if (GetClassNameA(window, name, sizeof name) && lstrcmpiA(name, "ListBox") == 0) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

void Answer(HWND dialog, int choice) {
  if (choice < 0) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return;
  }
  HWND list = nullptr;
  EnumChildWindows(dialog, FindListBox, reinterpret_cast<LPARAM>(&list));
  // The list is filled once the dialog is up; on a busy machine a little later.
  for (int waited = 0; list && waited < 100 && SendMessageA(list, LB_GETCOUNT, 0, 0) <= choice; ++waited)
    Sleep(20);
  if (list) {
    SendMessageA(list, LB_SETCURSEL, WPARAM(choice), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void UserThread(int choice) {
  Answered handled;
  while (!g_stop) {
    Search search{ThisAndItsChildren(), &handled, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      Sleep(50);  // let the dialog finish filling its list
      handled[search.found] = GetTickCount();
      Answer(search.found, choice);
    }
    for (auto it = handled.begin(); it != handled.end();)
      it = IsWindow(it->first) ? std::next(it) : handled.erase(it);
    Sleep(20);
  }
}

}  // namespace

bool ArrangeSelection(Host&, int choice, std::string*) {
  EndSelection();
  g_stop = false;
  g_user = std::thread(UserThread, choice);
  return true;
}

void EndSelection() {
  g_stop = true;
  if (g_user.joinable()) g_user.join();
}

void HandOnScannerCommands(const std::vector<std::string>& commands) {
  if (commands.empty()) return;
  // The run's token, kept for as long as the program lives: one copy outside it takes them.
  static HANDLE token = nullptr;
  char name[64];
  std::snprintf(name, sizeof name, "Local\\KvVirtualScanner-%lu", GetCurrentProcessId());
  if (!token) {
    token = CreateSemaphoreA(nullptr, 1, 1, name);
  } else {
    ReleaseSemaphore(token, 1, nullptr);  // taken before: the new commands may be taken again
  }
  std::string all;
  for (const std::string& c : commands) all += c + "\n";
  SetEnvironmentVariableA("KV_VSCANNER_COMMANDS", all.c_str());
  SetEnvironmentVariableA("KV_VSCANNER_HANDED_ON", name);
}

ControlAnswer ScannerControl(const std::string&, const std::string& command, std::string* error) {
  // The sources of a 64-bit process are in twain_64, those of a 32-bit one in twain_32.
  const char* const kModule =
      sizeof(void*) == 8 ? "C:\\windows\\twain_64\\sane.ds" : "C:\\windows\\twain_32\\sane.ds";
  HMODULE scanner = LoadLibraryA(kModule);
  if (!scanner) {
    *error = std::string("cannot load the virtual scanner ") + kModule;
    return ControlAnswer::Unavailable;
  }
  using Control = int (*)(const char*);
  auto control =
      reinterpret_cast<Control>(reinterpret_cast<void*>(GetProcAddress(scanner, "VirtualScannerControl")));
  if (!control) {
    *error = std::string(kModule) + " exports no VirtualScannerControl";
    return ControlAnswer::Unavailable;
  }
  return control(command.c_str()) == 0 ? ControlAnswer::Taken : ControlAnswer::Refused;
}

}  // namespace velmar
