// The frame and number text conversions. Input:
//   bytes 0-3:  a float for FloatToFIX32
//   bytes 4-19: a TW_FRAME for StringFrame
//   bytes 20-21: the room StringFrame gets (1..1200), byte 22: how much of it is already text
//   rest:       a text of any bytes and length for UnstringFrame
// Checked: no memory fault in any buffer (each has exactly its size); StringFrame keeps to
// its room and terminates; a number turned into FIX32 and back is within half a step (plus
// the float's own rounding); a FIX32 that a float holds exactly survives both ways; a frame
// written as text by StringFrame reads back the same through UnstringFrame.
#include <cmath>
#include <cstring>
#include <memory>

#include "caps/conversions.h"
#include "fuzz/support/fuzz_support.h"

using namespace kvfuzz;

namespace {

uint32_t Bits(TW_FIX32 f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}
bool SameFrame(const TW_FRAME& a, const TW_FRAME& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
// Every edge has a whole part that a float holds together with all 16 fraction bits.
bool ExactInFloat(const TW_FRAME& f) {
  for (TW_FIX32 e : {f.Left, f.Top, f.Right, f.Bottom})
    if (e.Whole < -128 || e.Whole > 127) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  uint32_t floatBits = in.U32();
  float value;
  std::memcpy(&value, &floatBits, 4);
  TW_FRAME frame;
  std::vector<uint8_t> frameBytes = in.Bytes(sizeof frame);
  frameBytes.resize(sizeof frame);
  std::memcpy(&frame, frameBytes.data(), sizeof frame);
  size_t room = 1 + in.U16() % 1200;
  size_t used = in.Byte() % (room + 1);
  std::vector<uint8_t> textBytes = in.Rest();

  // FloatToFIX32 and back.
  TW_FIX32 fix = FloatToFIX32(value);
  if (std::isfinite(value) && value > -32768.0f && value < 32767.99f) {
    float back = FIX32ToFloat(fix);
    KV_FUZZ_CHECK(std::fabs(double(back) - double(value)) <= 1.0 / 131072 + std::fabs(double(value)) * 0x1p-23);
  } else if (std::isnan(value)) {
    KV_FUZZ_CHECK(Bits(fix) == 0x00008000u);  // not a number: -32768
  }
  TW_FIX32 edge = frame.Left;
  if (edge.Whole >= -128 && edge.Whole <= 127)
    KV_FUZZ_CHECK(Bits(FloatToFIX32(FIX32ToFloat(edge))) == Bits(edge));

  Session::Get().Run({TextArgument("")}, [&](TwainGlobals* g) {
    // StringFrame into a buffer of exactly `room` bytes that already holds `used` bytes of
    // text, unterminated when it is full.
    std::unique_ptr<char[]> out(new char[room]);
    std::memset(out.get(), 'x', room);
    if (used < room) out[used] = 0;
    StringFrame(g, frame, out.get(), room, kFieldFirstParam);
    KV_FUZZ_CHECK(memchr(out.get(), 0, room) != nullptr);

    // The frame as text, in full, and back.
    char full[4 * (kFieldTextMax + 1)] = "";
    StringFrame(g, frame, full, sizeof full, kFieldFirstParam);
    TW_FRAME again;
    UnstringFrame(g, &again, full, kFieldFirstParam);
    if (ExactInFloat(frame)) KV_FUZZ_CHECK(SameFrame(again, frame));

    // Any text, terminated right at the end of its buffer.
    std::unique_ptr<char[]> text(new char[textBytes.size() + 1]);
    if (!textBytes.empty()) std::memcpy(text.get(), textBytes.data(), textBytes.size());
    text[textBytes.size()] = 0;
    TW_FRAME parsed;
    UnstringFrame(g, &parsed, text.get(), kFieldFirstParam);
  });
  return 0;
}
