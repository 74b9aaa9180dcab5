// CoreFoundation's base, strings, numbers, dictionaries and URLs; CoreGraphics' colour
// spaces, data providers, bitmap contexts and images.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "ImageIOStandin.h"
#include "standins/freed_blocks.h"
#include "standins/imageio/internal.h"

namespace imageio {
namespace {
// Constructed on first use: other files' constants (CFSTR keys) are made during static
// initialisation, in an order nobody controls.
std::recursive_mutex& Lock() {
  static auto* m = new std::recursive_mutex;
  return *m;
}
std::set<const Object*>& LiveSet() {
  static auto* s = new std::set<const Object*>;
  return *s;
}
long gConstants = 0;

// The memory of the objects freed last (65536), kept from the heap so that a stale reference
// is known as freed.
standins::FreedBlocks& Freed() {
  static auto* freed = new standins::FreedBlocks(65536, SIZE_MAX, [](void* p) { ::operator delete(p); });
  return *freed;
}

const char* KindName(CFTypeID type) {
  static const std::map<CFTypeID, const char*> names = {{kString, "CFString"},
                                                        {kNumber, "CFNumber"},
                                                        {kBoolean, "CFBoolean"},
                                                        {kDictionary, "CFDictionary"},
                                                        {kURL, "CFURL"},
                                                        {kData, "CFData"},
                                                        {kColorSpace, "CGColorSpace"},
                                                        {kDataProvider, "CGDataProvider"},
                                                        {kContext, "CGContext"},
                                                        {kImage, "CGImage"},
                                                        {kPict, "QDPict"},
                                                        {kDestination, "CGImageDestination"},
                                                        {kSource, "CGImageSource"}};
  auto it = names.find(type);
  return it != names.end() ? it->second : "CF object";
}

// What a call was given instead of a live object of the type it takes: the process ends, as
// it does on a Mac (where it may as well go on with a corrupted heap).
[[noreturn]] void Halt(const char* call, const void* ref, CFTypeID type) {
  const Object* o = Alive(ref);
  if (!ref) {
    std::fprintf(stderr, "*** %s() called with NULL ***\n", call);
  } else if (o) {
    std::fprintf(stderr, "*** %s(): %p is a %s, not a %s ***\n", call, ref, KindName(o->type), KindName(type));
  } else if (Freed().Holds(ref)) {
    std::fprintf(
        stderr,
        "*** %s(): %p is a freed object (released once too often, or used after its last release) ***\n", call,
        ref);
  } else {
    std::fprintf(stderr, "*** %s(): %p is not a CF object ***\n", call, ref);
  }
  std::abort();
}
}  // namespace

Object::Object(CFTypeID t) : type(t) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  LiveSet().insert(this);
}
Object::~Object() {
  std::lock_guard<std::recursive_mutex> g(Lock());
  LiveSet().erase(this);
}

void* Object::operator new(size_t size) { return ::operator new(size); }

// Kept from the heap for a while (see Freed).
void Object::operator delete(void* p) noexcept {
  if (!p) return;
  std::lock_guard<std::recursive_mutex> g(Lock());
  Freed().Keep(p);
}

Object* Alive(const void* ref) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  auto* o = static_cast<const Object*>(ref);
  return LiveSet().count(o) ? const_cast<Object*>(o) : nullptr;
}

Object* Checked(const void* ref, CFTypeID type, const char* call) {
  if (!ref) return nullptr;
  std::lock_guard<std::recursive_mutex> g(Lock());
  Object* o = Alive(ref);
  if (!o || (type != 0 && o->type != type)) Halt(call, ref, type);
  return o;
}

Object* CheckedCF(const void* ref, CFTypeID type, const char* call) {
  if (!ref) Halt(call, ref, type);
  return Checked(ref, type, call);
}

void Release(const void* ref, const char* call) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  Object* o = Alive(ref);
  if (!o) Halt(call, ref, 0);
  if (o->constant) return;
  if (--o->refs == 0) delete o;
}

Dictionary::~Dictionary() {
  for (auto& kv : items) {
    if (keys.release) keys.release(nullptr, kv.first);
    if (values.release) values.release(nullptr, kv.second);
  }
}

std::pair<const void*, const void*>* Dictionary::Slot(const void* key) {
  for (auto& kv : items) {
    if (kv.first == key) return &kv;
    if (keys.hash && keys.hash(kv.first) != keys.hash(key)) continue;
    if (keys.equal && keys.equal(kv.first, key)) return &kv;
  }
  return nullptr;
}

DataProvider::~DataProvider() {
  if (release) release(info, data, size);
}

Image::~Image() {
  if (provider) Release(provider);
}

bool NumberIn(CFDictionaryRef dict, CFStringRef key, double* value) {
  auto* d = As<Dictionary>(dict, kDictionary);
  const void* v = d ? d->Find(key) : nullptr;
  if (auto* n = As<Number>(v, kNumber)) {
    *value = n->value;
    return true;
  }
  return false;
}

