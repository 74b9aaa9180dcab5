// The check of the Windows build's DIBs over the whole corpus. Plain code on bytes: it runs in
// both builds, so the Mac's AddressSanitizer tree sees any read past a block.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/windows/dib_check.h"
#include "tests/platform/windows/dib-corpus/dib_kinds.h"

namespace {

// The bytes in a heap block of exactly their size, as a source's global block is.
dib::Fault CheckExactBlock(const std::vector<uint8_t>& bytes, dib::Layout* l) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
  return dib::Check(block.get(), bytes.size(), l);
}

TEST(DibCheckTest, EveryKindOfTheCorpusGetsItsVerdict) {
  for (bool large : {false, true}) {
    for (const dibkinds::Case& c : dibkinds::Corpus(large)) {
      dib::Layout l;
      dib::Fault f = CheckExactBlock(c.bytes, &l);
      EXPECT_EQ(c.valid ? "none" : c.fault, dib::FaultName(f)) << c.name << (large ? " (large)" : "");
      if (c.valid) {
        EXPECT_EQ(uint32_t(c.width), l.width) << c.name;
        EXPECT_EQ(uint32_t(c.height), l.height) << c.name;
        EXPECT_LE(uint64_t(l.rowsOffset) + l.rowsSize, c.bytes.size()) << c.name;
      }
    }
  }
}

// The rows of a 40-byte BI_BITFIELDS DIB follow its three masks; the 12-byte header's table
// holds three-byte entries.
TEST(DibCheckTest, WhereTablesAndRowsLie) {
  for (const dibkinds::Case& c : dibkinds::Corpus(false)) {
    dib::Layout l;
    CheckExactBlock(c.bytes, &l);
    if (c.name == "bits16-bitfields-565") {
      EXPECT_EQ(52u, l.rowsOffset);
      EXPECT_EQ(0xF800u, l.masks[0]);
    } else if (c.name == "v4-bits16-bitfields-565") {
      EXPECT_EQ(108u, l.rowsOffset) << "masks inside the header";
    } else if (c.name == "core-bits8") {
      EXPECT_EQ(12u + 3 * 256, l.rowsOffset);
    } else if (c.name == "bits24-table-1000") {
      EXPECT_EQ(40u + 4000, l.rowsOffset);
    }
  }
}

// Every valid DIB of the corpus fills its block exactly: cut anywhere, it is refused, and the
// check reads nothing past the shorter block (ASan).
TEST(DibCheckTest, ACutAnywhereIsRefused) {
  for (const dibkinds::Case& c : dibkinds::Corpus(false)) {
    if (!c.valid) continue;
    for (size_t n = 0; n < c.bytes.size(); ++n) {
      dib::Layout l;
      std::vector<uint8_t> prefix(c.bytes.begin(), c.bytes.begin() + n);
      ASSERT_NE(dib::Fault::kNone, CheckExactBlock(prefix, &l)) << c.name << " cut to " << n;
    }
  }
}

}  // namespace
