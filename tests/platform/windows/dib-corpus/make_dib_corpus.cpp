// Writes the DIB corpus: NAME.dib (the block's bytes), NAME.ppm (the picture a valid one must
// show) and index.txt, one line per DIB: "NAME valid" or "NAME lie FAULT".
//   make_dib_corpus OUTDIR [small|large|large64]   (large: the blocks a guard can follow in a
//   32-bit process, the default; large64: in a 64-bit one)
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/platform/windows/dib-corpus/dib_kinds.h"

namespace {
bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}
}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 3 ? argv[2] : "large";
  if (argc < 2 || argc > 3 || (kind != "small" && kind != "large" && kind != "large64")) {
    std::fprintf(stderr, "usage: make_dib_corpus OUTDIR [small|large|large64]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool large = kind != "small";
  const size_t pointerBytes = kind == "large64" ? 8 : 4;
  std::ofstream index(dir + "/index.txt");
  for (const dibkinds::Case& c : dibkinds::Corpus(large, pointerBytes)) {
    if (!Write(dir + "/" + c.name + ".dib", c.bytes) ||
        (c.valid && !Write(dir + "/" + c.name + ".ppm", dibkinds::Ppm(c)))) {
      std::fprintf(stderr, "make_dib_corpus: cannot write into %s\n", dir.c_str());
      return 1;
    }
    index << c.name << (c.valid ? " valid" : " lie " + c.fault) << "\n";
  }
  return index ? 0 : 1;
}
