#include "tests/caps/cap_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "caps/cap_table.h"
#include "caps/conversions.h"

#if !KV_WINDOWS_BUILD
#include <Carbon/Carbon.h>
#endif

namespace capstest {

FakeHost* FakeHost::current = nullptr;

std::string FakeHost::Format(HostFloat v) {
  char buf[64];
  if (v == std::floor(v) && std::fabs(static_cast<double>(v)) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", static_cast<double>(v));
    return buf;
  }
  for (int digits = 1; digits <= 15; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (std::strtod(buf, nullptr) == static_cast<double>(v)) break;
  }
  return buf;
}

HostFloat FakeHost::Parse(const std::string& t) {
  size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  size_t start = i;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  bool digits = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, digits = true;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, digits = true;
  }
  if (!digits) return 0;
  return std::strtod(t.substr(start, i - start).c_str(), nullptr);
}

void FakeHost::SetNumber(int field, HostFloat v) { fields_[field] = Value{false, v, ""}; }
void FakeHost::SetText(int field, const std::string& t) { fields_[field] = Value{true, 0, t}; }
bool FakeHost::IsText(int field) const {
  auto it = fields_.find(field);
  return it != fields_.end() && it->second.text;
}
HostFloat FakeHost::Number(int field) const {
  auto it = fields_.find(field);
  if (it == fields_.end()) return 0;
  return it->second.text ? Parse(it->second.chars) : it->second.number;
}
std::string FakeHost::Text(int field) const {
  auto it = fields_.find(field);
  if (it == fields_.end()) return "";
  return it->second.text ? it->second.chars : Format(it->second.number);
}
void FakeHost::SetParams(const std::vector<std::string>& texts) {
  for (int f = kFieldFirstParam; f < kFieldFirstParam + 40; ++f) fields_.erase(f);
  SetNumber(kFieldParamCount, static_cast<HostFloat>(texts.size()));
  for (size_t i = 0; i < texts.size(); ++i) SetText(kFieldFirstParam + static_cast<int>(i), texts[i]);
}

namespace {

void WriteValue(FakeHost& h, int field, int type, const void* data, HostFloat number) {
  if (type == kValueNumber)
    h.SetNumber(field, number);
  else if (type == kValueCText)
    h.SetText(field, static_cast<const char*>(data));
  else if (type == kValuePascalText) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    h.SetText(field, std::string(reinterpret_cast<const char*>(p + 1), p[0]));
  }
}

void ReadValue(FakeHost& h, int field, int type, int maxLength, void* destination) {
  ++h.readValueCalls;
  if (type == kValueNumber) {
    HostFloat number = h.Number(field);
#if KV_WINDOWS_BUILD
    std::memcpy(destination, &number, sizeof number);
#else
    ldtox80(&number, static_cast<extended80*>(destination));
#endif
    return;
  }
  std::string t = h.Text(field);
  if (maxLength < 0) maxLength = 0;
  if (t.size() > static_cast<size_t>(maxLength)) t.resize(maxLength);
  char* out = static_cast<char*>(destination);
  if (type == kValuePascalText) {
    out[0] = static_cast<char>(t.size());
    std::memcpy(out + 1, t.data(), t.size());
    out[t.size() + 1] = 0;
  } else {
    std::memcpy(out, t.data(), t.size());
    out[t.size()] = 0;
  }
}

// The fields here hold numbers and texts only: none is a picture field.
void FieldInfo(HostInfoRecord* record) {
  record->status = FakeHost::current->Has(record->field) ? 1 : 0;
  record->fieldType = 0;
}

#if KV_WINDOWS_BUILD
intptr_t __stdcall Callback(int32_t service, intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4) {
  FakeHost& h = *FakeHost::current;
  switch (service) {
    case hostabi::kSvcReadNumber:
      ++h.readNumberCalls;
      *reinterpret_cast<double*>(a2) = static_cast<double>(h.Number(int(a1)));
      break;
    case hostabi::kSvcWriteValue: {
      const void* data = reinterpret_cast<const void*>(a3);
      WriteValue(h, int(a1), int(a2), data, a2 == kValueNumber ? *static_cast<const double*>(data) : 0);
      break;
    }
    case hostabi::kSvcReadValue:
      ReadValue(h, int(a1), int(a2), int(a3), reinterpret_cast<void*>(a4));
      break;
    case hostabi::kSvcFieldInfo:
      FieldInfo(reinterpret_cast<HostInfoRecord*>(a1));
      break;
    default:
      break;
  }
  return 0;
}
#else
void ReadNumber(Extended80* result, int32_t field, HostParamBlock*) {
  ++FakeHost::current->readNumberCalls;
  long double v = FakeHost::current->Number(field);
  ldtox80(&v, reinterpret_cast<extended80*>(result));
}
void Write(int32_t field, int32_t type, const void* data, HostParamBlock*) {
  HostFloat number = 0;
  if (type == kValueNumber) number = x80told(static_cast<const extended80*>(data));
  WriteValue(*FakeHost::current, field, type, data, number);
}
void Read(int32_t field, int32_t type, int32_t maxLength, void* dest, HostParamBlock*) {
  ReadValue(*FakeHost::current, field, type, maxLength, dest);
}
void Info(HostInfoRecord* record, HostParamBlock*) { FieldInfo(record); }
#endif

}  // namespace

