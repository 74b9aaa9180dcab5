// Test pages for the page writers (acquire/image_files.h), shared by their suite and by
// bench/page_bench: the virtual scanner's chart as the build's native transfer hands it over,
// what a scan knows of it, and file names in the host's form.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "acquire/image_files.h"
#include "standins/virtual-scanner/image/page.h"

namespace kvtest {

// `bytes` as the native transfer hands an image over: in global memory on Windows (a packed
// DIB), in a handle on the Mac (a picture). Freed with FreeImage.
void* NativeImage(const std::vector<uint8_t>& bytes);
// The raster as the build's native image: a packed DIB, or a picture.
void* NativeImage(const vscan::Raster& r);
void FreeImage(void* image);

// The raster's pixel type, size and resolution, as a scan reports them.
PageFacts FactsOf(const vscan::Raster& r);

// A file name as the host passes it: a C string on Windows, a Pascal string (its length
// first, NUL-terminated as well) on the Mac.
std::vector<uint8_t> HostName(const std::string& name);

}  // namespace kvtest
