// Where the sheets of a Twain.ScanPages batch come from: the feeder or the glass, settled with
// the open source (state 4) before it is enabled, as the option PAPERSOURCE asks.
#pragma once
#include <cstdint>

#include "record/globals.h"

// What CAP_FEEDERLOADED says: paper in the feeder, none, or nothing (no such capability).
enum class FeederPaper { Loaded, Empty, Unknown };

// AUTO (PaperSourceWord): the feeder when it holds paper, else the glass; the source senses
// it itself where it offers CAP_AUTOMATICSENSEMEDIUM. A source without a feeder keeps its
// glass, and a source that cannot switch keeps what it has: AUTO never fails. FEEDER and
// FLATBED set CAP_FEEDERENABLED: 0, or the failure of that set (a source already where it is
// asked to be counts as having taken it).
int16_t ChoosePaperSource(TwainGlobals* g, int32_t paperSource);
FeederPaper ReadFeederPaper(TwainGlobals* g);
// CAP_AUTOSCAN reads TRUE: the source pulls sheets in ahead of the transfers.
bool AutoscanOn(TwainGlobals* g);
