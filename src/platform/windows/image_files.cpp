// The Windows page writers: GDI+ encodes PNG, JPEG and TIFF (one page, or every page of a
// batch through SaveAdd), from the packed DIB after its check, or from the device bitmap a
// source handed over instead. A BMP file is the checked DIB itself behind a file header.
//
// A DIB of 1, 4, 8, 16, 24 or 32 bits without compression becomes a GDI+ bitmap over its own
// rows (bottom-up rows through a negative stride) with its own colour table, so each page
// keeps its depth: 1-bit pages stay 1 bit, 8-bit grey pages 8 bits. Compressed DIBs and
// device bitmaps go through the display's conversion and are written as 24-bit colour.
//
// Under Wine 8.0, GDI+ writes TIFF uncompressed whatever compression it is asked for, and
// JPEG at its own quality (it ignores EncoderQuality): the parameters stay what Windows needs.
#include <windows.h>
// gdiplus.h needs the types of windows.h.
#include <gdiplus.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "acquire/image_files.h"
#include "acquire/image_platform.h"
#include "platform/windows/bitmaps.h"
#include "twain/result_codes.h"

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpImage;
using Gdiplus::GpStatus;

namespace {

constexpr double kInchesPerMeter = 0.0254;
constexpr ULONG kJpegQuality = 85;

// GDI+ for as long as one writer runs (it must not be started from DllMain, so it is started
// here, where it is used).
class GdiplusRun {
 public:
  GdiplusRun() {
    Gdiplus::GdiplusStartupInput input;
    ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusRun() {
    if (ok_) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusRun(const GdiplusRun&) = delete;
  GdiplusRun& operator=(const GdiplusRun&) = delete;
  bool Ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

bool EncoderFor(const WCHAR* mimeType, CLSID* clsid) {
  UINT count = 0, bytes = 0;
  if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
  std::vector<BYTE> block(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(block.data());
  if (gp::GdipGetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    if (std::wcscmp(codecs[i].MimeType, mimeType) == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

const WCHAR* MimeTypeOf(TW_UINT16 format) {
  switch (format) {
    case TWFF_PNG:
      return L"image/png";
    case TWFF_JFIF:
      return L"image/jpeg";
    case TWFF_TIFF:
    case TWFF_TIFFMULTI:
      return L"image/tiff";
    default:
      return nullptr;
  }
}

// Encoder parameters of up to two long values: EncoderParameters declares one entry and the
// others follow it in the same block.
class Parameters {
 public:
  Parameters() { std::memset(block_, 0, sizeof block_); }
  Gdiplus::EncoderParameters* List() { return reinterpret_cast<Gdiplus::EncoderParameters*>(block_); }
  void Add(const GUID& guid, ULONG value) {
    const UINT i = List()->Count++;
    values_[i] = value;
    auto* entries =
        reinterpret_cast<Gdiplus::EncoderParameter*>(block_ + offsetof(Gdiplus::EncoderParameters, Parameter));
    entries[i].Guid = guid;
    entries[i].NumberOfValues = 1;
    entries[i].Type = Gdiplus::EncoderParameterValueTypeLong;
    entries[i].Value = &values_[i];
  }

 private:
  alignas(Gdiplus::EncoderParameters)
      BYTE block_[sizeof(Gdiplus::EncoderParameters) + sizeof(Gdiplus::EncoderParameter)];
  ULONG values_[2];
};

// What each format asks of its encoder: JPEG's quality; TIFF's compression (CCITT Group 4
// for a 1-bit page, LZW for the others); for a page of a multi-page TIFF, the save flag.
void FormatParameters(TW_UINT16 format, bool oneBit, Parameters* p) {
  if (format == TWFF_JFIF) p->Add(Gdiplus::EncoderQuality, kJpegQuality);
  if (format == TWFF_TIFF || format == TWFF_TIFFMULTI) {
    p->Add(Gdiplus::EncoderCompression,
           oneBit ? Gdiplus::EncoderValueCompressionCCITT4 : Gdiplus::EncoderValueCompressionLZW);
  }
}

// A GDI+ status of a save: the file could not be created or written (8), or the page could
// not be encoded (2).
int16_t SaveResult(GpStatus status) {
  switch (status) {
    case Gdiplus::Ok:
      return 0;
    case Gdiplus::Win32Error:
    case Gdiplus::AccessDenied:
    case Gdiplus::FileNotFound:
      return kResultFileError;
    default:
      return kResultNoMemory;
  }
}

// A DIB's resolution in whole pixels a metre holds dots per inch to within 0.013: rounded to
// hundredths, 3937 is 100 dpi again (Wine's JPEG encoder cuts 99.9998 down to 99).
double DotsPerInch(LONG pelsPerMeter) {
  return pelsPerMeter > 0 ? std::round(pelsPerMeter * kInchesPerMeter * 100) / 100 : 0;
}

Gdiplus::PixelFormat DirectFormat(const dib::Layout& l) {
  if (l.compression != dib::kRgb) return 0;
  switch (l.bitCount) {
    case 1:
      return PixelFormat1bppIndexed;
    case 4:
      return PixelFormat4bppIndexed;
    case 8:
      return PixelFormat8bppIndexed;
    case 16:
      return PixelFormat16bppRGB555;
    case 24:
      return PixelFormat24bppRGB;
    case 32:
      return PixelFormat32bppRGB;
    default:
      return 0;
  }
}

// The colour table of a checked DIB as a GDI+ palette of 2 to the bit count entries (entries
// the table does not have are black).
bool SetPalette(GpBitmap* bitmap, const uint8_t* dibBytes, const dib::Layout& l) {
  const UINT entries = 1u << l.bitCount;
  std::vector<BYTE> block(sizeof(Gdiplus::ColorPalette) + entries * sizeof(Gdiplus::ARGB));
  auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(block.data());
  palette->Count = entries;
  bool grey = true;
  const uint8_t* entry = dibBytes + l.tableOffset;
  for (UINT i = 0; i < entries; ++i) {
    uint8_t b = 0, g = 0, r = 0;
    if (i < l.colorCount) {
      b = entry[0];
      g = entry[1];
      r = entry[2];
      entry += l.tableEntrySize;
    }
    grey = grey && r == g && g == b;
    palette->Entries[i] = 0xFF000000u | (UINT(r) << 16) | (UINT(g) << 8) | b;
  }
  palette->Flags = grey ? Gdiplus::PaletteFlagsGrayScale : 0;
  return gp::GdipSetImagePalette(bitmap, palette) == Gdiplus::Ok;
}

// A page as a GDI+ bitmap: over the DIB's own rows while the page lives (the DIB stays
// locked), or a 24-bit copy of a device bitmap. Resolution: the DIB's, else the facts'.
class PageBitmap {
 public:
  PageBitmap(void* image, const PageFacts& facts) {
    if (!image) return;
    if (GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP) {
      FromDeviceBitmap(static_cast<HBITMAP>(image));
    } else {
      FromDib(image);
    }
    if (!bitmap_) return;
    xDpi_ = Resolution(xDpi_, facts.xResolution);
    yDpi_ = Resolution(yDpi_, facts.yResolution);
    if (!SetResolution(bitmap_)) Release();
  }
  ~PageBitmap() { Release(); }
  PageBitmap(const PageBitmap&) = delete;
  PageBitmap& operator=(const PageBitmap&) = delete;

  GpImage* Image() const { return bitmap_; }
  bool OneBit() const { return oneBit_; }

 private:
  // The image's own resolution; the facts' where it has none, or where they are the same
  // resolution stated more exactly (a DIB's whole pixels a metre hold 150 dpi as 150.0124).
  static double Resolution(double own, double facts) {
    if (!(own > 0) || (facts > 0 && std::fabs(own - facts) <= kInchesPerMeter / 2)) return facts;
    return own;
  }
  bool SetResolution(GpBitmap* bitmap) const {
    return !(xDpi_ > 0 && yDpi_ > 0) ||
           gp::GdipBitmapSetResolution(bitmap, static_cast<Gdiplus::REAL>(xDpi_),
                                       static_cast<Gdiplus::REAL>(yDpi_)) == Gdiplus::Ok;
  }

  void FromDib(void* dib) {
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    if (!bytes) return;
    locked_ = dib;
    dib::Layout l;
    if (dib::Check(bytes, GlobalSize(dib), &l) != dib::Fault::kNone) return;
    if (l.headerSize >= dib::kInfoHeader) {
      const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
      xDpi_ = DotsPerInch(h->biXPelsPerMeter);
      yDpi_ = DotsPerInch(h->biYPelsPerMeter);
    }
    const Gdiplus::PixelFormat format = DirectFormat(l);
    if (format == 0) {
      // What GDI+ cannot take as it is goes through the display's conversion.
      HBITMAP converted = static_cast<HBITMAP>(DIBToDeviceBitmap(dib));
      if (converted) FromDeviceBitmap(converted);
      DeleteDeviceBitmap(converted);
      return;
    }
    BYTE* rows = const_cast<BYTE*>(bytes + l.rowsOffset);
    INT stride = static_cast<INT>(l.stride);
    if (!l.topDown) {
      rows += static_cast<size_t>(l.stride) * (l.height - 1);
      stride = -stride;
    }
    GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromScan0(static_cast<INT>(l.width), static_cast<INT>(l.height), stride, format,
                                      rows, &bitmap) != Gdiplus::Ok) {
      return;
    }
    bitmap_ = bitmap;
    oneBit_ = l.bitCount == 1;
    if (l.bitCount <= 8 && !SetPalette(bitmap_, bytes, l)) Release();
  }

  void FromDeviceBitmap(HBITMAP device) {
    GpBitmap* wrapped = nullptr;
    if (gp::GdipCreateBitmapFromHBITMAP(device, nullptr, &wrapped) != Gdiplus::Ok) return;
    UINT w = 0, h = 0;
    GpBitmap* copy = nullptr;
    if (gp::GdipGetImageWidth(wrapped, &w) == Gdiplus::Ok &&
        gp::GdipGetImageHeight(wrapped, &h) == Gdiplus::Ok &&
        gp::GdipCloneBitmapAreaI(0, 0, static_cast<INT>(w), static_cast<INT>(h), PixelFormat24bppRGB, wrapped,
                                 &copy) == Gdiplus::Ok) {
      bitmap_ = copy;
    }
    gp::GdipDisposeImage(wrapped);
  }

  void Release() {
    if (bitmap_) gp::GdipDisposeImage(bitmap_);
    bitmap_ = nullptr;
    if (locked_) GlobalUnlock(locked_);
    locked_ = nullptr;
  }

  GpBitmap* bitmap_ = nullptr;
  void* locked_ = nullptr;
  bool oneBit_ = false;
  double xDpi_ = 0, yDpi_ = 0;
};

// The host's path as GDI+ takes it (the ANSI code page, as CreateFileA reads it).
std::vector<WCHAR> WidePath(const uint8_t* path) {
  const char* name = reinterpret_cast<const char*>(path);
  int n = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  std::vector<WCHAR> wide(n > 0 ? n : 1, 0);
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), n);
  return wide;
}

void RemoveFile(const uint8_t* path) { DeleteFileA(reinterpret_cast<const char*>(path)); }

// Creates (or empties) the file, so that a name that cannot be written answers 8 before GDI+
// is asked: GDI+ reports a missing folder as a generic failure.
bool CreatableFile(const uint8_t* path) {
  HANDLE file = CreateFileA(reinterpret_cast<const char*>(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// The bytes GDI+ encoded into `stream` (an HGLOBAL stream) as the file; 0, 2 or 8.
int16_t WriteEncoded(IStream* stream, const uint8_t* path) {
  HGLOBAL block = nullptr;
  STATSTG stat;
  if (GetHGlobalFromStream(stream, &block) != S_OK || stream->Stat(&stat, STATFLAG_NONAME) != S_OK) {
    return kResultNoMemory;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(block));
  if (!bytes) return kResultNoMemory;
  HANDLE file = CreateFileA(reinterpret_cast<const char*>(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE;
  for (ULONGLONG at = 0, size = stat.cbSize.QuadPart; ok && at < size;) {
    const DWORD piece = size - at < kBmpWritePiece ? static_cast<DWORD>(size - at) : kBmpWritePiece;
    ok = WriteAll(file, bytes + at, piece);
    at += piece;
  }
  if (file != INVALID_HANDLE_VALUE && !CloseHandle(file)) ok = false;
  GlobalUnlock(block);
  return ok ? 0 : kResultFileError;
}

// A BMP file is a file header and the packed DIB: the checked header, table and rows go out
// as they are (a resolution of 0 is filled in from the facts).
int16_t WriteDibAsBmp(void* dib, const PageFacts& facts, const char* name) {
  const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
  if (!bytes) return kResultNoMemory;
  dib::Layout l;
  if (dib::Check(bytes, GlobalSize(dib), &l) != dib::Fault::kNone) {
    GlobalUnlock(dib);
    return kResultNoMemory;
  }
  const DWORD dibBytes = l.rowsOffset + l.rowsSize;
  std::vector<uint8_t> header(bytes, bytes + l.rowsOffset);
  if (l.headerSize >= dib::kInfoHeader) {
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(header.data());
    if (h->biXPelsPerMeter <= 0 || h->biYPelsPerMeter <= 0) {
      h->biXPelsPerMeter = static_cast<LONG>(facts.xResolution / kInchesPerMeter + 0.5);
      h->biYPelsPerMeter = static_cast<LONG>(facts.yResolution / kInchesPerMeter + 0.5);
    }
  }
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + l.rowsOffset;
  fh.bfSize = sizeof fh + dibBytes;
  int16_t result = 0;
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result = kResultFileError;
  } else {
    const uint8_t* at = bytes + l.rowsOffset;
    DWORD left = l.rowsSize;
    bool ok =
        WriteAll(file, &fh, sizeof fh) && WriteAll(file, header.data(), static_cast<DWORD>(header.size()));
    while (ok && left > 0) {
      DWORD piece = left < kBmpWritePiece ? left : kBmpWritePiece;
      ok = WriteAll(file, at, piece);
      at += piece;
      left -= piece;
    }
    if (!CloseHandle(file)) ok = false;
    if (!ok) {
      result = kResultFileError;
      DeleteFileA(name);
    }
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

int16_t WritePageFile(void* image, const PageFacts& facts, TW_UINT16 format, const uint8_t* path) {
  if (!image) return kResultNoMemory;
  if (format == TWFF_BMP) return WriteBmp(image, facts, path);
  const WCHAR* mime = MimeTypeOf(format);
  if (!mime || format == TWFF_TIFFMULTI) return kResultNoMemory;
  GdiplusRun gdiplus;
  CLSID encoder;
  if (!gdiplus.Ok() || !EncoderFor(mime, &encoder)) return kResultNoMemory;
  PageBitmap page(image, facts);
  if (!page.Image()) return kResultNoMemory;
  if (!CreatableFile(path)) return kResultFileError;
  Parameters parameters;
  FormatParameters(format, page.OneBit(), &parameters);
  // Encoded into memory first, then written here: Wine's TIFF encoder writing to a file that
  // fills up reports success with half a file, or crashes.
  IStream* stream = nullptr;
  int16_t result = kResultNoMemory;
  if (CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK) {
    result = SaveResult(gp::GdipSaveImageToStream(page.Image(), stream, &encoder, parameters.List()));
    if (result == 0) result = WriteEncoded(stream, path);
    stream->Release();
  }
  if (result != 0) RemoveFile(path);
  return result;
}

// ---- multi-page TIFF: the first page is saved with the multi-frame flag, each later one is
// added with SaveAddImage, and a flush ends the file. GDI+ keeps the first page's image for
// the file's whole life: the book holds a copy of the first DIB with its bitmap (one page,
// however long the batch; Wine's GdipCloneImage loses the last pixels of 1-bit rows, so the
// DIB is copied instead of the bitmap). A device bitmap's page is a copy already.
struct PageBook {
  ~PageBook() {
    delete first;  // before the DIB it reads
    if (firstDib) GlobalFree(firstDib);
  }
  GdiplusRun gdiplus;
  std::vector<uint8_t> path;  // NUL-terminated
  CLSID encoder{};
  HGLOBAL firstDib = nullptr;
  PageBitmap* first = nullptr;
  int pages = 0;
  bool broken = false;  // a write failed: no more pages
};

namespace {
// A copy of a DIB block that the book keeps; a device bitmap as it is (null when out of memory).
void* KeptImage(void* image, HGLOBAL* copy) {
  *copy = nullptr;
  if (!image || GetObjectType(static_cast<HGDIOBJ>(image)) == OBJ_BITMAP) return image;
  const SIZE_T size = GlobalSize(image);
  const void* from = GlobalLock(image);
  HGLOBAL block = from ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
  void* to = block ? GlobalLock(block) : nullptr;
  if (to) {
    std::memcpy(to, from, size);
    GlobalUnlock(block);
  } else if (block) {
    GlobalFree(block);
    block = nullptr;
  }
  if (from) GlobalUnlock(image);
  *copy = block;
  return block;
}
}  // namespace

PageBook* OpenPageBook(const uint8_t* path, int16_t* result) {
  const char* name = reinterpret_cast<const char*>(path);
  // The file must be creatable now, as for every other writer; it exists once a page is in.
  if (!CreatableFile(path)) {
    *result = kResultFileError;
    return nullptr;
  }
  DeleteFileA(name);
  auto* book = new (std::nothrow) PageBook;
  if (!book || !book->gdiplus.Ok() || !EncoderFor(L"image/tiff", &book->encoder)) {
    delete book;
    *result = kResultNoMemory;
    return nullptr;
  }
  book->path.assign(path, path + std::strlen(name) + 1);
  *result = 0;
  return book;
}

int16_t AddBookPage(PageBook* book, void* image, const PageFacts& facts) {
  if (book->broken) return kResultFileError;
  if (book->pages == 0) {
    HGLOBAL copy = nullptr;
    void* kept = KeptImage(image, &copy);
    auto* first = kept ? new (std::nothrow) PageBitmap(kept, facts) : nullptr;
    if (!first || !first->Image()) {
      delete first;
      if (copy) GlobalFree(copy);
      return kResultNoMemory;
    }
    Parameters parameters;
    FormatParameters(TWFF_TIFFMULTI, first->OneBit(), &parameters);
    parameters.Add(Gdiplus::EncoderSaveFlag, Gdiplus::EncoderValueMultiFrame);
    std::vector<WCHAR> name = WidePath(book->path.data());
    int16_t result =
        SaveResult(gp::GdipSaveImageToFile(first->Image(), name.data(), &book->encoder, parameters.List()));
    if (result != 0) {
      delete first;
      if (copy) GlobalFree(copy);
      RemoveFile(book->path.data());
      book->broken = result == kResultFileError;
      return result;
    }
    book->first = first;
    book->firstDib = copy;
  } else {
    PageBitmap page(image, facts);
    if (!page.Image()) return kResultNoMemory;
    Parameters parameters;
    FormatParameters(TWFF_TIFFMULTI, page.OneBit(), &parameters);
    parameters.Add(Gdiplus::EncoderSaveFlag, Gdiplus::EncoderValueFrameDimensionPage);
    int16_t result = SaveResult(gp::GdipSaveAddImage(book->first->Image(), page.Image(), parameters.List()));
    if (result != 0) {
      book->broken = result == kResultFileError;
      return result;
    }
  }
  ++book->pages;
  return 0;
}

int16_t ClosePageBook(PageBook* book) {
  int16_t result = 0;
  if (book->first) {
    Parameters flush;
    flush.Add(Gdiplus::EncoderSaveFlag, Gdiplus::EncoderValueFlush);
    result = SaveResult(gp::GdipSaveAdd(book->first->Image(), flush.List()));
    if (result != 0) result = kResultFileError;
    if (result != 0 && book->pages <= 1) RemoveFile(book->path.data());
  }
  delete book;
  return result;
}

int PageBookCount(const PageBook* book) { return book->pages; }
