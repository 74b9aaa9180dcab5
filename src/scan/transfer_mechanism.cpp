#include "scan/transfer_mechanism.h"

#include "caps/read_caps.h"
#include "caps/write_caps.h"
#include "options/options.h"
#include "twain/result_codes.h"

int16_t NegotiateTransferMechanism(TwainGlobals* g, const PageRoute& route) {
  // Some sources keep a file mechanism from an earlier session: native is asked for too.
  if (route.transfer != PageTransfer::kFile) {
    SetCapInt(g, ICAP_XFERMECH, TWSX_NATIVE);
    return 0;
  }
  int16_t r = SetCapInt(g, ICAP_XFERMECH, TWSX_FILE);
  if (r == 0) r = SetCapInt(g, ICAP_IMAGEFILEFORMAT, route.format);
  return r;
}

namespace {

// The source's JPEG strips, where it has them and the pages are grey or colour.
void AskForJpegStrips(TwainGlobals* g) {
  CapIntegers type, compression;
  if (GetCapIntegers(g, ICAP_PIXELTYPE, &type) != 0 || type.current == TWPT_BW) return;
  if (GetCapIntegers(g, ICAP_COMPRESSION, &compression) != 0 || !compression.Allows(TWCP_JPEG)) return;
  SetCapInt(g, ICAP_COMPRESSION, TWCP_JPEG);
}

bool ZeroIsWhite(TwainGlobals* g) {
  CapIntegers flavor;
  return GetCapIntegers(g, ICAP_PIXELFLAVOR, &flavor) == 0 && flavor.current == TWPF_VANILLA;
}

}  // namespace

int16_t SettleBatchTransfer(TwainGlobals* g, const BatchSettings& batch, PageRoute* route, StripTerms* terms) {
  if (!route->TakesRows()) return 0;
  // Windows takes native pages of any size: its native batch asks nothing.
  if (kWindowsBuild && batch.transfer == kTransferNative) return 0;
  CapIntegers mechanisms;
  const bool offered = GetCapIntegers(g, ICAP_XFERMECH, &mechanisms) == 0 && mechanisms.Allows(TWSX_MEMORY);
  if (batch.transfer == kTransferNative) {
    // Mac: pages too large for a picture may come by memory, where the source agrees to
    // switch in state 6; a refusal leaves them to answer 16.
    if (offered && SetCapArrayToOne(g, CAP_EXTENDEDCAPS, ICAP_XFERMECH) == 0) {
      terms->lateMemory = true;
      terms->zeroIsWhite = ZeroIsWhite(g);
    }
    return 0;
  }
  if (!offered) return batch.transfer == kTransferMemory ? kResultBadValue : 0;
  int16_t r = SetCapInt(g, ICAP_XFERMECH, TWSX_MEMORY);
  if (r != 0) return r;
  route->transfer = PageTransfer::kMemory;
  terms->zeroIsWhite = ZeroIsWhite(g);
  if (batch.compressJpeg) AskForJpegStrips(g);
  return 0;
}
