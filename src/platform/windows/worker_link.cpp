// The extension's side of its worker processes: kv-worker.exe beside the DLL (the option
// ISOLATION "PROCESS": sources of the build's width) and, beside the 64-bit DLL,
// kv-worker32.exe (the machine's 32-bit sources: the option SOURCES). A record has at most one
// worker of each, started at its first call that needs it, in a job object that ends it with
// the host process. The two talk over a named pipe of one instance whose both ends they alone
// hold (the server end here, the client end inherited by the worker, nobody else can
// connect). While the worker carries out a call, this thread waits for its frames and the
// host's window messages together, so that the host stays responsive and the source's
// interface, owned by the host window, works; a worker that ends is noticed at once.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "entry/worker_port.h"
#include "host/host_platform.h"
#include "options/options.h"
#include "platform/windows/dib_check.h"
#include "platform/windows/module_values.h"
#include "platform/windows/worker_frames.h"
#include "traits/build_traits.h"
#include "twain/result_codes.h"

namespace {

struct Worker {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  HANDLE pipe = nullptr;   // the server end, overlapped
  HANDLE event = nullptr;  // of the pipe's overlapped transfers
  DWORD thread = 0;        // the worker's thread, which runs the calls and takes their messages
  DWORD patience = 0;      // milliseconds that thread may take no message before it counts as hung
};

using platform::WorkerWidth;
typedef std::pair<const TwainGlobals*, WorkerWidth> WorkerKey;

std::map<WorkerKey, Worker>& Workers() {
  static std::map<WorkerKey, Worker> workers;
  return workers;
}

// The source each worker's next open uses, by product name, as its last call left it: kept
// when the worker ends, and chosen again in the next one.
std::map<WorkerKey, std::string>& Choices() {
  static std::map<WorkerKey, std::string> choices;
  return choices;
}

const TwainGlobals* gCallRecord = nullptr;  // whose call runs in its worker now
uint32_t gPagesKeptByEndedCall = 0;         // of the last call whose worker ended

void Close(HANDLE& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

void Kill(Worker& w) {
  if (w.process) TerminateProcess(w.process, 1);
  if (w.process) WaitForSingleObject(w.process, 5000);
  Close(w.pipe);
  Close(w.event);
  Close(w.process);
  Close(w.job);  // the job ends whatever the worker started
}

// The worker's program beside this module: the 32-bit one has its own name beside the 64-bit
// DLL (on the 32-bit build the two are one).
bool WorkerPath(WorkerWidth width, char path[MAX_PATH]) {
  const char* file = width == WorkerWidth::k32Bit && kPointerBytes == 8 ? "kv-worker32.exe" : "kv-worker.exe";
  DWORD n = GetModuleFileNameA(module_values::moduleHandle, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  char* slash = std::strrchr(path, '\\');
  if (!slash || (slash - path) + 1 + std::strlen(file) >= MAX_PATH) return false;
  std::strcpy(slash + 1, file);
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool Start(Worker& w, WorkerWidth width) {
  char path[MAX_PATH];
  if (!WorkerPath(width, path)) return false;
  static LONG serial = 0;
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\kardivelle-worker-%lu-%ld", GetCurrentProcessId(),
                InterlockedIncrement(&serial));
  w.pipe = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            1 << 16, 1 << 16, 0, nullptr);
  if (w.pipe == INVALID_HANDLE_VALUE) w.pipe = nullptr;
  w.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE client = w.pipe
                      ? CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr)
                      : INVALID_HANDLE_VALUE;
  w.job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  const bool ready = w.pipe && w.event && client != INVALID_HANDLE_VALUE && w.job &&
                     SetInformationJobObject(w.job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION started{};
  bool ok = false;
  if (ready) {
    char command[MAX_PATH + 64];
    std::snprintf(command, sizeof command, "\"%s\" --pipe %llu", path,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(client)));
    STARTUPINFOA info{};
    info.cb = sizeof info;
    ok = CreateProcessA(path, command, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &info,
                        &started);
    if (ok) {
      w.process = started.hProcess;
      w.thread = started.dwThreadId;
      ok = AssignProcessToJobObject(w.job, started.hProcess) && ResumeThread(started.hThread) != DWORD(-1);
      CloseHandle(started.hThread);
    }
  }
  if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
  if (!ok) Kill(w);
  return ok;
}

BOOL CALLBACK FirstWindow(HWND window, LPARAM out) {
  *reinterpret_cast<HWND*>(out) = window;
  return FALSE;
}

// A window of the worker's thread (the one its calls come with), or null before it has one.
HWND WorkerWindow(const Worker& w) {
  HWND found = nullptr;
  EnumThreadWindows(w.thread, FirstWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Whether the worker stopped answering: its thread has taken no window message for the
// worker's patience (the system judges a window hung after 5 seconds without one). A source inside a
// request that never returns keeps it so; one showing its interface, or a scan waiting for its
// pages, takes messages.
class HangWatch {
 public:
  static constexpr DWORD kHungAfter = 5000;
  explicit HangWatch(const Worker& w) : worker_(w) {}
  bool Hung() {
    HWND window = WorkerWindow(worker_);
    if (!window || !IsHungAppWindow(window)) {
      since_ = 0;
      return false;
    }
    const DWORD now = GetTickCount();
    if (since_ == 0) since_ = (now - kHungAfter) | 1;
    return now - since_ >= worker_.patience;
  }

 private:
  const Worker& worker_;
  DWORD since_ = 0;
};

// One overlapped read or write of the whole buffer. A read waits with the host's window
// messages dispatched; either ends false when the worker ends, stops answering, or the pipe
// breaks.
bool Transfer(Worker& w, bool write, void* data, DWORD size) {
  auto* bytes = static_cast<uint8_t*>(data);
  HangWatch watch(w);
  while (size > 0) {
    OVERLAPPED o{};
    o.hEvent = w.event;
    ResetEvent(w.event);
    DWORD done = 0;
    BOOL now = write ? WriteFile(w.pipe, bytes, size, &done, &o) : ReadFile(w.pipe, bytes, size, &done, &o);
    if (!now) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      HANDLE waits[2] = {w.event, w.process};
      for (;;) {
        DWORD r = MsgWaitForMultipleObjects(2, waits, FALSE, 1000, write ? 0 : QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r == WAIT_OBJECT_0 + 2) {
          MSG msg;
          while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
          }
          if (!watch.Hung()) continue;
        } else if (r == WAIT_TIMEOUT && !watch.Hung()) {
          continue;
        }
        // The worker ended, stopped answering, or the wait failed: what it wrote before stays
        // readable.
        if (WaitForSingleObject(w.event, 0) == WAIT_OBJECT_0) break;
        CancelIo(w.pipe);
        WaitForSingleObject(w.event, 1000);
        return false;
      }
      if (!GetOverlappedResult(w.pipe, &o, &done, FALSE)) return false;
    }
    if (done == 0) return false;
    bytes += done;
    size -= done;
  }
  return true;
}

bool Send(Worker& w, uint32_t kind, const void* a, size_t na, const void* b = nullptr, size_t nb = 0) {
  worker::FrameHeader h{kind, static_cast<uint32_t>(na + nb)};
  const auto* head = reinterpret_cast<const uint8_t*>(&h);
  std::vector<uint8_t> frame(head, head + sizeof h);
  if (na) frame.insert(frame.end(), static_cast<const uint8_t*>(a), static_cast<const uint8_t*>(a) + na);
  if (nb) frame.insert(frame.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + nb);
  return Transfer(w, true, frame.data(), static_cast<DWORD>(frame.size()));
}

bool Receive(Worker& w, worker::FrameHeader* h, std::vector<uint8_t>* payload) {
  if (!Transfer(w, false, h, sizeof *h) || h->length > worker::kMaxPayload) return false;
  payload->assign(h->length, 0);
  return h->length == 0 || Transfer(w, false, payload->data(), h->length);
}

// A DIB of the worker's file mapping as a device bitmap of the host's, as the extension makes
// a picture in process.
HBITMAP PictureOf(Worker& w, const worker::ServiceFrame& s) {
  HANDLE section = nullptr;
  if (!DuplicateHandle(w.process, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(s.section)),
                       GetCurrentProcess(), &section, FILE_MAP_READ, FALSE, 0))
    return nullptr;
  HBITMAP bitmap = nullptr;
  if (s.sectionBytes < (uint64_t(1) << 31)) {
    if (void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(s.sectionBytes))) {
      // The DIB is checked as every DIB a source hands over is, before a byte of it is used.
      const auto* bytes = static_cast<const uint8_t*>(view);
      dib::Layout layout;
      if (dib::Check(bytes, static_cast<size_t>(s.sectionBytes), &layout) == dib::Fault::kNone &&
          layout.bitCount == 32 && layout.compression == dib::kRgb) {
        HDC dc = GetDC(module_values::hostWindow);
        bitmap =
            CreateDIBitmap(dc, static_cast<const BITMAPINFOHEADER*>(view), CBM_INIT, bytes + layout.rowsOffset,
                           static_cast<const BITMAPINFO*>(view), DIB_RGB_COLORS);
        ReleaseDC(module_values::hostWindow, dc);
      }
      UnmapViewOfFile(view);
    }
  }
  CloseHandle(section);
  return bitmap;
}

