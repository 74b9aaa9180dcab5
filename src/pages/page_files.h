// One file per page: the batch's file name with the page's number in it. Native pages are
// written by the platform's writer (PICT on the Mac, BMP on Windows); in a file transfer the
// source writes each page under its name. Every page's name is checked as a single scan's
// file is (pages/destination.h) before the page is transferred.
//
// A file of the page's name that the extension's writer replaces (Windows) is replaced only
// by a page written in full: the page is written beside it, under the name with ".part"
// after it, and takes the older file's place once complete; a write that fails leaves the
// older file as it was.
#pragma once
#include <cstdint>

#include "pages/destination.h"
#include "pages/page_writer.h"

// A path as the host gives it to a scan: length-prefixed on the Mac, NUL-terminated on
// Windows; at most 255 characters.
struct HostPath {
  uint8_t bytes[258] = {};
};

// Page numbers have at least this many digits.
constexpr int kPageNumberDigits = 4;

// The name of page `number`: "-" and the number, at least four digits, go before the last
// extension of the path's last part ("doc.bmp" gives "doc-0001.bmp"), or at its end when it
// has none. False when the name would pass 255 characters.
bool NumberedPageName(const HostPath& path, uint32_t number, HostPath* page);

class PageFiles : public PageWriter {
 public:
  // numbered: false for a batch of at most one page, which takes the name as it stands.
  // longest: the largest page number the batch can reach.
  PageFiles(const HostPath& path, bool numbered, uint32_t longest);

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals* g, uint32_t number) override;
  int16_t WritePage(TwainGlobals* g, uint32_t number) override;
  void Abandon(TwainGlobals* g, uint32_t number) override;
  int16_t End(TwainGlobals*, uint32_t) override { return 0; }
  // The name the page being written goes to: its own, or the one beside an older file.
  const HostPath& WriteName() const { return replacing_ ? beside_ : page_; }
  // After the extension's writer wrote to WriteName() with `result`: a complete page takes
  // the older file's place (8 when it cannot), a failed one leaves nothing of its own.
  // Answers `result` otherwise.
  int16_t Settle(int16_t result);

 private:
  // The name of page `number` into page_, checked with `existing` as what an existing file
  // of that name means: 0 or why the page cannot be written there.
  int16_t NamePage(TwainGlobals* g, uint32_t number, ExistingFile existing);

  HostPath path_;
  HostPath page_;
  HostPath beside_;         // page_ with ".part" after it, while replacing_
  bool replacing_ = false;  // the extension writes page_ over an older file
  DestinationCheck check_;  // page_'s
  bool numbered_;
  uint32_t longest_;
};
