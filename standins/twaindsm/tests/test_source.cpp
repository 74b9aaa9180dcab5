// A tiny source for the manager's suite, built twice: as a TWAIN 2 source (KVTEST_DS2: DF_DS2,
// wants DAT_ENTRYPOINT / MSG_SET before MSG_OPENDS and reaches the manager through the entry
// point it was given) and as a 1.x source (finds DSM_Entry in the loaded TWAINDSM.dll itself).
// Besides DS_Entry it exports what the suite needs to make it talk to the manager.
#include <windows.h>

#include <cstring>

#include "standins/twaindsm/twaindsm.h"

namespace {

#if KVTEST_DS2
constexpr const char* kName = "KV Test Source 2";
constexpr TW_UINT32 kGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
#else
constexpr const char* kName = "KV Test Source 1";
constexpr TW_UINT32 kGroups = DG_CONTROL | DG_IMAGE;
#endif

int g_state = 3;
TW_UINT16 g_condition = TWCC_SUCCESS;
TW_IDENTITY g_self{};
TW_IDENTITY g_app{};
TW_ENTRYPOINT g_points{};
int g_entryPointsSet = 0;
TW_UINT16 g_closeAnswer = TWRC_SUCCESS;  // what the next MSG_CLOSEDS answers once it closed

TW_UINT16 Fail(TW_UINT16 code) {
  g_condition = code;
  return TWRC_FAILURE;
}

DSMENTRYPROC Manager() {
#if KVTEST_DS2
  return g_points.DSM_Entry;
#else
  HMODULE manager = GetModuleHandleA("TWAINDSM.dll");
  return manager ? reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(manager, "DSM_Entry")))
                 : nullptr;
#endif
}

}  // namespace

extern "C" TW_UINT16 WINAPI DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                     TW_MEMREF data) {
  if (dg != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  if (dat == DAT_IDENTITY && msg == MSG_GET) {
    auto* id = static_cast<TW_IDENTITY*>(data);
    std::memset(id, 0, sizeof *id);
    id->Version.MajorNum = 1;
    id->ProtocolMajor = KVTEST_DS2 ? 2 : 1;
    id->ProtocolMinor = KVTEST_DS2 ? 4 : 9;
    id->SupportedGroups = kGroups;
    std::strcpy(id->Manufacturer, "Kardivelle tests");
    std::strcpy(id->ProductFamily, "Manager tests");
    std::strcpy(id->ProductName, kName);
    return TWRC_SUCCESS;
  }
  if (dat == DAT_STATUS && msg == MSG_GET) {
    *static_cast<TW_STATUS*>(data) = TW_STATUS{g_condition, 0};
    g_condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_ENTRYPOINT && msg == MSG_SET) {
    if (!KVTEST_DS2) return Fail(TWCC_BADPROTOCOL);
    if (g_state != 3) return Fail(TWCC_SEQERROR);
    const auto* points = static_cast<const TW_ENTRYPOINT*>(data);
    if (points->Size != sizeof(TW_ENTRYPOINT)) return Fail(TWCC_BADVALUE);
    g_points = *points;
    ++g_entryPointsSet;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_IDENTITY && msg == MSG_OPENDS) {
    if (g_state != 3) return Fail(TWCC_SEQERROR);
    if (KVTEST_DS2 && !g_points.DSM_Entry) return Fail(TWCC_BUMMER);
    g_self = *static_cast<TW_IDENTITY*>(data);
    g_app = *origin;
    g_state = 4;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_IDENTITY && msg == MSG_CLOSEDS) {
    if (g_state != 4) return Fail(TWCC_SEQERROR);
    g_state = 3;
    const TW_UINT16 answer = g_closeAnswer;
    g_closeAnswer = TWRC_SUCCESS;
    return answer;
  }
  if (dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
    if (g_state < 4) return Fail(TWCC_SEQERROR);
    static_cast<TW_EVENT*>(data)->TWMessage = MSG_NULL;
    return TWRC_NOTDSEVENT;
  }
  return Fail(TWCC_BADPROTOCOL);
}

// Sends DG_CONTROL / DAT_NULL / msg to the application that opened this source; the manager's
// answer.
extern "C" TW_UINT16 KvTestSourceSend(TW_UINT16 msg) {
  DSMENTRYPROC manager = Manager();
  if (!manager) return 0xFFFF;
  return manager(&g_self, &g_app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

// How many times the manager handed over its entry points, and the open source's Id.
extern "C" int KvTestSourceEntryPointsSet() { return g_entryPointsSet; }
extern "C" TW_UINT32 KvTestSourceId() { return g_self.Id; }

// The next MSG_CLOSEDS closes the source and answers rc (a driver that says TWRC_CHECKSTATUS).
extern "C" void KvTestSourceNextCloseAnswers(TW_UINT16 rc) { g_closeAnswer = rc; }
