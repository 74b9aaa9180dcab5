// page_bench: the page writers (image/image_platform.h) on a whole letter page at 300 dpi
// (2550 x 3300), in black and white, grey and colour, as the virtual scanner hands it over
// natively (a packed DIB on Windows, a picture on the Mac). Per format it writes the page
// --runs times and prints the file's size and the median time of one write:
//
//   page_bench [--runs N]
//   <format> <bw|grey|colour> <bytes> <seconds>
//
// The multi-page TIFF line is a five-page book (the book's size, and its time from opening to
// closing divided by five: the time of a page in it). The PDF lines are five-page documents,
// JPEG (pdf-jpeg: grey and colour pages JPEG at quality 85, black and white Flate) and
// lossless (pdf-flate): the bytes a page (the file's size / 5) and the median time of one page
// added, then the median time of the page's own encoding alone (JPEG: the platform's encoder
// into memory; Flate: zlib over the rows into memory):
//
//   <pdf-jpeg|pdf-flate> <bw|grey|colour> <bytes a page> <seconds> <encoding seconds>
//
// The "blank" lines are the blank-page decision's time (BenchBlankDecision). The page's
// pixels are also left as page-bw.pbm, page-grey.pgm and page-colour.ppm, for tools/bench.sh
// to give ImageMagick the same pixels. Files go to the current directory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "image/blank_meter.h"
#include "image/image_platform.h"
#include "image/pdf_document.h"
#include "standins/virtual-scanner/image/page.h"
#include "tests/support/test_pages.h"

