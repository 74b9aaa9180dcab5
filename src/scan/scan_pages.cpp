#include "scan/scan_pages.h"

#include <utility>

#include "host/host_text.h"
#include "options/options.h"
#include "scan/scan.h"
#include "twain/result_codes.h"

namespace {

PdfSettings PdfSettingsOf(const TwainGlobals* g) {
  PdfSettings pdf;
  pdf.jpegQuality = OptionValue(g, Option::kJpegQuality);
  pdf.lossless = OptionValue(g, Option::kPdfImages) == kPdfImagesLossless;
  pdf.archival = OptionValue(g, Option::kPdfA) == kPdfA2B;
  // The texts as the host gave them, in its character set (without memory to convert one, the
  // document goes without it).
  const std::pair<Option, PdfText*> texts[] = {{Option::kPdfTitle, &pdf.title},
                                               {Option::kPdfAuthor, &pdf.author},
                                               {Option::kPdfSubject, &pdf.subject},
                                               {Option::kPdfKeywords, &pdf.keywords}};
  for (const auto& text : texts)
    HostTextToUnicode(OptionText(g, text.first).c_str(), &text.second->utf8, &text.second->utf16);
  return pdf;
}

// A batch of at most one page takes the name as it stands.
bool Numbered(uint32_t maxPages) { return maxPages != 1; }

uint32_t Longest(uint32_t maxPages) { return BatchSettings{nullptr, maxPages}.Limit(); }

}  // namespace

ScanPagesFiles::ScanPagesFiles(TwainGlobals* g, const HostPath& path, TW_UINT16 format, uint32_t maxPages)
    : route_(BatchRoute(format, ExistingFiles(g))),
      plain_(path, Numbered(maxPages), Longest(maxPages), route_),
      encoded_(path, Numbered(maxPages), Longest(maxPages), route_, OptionValue(g, Option::kJpegQuality)),
      book_(path, route_),
      document_(path, route_, PdfSettingsOf(g)),
      blank_(FilesWriter(), OptionValue(g, Option::kBlankInk)),
      path_(path) {
  RecordRoute(g, route_);
  batch_.maxPages = maxPages;
  batch_.writer = FilesWriter();
  batch_.paperSource = OptionValue(g, Option::kPaperSource);
  batch_.waitForPaper = OptionValue(g, Option::kWaitForPaper);
  batch_.log = this;
  // The pages the extension writes from rows may come by memory transfer, as the options say;
  // JPEG strips, asked for with COMPRESSION JPEG, go into JPEG files and a PDF of JPEG pages.
  if (route_.TakesRows()) {
    batch_.transfer = OptionValue(g, Option::kTransfer);
    const bool jpegPages = format == TWFF_JFIF || (format == TWFF_PDF && !PdfSettingsOf(g).lossless);
    batch_.compressJpeg = jpegPages && OptionValue(g, Option::kCompression) == kCompressionJpeg;
  }
  // Blank pages are judged where the extension encodes the pages itself.
  if (route_.encoded && OptionValue(g, Option::kBlankPages) == kBlankPagesDiscard) batch_.writer = &blank_;
}

PageWriter* ScanPagesFiles::FilesWriter() {
  if (route_.format == TWFF_TIFFMULTI) return &book_;
  if (route_.format == TWFF_PDF) return &document_;
  if (route_.encoded) return &encoded_;
  return &plain_;
}

// A page left out as blank has no file; the others go, in order, to the next page of the
// batch's files: a file of their own (numbered where the batch may have several), or the next
// page of its one multi-page TIFF or PDF. A line without memory to be kept is left out.
void ScanPagesFiles::Taken(uint32_t number, const TW_IMAGEINFO& info, const PageMarks& marks) {
  PageLine line;
  line.info = info;
  line.marks = marks;
  const uint32_t leftOut = blank_.LeftOut();
  const uint32_t written = number - leftOut;
  if (leftOut > leftOutSeen_) {
    line.fate = PageFate::kBlank;
  } else if (route_.format == TWFF_TIFFMULTI || route_.format == TWFF_PDF) {
    line.file = HostPathText(path_);
    line.pageInFile = written;
  } else if (!Numbered(batch_.maxPages)) {
    line.file = HostPathText(path_);
    line.pageInFile = 1;
  } else {
    HostPath page;
    if (NumberedPageName(path_, written, &page)) line.file = HostPathText(page);
    line.pageInFile = 1;
  }
  leftOutSeen_ = leftOut;
  try {
    lines_.push_back(std::move(line));
  } catch (...) {
  }
}

int16_t ScanPagesFiles::Scan(TwainGlobals* g) {
  uint32_t taken = 0;
  int16_t r = DoScanPages(g, route_, batch_, &taken);
  // Pages came, and every one was left out as blank: not the answer of a batch that got none.
  if (r == kResultOk && taken > 0 && taken == blank_.LeftOut()) r = kResultEveryPageBlank;
  written_ = taken;
  const int16_t closed = batch_.writer->End(g, &written_);
  return r != kResultOk ? r : closed;
}
