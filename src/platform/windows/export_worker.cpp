// kv-worker.exe: the worker process of a record whose calls run out of the host process (the
// option ISOLATION "PROCESS"; platform/windows/worker_link.cpp starts it). It holds one
// instance of the extension, built into it from the same code, and carries out each call the
// pipe brings on it; every host service the call asks for goes back through the pipe to the
// extension in the host, which asks its host. A picture's pixels go through a file mapping.
//   kv-worker.exe --pipe HANDLE    (the client end of the pipe, inherited)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "entry/source_side.h"
#include "host/host_abi.h"
#include "host/host_platform.h"
#include "options/options.h"
#include "platform/windows/module_values.h"
#include "platform/windows/page_files_listener.h"
#include "platform/windows/worker_frames.h"
#include "twain/connection.h"

namespace {

HANDLE gPipe = nullptr;

// The whole buffer written to the pipe, or read from it.
bool Move(bool write, void* data, size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (size > 0) {
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(gPipe, bytes, static_cast<DWORD>(size), &done, nullptr)
                          : ReadFile(gPipe, bytes, static_cast<DWORD>(size), &done, nullptr);
    if (!ok || done == 0) return false;
    bytes += done;
    size -= done;
  }
  return true;
}
bool Write(const void* data, size_t size) { return Move(true, const_cast<void*>(data), size); }
bool Read(void* data, size_t size) { return Move(false, data, size); }

bool Send(uint32_t kind, const void* a, size_t na, const void* b = nullptr, size_t nb = 0) {
  worker::FrameHeader h{kind, static_cast<uint32_t>(na + nb)};
  return Write(&h, sizeof h) && (na == 0 || Write(a, na)) && (nb == 0 || Write(b, nb));
}

bool Receive(worker::FrameHeader* h, std::vector<uint8_t>* payload) {
  if (!Read(h, sizeof *h) || h->length > worker::kMaxPayload) return false;
  payload->assign(h->length, 0);
  return h->length == 0 || Read(payload->data(), h->length);
}

// The pipe broke: the extension is gone, and so is the worker.
[[noreturn]] void Lost() { ExitProcess(3); }

// A device bitmap as a DIB of 32-bit rows in a file mapping; null when it cannot be made.
HANDLE PictureSection(HBITMAP bitmap, uint64_t* bytes) {
  BITMAP b;
  if (!bitmap || GetObjectA(bitmap, sizeof b, &b) != sizeof b || b.bmWidth <= 0 || b.bmHeight <= 0)
    return nullptr;
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = b.bmWidth;
  h.biHeight = b.bmHeight;  // bottom-up, as GetDIBits gives it
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_RGB;
  const uint64_t size = sizeof h + uint64_t(b.bmWidth) * 4 * uint64_t(b.bmHeight);
  if (size >= (uint64_t(1) << 31)) return nullptr;
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(size), nullptr);
  if (!section) return nullptr;
  bool ok = false;
  if (void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, SIZE_T(size))) {
    std::memcpy(view, &h, sizeof h);
    HDC dc = GetDC(nullptr);
    ok = GetDIBits(dc, bitmap, 0, UINT(b.bmHeight), static_cast<uint8_t*>(view) + sizeof h,
                   reinterpret_cast<BITMAPINFO*>(view), DIB_RGB_COLORS) == b.bmHeight;
    ReleaseDC(nullptr, dc);
    UnmapViewOfFile(view);
  }
  if (!ok) {
    CloseHandle(section);
    return nullptr;
  }
  *bytes = size;
  return section;
}

