// The Windows page writers: WIC (windowscodecs.dll) encodes PNG, JPEG and TIFF, one page a
// file or every page of a batch as the frames of one TIFF, into a CheckedFileStream over the
// file. A BMP file is the checked DIB itself behind a file header.
//
// Each page goes to its encoder as rows of black and white (1 bit), 8-bit grey or 24-bit
// colour (page_rows.h), with its resolution on its frame, and with what Windows should make
// of it: TIFF compressed with CCITT Group 4 (1 bit) or LZW, JPEG at the quality asked for (85
// unless JPEGQUALITY says otherwise; grey or colour: a black-and-white page is written grey),
// PNG with adaptive filters. An option an
// encoder does not know leaves its default: Wine 8.0's TIFF encoder writes uncompressed and
// its JPEG encoder at its own quality, whatever they are asked for.
//
// A failed write (a full disk) is found in the stream, whatever the encoder answers: a single
// page's file is removed, and a book goes back to the last point where its file was complete,
// then counts its pages by reading the file back with WIC's own decoder.
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/bitmaps.h"
#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"
#include "platform/windows/wic.h"
#include "twain/result_codes.h"

namespace {

constexpr double kInchesPerMeter = 0.0254;
// Rows handed to an encoder at a time. Wine 8.0's TIFF encoder keeps a row of colour for
// every call that gives it rows (its buffer for swapping red and blue is never freed): a page
// given in bands costs it a few rows, not a page.
constexpr UINT kBandRows = 256;

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

// JPEG's quality, 1 to 100, as WIC's 0 to 1.
void AskForQuality(IPropertyBag2* options, int jpegQuality) {
  VARIANT value{};
  value.vt = VT_R4;
  value.fltVal = static_cast<float>(jpegQuality) / 100.0f;
  AskFor(options, L"ImageQuality", value);
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

// The page as one frame of `encoder`. A book's checkpoint follows the frame's first row:
// Wine's TIFF encoder writes a page's directory when the next page starts (or the file ends),
// so the file is complete with the pages before this one once its first row is handed over.
HRESULT AddFrame(IWICBitmapEncoder* encoder, FrameRows* page, TW_UINT16 format, CheckedFileStream* stream,
                 bool checkpoint, int jpegQuality = kDefaultJpegQuality) {
  Held<IWICBitmapFrameEncode> frame;
  Held<IPropertyBag2> options;
  HRESULT hr = encoder->CreateNewFrame(frame.Out(), options.Out());
  if (FAILED(hr)) return hr;
  AskForFormat(options.Get(), format, page->Format(), jpegQuality);
  WICPixelFormatGUID pixels = PixelFormatOf(page->Format());
  if (FAILED(hr = frame->Initialize(options.Get())) ||
      FAILED(hr = frame->SetSize(page->Width(), page->Height())))
    return hr;
  if (page->XDpi() > 0 && page->YDpi() > 0 && FAILED(hr = frame->SetResolution(page->XDpi(), page->YDpi())))
    return hr;
  if (FAILED(hr = frame->SetPixelFormat(&pixels))) return hr;
  // An encoder that would convert the rows (Wine's JPEG makes black and white colour) is not
  // given them.
  if (!IsEqualGUID(pixels, PixelFormatOf(page->Format()))) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
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
      std::memcpy(band.get() + static_cast<size_t>(i) * bytes, row, bytes);
    }
    hr = frame->WritePixels(rows, bytes, bytes * rows, band.get());
    if (FAILED(hr)) return hr;
    if (stream->Failed()) return STG_E_MEDIUMFULL;
    if (y == 0 && checkpoint) stream->Checkpoint();
    y += rows;
  }
  return frame->Commit();
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// An encoder of `format` writing into `stream`.
HRESULT NewEncoder(IWICImagingFactory* factory, TW_UINT16 format, IStream* stream,
                   Held<IWICBitmapEncoder>* out) {
  HRESULT hr = factory->CreateEncoder(*ContainerOf(format), nullptr, out->Out());
  if (SUCCEEDED(hr)) hr = (*out)->Initialize(stream, WICBitmapEncoderNoCache);
  return hr;
}

}  // namespace

int16_t WriteFrameFile(FrameRows* page, TW_UINT16 format, const char* name, int jpegQuality) {
  Wic wic;
  if (!wic.Factory()) return kResultUnusablePage;
  CheckedFileStream* stream = CheckedFileStream::New();
  if (!stream) return kResultUnusablePage;
  if (!stream->Open(name)) {
    stream->Release();
    return kResultFileError;
  }
  HRESULT hr;
  {
    Held<IWICBitmapEncoder> encoder;
    hr = NewEncoder(wic.Factory(), format, stream, &encoder);
    if (SUCCEEDED(hr)) hr = AddFrame(encoder.Get(), page, format, stream, false, jpegQuality);
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    // What the encoder still writes as it goes, after a failure, is kept out of the file.
    stream->StopWrites();
  }
  const bool noMemory = stream->OutOfMemory();
  const bool written = !stream->Failed() && stream->Close();
  stream->Release();
  const int16_t result =
      noMemory || (written && FAILED(hr)) ? kResultUnusablePage : (written ? kResultOk : kResultFileError);
  if (result != kResultOk) DeleteFileA(name);
  return result;
}

