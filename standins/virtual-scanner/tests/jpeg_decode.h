// Test support: a JPEG stream decoded by the platform's codec (Mac: libjpeg-turbo; Windows:
// WIC), to compare a compressed page with the page rendered.
#pragma once
#include <cstdint>
#include <vector>

#include "traits/build_traits.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
// wincodec.h needs the COM types of windows.h.
#include <wincodec.h>
#else
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>
#endif

struct Decoded {
  int width = 0, height = 0, components = 0;
  std::vector<uint8_t> pixels;  // rows of width x components bytes, grey or R, G, B
};

#if KV_WINDOWS_BUILD
inline Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  WICPixelFormatGUID format{};
  UINT w = 0, h = 0;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(jpeg.data()), DWORD(jpeg.size()))) &&
      SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
      SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&w, &h)) &&
      SUCCEEDED(frame->GetPixelFormat(&format))) {
    const bool grey = IsEqualGUID(format, GUID_WICPixelFormat8bppGray);
    const UINT stride = w * (grey ? 1 : 3);
    std::vector<uint8_t> pixels(size_t(stride) * h);
    if ((grey || IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) &&
        SUCCEEDED(frame->CopyPixels(nullptr, stride, UINT(pixels.size()), pixels.data()))) {
      if (!grey)
        for (size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
      d = Decoded{int(w), int(h), grey ? 1 : 3, std::move(pixels)};
    }
  }
  for (IUnknown* p : {static_cast<IUnknown*>(frame), static_cast<IUnknown*>(decoder),
                      static_cast<IUnknown*>(stream), static_cast<IUnknown*>(factory)})
    if (p) p->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return d;
}
#else
struct JpegTestError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
inline void JpegTestFail(j_common_ptr c) { longjmp(reinterpret_cast<JpegTestError*>(c->err)->jump, 1); }

// No object with a destructor is made between setjmp and the calls that may jump.
inline bool DecodeInto(const std::vector<uint8_t>& jpeg, Decoded* d) {
  jpeg_decompress_struct cinfo;
  JpegTestError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegTestFail;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  d->width = int(cinfo.output_width);
  d->height = int(cinfo.output_height);
  d->components = cinfo.output_components;
  d->pixels.resize(size_t(d->width) * d->components * d->height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = d->pixels.data() + size_t(cinfo.output_scanline) * d->width * d->components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}
inline Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  if (!DecodeInto(jpeg, &d)) d = Decoded();
  return d;
}
#endif
