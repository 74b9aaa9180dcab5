// One page as a file on Windows: PNG, JPEG and TIFF are written by WIC (wic_frame.h) into a
// CheckedFileStream over the file; a failed write (a full disk) is found in the stream,
// whatever the encoder answers, and the file is removed. A BMP file is the checked DIB itself
// behind a file header, or a RowPage's rows behind the header of a top-down DIB.
#include <windows.h>

#include <functional>
#include <vector>

#include "host/host_kit.h"
#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/bitmaps.h"
#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"
#include "platform/windows/row_page_store.h"
#include "platform/windows/wic.h"
#include "platform/windows/wic_frame.h"
#include "twain/result_codes.h"

namespace {

constexpr double kInchesPerMeter = 0.0254;

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
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
  const uint8_t* bytes = static_cast<const uint8_t*>(LockXPHandle(dib));
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
  UnlockXPHandle(dib);
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

namespace {

uint32_t TableEntries(uint16_t bits) { return bits == 1 ? 2 : bits == 8 ? 256 : 0; }

// The DIB header and colour table of the page's first `rows` rows, top-down.
std::vector<uint8_t> DibHeader(const RowPage* page, uint32_t rows) {
  const uint32_t entries = TableEntries(page->bits);
  std::vector<uint8_t> bytes(sizeof(BITMAPINFOHEADER) + entries * sizeof(RGBQUAD));
  auto* header = reinterpret_cast<BITMAPINFOHEADER*>(bytes.data());
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = static_cast<LONG>(page->width);
  header->biHeight = -static_cast<LONG>(rows);
  header->biPlanes = 1;
  header->biBitCount = page->bits;
  header->biCompression = BI_RGB;
  header->biSizeImage = page->stride * rows;
  header->biClrUsed = entries;
  auto* table = reinterpret_cast<RGBQUAD*>(header + 1);
  for (uint32_t i = 0; i < entries; ++i) {
    const BYTE level = static_cast<BYTE>(entries == 2 ? i * 255 : i);
    table[i] = RGBQUAD{level, level, level, 0};
  }
  return bytes;
}

// The page's rows as a BMP file: a window's worth of whole rows at a time.
int16_t WriteRowPageBmp(RowPage* page, uint32_t rows, const PageFacts& facts, const char* name) {
  const uint64_t size = uint64_t(page->stride) * rows;
  if (size > 0x7FFFFFFF) return kResultUnusablePage;
  return WriteBmpParts(name, DibHeader(page, rows), facts, static_cast<DWORD>(size),
                       [&](DWORD at, DWORD* piece) -> const uint8_t* {
                         const uint32_t y = at / page->stride;
                         const uint8_t* row = ReadRow(page, y);
                         // The window holds row y and those after it up to its end or the page's.
                         const uint32_t last =
                             page->base + page->capacity < rows ? page->base + page->capacity : rows;
                         *piece = (last - y) * page->stride;
                         return row;
                       });
}

}  // namespace

int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (rows == 0 || rows > page->rows) return kResultUnusablePage;
    const char* name = reinterpret_cast<const char*>(path);
    if (format == TWFF_BMP) return WriteRowPageBmp(page, rows, facts, name);
    if (format != TWFF_PNG && format != TWFF_TIFF && format != TWFF_JFIF) return kResultUnusablePage;
    SpooledRows frame(page, rows, facts, format != TWFF_JFIF);
    return WriteFrameFile(&frame, format, name, jpegQuality);
  });
}