std::string TextOf(CFStringRef s) {
  auto* str = As<String>(s, kString);
  return str ? str->text : std::string();
}

namespace {
// Byte i of a row as it lies in memory: the row's words of l.wordBytes are little-endian.
size_t ByteAt(const PixelLayout& l, size_t i) { return l.wordBytes ? i ^ (l.wordBytes - 1) : i; }

// The `count` bits (at most 32) from bit `bit` of a row, the first the highest.
uint32_t GetBits(const PixelLayout& l, const uint8_t* row, size_t bit, size_t count) {
  if (count == 8 && bit % 8 == 0) return row[ByteAt(l, bit / 8)];
  uint64_t v = 0;
  for (size_t done = 0; done < count;) {
    const size_t at = bit + done, within = at % 8, take = std::min<size_t>(8 - within, count - done);
    v = (v << take) | ((row[ByteAt(l, at / 8)] >> (8 - within - take)) & ((1u << take) - 1));
    done += take;
  }
  return static_cast<uint32_t>(v);
}
void PutBits(const PixelLayout& l, uint8_t* row, size_t bit, size_t count, uint32_t value) {
  if (count == 8 && bit % 8 == 0) {
    row[ByteAt(l, bit / 8)] = static_cast<uint8_t>(value);
    return;
  }
  for (size_t done = 0; done < count;) {
    const size_t at = bit + done, within = at % 8, take = std::min<size_t>(8 - within, count - done);
    const unsigned shift = static_cast<unsigned>(8 - within - take), mask = ((1u << take) - 1) << shift;
    const unsigned part = (value >> (count - done - take)) & ((1u << take) - 1);
    uint8_t& b = row[ByteAt(l, at / 8)];
    b = static_cast<uint8_t>((b & ~mask) | (part << shift));
    done += take;
  }
}

// Where a pixel's colour and alpha bits start within it.
size_t ColourBit(const PixelLayout& l) {
  return l.skipFirst ? l.bitsPerPixel - l.components * l.bitsPerComponent : 0;
}
size_t AlphaBit(const PixelLayout& l) { return l.skipFirst ? 0 : l.components * l.bitsPerComponent; }

// A component's level from 0 to 1 (floats clamped).
double Level(const PixelLayout& l, const uint8_t* row, size_t bit) {
  const uint32_t raw = GetBits(l, row, bit, l.bitsPerComponent);
  if (l.floats) {
    float f;
    std::memcpy(&f, &raw, sizeof f);
    return f > 0 ? (f < 1 ? f : 1) : 0;
  }
  return raw / static_cast<double>((uint64_t{1} << l.bitsPerComponent) - 1);
}
void StoreLevel(const PixelLayout& l, uint8_t* row, size_t bit, double level) {
  uint32_t raw;
  if (l.floats) {
    const float f = static_cast<float>(level);
    std::memcpy(&raw, &f, sizeof raw);
  } else {
    raw = static_cast<uint32_t>(
        std::llround(level * static_cast<double>((uint64_t{1} << l.bitsPerComponent) - 1)));
  }
  PutBits(l, row, bit, l.bitsPerComponent, raw);
}
uint8_t Byte(double level) { return static_cast<uint8_t>(std::lround(level * 255)); }
}  // namespace

void ReadPixel(const PixelLayout& l, const uint8_t* bytes, size_t x, size_t y, double rgb[3], double* alpha) {
  const uint8_t* row = bytes + y * l.bytesPerRow;
  const size_t pixel = x * l.bitsPerPixel;
  for (int c = 0; c < l.components; ++c) {
    double v = Level(l, row, pixel + ColourBit(l) + c * l.bitsPerComponent);
    if (l.decoded) {
      v = l.decode[2 * c] + v * (l.decode[2 * c + 1] - l.decode[2 * c]);
      v = v > 0 ? (v < 1 ? v : 1) : 0;
    }
    rgb[c] = v;
  }
  if (l.components == 1) rgb[1] = rgb[2] = rgb[0];
  *alpha = l.HasAlpha() ? Level(l, row, pixel + AlphaBit(l)) : 1;
}

uint8_t Sample(const PixelLayout& l, const uint8_t* bytes, size_t x, size_t y, int c) {
  if (l.Plain() && l.bitsPerComponent == 8)
    return bytes[y * l.bytesPerRow + x * l.bitsPerPixel / 8 + c + (l.skipFirst ? 1 : 0)];
  double rgb[3], alpha;
  ReadPixel(l, bytes, x, y, rgb, &alpha);
  // Over white: what the alpha leaves uncovered is white.
  const double v = (l.Premultiplied() || !l.HasAlpha() ? rgb[c] : rgb[c] * alpha) + (1 - alpha);
  return Byte(v > 1 ? 1 : v);
}

