// Folding a TWAIN return code, and after TWRC_FAILURE the condition code, into one result.
#include "twain/connection.h"
#include "twain/dsm.h"

namespace {

int16_t MapConditionCode(TW_UINT16 cc) {
  switch (cc) {
    case TWCC_SUCCESS: return 0;
    case TWCC_NODS: return kWindowsBuild ? 3003 : 15;
    case TWCC_OPERATIONERROR: return 13;
    case TWCC_BADCAP: return 9;
    case TWCC_BADVALUE: return 10;
    case TWCC_SEQERROR: return 14;
    case TWCC_BADDEST: return 11;
    case TWCC_CAPUNSUPPORTED: return 9;
    case TWCC_CAPBADOPERATION: return 11;
    case TWCC_CAPSEQERROR: return 11;
    default: return static_cast<int16_t>(3000 + cc);
  }
}

}  // namespace

int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc) {
  if (rc == TWRC_SUCCESS) return 0;
  if (rc == TWRC_CANCEL) return 5;
  if (rc != TWRC_FAILURE) return static_cast<int16_t>(2000 + rc);
  TW_STATUS status{};
  TW_UINT16 src = CallDSM(g, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  if (src != TWRC_SUCCESS) return static_cast<int16_t>(src);
  return MapConditionCode(status.ConditionCode);
}
