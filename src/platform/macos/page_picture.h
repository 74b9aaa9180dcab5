// A native Mac page (a picture Handle) drawn into a CoreGraphics bitmap context: what the
// page writers encode (page_image.cpp) and what the page's pixels are read from
// (page_pixels.cpp). CoreGraphics has no 1-bit contexts: a black-and-white page is drawn in
// grey, and its 1 bit comes from PackGreyRow.
#pragma once
#include <ApplicationServices/ApplicationServices.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/image_platform.h"

template <class T>
void ReleaseCF(T ref) {
  CFRelease(ref);
}

// A CoreFoundation or CoreGraphics reference released when it goes (a QDPict, which is no
// CoreFoundation type, with QDPictRelease).
template <class T, void (*Release)(T) = ReleaseCF<T>>
class Ref {
 public:
  explicit Ref(T ref = nullptr) : ref_(ref) {}
  ~Ref() {
    if (ref_) Release(ref_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Takes `ref` in place of what it held.
  void reset(T ref) {
    if (ref_) Release(ref_);
    ref_ = ref;
  }

 private:
  T ref_;
};

enum class Depth { kOneBit, kGrey, kColour };
Depth DepthOf(const PageFacts& facts);

// The picture drawn on white: a grey context (8 bits a pixel) for a black-and-white or grey
// page, RGB with a skipped fourth byte for colour; rows top first. The context draws into
// `pixels` (CoreGraphics before 10.6 takes no context without its memory), which outlives it.
struct DrawnPage {
  std::unique_ptr<uint8_t[]> pixels;
  Ref<CGContextRef> context;
  Depth depth = Depth::kColour;
  size_t width = 0, height = 0;
  double xDpi = 72, yDpi = 72;
};

// The page's whole rectangle, as CoreGraphics counts.
inline CGRect PageRect(const DrawnPage& page) {
  return CGRectMake(0, 0, static_cast<float>(page.width), static_cast<float>(page.height));
}
// A context of the page's depth and size (set before), white, over memory of its own. False
// when there is none (a page too large for memory among them).
bool NewPageContext(DrawnPage* page);

// Draws the picture at the page's size in pixels and depth (the facts', or the picture's
// frame and resolution where the facts have none). False when the picture cannot be drawn.
bool DrawPagePicture(void* picture, const PageFacts& facts, DrawnPage* page);

// Grey pixels as 1 bit a pixel, the leftmost in the high bit: 1 (white) from half-way up.
void PackGreyRow(const uint8_t* grey, size_t width, uint8_t* bits);
