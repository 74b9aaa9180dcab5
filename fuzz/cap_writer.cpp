// The container writer: SetCap (and SetCapInt) with any host value into any container.
// Input:
//   byte 0: bits 0-2 container type (ONEVALUE, ENUMERATION, ARRAY, RANGE, else byte 1 as
//           the raw type), bits 3-4 the host value (0 a number from 8 bytes as a double,
//           1 a text, 2 nothing, 3 a whole number from 4 bytes), bit 5 MSG_SET fails,
//           bit 6 SetCapInt with the 4 value bytes instead of SetCap
//   byte 1: raw container type
//   byte 2: length of the value bytes, then the value bytes
//   rest:   the container's bytes, any size; its first two bytes are the item type.
// Checked: no memory fault, no block left behind, the result when nothing was sent (9 from
// SetCap for a container of a type TWAIN does not define, else 0; SetCapInt sets only
// one-values and enumerations and answers 0 for the rest), and what was sent: a one-value of
// the container's own size and item type, never from an array or an unknown type; from a
// range, a CurrentValue inside [Min, Max] (as the numbers that the item type makes of them)
// that also stands at Item.
#include <algorithm>
#include <cstring>

#include "caps/write_caps.h"
#include "fuzz/support/fuzz_support.h"

using namespace kvfuzz;

