#include "platform/windows/wic_frame.h"

#include <cstring>
#include <memory>
#include <new>

#include "image/page_pixels.h"

namespace {

const GUID& PixelFormatOf(RowFormat rows) {
  switch (rows) {
    case RowFormat::kBlackWhite:
      return GUID_WICPixelFormatBlackWhite;
    case RowFormat::kGrey:
      return GUID_WICPixelFormat8bppGray;
    default:
      return GUID_WICPixelFormat24bppBGR;
  }
}

void AskFor(IPropertyBag2* options, const wchar_t* name, const VARIANT& value) {
  PROPBAG2 property{};
  property.pstrName = const_cast<LPOLESTR>(name);
  VARIANT copy = value;
  // An option the encoder does not know keeps its default.
  options->Write(1, &property, &copy);
}

// What each format should be: JPEG's quality, PNG's filters, TIFF's compression.
void AskForFormat(IPropertyBag2* options, TW_UINT16 format, RowFormat rows, int jpegQuality) {
  if (!options) return;
  VARIANT value{};
  if (format == TWFF_JFIF) {
    AskForQuality(options, jpegQuality);
  } else if (format == TWFF_PNG) {
    value.vt = VT_UI1;
    value.bVal = WICPngFilterAdaptive;
    AskFor(options, L"FilterOption", value);
  } else {
    value.vt = VT_UI1;
    value.bVal = rows == RowFormat::kBlackWhite ? WICTiffCompressionCCITT4 : WICTiffCompressionLZW;
    AskFor(options, L"TiffCompressionMethod", value);
  }
}

}  // namespace

const GUID* ContainerOf(TW_UINT16 format) {
  switch (format) {
    case TWFF_PNG:
      return &GUID_ContainerFormatPng;
    case TWFF_JFIF:
      return &GUID_ContainerFormatJpeg;
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
      return &GUID_ContainerFormatTiff;
    default:
      return nullptr;
  }
}

void AskForQuality(IPropertyBag2* options, int jpegQuality) {
  VARIANT value{};
  value.vt = VT_R4;
  value.fltVal = static_cast<float>(jpegQuality) / 100.0f;
  AskFor(options, L"ImageQuality", value);
}

HRESULT AddFrame(IWICBitmapEncoder* encoder, FrameRows* page, TW_UINT16 format, CheckedFileStream* stream,
                 bool checkpoint, int jpegQuality) {
  Held<IWICBitmapFrameEncode> frame;
  Held<IPropertyBag2> options;
  HRESULT hr = encoder->CreateNewFrame(frame.Out(), options.Out());
  if (FAILED(hr)) return hr;
  AskForFormat(options.Get(), format, page->Format(), jpegQuality);
  // Colour TIFF rows go red first: Wine's TIFF encoder, given blue-first rows, allocates a row
  // at every WritePixels to swap them and never frees it (about 100 KB a 300 dpi colour page,
  // for the life of the host).
  const bool redFirst =
      (format == TWFF_TIFF || format == TWFF_TIFFMULTI) && page->Format() == RowFormat::kColour;
  WICPixelFormatGUID pixels = redFirst ? GUID_WICPixelFormat24bppRGB : PixelFormatOf(page->Format());
  const WICPixelFormatGUID asked = pixels;
  if (FAILED(hr = frame->Initialize(options.Get())) ||
      FAILED(hr = frame->SetSize(page->Width(), page->Height())))
    return hr;
  if (page->XDpi() > 0 && page->YDpi() > 0 && FAILED(hr = frame->SetResolution(page->XDpi(), page->YDpi())))
    return hr;
  if (FAILED(hr = frame->SetPixelFormat(&pixels))) return hr;
  // An encoder that would convert the rows (Wine's JPEG makes black and white colour) is not
  // given them.
  if (!IsEqualGUID(pixels, asked)) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  const UINT bytes = page->RowBytes();
  const UINT height = page->Height();
  // Nothing here throws: the file is open.
  const size_t bandBytes = static_cast<size_t>(bytes) * (height < kBandRows ? height : kBandRows);
  std::unique_ptr<BYTE[]> band(new (std::nothrow) BYTE[bandBytes]);
  if (!band) return E_OUTOFMEMORY;
  for (UINT y = 0; y < height;) {
    const UINT rows = y == 0 && checkpoint ? 1 : (height - y < kBandRows ? height - y : kBandRows);
    for (UINT i = 0; i < rows; ++i) {
      const BYTE* row = page->Row(y + i);
      if (!row) return E_OUTOFMEMORY;
      BYTE* to = band.get() + static_cast<size_t>(i) * bytes;
      if (redFirst)
        SwapRedBlue(row, page->Width(), to);
      else
        std::memcpy(to, row, bytes);
    }
    hr = frame->WritePixels(rows, bytes, bytes * rows, band.get());
    if (FAILED(hr)) return hr;
    if (stream->Failed()) return STG_E_MEDIUMFULL;
    if (y == 0 && checkpoint) stream->Checkpoint();
    y += rows;
  }
  return frame->Commit();
}

HRESULT NewEncoder(IWICImagingFactory* factory, TW_UINT16 format, IStream* stream,
                   Held<IWICBitmapEncoder>* out) {
  HRESULT hr = factory->CreateEncoder(*ContainerOf(format), nullptr, out->Out());
  if (SUCCEEDED(hr)) hr = (*out)->Initialize(stream, WICBitmapEncoderNoCache);
  return hr;
}
