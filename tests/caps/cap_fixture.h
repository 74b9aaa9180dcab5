// Test support for the capability routines: a small host (a field store behind the build's
// own host ABI), containers built in the running build's layout, and the route through which
// a test makes the source answer MSG_GET with any container and watches what MSG_SET sent.
//
// The route, CapRoute::Make() in scanner/route_scanner.cpp, is the real DSM of the build
// (Wine's TWAIN_32.DLL, or the Mac DSM stand-in) with the virtual scanner, scripted through
// its control interface.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "record/globals.h"

namespace capstest {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------------ host
// Fields hold a number or a text. Numbers print as the host prints them: whole numbers
// without a point, others in their shortest form of at most 15 digits; texts parse by their
// longest leading number, 0 without one.
class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  HostContext Context() const;

  void SetNumber(int field, HostFloat v);
  void SetText(int field, const std::string& t);
  bool IsText(int field) const;
  bool Has(int field) const { return fields_.count(field) != 0; }
  HostFloat Number(int field) const;
  std::string Text(int field) const;
  // The fields of one call: 210 the count, 211.. the arguments.
  void SetParams(const std::vector<std::string>& texts);

  struct Value {
    bool text = false;
    HostFloat number = 0;
    std::string chars;
  };
  std::map<int, Value> fields_;
  long readNumberCalls = 0;  // the read-number service
  long readValueCalls = 0;   // the read-value service, any type

  static std::string Format(HostFloat v);
  static HostFloat Parse(const std::string& t);
  static FakeHost* current;

 private:
  std::unique_ptr<HostParamBlock> block_;
};

// ------------------------------------------------------------------ containers (native layout)
Bytes U16(uint16_t v);
Bytes U32(uint32_t v);
Bytes Fix(float v);  // the TW_FIX32 nearest to v
Bytes Frame(float l, float t, float r, float b);
// A string item of `type` in the build's encoding, padded to its slot.
Bytes Str(TW_UINT16 type, const std::string& s);
Bytes Cat(std::initializer_list<Bytes> parts);

Bytes OneValue(TW_UINT16 type, const Bytes& item);
Bytes Enumeration(TW_UINT16 type, uint32_t numItems, uint32_t current, uint32_t def, const Bytes& items);
Bytes Array(TW_UINT16 type, uint32_t numItems, const Bytes& items);
Bytes Range(TW_UINT16 type, uint32_t min, uint32_t max, uint32_t step, uint32_t def, uint32_t cur);

// ------------------------------------------------------------------ the source
struct Answer {
  TW_UINT16 conType = TWON_ONEVALUE;
  Bytes bytes;
  TW_UINT16 rc = TWRC_SUCCESS;
  TW_UINT16 cc = TWCC_SUCCESS;
  bool container = true;  // false: success without a container
};
struct SentSet {
  bool sent = false;
  TW_UINT16 conType = 0;
  Bytes bytes;
};

class CapRoute {
 public:
  virtual ~CapRoute() = default;
  static std::unique_ptr<CapRoute> Make();
  virtual const char* Name() const = 0;
  // Opens manager and source for g (its hostParams already set).
  virtual bool Open(TwainGlobals* g) = 0;
  virtual void Close(TwainGlobals* g) = 0;
  // The next MSG_GET of `cap` answers `a`.
  virtual void ScriptGet(TW_UINT16 cap, const Answer& a) = 0;
  // The next MSG_SET of `cap` fails with rc and cc (or succeeds with rc 0).
  virtual void ScriptSet(TW_UINT16 cap, TW_UINT16 rc, TW_UINT16 cc) = 0;
  // What the last MSG_SET of `cap` carried since the last Forget().
  virtual SentSet LastSet(TW_UINT16 cap) = 0;
  virtual void Forget() = 0;
  // Drops every scripted answer not used yet.
  virtual void Clear() = 0;
  // Containers handed out and not yet released; -1 where the route cannot count them.
  virtual long LiveContainers() = 0;
};

// A record with the table filled, a fake host and an open source.
struct CapsEnv {
  CapsEnv();
  ~CapsEnv();
  FakeHost host;
  std::unique_ptr<TwainGlobals> g;
  std::unique_ptr<CapRoute> route;
  bool open = false;
  long liveBefore = 0;
};

}  // namespace capstest
