// The virtual scanner's page and the file formats it hands out.
//
// The page is 8.5 x 11 inches. Its top half holds eight vertical bars of equal width, left to
// right white, yellow, cyan, green, magenta, red, blue, black; its bottom half is a grey ramp,
// grey = floor(256 x / 8.5) (at most 255) at x inches from the left edge. Outside the page
// (a frame reaching past its edges) the scanner sees white, as under a white lid.
//
// Pages of one batch differ by a mark in the white bar: the number of pages fed before this
// one, in binary, as black squares 0.25 inch wide at x = 0.25 to 0.5 inch; bit b (0 to 14, the
// lowest first) is the square from y = 0.25 + 0.3125 b to 0.5 + 0.3125 b inches, drawn when the
// bit is set. The first page has no square: it is the page as a single scan gives it.
//
// Everything here is portable C++17 with no operating-system calls, so that both builds
// (mingw i686 and g++ -m32) compile the same code.
#ifndef KV_VSCANNER_IMAGE_PAGE_H
#define KV_VSCANNER_IMAGE_PAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vscan {

struct ScanSettings {
  int pixelType = 2;                                   // 0 BW, 1 GRAY, 2 RGB (any other value renders RGB)
  double xres = 100, yres = 100;                       // dots per inch
  double left = 0, top = 0, right = 8.5, bottom = 11;  // inches, the current frame
  double brightness = 0, contrast = 0;                 // -1000..1000
  double threshold = 128;                              // BW: white where the grey reaches this value
  int pixelFlavor = 0;                                 // 1 inverts the samples of GRAY and BW images
  int mark = 0;                                        // pages fed before this one: 0 to 32767
  int sheet = 0;      // 0 the chart; 1 a blank sheet; 2 a nearly blank sheet; 3 a patch sheet (below)
  int patch = 0;      // a patch sheet's code: 0 to 5, patch 1, 2, 3, 4, 6 and T
  bool back = false;  // the back of a sheet: the chart mirrored left to right (the mark is not)
};

constexpr int kPatchSheet = 3;

// A patch sheet (sheet 3): white paper (255) with four black bars running down the page from
// y = 1 to y = 10 inches, the first from x = 1 inch, 0.3 inch of white between them; a wide
// bar is 0.4 inch, a narrow one 0.15 inch. The code says which are wide, left to right:
// patch 1 WWNN, patch 2 WNWN, patch 3 WNNW, patch 4 NWWN, patch 6 NWNW, patch T NNWW. No
// specks, no shadow: the bars cover about 11 % of the page, so no blank-page rule drops it.

// A blank sheet (sheet 1) as a scanner sees one, in place of the chart: paper of RGB (244,
// 240, 230) (grey 240); specks of grey 60, single pixels of the image that never touch
// each other, over about 0.05 % of it (a pixel whose column and row are both even is a speck
// when a hash of the two is 0 modulo 500); and the shadow of the sheet's edge, grey 40, along
// the left border of the image, over its first columns i with 400 i < 3 width (within 0.75 %
// of it). A nearly blank sheet (sheet 2) is the same with one short line of a heading on it,
// black: 22 letters, each a bar 0.04 inch wide and 0.2 inch high with bars of 0.04 inch
// along its top and bottom over 0.1 inch, 0.14 inch apart, from x = 1 and y = 1.5 inches of
// the page (about 0.3 % of a whole page). Brightness, contrast, the pixel type, its
// threshold and PIXELFLAVOR apply as to the chart; the mark does not.

struct Raster {
  int width = 0, height = 0, bitsPerPixel = 24;  // 1, 8 or 24
  double xres = 100, yres = 100;                 // dots per inch, for the resolution fields
  // Top-down rows. 1-bit: MSB first, 1 = white (before PIXELFLAVOR); 8-bit: grey;
  // 24-bit: R, G, B byte order. Each row is padded with zero bytes to a multiple of 4 bytes.
  std::vector<uint8_t> rows;
  int stride() const;  // bytes per row, a multiple of 4
};

