#include "scan/paper_source.h"

#include "caps/read_caps.h"
#include "caps/write_caps.h"
#include "options/options.h"
#include "twain/result_codes.h"

namespace {

// A TW_BOOL capability's current value: 1, 0, or -1 when the source does not answer it.
int ReadBool(TwainGlobals* g, TW_UINT16 capId) {
  bool value = false;
  if (GetCapBool(g, capId, &value) != kResultOk) return -1;
  return value ? 1 : 0;
}

// CAP_FEEDERENABLED to `feeder`. A source that refuses it while already holding that value
// (a sheet-fed scanner's read-only TRUE) is where it was asked to be.
int16_t EnableFeeder(TwainGlobals* g, bool feeder) {
  int16_t r = SetCapInt(g, CAP_FEEDERENABLED, feeder ? 1 : 0);
  if (r != kResultOk && ReadBool(g, CAP_FEEDERENABLED) == (feeder ? 1 : 0)) r = kResultOk;
  return r;
}

}  // namespace

FeederPaper ReadFeederPaper(TwainGlobals* g) {
  switch (ReadBool(g, CAP_FEEDERLOADED)) {
    case 1:
      return FeederPaper::Loaded;
    case 0:
      return FeederPaper::Empty;
    default:
      return FeederPaper::Unknown;
  }
}

bool AutoscanOn(TwainGlobals* g) { return ReadBool(g, CAP_AUTOSCAN) == 1; }

int16_t ChoosePaperSource(TwainGlobals* g, int32_t paperSource) {
  if (paperSource == kPaperSourceAuto) {
    // A source that tells of no feeder's paper has no feeder to choose: nothing more is asked.
    const FeederPaper paper = ReadFeederPaper(g);
    if (paper == FeederPaper::Unknown) return kResultOk;
    if (ReadBool(g, CAP_AUTOMATICSENSEMEDIUM) >= 0 && SetCapInt(g, CAP_AUTOMATICSENSEMEDIUM, 1) == kResultOk)
      return kResultOk;
    EnableFeeder(g, paper == FeederPaper::Loaded);
    return kResultOk;
  }
  // The source's own sensing would overrule the choice.
  if (ReadBool(g, CAP_AUTOMATICSENSEMEDIUM) == 1) SetCapInt(g, CAP_AUTOMATICSENSEMEDIUM, 0);
  return EnableFeeder(g, paperSource == kPaperSourceFeeder);
}
