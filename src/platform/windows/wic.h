// COM references and WIC's factory, for the Windows code that encodes or decodes images with
// WIC (wic_frame.cpp, page_file.cpp, page_book.cpp, jpeg_encoder.cpp, page_pixels.cpp).
#pragma once
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

// One reference to a COM object, released with its holder.
template <class T>
class Held {
 public:
  Held() = default;
  explicit Held(T* p) : p_(p) {}
  ~Held() { Reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  T** Out() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// COM on the host's thread, and WIC's factory, for as long as one writer or one book runs.
class Wic {
 public:
  Wic() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    uninitialize_ = SUCCEEDED(hr);
    // A thread already in another apartment model can use WIC all the same.
    if (SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE) {
      CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                       reinterpret_cast<void**>(factory_.Out()));
    }
  }
  ~Wic() {
    factory_.Reset();
    if (uninitialize_) CoUninitialize();
  }
  Wic(const Wic&) = delete;
  Wic& operator=(const Wic&) = delete;
  IWICImagingFactory* Factory() const { return factory_.Get(); }

 private:
  bool uninitialize_ = false;
  Held<IWICImagingFactory> factory_;
};
