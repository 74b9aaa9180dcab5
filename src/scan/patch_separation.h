// How a source separates the documents of a batch at patch sheets (SEPARATION "PATCHCODE"),
// settled with the open source (state 4) before it is enabled.
#pragma once
#include "pages/documents.h"
#include "record/globals.h"

// The source's own job control where it takes it (CAP_JOBCONTROL TWJC_JSXC: the separator
// sheet is left out and the MSG_ENDXFER of the page before it reports the job's end); else
// patch code detection (ICAP_PATCHCODEDETECTIONENABLED TRUE) with the patch code of each page
// in its extended image information (ICAP_EXTIMAGEINFO TRUE); else kNone.
PatchSeparation SettlePatchSeparation(TwainGlobals* g);
