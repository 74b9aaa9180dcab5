// The names of a batch's files, as every writer of a batch (and Twain.ScanToFile) uses them:
// the batch's file name with the page's number in it, each checked as a single scan's file is
// (pages/destination.h) before the page is transferred.
//
// A final name only ever holds a whole file: every page, book and PDF, whoever writes it (the
// extension's writers, or the source in a file transfer), is written beside its final name
// under a temporary one (the name with ".part" after it; where that name cannot be, its last
// part's start, '~', a hash of the whole name and ".part", as long as the name itself), and
// takes the final name once complete. A write that fails removes its temporary file and
// leaves whatever stood under the final name as it was; a temporary file that a host killed
// mid-write left behind is removed by the next write of that name.
//
// An existing file of the final name is replaced or refused as the option EXISTING says
// (ExistingFile); a numbered series is refused, or its older members beyond the new pages
// removed, as a whole.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pages/destination.h"

// A path as the host gives it to a scan: length-prefixed on the Mac, NUL-terminated on
// Windows; at most 255 characters.
struct HostPath {
  uint8_t bytes[258] = {};
};

// The path as a text, as the host gave it.
std::string HostPathText(const HostPath& path);

// Page numbers have at least this many digits.
constexpr int kPageNumberDigits = 4;
// A numbered series reaches at least this number (a batch takes at most 9999 pages unless its
// page limit says more).
constexpr uint32_t kSeriesNumbers = 9999;

// The name of page `number`: "-" and the number, at least four digits, go before the last
// extension of the path's last part ("doc.bmp" gives "doc-0001.bmp"), or at its end when it
// has none. False when the name would pass 255 characters.
bool NumberedPageName(const HostPath& path, uint32_t number, HostPath* page);

class PageName {
 public:
  // numbered: false for a single file (a batch of at most one page, a multi-page file, a
  // Twain.ScanToFile page), which takes the name as it stands. longest: the largest page
  // number the batch can reach. existing: what a file of a page's name meets.
  PageName(const HostPath& path, bool numbered, uint32_t longest, ExistingFile existing);

  // Before anything is scanned: the longest name the batch can reach (as a name: a file of
  // that name is no reason to stop now), then the first page's. Where existing files are
  // refused, a numbered batch answers 7 when any member of its series exists. 0 or why no
  // page can be written.
  int16_t Begin();
  // Names page `number` and checks it: 0 or why the page cannot be written there.
  int16_t Name(uint32_t number);
  // The page's own name, and the temporary one beside it that its writer (or the source)
  // writes to.
  const HostPath& PageNameOf() const { return page_; }
  const HostPath& WriteName() const { return temporary_; }
  // After the page was written to WriteName() with `result`: a complete page takes its final
  // name (7 when a file took that name meanwhile and existing files are refused; 8 when it
  // cannot), a failed one leaves nothing. Answers `result` otherwise. `pages`: what the file
  // holds (a book's or a PDF's pages).
  int16_t Settle(int16_t result, uint32_t pages = 1);
  // After the batch: where existing files are replaced and a page of a numbered batch was
  // written, the older members of the series numbered beyond the last page written go, so
  // that the series on disk is the batch.
  void EndSeries();

 private:
  // The numbers of the series' files on disk, from `first` to the series' end.
  std::vector<uint32_t> Members(uint32_t first) const;
  uint32_t SeriesEnd() const { return longest_ > kSeriesNumbers ? longest_ : kSeriesNumbers; }

  HostPath path_;
  HostPath page_;
  HostPath temporary_;
  bool numbered_;
  uint32_t longest_;
  ExistingFile existing_;
  uint32_t number_ = 0;       // page_'s
  uint32_t lastWritten_ = 0;  // the highest page number settled whole
  uint32_t kept_ = 0;         // the pages of the files settled whole
};