// Carries out one service through the host's callback; the answer's payload in `out`.
int64_t Serve(Worker& w, HostContext ctx, const worker::ServiceFrame& s, const std::vector<uint8_t>& data,
              std::vector<uint8_t>* out) {
  using namespace hostabi;
  out->clear();
  switch (s.service) {
    case kSvcFieldByName: {
      unsigned char name[257] = {};
      std::memcpy(name, data.data(), data.size() < 256 ? data.size() : 256);
      return platform::HostFieldByName(name, ctx);
    }
    case kSvcReadNumber: {
      HostFloat value = 0;
      platform::HostReadNumber(static_cast<int16_t>(s.field), &value, ctx);
      out->resize(sizeof value);
      std::memcpy(out->data(), &value, sizeof value);
      return 0;
    }
    case kSvcWriteValue: {
      if (s.type == kValuePicture) {
        HBITMAP picture = s.section ? PictureOf(w, s) : nullptr;
        platform::HostWriteValue(static_cast<int16_t>(s.field), kValuePicture, &picture, ctx);
        if (picture) DeleteObject(picture);
        return 0;
      }
      std::vector<uint8_t> value(data);
      value.resize(value.size() + 2, 0);  // a text read to its end finds its terminator
      platform::HostWriteValue(static_cast<int16_t>(s.field), static_cast<int16_t>(s.type), value.data(), ctx);
      return 0;
    }
    case kSvcReadValue: {
      const int32_t room = (s.maxLength > 0 ? s.maxLength : 0) + 2;
      out->assign(static_cast<size_t>(room < 16 ? 16 : room), 0);
      platform::HostReadValue(static_cast<int16_t>(s.field), static_cast<int16_t>(s.type),
                              static_cast<int16_t>(s.maxLength), out->data(), ctx);
      return 0;
    }
    case kSvcFieldInfo: {
      worker::InfoFrame info{};
      std::memcpy(&info, data.data(), data.size() < sizeof info ? data.size() : sizeof info);
      HostInfoRecord record{};
      std::memcpy(record.name, info.name, sizeof record.name);
      record.field = info.field;
      record.fieldType = info.fieldType;
      record.request = info.request;
      record.status = info.status;
      platform::HostFieldInfo(&record, ctx);
      std::memcpy(info.name, record.name, sizeof info.name);
      info.field = record.field;
      info.fieldType = record.fieldType;
      info.request = record.request;
      info.status = record.status;
      out->resize(sizeof info);
      std::memcpy(out->data(), &info, sizeof info);
      return 0;
    }
    case kSvcFunctionNumber:
      return platform::HostFunctionNumber(ctx);
    default:
      return 0;
  }
}

