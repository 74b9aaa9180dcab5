// The Windows build's DIB check and the geometry it computes. Input: the block, exactly (the
// fuzzer's buffer has exactly the input's size, so AddressSanitizer sees any read past it).
// Checked: no memory fault; for an accepted DIB, everything the conversion reads (the colour
// table, the masks, the rows or the compressed data) lies inside the block, in order, and the
// numbers agree with each other: at least one pixel, rows of whole 32-bit words holding the
// width, no more colours than the bits address, masks that are single runs of bits.
#include "platform/windows/dib_check.h"
#include "fuzz/support/fuzz_support.h"

namespace {

// Touches every byte of [at, at + n): a range past the block faults under ASan.
unsigned Touch(const uint8_t* block, uint64_t at, uint64_t n) {
  unsigned sum = 0;
  for (uint64_t i = 0; i < n; ++i) sum += block[at + i];
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dib::Layout l;
  dib::Fault f = dib::Check(data, size, &l);
  if (f != dib::Fault::kNone) return 0;
  KV_FUZZ_CHECK(l.width >= 1 && l.height >= 1);
  KV_FUZZ_CHECK(l.headerSize <= l.tableOffset);
  KV_FUZZ_CHECK(uint64_t(l.tableOffset) + uint64_t(l.colorCount) * l.tableEntrySize == l.rowsOffset);
  KV_FUZZ_CHECK(uint64_t(l.rowsOffset) + l.rowsSize <= size);
  KV_FUZZ_CHECK(l.bitCount > 8 || l.colorCount <= (1u << l.bitCount));
  const bool compressed = l.compression == dib::kRle8 || l.compression == dib::kRle4;
  if (compressed) {
    KV_FUZZ_CHECK(l.rowsSize > 0 && !l.topDown);
  } else {
    KV_FUZZ_CHECK(l.stride % 4 == 0 && uint64_t(l.stride) * 8 >= uint64_t(l.width) * l.bitCount);
    KV_FUZZ_CHECK(uint64_t(l.stride) * l.height == l.rowsSize);
  }
  if (l.compression == dib::kBitfields) {
    KV_FUZZ_CHECK((l.masks[0] & l.masks[1]) == 0 && (l.masks[1] & l.masks[2]) == 0 &&
                  (l.masks[0] & l.masks[2]) == 0);
    for (uint32_t m : l.masks) {
      KV_FUZZ_CHECK(m != 0);
      uint32_t run = m + (m & (~m + 1));
      KV_FUZZ_CHECK((run & (run - 1)) == 0);
    }
  }
  volatile unsigned sink = Touch(data, l.tableOffset, uint64_t(l.colorCount) * l.tableEntrySize) +
                           Touch(data, l.rowsOffset, l.rowsSize);
  (void)sink;
  return 0;
}
