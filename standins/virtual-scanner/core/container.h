// Capability containers as bytes in the running build's layout (tw::kContainers, with
// Pascal strings on the Mac and NUL-terminated strings on Windows). The source builds the
// bytes here and copies them into memory of the platform's own kind.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "twain/twain.h"

namespace vs {

using Bytes = std::vector<uint8_t>;

// One item of any TWAIN item type: numbers in `num` (the item's own width, zero-extended;
// a FIX32 as Whole in the low and Frac in the high half), frames in `frame`, strings in `str`.
struct Item {
  uint32_t num = 0;
  TW_FRAME frame{};
  std::string str;
};

size_t ItemSize(TW_UINT16 itemType);  // 0 for a type this source does not know
bool IsStringType(TW_UINT16 itemType);

Bytes OneValue(TW_UINT16 type, const Item& item);
Bytes Enumeration(TW_UINT16 type, const std::vector<Item>& items, uint32_t current, uint32_t deflt);
Bytes Array(TW_UINT16 type, const std::vector<Item>& items);
Bytes Range(TW_UINT16 type, uint32_t min, uint32_t max, uint32_t step, uint32_t deflt, uint32_t current);

// Reads the item of a TW_ONEVALUE (frames and strings inline from Item). False when the
// container is too small for its item or the item type is unknown.
bool ReadOneValue(const uint8_t* p, size_t size, TW_UINT16* itemType, Item* out);
// Reads the items of a TW_ARRAY of an integer type. False when the container is too small for
// the items it counts or its item type is not an integer.
bool ReadIntegerArray(const uint8_t* p, size_t size, TW_UINT16* itemType, std::vector<uint32_t>* out);

// FIX32 helpers on the packed form used in Item::num.
uint32_t ToFix32(double v);
double FromFix32(uint32_t raw);
int64_t Fix32Key(uint32_t raw);  // orders FIX32 values as numbers
TW_FIX32 Fix32Struct(double v);
double FromFix32(TW_FIX32 f);

std::string ToHex(const uint8_t* p, size_t n);
bool FromHex(const std::string& hex, Bytes* out);

}  // namespace vs
