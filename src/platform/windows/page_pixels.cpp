// Windows: a native page's pixels are the rows the page writers read (page_rows.h), a
// black-and-white page kept at 1 bit; colour comes blue first there and is turned to red
// first here.
#include "image/page_pixels.h"

#include <new>
#include <vector>

#include "platform/windows/page_rows.h"
#include "platform/windows/wic.h"
#include "twain/result_codes.h"

namespace {

class DibPixels : public PagePixels {
 public:
  DibPixels(void* image, const PageFacts& facts) : rows_(image, facts, true) {
    if (rows_.Ok() && rows_.Format() == RowFormat::kColour) rgb_.resize(RowBytes());
  }
  bool Ok() const { return rows_.Ok(); }

  PixelFormat Format() const override {
    switch (rows_.Format()) {
      case RowFormat::kBlackWhite:
        return PixelFormat::kBlackWhite;
      case RowFormat::kGrey:
        return PixelFormat::kGrey;
      case RowFormat::kColour:
        break;
    }
    return PixelFormat::kRgb;
  }
  uint32_t Width() const override { return rows_.Width(); }
  uint32_t Height() const override { return rows_.Height(); }
  double XDpi() const override { return rows_.XDpi(); }
  double YDpi() const override { return rows_.YDpi(); }

  const uint8_t* Row(uint32_t y) override {
    const BYTE* row = rows_.Row(y);
    if (rgb_.empty()) return row;
    SwapRedBlue(row, rows_.Width(), rgb_.data());
    return rgb_.data();
  }

 private:
  PageRows rows_;
  std::vector<uint8_t> rgb_;  // a colour row, red first
};

}  // namespace

std::unique_ptr<PagePixels> NativePagePixels(void* image, const PageFacts& facts, int16_t* result) {
  *result = kResultUnusablePage;
  try {
    auto pixels = std::make_unique<DibPixels>(image, facts);
    if (!pixels->Ok()) return nullptr;
    *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ---- a JPEG stream, decoded by WIC

namespace {

// The frame's pixels, grey as grey and anything else as colour (WIC's converter).
bool CopyFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, bool grey, HeldPagePixels* pixels) {
  IWICBitmapSource* source = frame;
  Held<IWICFormatConverter> converter;
  if (!grey) {
    if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
        FAILED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
      return false;
    }
    source = converter.Get();
  }
  if (pixels->Size() > 0xFFFFFFFFu) return false;
  if (FAILED(
          source->CopyPixels(nullptr, pixels->RowBytes(), static_cast<UINT>(pixels->Size()), pixels->Pixels())))
    return false;
  if (!grey)
    for (uint32_t y = 0; y < pixels->Height(); ++y) {
      uint8_t* row = pixels->Pixels() + size_t(pixels->RowBytes()) * y;
      SwapRedBlue(row, pixels->Width(), row);
    }
  return true;
}

std::unique_ptr<PagePixels> DecodeJpeg(const uint8_t* bytes, size_t size) {
  Wic wic;
  IWICImagingFactory* factory = wic.Factory();
  Held<IWICStream> stream;
  Held<IWICBitmapDecoder> decoder;
  Held<IWICBitmapFrameDecode> frame;
  if (!factory || FAILED(factory->CreateStream(stream.Out())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), static_cast<DWORD>(size))) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), &GUID_ContainerFormatJpeg,
                                              WICDecodeMetadataCacheOnDemand, decoder.Out())) ||
      FAILED(decoder->GetFrame(0, frame.Out()))) {
    return nullptr;
  }
  UINT width = 0, height = 0;
  WICPixelFormatGUID format{};
  double xDpi = 0, yDpi = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
      FAILED(frame->GetPixelFormat(&format)) || FAILED(frame->GetResolution(&xDpi, &yDpi))) {
    return nullptr;
  }
  const bool grey = IsEqualGUID(format, GUID_WICPixelFormat8bppGray) != 0;
  auto pixels = std::make_unique<HeldPagePixels>(grey ? PixelFormat::kGrey : PixelFormat::kRgb, width, height,
                                                 xDpi, yDpi);
  if (!CopyFrame(factory, frame.Get(), grey, pixels.get())) return nullptr;
  return pixels;
}

}  // namespace

std::unique_ptr<PagePixels> JpegPagePixels(const uint8_t* bytes, size_t size, int16_t* result) {
  *result = kResultUnusablePage;
  if (!bytes || size == 0 || size > 0x7FFFFFFF) return nullptr;
  try {
    auto pixels = DecodeJpeg(bytes, size);
    if (pixels) *result = kResultOk;
    return pixels;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