void StorePixel(const PixelLayout& l, uint8_t* row, size_t col, const uint8_t* rgb, uint8_t alpha) {
  const size_t pixel = col * l.bitsPerPixel;
  uint8_t colour[3] = {rgb[0], rgb[1], rgb[2]};
  if (l.components == 1)
    colour[0] = static_cast<uint8_t>((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000);
  if (l.bitsPerComponent == 8 && !l.floats && !l.wordBytes) {  // whole bytes, in order
    uint8_t* p = row + pixel / 8;
    for (int c = 0; c < l.components; ++c) p[ColourBit(l) / 8 + c] = colour[c];
    if (l.HasAlpha()) p[AlphaBit(l) / 8] = alpha;
    return;
  }
  for (int c = 0; c < l.components; ++c)
    StoreLevel(l, row, pixel + ColourBit(l) + c * l.bitsPerComponent, colour[c] / 255.0);
  if (l.HasAlpha()) StoreLevel(l, row, pixel + AlphaBit(l), alpha / 255.0);
}

}  // namespace imageio

using namespace imageio;

namespace {

// Constant objects (CFSTR strings, booleans) live for the process and are not counted.
template <class T>
T* MakeConstant(T* o) {
  o->constant = true;
  std::lock_guard<std::recursive_mutex> g(Lock());
  ++gConstants;
  return o;
}

struct BooleanObject : Object {
  BooleanObject() : Object(kBoolean) {}
};

Number* NewNumber(double v) {
  auto* n = new Number;
  n->value = v;
  return n;
}

// The bits a pixel of the layout takes, for a byte order: 16-bit orders fit 16-bit pixels
// or components, 32-bit orders 32-bit pixels or components. Other combinations are refused
// (CoreGraphics: "invalid image byte order info").
bool ByteOrderFits(CGBitmapInfo info, size_t bitsPerComponent, size_t bitsPerPixel, size_t* wordBytes) {
  switch (info & kCGBitmapByteOrderMask) {
    case kCGBitmapByteOrderDefault:
      *wordBytes = 0;
      return true;
    case kCGBitmapByteOrder16Big:
    case kCGBitmapByteOrder16Little:
      *wordBytes = (info & kCGBitmapByteOrderMask) == kCGBitmapByteOrder16Little ? 2 : 0;
      return bitsPerPixel == 16 || bitsPerComponent == 16;
    case kCGBitmapByteOrder32Big:
    case kCGBitmapByteOrder32Little:
      *wordBytes = (info & kCGBitmapByteOrderMask) == kCGBitmapByteOrder32Little ? 4 : 0;
      return bitsPerPixel == 32 || bitsPerComponent == 32;
    default:
      return false;
  }
}

// A bitmap layout CoreGraphics 10.4 supports for contexts of these spaces (the Quartz 2D
// Programming Guide's "Supported Pixel Formats", as of Tiger; CGBitmapContext.h of 10.4:
// "bitsPerComponent ... currently must be 5, 8 or 32"). bytesPerRow must hold the row's
// pixels; Apple asks no more of it (a row of any length from there is drawn).
bool ContextLayout(size_t width, size_t height, size_t bpc, size_t bytesPerRow, ColorSpace* space,
                   CGBitmapInfo info, PixelLayout* out) {
  if (!space || width == 0 || height == 0) return false;
  if (info & ~(kCGBitmapAlphaInfoMask | kCGBitmapFloatComponents | kCGBitmapByteOrderMask)) return false;
  const auto alpha = static_cast<CGImageAlphaInfo>(info & kCGBitmapAlphaInfoMask);
  const bool floats = (info & kCGBitmapFloatComponents) != 0;
  size_t bpp = 0;
  if (space->components == 1) {
    if (alpha == kCGImageAlphaNone && bpc == (floats ? 32u : 8u)) bpp = bpc;
  } else if (space->components == 3) {
    if (!floats && bpc == 5 && alpha == kCGImageAlphaNoneSkipFirst) bpp = 16;
    if (!floats && bpc == 8 &&
        (alpha == kCGImageAlphaNoneSkipLast || alpha == kCGImageAlphaNoneSkipFirst ||
         alpha == kCGImageAlphaPremultipliedLast || alpha == kCGImageAlphaPremultipliedFirst)) {
      bpp = 32;
    }
    if (floats && bpc == 32 && (alpha == kCGImageAlphaNoneSkipLast || alpha == kCGImageAlphaPremultipliedLast))
      bpp = 128;
  }
  PixelLayout l;
  if (bpp == 0 || !ByteOrderFits(info, bpc, bpp, &l.wordBytes)) return false;
  l.width = width;
  l.height = height;
  l.bitsPerComponent = bpc;
  l.bitsPerPixel = bpp;
  l.components = space->components;
  l.alpha = alpha;
  l.floats = floats;
  l.skipFirst = alpha == kCGImageAlphaNoneSkipFirst || alpha == kCGImageAlphaPremultipliedFirst;
  l.bytesPerRow = bytesPerRow;
  if (bytesPerRow < width * bpp / 8) return false;
  *out = l;
  return true;
}

// The bitmap an image's arguments describe, as CGImageCreate checks them: a component size
// of CGImage.h's list, bits enough for the components and the alpha (exactly, without a
// skip), rows long enough, float components of 32 bits.
bool ImageLayout(size_t width, size_t height, size_t bpc, size_t bpp, size_t bytesPerRow, int components,
                 CGBitmapInfo info, const float* decode, PixelLayout* out) {
  if (width == 0 || height == 0) return false;
  if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 5 && bpc != 8 && bpc != 16 && bpc != 32) return false;
  if (info & ~(kCGBitmapAlphaInfoMask | kCGBitmapFloatComponents | kCGBitmapByteOrderMask)) return false;
  PixelLayout l;
  l.alpha = static_cast<CGImageAlphaInfo>(info & kCGBitmapAlphaInfoMask);
  l.floats = (info & kCGBitmapFloatComponents) != 0;
  if (l.alpha > kCGImageAlphaNoneSkipFirst || (l.floats && bpc != 32)) return false;  // AlphaOnly: no colour
  const size_t colour = components * bpc;
  const bool skip = l.alpha == kCGImageAlphaNoneSkipFirst || l.alpha == kCGImageAlphaNoneSkipLast;
  if (skip ? bpp <= colour : bpp != colour + (l.HasAlpha() ? bpc : 0)) return false;
  if (!ByteOrderFits(info, bpc, bpp, &l.wordBytes)) return false;
  if (bytesPerRow < (width * bpp + 7) / 8) return false;
  l.width = width;
  l.height = height;
  l.bitsPerComponent = bpc;
  l.bitsPerPixel = bpp;
  l.bytesPerRow = bytesPerRow;
  l.components = components;
  l.skipFirst = l.alpha == kCGImageAlphaNoneSkipFirst || l.alpha == kCGImageAlphaFirst ||
                l.alpha == kCGImageAlphaPremultipliedFirst;
  if (decode) {
    l.decoded = true;
    std::copy(decode, decode + 2 * components, l.decode);
  }
  *out = l;
  return true;
}

