// The page writers of a batch whose files the extension encodes itself with the platform's
// codecs (acquire/image_files.h), from native transfers, whatever the source offers for file
// transfers: one file per page (PNG, TIFF, JPEG, or the build's own BMP or PICT), named and
// checked as PageFiles names and checks them, or every page in one multi-page TIFF.
#pragma once
#include "acquire/image_files.h"
#include "acquire/page_files.h"

// One file per page in `format`.
class EncodedPageFiles : public PageWriter {
 public:
  // batch: the running batch, whose image information describes the page being written.
  EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest, TW_UINT16 format,
                   const PageBatch* batch);

  int16_t Begin(TwainGlobals* g) override { return names_.Begin(g); }
  int16_t BeforePage(TwainGlobals* g, uint32_t number) override { return names_.BeforePage(g, number); }
  int16_t WritePage(TwainGlobals* g, uint32_t number) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, RowPage* page, uint32_t rows) override;
  ByteFile* OpenCompressedPage(TwainGlobals* g, uint32_t number, int16_t* result) override;
  // The writers remove what they could not finish themselves.
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals*, uint32_t) override { return 0; }

 private:
  PageFiles names_;
  TW_UINT16 format_;
  const PageBatch* batch_;
};

// Every page in one multi-page TIFF under the path as given, each added as it arrives. A
// failure keeps the pages added before it; a batch without a page leaves no file.
class TiffBookPages : public PageWriter {
 public:
  TiffBookPages(const HostPath& path, const PageBatch* batch) : path_(path), batch_(batch) {}
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
  HostPath path_;
  const PageBatch* batch_;
  PageBook* book_ = nullptr;
};
