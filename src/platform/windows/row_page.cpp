// Windows: a page that arrives in rows is assembled as a packed top-down DIB in global
// memory, 1-bit pages with a black-and-white table, 8-bit pages with 256 greys, and handed to
// the page writers as a source's DIB would be. ByteFiles are plain Win32 files.
#include <windows.h>

#include <cstring>
#include <new>

#include "acquire/image_files.h"
#include "twain/result_codes.h"

struct RowPage {
  HGLOBAL dib = nullptr;
  uint32_t width = 0;
  uint16_t bits = 0;
  uint32_t stride = 0;      // bytes a row, a multiple of 4
  uint32_t rowsOffset = 0;  // header and colour table
  uint32_t capacity = 0;    // rows the block has room for
  uint32_t rows = 0;        // rows made so far
};

namespace {

constexpr uint32_t kFirstRows = 256;  // room made for a page of unknown length, doubled as it grows

uint32_t TableEntries(uint16_t bits) { return bits == 1 ? 2 : bits == 8 ? 256 : 0; }

bool Grow(RowPage* page, uint32_t rows) {
  const uint64_t bytes = uint64_t(page->rowsOffset) + uint64_t(page->stride) * rows;
  if (bytes > 0x7FFFFFFF) return false;
  // A fixed block: its handle is its address, which a reallocation may move.
  HGLOBAL grown = page->dib ? GlobalReAlloc(page->dib, static_cast<SIZE_T>(bytes), GMEM_MOVEABLE)
                            : GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(bytes));
  if (!grown) return false;
  page->dib = grown;
  page->capacity = rows;
  return true;
}

// The header with the rows made so far (the block's first `rows` rows).
bool Finish(RowPage* page, uint32_t rows) {
  if (rows == 0 || rows > page->rows) return false;
  auto* header = static_cast<BITMAPINFOHEADER*>(page->dib);
  header->biHeight = -static_cast<LONG>(rows);
  header->biSizeImage = page->stride * rows;
  return true;
}

}  // namespace

RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows) {
  RowPage* page = IsRowPageShape(width, bitsPerPixel) ? new (std::nothrow) RowPage : nullptr;
  if (!page) return nullptr;
  page->width = width;
  page->bits = bitsPerPixel;
  page->stride = static_cast<uint32_t>(((uint64_t(width) * bitsPerPixel + 31) / 32) * 4);
  const uint32_t entries = TableEntries(bitsPerPixel);
  page->rowsOffset = sizeof(BITMAPINFOHEADER) + entries * sizeof(RGBQUAD);
  if (!Grow(page, expectedRows > 0 ? expectedRows : kFirstRows)) {
    FreeRowPage(page);
    return nullptr;
  }
  auto* header = static_cast<BITMAPINFOHEADER*>(page->dib);
  std::memset(header, 0, page->rowsOffset);
  header->biSize = sizeof(BITMAPINFOHEADER);
  header->biWidth = static_cast<LONG>(width);
  header->biPlanes = 1;
  header->biBitCount = bitsPerPixel;
  header->biCompression = BI_RGB;
  header->biClrUsed = entries;
  auto* table = reinterpret_cast<RGBQUAD*>(header + 1);
  for (uint32_t i = 0; i < entries; ++i) {
    const BYTE level = static_cast<BYTE>(entries == 2 ? i * 255 : i);
    table[i] = RGBQUAD{level, level, level, 0};
  }
  return page;
}

void FreeRowPage(RowPage* page) {
  if (!page) return;
  if (page->dib) GlobalFree(page->dib);
  delete page;
}

uint8_t* RowPageRow(RowPage* page, uint32_t y) {
  if (y >= page->capacity && !Grow(page, RowPageGrowth(page->capacity, y))) return nullptr;
  uint8_t* base = static_cast<uint8_t*>(page->dib);
  for (; page->rows <= y; ++page->rows)
    std::memset(base + page->rowsOffset + size_t(page->stride) * page->rows, 0xFF, page->stride);
  return base + page->rowsOffset + size_t(page->stride) * y;
}

RowPageSize RowPageSizeOf(const RowPage* page) { return RowPageSize{page->width, page->bits, page->rows}; }

int16_t WriteRowPageFile(RowPage* page, uint32_t rows, const PageFacts& facts, TW_UINT16 format,
                         const uint8_t* path, int jpegQuality) {
  if (!Finish(page, rows)) return kResultNoMemory;
  return WritePageFile(page->dib, facts, format, path, jpegQuality);
}

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  if (!Finish(page, rows)) return kResultNoMemory;
  return AddBookPage(book, page->dib, facts);
}

// ---- ByteFile

struct ByteFile {
  HANDLE file = INVALID_HANDLE_VALUE;
  char name[258] = {};
  bool failed = false;
};

ByteFile* CreateByteFile(const uint8_t* path, TW_UINT16, int16_t* result) {
  ByteFile* f = new (std::nothrow) ByteFile;
  if (!f) {
    *result = kResultNoMemory;
    return nullptr;
  }
  std::strncpy(f->name, reinterpret_cast<const char*>(path), sizeof f->name - 1);
  f->file = CreateFileA(f->name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f->file == INVALID_HANDLE_VALUE) {
    delete f;
    *result = kResultFileError;
    return nullptr;
  }
  *result = 0;
  return f;
}

int16_t AppendByteFile(ByteFile* f, const void* bytes, size_t size) {
  const uint8_t* at = static_cast<const uint8_t*>(bytes);
  while (!f->failed && size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    if (!WriteFile(f->file, at, chunk, &written, nullptr) || written != chunk) f->failed = true;
    at += chunk;
    size -= chunk;
  }
  return f->failed ? kResultFileError : 0;
}

int16_t CutByteFile(ByteFile* f, uint64_t length) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(length);
  const bool cut = SetFilePointerEx(f->file, at, nullptr, FILE_BEGIN) && SetEndOfFile(f->file);
  f->failed = !cut;
  return cut ? 0 : kResultFileError;
}

int16_t CloseByteFile(ByteFile* f, bool keep) {
  const bool closed = CloseHandle(f->file) != 0;
  const bool kept = keep && closed && !f->failed;
  if (!kept) DeleteFileA(f->name);
  const int16_t r = keep && !kept ? kResultFileError : 0;
  delete f;
  return r;
}
