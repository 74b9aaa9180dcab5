// The writers of a batch's files (scan/scan_pages.cpp chooses one from the batch's route):
// - PlainPageFiles: one file per page the extension does not encode: a native page in the
//   build's own format by the build's writer, or the file the source writes in a file
//   transfer;
// - EncodedPageFiles: one file per page that the extension encodes itself with the platform's
//   codecs (image/image_platform.h), from native or memory transfers, whatever the source
//   offers for file transfers: PNG, TIFF, JPEG, or the build's own BMP or PICT;
// - TiffBookPages, PdfPages: every page in one multi-page TIFF or one PDF.
// Each page's name is named and checked by a PageName (pages/page_names.h).
#pragma once
#include <memory>
#include <vector>

#include "image/byte_file.h"
#include "image/image_platform.h"
#include "image/pdf_document.h"
#include "pages/page_names.h"
#include "pages/page_route.h"
#include "pages/page_writer.h"
#include "traits/build_traits.h"
#include "twain/result_codes.h"

class PlainPageFiles : public NativePageWriter {
 public:
  // numbered: false for a batch of at most one page, which takes the name as it stands.
  // longest: the largest page number the batch can reach.
  PlainPageFiles(const HostPath& path, bool numbered, uint32_t longest, const PageRoute& route)
      : names_(path, numbered, longest, route.existing), route_(route) {}

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals* g, uint32_t number) override;
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  void Abandon(TwainGlobals* g, uint32_t number) override;
  int16_t End(TwainGlobals*, uint32_t*) override;

 private:
  // g->filePath names the page's temporary file for the source, where it writes the file.
  int16_t Named(TwainGlobals* g, int16_t result);

  PageName names_;
  PageRoute route_;
};

// The bytes of a compressed page into a file of their own.
class FilePageBytes : public PageBytes {
 public:
  int16_t Append(const void* bytes, size_t size) override { return AppendByteFile(file, bytes, size); }
  ByteFile* file = nullptr;
};

// One file per page in the route's format.
class EncodedPageFiles : public PageWriter {
 public:
  // jpegQuality: of JPEG files, 1 to 100.
  EncodedPageFiles(const HostPath& path, bool numbered, uint32_t longest, const PageRoute& route,
                   int jpegQuality);
  ~EncodedPageFiles() override { EndCompressedPage(kResultUnusablePage); }
  EncodedPageFiles(const EncodedPageFiles&) = delete;
  EncodedPageFiles& operator=(const EncodedPageFiles&) = delete;

  int16_t Begin(TwainGlobals*) override { return names_.Begin(); }
  int16_t BeforePage(TwainGlobals*, uint32_t number) override { return names_.Name(number); }
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                    uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info,
                                int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  // The writers remove what they could not finish themselves.
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals*, uint32_t*) override {
    names_.EndSeries();
    return 0;
  }

 private:
  PageName names_;
  PageRoute route_;
  int jpegQuality_;
  FilePageBytes compressed_;
};

// Every page in one multi-page TIFF under the path as given, each added as it arrives. A
// failure keeps the pages added before it; a batch without a page leaves no file. The name is
// checked as a single page's is; the book is written beside it and takes its name when it
// ends with a page (replacing an older file only where EXISTING says so).
// A page is taken only when the book, with the page's pixels uncompressed, stays within the
// largest file it can be (else 17, before the page is transferred): 4 GiB on Windows, where
// a TIFF's offsets are 32 bits; 2 GiB on the Mac, where a file's length is a signed 32-bit
// number for the File Manager.
class TiffBookPages : public UncompressedPageWriter {
 public:
  static constexpr uint64_t kLargestBook = kWindowsBuild ? 0xFFFFFFFFull : 0x7FFFFFFFull;
  // largestBook: the file's limit (a smaller one only to try the limit out).
  explicit TiffBookPages(const HostPath& path, const PageRoute& route, uint64_t largestBook = kLargestBook)
      : name_(path, false, 1, route.existing), route_(route), largestBook_(largestBook) {}
  ~TiffBookPages() override;
  TiffBookPages(const TiffBookPages&) = delete;
  TiffBookPages& operator=(const TiffBookPages&) = delete;

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals*, uint32_t) override { return 0; }
  int16_t TakesPage(const TW_IMAGEINFO& info) override;
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                    uint32_t rows) override;
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals* g, uint32_t* pages) override;

 private:
  // Notes how much the book grew with a page just added.
  int16_t Grew(uint64_t before, int16_t result);

  PageName name_;
  PageRoute route_;
  uint64_t largestBook_;
  uint64_t largestPage_ = 0;  // the most a page added so far took in the file
  PageBook* book_ = nullptr;
};

// Every page in one PDF under the path as given (image/pdf_document.h), each added as it
// arrives: native pages and pages in rows through their pixels (image/page_pixels.h), a
// page the source compressed as JPEG as it came. The name is checked, and an older file
// replaced, as for a multi-page TIFF; a failure keeps the pages before it, a batch without a
// page leaves no file.
class PdfPages : public PageWriter {
 public:
  PdfPages(const HostPath& path, const PageRoute& route, const PdfSettings& settings)
      : name_(path, false, 1, route.existing), route_(route), settings_(settings) {}
  ~PdfPages() override;
  PdfPages(const PdfPages&) = delete;
  PdfPages& operator=(const PdfPages&) = delete;

  int16_t Begin(TwainGlobals* g) override;
  int16_t BeforePage(TwainGlobals*, uint32_t) override { return 0; }
  int16_t WritePage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info) override;
  int16_t WriteRows(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info, RowPage* page,
                    uint32_t rows) override;
  PageBytes* OpenCompressedPage(TwainGlobals* g, uint32_t number, const TW_IMAGEINFO& info,
                                int16_t* result) override;
  int16_t EndCompressedPage(int16_t result) override;
  void Abandon(TwainGlobals*, uint32_t) override {}
  int16_t End(TwainGlobals* g, uint32_t* pages) override;

 private:
  // A compressed page's bytes, gathered until it ends.
  class Gathered : public PageBytes {
   public:
    // 0, or 2 when there is no memory for more (the bytes stay as they were).
    int16_t Append(const void* bytes, size_t size) override;
    std::vector<uint8_t> bytes;
  };
  int16_t AddPixels(std::unique_ptr<PagePixels> pixels, int16_t made);

  PageName name_;
  PageRoute route_;
  PdfSettings settings_;
  PdfDocument* document_ = nullptr;
  Gathered compressed_;
  TW_IMAGEINFO compressedInfo_{};  // what the source said of the compressed page being gathered
};
