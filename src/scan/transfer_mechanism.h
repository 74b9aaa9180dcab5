// Before a scan enables its source: the transfer mechanism it will use, and for a file
// transfer the format. Sources take capabilities in state 4 only (unless the application
// negotiated otherwise), so this is settled while the source is open and not yet enabled.
#pragma once
#include "pages/page_route.h"
#include "record/globals.h"
#include "scan/page_batch.h"
#include "transfer/memory_transfer.h"

// A native route: ICAP_XFERMECH native, a refusal ignored (native is every source's default,
// and some have no such capability to set). A file route: ICAP_XFERMECH file and
// ICAP_IMAGEFILEFORMAT its format; the first refusal is the result, translated.
int16_t NegotiateTransferMechanism(TwainGlobals* g, const PageRoute& route);

// A batch whose pages the extension writes itself from rows (route->TakesRows()), as its
// TRANSFER option says, asked before anything sets ICAP_XFERMECH (a source may list its
// current mechanism alone): NATIVE keeps the native transfer; MEMORY asks for the buffered
// memory transfer, and a source that does not list it under ICAP_XFERMECH answers 10 (nothing
// is scanned); AUTO takes memory where the source lists it. A memory batch also learns the
// source's pixel flavour, and, with compressJpeg, asks for ICAP_COMPRESSION TWCP_JPEG where the
// source offers it and the pixel type is not black and white (a refusal leaves the pages
// uncompressed). A memory batch's route becomes PageTransfer::kMemory, and *terms what the
// source said of its pixels. Mac, NATIVE: where the source lists memory, it is asked to take
// ICAP_XFERMECH in state 6 too (CAP_EXTENDEDCAPS), for pages too large for a picture
// (terms->lateMemory).
int16_t SettleBatchTransfer(TwainGlobals* g, const BatchSettings& batch, PageRoute* route, StripTerms* terms);
