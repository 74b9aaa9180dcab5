// The documents of a batch: the writer in front of the files' writers that gives each document
// a writer of its own. Without separation the batch is one document under the name as given,
// as it always was. With separation a document ends at a separator sheet: a patch sheet (the
// source's job control ends the document after the page before it; or a page whose extended
// image information carries a patch code is the separator), or a blank sheet (judged by
// pages/blank_pages.h in front of this writer). A separator is not written and not counted.
// With duplex (the source saying each page's side) a separator is a sheet: the back of a
// separator's front separates with it.
//
// Each document then takes the batch's name with its number in it, "d.pdf" giving "d-0001.pdf",
// "d-0002.pdf", ...; the pages of one-page formats are numbered within their document,
// "d-0001-0001.png". A document is begun when its first page is about to be transferred and
// ended when the next document's first page is (or the batch ends), so a document without a
// page (two separators in a row, a separator first) makes no file and takes no number. A
// failure keeps the documents ended before it, and the one being written as far as its
// writer keeps a failed file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "pages/page_log.h"
#include "pages/page_names.h"
#include "pages/page_writer.h"

// How the source separates documents at patch sheets, as settled with it before the batch.
enum class PatchSeparation { kNone, kJobControl, kPatchMarks };

// What a writer in front of the documents (pages/blank_pages.h) tells them of the page being
// taken that it does not pass on, and asks of it.
class DocumentBreak {
 public:
  virtual ~DocumentBreak() = default;
  // The page is a blank sheet that separates documents: the next page begins the next
  // document (a document without a page yet goes on).
  virtual void BreakDocument() = 0;
  // The page was left out as blank: a document it ended (the source's job control ending the
  // job with it) ends all the same.
  virtual void PageLeftOut() = 0;
  // The page is a sheet's back (duplex, the source saying so).
  virtual bool BackOfSheet() const = 0;
  // The page is the back of a sheet whose front separated documents: a duplex separator is the
  // whole sheet.
  virtual bool BackOfSeparator() const = 0;
};

// Makes the writer of one document's files.
class DocumentWriters {
 public:
  virtual ~DocumentWriters() = default;
  // The writer of the document under `path`, its pages each a file numbered within the
  // document where `numbered` (formats of one page a file); null without memory.
  virtual std::unique_ptr<PageWriter> Writer(const HostPath& path, bool numbered) = 0;
};

struct DocumentNaming {
  bool separated = false;  // documents under numbered names (else one, under the name as given)
  bool oneFile = false;    // a document is one file of its pages (multi-page TIFF, PDF)
  bool numbered = false;   // else: the pages are numbered within their document
};

// Where a page went.
struct PagePlace {
  std::string file;         // as the host names it
  uint32_t pageInFile = 0;  // from 1
  uint32_t document = 1;    // from 1
};

class DocumentFiles : public PageWriter, public DocumentBreak {
 public:
  // marks: what the source reported of the page being taken (its patch code, its job's end);
  // patches: how the source separates at patch sheets (null: patch sheets separate nothing).
  DocumentFiles(const HostPath& path, DocumentNaming naming, DocumentWriters* writers, const PageMarks* marks,
                const PatchSeparation* patches)
      : path_(path), naming_(naming), writers_(writers), marks_(marks), patches_(patches) {}

  // The first document's writer is made and begun before anything is scanned.
  int16_t Begin(TwainGlobals* g) override { return StartDocument(g); }
  int16_t BeforePage(TwainGlobals* g, uint32_t number) override;
  int16_t TakesPage(const TW_IMAGEINFO& info) override { return current_ ? current_->TakesPage(info) : 0; }
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                    uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info,
                                int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  void Abandon(TwainGlobals* g, uint32_t number) override;
  // *pages becomes the pages the documents' files hold.
  int16_t End(TwainGlobals* g, uint32_t* pages) override;
  void BreakDocument() override { Separates(); }
  void PageLeftOut() override;
  bool BackOfSheet() const override;
  bool BackOfSeparator() const override;

  // The documents whose files hold a page; the separators this writer found (patch sheets).
  uint32_t Documents() const { return documents_; }
  uint32_t Separators() const { return separators_; }
  // The document pages go to now.
  uint32_t Document() const { return ended_ + 1; }
  // The document the last separator ended (its sheet's back belongs to it too).
  uint32_t SeparatorDocument() const { return separatorOf_; }
  // Where the last page written went.
  PagePlace LastWritten() const;

 private:
  int16_t StartDocument(TwainGlobals* g);
  int16_t EndDocument(TwainGlobals* g);
  // The page being taken is a patch sheet that separates documents, or its back.
  bool Separator() const;
  // The page being taken separates documents: the next page begins the next one.
  void Separates();
  int16_t Separated();
  // Whether the page being taken is a front (duplex), for its back to come.
  bool Front() const;
  // The source's job control ended the job with the page being taken.
  bool JobEnded() const;
  // After the writer's answer on a page: counted when written, and the document ended after
  // it where the source's job control said so.
  int16_t Written(int16_t result);

  HostPath path_;
  DocumentNaming naming_;
  DocumentWriters* writers_;
  const PageMarks* marks_;
  const PatchSeparation* patches_;
  std::unique_ptr<PageWriter> current_;
  HostPath currentPath_;
  uint32_t inDocument_ = 0;  // the pages the current document took
  uint32_t ended_ = 0;       // the documents ended with a page taken
  uint32_t documents_ = 0;
  uint32_t kept_ = 0;  // the pages the ended documents' files hold
  uint32_t separators_ = 0;
  uint32_t separatorOf_ = 1;
  bool break_ = false;
  bool frontSeparated_ = false;  // the last page was a separator sheet's front
};
