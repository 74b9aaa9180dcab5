// What each page of a batch was: one line per image the source delivered, in order, for the
// read-only option PAGES. A line says where the page went (its file and its page in that
// file, or nothing for a page left out), what the source said of its image (DAT_IMAGEINFO)
// and what the source read on the sheet (DAT_EXTIMAGEINFO: the side, a patch code, barcodes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "options/options.h"
#include "twain/twain.h"

// What a source reported of a page beyond its image. A source without extended image
// information leaves every field as it starts.
struct PageMarks {
  TW_UINT16 side = 0;                 // TWCS_TOP, TWCS_BOTTOM; 0 when the source did not say
  int32_t patch = -1;                 // a TWPCH_ code; -1 when the page is no patch sheet
  uint32_t document = 0;              // TWEI_DOCUMENTNUMBER, 0 when the source did not say
  uint32_t page = 0;                  // TWEI_PAGENUMBER within that document
  std::vector<std::string> barcodes;  // in the order the source gave them
  // What the source's MSG_ENDXFER said after the page (TW_PENDINGXFERS.EOJ): a TWEJ_ code
  // where the page ended a job under job control, 0 where it ended none.
  TW_UINT32 jobEnd = 0;
};

// What became of a page. A separator sheet is one that separates documents.
enum class PageFate { kWritten, kBlank, kSeparator };

struct PageLine {
  std::string file;         // the file the page went to, as the host names it; "" when left out
  uint32_t pageInFile = 0;  // from 1; 0 when left out
  uint32_t document = 1;    // from 1
  TW_IMAGEINFO info{};
  PageFate fate = PageFate::kWritten;
  PageMarks marks;
};

// Where a batch says what became of each page it took (whatever its writer made of it).
class PageLog {
 public:
  virtual ~PageLog() = default;
  // Page `number` of the batch (from 1) was taken and handed to the writer, which wrote it or
  // left it out; `info` is what the source said of its image, `marks` what it read on it.
  virtual void Taken(uint32_t number, const TW_IMAGEINFO& info, const PageMarks& marks) = 0;
};

// One line: the fields separated by tabs (file, page in the file, document, width, height,
// X and Y resolution, pixel type, side, fate, patch code, barcodes separated by "|").
std::string PageLineText(const PageLine& line);
// The lines separated by carriage returns, as many whole lines as fit in `most` characters
// (a batch whose lines pass kPagesTextMost keeps the lines that fit whole).
std::string PagesText(const std::vector<PageLine>& lines, size_t most = kPagesTextMost);
