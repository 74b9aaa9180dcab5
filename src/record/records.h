// Every instance record this process made and has not freed. A slot, a callback's RefCon or
// any other pointer that claims to be a record is checked here before anything is read
// through it: a pointer to a freed record or to garbage leads nowhere.
#pragma once
#include "record/globals.h"

void RememberRecord(TwainGlobals* g);
void ForgetRecord(TwainGlobals* g);
// The record `pointer` leads to, or null when it is no live record.
TwainGlobals* LiveRecord(const void* pointer);
// Whether a live record other than `g` has the DSM open (Windows: they share one library).
bool AnotherRecordHoldsDsm(const TwainGlobals* g);
// The live record whose open manager knows it by `appId` (the Id the manager gave its
// identity), or null.
TwainGlobals* RecordOfApplication(TW_UINT32 appId);