// What one request of the worker ended with.
struct Done {
  bool alive = false;  // false: the worker ended, or broke the protocol, and is gone
  int32_t result = 0;  // a request's own answer
  std::string names, current;
};

// The text of `bytes` up to its 0 (or its end), and the position after it.
std::string TextAt(const std::vector<uint8_t>& bytes, size_t* at) {
  std::string text;
  while (*at < bytes.size() && bytes[*at]) text += char(bytes[(*at)++]);
  ++*at;
  return text;
}

// Sends one request to g's worker of that width, serving the host services the call asks for
// through ctx (a request of the extension's own, without ctx, asks none), until the worker is
// done.
Done Request(TwainGlobals* g, WorkerWidth width, Worker& w, int32_t function, HostContext ctx, void* window,
             const std::string& name = std::string()) {
  const WorkerKey key(g, width);
  worker::CallFrame call{};
  call.function = function;
  call.optionCount = kOptionCount;
  call.window = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
  for (int i = 0; i < kOptionCount; ++i) call.options[i] = OptionValue(g, static_cast<Option>(i));
  for (int i = 0; i < kTextOptionCount; ++i) {
    const std::string text = OptionText(g, static_cast<Option>(static_cast<int>(Option::kPdfTitle) + i));
    std::memcpy(call.texts[i], text.c_str(), text.size() < sizeof call.texts[i] ? text.size() + 1 : 0);
    call.texts[i][sizeof call.texts[i] - 1] = 0;
  }
  w.patience = static_cast<DWORD>(OptionValue(g, Option::kWorkerWait)) * 1000;
  Done done;
  const TwainGlobals* outer = gCallRecord;
  gCallRecord = g;
  gPagesKeptByEndedCall = 0;
  // Where the call's page files stand, as the worker last told.
  uint32_t kept = 0;
  std::string underWay;
  done.alive = Send(w, worker::kCall, &call, sizeof call, name.data(), name.size());
  while (done.alive) {
    worker::FrameHeader h{};
    std::vector<uint8_t> payload;
    if (!Receive(w, &h, &payload)) {
      done.alive = false;
      break;
    }
    if (h.kind == worker::kPageFiles && payload.size() >= sizeof(worker::PageFilesFrame)) {
      worker::PageFilesFrame files;
      std::memcpy(&files, payload.data(), sizeof files);
      kept = files.kept;
      underWay.assign(payload.begin() + sizeof files, payload.end());
      continue;
    }
    if (h.kind == worker::kCallDone && payload.size() >= sizeof call + sizeof(worker::DoneFrame)) {
      std::memcpy(&call, payload.data(), sizeof call);
      // What the call set of the extension's own values (the read-only options).
      for (int i = 0; i < kOptionCount; ++i)
        if (OptionReadOnly(static_cast<Option>(i)))
          StoreOptionValue(g, static_cast<Option>(i), call.options[i]);
      call.source[sizeof call.source - 1] = 0;
      Choices()[key] = call.source;
      worker::DoneFrame d;
      std::memcpy(&d, payload.data() + sizeof call, sizeof d);
      done.result = d.result;
      size_t at = sizeof call + sizeof d;
      done.names = TextAt(payload, &at);
      done.current = TextAt(payload, &at);
      // The text the call set of its own: PAGES.
      StoreOptionText(g, Option::kPages, TextAt(payload, &at));
      break;
    }
    if (h.kind != worker::kService || payload.size() < sizeof(worker::ServiceFrame) || !ctx) {
      done.alive = false;
      break;
    }
    worker::ServiceFrame s;
    std::memcpy(&s, payload.data(), sizeof s);
    std::vector<uint8_t> data(payload.begin() + sizeof s, payload.end()), out;
    worker::AnswerFrame answer{Serve(w, ctx, s, data, &out)};
    done.alive = Send(w, worker::kAnswer, &answer, sizeof answer, out.data(), out.size());
  }
  gCallRecord = outer;
  if (!done.alive) {
    Kill(w);
    Workers().erase(key);
    // What the worker was writing is no page: only the files that took their names are. (The
    // worker names only its own temporary files, which end so.)
    const std::string suffix = ".part";
    if (underWay.size() > suffix.size() && underWay.find('\0') == std::string::npos &&
        underWay.compare(underWay.size() - suffix.size(), suffix.size(), suffix) == 0)
      DeleteFileA(underWay.c_str());
    gPagesKeptByEndedCall = kept;
  }
  return done;
}

