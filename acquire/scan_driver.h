// One acquisition: open, reset the pixel flavour, enable, wait for the image, collect it,
// close. The image (if the transfer was native) is left in *imageSlot.
#pragma once
#include "twain/globals.h"

// 0 or a result code; 14 when another scan is running (calls nested in a scan's wait).
int16_t DoScan(TwainGlobals* g, TW_HANDLE* imageSlot);

// Whether a scan is running: host code that a scan's wait dispatches may call in again.
bool ScanRunning();