// Paints a colour (0..255, premultiplied by alpha) over pixel `col` of a context's row.
void Paint(const PixelLayout& l, uint8_t* data, size_t row, size_t col, const uint8_t* rgb, uint8_t alpha) {
  uint8_t* line = data + row * l.bytesPerRow;
  if (alpha == 255) {
    StorePixel(l, line, col, rgb);
    return;
  }
  double below[3], belowAlpha;
  ReadPixel(l, data, col, row, below, &belowAlpha);
  const double uncovered = 1 - alpha / 255.0;
  uint8_t mixed[3];
  for (int k = 0; k < 3; ++k) mixed[k] = Byte(std::min(1.0, (rgb[k] + 255 * below[k] * uncovered) / 255));
  StorePixel(l, line, col, mixed, Byte(std::min(1.0, alpha / 255.0 + belowAlpha * uncovered)));
}

}  // namespace

extern "C" {

const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(MakeConstant(new BooleanObject));
const CFBooleanRef kCFBooleanFalse = reinterpret_cast<CFBooleanRef>(MakeConstant(new BooleanObject));
}  // extern "C"

namespace {
// The CFType callbacks: what is no live CF object crashes CF's retain, as it does here.
const void* TypeRetain(CFAllocatorRef, const void* value) { return CFRetain(value); }
void TypeRelease(CFAllocatorRef, const void* value) { CFRelease(value); }
Boolean TypeEqual(const void* a, const void* b) { return CFEqual(a, b); }
CFHashCode TypeHash(const void* value) {
  Object* o = CheckedCF(value, 0, "CFHash");
  if (o && o->type == kString) return std::hash<std::string>()(static_cast<String*>(o)->text);
  if (o && o->type == kNumber) return std::hash<double>()(static_cast<Number*>(o)->value);
  if (o && o->type == kURL) return std::hash<std::string>()(static_cast<URL*>(o)->path);
  return reinterpret_cast<CFHashCode>(value);
}

// CF halts on NULL or an object of another type where a dictionary belongs.
Dictionary* DictionaryOrHalt(const void* ref, const char* call) {
  return CheckedCF<Dictionary>(ref, kDictionary, call);
}
}  // namespace

extern "C" {

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       TypeRetain, TypeRelease,
                                                                nullptr, TypeEqual,  TypeHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, TypeRetain, TypeRelease, nullptr,
                                                                    TypeEqual};

CFTypeRef CFRetain(CFTypeRef cf) try {
  std::lock_guard<std::recursive_mutex> g(Lock());
  Object* o = CheckedCF(cf, 0, __func__);
  if (!o->constant) ++o->refs;
  return cf;
} catch (...) {
  return {};
}

void CFRelease(CFTypeRef cf) try {
  Release(cf, __func__);  // NULL halts there, as CFRuntime.c halts on it
} catch (...) {
}

CFIndex CFGetRetainCount(CFTypeRef cf) try {
  Object* o = CheckedCF(cf, 0, __func__);
  return o->constant ? 0x7FFFFFFF : o->refs;
} catch (...) {
  return {};
}

