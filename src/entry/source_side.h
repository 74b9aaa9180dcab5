// Which sources a record's calls reach, and where the calls that need a source are carried
// out: in the host's process, in a worker of the build's width (the option ISOLATION
// "PROCESS"), or, on the 64-bit build, in the 32-bit worker that reaches the machine's 32-bit
// sources (the option SOURCES). Twain.GetSourceNames and Twain.SelectSource span every side
// the record reaches; every other function that needs a source runs on the record's side.
#pragma once
#include <cstdint>
#include <string>

#include "record/globals.h"

enum class Side : uint8_t { kInProcess, kOwnWorker, kWorker32 };

// The record's side now. With SOURCES "AUTO" on the 64-bit build it is the width of the source
// chosen last by name; with none chosen, the build's own (its calls answer as they always have,
// 13 before Connect, 4 without a manager).
Side SourceSide(const TwainGlobals* g);

// Twain.GetSourceNames over the sides the record reaches: the build's own sources, then the
// 32-bit ones whose product names are not among them; the next open's source is the record's
// side's. Twain.SelectSource: the first side that lists the name (the build's own first)
// becomes the record's side.
int16_t ListReachableSources(TwainGlobals* g, void* window, std::string* names, std::string* current);
int16_t SelectReachableSource(TwainGlobals* g, void* window, const std::string& name);

// The manager bound in this process where the build binds it at run time; false when TWAIN is
// not available.
bool ManagerReady(TwainGlobals* g);
// The listing and the choice in this process alone (what a worker carries out for the
// extension in the host).
int16_t ListSourcesHere(TwainGlobals* g, std::string* names, std::string* current);
int16_t SelectSourceHere(TwainGlobals* g, const std::string& name);

// The side is found again: SOURCES, ISOLATION or DSM changed, or the record ends.
void ForgetSide(const TwainGlobals* g);
