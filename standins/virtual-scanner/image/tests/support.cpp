#include "standins/virtual-scanner/image/tests/support.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vscan_test {

std::string ToString(const Rgb& c) {
  std::ostringstream s;
  s << "(" << c.r << "," << c.g << "," << c.b << ")";
  return s.str();
}

namespace {

int Clamp255(double v) { return v < 0 ? 0 : v > 255 ? 255 : int(v); }

// Whether (x, y) lies in a black square of the mark: bit b of `mark` is the square
// 0.25 <= x < 0.5, 0.25 + 0.3125 b <= y < 0.5 + 0.3125 b.
bool InMark(double x, double y, int mark) {
  if (x < 0.25 || x >= 0.5) return false;
  for (int b = 0; b < 15; ++b)
    if ((mark >> b & 1) && y >= 0.25 + 0.3125 * b && y < 0.5 + 0.3125 * b) return true;
  return false;
}

Rgb PageColour(double x, double y, int mark) {
  if (x < 0 || x >= 8.5 || y < 0 || y >= 11) return {255, 255, 255};
  if (InMark(x, y, mark)) return {0, 0, 0};
  if (y < 5.5) {
    static const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    return bars[int(x / (8.5 / 8))];
  }
  int g = int(std::floor(256 * x / 8.5));
  if (g > 255) g = 255;
  return {g, g, g};
}

int Adjust(int s, const vscan::ScanSettings& st) {
  double v = s + 255.0 * st.brightness / 1000.0;
  v = 128.0 + (v - 128.0) * (1000.0 + st.contrast) / 1000.0;
  return Clamp255(std::floor(v + 0.5));
}

}  // namespace

Rgb ExpectedPixel(const vscan::ScanSettings& st, int i, int j) {
  // The same 1e-9 inch nudge as the renderer: a centre exactly on an edge belongs to the
  // right or lower side (RenderPage.PixelCentresOnEdges checks those cases by value).
  const double x = st.left + (i + 0.5) / st.xres + 1e-9;
  const double y = st.top + (j + 0.5) / st.yres + 1e-9;
  Rgb c = PageColour(x, y, st.mark);
  c = {Adjust(c.r, st), Adjust(c.g, st), Adjust(c.b, st)};
  if (st.pixelType == 2) return c;
  const double exact = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
  int grey = int(std::floor(exact + 0.5 + 1e-9));
  if (st.pixelType == 0) grey = grey >= st.threshold ? 255 : 0;
  if (st.pixelFlavor == 1) grey = 255 - grey;
  return {grey, grey, grey};
}

Rgb RasterPixel(const vscan::Raster& r, int i, int j) {
  const uint8_t* row = r.rows.data() + size_t(j) * size_t(r.stride());
  if (r.bitsPerPixel == 24) return {row[3 * i], row[3 * i + 1], row[3 * i + 2]};
  if (r.bitsPerPixel == 8) return {row[i], row[i], row[i]};
  const int v = (row[i >> 3] >> (7 - (i & 7))) & 1 ? 255 : 0;
  return {v, v, v};
}

uint32_t LE16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | (b.at(at + 1) << 8); }
uint32_t LE32(const std::vector<uint8_t>& b, size_t at) { return LE16(b, at) | (LE16(b, at + 2) << 16); }
uint32_t BE16(const std::vector<uint8_t>& b, size_t at) { return (b.at(at) << 8) | b.at(at + 1); }
uint32_t BE32(const std::vector<uint8_t>& b, size_t at) { return (BE16(b, at) << 16) | BE16(b, at + 2); }

std::string ScratchDir() {
  const char* env = std::getenv("KV_IMAGE_SCRATCH");
  std::string dir = env && *env ? env : "/tmp/kv-image/tests";
  if (kExternalReaders) {
    const std::string make = "mkdir -p '" + dir + "'";
    if (std::system(make.c_str()) != 0) std::fprintf(stderr, "cannot create %s\n", dir.c_str());
  }
  return dir;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Run RunCommand(const std::string& command) {
  static int counter = 0;
  const std::string base = ScratchDir() + "/run" + std::to_string(++counter);
  const std::string full = "(" + command + ") >'" + base + ".out' 2>'" + base + ".err'";
  Run run;
  run.status = std::system(full.c_str());
  const std::vector<uint8_t> out = ReadFile(base + ".out"), err = ReadFile(base + ".err");
  run.out.assign(out.begin(), out.end());
  run.err.assign(err.begin(), err.end());
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return run;
}

Rgb Decoded::At(int i, int j) const {
  const size_t k = (size_t(j) * size_t(width) + size_t(i)) * 3;
  return {rgb[k], rgb[k + 1], rgb[k + 2]};
}

Decoded DecodeWithImageMagick(const std::string& path) {
  Decoded d;
  const std::string ppm = path + ".decoded.ppm";
  std::remove(ppm.c_str());
  const Run run = RunCommand("/usr/bin/convert '" + path + "' -depth 8 ppm:'" + ppm + "'");
  if (run.status != 0) {
    d.error = "convert failed: " + run.err;
    return d;
  }
  const std::vector<uint8_t> b = ReadFile(ppm);
  std::remove(ppm.c_str());
  // P6 <w> <h> <max> then one whitespace byte and the samples.
  size_t at = 0;
  auto token = [&]() {
    while (at < b.size() && std::isspace(b[at])) ++at;
    std::string t;
    while (at < b.size() && !std::isspace(b[at])) t += char(b[at++]);
    return t;
  };
  if (token() != "P6") {
    d.error = "not a binary PPM";
    return d;
  }
  d.width = std::atoi(token().c_str());
  d.height = std::atoi(token().c_str());
  const int max = std::atoi(token().c_str());
  ++at;
  const size_t need = size_t(d.width) * size_t(d.height) * 3;
  if (max != 255 || b.size() < at + need) {
    d.error = "unexpected PPM layout";
    return d;
  }
  d.rgb.assign(b.begin() + long(at), b.begin() + long(at + need));
  d.error = run.err;  // warnings, if any
  d.ok = true;
  return d;
}

int CompareWithRaster(const Decoded& d, const vscan::Raster& r, std::string* first) {
  if (d.width != r.width || d.height != r.height) return -1;
  int bad = 0;
  std::ostringstream s;
  for (int j = 0; j < r.height; ++j)
    for (int i = 0; i < r.width; ++i) {
      const Rgb a = d.At(i, j), e = RasterPixel(r, i, j);
      if (a == e) continue;
      if (++bad <= 5) s << " (" << i << "," << j << ") read " << ToString(a) << " wrote " << ToString(e);
    }
  if (first) *first = s.str();
  return bad;
}

}  // namespace vscan_test