CFTypeID CFGetTypeID(CFTypeRef cf) try { return CheckedCF(cf, 0, __func__)->type; } catch (...) {
  return {};
}
CFTypeID CFStringGetTypeID(void) { return kString; }
CFTypeID CFNumberGetTypeID(void) { return kNumber; }
CFTypeID CFDictionaryGetTypeID(void) { return kDictionary; }
CFTypeID CFURLGetTypeID(void) { return kURL; }
CFTypeID CFDataGetTypeID(void) { return kData; }

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) try {
  if (length < 0 || (!bytes && length > 0)) return nullptr;
  auto* d = new Data;
  d->bytes.assign(bytes, bytes + length);
  return reinterpret_cast<CFDataRef>(static_cast<Object*>(d));
} catch (...) {
  return {};
}

Boolean CFEqual(CFTypeRef a, CFTypeRef b) try {
  Object* x = CheckedCF(a, 0, __func__);
  Object* y = CheckedCF(b, 0, __func__);
  if (a == b) return true;
  if (x->type != y->type) return false;
  if (x->type == kString) return static_cast<String*>(x)->text == static_cast<String*>(y)->text;
  if (x->type == kNumber) return static_cast<Number*>(x)->value == static_cast<Number*>(y)->value;
  if (x->type == kURL) return static_cast<URL*>(x)->path == static_cast<URL*>(y)->path;
  return false;
} catch (...) {
  return {};
}

namespace {

// The characters of Mac Roman's bytes 0x80 to 0xFF (below, ASCII's).
const char16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

// A string's characters are kept as UTF-16 units beside its text (the UTF-8 bytes).
void PutUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The characters of UTF-8 bytes; false for bytes that are no UTF-8.
bool Utf8Characters(const std::string& bytes, std::u32string* out) {
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    const int more = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (more < 0 || i + more >= bytes.size()) return false;
    char32_t c = more == 0 ? b : (b & (0x3F >> more));
    for (int k = 1; k <= more; ++k) {
      const unsigned char n = static_cast<unsigned char>(bytes[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    out->push_back(c);
    i += static_cast<size_t>(more) + 1;
  }
  return true;
}

std::u16string Utf16Of(const std::string& text) {
  std::u32string chars;
  Utf8Characters(text, &chars);
  std::u16string units;
  for (char32_t c : chars) {
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  return units;
}

}  // namespace

// CF takes the C string's length first: NULL crashes there.
CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) try {
  if (!cStr) std::abort();
  std::string text;  // before the string exists: nothing to free should it throw
  if (encoding == kCFStringEncodingMacRoman) {
    for (const char* p = cStr; *p; ++p) {
      const unsigned char b = static_cast<unsigned char>(*p);
      PutUtf8(b < 0x80 ? char32_t(b) : char32_t(kMacRoman[b - 0x80]), &text);
    }
  } else {
    text = cStr;
    std::u32string chars;
    if (!Utf8Characters(text, &chars)) return nullptr;
  }
  auto* s = new String;
  s->text.swap(text);
  return reinterpret_cast<CFStringRef>(s);
} catch (...) {
  return {};
}

Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) try {
  auto* str = CheckedCF<String>(s, kString, __func__);
  std::string bytes;
  if (encoding == kCFStringEncodingMacRoman || encoding == kCFStringEncodingASCII) {
    std::u32string chars;
    Utf8Characters(str->text, &chars);
    for (char32_t c : chars) {
      int found = c < 0x80 ? int(c) : -1;
      for (int i = 0; found < 0 && encoding == kCFStringEncodingMacRoman && i < 128; ++i)
        if (kMacRoman[i] == c) found = 0x80 + i;
      if (found < 0) return false;
      bytes += static_cast<char>(found);
    }
  } else {
    bytes = str->text;
  }
  if (!buffer || bufferSize <= 0 || static_cast<CFIndex>(bytes.size()) >= bufferSize) return false;
  std::memcpy(buffer, bytes.c_str(), bytes.size() + 1);
  return true;
} catch (...) {
  return {};
}

CFIndex CFStringGetLength(CFStringRef s) {
  return static_cast<CFIndex>(Utf16Of(CheckedCF<String>(s, kString, __func__)->text).size());
}

void CFStringGetCharacters(CFStringRef s, CFRange range, UniChar* buffer) {
  const std::u16string units = Utf16Of(CheckedCF<String>(s, kString, __func__)->text);
  if (range.location < 0 || range.length < 0 || range.location + range.length > CFIndex(units.size()))
    std::abort();
  for (CFIndex i = 0; i < range.length; ++i) buffer[i] = units[static_cast<size_t>(range.location + i)];
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  return encoding == kCFStringEncodingUTF8 ? length * 3 : length;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) try {
  static std::map<std::string, String*>* table = new std::map<std::string, String*>;
  std::lock_guard<std::recursive_mutex> g(Lock());
  String*& s = (*table)[cStr];
  if (!s) {
    std::string text(cStr);
    auto* made = new String;
    made->text.swap(text);
    s = MakeConstant(made);
  }
  return reinterpret_cast<CFStringRef>(s);
} catch (...) {
  return {};
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) try {
  if (!valuePtr) return nullptr;
  double v;
  switch (theType) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      v = *static_cast<const int32_t*>(valuePtr);
      break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      v = *static_cast<const float*>(valuePtr);
      break;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
      v = *static_cast<const double*>(valuePtr);
      break;
    default:
      return nullptr;
  }
  return reinterpret_cast<CFNumberRef>(NewNumber(v));
} catch (...) {
  return {};
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) try {
  auto* n = CheckedCF<Number>(number, kNumber, __func__);
  if (!valuePtr) return false;
  switch (theType) {
    case kCFNumberSInt32Type:
    case kCFNumberIntType: {
      int32_t i = static_cast<int32_t>(n->value);
      *static_cast<int32_t*>(valuePtr) = i;
      return i == n->value;
    }
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      *static_cast<float*>(valuePtr) = static_cast<float>(n->value);
      return true;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
      *static_cast<double*>(valuePtr) = n->value;
      return true;
    default:
      return false;
  }
} catch (...) {
  return {};
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) try {
  if (numValues < 0 || (numValues > 0 && (!keys || !values))) std::abort();
  CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, numValues, keyCallBacks, valueCallBacks);
  auto* made = As<Dictionary>(d, kDictionary);
  if (!made) return nullptr;
  try {
    made->items.reserve(static_cast<size_t>(numValues > 0 ? numValues : 0));
  } catch (...) {
    Release(d);
    return nullptr;
  }
  for (CFIndex i = 0; i < numValues; ++i) CFDictionarySetValue(d, keys[i], values[i]);
  DictionaryOrHalt(d, __func__)->isMutable = false;
  return d;
} catch (...) {
  return {};
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) try {
  if (capacity < 0) std::abort();
  auto* d = new Dictionary;
  if (keyCallBacks) d->keys = *keyCallBacks;
  if (valueCallBacks) d->values = *valueCallBacks;
  return reinterpret_cast<CFMutableDictionaryRef>(d);
} catch (...) {
  return {};
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) try {
  Dictionary* d = DictionaryOrHalt(dict, __func__);
  if (!d->isMutable) std::abort();  // CF: immutable collection given to a mutating function
  if (auto* kv = d->Slot(key)) {
    if (d->values.retain) value = d->values.retain(nullptr, value);
    if (d->values.release) d->values.release(nullptr, kv->second);
    kv->second = value;
    return;
  }
  d->items.reserve(d->items.size() + 1);  // the one allocation, before anything is retained
  if (d->keys.retain) key = d->keys.retain(nullptr, key);
  if (d->values.retain) value = d->values.retain(nullptr, value);
  d->items.emplace_back(key, value);
} catch (...) {
}

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
  return DictionaryOrHalt(dict, __func__)->Find(key);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) {
  return static_cast<CFIndex>(DictionaryOrHalt(dict, __func__)->items.size());
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) try {
  if (capacity < 0) return nullptr;
  auto* d = new Data;
  d->capacity = capacity;
  d->isMutable = true;
  return reinterpret_cast<CFMutableDataRef>(static_cast<Object*>(d));
} catch (...) {
  return {};
}

