// The files behind ImageIO's destinations and sources: PNG with libpng, JPEG (JFIF) with
// libjpeg-turbo, TIFF with libtiff (LZW of 8-bit samples with the horizontal differencing
// predictor, as the real ImageIO writes it: Apple documents no property for it, and TIFFs
// written through it, by Grab for one, carry predictor 2), BMP here (uncompressed; no i386
// library for it is installed). 1-bit grey images stay 1-bit (a 1-bit image becomes 8-bit grey
// in a JPEG); other images are written with 8 bits a grey or RGB component, decoded, any
// skipped bits dropped and any alpha laid over white.
#include <png.h>
// jpeglib.h needs FILE and size_t first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "standins/imageio/internal.h"

namespace imageio {
namespace {

constexpr double kInchesPerMeter = 0.0254;

// One row of the image as the file stores it: packed 1-bit, 8-bit grey, or RGB.
void PackRow(const Image& image, size_t y, bool expandBits, std::vector<uint8_t>* row) {
  const PixelLayout& l = image.layout;
  const uint8_t* bytes = image.Bytes();
  if (FileBits(l) == 1 && !expandBits) {
    const size_t n = (l.width + 7) / 8;
    if (l.Plain()) {
      row->assign(bytes + y * l.bytesPerRow, bytes + y * l.bytesPerRow + n);
      if (l.width % 8) (*row)[n - 1] &= static_cast<uint8_t>(0xFF00 >> (l.width % 8));
      return;
    }
    row->assign(n, 0);
    for (size_t x = 0; x < l.width; ++x)
      if (Sample(l, bytes, x, y, 0) >= 128) (*row)[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    return;
  }
  const int c = l.components;
  row->resize(l.width * c);
  const uint8_t* in = bytes + y * l.bytesPerRow;
  uint8_t* out = row->data();
  if (l.Plain() && (l.bitsPerPixel == 8 || l.bitsPerPixel == 24)) {
    std::memcpy(out, in, l.width * c);
  } else if (l.Plain() && l.bitsPerPixel == 32) {
    for (size_t x = 0; x < l.width; ++x, in += 4, out += 3) std::memcpy(out, in + (l.skipFirst ? 1 : 0), 3);
  } else {
    for (size_t x = 0; x < l.width; ++x)
      for (int k = 0; k < c; ++k) out[x * c + k] = Sample(l, bytes, x, y, k);
  }
}

// Bytes PackRow needs for a row of the image at most.
size_t RowRoom(const Image& image) { return image.layout.width * 3 + 8; }

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

// The codecs print nothing: ImageIO's callers learn of a failure by its answer (a Finalize
// that returns false, no image), not on standard error. libpng's error handler must not
// return; its warnings go nowhere.
void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

bool WritePng(const std::string& path, const Image& image, double xDpi, double yDpi) {
  std::vector<uint8_t> row;
  row.reserve(RowRoom(image));  // the one allocation, before anything that must be freed
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  const PixelLayout& l = image.layout;
  png_init_io(png, file.get());
  const int colorType = l.components == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
  png_set_IHDR(png, info, static_cast<png_uint_32>(l.width), static_cast<png_uint_32>(l.height),
               static_cast<int>(FileBits(l)), colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, static_cast<png_uint_32>(xDpi / kInchesPerMeter + 0.5),
               static_cast<png_uint_32>(yDpi / kInchesPerMeter + 0.5), PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (size_t y = 0; y < l.height; ++y) {
    PackRow(image, y, false, &row);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  FILE* f = file.release();
  return std::fflush(f) == 0 && !std::ferror(f) && std::fclose(f) == 0;
}

namespace {
// Little-endian fields of a BMP's headers.
void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// BITMAPFILEHEADER, BITMAPINFOHEADER (uncompressed, rows from the bottom up) and the
// palette of a 1- or 8-bit grey page (black to white); 0 when the file would pass 4 GB.
uint32_t BmpHeaders(const PixelLayout& l, uint32_t bitCount, uint32_t rowBytes, double xDpi, double yDpi,
                    std::vector<uint8_t>* out) {
  const uint32_t colours = bitCount == 24 ? 0 : 1u << bitCount;
  const uint32_t offset = 14 + 40 + colours * 4;
  const uint64_t size = offset + static_cast<uint64_t>(rowBytes) * l.height;
  if (size > UINT32_MAX || l.width > INT32_MAX || l.height > INT32_MAX) return 0;
  out->push_back('B');
  out->push_back('M');
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(l.width));
  Put32(out, static_cast<uint32_t>(l.height));
  Put16(out, 1);
  Put16(out, bitCount);
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<uint32_t>(size - offset));
  Put32(out, static_cast<uint32_t>(xDpi / kInchesPerMeter + 0.5));
  Put32(out, static_cast<uint32_t>(yDpi / kInchesPerMeter + 0.5));
  Put32(out, colours);
  Put32(out, 0);
  for (uint32_t i = 0; i < colours; ++i) {
    const auto grey = static_cast<uint8_t>(i * 255 / (colours - 1));
    out->insert(out->end(), {grey, grey, grey, 0});
  }
  return offset;
}
}  // namespace

bool WriteBmp(const std::string& path, const Image& image, double xDpi, double yDpi) {
  const PixelLayout& l = image.layout;
  const uint32_t bitCount = l.components == 3 ? 24 : static_cast<uint32_t>(FileBits(l));
  const uint32_t rowBytes = static_cast<uint32_t>((l.width * bitCount + 31) / 32 * 4);
  std::vector<uint8_t> head, row;
  row.reserve(RowRoom(image) + 4);  // the allocations, before the file exists
  head.reserve(14 + 40 + 256 * 4);
  if (BmpHeaders(l, bitCount, rowBytes, xDpi, yDpi, &head) == 0) return false;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file || std::fwrite(head.data(), 1, head.size(), file.get()) != head.size()) return false;
  for (size_t y = l.height; y-- > 0;) {
    PackRow(image, y, false, &row);
    if (bitCount == 24)
      for (size_t x = 0; x < l.width; ++x) std::swap(row[x * 3], row[x * 3 + 2]);  // BGR
    row.resize(rowBytes, 0);
    if (std::fwrite(row.data(), 1, rowBytes, file.get()) != rowBytes) return false;
  }
  FILE* f = file.release();
  return std::fflush(f) == 0 && !std::ferror(f) && std::fclose(f) == 0;
}

namespace {
struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void JpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void JpegSilent(j_common_ptr) {}  // warnings and traces
}  // namespace

bool WriteJpeg(const std::string& path, const Image& image, double xDpi, double yDpi, double quality) {
  std::vector<uint8_t> row;
  row.reserve(RowRoom(image));  // the one allocation, before anything that must be freed
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  err.mgr.output_message = JpegSilent;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file.get());
  const PixelLayout& l = image.layout;
  cinfo.image_width = static_cast<JDIMENSION>(l.width);
  cinfo.image_height = static_cast<JDIMENSION>(l.height);
  cinfo.input_components = l.components;
  cinfo.in_color_space = l.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  int q = static_cast<int>(quality * 100 + 0.5);
  jpeg_set_quality(&cinfo, q < 1 ? 1 : (q > 100 ? 100 : q), TRUE);
  cinfo.optimize_coding = TRUE;  // Huffman tables made for the image
  cinfo.write_JFIF_header = TRUE;
  cinfo.density_unit = 1;  // dots per inch
  cinfo.X_density = static_cast<UINT16>(xDpi + 0.5);
  cinfo.Y_density = static_cast<UINT16>(yDpi + 0.5);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    PackRow(image, cinfo.next_scanline, true, &row);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  FILE* f = file.release();
  return std::fflush(f) == 0 && !std::ferror(f) && std::fclose(f) == 0;
}

Image* ReadJpeg(const std::vector<uint8_t>& bytes, double* xDpi, double* yDpi) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  err.mgr.output_message = JpegSilent;
  Image* volatile image = nullptr;  // read after a longjmp
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (image) Release(image);
    return nullptr;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  image = new Image;
  Image* made = image;
  PixelLayout& l = made->layout;
  l.width = cinfo.output_width;
  l.height = cinfo.output_height;
  l.components = grey ? 1 : 3;
  l.bitsPerComponent = 8;
  l.bitsPerPixel = grey ? 8 : 24;
  l.bytesPerRow = l.width * l.components;
  made->pixels.resize(l.bytesPerRow * l.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {made->pixels.data() + size_t(cinfo.output_scanline) * l.bytesPerRow};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  const bool inches = cinfo.saw_JFIF_marker && cinfo.density_unit == 1 && cinfo.X_density && cinfo.Y_density;
  *xDpi = inches ? cinfo.X_density : 72;
  *yDpi = inches ? cinfo.Y_density : 72;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return made;
}

namespace {
// libtiff's errors and warnings for one file: handled (1), so that nothing is printed; the
// call that failed still answers its failure.
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* OpenTiff(const std::string& path, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options) {
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
  }
  TIFF* tif = TIFFOpenExt(path.c_str(), mode, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

// The compressions ImageIO writes for a page: none (1), LZW (5) and PackBits (32773), the
// values Apple's ImageApp sample gives a TIFF destination, and CCITT Group 4 (4) on a 1-bit
// page, as developers report it writing. 0 for any other value, or Group 4 on a deeper page:
// ImageIO invents no other compression, and the page is not written.
uint16_t CompressionFor(int asked, const PixelLayout& l) {
  switch (asked) {
    case COMPRESSION_CCITTFAX4:
      return FileBits(l) == 1 ? COMPRESSION_CCITTFAX4 : 0;
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_PACKBITS:
      return static_cast<uint16_t>(asked);
    default:
      return 0;
  }
}
}  // namespace

namespace {
bool WritePages(TIFF* tif, size_t count, TiffFeed& feed) {
  bool ok = true;
  std::vector<uint8_t> row;
  for (size_t i = 0; i < count && ok; ++i) {
    TiffPage page;
    if (!feed.Page(i, &page)) {
      ok = false;
      break;
    }
    const PixelLayout& l = page.image->layout;
    const uint16_t compression = CompressionFor(page.compression, l);
    if (compression == 0) {
      feed.Done(i);
      ok = false;
      break;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(l.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(l.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(FileBits(l)));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(l.components));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.components == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    // ImageIO's LZW differences 8-bit samples horizontally first (it has no property for it).
    if (compression == COMPRESSION_LZW && FileBits(l) == 8)
      TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.xDpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(page.yDpi));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (count > 1) {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(i), static_cast<uint16_t>(count));
    }
    TIFFSetField(
        tif, TIFFTAG_ROWSPERSTRIP,
        compression == COMPRESSION_CCITTFAX4 ? static_cast<uint32_t>(l.height) : TIFFDefaultStripSize(tif, 0));
    for (size_t y = 0; y < l.height && ok; ++y) {
      PackRow(*page.image, y, false, &row);
      ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    feed.Done(i);
    ok = ok && TIFFWriteDirectory(tif) == 1;
  }
  return ok;
}
}  // namespace

// An exception on the way (an allocation that failed) is a failure, the file closed.
bool WriteTiff(const std::string& path, size_t count, TiffFeed& feed) {
  TIFF* tif = OpenTiff(path, "w");
  if (!tif) return false;
  bool ok = false;
  try {
    ok = WritePages(tif, count, feed);
  } catch (...) {
    ok = false;
  }
  TIFFClose(tif);
  return ok;
}

size_t TiffPageCount(const std::string& path) {
  TIFF* tif = OpenTiff(path, "r");
  if (!tif) return 0;
  size_t n = 0;
  do {
    ++n;
  } while (TIFFReadDirectory(tif) == 1);
  TIFFClose(tif);
  return n;
}

namespace {
// Page `index` of an open TIFF as an image, or null; its resolution and unit, and its
// compression (may be null). May throw (an allocation that failed), leaving nothing.
Image* ReadPage(TIFF* tif, size_t index, float* xr, float* yr, uint16_t* unit, int* compression) {
  uint32_t w = 0, h = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
  if (TIFFSetDirectory(tif, static_cast<tdir_t>(index)) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) != 1)
    return nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, xr);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, yr);
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, unit);
  uint16_t scheme = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &scheme);
  if (compression) *compression = scheme;
  const bool grey = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
                    spp == 1 && (bps == 1 || bps == 8);
  const bool rgb = photometric == PHOTOMETRIC_RGB && spp == 3 && bps == 8;
  if (!(grey || rgb) || planar != PLANARCONFIG_CONTIG || w == 0 || h == 0) return nullptr;
  PixelLayout l;
  l.width = w;
  l.height = h;
  l.components = spp;
  l.bitsPerComponent = bps;
  l.bitsPerPixel = static_cast<size_t>(bps) * spp;
  l.bytesPerRow = static_cast<size_t>(TIFFScanlineSize(tif));
  std::vector<uint8_t> pixels(l.bytesPerRow * h);  // before the image exists
  for (uint32_t y = 0; y < h; ++y)
    if (TIFFReadScanline(tif, pixels.data() + y * l.bytesPerRow, y, 0) != 1) return nullptr;
  if (photometric == PHOTOMETRIC_MINISWHITE)
    for (uint8_t& b : pixels) b = static_cast<uint8_t>(~b);
  auto* image = new Image;
  image->layout = l;
  image->pixels.swap(pixels);
  return image;
}
}  // namespace

Image* ReadTiffPage(const std::string& path, size_t index, double* xDpi, double* yDpi, int* compression) {
  TIFF* tif = OpenTiff(path, "r");
  if (!tif) return nullptr;
  Image* image = nullptr;
  float xr = 72, yr = 72;
  uint16_t unit = RESUNIT_INCH;
  try {
    image = ReadPage(tif, index, &xr, &yr, &unit, compression);
  } catch (...) {
    image = nullptr;  // an allocation that failed: no image
  }
  TIFFClose(tif);
  const double toInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
  *xDpi = xr * toInch;
  *yDpi = yr * toInch;
  return image;
}

}  // namespace imageio
