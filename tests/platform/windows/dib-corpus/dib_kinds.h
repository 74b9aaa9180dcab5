// The DIBs a source may hand over, made here byte by byte: every kind the Windows build must
// convert (with the pixels it must show) and headers that lie about their block. The suites
// convert them in-process; make_dib_corpus writes them as files for runs through the host.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace dibkinds {

struct Case {
  std::string name;
  std::vector<uint8_t> bytes;  // the whole block, exactly
  // A valid DIB: its picture, top-down, 3 bytes (R, G, B) per pixel.
  bool valid = false;
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  // A lying one: the check's verdict, as dib::FaultName spells it.
  std::string fault;
};

// large: every valid picture (and the lying ones made from them, but those cut shorter) is
// bigger than the size from which Wine's heap gives a block pages of its own, so that a guard
// can follow it: 520,161 bytes in a process whose addresses are `pointerBytes` 4 wide, a
// little over 1 MB where they are 8 wide (the heap's blocks align to twice an address).
std::vector<Case> Corpus(bool large, size_t pointerBytes = sizeof(void*));

// The reference picture as a binary PPM (P6).
std::vector<uint8_t> Ppm(const Case& c);

}  // namespace dibkinds