CFIndex CFDataGetLength(CFDataRef theData) {
  return static_cast<CFIndex>(CheckedCF<Data>(theData, kData, __func__)->bytes.size());
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
  auto* d = CheckedCF<Data>(theData, kData, __func__);
  return !d->bytes.empty() ? d->bytes.data() : nullptr;
}

// Beyond the capacity is an error on a Mac (an exception in the framework): here it aborts.
// So does data that CFDataCreate made: CFData.h calls anything but a mutable CFData
// undefined, and CF's own checks halt on it.
void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length) {
  auto* d = CheckedCF<Data>(theData, kData, __func__);
  if (!d->isMutable) {
    std::fprintf(stderr, "*** %s(): %p is an immutable CFData ***\n", __func__, static_cast<const void*>(d));
    std::abort();
  }
  if (length < 0 || (d->capacity > 0 && static_cast<CFIndex>(d->bytes.size()) + length > d->capacity))
    std::abort();
  d->bytes.insert(d->bytes.end(), bytes, bytes + length);
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean) try {
  auto* s = CheckedCF<String>(filePath, kString, __func__);
  // No volume has an HFS name here, so only POSIX paths make URLs.
  if (!s || pathStyle != kCFURLPOSIXPathStyle || s->text.empty()) return nullptr;
  std::string path(s->text);
  auto* u = new URL;
  u->path.swap(path);
  return reinterpret_cast<CFURLRef>(u);
} catch (...) {
  return {};
}

// CFURL.c answers false for a NULL URL.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) try {
  auto* u = Checked<URL>(url, kURL, __func__);
  if (!u || !buffer || static_cast<CFIndex>(u->path.size()) >= maxBufLen) return false;
  std::memcpy(buffer, u->path.c_str(), u->path.size() + 1);
  return true;
} catch (...) {
  return {};
}