namespace {

// The four container types TWAIN defines.
bool KnownContainer(TW_UINT16 type) {
  return type == TWON_ARRAY || type == TWON_ENUMERATION || type == TWON_ONEVALUE || type == TWON_RANGE;
}

uint32_t At32(const std::vector<uint8_t>& b, size_t offset) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + offset, 4);
  return v;
}
int32_t Fix32Key(uint32_t bits) {
  return static_cast<int32_t>(static_cast<int16_t>(bits & 0xFFFF)) * 65536 + (bits >> 16);
}
// The whole number that an integer item's bits stand for, by its type's width and sign.
int64_t IntegerNumber(TW_UINT16 type, uint32_t bits) {
  switch (type) {
    case TWTY_INT8:
      return static_cast<int8_t>(bits);
    case TWTY_INT16:
      return static_cast<int16_t>(bits);
    case TWTY_INT32:
      return static_cast<int32_t>(bits);
    case TWTY_UINT8:
      return static_cast<uint8_t>(bits);
    case TWTY_UINT16:
    case TWTY_BOOL:
      return static_cast<uint16_t>(bits);
    default:
      return bits;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint8_t flags = in.Byte();
  uint8_t raw = in.Byte();
  std::vector<uint8_t> valueBytes = in.Bytes(in.Byte());
  static const TW_UINT16 kTypes[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE};
  Dsm& dsm = TheDsm();
  dsm = Dsm();
  dsm.conType = (flags & 7) < 4 ? kTypes[flags & 7] : raw;
  dsm.bytes = in.Rest();
  if (flags & 0x20) {
    dsm.setRc = TWRC_FAILURE;
    dsm.cc = TWCC_BADVALUE;
  }
  valueBytes.resize(std::max<size_t>(valueBytes.size(), 8));

  std::vector<velmar::Argument> args;
  switch ((flags >> 3) & 3) {
    case 0: {
      double d;
      std::memcpy(&d, valueBytes.data(), sizeof d);
      args.push_back(NumberArgument(d));
      break;
    }
    case 1:
      args.push_back(TextArgument(std::string(valueBytes.begin(), valueBytes.end())));
      break;
    case 2:
      args.push_back(VariableArgument("unset"));
      break;
    default:
      args.push_back(NumberArgument(static_cast<int32_t>(At32(valueBytes, 0))));
  }
  // Whether the value argument is a number for the host: a number is; the unset variable (an
  // empty text) is not; a text is only when it is wholly one, which the oracle leaves open.
  const int kind = (flags >> 3) & 3;
  const bool isNumber = kind == 0 || kind == 3, isText = kind == 1;
  const bool asInt = (flags & 0x40) != 0;
  const int32_t intValue = static_cast<int32_t>(At32(valueBytes, 0));

  long before = Session::LiveBlocks();
  int16_t result = -1;
  Session::Get().Run(args, [&](TwainGlobals* g) {
    result = asInt ? SetCapInt(g, ICAP_XRESOLUTION, intValue) : SetCap(g, ICAP_XRESOLUTION, kFieldFirstParam);
  });
  KV_FUZZ_CHECK(Session::LiveBlocks() == before);
  KV_FUZZ_CHECK(dsm.gets == 1);
  if (!dsm.sent) {
    // Nothing went out: an unknown container answers 9; a number item that is given no number
    // (from the host's parameter) answers 10; anything else is no failure.
    TW_UINT16 itemType = 0;
    if (dsm.bytes.size() >= 2) std::memcpy(&itemType, dsm.bytes.data(), 2);
    const bool holdsItem = dsm.bytes.size() >= 2 && dsm.conType != TWON_ARRAY && KnownContainer(dsm.conType);
    const bool numberItem =
        holdsItem && (itemType <= TWTY_UINT32 || itemType == TWTY_BOOL || itemType == TWTY_FIX32);
    if (asInt)
      KV_FUZZ_CHECK(result == 0);
    else if (!KnownContainer(dsm.conType))
      KV_FUZZ_CHECK(result == 9);
    else if (numberItem && !isNumber && !isText)
      KV_FUZZ_CHECK(result == 10);
    else if (numberItem && isText)
      KV_FUZZ_CHECK(result == 0 || result == 10);
    else
      KV_FUZZ_CHECK(result == 0);
    return 0;
  }
  KV_FUZZ_CHECK(result == (dsm.setRc == TWRC_SUCCESS ? 0 : 3000 + TWCC_BADVALUE));
  KV_FUZZ_CHECK(dsm.sentConType == TWON_ONEVALUE);
  KV_FUZZ_CHECK(dsm.sentBytes.size() == dsm.bytes.size());
  KV_FUZZ_CHECK(dsm.bytes.size() >= 2 && std::memcmp(dsm.sentBytes.data(), dsm.bytes.data(), 2) == 0);
  const auto& off = tw::kContainers;
  TW_UINT16 itemType;
  std::memcpy(&itemType, dsm.bytes.data(), 2);
  if (asInt) {
    KV_FUZZ_CHECK(dsm.conType == TWON_ONEVALUE || dsm.conType == TWON_ENUMERATION);
    KV_FUZZ_CHECK(At32(dsm.sentBytes, off.oneValueItem) == static_cast<uint32_t>(intValue));
  } else if (dsm.conType == TWON_RANGE) {
    KV_FUZZ_CHECK(dsm.bytes.size() >= off.rangeCurrent + 4);
    uint32_t lo = At32(dsm.bytes, off.rangeMin), hi = At32(dsm.bytes, off.rangeMax);
    uint32_t current = At32(dsm.sentBytes, off.rangeCurrent);
    KV_FUZZ_CHECK(At32(dsm.sentBytes, off.oneValueItem) == current);
    if (itemType == TWTY_FIX32) {
      if (Fix32Key(lo) <= Fix32Key(hi))
        KV_FUZZ_CHECK(Fix32Key(lo) <= Fix32Key(current) && Fix32Key(current) <= Fix32Key(hi));
    } else if (IntegerNumber(itemType, lo) <= IntegerNumber(itemType, hi)) {
      int64_t n = IntegerNumber(itemType, current);
      KV_FUZZ_CHECK(IntegerNumber(itemType, lo) <= n && n <= IntegerNumber(itemType, hi));
    }
  } else {
    KV_FUZZ_CHECK(dsm.conType == TWON_ONEVALUE || dsm.conType == TWON_ENUMERATION);
  }
  return 0;
}
