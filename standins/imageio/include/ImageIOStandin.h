// Test controls of the image export stand-in (not a framework header).
#pragma once
#include <ApplicationServices/ApplicationServices.h>

#ifdef __cplusplus
extern "C" {
#endif

// CoreFoundation and CoreGraphics objects alive (constant strings excepted). A release too
// many, a use of a freed object and an object of the wrong type are not counted: they end
// the process with a line on standard error naming the call.
long ImageIOStandin_LiveObjects(void);
// The n-th CGImageDestinationFinalize from now (1 = the next) fails as a full disk does: it
// writes part of the file and returns false. 0 cancels.
void ImageIOStandin_FailNthFinalize(long n);
// Pixels CGImageDestinationFinalize holds decoded at once, at most, since the last reset (a
// check that a destination fed from sources decodes one image at a time).
long ImageIOStandin_PeakDecodedPixels(void);
void ImageIOStandin_ResetPeak(void);

#ifdef __cplusplus
}
#endif