FakeHost::FakeHost() : block_(new HostParamBlock{}) {
  current = this;
#if !KV_WINDOWS_BUILD
  block_->SetRoutine<hostabi::ReadNumberProc>(hostabi::kReadNumber, &ReadNumber);
  block_->SetRoutine<hostabi::WriteValueProc>(hostabi::kWriteValue, &Write);
  block_->SetRoutine<hostabi::ReadValueProc>(hostabi::kReadValue, &Read);
  block_->SetRoutine<hostabi::InfoProc>(hostabi::kFieldInfo, &Info);
#endif
}
FakeHost::~FakeHost() {
  if (current == this) current = nullptr;
}

HostContext FakeHost::Context() const {
#if KV_WINDOWS_BUILD
  return &Callback;
#else
  return block_.get();
#endif
}

// ------------------------------------------------------------------ containers
Bytes U16(uint16_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8)}; }
Bytes U32(uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Fix(float v) {
  TW_FIX32 f = FloatToFIX32(v);
  return Cat({U16(static_cast<uint16_t>(f.Whole)), U16(f.Frac)});
}
Bytes Frame(float l, float t, float r, float b) { return Cat({Fix(l), Fix(t), Fix(r), Fix(b)}); }
Bytes Str(TW_UINT16 type, const std::string& s) {
  Bytes out(GetItemSize(type), 0);
  size_t n = std::min(s.size(), out.size() - 1);
  if (tw::native::kPascalStrings) {
    out[0] = static_cast<uint8_t>(n);
    std::memcpy(out.data() + 1, s.data(), n);
  } else {
    std::memcpy(out.data(), s.data(), n);
  }
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

namespace {
void Put(Bytes& b, size_t at, const Bytes& v) {
  if (b.size() < at + v.size()) b.resize(at + v.size(), 0);
  std::memcpy(b.data() + at, v.data(), v.size());
}
}  // namespace

Bytes OneValue(TW_UINT16 type, const Bytes& item) {
  Bytes b(tw::kContainers.oneValueItem + 4, 0);
  Put(b, 0, U16(type));
  Put(b, tw::kContainers.oneValueItem, item);
  return b;
}
Bytes Enumeration(TW_UINT16 type, uint32_t numItems, uint32_t current, uint32_t def, const Bytes& items) {
  const auto& o = tw::kContainers;
  Bytes b(o.enumItemList, 0);
  Put(b, 0, U16(type));
  Put(b, o.enumNumItems, U32(numItems));
  Put(b, o.enumCurrentIndex, U32(current));
  Put(b, o.enumDefaultIndex, U32(def));
  Put(b, o.enumItemList, items);
  return b;
}
Bytes Array(TW_UINT16 type, uint32_t numItems, const Bytes& items) {
  const auto& o = tw::kContainers;
  Bytes b(o.arrayItemList, 0);
  Put(b, 0, U16(type));
  Put(b, o.arrayNumItems, U32(numItems));
  Put(b, o.arrayItemList, items);
  return b;
}
Bytes Range(TW_UINT16 type, uint32_t min, uint32_t max, uint32_t step, uint32_t def, uint32_t cur) {
  const auto& o = tw::kContainers;
  Bytes b(o.rangeSize, 0);
  Put(b, 0, U16(type));
  Put(b, o.rangeMin, U32(min));
  Put(b, o.rangeMax, U32(max));
  Put(b, o.rangeStep, U32(step));
  Put(b, o.rangeDefault, U32(def));
  Put(b, o.rangeCurrent, U32(cur));
  return b;
}

// ------------------------------------------------------------------ environment
CapsEnv::CapsEnv() : g(new TwainGlobals{}), route(CapRoute::Make()) {
  g->hostParams = host.Context();
  initCaps(g.get());
  open = route->Open(g.get());
  route->Clear();
  liveBefore = route->LiveContainers();
}
CapsEnv::~CapsEnv() {
  route->Clear();
  route->Close(g.get());
}

}  // namespace capstest
