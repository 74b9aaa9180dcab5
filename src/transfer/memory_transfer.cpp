#include "transfer/memory_transfer.h"

#include "transfer/collect_image.h"
#include "transfer/strips.h"
#include "transfer/transfer_platform.h"
#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/result_codes.h"

namespace {

// The depth a page's rows are kept in, from what the source said of the page: 1-bit black
// and white, 8-bit grey, 24-bit chunky colour. 0 for anything else.
uint16_t RowBits(const TW_IMAGEINFO& info) {
  if (info.PixelType == TWPT_BW && info.BitsPerPixel == 1) return 1;
  if (info.PixelType == TWPT_GRAY && info.BitsPerPixel == 8) return 8;
  if (info.PixelType == TWPT_RGB && info.BitsPerPixel == 24 && !info.Planar) return 24;
  return 0;
}

class RowPageCanvas : public RowCanvas {
 public:
  explicit RowPageCanvas(RowPage* page) : page_(page) {}
  uint8_t* Row(uint32_t y) override { return RowPageRow(page_, y); }

 private:
  RowPage* page_;
};

// Where the strips of one page go: rows, or the bytes of a compressed page.
class PageBeingMade {
 public:
  PageBeingMade(const StripPageShape& shape, RowPage* rows, PageWriter* writer, PageBytes* bytes)
      : shape_(shape), rows_(rows), canvas_(rows), writer_(writer), bytes_(bytes) {}
  ~PageBeingMade() {
    FreeRowPage(rows_);
    if (bytes_) writer_->EndCompressedPage(kResultUnusablePage);  // the page did not end well
  }
  PageBeingMade(const PageBeingMade&) = delete;
  PageBeingMade& operator=(const PageBeingMade&) = delete;

  // One strip as the source filled it: 0, or 2 (8 for a file that cannot be written: the
  // page's own, or the spool of its rows).
  int16_t Take(const TW_IMAGEMEMXFER& strip, const uint8_t* buffer, uint32_t bufferSize) {
    if (bytes_) {
      if (strip.BytesWritten > bufferSize) return kResultUnusablePage;
      taken_ += strip.BytesWritten;
      return bytes_->Append(buffer, strip.BytesWritten);
    }
    const StripFit fit = PlaceStrip(strip, buffer, bufferSize, shape_, &canvas_, &height_);
    if (fit == StripFit::kPlaced) return kResultOk;
    return fit == StripFit::kNoMemory && RowPageSpoolLost(rows_) ? kResultFileError : kResultUnusablePage;
  }

  // The page, once its transfer ended well, to the writer: its rows, or the end of its bytes.
  int16_t Deliver(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) {
    if (bytes_) {
      bytes_ = nullptr;
      return writer_->EndCompressedPage(taken_ > 0 ? kResultOk : kResultUnusablePage);
    }
    if (height_ == 0) return kResultUnusablePage;  // a transfer without a row is no page
    if (!SettleRowPage(rows_)) return RowPageSpoolLost(rows_) ? kResultFileError : kResultUnusablePage;
    return writer_->WriteRows(g, number, info, rows_, height_);
  }

 private:
  StripPageShape shape_;
  RowPage* rows_;
  RowPageCanvas canvas_;
  PageWriter* writer_;
  PageBytes* bytes_;
  uint32_t height_ = 0;
  uint64_t taken_ = 0;
};

// The request of one strip: every field a don't-care value, so that what the source leaves
// unfilled cannot pass for a strip of the page.
TW_IMAGEMEMXFER StripRequest(const TW_MEMORY& buffer) {
  TW_IMAGEMEMXFER x;
  x.Compression = TWON_DONTCARE16;
  x.BytesPerRow = x.Columns = x.Rows = x.XOffset = x.YOffset = x.BytesWritten = TWON_DONTCARE32;
  x.Memory = buffer;
  return x;
}

// The strips of the page until TWRC_XFERDONE, or the first failure: a transfer the source
// cancelled or failed is translated (5, 3000 + cc); a strip that does not fit answers 2.
int16_t TransferStrips(TwainGlobals* g, const TW_MEMORY& buffer, PageBeingMade* page) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  for (;;) {
    TW_IMAGEMEMXFER strip = StripRequest(buffer);
    TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
    if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) return xlateErr(g, ds, rc);
    const uint8_t* bytes = platform::LockTransferBuffer(buffer);
    int16_t r = bytes ? page->Take(strip, bytes, buffer.Length) : kResultUnusablePage;
    platform::UnlockTransferBuffer(buffer);
    if (r != 0 || rc == TWRC_XFERDONE) return r;
    if constexpr (!kWindowsBuild) platform::YieldThreads();
  }
}

}  // namespace

int16_t CollectPageByMemory(TwainGlobals* g, PageWriter* writer, const StripTerms& terms, uint32_t number,
                            TW_IMAGEINFO* imageInfo, TW_UINT16* left, int16_t* endRefused) {
  *left = 0;
  *endRefused = 0;
  TW_IMAGEINFO& info = *imageInfo;
  int16_t r = AskAboutImage(g, &info);
  if (r != 0) return r;
  r = writer->TakesPage(info);
  if (r != 0) return r;  // nothing transferred: the page is still pending
  TW_SETUPMEMXFER setup{};
  TW_UINT16 rc = CallDSM(g, &g->sourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
  if (rc != TWRC_SUCCESS) return xlateErr(g, &g->sourceIdentity, rc);

  // What the page becomes, decided before a strip is asked for.
  StripPageShape shape;
  shape.width = info.ImageWidth > 0 ? static_cast<uint32_t>(info.ImageWidth) : 0;
  shape.bitsPerPixel = RowBits(info);
  shape.zeroIsWhite = terms.zeroIsWhite;
  shape.blueFirst = kRowPageBlueFirst;
  const bool compressed = info.Compression == TWCP_JPEG;
  RowPage* rows = nullptr;
  PageBytes* bytes = nullptr;
  if (compressed) {
    bytes = writer->OpenCompressedPage(g, number, info, &r);
  } else if (info.Compression != TWCP_NONE) {
    r = kResultUnusablePage;  // a compression the extension cannot take
  } else {
    rows = NewRowPage(shape.width, shape.bitsPerPixel, info.ImageLength > 0 ? info.ImageLength : 0);
    if (!rows) r = kResultUnusablePage;
  }
  PageBeingMade page(shape, rows, writer, bytes);
  TW_MEMORY buffer{};
  const uint32_t size = ChooseBufferSize(setup, compressed ? 0 : static_cast<uint32_t>(ShapeRowBytes(shape)));
  if (r == 0 && (size == 0 || !platform::NewTransferBuffer(size, &buffer))) r = kResultUnusablePage;
  if (r != 0) {
    platform::FreeTransferBuffer(&buffer);
    return r;  // nothing transferred: the page is still pending, and the close drops it
  }
  NoteTransferStarted(g);
  r = FinishTransfer(g, TransferStrips(g, buffer, &page), left, endRefused);
  platform::FreeTransferBuffer(&buffer);
  return r != 0 ? r : page.Deliver(g, number, info);
}
