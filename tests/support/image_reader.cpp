#include "tests/support/image_reader.h"

#include <cstdio>
#include <cstdlib>

#include "traits/build_traits.h"

namespace kvtest {
namespace {

std::string Run(const std::string& command) {
  std::string out;
  if constexpr (kWindowsBuild) return out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

}  // namespace

bool ReaderAvailable() { return !kWindowsBuild && std::system("convert -version >/dev/null 2>&1") == 0; }

ImageFacts Identify(const std::string& path) {
  ImageFacts f;
  std::string out = Run("convert '" + path + "' -format '%w %h' info: 2>/dev/null");
  if (std::sscanf(out.c_str(), "%d %d", &f.width, &f.height) == 2) f.read = true;
  return f;
}

std::string PixelAt(const std::string& path, int x, int y) {
  std::string out = Run("convert '" + path + "' -depth 8 -format '%[fx:int(255*p{" + std::to_string(x) + "," +
                        std::to_string(y) + "}.r+.5)],%[fx:int(255*p{" + std::to_string(x) + "," +
                        std::to_string(y) + "}.g+.5)],%[fx:int(255*p{" + std::to_string(x) + "," +
                        std::to_string(y) + "}.b+.5)]' info: 2>/dev/null");
  return out;
}

int PageCountOf(const std::string& path) {
  const bool pdf = path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0;
  const std::string out = Run(pdf ? "qpdf --show-npages '" + path + "' 2>/dev/null"
                                  : "tiffinfo '" + path + "' 2>/dev/null | grep -c '^TIFF Directory'");
  int pages = -1;
  if (std::sscanf(out.c_str(), "%d", &pages) != 1) return -1;
  return pages;
}

}  // namespace kvtest
