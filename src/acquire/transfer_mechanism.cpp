#include "acquire/transfer_mechanism.h"

#include "acquire/collect_image.h"
#include "caps/write_caps.h"

int16_t NegotiateTransferMechanism(TwainGlobals* g) {
  // Some sources keep a file mechanism from an earlier session: native is asked for too.
  if (IsNativeFormat(g->fileFormat)) {
    SetCapInt(g, ICAP_XFERMECH, TWSX_NATIVE);
    return 0;
  }
  int16_t r = SetCapInt(g, ICAP_XFERMECH, TWSX_FILE);
  if (r == 0) r = SetCapInt(g, ICAP_IMAGEFILEFORMAT, g->fileFormat);
  return r;
}
