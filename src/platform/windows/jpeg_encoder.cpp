// JPEG into memory on Windows (the pages of a PDF): WIC's encoder into a stream on global
// memory, the rows handed over in bands as grey or blue-green-red.
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/wic.h"
#include "platform/windows/wic_frame.h"
#include "twain/result_codes.h"

namespace {

HRESULT EncodeJpegFrame(IWICImagingFactory* factory, PagePixels& page, int quality, IStream* stream) {
  Held<IWICBitmapEncoder> encoder;
  Held<IWICBitmapFrameEncode> frame;
  Held<IPropertyBag2> options;
  HRESULT hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.Out());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.Out(), options.Out());
  if (FAILED(hr)) return hr;
  if (options.Get()) AskForQuality(options.Get(), quality);
  const bool grey = page.Format() == PixelFormat::kGrey;
  const WICPixelFormatGUID wanted = grey ? GUID_WICPixelFormat8bppGray : GUID_WICPixelFormat24bppBGR;
  WICPixelFormatGUID pixels = wanted;
  if (FAILED(hr = frame->Initialize(options.Get())) || FAILED(hr = frame->SetSize(page.Width(), page.Height())))
    return hr;
  if (page.XDpi() > 0 && page.YDpi() > 0 && FAILED(hr = frame->SetResolution(page.XDpi(), page.YDpi())))
    return hr;
  if (FAILED(hr = frame->SetPixelFormat(&pixels))) return hr;
  if (!IsEqualGUID(pixels, wanted)) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  const UINT bytes = page.RowBytes();
  const UINT height = page.Height();
  std::unique_ptr<BYTE[]> band(
      new (std::nothrow) BYTE[static_cast<size_t>(bytes) * (height < kBandRows ? height : kBandRows)]);
  if (!band) return E_OUTOFMEMORY;
  for (UINT y = 0; y < height;) {
    const UINT rows = height - y < kBandRows ? height - y : kBandRows;
    for (UINT i = 0; i < rows; ++i) {
      const uint8_t* row = page.Row(y + i);
      if (!row) return E_OUTOFMEMORY;
      BYTE* out = band.get() + static_cast<size_t>(i) * bytes;
      std::memcpy(out, row, bytes);
      if (!grey)
        for (UINT x = 0; x + 2 < bytes; x += 3) std::swap(out[x], out[x + 2]);
    }
    if (FAILED(hr = frame->WritePixels(rows, bytes, bytes * rows, band.get()))) return hr;
    y += rows;
  }
  if (FAILED(hr = frame->Commit())) return hr;
  return encoder->Commit();
}

}  // namespace

int16_t EncodeJpeg(PagePixels& page, int quality, std::vector<uint8_t>* jpeg) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (page.Format() == PixelFormat::kBlackWhite) return kResultUnusablePage;
    Wic wic;
    Held<IStream> stream;
    if (!wic.Factory() || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out())))
      return kResultUnusablePage;
    if (FAILED(EncodeJpegFrame(wic.Factory(), page, quality, stream.Get()))) return kResultUnusablePage;
    STATSTG stat{};
    HGLOBAL memory = nullptr;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream.Get(), &memory)))
      return kResultUnusablePage;
    if (stat.cbSize.QuadPart == 0) return kResultUnusablePage;
    jpeg->resize(static_cast<size_t>(stat.cbSize.QuadPart));
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(memory));
    if (!bytes) return kResultUnusablePage;
    std::memcpy(jpeg->data(), bytes, jpeg->size());
    GlobalUnlock(memory);
    return kResultOk;
  });
}
