// The name/value-pair commands: Twain.GetSourceCapability, Twain.GetSourceCapRange and
// Twain.SetSourceCapability.
#pragma once
#include "record/globals.h"

// listMode 0: current values; 1: every allowed value. SUPPORTEDCAPS turns list mode on for
// itself and every later pair of the call.
int16_t DoGetSourceCap(TwainGlobals* g, int listMode);
int16_t DoSetSourceCap(TwainGlobals* g);
