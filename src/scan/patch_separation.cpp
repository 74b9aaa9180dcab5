#include "scan/patch_separation.h"

#include "caps/write_caps.h"
#include "transfer/page_marks.h"

PatchSeparation SettlePatchSeparation(TwainGlobals* g) {
  if (SetCapInt(g, CAP_JOBCONTROL, TWJC_JSXC) == 0) return PatchSeparation::kJobControl;
  if (SetCapInt(g, ICAP_PATCHCODEDETECTIONENABLED, 1) == 0 && EnablePageMarks(g))
    return PatchSeparation::kPatchMarks;
  return PatchSeparation::kNone;
}
