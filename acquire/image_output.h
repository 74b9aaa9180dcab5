// What the dispatcher does with a natively transferred image: write it to a file in the
// platform's own format (PICT on the Mac, BMP on Windows), or hand it to a picture field.
// Both leave imageHandle null.
#pragma once
#include "twain/globals.h"

// path: the host's path as read for ScanToFile (Mac: length-prefixed; Windows: NUL-terminated).
int16_t WriteImageToFile(TwainGlobals* g, const uint8_t* path);
// Stores the image into the picture field that is the call's first parameter.
int16_t StoreImageInField(TwainGlobals* g);
