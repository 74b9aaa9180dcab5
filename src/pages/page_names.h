// The names of a batch's files, as every writer of a batch uses them: the batch's file name
// with the page's number in it, each checked as a single scan's file is (pages/destination.h)
// before the page is transferred.
//
// A file of the page's name that the extension itself replaces (Windows) is replaced only by
// a page written in full: the page is written beside it, under the name with ".part" after
// it, and takes the older file's place once complete; a write that fails leaves the older
// file as it was.
#pragma once
#include <cstdint>

#include "pages/destination.h"

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

class PageName {
 public:
  // numbered: false for a single file (a batch of at most one page, a multi-page file), which
  // takes the name as it stands. longest: the largest page number the batch can reach.
  // sourceWrites: the source writes each page's file itself (a file transfer), where the
  // extension's writers write beside an older file.
  PageName(const HostPath& path, bool numbered, uint32_t longest, bool sourceWrites);

  // Before anything is scanned: the longest name the batch can reach (as a name: a file of
  // that name is no reason to stop now), then the first page's, with `existing` as what an
  // existing file of that name means. 0 or why no page can be written.
  int16_t Begin(ExistingFile existing);
  // Names page `number` and checks it: 0 or why the page cannot be written there.
  int16_t Name(uint32_t number, ExistingFile existing);
  // The page's own name, and the one the extension's writer writes to: the page's own, or the
  // one beside an older file.
  const HostPath& PageNameOf() const { return page_; }
  const HostPath& WriteName() const { return replacing_ ? beside_ : page_; }
  // After the extension's writer wrote to WriteName() with `result`: a complete page takes
  // the older file's place (8 when it cannot), a failed one leaves nothing of its own.
  // Answers `result` otherwise.
  int16_t Settle(int16_t result);
  // After the source failed to write the page: what it left is removed, an older file of
  // that name is left alone.
  void RemoveUnfinished();

 private:
  HostPath path_;
  HostPath page_;
  HostPath beside_;         // page_ with ".part" after it, while replacing_
  bool replacing_ = false;  // the extension writes page_ over an older file
  DestinationCheck check_;  // page_'s
  bool numbered_;
  uint32_t longest_;
  bool sourceWrites_;
};
