#include "acquire/scan_session.h"

namespace {
ScanSession* running = nullptr;
}

ScanSession* RunningScan() { return running; }

ScanSession* RunningScanOf(const TwainGlobals* g) {
  return running && running->instance == g ? running : nullptr;
}

void NoteTransfer(TwainGlobals* g, int16_t result) {
  ScanSession* s = RunningScanOf(g);
  if (!s) return;
  s->transferDone = true;
  s->transferResult = result;
}

ScanSessionScope::ScanSessionScope(TwainGlobals* g) : outer_(running) {
  session_.instance = g;
  running = &session_;
}

ScanSessionScope::~ScanSessionScope() { running = outer_; }