// ---- CoreGraphics

CGRect CGRectMake(float x, float y, float width, float height) try {
  CGRect r;
  r.origin.x = x;
  r.origin.y = y;
  r.size.width = width;
  r.size.height = height;
  return r;
} catch (...) {
  return {};
}

static CGColorSpaceRef NewSpace(int components) {
  auto* s = new ColorSpace;
  s->components = components;
  return reinterpret_cast<CGColorSpaceRef>(s);
}
CGColorSpaceRef CGColorSpaceCreateDeviceGray(void) try { return NewSpace(1); } catch (...) {
  return {};
}
CGColorSpaceRef CGColorSpaceCreateDeviceRGB(void) try { return NewSpace(3); } catch (...) {
  return {};
}
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) try {
  return RetainUnlessNull(space, kColorSpace, __func__);
} catch (...) {
  return {};
}
void CGColorSpaceRelease(CGColorSpaceRef space) try {
  ReleaseUnlessNull(space, kColorSpace, __func__);
} catch (...) {
}
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space) try {
  auto* s = Checked<ColorSpace>(space, kColorSpace, __func__);
  return s ? s->components : 0;
} catch (...) {
  return {};
}

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData) try {
  auto* p = new DataProvider;
  p->info = info;
  p->data = static_cast<const uint8_t*>(data);
  p->size = size;
  p->release = releaseData;
  return reinterpret_cast<CGDataProviderRef>(p);
} catch (...) {
  return {};
}
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider) try {
  return RetainUnlessNull(provider, kDataProvider, __func__);
} catch (...) {
  return {};
}
void CGDataProviderRelease(CGDataProviderRef provider) try {
  ReleaseUnlessNull(provider, kDataProvider, __func__);
} catch (...) {
}

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef colorspace,
                                   CGBitmapInfo bitmapInfo) try {
  auto* space = Checked<ColorSpace>(colorspace, kColorSpace, __func__);
  PixelLayout l;
  if (!ContextLayout(width, height, bitsPerComponent, bytesPerRow, space, bitmapInfo, &l)) {
    std::fprintf(stderr, "CGBitmapContextCreate: unsupported parameter combination\n");
    return nullptr;
  }
  // Before Mac OS X 10.6 the caller gives the memory: "data points a block of memory at least
  // bytesPerRow * height bytes" (CGBitmapContext.h, 10.4).
  if (!data) {
    std::fprintf(stderr, "CGBitmapContextCreate: invalid data: NULL\n");
    return nullptr;
  }
  auto* c = new Context;
  c->layout = l;
  c->data = static_cast<uint8_t*>(data);
  return reinterpret_cast<CGContextRef>(c);
} catch (...) {
  return {};
}

void* CGBitmapContextGetData(CGContextRef context) try {
  auto* c = Checked<Context>(context, kContext, __func__);
  return c ? c->data : nullptr;
} catch (...) {
  return {};
}
size_t CGBitmapContextGetBytesPerRow(CGContextRef context) try {
  auto* c = Checked<Context>(context, kContext, __func__);
  return c ? c->layout.bytesPerRow : 0;
} catch (...) {
  return {};
}
void CGContextRelease(CGContextRef context) try {
  ReleaseUnlessNull(context, kContext, __func__);
} catch (...) {
}

static uint8_t Unit(float v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::lround(v * 255));
}
static void SetFill(Context* c, float red, float green, float blue, float alpha) {
  c->fillAlpha = Unit(alpha);
  // Kept premultiplied, as it is painted.
  c->fill[0] = Unit(red * c->fillAlpha / 255.0f);
  c->fill[1] = Unit(green * c->fillAlpha / 255.0f);
  c->fill[2] = Unit(blue * c->fillAlpha / 255.0f);
}
void CGContextSetGrayFillColor(CGContextRef c, float gray, float alpha) try {
  if (auto* context = Checked<Context>(c, kContext, __func__)) SetFill(context, gray, gray, gray, alpha);
} catch (...) {
}
void CGContextSetRGBFillColor(CGContextRef c, float red, float green, float blue, float alpha) try {
  if (auto* context = Checked<Context>(c, kContext, __func__)) SetFill(context, red, green, blue, alpha);
} catch (...) {
}

