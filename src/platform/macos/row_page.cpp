// Mac: a page that arrives in rows is kept whole in memory (ImageIO takes an image whole),
// its block of rows grown as rows come.
#include <cstdlib>
#include <cstring>
#include <new>

#include "image/row_page.h"
#include "platform/macos/row_page_store.h"

namespace {

constexpr uint32_t kFirstRows = 256;  // room for a page of unknown length, doubled as it grows

}  // namespace

RowPage* NewRowPage(uint32_t width, uint16_t bitsPerPixel, uint32_t expectedRows) {
  RowPage* page = IsRowPageShape(width, bitsPerPixel) ? new (std::nothrow) RowPage : nullptr;
  if (!page) return nullptr;
  page->width = width;
  page->bits = bitsPerPixel;
  page->rowBytes = static_cast<size_t>((uint64_t(width) * bitsPerPixel + 7) / 8);
  if (!GrowRowBuffer(&page->rows, &page->capacity, page->rowBytes,
                     expectedRows > 0 ? expectedRows : kFirstRows)) {
    FreeRowPage(page);
    return nullptr;
  }
  return page;
}

void FreeRowPage(RowPage* page) {
  if (!page) return;
  std::free(page->rows);
  delete page;
}

uint8_t* RowPageRow(RowPage* page, uint32_t y) {
  if (y > page->made) return nullptr;  // rows are made in order
  if (y >= page->capacity &&
      !GrowRowBuffer(&page->rows, &page->capacity, page->rowBytes, RowPageGrowth(page->capacity, y)))
    return nullptr;
  for (; page->made <= y; ++page->made)
    std::memset(page->rows + page->rowBytes * page->made, 0xFF, page->rowBytes);
  return page->rows + page->rowBytes * y;
}

bool SettleRowPage(RowPage*) { return true; }

bool RowPageSpoolLost(const RowPage*) { return false; }

RowPageSize RowPageSizeOf(const RowPage* page) { return RowPageSize{page->width, page->bits, page->made}; }

const uint8_t* RowPageBlock(const RowPage* page) { return page->rows; }
