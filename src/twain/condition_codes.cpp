// Folding a TWAIN return code, and after TWRC_FAILURE the condition code, into one result.
#include <cstdint>

#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/result_codes.h"

namespace {

int16_t MapConditionCode(TW_UINT16 cc) {
  switch (cc) {
    case TWCC_SUCCESS:
      return kResultFailureUnexplained;
    case TWCC_NODS:
      return kWindowsBuild ? kResultConditionCodeBase + TWCC_NODS : kResultNoSource;
    case TWCC_OPERATIONERROR:
      return kResultFailed;
    case TWCC_BADCAP:
      return kResultUnsupportedCapability;
    case TWCC_BADVALUE:
      return kResultBadValue;
    case TWCC_SEQERROR:
      return kResultSequenceError;
    case TWCC_BADDEST:
      return kResultNotNow;
    case TWCC_CAPUNSUPPORTED:
      return kResultUnsupportedCapability;
    case TWCC_CAPBADOPERATION:
      return kResultNotNow;
    case TWCC_CAPSEQERROR:
      return kResultNotNow;
    default:
      return cc > INT16_MAX - kResultConditionCodeBase ? kResultConditionCodeOutOfRange
                                                       : static_cast<int16_t>(kResultConditionCodeBase + cc);
  }
}

int16_t MapReturnCode(TW_UINT16 rc) {
  return rc > INT16_MAX - kResultReturnCodeBase ? kResultReturnCodeOutOfRange
                                                : static_cast<int16_t>(kResultReturnCodeBase + rc);
}

}  // namespace

int16_t xlateCondition(TW_UINT16 cc) { return MapConditionCode(cc); }

int16_t xlateErr(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT16 rc) {
  if (rc == TWRC_SUCCESS) return kResultOk;
  if (rc == TWRC_CANCEL) return kResultCancelled;
  if (rc != TWRC_FAILURE) return MapReturnCode(rc);
  TW_STATUS status{};
  TW_UINT16 src = CallDSM(g, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
  // The status request's own failure is passed on as it came (1 for TWRC_FAILURE), unless
  // it would read as a negative number.
  if (src != TWRC_SUCCESS) return src > INT16_MAX ? kResultReturnCodeOutOfRange : static_cast<int16_t>(src);
  return MapConditionCode(status.ConditionCode);
}

int16_t xlateDsmErr(TwainGlobals* g, TW_UINT16 rc) {
  int16_t r = xlateErr(g, &g->sourceIdentity, rc);
  if (r == kResultFailureUnexplained && rc == TWRC_FAILURE) r = xlateErr(g, nullptr, rc);
  return r;
}
