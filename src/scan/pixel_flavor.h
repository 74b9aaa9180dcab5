// Puts the source's ICAP_PIXELFLAVOR back to its default before a scan, so that a picture
// always comes out with 0 meaning black.
#pragma once
#include "record/globals.h"

int16_t SyncPixelFlavor(TwainGlobals* g);
