// Extended image information of the pages a scan transfers: what the source read on the
// sheet (its side, a patch code, barcodes, the document and page numbers), asked with
// DG_IMAGE / DAT_EXTIMAGEINFO / MSG_GET in state 7, once the page arrived (TWRC_XFERDONE) and
// before its transfer is ended: the only time a source answers it.
#pragma once
#include "pages/page_log.h"
#include "record/globals.h"

// State 4: asks the source for extended image information (ICAP_EXTIMAGEINFO TRUE). True when
// it took it; a source without it scans as before.
bool EnablePageMarks(TwainGlobals* g);

// While a scan of g runs, the marks of each page it transfers go to *marks (null: none are
// collected): the job's end its MSG_ENDXFER reports, and, with `askSource` (the source took
// ICAP_EXTIMAGEINFO), what it read on the page. The transfers note them through
// ReadPageMarks and NotePageJobEnd.
void CollectPageMarks(const TwainGlobals* g, PageMarks* marks, bool askSource);

// State 7, after the page arrived: where g's scan collects marks, asks the source for them
// and replaces *marks with what it said. A refusal, an item the source does not know
// (TWRC_INFONOTSUPPORTED) or has not for this page (TWRC_DATANOTAVAILABLE) leaves fields as
// they start; the page goes on whatever was answered. Every handle the source handed over is
// freed.
void ReadPageMarks(TwainGlobals* g);
// After the page's MSG_ENDXFER: where g's scan collects marks, the EOJ it answered.
void NotePageJobEnd(const TwainGlobals* g, TW_UINT32 jobEnd);

// The items of one answer, read out of TW_INFO records the source filled (exposed for its
// checks): *marks receives what they hold; every handle among them is freed.
void TakeInfoItems(TW_INFO* infos, TW_UINT32 count, PageMarks* marks);
