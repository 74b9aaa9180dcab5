// The host's parameter texts: any bytes as a command-line call and as a number text, and
// the extension reading the parameters of whatever call parses. Input: the call text.
// A call that parses runs in the host; the extension reads every parameter as text (both
// kinds, at their limits), as a whole number and as a field name, and then walks them as
// capability name/value pairs: a name containing "Set" sets, "Range" lists, others get,
// against a source that answers every capability with a one-value UINT16.
// Checked: no memory fault; a parsed call has a Group.Name function; numbers read from text
// are never "not a number" and print without exponent as text that reads back as the same
// number to 15 digits; no block left behind.
#include <cmath>
#include <cstring>

#include "caps/cap_commands.h"
#include "caps/conversions.h"
#include "fuzz/support/fuzz_support.h"
#include "host/host_kit.h"

using namespace kvfuzz;

namespace {

void ReadEveryParameter(TwainGlobals* g) {
  int16_t count = GetFldInt(kFieldParamCount, g->hostParams);
  for (int16_t i = 0; i < count; ++i) {
    int16_t field = static_cast<int16_t>(kFieldFirstParam + i);
    char text[kFieldTextMax + 1];
    GetFldVal(field, kValueCText, static_cast<int16_t>(kFieldTextMax), text, g->hostParams);
    KV_FUZZ_CHECK(memchr(text, 0, sizeof text) != nullptr);
    unsigned char pascal[kFieldTextMax + 2];
    GetFldVal(field, kValuePascalText, static_cast<int16_t>(kFieldTextMax), pascal, g->hostParams);
    GetFldLong(field, g->hostParams);
    GetFldRef(text, g->hostParams);
    IsThisFieldType(field, kFieldTypePicture, g->hostParams);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  HostFloat number = velmar::ParseNumber(text);
  KV_FUZZ_CHECK(!std::isnan(number));
  std::string printed = velmar::FormatNumber(number);
  KV_FUZZ_CHECK(!printed.empty());
  if (std::isfinite(number)) {
    KV_FUZZ_CHECK(printed.find_first_of("eE") == std::string::npos);
    HostFloat back = velmar::ParseNumber(printed);
    KV_FUZZ_CHECK(std::fabs(back - number) <= std::fabs(number) * 1e-14L);
  }

  velmar::ParsedCall call;
  std::string why;
  if (!velmar::ParseCall(text, &call, &why)) {
    KV_FUZZ_CHECK(!why.empty());
    return 0;
  }
  size_t dot = call.function.find('.');
  KV_FUZZ_CHECK(dot != std::string::npos && dot > 0 && dot + 1 < call.function.size());
  KV_FUZZ_CHECK(call.arguments.size() <= size);

  Dsm& dsm = TheDsm();
  dsm = Dsm();
  dsm.conType = TWON_ONEVALUE;
  dsm.bytes = {TWTY_UINT16, 0, 0, 0, 100, 0};
  long before = Session::LiveBlocks();
  Session::Get().Run(call.arguments, [&](TwainGlobals* g) {
    ReadEveryParameter(g);
    if (call.function.find("Set") != std::string::npos)
      DoSetSourceCap(g);
    else
      DoGetSourceCap(g, call.function.find("Range") != std::string::npos);
  });
  KV_FUZZ_CHECK(Session::LiveBlocks() == before);
  return 0;
}
