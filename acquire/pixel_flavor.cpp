// The capability reader and writer exchange values through host fields; the host variable
// "#1" serves as the scratch field and gets its value back afterwards.
#include "acquire/pixel_flavor.h"

#include "caps/read_caps.h"
#include "caps/write_caps.h"
#include "host/host_kit.h"
#include "twain/connection.h"

int16_t SyncPixelFlavor(TwainGlobals* g) {
  int16_t r = DoOpenDSM(g);
  if (r != 0) return r;
  r = DoOpenDS(g);
  if (r != 0) return r;

  HostContext ctx = g->hostParams;
  int16_t scratch = GetFldRef("#1", ctx);
  HostFloat saved = 0;
  GetFldVal(scratch, kValueNumber, 10, &saved, ctx);

  r = GetCap(g, ICAP_PIXELFLAVOR, scratch, 0, 0);
  if (r == 0) {
    int16_t current = GetFldInt(scratch, ctx);
    r = GetCap(g, ICAP_PIXELFLAVOR, scratch, 0, 1);
    if (r == 0 && GetFldInt(scratch, ctx) != current) r = SetCap(g, ICAP_PIXELFLAVOR, scratch);
  }

  SetFldVal(scratch, kValueNumber, &saved, ctx);
  return r;
}