// Renders the current frame. width = round((right - left) * xres), height = round((bottom -
// top) * yres); pixel (i, j) shows the page point (left + (i + 0.5) / xres, top + (j + 0.5) /
// yres). BRIGHTNESS is applied first (+255 b / 1000), then CONTRAST around 128 (x (1000 + c) /
// 1000), rounded and clamped to 0..255 once, before the pixel type. A frame with no area, or a
// resolution that is not a positive finite number, gives an empty raster (0 x 0).
Raster RenderPage(const ScanSettings&);

// The page row by row, as a device streams it: holds one finished row per kind of row (a few
// rows' bytes), never the page. Row(j) is row j from the top in the layout of Raster::rows
// (stride() bytes, the pixels packed, zero bytes up to a multiple of 4). An empty page (no
// area or no valid resolution) has width() == height() == 0.
class PageRows {
 public:
  explicit PageRows(const ScanSettings&);
  int width() const { return width_; }
  int height() const { return height_; }
  int bitsPerPixel() const { return bitsPerPixel_; }
  size_t stride() const { return stride_; }
  // Bytes of a row without the padding to 4 bytes.
  size_t packedBytes() const { return (size_t(width_) * size_t(bitsPerPixel_) + 7) / 8; }
  // 0 <= j < height().
  const uint8_t* Row(int j) const;
  // What the renderer holds, in bytes.
  size_t heldBytes() const { return sizeof templates_ / sizeof templates_[0] * stride_; }

 private:
  ScanSettings s_;
  int width_ = 0, height_ = 0, bitsPerPixel_ = 24;
  size_t stride_ = 0;
  std::vector<uint8_t> templates_[4];  // one per region of the page
  // A sheet's rows are made one at a time, as Row asks for them.
  uint8_t adjust_[256] = {};
  mutable std::vector<uint8_t> sheetRow_;
  void PutPixel(std::vector<uint8_t>& row, int i, uint8_t r, uint8_t g, uint8_t b) const;
  const uint8_t* SheetRow(int j) const;
};

// Each encoder returns an empty vector for a raster it cannot represent: no area, a depth
// other than 1, 8 or 24, or fewer row bytes than height x stride. EncodePICT also refuses a
// raster wider or taller than 32767 pixels (QuickDraw coordinates are 16-bit).

// Packed DIB: BITMAPINFOHEADER (40 bytes), colour table (1-bit: black, white; 8-bit: 256
// greys; 24-bit: none), bottom-up rows (24-bit in B, G, R order). biClrUsed and biSizeImage
// are filled in; the resolution goes to biX/biYPelsPerMeter.
std::vector<uint8_t> EncodeDIB(const Raster&);
// Version 2 PICT picture data, without the 512-byte file header: picture size (low 16 bits of
// the length), frame (0, 0, height, width), 0x0011 0x02FF, HeaderOp 0x0C00, a rectangular clip
// region, one DirectBitsRect 0x009A with 32-bit direct pixels (packType 4, three components
// packed per row with PackBits; 1-bit and 8-bit rasters are expanded), 0x00FF.
std::vector<uint8_t> EncodePICT(const Raster&);
// A whole .bmp file: BITMAPFILEHEADER followed by the packed DIB.
std::vector<uint8_t> EncodeBMP(const Raster&);
// Baseline little-endian TIFF, uncompressed, strips of about 8 KB, resolution in dots per inch.
// 1-bit and 8-bit rasters are BlackIsZero, 24-bit is RGB.
std::vector<uint8_t> EncodeTIFF(const Raster&);
// PNG (grey 1-bit, grey 8-bit or RGB 8-bit), zlib stream of stored deflate blocks, pHYs chunk.
std::vector<uint8_t> EncodePNG(const Raster&);

// Adds a comment segment (COM) carrying `text` to a JFIF stream, after its SOI and any APPn
// segments that follow it (for a codec that writes none of its own). False, and the stream
// unchanged, when it does not start with SOI, a segment runs past its end, or the text is
// longer than a segment holds.
bool InsertJpegComment(std::vector<uint8_t>& jfif, const char* text);

}  // namespace vscan

#endif