int16_t WriteBmpParts(const char* name, std::vector<uint8_t> header, const PageFacts& facts, DWORD rowsSize,
                      const std::function<const uint8_t*(DWORD at, DWORD* piece)>& rows) {
  if (header.size() >= dib::kInfoHeader) {
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(header.data());
    if (h->biXPelsPerMeter <= 0 || h->biYPelsPerMeter <= 0) {
      h->biXPelsPerMeter = static_cast<LONG>(facts.xResolution / kInchesPerMeter + 0.5);
      h->biYPelsPerMeter = static_cast<LONG>(facts.yResolution / kInchesPerMeter + 0.5);
    }
  }
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = static_cast<DWORD>(sizeof fh + header.size());
  fh.bfSize = fh.bfOffBits + rowsSize;
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kResultFileError;
  int16_t result = 0;
  if (!WriteAll(file, &fh, sizeof fh) || !WriteAll(file, header.data(), static_cast<DWORD>(header.size())))
    result = kResultFileError;
  for (DWORD at = 0; result == 0 && at < rowsSize;) {
    DWORD piece = 0;
    const uint8_t* bytes = rows(at, &piece);
    if (!bytes || piece == 0) {
      result = kResultUnusablePage;
    } else if (!WriteAll(file, bytes, piece)) {
      result = kResultFileError;
    }
    at += piece;
  }
  if (!CloseHandle(file) && result == 0) result = kResultFileError;
  if (result != 0) DeleteFileA(name);
  return result;
}

namespace {

int16_t WriteEncodedPage(void* image, const PageFacts& facts, TW_UINT16 format, const char* name,
                         int jpegQuality) {
  PageRows page(image, facts, format != TWFF_JFIF);
  if (!page.Ok()) return kResultUnusablePage;
  return WriteFrameFile(&page, format, name, jpegQuality);
}

// A BMP file is a file header and the packed DIB: the checked header, table and rows go out
// as they are (a resolution of 0 is filled in from the facts).
int16_t WriteDibAsBmp(void* dib, const PageFacts& facts, const char* name) {
  const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
  if (!bytes) return kResultUnusablePage;
  dib::Layout l;
  int16_t result = kResultUnusablePage;
  if (dib::Check(bytes, GlobalSize(dib), &l) == dib::Fault::kNone) {
    const uint8_t* rows = bytes + l.rowsOffset;
    result = WriteBmpParts(name, std::vector<uint8_t>(bytes, bytes + l.rowsOffset), facts, l.rowsSize,
                           [&](DWORD at, DWORD* piece) {
                             *piece = l.rowsSize - at < kBmpWritePiece ? l.rowsSize - at : kBmpWritePiece;
                             return rows + at;
                           });
  }
  GlobalUnlock(dib);
  return result;
}

int16_t WriteBmp(void* image, const PageFacts& facts, const uint8_t* path) {
  const char* name = reinterpret_cast<const char*>(path);
  if (GetObjectType(static_cast<HGDIOBJ>(image)) != OBJ_BITMAP) return WriteDibAsBmp(image, facts, name);
  int16_t result = WriteBMPfile(name, image);
  if (result != 0) DeleteFileA(name);
  return result;
}

}  // namespace

int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path,
                      int jpegQuality) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (!image) return kResultUnusablePage;
    if (format == TWFF_BMP) return WriteBmp(image, facts, path);
    if (!ContainerOf(format) || format == TWFF_TIFFMULTI) return kResultUnusablePage;
    return WriteEncodedPage(image, facts, format, reinterpret_cast<const char*>(path), jpegQuality);
  });
}

// ---- multi-page TIFF: one TIFF encoder for the whole batch, each page a frame as it
// arrives; memory holds the page being written, whatever the batch's length. The file is
// created with the first page (a file of that name stays as it was until then).
struct PageBook {
  ~PageBook() {
    encoder.Reset();
    if (stream) stream->Release();
  }
  Wic wic;
  std::string name;
  CheckedFileStream* stream = nullptr;  // from the first page on
  Held<IWICBitmapEncoder> encoder;
  int pages = 0;
  int16_t ended = 0;  // the failure that ended the book, which every later page answers
};

