// The one scan that may be running in the process, and what its wait loop and the source's
// notifications tell each other about it. A scan call dispatches host events while it waits,
// so host code (and calls into the extension) can run nested inside it; the session is how
// everything else finds out that a scan is under way.
#pragma once
#include "entry/twain_globals.h"

struct ScanSession {
  TwainGlobals* instance = nullptr;
  bool transferDone = false;   // a transfer of this scan has run, well or not
  int16_t transferResult = 0;  // its result: 0, or the code that becomes the scan's result
};

// The running scan, or null.
ScanSession* RunningScan();
// The running scan if it belongs to g, else null.
ScanSession* RunningScanOf(const TwainGlobals* g);
// Records the outcome of a transfer made for the running scan of g.
void NoteTransfer(TwainGlobals* g, int16_t result);

// Opens the session for g for as long as the object lives.
class ScanSessionScope {
 public:
  explicit ScanSessionScope(TwainGlobals* g);
  ~ScanSessionScope();
  ScanSessionScope(const ScanSessionScope&) = delete;
  ScanSessionScope& operator=(const ScanSessionScope&) = delete;

 private:
  ScanSession* outer_;
  ScanSession session_;
};