void CGContextFillRect(CGContextRef context, CGRect rect) try {
  auto* c = Checked<Context>(context, kContext, __func__);
  if (!c) return;
  const PixelLayout& l = c->layout;
  // CoreGraphics counts y from the bottom; rows in memory go from the top.
  long x0 = std::lround(rect.origin.x), x1 = std::lround(rect.origin.x + rect.size.width);
  long y0 = std::lround(rect.origin.y), y1 = std::lround(rect.origin.y + rect.size.height);
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > static_cast<long>(l.width)) x1 = l.width;
  if (y1 > static_cast<long>(l.height)) y1 = l.height;
  for (long y = y0; y < y1; ++y) {
    const size_t row = l.height - 1 - static_cast<size_t>(y);
    if (l.components == 1 && l.Plain() && c->fillAlpha == 255) {  // 8-bit grey: one run
      const uint8_t grey =
          static_cast<uint8_t>((c->fill[0] * 299 + c->fill[1] * 587 + c->fill[2] * 114 + 500) / 1000);
      if (x1 > x0) std::memset(c->data + row * l.bytesPerRow + x0, grey, static_cast<size_t>(x1 - x0));
      continue;
    }
    for (long x = x0; x < x1; ++x) Paint(l, c->data, row, static_cast<size_t>(x), c->fill, c->fillAlpha);
  }
} catch (...) {
}

CGImageRef CGBitmapContextCreateImage(CGContextRef context) try {
  auto* c = Checked<Context>(context, kContext, __func__);
  if (!c) return nullptr;
  std::vector<uint8_t> pixels(c->data, c->data + c->layout.height * c->layout.bytesPerRow);
  auto* image = new Image;
  image->layout = c->layout;
  image->pixels.swap(pixels);
  return reinterpret_cast<CGImageRef>(image);
} catch (...) {
  return {};
}

void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef ref) {
  auto* c = Checked<Context>(context, kContext, __func__);
  auto* image = Checked<Image>(ref, kImage, __func__);
  if (!c || !image || !(rect.size.width > 0) || !(rect.size.height > 0)) return;
  const PixelLayout& l = c->layout;
  const PixelLayout& from = image->layout;
  const uint8_t* bytes = image->Bytes();
  for (size_t row = 0; row < l.height; ++row) {
    // The row's centre, from CoreGraphics' bottom-up space into the image's top-down rows.
    const double yc = static_cast<double>(l.height - row) - 0.5;
    const double v = (rect.origin.y + rect.size.height - yc) / rect.size.height;
    if (v < 0 || v >= 1) continue;
    const size_t sy = static_cast<size_t>(v * from.height);
    for (size_t col = 0; col < l.width; ++col) {
      const double u = (col + 0.5 - rect.origin.x) / rect.size.width;
      if (u < 0 || u >= 1) continue;
      const size_t sx = static_cast<size_t>(u * from.width);
      double rgb[3], alpha;
      ReadPixel(from, bytes, sx, sy, rgb, &alpha);
      // Painted premultiplied: a colour that is not yet is multiplied here.
      const double times = from.HasAlpha() && !from.Premultiplied() ? alpha : 1;
      uint8_t colour[3];
      for (int k = 0; k < 3; ++k) colour[k] = static_cast<uint8_t>(std::lround(255 * rgb[k] * times));
      Paint(l, c->data, row, col, colour, static_cast<uint8_t>(std::lround(255 * alpha)));
    }
  }
}

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef colorspace, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const float decode[], bool, CGColorRenderingIntent) try {
  auto* s = Checked<ColorSpace>(colorspace, kColorSpace, __func__);
  auto* p = Checked<DataProvider>(provider, kDataProvider, __func__);
  PixelLayout l;
  if (!s || !p ||
      !ImageLayout(width, height, bitsPerComponent, bitsPerPixel, bytesPerRow, s->components, bitmapInfo,
                   decode, &l) ||
      p->size < bytesPerRow * (height - 1) + (width * bitsPerPixel + 7) / 8) {
    return nullptr;
  }
  auto* image = new Image;
  image->layout = l;
  image->provider = p;
  CFRetain(p);
  return reinterpret_cast<CGImageRef>(image);
} catch (...) {
  return {};
}

CGImageRef CGImageRetain(CGImageRef image) try {
  return RetainUnlessNull(image, kImage, __func__);
} catch (...) {
  return {};
}
void CGImageRelease(CGImageRef image) try { ReleaseUnlessNull(image, kImage, __func__); } catch (...) {
}
size_t CGImageGetWidth(CGImageRef image) try {
  auto* i = Checked<Image>(image, kImage, __func__);
  return i ? i->layout.width : 0;
} catch (...) {
  return {};
}
size_t CGImageGetHeight(CGImageRef image) try {
  auto* i = Checked<Image>(image, kImage, __func__);
  return i ? i->layout.height : 0;
} catch (...) {
  return {};
}
size_t CGImageGetBitsPerComponent(CGImageRef image) try {
  auto* i = Checked<Image>(image, kImage, __func__);
  return i ? i->layout.bitsPerComponent : 0;
} catch (...) {
  return {};
}
size_t CGImageGetBitsPerPixel(CGImageRef image) try {
  auto* i = Checked<Image>(image, kImage, __func__);
  return i ? i->layout.bitsPerPixel : 0;
} catch (...) {
  return {};
}

long ImageIOStandin_LiveObjects(void) {
  std::lock_guard<std::recursive_mutex> g(Lock());
  return static_cast<long>(LiveSet().size()) - gConstants;
}

}  // extern "C"