namespace {

// Whether a file of that name can be written, without changing one that exists.
bool Writable(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  CloseHandle(file);
  if (!existed) DeleteFileA(name);
  return true;
}

// The pages of the TIFF in `stream`, as WIC's decoder reads them (0: not a TIFF it can read).
int PagesIn(IWICImagingFactory* factory, IStream* stream) {
  LARGE_INTEGER start{};
  Held<IWICBitmapDecoder> decoder;
  UINT frames = 0;
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
      FAILED(factory->CreateDecoder(GUID_ContainerFormatTiff, nullptr, decoder.Out())) ||
      FAILED(decoder->Initialize(stream, WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrameCount(&frames))) {
    return 0;
  }
  return static_cast<int>(frames);
}

// Ends the book's file: the encoder goes (what it still writes is kept out), a failed book
// goes back to its last complete state, and the pages are those the file holds, read back.
// A file without a page is removed. `failure`: 0 after the encoder's own end.
int16_t SettleBook(PageBook* book, int16_t failure) {
  CheckedFileStream* stream = book->stream;
  stream->StopWrites();
  book->encoder.Reset();
  if (failure != 0 || stream->Failed()) {
    if (failure == 0) failure = stream->OutOfMemory() ? kResultUnusablePage : kResultFileError;
    if (!stream->Rollback()) failure = kResultFileError;
  }
  const int held = PagesIn(book->wic.Factory(), stream);
  if (held != book->pages && failure == 0) failure = kResultFileError;
  book->pages = held;
  if (!stream->Close() && failure == 0) failure = kResultFileError;
  stream->Release();
  book->stream = nullptr;
  if (held == 0) DeleteFileA(book->name.c_str());
  book->ended = failure != 0 ? failure : kResultFileError;
  return failure;
}

int16_t AddFrameToBook(PageBook* book, FrameRows* page) {
  if (book->ended) return book->ended;
  if (!book->stream) {
    book->stream = CheckedFileStream::New();
    if (!book->stream) return kResultUnusablePage;  // the book goes on
    if (!book->stream->Open(book->name.c_str())) {
      book->stream->Release();
      book->stream = nullptr;
      return book->ended = kResultFileError;
    }
    if (FAILED(NewEncoder(book->wic.Factory(), TWFF_TIFFMULTI, book->stream, &book->encoder)))
      return SettleBook(book, kResultUnusablePage);
  }
  const HRESULT hr = AddFrame(book->encoder.Get(), page, TWFF_TIFFMULTI, book->stream, true);
  if (book->stream->OutOfMemory()) return SettleBook(book, kResultUnusablePage);
  if (book->stream->Failed()) return SettleBook(book, kResultFileError);
  if (FAILED(hr)) return SettleBook(book, kResultUnusablePage);
  ++book->pages;
  return kResultOk;
}

}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  PageBook* book = nullptr;
  *result = AnswerWithoutThrowing([&]() -> int16_t {
    const char* name = reinterpret_cast<const char*>(path);
    if (!Writable(name)) return kResultFileError;
    book = new PageBook;
    book->name = name;
    return book->wic.Factory() ? kResultOk : kResultUnusablePage;
  });
  if (*result != kResultOk) {
    delete book;
    book = nullptr;
  }
  return book;
}

int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (book->ended) return book->ended;
    PageRows page(image, facts, true);
    if (!page.Ok()) return kResultUnusablePage;  // left out; the book goes on
    return AddFrameToBook(book, &page);
  });
}

int16_t AddBookFrame(PageBook* book, FrameRows* rows) {
  return AnswerWithoutThrowing([&] { return AddFrameToBook(book, rows); });
}

int16_t ClosePageBook(PageBook* book, int* pages) {
  const int16_t result = AnswerWithoutThrowing([&]() -> int16_t {
    if (!book->stream) return kResultOk;
    const HRESULT hr = book->encoder->Commit();
    return SettleBook(book, FAILED(hr) ? kResultFileError : kResultOk);
  });
  if (pages) *pages = book->pages;
  delete book;
  return result;
}

int PageBookCount(const PageBook* book) { return book->pages; }

// ---- JPEG into memory (the pages of a PDF): WIC's encoder into a stream on global memory,
// the rows handed over in bands as grey or blue-green-red.
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
  std::unique_ptr<BYTE[]> band(new (std::nothrow) BYTE[static_cast<size_t>(bytes) * kBandRows]);
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

int16_t EncodeJpeg(PagePixels& page, int quality, ByteRun* jpeg) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (page.Format() == PixelFormat::kBlackWhite) return kResultUnusablePage;
    Wic wic;
    Held<IStream> stream;
    if (!wic.Factory() || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Out()))) return kResultUnusablePage;
    if (FAILED(EncodeJpegFrame(wic.Factory(), page, quality, stream.Get()))) return kResultUnusablePage;
    STATSTG stat{};
    HGLOBAL memory = nullptr;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream.Get(), &memory)))
      return kResultUnusablePage;
    if (stat.cbSize.QuadPart == 0 || !jpeg->Resize(static_cast<size_t>(stat.cbSize.QuadPart)))
      return kResultUnusablePage;
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(memory));
    if (!bytes) return kResultUnusablePage;
    std::memcpy(jpeg->Data(), bytes, jpeg->Size());
    GlobalUnlock(memory);
    return kResultOk;
  });
}
