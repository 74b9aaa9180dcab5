// The page writers of a batch whose files the extension encodes itself with the platform's
// codecs (image/image_files.h), from native or memory transfers, whatever the source offers
// for file transfers: one file per page (PNG, TIFF, JPEG, or the build's own BMP or PICT),
// named and checked as PageFiles names and checks them, or every page in one multi-page TIFF
// or one PDF.
#pragma once
#include "image/byte_run.h"
#include "image/image_files.h"
#include "pages/page_files.h"
#include "image/pdf_document.h"
#include "twain/result_codes.h"

// The bytes of a compressed page into a file of their own.
class FilePageBytes : public PageBytes {
 public:
  int16_t Append(const void* bytes, size_t size) override { return AppendByteFile(file, bytes, size); }
  ByteFile* file = nullptr;
};

// One file per page in `format`.
class EncodedPageFiles : public PageWriter {
 public:
  // batch: the running batch, whose image information describes the page being written.
  // jpegQuality: of JPEG files, 1 to 100.
  EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest, TW_UINT16 format,
                   const PageBatch* batch, int jpegQuality);
  ~EncodedPageFiles() override { EndCompressedPage(kResultNoMemory); }
  EncodedPageFiles(const EncodedPageFiles&) = delete;
  EncodedPageFiles& operator=(const EncodedPageFiles&) = delete;

  int16_t Begin(TwainGlobals* g) override { return names_.Begin(g); }
  int16_t BeforePage(TwainGlobals* g, uint32_t number) override { return names_.BeforePage(g, number); }
  int16_t WritePage(TwainGlobals* g, uint32_t number) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, RowPage* page, uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  // The writers remove what they could not finish themselves.
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals*, uint32_t) override { return 0; }

 private:
  PageFiles names_;
  TW_UINT16 format_;
  const PageBatch* batch_;
  int jpegQuality_;
  FilePageBytes compressed_;
};

// Every page in one multi-page TIFF under the path as given, each added as it arrives. A
// failure keeps the pages added before it; a batch without a page leaves no file. The name is
// checked as a single page's is; an older file of that name is replaced (Windows) only once
// the book holds a page: the book is written beside it and takes its place when it ends.
class TiffBookPages : public PageWriter {
 public:
  // batch: the running batch, whose count End sets to the pages the file holds.
  TiffBookPages(const HostPath& path, PageBatch* batch) : name_(path, false, 1), batch_(batch) {}
  ~TiffBookPages() override;
  TiffBookPages(const TiffBookPages&) = delete;
  TiffBookPages& operator=(const TiffBookPages&) = delete;

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals*, uint32_t) override { return 0; }
  int16_t WritePage(TwainGlobals* g, uint32_t number) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, RowPage* page, uint32_t rows) override;
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals* g, uint32_t pages) override;

 private:
  PageFiles name_;
  PageBatch* batch_;
  PageBook* book_ = nullptr;
};

// Every page in one PDF under the path as given (image/pdf_document.h), each added as it
// arrives: native pages and pages in rows through their pixels (image/page_pixels.h), a
// page the source compressed as JPEG as it came. The name is checked, and an older file
// replaced, as for a multi-page TIFF; a failure keeps the pages before it, a batch without a
// page leaves no file.
class PdfPages : public PageWriter {
 public:
  // batch: the running batch, whose count End sets to the pages the file holds.
  PdfPages(const HostPath& path, PageBatch* batch, const PdfSettings& settings)
      : name_(path, false, 1), batch_(batch), settings_(settings) {}
  ~PdfPages() override;
  PdfPages(const PdfPages&) = delete;
  PdfPages& operator=(const PdfPages&) = delete;

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals*, uint32_t) override { return 0; }
  int16_t WritePage(TwainGlobals* g, uint32_t number) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, RowPage* page, uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals* g, uint32_t pages) override;

 private:
  // A compressed page's bytes, gathered until it ends.
  class Gathered : public PageBytes {
   public:
    int16_t Append(const void* bytes, size_t size) override;
    ByteRun bytes;
  };
  int16_t AddPixels(std::unique_ptr<PagePixels> pixels, int16_t made);

  PageFiles name_;
  PageBatch* batch_;
  PdfSettings settings_;
  PdfDocument* document_ = nullptr;
  Gathered compressed_;
};
