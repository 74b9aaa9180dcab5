// The platform's JPEG encoder, into memory (Windows: WIC into a stream on global memory; Mac:
// ImageIO into a CFData), for pages that go into a file the extension writes itself (PDF).
// Each build implements it once, in platform/<os>/image_files.cpp.
#pragma once
#include <cstdint>
#include "image/byte_run.h"
#include "image/page_pixels.h"

// A grey or colour page as one JFIF stream at `quality` (1 to 100: as much of the encoder's
// range), grey pages as one component, colour as three, the page's resolution in its header.
// 0, or 2 (no memory, a black-and-white page, the encoder refuses); *jpeg holds the stream.
int16_t EncodeJpeg(PagePixels& page, int quality, ByteRun* jpeg);
