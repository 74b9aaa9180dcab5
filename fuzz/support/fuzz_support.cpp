#include "fuzz/support/fuzz_support.h"

#include <Carbon/Carbon.h>
#include <CarbonStandin.h>

#include <cstring>

#include "caps/cap_table.h"
#include "host/host_kit.h"
#include "twain/connection.h"
#include "twain/dsm.h"

namespace kvfuzz {
namespace {

std::function<void(TwainGlobals*)>* gBody = nullptr;

void Entry(int16_t message, void** slot, HostParamBlock* block) {
  if (message != kMsgExecute || gBody == nullptr) return;
  TwainGlobals* g = Session::Get().Record();
  g->hostParams = block;
  (*gBody)(g);
}

TW_HANDLE NewContainer(const std::vector<uint8_t>& bytes) {
  Handle h = NewHandle(static_cast<Size>(bytes.size()));
  if (h != nullptr && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
  Dsm& d = TheDsm();
  if (msg == MSG_GET) {
    ++d.gets;
    if (d.getRc != TWRC_SUCCESS) return d.getRc;
    cap->ConType = d.conType;
    cap->hContainer = d.container ? NewContainer(d.bytes) : nullptr;
    return TWRC_SUCCESS;
  }
  if (msg == MSG_SET) {
    d.sent = true;
    d.sentConType = cap->ConType;
    const uint8_t* p = static_cast<const uint8_t*>(LockXPHandle(cap->hContainer));
    uint32_t n = GetXPHandleSize(cap->hContainer);
    d.sentBytes.assign(p, p + (p ? n : 0));
    UnlockXPHandle(cap->hContainer);
    return d.setRc;
  }
  return TWRC_FAILURE;
}

}  // namespace

Dsm& TheDsm() {
  static Dsm dsm;
  return dsm;
}

Session& Session::Get() {
  static Session* session = new Session;  // lives for the whole run
  return *session;
}

Session::Session() {
  host_.reset(new velmar::Host(Entry, {}));
  record_ = new TwainGlobals();
  std::memset(record_, 0, sizeof *record_);
  record_->signature = kSignatureCool;
  record_->dsmOpen = record_->dsOpen = record_->sourceSelected = 1;
  initCaps(record_);
}

void Session::Run(const std::vector<velmar::Argument>& arguments,
                  const std::function<void(TwainGlobals*)>& body) {
  // Each execution finds the host's fields as new: the variables that earlier inputs named
  // would otherwise pile up, and every field look-up would walk them all.
  host_->Fields() = velmar::FieldStore();
  std::function<void(TwainGlobals*)> copy = body;
  gBody = &copy;
  host_->Call(1, arguments);
  gBody = nullptr;
}

long Session::LiveBlocks() { return CarbonStandin_LiveHandles() + CarbonStandin_LivePointers(); }

velmar::Argument NumberArgument(HostFloat value) {
  velmar::Argument a;
  a.kind = velmar::Argument::kNumber;
  a.number = value;
  return a;
}
velmar::Argument TextArgument(std::string text) {
  velmar::Argument a;
  a.kind = velmar::Argument::kText;
  a.text = std::move(text);
  return a;
}
velmar::Argument VariableArgument(std::string name) {
  velmar::Argument a;
  a.kind = velmar::Argument::kVariable;
  a.text = std::move(name);
  return a;
}

}  // namespace kvfuzz

// ------------------------------------------------------------------ the DSM entry points
TW_UINT16 CallDSM(TwainGlobals*, TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY)
    return kvfuzz::Capability(msg, static_cast<TW_CAPABILITY*>(data));
  if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
    static_cast<TW_STATUS*>(data)->ConditionCode = kvfuzz::TheDsm().cc;
    return TWRC_SUCCESS;
  }
  return TWRC_FAILURE;
}

// The result codes only need to be some code; the translation itself has its own tests.
int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc) {
  if (rc == TWRC_SUCCESS) return 0;
  if (rc == TWRC_CANCEL) return 5;
  if (rc != TWRC_FAILURE) return static_cast<int16_t>(2000 + rc);
  TW_STATUS status{};
  CallDSM(g, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  return status.ConditionCode == TWCC_SUCCESS ? 0 : static_cast<int16_t>(3000 + status.ConditionCode);
}

int16_t DoOpenDSM(TwainGlobals* g) { return g->dsmOpen ? 0 : 13; }
int16_t DoOpenDS(TwainGlobals* g) { return g->dsOpen ? 0 : 13; }
