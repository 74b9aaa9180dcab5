// What the dispatcher does with a natively transferred image: write it to a file in the
// platform's own format (PICT on the Mac, BMP on Windows), or hand it to a picture field.
// Both leave imageHandle null.
#pragma once
#include "record/globals.h"
#include "twain/result_codes.h"

// Right after a native transfer that reported success: 0 when *image can be delivered; else
// kResultUnusablePage, with the image released and *image null (no handle; on the Mac a handle
// shorter than a picture's header).
int16_t AcceptNativeImage(TW_HANDLE* image);

// Releases an image that is not delivered (a failed scan's, or one left from before).
void DisposeNativeImage(TwainGlobals* g);

// path: the host's path as read for ScanToFile (Mac: length-prefixed; Windows: NUL-terminated).
int16_t WriteImageToFile(TwainGlobals* g, const uint8_t* path);
// Stores the image into the picture field that is the call's first parameter.
int16_t StoreImageInField(TwainGlobals* g);
