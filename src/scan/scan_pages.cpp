#include "scan/scan_pages.h"

#include <memory>
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

DocumentNaming NamingOf(const PageRoute& route, uint32_t maxPages, bool separated) {
  DocumentNaming naming;
  naming.separated = separated;
  naming.oneFile = route.format == TWFF_TIFFMULTI || route.format == TWFF_PDF;
  naming.numbered = !naming.oneFile && (separated || Numbered(maxPages));
  return naming;
}

LeaveOutBlankPages::Rules BlankRulesOf(const TwainGlobals* g, int32_t separation, DocumentBreak* documents) {
  LeaveOutBlankPages::Rules rules;
  rules.inkLimit = OptionValue(g, Option::kBlankInk);
  rules.separates = separation == kSeparationBlankSheet;
  rules.leaveOut = OptionValue(g, Option::kBlankPages) == kBlankPagesDiscard;
  rules.documents = documents;
  return rules;
}

}  // namespace

ScanPagesFiles::ScanPagesFiles(TwainGlobals* g, const HostPath& path, TW_UINT16 format, uint32_t maxPages,
                               FilesOf of)
    : route_(BatchRoute(format, ExistingFiles(g))),
      maxPages_(maxPages),
      jpegQuality_(OptionValue(g, Option::kJpegQuality)),
      pdf_(PdfSettingsOf(g)),
      separation_(of == FilesOf::kBatch ? OptionValue(g, Option::kSeparation) : kSeparationNone),
      documents_(path, NamingOf(route_, maxPages, separation_ != kSeparationNone), this, &marks_,
                 separation_ == kSeparationPatchCode ? &patches_ : nullptr),
      blank_(&documents_, BlankRulesOf(g, separation_, &documents_)) {
  RecordRoute(g, route_);
  batch_.maxPages = maxPages;
  batch_.writer = &documents_;
  batch_.paperSource = OptionValue(g, Option::kPaperSource);
  batch_.waitForPaper = OptionValue(g, Option::kWaitForPaper);
  batch_.log = this;
  batch_.marks = &marks_;
  if (separation_ == kSeparationPatchCode) batch_.patchSeparation = &patches_;
  // The pages the extension writes from rows may come by memory transfer, as the options say;
  // JPEG strips, asked for with COMPRESSION JPEG, go into JPEG files and a PDF of JPEG pages.
  if (route_.TakesRows()) {
    batch_.transfer = OptionValue(g, Option::kTransfer);
    const bool jpegPages = format == TWFF_JFIF || (format == TWFF_PDF && !pdf_.lossless);
    batch_.compressJpeg = jpegPages && OptionValue(g, Option::kCompression) == kCompressionJpeg;
  }
  // Blank pages are judged where the extension encodes the pages itself.
  const LeaveOutBlankPages::Rules& blank = blank_.RulesOf();
  if (route_.encoded && (blank.leaveOut || blank.separates)) batch_.writer = &blank_;
}

int16_t ScanPagesFiles::Begin(TwainGlobals* g) {
  if (separation_ == kSeparationBlankSheet && !route_.encoded) return kResultBadValue;
  return batch_.writer->Begin(g);
}

std::unique_ptr<PageWriter> ScanPagesFiles::Writer(const HostPath& path, bool numbered) {
  if (route_.format == TWFF_TIFFMULTI) return std::make_unique<TiffBookPages>(path, route_);
  if (route_.format == TWFF_PDF) return std::make_unique<PdfPages>(path, route_, pdf_);
  if (route_.encoded)
    return std::make_unique<EncodedPageFiles>(path, numbered, Longest(maxPages_), route_, jpegQuality_);
  return std::make_unique<PlainPageFiles>(path, numbered, Longest(maxPages_), route_);
}

// A page left out as blank, or a separator, has no file; the others go, in order, to the next
// page of their document's files (pages/documents.h). A line without memory to be kept is left
// out.
void ScanPagesFiles::Taken(uint32_t, const TW_IMAGEINFO& info, const PageMarks& marks) {
  PageLine line;
  line.info = info;
  line.marks = marks;
  const uint32_t leftOut = blank_.LeftOut();
  const uint32_t separators = SeparatorsSoFar();
  if (leftOut > leftOutSeen_ || separators > separatorsSeen_) {
    line.fate = leftOut > leftOutSeen_ ? PageFate::kBlank : PageFate::kSeparator;
    line.document = line.fate == PageFate::kSeparator ? documents_.SeparatorDocument() : documents_.Document();
  } else {
    const PagePlace place = documents_.LastWritten();
    line.file = place.file;
    line.pageInFile = place.pageInFile;
    line.document = place.document;
  }
  leftOutSeen_ = leftOut;
  separatorsSeen_ = separators;
  try {
    lines_.push_back(std::move(line));
  } catch (...) {
  }
}

int16_t ScanPagesFiles::Scan(TwainGlobals* g) {
  uint32_t taken = 0;
  int16_t r = DoScanPages(g, route_, batch_, &taken);
  written_ = taken;
  const int16_t closed = batch_.writer->End(g, &written_);
  // Pages came and none was written: every one blank (left out, or a blank separator) answers
  // 18; separators alone, as a source whose job control never delivers them, nothing came.
  if (r == kResultOk && closed == kResultOk && taken > 0 && written_ == 0)
    r = blank_.LeftOut() + blank_.Separators() > 0 ? kResultEveryPageBlank : kResultCancelled;
  return r != kResultOk ? r : closed;
}