// What the instance's call asks of the host, asked of the extension in the host.
intptr_t KV_HOST_CALL ThroughThePipe(int32_t service, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  using namespace hostabi;
  worker::ServiceFrame s{};
  s.service = service;
  std::vector<uint8_t> data;
  HANDLE section = nullptr;
  switch (service) {
    case kSvcFieldByName: {
      const auto* name = reinterpret_cast<const unsigned char*>(a1);
      data.assign(name, name + 1 + name[0]);
      break;
    }
    case kSvcReadNumber:
      s.field = int32_t(a1);
      break;
    case kSvcWriteValue: {
      s.field = int32_t(a1);
      s.type = int32_t(a2);
      const void* value = reinterpret_cast<const void*>(a3);
      if (s.type == kValuePicture) {
        section = PictureSection(*static_cast<const HBITMAP*>(value), &s.sectionBytes);
        s.section = uint64_t(reinterpret_cast<uintptr_t>(section));
      } else if (s.type == kValueNumber) {
        data.assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + sizeof(double));
      } else if (s.type == kValuePascalText) {
        const auto* text = static_cast<const uint8_t*>(value);
        data.assign(text, text + 1 + text[0]);
      } else {
        const auto* text = static_cast<const char*>(value);
        data.assign(text, text + std::strlen(text) + 1);
      }
      break;
    }
    case kSvcReadValue:
      s.field = int32_t(a1);
      s.type = int32_t(a2);
      s.maxLength = int32_t(a3);
      break;
    case kSvcFieldInfo: {
      const auto* record = reinterpret_cast<const HostInfoRecord*>(a1);
      worker::InfoFrame info{};
      std::memcpy(info.name, record->name, sizeof info.name);
      info.field = record->field;
      info.fieldType = record->fieldType;
      info.request = record->request;
      info.status = record->status;
      const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
      data.assign(bytes, bytes + sizeof info);
      break;
    }
    case kSvcFunctionNumber:
      break;
    default:
      return 0;  // the design record: no call here needs it
  }
  if (!Send(worker::kService, &s, sizeof s, data.data(), data.size())) Lost();
  worker::FrameHeader h{};
  std::vector<uint8_t> answer;
  if (!Receive(&h, &answer) || h.kind != worker::kAnswer || answer.size() < sizeof(worker::AnswerFrame)) Lost();
  if (section) CloseHandle(section);
  worker::AnswerFrame a;
  std::memcpy(&a, answer.data(), sizeof a);
  const uint8_t* out = answer.data() + sizeof a;
  const size_t outSize = answer.size() - sizeof a;
  switch (service) {
    case kSvcReadNumber:
      if (outSize >= sizeof(HostFloat)) std::memcpy(reinterpret_cast<void*>(a2), out, sizeof(HostFloat));
      break;
    case kSvcReadValue: {
      // As much as the host writes for the type: a number, a text and its terminator.
      auto* destination = reinterpret_cast<uint8_t*>(a4);
      size_t n = 0;
      if (s.type == kValueNumber) {
        n = sizeof(double);
      } else if (s.type == kValuePascalText) {
        n = outSize ? size_t(1) + out[0] : 0;
      } else {
        while (n < outSize && out[n]) ++n;
        n += 1;
      }
      const size_t room =
          s.type == kValueNumber ? sizeof(double) : size_t(s.maxLength > 0 ? s.maxLength : 0) + 1;
      if (n > room) n = room;
      if (n > outSize) n = outSize;
      std::memcpy(destination, out, n);
      if (s.type == kValueCText && n == room && n > 0) destination[n - 1] = 0;
      break;
    }
    case kSvcFieldInfo:
      if (outSize >= sizeof(worker::InfoFrame)) {
        auto* record = reinterpret_cast<HostInfoRecord*>(a1);
        worker::InfoFrame info;
        std::memcpy(&info, out, sizeof info);
        std::memcpy(record->name, info.name, sizeof record->name);
        record->field = info.field;
        record->fieldType = info.fieldType;
        record->request = info.request;
        record->status = info.status;
      }
      break;
    case kSvcFunctionNumber:
      *reinterpret_cast<int32_t*>(a1) = int32_t(a.result);
      break;
    default:
      break;
  }
  (void)a4;
  return static_cast<intptr_t>(a.result);
}

// Where the call's page files stand, told to the extension: it tidies up should this process
// end before the call does. The name goes in full, whatever the folder the host is in then.
void TellPageFiles(const std::string& underWay, uint32_t kept) {
  worker::PageFilesFrame frame{kept};
  char full[MAX_PATH];
  DWORD n = underWay.empty() ? 0 : GetFullPathNameA(underWay.c_str(), sizeof full, full, nullptr);
  if (n >= sizeof full) n = 0;
  if (!Send(worker::kPageFiles, &frame, sizeof frame, full, n)) Lost();
}

