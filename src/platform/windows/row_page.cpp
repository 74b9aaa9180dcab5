// Windows: a page that arrives in rows never stands whole in memory. Its rows are kept in a
// window of about a megabyte; rows that leave the window go to a spool file of their own (the
// temporary folder's, deleted when closed), and come back into it when a strip goes back to
// them. Once the page has ended, the writers read it back a window at a time: a WIC frame,
// whose size is fixed before its first row, so gets the page's real height whatever was
// announced (a page that ends short or runs long, or of unknown length), and a BMP file its
// header and rows. Without a spool file (none can be made) the window grows to the whole page.
//
// Rows are those of a top-down DIB: 1-bit with black then white in the table, 8-bit grey,
// 24-bit blue-green-red, each padded to 4 bytes. ByteFiles are plain Win32 files.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "image/image_platform.h"
#include "image/no_throw.h"
#include "platform/windows/page_rows.h"
#include "twain/result_codes.h"

namespace {

constexpr uint32_t kWindowBytes = 1u << 20;
constexpr uint32_t kFirstRows = 256;  // without a spool, for a page of unknown length

}  // namespace

struct RowPage {
  ~RowPage() {
    if (spool != INVALID_HANDLE_VALUE) CloseHandle(spool);  // deletes it
    std::free(window);
  }
  uint32_t width = 0;
  uint16_t bits = 0;
  uint32_t stride = 0;  // bytes a row, a multiple of 4
  uint32_t rows = 0;    // rows made so far (white until a strip fills them)
  HANDLE spool = INVALID_HANDLE_VALUE;
  uint8_t* window = nullptr;
  uint32_t base = 0;      // the window's first row
  uint32_t capacity = 0;  // rows the window holds
  bool dirty = false;     // the window holds rows the spool does not
};

namespace {

uint32_t TableEntries(uint16_t bits) { return bits == 1 ? 2 : bits == 8 ? 256 : 0; }

// A file in the temporary folder that only this page sees and that goes when it is closed.
HANDLE NewSpool() {
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "kvr", 0, name) == 0)
    return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) DeleteFileA(name);
  return file;
}

// Rows [from, from + count) of the spool, from or into the window.
bool SpoolRows(RowPage* page, uint32_t from, uint32_t count, bool write) {
  if (count == 0) return true;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(from) * page->stride;
  if (!SetFilePointerEx(page->spool, at, nullptr, FILE_BEGIN)) return false;
  const uint64_t total = uint64_t(count) * page->stride;  // at most the window's bytes
  DWORD done = 0;
  const DWORD size = static_cast<DWORD>(total);
  const bool ok = write ? WriteFile(page->spool, page->window, size, &done, nullptr)
                        : ReadFile(page->spool, page->window, size, &done, nullptr);
  return ok && done == size;
}

// The window's rows that were made, to the spool, unless it holds them already.
bool FlushWindow(RowPage* page) {
  if (!page->dirty || page->base >= page->rows) return true;
  const uint32_t end = page->rows - page->base < page->capacity ? page->rows : page->base + page->capacity;
  if (!SpoolRows(page, page->base, end - page->base, true)) return false;
  page->dirty = false;
  return true;
}

// The window moved to start at row y (at most the rows made), with the rows made after it
// read back.
bool MoveWindow(RowPage* page, uint32_t y) {
  if (!FlushWindow(page)) return false;
  page->base = y;
  const uint32_t made = page->rows - y < page->capacity ? page->rows - y : page->capacity;
  return SpoolRows(page, y, made, false);
}

// The window over row y (at most the rows made).
bool WindowAt(RowPage* page, uint32_t y) {
  if (y >= page->base && y - page->base < page->capacity) return true;
  if (page->spool == INVALID_HANDLE_VALUE)
    return GrowRowBuffer(&page->window, &page->capacity, page->stride, RowPageGrowth(page->capacity, y));
  return MoveWindow(page, y);
}

// Row y of the rows made, to be read.
const uint8_t* ReadRow(RowPage* page, uint32_t y) {
  if (y >= page->rows || !WindowAt(page, y)) return nullptr;
  return page->window + size_t(page->stride) * (y - page->base);
}

// The page read back for a WIC frame: `height` rows of its pixel format, a window at a time.
// A black-and-white page for JPEG becomes grey.
class SpooledRows : public FrameRows {
 public:
  SpooledRows(RowPage* page, uint32_t height, const PageFacts& facts, bool oneBit) : page_(page) {
    format_ = page->bits == 1   ? (oneBit ? RowFormat::kBlackWhite : RowFormat::kGrey)
              : page->bits == 8 ? RowFormat::kGrey
                                : RowFormat::kColour;
    width_ = page->width;
    height_ = height;
    xDpi_ = facts.xResolution;
    yDpi_ = facts.yResolution;
    if (page->bits == 1 && !oneBit) grey_.resize(width_);
  }
  const BYTE* Row(UINT y) override {
    const uint8_t* row = ReadRow(page_, y);
    if (!row || grey_.empty()) return row;
    for (UINT x = 0; x < width_; ++x) grey_[x] = (row[x >> 3] >> (7 - (x & 7))) & 1u ? 255 : 0;
    return grey_.data();
  }

 private:
  RowPage* page_;
  std::vector<BYTE> grey_;
};

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

RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows) {
  RowPage* page = IsRowPageShape(width, bitsPerPixel) ? new (std::nothrow) RowPage : nullptr;
  if (!page) return nullptr;
  page->width = width;
  page->bits = bitsPerPixel;
  page->stride = static_cast<uint32_t>(((uint64_t(width) * bitsPerPixel + 31) / 32) * 4);
  page->spool = NewSpool();
  if (page->spool != INVALID_HANDLE_VALUE) {
    page->capacity = kWindowBytes / page->stride > 0 ? kWindowBytes / page->stride : 1;
    page->window = static_cast<uint8_t*>(std::malloc(size_t(page->stride) * page->capacity));
  } else {
    GrowRowBuffer(&page->window, &page->capacity, page->stride, expectedRows > 0 ? expectedRows : kFirstRows);
  }
  if (!page->window) {
    FreeRowPage(page);
    return nullptr;
  }
  return page;
}

void FreeRowPage(RowPage* page) { delete page; }

uint8_t* RowPageRow(RowPage* page, uint32_t y) {
  // Rows are made in order: a strip starts at a row already reached or at the next one.
  if (y > page->rows || !WindowAt(page, y)) return nullptr;
  page->dirty = true;
  for (; page->rows <= y; ++page->rows)
    std::memset(page->window + size_t(page->stride) * (page->rows - page->base), 0xFF, page->stride);
  return page->window + size_t(page->stride) * (y - page->base);
}

RowPageSize RowPageSizeOf(const RowPage* page) { return RowPageSize{page->width, page->bits, page->rows}; }

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

int16_t AddBookRowPage(PageBook* book, RowPage* page, uint32_t rows, const PageFacts& facts) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    if (rows == 0 || rows > page->rows) return kResultUnusablePage;
    SpooledRows frame(page, rows, facts, true);
    return AddBookFrame(book, &frame);
  });
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
    *result = kResultUnusablePage;
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
