// An independent reader of the files a scan leaves: ImageMagick, run as its own process.
#pragma once
#include <string>

namespace kvtest {

struct ImageFacts {
  bool read = false;
  int width = 0, height = 0;
};

// Size of the image ImageMagick finds in the file (read = false when it cannot read it).
ImageFacts Identify(const std::string& path);
// The 8-bit sample values "r,g,b" of pixel (x, y), as ImageMagick reads it.
std::string PixelAt(const std::string& path, int x, int y);
// The pages of a PDF (qpdf) or a TIFF (libtiff's tiffinfo), -1 when they cannot be read.
int PageCountOf(const std::string& path);
// Whether the independent reader can run here (the Mac build runs natively; the Windows
// suite runs under Wine, where the files are checked by check_bmp_files.sh afterwards).
bool ReaderAvailable();

}  // namespace kvtest
