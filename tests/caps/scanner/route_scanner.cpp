// The real route: the build's own DSM (Wine's TWAIN_32.DLL, or the Mac DSM stand-in) and the
// virtual scanner behind it, scripted through the scanner's control interface:
//   script-get CAP CONTYPE RC HEXBYTES   the next MSG_GET of CAP answers this container
//                                        (RC 1 takes the condition code from script-cc)
//   script-set CAP RC CC                 the next MSG_SET of CAP returns RC with CC
//   script-clear                         drops every scripted answer
// and the query "last-set CAP" ("CONTYPE HEXBYTES", empty when nothing was set).
// The control and query entries are looked up in the loaded source module. Link with kardivelle_core and the
// scanner.
#include <cstdio>
#include <string>

#include "host/host_kit.h"
#include "options/options.h"
#include "tests/caps/cap_fixture.h"
#include "twain/connection.h"
#include "twain/dsm_platform.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
#else
#include <CarbonStandin.h>
#include <TWAIN/TWAINFrameworkStandin.h>
#include <dlfcn.h>
#endif

namespace capstest {
namespace {

typedef int (*ControlProc)(const char*);
typedef int (*QueryProc)(const char*, char*, int);

std::string Hex(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) s += d[x >> 4], s += d[x & 15];
  return b.empty() ? "-" : s;
}

class ScannerRoute : public CapRoute {
 public:
  const char* Name() const override { return "real DSM with the virtual scanner"; }
  bool Open(TwainGlobals* g) override {
#if KV_WINDOWS_BUILD
    // The record binds TWAIN_32.DLL itself, as the entry does before a call, instead of
    // relying on a library that an earlier test left loaded.
    if (!platform::BindDSM(g, ManagerChoiceOf(g))) return false;
#else
    TWAINFramework_Reset();  // no application left holding the source
#endif
    if (DoOpenDSM(g) != 0 || DoOpenDS(g) != 0) return false;
#if KV_WINDOWS_BUILD
    HMODULE source = GetModuleHandleA("sane.ds");
    control_ = source ? reinterpret_cast<ControlProc>(
                            reinterpret_cast<void*>(GetProcAddress(source, "VirtualScannerControl")))
                      : nullptr;
    query_ = source ? reinterpret_cast<QueryProc>(
                          reinterpret_cast<void*>(GetProcAddress(source, "VirtualScannerQuery")))
                    : nullptr;
#else
    // The module the DSM loaded from its folder; dlopen hands back the same one.
    void* source = dlopen(KV_OUT_DIR "/lib/TWAIN Data Sources/VirtualScanner.ds", RTLD_NOW);
    control_ = source ? reinterpret_cast<ControlProc>(dlsym(source, "VirtualScannerControl")) : nullptr;
    query_ = source ? reinterpret_cast<QueryProc>(dlsym(source, "VirtualScannerQuery")) : nullptr;
#endif
    return control_ != nullptr && query_ != nullptr;
  }
  void Close(TwainGlobals* g) override {
    DoCloseDS(g);
    DoCloseDSM(g);
    if constexpr (kWindowsBuild) platform::UnbindDSM(g);
  }
  void ScriptGet(TW_UINT16 cap, const Answer& a) override {
    char cmd[64];
    if (a.rc != TWRC_SUCCESS) {
      std::snprintf(cmd, sizeof cmd, "script-cc %u", a.cc);
      control_(cmd);
    }
    std::string c = "script-get " + std::to_string(cap) + " " + std::to_string(a.conType) + " " +
                    std::to_string(a.rc) + " " + (a.container ? Hex(a.bytes) : std::string("none"));
    control_(c.c_str());
  }
  void ScriptSet(TW_UINT16 cap, TW_UINT16 rc, TW_UINT16 cc) override {
    std::string c = "script-set " + std::to_string(cap) + " " + std::to_string(rc) + " " + std::to_string(cc);
    control_(c.c_str());
  }
  SentSet LastSet(TW_UINT16 cap) override {
    SentSet s;
    static char out[8192];
    out[0] = 0;
    query_(("last-set " + std::to_string(cap)).c_str(), out, sizeof out);
    unsigned con = 0;
    char hex[8192] = "";
    if (std::sscanf(out, "%u %8191s", &con, hex) >= 1 && con != 0) {
      s.sent = true;
      s.conType = static_cast<TW_UINT16>(con);
      for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        unsigned v;
        std::sscanf(hex + i, "%2x", &v);
        s.bytes.push_back(static_cast<uint8_t>(v));
      }
    }
    return s;
  }
  void Forget() override { control_("forget-sets"); }
  void Clear() override {
    if (control_) control_("script-clear");
  }
  long LiveContainers() override {
#if KV_WINDOWS_BUILD
    return -1;
#else
    return CarbonStandin_LiveHandles();
#endif
  }

 private:
  ControlProc control_ = nullptr;
  QueryProc query_ = nullptr;
};

}  // namespace

std::unique_ptr<CapRoute> CapRoute::Make() { return std::unique_ptr<CapRoute>(new ScannerRoute); }

}  // namespace capstest
