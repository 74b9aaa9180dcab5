// Before a scan enables its source: the transfer mechanism it will use, and for a file
// transfer the format. Sources take capabilities in state 4 only (unless the application
// negotiated otherwise), so this is settled while the source is open and not yet enabled.
#pragma once
#include "twain/globals.h"

// Codes 1 and 2 (native): ICAP_XFERMECH native, a refusal ignored (native is every source's
// default, and some have no such capability to set). Any other code: ICAP_XFERMECH file and
// ICAP_IMAGEFILEFORMAT that code; the first refusal is the result, translated.
int16_t NegotiateTransferMechanism(TwainGlobals* g);