namespace {

using Clock = std::chrono::steady_clock;
using kvtest::FactsOf;
using kvtest::FreeImage;
using kvtest::HostName;
using kvtest::NativeImage;

long FileSize(const std::string& name) {
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The raster's pixels as a PBM, PGM or PPM file (top-down rows without padding; in a PBM
// 1 is black).
void WritePnm(const vscan::Raster& r, const std::string& name) {
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return;
  if (r.bitsPerPixel == 1) {
    std::fprintf(f, "P4\n%d %d\n", r.width, r.height);
    std::vector<uint8_t> row(size_t(r.width + 7) / 8);
    for (int y = 0; y < r.height; ++y) {
      for (size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<uint8_t>(~r.rows[size_t(y) * r.stride() + i]);
      std::fwrite(row.data(), 1, row.size(), f);
    }
  } else {
    const int channels = r.bitsPerPixel / 8;
    std::fprintf(f, "P%d\n%d %d\n255\n", channels == 1 ? 5 : 6, r.width, r.height);
    for (int y = 0; y < r.height; ++y)
      std::fwrite(r.rows.data() + size_t(y) * r.stride(), 1, size_t(r.width) * channels, f);
  }
  std::fclose(f);
}

constexpr int kPdfPages = 5;

// The page's own encoding, alone: the median seconds of one, into memory.
double EncodingSeconds(const vscan::Raster& r, bool lossless, int runs) {
  kvtest::RasterPixels pixels(r);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (lossless || r.bitsPerPixel == 1) {
      // As the PDF writer compresses: zlib at its best, grey and colour rows as PNG Up rows.
      const bool up = r.bitsPerPixel != 1;
      const uint32_t rowBytes = pixels.RowBytes();
      z_stream z{};
      deflateInit(&z, Z_BEST_COMPRESSION);
      std::vector<uint8_t> out(deflateBound(&z, (rowBytes + 1) * pixels.Height()));
      std::vector<uint8_t> above(rowBytes, 0), filtered(rowBytes + 1, 2);
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      for (uint32_t y = 0; y < pixels.Height(); ++y) {
        const uint8_t* row = pixels.Row(y);
        if (up) {
          for (uint32_t k = 0; k < rowBytes; ++k) filtered[k + 1] = static_cast<uint8_t>(row[k] - above[k]);
          std::memcpy(above.data(), row, rowBytes);
          row = filtered.data();
        }
        z.next_in = const_cast<Bytef*>(row);
        z.avail_in = up ? rowBytes + 1 : rowBytes;
        deflate(&z, y + 1 == pixels.Height() ? Z_FINISH : Z_NO_FLUSH);
      }
      deflateEnd(&z);
    } else {
      std::vector<uint8_t> jpeg;
      EncodeJpeg(pixels, kDefaultJpegQuality, &jpeg);
    }
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(times);
}

template <class Work>
double MedianTime(int runs, Work work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(times);
}

// Five pages into one PDF: false when a page or the end failed.
bool BenchPdf(const vscan::Raster& r, const char* type, bool lossless, int runs) {
  const std::string name = std::string("bench-") + type + (lossless ? "-flate" : "-jpeg") + ".pdf";
  std::remove(name.c_str());
  PdfSettings settings;
  settings.lossless = lossless;
  PdfDocument doc(HostName(name).data(), settings);
  std::vector<double> times;
  for (int i = 0; i < kPdfPages; ++i) {
    kvtest::RasterPixels pixels(r);
    const auto start = Clock::now();
    if (doc.AddPage(pixels) != 0) return false;
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  int pages = 0;
  if (doc.Close(&pages) != 0 || pages != kPdfPages) return false;
  std::printf("%s %s %ld %.4f %.4f\n", lossless ? "pdf-flate" : "pdf-jpeg", type, FileSize(name) / kPdfPages,
              Median(times), EncodingSeconds(r, lossless, runs));
  return true;
}

// The blank-page decision on the chart (not blank: read until its ink passes the limit) and on
// a blank sheet of that type (read whole): from the native image (as a native transfer judges
// a page) and from the page in rows (as a memory transfer does), beside the time to write
// that page as PNG:
//   blank <bw|grey|colour> <chart|blank> <native s> <rows s> <png s>
int BenchBlankDecision(int pixelType, const char* type, int runs) {
  int status = 0;
  for (int sheet : {0, 1}) {
    vscan::ScanSettings s;
    s.pixelType = pixelType;
    s.xres = s.yres = 300;
    s.sheet = sheet;
    const vscan::Raster r = vscan::RenderPage(s);
    const PageFacts facts = FactsOf(r);
    void* image = NativeImage(r);
    RowPage* rows = NewRowPage(uint32_t(r.width), uint16_t(r.bitsPerPixel), uint32_t(r.height));
    const size_t bytes = (size_t(r.width) * r.bitsPerPixel + 7) / 8;
    for (int y = 0; rows && y < r.height; ++y) {
      uint8_t* row = RowPageRow(rows, uint32_t(y));
      std::memcpy(row, r.rows.data() + size_t(r.stride()) * y, bytes);
      if (kRowPageBlueFirst && r.bitsPerPixel == 24)
        for (int x = 0; x < r.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
    bool nativeBlank = sheet == 0, rowsBlank = sheet == 0;
    const double native = MedianTime(runs, [&] { nativeBlank = IsBlankNativePage(image, facts, 1500); });
    const double fromRows =
        MedianTime(runs, [&] { rowsBlank = rows && IsBlankRowPage(rows, uint32_t(r.height), facts, 1500); });
    const std::string name = std::string("bench-blank-") + type + ".png";
    int16_t result = 0;
    const double png = MedianTime(runs, [&] {
      std::remove(name.c_str());
      result |= WritePageFile(image, facts, TWFF_PNG, HostName(name).data());
    });
    std::remove(name.c_str());
    if (result != 0 || nativeBlank != (sheet != 0) || rowsBlank != (sheet != 0)) {
      std::fprintf(stderr, "page_bench: blank decision on %s %s: write %d, judged blank %d/%d\n", type,
                   sheet ? "blank" : "chart", result, nativeBlank, rowsBlank);
      status = 1;
    }
    std::printf("blank %s %s %.4f %.4f %.4f\n", type, sheet ? "blank" : "chart", native, fromRows, png);
    FreeRowPage(rows);
    FreeImage(image);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  const struct {
    TW_UINT16 format;
    const char* name;
    const char* ext;
  } formats[] = {
      {TWFF_PNG, "png", "png"},
      {TWFF_JFIF, "jpeg", "jpg"},
      {TWFF_TIFF, "tiff", "tif"},
      {kWindowsBuild ? TWFF_BMP : TWFF_PICT, kWindowsBuild ? "bmp" : "pict", kWindowsBuild ? "bmp" : "pict"}};
  int status = 0;
  for (int pixelType : {0, 1, 2}) {
    vscan::ScanSettings s;
    s.pixelType = pixelType;
    s.xres = s.yres = 300;
    const vscan::Raster r = vscan::RenderPage(s);
    const char* const types[] = {"bw", "grey", "colour"};
    const char* const pnm[] = {"page-bw.pbm", "page-grey.pgm", "page-colour.ppm"};
    const char* type = types[pixelType];
    WritePnm(r, pnm[pixelType]);
    const PageFacts facts = FactsOf(r);
    void* image = NativeImage(r);
    for (const auto& f : formats) {
      const std::string name = std::string("bench-") + type + "." + f.ext;
      std::vector<double> times;
      int16_t result = 0;
      for (int i = 0; i < runs && result == 0; ++i) {
        std::remove(name.c_str());  // the Mac never replaces a file
        const auto start = Clock::now();
        result = WritePageFile(image, facts, f.format, HostName(name).data());
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      }
      if (result != 0) {
        std::fprintf(stderr, "page_bench: %s %s answered %d\n", f.name, type, result);
        status = 1;
        continue;
      }
      std::printf("%s %s %ld %.4f\n", f.name, type, FileSize(name), Median(times));
    }
    // Multi-page TIFF: five pages into one book, opened to closed.
    const std::string book = std::string("bench-") + type + "-book.tif";
    std::vector<double> times;
    int16_t result = 0;
    for (int run = 0; run < runs && result == 0; ++run) {
      std::remove(book.c_str());
      const auto start = Clock::now();
      PageBook* b = OpenPageBook(HostName(book).data(), &result);
      for (int i = 0; b && i < 5 && result == 0; ++i) result = AddBookPage(b, image, facts);
      const int16_t closed = b ? ClosePageBook(b) : result;
      if (result == 0) result = closed;
      times.push_back(std::chrono::duration<double>(Clock::now() - start).count() / 5);
    }
    if (result == 0) {
      std::printf("tiff-book %s %ld %.4f\n", type, FileSize(book), Median(times));
    } else {
      std::fprintf(stderr, "page_bench: multi-page TIFF %s answered %d\n", type, result);
      status = 1;
    }
    FreeImage(image);
    for (bool lossless : {false, true}) {
      if (!BenchPdf(r, type, lossless, runs)) {
        std::fprintf(stderr, "page_bench: PDF %s failed\n", type);
        status = 1;
      }
    }
    status |= BenchBlankDecision(pixelType, type, runs);
  }
  return status;
}
