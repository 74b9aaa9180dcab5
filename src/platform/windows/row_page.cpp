// Windows: a page that arrives in rows never stands whole in memory. Its rows are kept in a
// window of about a megabyte; rows that leave the window go to a spool file of their own (the
// temporary folder's, deleted when closed), and come back into it when a strip goes back to
// them. Once the page has ended, the writers read it back a window at a time: a WIC frame,
// whose size is fixed before its first row, so gets the page's real height whatever was
// announced (a page that ends short or runs long, or of unknown length), and a BMP file its
// header and rows. Without a spool file (none can be made) the window grows to the whole page;
// so does it when the spool can no longer be written (the temporary folder is full): the rows
// spooled so far come back into memory and the page goes on there, where there is room for it.
//
// Rows are those of a top-down DIB: 1-bit with black then white in the table, 8-bit grey,
// 24-bit blue-green-red, each padded to 4 bytes.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "image/row_page.h"
#include "platform/windows/row_page_store.h"

namespace {

constexpr uint32_t kWindowBytes = 1u << 20;
constexpr uint32_t kFirstRows = 256;  // without a spool, for a page of unknown length

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

// Rows [from, from + count) of the spool, from or into `rows` (at most 2 GB: a row buffer's
// most).
bool SpoolRows(RowPage* page, uint32_t from, uint32_t count, uint8_t* rows, bool write) {
  if (count == 0) return true;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(from) * page->stride;
  if (!SetFilePointerEx(page->spool, at, nullptr, FILE_BEGIN)) return false;
  DWORD done = 0;
  const DWORD size = static_cast<DWORD>(uint64_t(count) * page->stride);
  const bool ok = write ? WriteFile(page->spool, rows, size, &done, nullptr)
                        : ReadFile(page->spool, rows, size, &done, nullptr);
  return ok && done == size;
}

// The last row after the window's first that the window holds made.
uint32_t WindowEnd(const RowPage* page) {
  return page->rows - page->base < page->capacity ? page->rows : page->base + page->capacity;
}

// The spool refused the window's rows: the page comes whole into memory (the rows the spool
// holds read back, the window's copied), the spool is closed, and the page goes on without one.
// False when there is no memory for the page or the spool cannot be read back: the page is
// lost (spoolLost).
bool LeaveSpool(RowPage* page) {
  uint8_t* whole = nullptr;
  uint32_t capacity = 0;
  const uint32_t end = page->base < page->rows ? WindowEnd(page) : page->base;
  bool ok = GrowRowBuffer(&whole, &capacity, page->stride, page->rows > 0 ? page->rows : 1) &&
            SpoolRows(page, 0, page->base < page->rows ? page->base : page->rows, whole, false) &&
            SpoolRows(page, end, page->rows - end, whole + size_t(page->stride) * end, false);
  if (!ok) {
    std::free(whole);
    page->spoolLost = true;
    return false;
  }
  if (end > page->base)
    std::memcpy(whole + size_t(page->stride) * page->base, page->window,
                size_t(page->stride) * (end - page->base));
  CloseHandle(page->spool);  // deletes it
  page->spool = INVALID_HANDLE_VALUE;
  std::free(page->window);
  page->window = whole;
  page->base = 0;
  page->capacity = capacity;
  page->dirty = false;
  return true;
}

// The window's rows that were made, to the spool, unless it holds them already.
bool FlushWindow(RowPage* page) {
  if (page->spool == INVALID_HANDLE_VALUE || !page->dirty || page->base >= page->rows) return true;
  if (!SpoolRows(page, page->base, WindowEnd(page) - page->base, page->window, true)) return LeaveSpool(page);
  page->dirty = false;
  return true;
}

// The window moved to start at row y (at most the rows made), with the rows made after it
// read back.
bool MoveWindow(RowPage* page, uint32_t y) {
  if (!FlushWindow(page)) return false;
  if (page->spool == INVALID_HANDLE_VALUE) return true;  // the page is in memory now
  page->base = y;
  const uint32_t made = page->rows - y < page->capacity ? page->rows - y : page->capacity;
  return SpoolRows(page, y, made, page->window, false);
}

// The window over row y (at most the rows made).
bool WindowAt(RowPage* page, uint32_t y) {
  if (y >= page->base && y - page->base < page->capacity) return true;
  if (page->spool != INVALID_HANDLE_VALUE && !MoveWindow(page, y)) return false;
  if (y >= page->base && y - page->base < page->capacity) return true;
  return GrowRowBuffer(&page->window, &page->capacity, page->stride, RowPageGrowth(page->capacity, y));
}

}  // namespace

const uint8_t* ReadRow(RowPage* page, uint32_t y) {
  if (y >= page->rows || !WindowAt(page, y)) return nullptr;
  return page->window + size_t(page->stride) * (y - page->base);
}

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

bool SettleRowPage(RowPage* page) { return FlushWindow(page); }

bool RowPageSpoolLost(const RowPage* page) { return page->spoolLost; }

RowPageSize RowPageSizeOf(const RowPage* page) { return RowPageSize{page->width, page->bits, page->rows}; }

// A window of the rows is in memory, the rest in the spool file.
const uint8_t* RowPageBlock(const RowPage*) { return nullptr; }
