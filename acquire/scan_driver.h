// One acquisition: open, reset the pixel flavour, enable, wait for the image, collect it,
// close. The image (if the transfer was native) is left in *imageSlot.
#pragma once
#include "entry/twain_globals.h"

int16_t DoScan(TwainGlobals* g, TW_HANDLE* imageSlot);

// While a scan waits, the host may dispatch another call into the extension from the
// scan's own event loop. Such a call must leave the running scan alone: this answers it
// (About with its text, every other function with 14, "not now") without touching any
// record, and returns true. With no scan running it does nothing and returns false.
bool AnswerCallDuringScan(HostContext ctx);
constexpr int16_t kResultScanRunning = 14;
