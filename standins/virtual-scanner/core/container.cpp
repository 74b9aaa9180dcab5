#include "standins/virtual-scanner/core/container.h"

#include <cmath>
#include <cstring>

namespace vs {
namespace {

const tw::ContainerOffsets& kOff = tw::kContainers;
constexpr bool kPascal = tw::native::kPascalStrings;

void PutLE(uint8_t* p, uint32_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t GetLE(const uint8_t* p, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint32_t(p[i]) << (8 * i);
  return v;
}

void PutItem(uint8_t* p, TW_UINT16 type, const Item& item) {
  size_t n = ItemSize(type);
  if (type == TWTY_FRAME) {
    std::memcpy(p, &item.frame, sizeof(TW_FRAME));
  } else if (IsStringType(type)) {
    tw::PutString(reinterpret_cast<char*>(p), n, item.str.c_str(), kPascal);
  } else {
    PutLE(p, item.num, n);
  }
}

}  // namespace

size_t ItemSize(TW_UINT16 t) {
  switch (t) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    case TWTY_FRAME:
      return 16;
    case TWTY_STR32:
      return 34;
    case TWTY_STR64:
      return 66;
    case TWTY_STR128:
      return 130;
    case TWTY_STR255:
      return 256;
    default:
      return 0;
  }
}

bool IsStringType(TW_UINT16 t) { return t >= TWTY_STR32 && t <= TWTY_STR255; }

Bytes OneValue(TW_UINT16 type, const Item& item) {
  size_t n = ItemSize(type);
  Bytes b(kOff.oneValueItem + (n < 4 ? 4 : n), 0);
  PutLE(b.data(), type, 2);
  PutItem(b.data() + kOff.oneValueItem, type, item);
  return b;
}

Bytes Enumeration(TW_UINT16 type, const std::vector<Item>& items, uint32_t current, uint32_t deflt) {
  size_t n = ItemSize(type);
  Bytes b(kOff.enumItemList + items.size() * n, 0);
  PutLE(b.data(), type, 2);
  PutLE(b.data() + kOff.enumNumItems, uint32_t(items.size()), 4);
  PutLE(b.data() + kOff.enumCurrentIndex, current, 4);
  PutLE(b.data() + kOff.enumDefaultIndex, deflt, 4);
  for (size_t i = 0; i < items.size(); ++i) PutItem(b.data() + kOff.enumItemList + i * n, type, items[i]);
  return b;
}

Bytes Array(TW_UINT16 type, const std::vector<Item>& items) {
  size_t n = ItemSize(type);
  Bytes b(kOff.arrayItemList + items.size() * n, 0);
  PutLE(b.data(), type, 2);
  PutLE(b.data() + kOff.arrayNumItems, uint32_t(items.size()), 4);
  for (size_t i = 0; i < items.size(); ++i) PutItem(b.data() + kOff.arrayItemList + i * n, type, items[i]);
  return b;
}

Bytes Range(TW_UINT16 type, uint32_t min, uint32_t max, uint32_t step, uint32_t deflt, uint32_t current) {
  Bytes b(kOff.rangeSize, 0);
  PutLE(b.data(), type, 2);
  PutLE(b.data() + kOff.rangeMin, min, 4);
  PutLE(b.data() + kOff.rangeMax, max, 4);
  PutLE(b.data() + kOff.rangeStep, step, 4);
  PutLE(b.data() + kOff.rangeDefault, deflt, 4);
  PutLE(b.data() + kOff.rangeCurrent, current, 4);
  return b;
}

bool ReadOneValue(const uint8_t* p, size_t size, TW_UINT16* itemType, Item* out) {
  if (size < 2) return false;
  TW_UINT16 type = TW_UINT16(GetLE(p, 2));
  *itemType = type;
  size_t n = ItemSize(type);
  if (n == 0 || size < kOff.oneValueItem + n) return false;
  const uint8_t* item = p + kOff.oneValueItem;
  if (type == TWTY_FRAME) {
    std::memcpy(&out->frame, item, sizeof(TW_FRAME));
  } else if (IsStringType(type)) {
    char buf[257];
    tw::GetString(reinterpret_cast<const char*>(item), n, buf, kPascal);
    out->str = buf;
  } else {
    out->num = GetLE(item, n);
  }
  return true;
}

bool ReadIntegerArray(const uint8_t* p, size_t size, TW_UINT16* itemType, std::vector<uint32_t>* out) {
  if (size < kOff.arrayItemList) return false;
  TW_UINT16 type = TW_UINT16(GetLE(p, 2));
  *itemType = type;
  if (type > TWTY_UINT32 && type != TWTY_BOOL) return false;
  size_t n = ItemSize(type);
  uint32_t count = GetLE(p + kOff.arrayNumItems, 4);
  if (count > (size - kOff.arrayItemList) / n) return false;
  out->clear();
  for (uint32_t i = 0; i < count; ++i) out->push_back(GetLE(p + kOff.arrayItemList + i * n, n));
  return true;
}

uint32_t ToFix32(double v) {
  TW_FIX32 f = Fix32Struct(v);
  return uint32_t(uint16_t(f.Whole)) | (uint32_t(f.Frac) << 16);
}

TW_FIX32 Fix32Struct(double v) {
  long long x = std::llround(v * 65536.0);
  TW_FIX32 f;
  f.Whole = TW_INT16(x >> 16);
  f.Frac = TW_UINT16(x & 0xFFFF);
  return f;
}

double FromFix32(uint32_t raw) { return double(int16_t(raw & 0xFFFF)) + double(raw >> 16) / 65536.0; }
double FromFix32(TW_FIX32 f) { return double(f.Whole) + double(f.Frac) / 65536.0; }
int64_t Fix32Key(uint32_t raw) { return int64_t(int16_t(raw & 0xFFFF)) * 65536 + int64_t(raw >> 16); }

std::string ToHex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

bool FromHex(const std::string& hex, Bytes* out) {
  auto val = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  out->clear();
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = val(hex[i]), lo = val(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(uint8_t(hi * 16 + lo));
  }
  return true;
}

}  // namespace vs