// g's worker of that width, started (and given the source its last one had chosen) where g
// has none; null when none can be started.
Worker* WorkerOf(TwainGlobals* g, WorkerWidth width, void* window) {
  const WorkerKey key(g, width);
  auto it = Workers().find(key);
  if (it != Workers().end()) return &it->second;
  Worker w;
  if (!Start(w, width)) return nullptr;
  it = Workers().emplace(key, w).first;
  auto chosen = Choices().find(key);
  if (chosen != Choices().end() && !chosen->second.empty()) {
    // A source that has gone since is not chosen: the next open answers as the manager does.
    const std::string name = chosen->second;
    if (!Request(g, width, it->second, worker::kChooseSource, nullptr, window, name).alive) return nullptr;
    Choices()[key] = name;
  }
  return &Workers().find(key)->second;
}

}  // namespace

namespace platform {

const TwainGlobals* RecordInWorkerCall() { return gCallRecord; }

bool WorkerInstalled(WorkerWidth width) {
  char path[MAX_PATH];
  return WorkerPath(width, path);
}

int16_t RunInWorker(TwainGlobals* g, WorkerWidth width, HostContext ctx, void* window) {
  Worker* w = WorkerOf(g, width, window);
  if (!w) return kResultNoTwain;
  return Request(g, width, *w, HostFunctionNumber(ctx), ctx, window).alive ? 0 : kResultSourceStopped;
}

int16_t ListInWorker(TwainGlobals* g, WorkerWidth width, void* window, std::string* names,
                     std::string* current) {
  Worker* w = WorkerOf(g, width, window);
  if (!w) return kResultNoTwain;
  Done done = Request(g, width, *w, worker::kListSources, nullptr, window);
  if (!done.alive) return kResultSourceStopped;
  *names = done.names;
  *current = done.current;
  return static_cast<int16_t>(done.result);
}

int16_t ChooseInWorker(TwainGlobals* g, WorkerWidth width, void* window, const std::string& name) {
  Worker* w = WorkerOf(g, width, window);
  if (!w) return kResultNoTwain;
  Done done = Request(g, width, *w, worker::kChooseSource, nullptr, window, name);
  return done.alive ? static_cast<int16_t>(done.result) : kResultSourceStopped;
}

uint32_t PagesKeptByEndedCall() { return gPagesKeptByEndedCall; }

void EndWorker(TwainGlobals* g) {
  for (WorkerWidth width : {WorkerWidth::kOwn, WorkerWidth::k32Bit}) {
    auto it = Workers().find(WorkerKey(g, width));
    if (it == Workers().end()) continue;
    Worker& w = it->second;
    // The worker's instance closes the source and the manager, then the worker exits.
    if (Send(w, worker::kEnd, nullptr, 0)) WaitForSingleObject(w.process, 10000);
    Kill(w);
    Workers().erase(it);
  }
}

void ForgetWorkers(TwainGlobals* g) {
  EndWorker(g);
  Choices().erase(WorkerKey(g, WorkerWidth::kOwn));
  Choices().erase(WorkerKey(g, WorkerWidth::k32Bit));
}

}  // namespace platform
