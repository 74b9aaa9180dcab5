#include "twain/dsm.h"

#include "twain/dsm_platform.h"

TW_UINT16 CallDSM(TwainGlobals* g, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                  TW_MEMREF data) {
  DSMENTRYPROC entry = platform::DsmEntry();
  if (!entry) return TWRC_FAILURE;
  return entry(&g->appIdentity, dest, dg, dat, msg, data);
}
