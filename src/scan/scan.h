// One acquisition: open, reset the pixel flavour, enable, wait for the image, collect it,
// close. The image (if the transfer was native) is left in *imageSlot.
#pragma once
#include "pages/page_route.h"
#include "record/globals.h"
#include "scan/page_batch.h"

// 0 or a result code; 14 when another scan is running (calls nested in a scan's wait).
int16_t DoScan(TwainGlobals* g, const PageRoute& route, TW_HANDLE* imageSlot);

// A batch: pages until the source has none left or the batch is full, each written by the
// batch's writer before the next is transferred. 0 when at least one page was written and the
// batch ended as it should; 5 when no page came; else the first failure, the pages before it
// written and counted. 14 when another scan is running. *taken: the pages taken from the
// source and handed to the batch's writer without a failure.
int16_t DoScanPages(TwainGlobals* g, const PageRoute& route, const BatchSettings& batch, uint32_t* taken);

// Whether a scan is running: host code that a scan's wait dispatches may call in again.
bool ScanRunning();
