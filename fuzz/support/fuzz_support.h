// What the fuzz targets share: a host (the Velmar stand-in's field store and its real Mac
// parameter block) that runs a piece of extension code inside a host call, a DSM that
// answers MSG_GET of any capability with the container the input describes and records what
// MSG_SET carried, and a reader over the input bytes.
//
// The targets link the capability code, the host kit and the Mac host services and memory
// of the extension (not twain/): this file's DSM stands in for CallDSM, xlateErr, DoOpenDSM
// and DoOpenDS.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "record/globals.h"
#include "standins/velmar/velmar_host.h"

namespace kvfuzz {

// Stops the run with a message: libFuzzer keeps the input that got here.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "kv-fuzz: %s\n", what);
  std::abort();
}
#define KV_FUZZ_CHECK(cond)                              \
  do {                                                   \
    if (!(cond)) ::kvfuzz::Fail("check failed: " #cond); \
  } while (0)

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  uint8_t Byte() { return n_ ? (--n_, *p_++) : 0; }
  uint16_t U16() { return uint16_t(Byte() | Byte() << 8); }
  uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
  std::vector<uint8_t> Bytes(size_t count) {
    if (count > n_) count = n_;
    std::vector<uint8_t> out(p_, p_ + count);
    p_ += count;
    n_ -= count;
    return out;
  }
  std::vector<uint8_t> Rest() { return Bytes(n_); }
  size_t Left() const { return n_; }

 private:
  const uint8_t* p_;
  size_t n_;
};

// ------------------------------------------------------------------ the DSM
struct Dsm {
  // MSG_GET's answer.
  TW_UINT16 getRc = TWRC_SUCCESS;
  TW_UINT16 conType = TWON_ONEVALUE;
  bool container = true;  // false: success without a container
  std::vector<uint8_t> bytes;
  // MSG_SET's answer, and the condition code that DAT_STATUS then gives.
  TW_UINT16 setRc = TWRC_SUCCESS;
  TW_UINT16 cc = TWCC_SUCCESS;
  // What MSG_SET carried.
  bool sent = false;
  TW_UINT16 sentConType = 0;
  std::vector<uint8_t> sentBytes;
  int gets = 0;
};
Dsm& TheDsm();  // reset by Session::Run

// ------------------------------------------------------------------ the host
// One host with one instance. Run() makes a host call whose parameter fields hold
// `arguments` and runs `body` inside it with a record whose hostParams is the host's block.
class Session {
 public:
  static Session& Get();
  velmar::Host& Host() { return *host_; }
  TwainGlobals* Record() { return record_; }
  void Run(const std::vector<velmar::Argument>& arguments, const std::function<void(TwainGlobals*)>& body);
  // Blocks and handles of the Memory Manager alive now.
  static long LiveBlocks();

 private:
  Session();
  std::unique_ptr<velmar::Host> host_;
  TwainGlobals* record_;
};

velmar::Argument NumberArgument(HostFloat value);
velmar::Argument TextArgument(std::string text);
velmar::Argument VariableArgument(std::string name);

}  // namespace kvfuzz
