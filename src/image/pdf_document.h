// One PDF file that grows a page at a time, written by the extension itself for both builds:
// the platform only gives the file (ByteFile, image/byte_file.h) and the JPEG encoder
// (image/image_platform.h); zlib compresses the lossless images.
//
// Each page is one image filling a page of its own size (its pixels at its resolution: a
// 300 dpi letter page is 612 x 792 points). Black and white: 1 bit DeviceGray, Flate. Grey
// and colour: the platform's JPEG (DCTDecode), or 8-bit DeviceGray / DeviceRGB with Flate when
// lossless. A page that is a JPEG stream already goes in as it is.
//
// A page's objects are written as it comes, so that memory holds one page whatever the
// document's length; the page tree, the catalogue, the document information (Producer
// "Kardivelle 1.2", CreationDate), the cross-reference table and the trailer (with an /ID)
// are written by Close, and an archival document's metadata, output intent and profile with
// them. After each complete page the file's length is kept: a page that fails while it is
// written is cut off again, and the pages before it still make a document; an end that does
// not fit (a full disk) has the last pages cut off until it does.
#pragma once
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/page_pixels.h"

// A text of the document information, in both forms the file takes it: UTF-16 (native
// order) for the information dictionary, UTF-8 for the metadata. Empty: no entry.
struct PdfText {
  std::u16string utf16;
  std::string utf8;
};

// How the grey and colour pages are encoded, and what the document says of itself.
struct PdfSettings {
  int jpegQuality = 85;   // 1 to 100
  bool lossless = false;  // Flate instead of JPEG
  // PDF/A-2b: a PDF 1.7 file with XMP metadata in its catalogue and the sRGB profile as its
  // output intent, which its DeviceGray and DeviceRGB images are read by.
  bool archival = false;
  PdfText title, author, subject, keywords;
};

// What a page that is a JPEG stream already says of itself: its pixels, components (1 grey,
// 3 colour) and resolution (0: unknown).
struct JpegPageFacts {
  uint32_t width = 0;
  uint32_t height = 0;
  int components = 3;
  double xDpi = 0;
  double yDpi = 0;
};

class PdfDocument {
 public:
  // path: as the writers take it (image/image_platform.h), at most 255 characters. The file is
  // created with the first page; a document without a page leaves none.
  PdfDocument(const uint8_t* path, const PdfSettings& settings);
  ~PdfDocument();  // a document that was not closed leaves no file
  PdfDocument(const PdfDocument&) = delete;
  PdfDocument& operator=(const PdfDocument&) = delete;

  // Adds a page. 0; 2 when the page cannot be encoded (the document goes on without it); 7
  // (Mac: the name exists) or 8 when the file cannot be created or written: the document
  // then takes no more pages and keeps those before.
  int16_t AddPage(PagePixels& page);
  int16_t AddJpegPage(const uint8_t* jpeg, size_t size, const JpegPageFacts& facts);
  // Ends the file: 0; 8 when the end did not fit after the last page, which is cut off (as
  // many pages as it takes) so that the pages before still close into a document, or when it
  // could not be ended at all (2: no memory to end it), and the file is removed then. *pages:
  // the pages the file holds (0: there is no file).
  int16_t Close(int* pages);
  int Pages() const { return static_cast<int>(pages_.size()); }

 private:
  struct Mark {
    uint64_t length;
    size_t objects;
    size_t pages;
  };
  // The image's dictionary entries and how its data is written.
  struct ImageObject;
  // zlib's compression of an image's rows into the file as it goes.
  class Deflater {
   public:
    // May throw std::bad_alloc.
    explicit Deflater(PdfDocument* doc);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    bool Ready() const { return ready_; }
    // More bytes (`last`: the end of the stream); false when zlib fails.
    bool Take(const uint8_t* bytes, size_t size, bool last);
    uint64_t Written() const { return written_; }

   private:
    PdfDocument* doc_;
    z_stream z_{};
    bool ready_ = false;
    std::vector<uint8_t> out_;
    uint64_t written_ = 0;
  };

  int16_t StartFile();
  int16_t AddImagePage(const ImageObject& image, double xDpi, double yDpi);
  int16_t WriteImage(const ImageObject& image, uint32_t number);
  uint32_t NewObject();
  void BeginObject(uint32_t number);
  void Put(const std::string& text);
  void Put(const void* bytes, size_t size);
  // After a page that failed with `result`: the file is cut back to the last complete page.
  int16_t Undo(int16_t result);
  bool WriteEnd();
  // An archival document's metadata and output intent (with its profile); their numbers.
  uint32_t WriteMetadata(const std::string& xmpDate);
  uint32_t WriteOutputIntent();

  uint8_t path_[258] = {};  // as the writers take it
  size_t pathBytes_ = 0;
  PdfSettings settings_;
  struct ByteFile* file_ = nullptr;
  uint64_t length_ = 0;
  int16_t failed_ = 0;             // the write that failed (8), until the file is cut back
  int16_t ended_ = 0;              // why the document takes no more pages
  std::vector<uint64_t> offsets_;  // where objects 1, 2, ... start in the file
  std::vector<uint32_t> pages_;    // the page objects' numbers
  Mark mark_{0, 0, 0};
  std::vector<Mark> before_;  // mark_ as it stood before each page the document holds
};
