#include "standins/virtual-scanner/core/profile.h"

#include "standins/virtual-scanner/core/memory_xfer.h"

#include <cstdio>

namespace vs {
namespace {

Item Num(uint32_t v) {
  Item i;
  i.num = v;
  return i;
}
Item Fix(double v) { return Num(ToFix32(v)); }
Item Str(const char* s) {
  Item i;
  i.str = s;
  return i;
}

Capability Make(TW_UINT16 id, Kind kind, TW_UINT16 type, Rule rule) {
  Capability c;
  c.id = id;
  c.kind = kind;
  c.type = type;
  c.rule = rule;
  return c;
}
Capability One(TW_UINT16 id, TW_UINT16 type, Rule rule, Item v) {
  Capability c = Make(id, Kind::OneValue, type, rule);
  c.value = c.defValue = v;
  return c;
}
Capability Enum(TW_UINT16 id, TW_UINT16 type, std::vector<Item> items, uint32_t def) {
  Capability c = Make(id, Kind::Enum, type, Rule::Listed);
  c.list = std::move(items);
  c.cur = c.def = def;
  return c;
}
Capability FixRange(TW_UINT16 id, double min, double max, double def) {
  Capability c = Make(id, Kind::Range, TWTY_FIX32, Rule::InRange);
  c.min = ToFix32(min);
  c.max = ToFix32(max);
  c.step = ToFix32(1);
  c.value = c.defValue = Fix(def);
  return c;
}
std::vector<Item> Nums(std::initializer_list<uint32_t> v) {
  std::vector<Item> r;
  for (uint32_t x : v) r.push_back(Num(x));
  return r;
}
TW_FRAME Frame(double l, double t, double r, double b) {
  return TW_FRAME{Fix32Struct(l), Fix32Struct(t), Fix32Struct(r), Fix32Struct(b)};
}
int SignedOf(TW_UINT16 type, uint32_t v) {
  switch (type) {
    case TWTY_INT8:
      return int8_t(v);
    case TWTY_INT16:
      return int16_t(v);
    default:
      return int(v);
  }
}
std::string ItemText(TW_UINT16 type, const Item& i) {
  char buf[96];
  if (type == TWTY_FIX32) {
    std::snprintf(buf, sizeof buf, "%g", FromFix32(i.num));
  } else if (type == TWTY_FRAME) {
    std::snprintf(buf, sizeof buf, "%g,%g,%g,%g", FromFix32(i.frame.Left), FromFix32(i.frame.Top),
                  FromFix32(i.frame.Right), FromFix32(i.frame.Bottom));
  } else if (IsStringType(type)) {
    return i.str;
  } else {
    std::snprintf(buf, sizeof buf, "%d", SignedOf(type, i.num));
  }
  return buf;
}
bool SameItem(TW_UINT16 type, const Item& a, const Item& b) {
  return IsStringType(type) ? a.str == b.str : a.num == b.num;
}

// A legal-size glass (8.5 x 14 inches) with a letter page on it: the frame starts as the page,
// and may reach to the glass's far edge, where the lid shows white.
constexpr double kPageWidth = 8.5, kPageHeight = 11;
constexpr double kGlassWidth = 8.5, kGlassHeight = 14;

}  // namespace

void Profile::Reset() {
  memory_ = true;
  const std::vector<Item> resolutions = {Fix(75), Fix(100), Fix(150), Fix(200), Fix(300), Fix(600), Fix(1200)};
  Item page;
  page.frame = Frame(0, 0, kPageWidth, kPageHeight);
  caps_ = {
      One(CAP_XFERCOUNT, TWTY_INT16, Rule::XferCount, Num(0xFFFF)),
      Make(CAP_SUPPORTEDCAPS, Kind::Array, TWTY_UINT16, Rule::ReadOnly),
      One(CAP_UICONTROLLABLE, TWTY_BOOL, Rule::ReadOnly, Num(1)),
      One(CAP_INDICATORS, TWTY_BOOL, Rule::Any, Num(1)),
      Enum(ICAP_PIXELTYPE, TWTY_UINT16, Nums({TWPT_BW, TWPT_GRAY, TWPT_RGB}), 2),
      Make(ICAP_BITDEPTH, Kind::Enum, TWTY_UINT16, Rule::BitDepth),
      Enum(ICAP_UNITS, TWTY_UINT16, Nums({TWUN_INCHES}), 0),
      Enum(ICAP_XRESOLUTION, TWTY_FIX32, resolutions, 1),
      Enum(ICAP_YRESOLUTION, TWTY_FIX32, resolutions, 1),
      One(ICAP_XNATIVERESOLUTION, TWTY_FIX32, Rule::ReadOnly, Fix(600)),
      One(ICAP_YNATIVERESOLUTION, TWTY_FIX32, Rule::ReadOnly, Fix(600)),
      One(ICAP_PHYSICALWIDTH, TWTY_FIX32, Rule::ReadOnly, Fix(kGlassWidth)),
      One(ICAP_PHYSICALHEIGHT, TWTY_FIX32, Rule::ReadOnly, Fix(kGlassHeight)),
      One(ICAP_FRAMES, TWTY_FRAME, Rule::Frame, page),
      FixRange(ICAP_BRIGHTNESS, -1000, 1000, 0),
      FixRange(ICAP_CONTRAST, -1000, 1000, 0),
      FixRange(ICAP_THRESHOLD, 0, 255, 128),
      Enum(ICAP_PIXELFLAVOR, TWTY_UINT16, Nums({TWPF_CHOCOLATE, TWPF_VANILLA}), 0),
      Enum(ICAP_XFERMECH, TWTY_UINT16, Nums({TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}), 0),
      Enum(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, Nums({TWFF_TIFF, TWFF_BMP, TWFF_PNG}), 1),
      Enum(ICAP_COMPRESSION, TWTY_UINT16, Nums({kCompressionNone, kCompressionJpeg}), 0),
      Enum(ICAP_HALFTONES, TWTY_STR32, {Str("None"), Str("Dither"), Str("Diffusion")}, 0),
      One(ICAP_GAMMA, TWTY_FIX32, Rule::Gamma, Fix(2.2)),
      One(CAP_DUPLEX, TWTY_UINT16, Rule::ReadOnly, Num(0)),
      // What the application chose to negotiate in states 5 and 6: nothing until it says so.
      Make(CAP_EXTENDEDCAPS, Kind::Array, TWTY_UINT16, Rule::Extended),
  };
  if (feederDevice_) {
    caps_.push_back(One(kCapFeederEnabled, TWTY_BOOL, Rule::ReadOnly, Num(1)));
    caps_.push_back(One(kCapFeederLoaded, TWTY_BOOL, Rule::ReadOnly, Num(1)));
  }
  if (documents_) {
    FindMutable(CAP_DUPLEX)->value = FindMutable(CAP_DUPLEX)->defValue = Num(kDuplexOnePass);
    if (!feederDevice_) {
      // The feeder beside the glass: in use by default; the glass when the application says so.
      caps_.push_back(One(kCapFeederEnabled, TWTY_BOOL, Rule::Any, Num(1)));
      caps_.push_back(One(kCapFeederLoaded, TWTY_BOOL, Rule::ReadOnly, Num(1)));
      caps_.push_back(One(kCapAutomaticSenseMedium, TWTY_BOOL, Rule::Any, Num(0)));
    }
    caps_.push_back(One(kCapDuplexEnabled, TWTY_BOOL, Rule::Any, Num(0)));
    caps_.push_back(One(kCapAutoScan, TWTY_BOOL, Rule::Any, Num(0)));
    if (jobControl_) {
      caps_.push_back(Enum(
          kCapJobControl, TWTY_UINT16,
          Nums({kJobNone, kJobIncludeContinue, kJobIncludeStop, kJobExcludeContinue, kJobExcludeStop}), 0));
    } else {
      // No job control: the scanner reads patch codes when the application asks it to.
      caps_.push_back(One(kIcapPatchCodeDetectionEnabled, TWTY_BOOL, Rule::Any, Num(0)));
      Capability types = Make(kIcapSupportedPatchCodeTypes, Kind::Array, TWTY_UINT16, Rule::ReadOnly);
      for (TW_UINT32 patch : {kPatch1, kPatch2, kPatch3, kPatch4, kPatch6, kPatchT})
        types.list.push_back(Num(patch));
      caps_.push_back(types);
    }
    if (infoItems_ != InfoItems::None) {
      caps_.push_back(One(kIcapExtImageInfo, TWTY_BOOL, Rule::Any, Num(0)));
      Capability ids = Make(kIcapSupportedExtImageInfo, Kind::Array, TWTY_UINT16, Rule::ReadOnly);
      for (TW_UINT16 id : kExtImageInfoIds) ids.list.push_back(Num(id));
      caps_.push_back(ids);
    }
  }
  for (Capability& c : caps_) FindMutable(CAP_SUPPORTEDCAPS)->list.push_back(Num(c.id));
}

const Capability* Profile::Find(TW_UINT16 id) const {
  for (const Capability& c : caps_)
    if (c.id == id) return &c;
  return nullptr;
}
Capability* Profile::FindMutable(TW_UINT16 id) { return const_cast<Capability*>(Find(id)); }

void Profile::SetValue(TW_UINT16 id, uint32_t value) {
  if (Capability* c = FindMutable(id)) c->value = Num(value);
}

std::vector<Item> Profile::BitDepthItems() const {
  static const uint32_t depth[] = {1, 8, 24};
  return {Num(depth[Number(ICAP_PIXELTYPE) % 3])};
}

Bytes Profile::Get(TW_UINT16 id, TW_UINT16 msg, TW_UINT16* conType) const {
  const Capability* c = Find(id);
  if (!c) return {};
  std::vector<Item> list = c->rule == Rule::BitDepth ? BitDepthItems() : c->list;
  if (c->kind == Kind::Array) {
    *conType = TWON_ARRAY;
    return Array(c->type, list);
  }
  if (msg == MSG_GET) {
    switch (c->kind) {
      case Kind::Enum:
        *conType = TWON_ENUMERATION;
        return Enumeration(c->type, list, c->cur, c->def);
      case Kind::Range:
        *conType = TWON_RANGE;
        return Range(c->type, c->min, c->max, c->step, c->defValue.num, c->value.num);
      default:
        break;
    }
  }
  *conType = TWON_ONEVALUE;
  bool dflt = msg == MSG_GETDEFAULT;
  if (c->kind == Kind::Enum) return OneValue(c->type, list[dflt ? c->def : c->cur]);
  return OneValue(c->type, dflt ? c->defValue : c->value);
}

bool Profile::SettableLate(TW_UINT16 id) const {
  for (const Item& i : Find(CAP_EXTENDEDCAPS)->list)
    if (i.num == id) return true;
  return false;
}

// CAP_EXTENDEDCAPS takes an array (or one value) of capabilities that the source offers for
// late negotiation; any other capability in it refuses the whole set.
TW_UINT16 Profile::SetExtended(Capability* c, TW_UINT16 conType, const uint8_t* data, size_t size) {
  TW_UINT16 type = 0;
  std::vector<uint32_t> ids;
  Item one;
  bool read =
      data && (conType == TWON_ARRAY ? ReadIntegerArray(data, size, &type, &ids)
                                     : conType == TWON_ONEVALUE && ReadOneValue(data, size, &type, &one));
  if (!read || type != c->type) return TWCC_BADVALUE;
  if (conType == TWON_ONEVALUE) ids = {one.num};
  for (uint32_t id : ids)
    if (!OffersLate(TW_UINT16(id))) return TWCC_BADVALUE;
  c->list.clear();
  for (uint32_t id : ids) c->list.push_back(Num(id));
  return TWCC_SUCCESS;
}

TW_UINT16 Profile::Set(TW_UINT16 id, TW_UINT16 conType, const uint8_t* data, size_t size) {
  Capability* c = FindMutable(id);
  if (!c) return TWCC_CAPUNSUPPORTED;
  if (c->rule == Rule::ReadOnly) return TWCC_CAPBADOPERATION;
  if (c->rule == Rule::Extended) return SetExtended(c, conType, data, size);
  TW_UINT16 type;
  Item v;
  if (conType != TWON_ONEVALUE || !data || !ReadOneValue(data, size, &type, &v) || type != c->type)
    return TWCC_BADVALUE;
  // A TW_BOOL is 0 or 1; anything else is no boolean.
  if (type == TWTY_BOOL && v.num > 1) return TWCC_BADVALUE;
  switch (c->rule) {
    case Rule::Listed:
      for (size_t i = 0; i < c->list.size(); ++i)
        if (SameItem(type, c->list[i], v)) {
          c->cur = uint32_t(i);
          return TWCC_SUCCESS;
        }
      return TWCC_BADVALUE;
    case Rule::BitDepth:
      return v.num == BitDepthItems()[0].num ? TWCC_SUCCESS : TWCC_BADVALUE;
    case Rule::InRange:
      if (Fix32Key(v.num) < Fix32Key(c->min) || Fix32Key(v.num) > Fix32Key(c->max)) return TWCC_BADVALUE;
      c->value = v;
      return TWCC_SUCCESS;
    case Rule::XferCount: {
      int n = int16_t(v.num);
      if (n != -1 && n < 1) return TWCC_BADVALUE;
      c->value = v;
      return TWCC_SUCCESS;
    }
    case Rule::Frame: {
      double l = FromFix32(v.frame.Left), t = FromFix32(v.frame.Top);
      double r = FromFix32(v.frame.Right), b = FromFix32(v.frame.Bottom);
      if (l < 0 || t < 0 || r > kGlassWidth || b > kGlassHeight || !(l < r) || !(t < b)) return TWCC_BADVALUE;
      c->value = v;
      return TWCC_SUCCESS;
    }
    case Rule::Gamma:
      if (Fix32Key(v.num) < Fix32Key(ToFix32(0.1)) || Fix32Key(v.num) > Fix32Key(ToFix32(10)))
        return TWCC_BADVALUE;
      c->value = v;
      return TWCC_SUCCESS;
    case Rule::Any:
      c->value = v;
      return TWCC_SUCCESS;
    case Rule::ReadOnly:
    case Rule::Extended:
      break;
  }
  return TWCC_CAPBADOPERATION;
}

TW_UINT16 Profile::ResetOne(TW_UINT16 id) {
  Capability* c = FindMutable(id);
  if (!c) return TWCC_CAPUNSUPPORTED;
  if (c->rule == Rule::ReadOnly) return TWCC_CAPBADOPERATION;
  if (c->rule == Rule::Extended) c->list.clear();
  c->cur = c->def;
  c->value = c->defValue;
  return TWCC_SUCCESS;
}

std::string Profile::Text(TW_UINT16 id) const {
  const Capability* c = Find(id);
  if (!c) return "";
  if (c->kind == Kind::Array) {
    std::string s;
    for (const Item& i : c->list) s += (s.empty() ? "" : ",") + ItemText(c->type, i);
    return s;
  }
  if (c->rule == Rule::BitDepth) return ItemText(c->type, BitDepthItems()[0]);
  if (c->kind == Kind::Enum) return ItemText(c->type, c->list[c->cur]);
  return ItemText(c->type, c->value);
}

int Profile::Number(TW_UINT16 id) const {
  const Capability* c = Find(id);
  if (!c) return 0;
  if (c->kind == Kind::Enum && c->rule != Rule::BitDepth) return SignedOf(c->type, c->list[c->cur].num);
  return SignedOf(c->type, c->value.num);
}

void Profile::Relist(TW_UINT16 id, const std::vector<uint32_t>& values) {
  Capability* c = FindMutable(id);
  const uint32_t current = c->list[c->cur].num;
  c->list.clear();
  c->cur = c->def = 0;
  for (uint32_t v : values) {
    if (v == current) c->cur = uint32_t(c->list.size());
    c->list.push_back(Num(v));
  }
}

void Profile::OfferMechanisms() {
  std::vector<uint32_t> mechanisms = {TWSX_NATIVE};
  if (FileTransfers()) mechanisms.push_back(TWSX_FILE);
  if (memory_) mechanisms.push_back(TWSX_MEMORY);
  Relist(ICAP_XFERMECH, mechanisms);
  // Compression is what memory transfers carry; without them the data comes as it is.
  Relist(ICAP_COMPRESSION, memory_ ? std::vector<uint32_t>{kCompressionNone, kCompressionJpeg}
                                   : std::vector<uint32_t>{kCompressionNone});
}

void Profile::OfferMemory(bool memory) {
  memory_ = memory;
  OfferMechanisms();
}

void Profile::OfferFileFormats(const std::vector<TW_UINT16>& formats) {
  Capability* c = FindMutable(ICAP_IMAGEFILEFORMAT);
  if (formats.empty()) {
    std::vector<Item>& supported = FindMutable(CAP_SUPPORTEDCAPS)->list;
    for (size_t i = 0; i < supported.size(); ++i)
      if (supported[i].num == ICAP_IMAGEFILEFORMAT) supported.erase(supported.begin() + long(i));
    if (c) caps_.erase(caps_.begin() + (c - caps_.data()));
    OfferMechanisms();
    return;
  }
  if (!c) return;  // taken away in this session: back at the next open
  c->list.clear();
  for (TW_UINT16 f : formats) c->list.push_back(Num(f));
  c->cur = c->def = 0;
  for (size_t i = 0; i < formats.size(); ++i)
    if (formats[i] == TWFF_BMP) c->cur = c->def = uint32_t(i);  // BMP stays the default where offered
}

bool Profile::FileFormatOffered(TW_UINT16 f) const {
  const Capability* c = Find(ICAP_IMAGEFILEFORMAT);
  if (!c) return false;
  for (const Item& i : c->list)
    if (i.num == f) return true;
  return false;
}

void Profile::SetFileFormat(TW_UINT16 f) {
  Capability* c = FindMutable(ICAP_IMAGEFILEFORMAT);
  for (size_t i = 0; i < c->list.size(); ++i)
    if (c->list[i].num == f) c->cur = uint32_t(i);
}

vscan::ScanSettings Profile::Settings() const {
  vscan::ScanSettings s;
  auto fix = [this](TW_UINT16 id) {
    const Capability* c = Find(id);
    return FromFix32(c->kind == Kind::Enum ? c->list[c->cur].num : c->value.num);
  };
  s.pixelType = Number(ICAP_PIXELTYPE);
  s.xres = fix(ICAP_XRESOLUTION);
  s.yres = fix(ICAP_YRESOLUTION);
  const TW_FRAME& f = Find(ICAP_FRAMES)->value.frame;
  s.left = FromFix32(f.Left);
  s.top = FromFix32(f.Top);
  s.right = FromFix32(f.Right);
  s.bottom = FromFix32(f.Bottom);
  s.brightness = fix(ICAP_BRIGHTNESS);
  s.contrast = fix(ICAP_CONTRAST);
  s.threshold = fix(ICAP_THRESHOLD);
  s.pixelFlavor = Number(ICAP_PIXELFLAVOR);
  return s;
}

}  // namespace vs