// The window the instance's calls come with: a hidden window of this process owned by the
// host's window. The manager and the source address their messages to it, so that they reach
// this process's wait; the source's interface, owned by it, stays above the host's window.
HWND CallWindow(HWND host) {
  static HWND window = nullptr;
  static HWND owner = nullptr;
  static bool registered = false;
  if (window && owner == host && IsWindow(window)) return window;
  if (window) DestroyWindow(window);
  if (!registered) {
    WNDCLASSA c{};
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "KardivelleWorker";
    registered = RegisterClassA(&c) != 0;
  }
  owner = host;
  window = CreateWindowExA(WS_EX_TOOLWINDOW, "KardivelleWorker", "Kardivelle", WS_POPUP, 0, 0, 0, 0,
                           IsWindow(host) ? host : nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  return window;
}

// A fault nothing handled (a source's crash) ends the worker at once with the exception's
// code: no debugger is started and no report waits for a user, so the extension in the host
// sees the end straight away.
LONG WINAPI EndWithTheFault(EXCEPTION_POINTERS* e) {
  TerminateProcess(GetCurrentProcess(), e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 1);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Constructing and destroying the instance ask nothing of a host.
intptr_t KV_HOST_CALL NoHost(int32_t, intptr_t, intptr_t, intptr_t, intptr_t) { return 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::strcmp(argv[1], "--pipe") != 0) return 2;
  gPipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
  module_values::moduleHandle = GetModuleHandleA(nullptr);
  // A driver's unhandled exception ends this process with the exception's code at once (no
  // debugger, no report dialog): the extension in the host notices the end.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithTheFault);
  platform::ListenToPageFiles(TellPageFiles);
  void* slot = nullptr;
  RouteMessage(kMsgConstruct, &slot, NoHost);
  if (!slot) return 4;
  for (;;) {
    worker::FrameHeader h{};
    std::vector<uint8_t> payload;
    if (!Receive(&h, &payload) || h.kind == worker::kEnd) break;
    worker::CallFrame call;
    if (h.kind != worker::kCall || payload.size() < sizeof call) break;
    std::memcpy(&call, payload.data(), sizeof call);
    const std::string name(payload.begin() + sizeof call, payload.end());
    TwainGlobals* g = LiveRecord(slot);
    if (!g) break;
    for (int i = 0; i < kOptionCount && i < call.optionCount; ++i)
      StoreOptionValue(g, static_cast<Option>(i), call.options[i]);
    for (int i = 0; i < kTextOptionCount; ++i) {
      call.texts[i][sizeof call.texts[i] - 1] = 0;
      StoreOptionText(g, static_cast<Option>(static_cast<int>(Option::kPdfTitle) + i), call.texts[i]);
    }
    // Here the calls run in process, on the sources of this program's width.
    StoreOptionValue(g, Option::kIsolation, kIsolationNone);
    StoreOptionValue(g, Option::kSources, kSourcesOwn);
    HWND host = reinterpret_cast<HWND>(static_cast<uintptr_t>(call.window));
    worker::DoneFrame done{0};
    std::string names, current;
    if (call.function == worker::kListSources || call.function == worker::kChooseSource) {
      platform::SetHostWindow(CallWindow(host));
      done.result = call.function == worker::kListSources ? ListSourcesHere(g, &names, &current)
                                                          : SelectSourceHere(g, name);
    } else {
      RouteMessage(kMsgExecute, &slot, ThroughThePipe, CallWindow(host));
      if (!(g = LiveRecord(slot))) break;
    }
    NoteManagerInUse(g);
    for (int i = 0; i < kOptionCount; ++i) call.options[i] = OptionValue(g, static_cast<Option>(i));
    std::memset(call.source, 0, sizeof call.source);
    const std::string chosen = NextSourceName(g);
    std::memcpy(call.source, chosen.data(),
                chosen.size() < sizeof call.source ? chosen.size() : sizeof call.source - 1);
    std::vector<uint8_t> after(sizeof done);
    std::memcpy(after.data(), &done, sizeof done);
    after.insert(after.end(), names.begin(), names.end());
    after.push_back(0);
    after.insert(after.end(), current.begin(), current.end());
    after.push_back(0);
    const std::string pages = OptionText(g, Option::kPages);
    after.insert(after.end(), pages.begin(), pages.end());
    after.push_back(0);
    if (!Send(worker::kCallDone, &call, sizeof call, after.data(), after.size())) break;
  }
  RouteMessage(kMsgDestruct, &slot, NoHost);
  return 0;
}
