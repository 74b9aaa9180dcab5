#include "image/pdf_document.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "image/byte_file.h"
#include "image/image_platform.h"
#include "image/no_throw.h"
#include "image/srgb_profile.h"
#include "twain/result_codes.h"

namespace {

// Objects 1 to 3, written last.
constexpr uint32_t kCatalog = 1;
constexpr uint32_t kPageTree = 2;
constexpr uint32_t kInfo = 3;
constexpr char kHeader[] = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
// An archival document's: the version PDF/A-2 builds on, and the same line of bytes above 127
// that tells a reader the file is binary.
constexpr char kArchivalHeader[] = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
static_assert(sizeof kHeader == sizeof kArchivalHeader, "both headers take the same bytes");
// The colour space the output intent's profile describes.
constexpr char kOutputCondition[] = "sRGB IEC61966-2.1";
constexpr char kProducer[] = "Kardivelle 1.2";
// Compressed bytes gathered before they go to the file.
constexpr size_t kFlateOut = 64 * 1024;
// A page of unknown resolution: a pixel a point.
constexpr double kPointsPerInch = 72;

std::string Number(uint64_t n) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
  return digits;
}

// A length in points to the hundredth, without trailing zeros ("612", "792.5").
std::string Points(uint32_t pixels, double dpi) {
  const double points = dpi > 0 ? pixels * kPointsPerInch / dpi : pixels;
  const uint64_t hundredths = static_cast<uint64_t>(points * 100 + 0.5);
  std::string text = Number(hundredths / 100);
  const unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02u", fraction);
    text += '.';
    text += digits[0];
    if (digits[1] != '0') text += digits[1];
  }
  return text;
}

// Bytes as a PDF literal string: parentheses and backslashes escaped, the line ends and the
// tab as their escapes (a reader takes a bare carriage return for a line feed), the other
// bytes outside printable ASCII in octal.
std::string Literal(const std::string& bytes) {
  std::string out = "(";
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b == '(' || b == ')' || b == '\\') {
      out += '\\';
      out += c;
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b >= 0x7F) {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(b));
      out += octal;
    } else {
      out += c;
    }
  }
  return out + ")";
}

// Whether PDFDocEncoding has the character at the byte of its Latin-1 code: tab, the line
// ends, printable ASCII, and U+00A1 to U+00FF but the soft hyphen (PDFDocEncoding's 0x7F to
// 0xA0 and 0xAD are other characters, or none).
bool InPdfDocEncoding(char16_t c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F) ||
         (c >= 0xA1 && c <= 0xFF && c != 0xAD);
}

// A text string of the document information: PDFDocEncoding where every character has its
// place there, else UTF-16BE after its byte order mark.
std::string TextString(const std::u16string& text) {
  bool fits = true;
  for (const char16_t c : text) fits = fits && InPdfDocEncoding(c);
  std::string bytes;
  if (fits) {
    for (const char16_t c : text) bytes += static_cast<char>(c);
  } else {
    bytes = "\xFE\xFF";
    for (const char16_t c : text) {
      bytes += static_cast<char>(c >> 8);
      bytes += static_cast<char>(c & 0xFF);
    }
  }
  return Literal(bytes);
}

// UTF-8 text as XML character data. A carriage return goes as a reference, which an XML
// reader keeps (a bare one it reads as a line feed).
std::string XmlText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '\r') {
      out += "&#xD;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Hex(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

// An image XObject: JPEG bytes as they are, or pixels compressed here with zlib.
struct PdfDocument::ImageObject {
  uint32_t width = 0;
  uint32_t height = 0;
  int components = 1;
  int bits = 8;
  const uint8_t* jpeg = nullptr;
  size_t jpegSize = 0;
  PagePixels* pixels = nullptr;
};

PdfDocument::PdfDocument(const uint8_t* path, const PdfSettings& settings) : settings_(settings) {
  const size_t bytes = kWindowsBuild ? std::strlen(reinterpret_cast<const char*>(path)) + 1 : path[0] + 1u;
  pathBytes_ = bytes < sizeof path_ ? bytes : sizeof path_;
  std::memcpy(path_, path, pathBytes_);
}

PdfDocument::~PdfDocument() {
  if (file_) CloseByteFile(file_, false);
}

uint32_t PdfDocument::NewObject() {
  offsets_.push_back(0);
  return static_cast<uint32_t>(offsets_.size());
}

void PdfDocument::Put(const void* bytes, size_t size) {
  if (failed_ != 0 || size == 0) return;
  failed_ = AppendByteFile(file_, bytes, size);
  length_ += size;
}

void PdfDocument::Put(const std::string& text) { Put(text.data(), text.size()); }

void PdfDocument::BeginObject(uint32_t number) {
  offsets_[number - 1] = length_;
  Put(Number(number) + " 0 obj\n");
}

int16_t PdfDocument::StartFile() {
  int16_t r = 0;
  file_ = CreateByteFile(path_, TWFF_PDF, &r);
  if (!file_) return ended_ = r;
  offsets_.assign(kInfo, 0);
  Put(settings_.archival ? kArchivalHeader : kHeader, sizeof kHeader - 1);
  mark_ = Mark{length_, offsets_.size(), 0};
  return ended_ = failed_;  // a file without its header takes no page (Close removes it)
}

// Flate: the rows through zlib, a piece of compressed bytes at a time; the stream's length
// follows in an object of its own. Grey and colour rows go as PNG "Up" rows (a filter byte,
// then each byte less the one above it: the predictor FlateDecode undoes, /Predictor 12), as
// PNG files do: a scanned page changes little from row to row, and zlib finds that in the
// differences. Black-and-white rows go as they are.
int16_t PdfDocument::WriteImage(const ImageObject& image, uint32_t number) {
  std::string dict = std::string("<< /Type /XObject /Subtype /Image /Width ") + Number(image.width) +
                     " /Height " + Number(image.height) + " /ColorSpace " +
                     (image.components == 1 ? "/DeviceGray" : "/DeviceRGB") + " /BitsPerComponent " +
                     Number(image.bits);
  BeginObject(number);
  if (image.jpeg) {
    Put(dict + " /Filter /DCTDecode /Length " + Number(image.jpegSize) + " >>\nstream\n");
    Put(image.jpeg, image.jpegSize);
    Put("\nendstream\nendobj\n");
    return failed_;
  }
  const bool up = image.bits == 8;
  if (up)
    dict += std::string(" /DecodeParms << /Predictor 12 /Colors ") + Number(image.components) +
            " /BitsPerComponent 8 /Columns " + Number(image.width) + " >>";
  const uint32_t lengthObject = NewObject();
  Put(dict + " /Filter /FlateDecode /Length " + Number(lengthObject) + " 0 R >>\nstream\n");
  Deflater z(this);
  if (!z.Ready()) return kResultUnusablePage;
  const uint32_t rowBytes = image.pixels->RowBytes();
  std::vector<uint8_t> above, filtered;  // the row above (zeros at first), the row as it goes to zlib
  if (up) {
    above.assign(rowBytes, 0);
    filtered.resize(rowBytes + 1);
    filtered[0] = 2;  // PNG's Up
  }
  for (uint32_t y = 0; y < image.height && failed_ == 0; ++y) {
    const uint8_t* row = image.pixels->Row(y);
    if (!row) return kResultUnusablePage;
    if (up) {
      uint8_t* out = filtered.data() + 1;
      const uint8_t* over = above.data();
      for (uint32_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(row[i] - over[i]);
      std::memcpy(above.data(), row, rowBytes);
      row = filtered.data();
    }
    if (!z.Take(row, up ? rowBytes + 1 : rowBytes, false)) return kResultUnusablePage;
  }
  if (!z.Take(nullptr, 0, true)) return kResultUnusablePage;
  Put("\nendstream\nendobj\n");
  BeginObject(lengthObject);
  Put(Number(z.Written()) + "\nendobj\n");
  return failed_;
}

PdfDocument::Deflater::Deflater(PdfDocument* doc) : doc_(doc), out_(kFlateOut) {
  ready_ = deflateInit(&z_, Z_BEST_COMPRESSION) == Z_OK;
}

PdfDocument::Deflater::~Deflater() {
  if (ready_) deflateEnd(&z_);
}

bool PdfDocument::Deflater::Take(const uint8_t* bytes, size_t size, bool last) {
  z_.next_in = const_cast<Bytef*>(bytes);
  z_.avail_in = static_cast<uInt>(size);
  int r;
  do {
    z_.next_out = out_.data();
    z_.avail_out = static_cast<uInt>(out_.size());
    r = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
    if (r == Z_STREAM_ERROR) return false;
    const size_t made = out_.size() - z_.avail_out;
    doc_->Put(out_.data(), made);
    written_ += made;
  } while (z_.avail_out == 0 || (last && r != Z_STREAM_END));
  return true;
}

// The image, the content that draws it over the whole page, and the page.
int16_t PdfDocument::AddImagePage(const ImageObject& image, double xDpi, double yDpi) {
  if (ended_ != 0) return ended_;
  if (image.width == 0 || image.height == 0) return kResultUnusablePage;
  if (!file_ && StartFile() != 0) return ended_;
  const int16_t r = AnswerWithoutThrowing([&]() -> int16_t {
    const uint32_t imageObject = NewObject();
    int16_t written = WriteImage(image, imageObject);
    if (written != 0) return written;
    const std::string w = Points(image.width, xDpi), h = Points(image.height, yDpi);
    const std::string draw = std::string("q ") + w + " 0 0 " + h + " 0 0 cm /Im1 Do Q\n";
    const uint32_t content = NewObject();
    BeginObject(content);
    // The drawing's own line end is its last byte; an archival document has the line end that
    // precedes "endstream" besides, outside the stream's length.
    Put(std::string("<< /Length ") + Number(draw.size()) + " >>\nstream\n" + draw +
        (settings_.archival ? "\n" : "") + "endstream\nendobj\n");
    const uint32_t page = NewObject();
    BeginObject(page);
    Put(std::string("<< /Type /Page /Parent ") + Number(kPageTree) + " 0 R /MediaBox [0 0 " + w + " " + h +
        "] /Resources << /XObject << /Im1 " + Number(imageObject) + " 0 R >> >> /Contents " + Number(content) +
        " 0 R >>\nendobj\n");
    pages_.push_back(page);
    return failed_;
  });
  if (r != 0) return Undo(r);
  const int16_t kept = AnswerWithoutThrowing([&] {
    before_.push_back(mark_);
    return kResultOk;
  });
  if (kept != 0) return Undo(kept);
  mark_ = Mark{length_, offsets_.size(), pages_.size()};
  return kResultOk;
}

int16_t PdfDocument::Undo(int16_t result) {
  offsets_.resize(mark_.objects);
  pages_.resize(mark_.pages);
  if (CutByteFile(file_, mark_.length) != 0) result = kResultFileError;
  failed_ = 0;
  length_ = mark_.length;
  if (result == kResultFileError) ended_ = result;  // a full disk, or a file that cannot be cut
  return result;
}

int16_t PdfDocument::AddPage(PagePixels& page) {
  return AnswerWithoutThrowing([&]() -> int16_t {
    ImageObject image;
    image.width = page.Width();
    image.height = page.Height();
    const PixelFormat format = page.Format();
    image.components = format == PixelFormat::kRgb ? 3 : 1;
    image.bits = format == PixelFormat::kBlackWhite ? 1 : 8;
    std::vector<uint8_t> jpeg;
    if (format == PixelFormat::kBlackWhite || settings_.lossless) {
      image.pixels = &page;
    } else {
      if (ended_ != 0) return ended_;
      const int16_t r = EncodeJpeg(page, settings_.jpegQuality, &jpeg);
      if (r != 0) return r;
      image.jpeg = jpeg.data();
      image.jpegSize = jpeg.size();
    }
    return AddImagePage(image, page.XDpi(), page.YDpi());
  });
}

int16_t PdfDocument::AddJpegPage(const uint8_t* jpeg, size_t size, const JpegPageFacts& facts) {
  if (size == 0 || (facts.components != 1 && facts.components != 3)) return kResultUnusablePage;
  ImageObject image;
  image.width = facts.width;
  image.height = facts.height;
  image.components = facts.components;
  image.jpeg = jpeg;
  image.jpegSize = size;
  return AddImagePage(image, facts.xDpi, facts.yDpi);
}

// The page tree, the catalogue, the document information, the cross-reference table and the
// trailer. True when all of it was written.
bool PdfDocument::WriteEnd() {
  std::string kids;
  for (const uint32_t page : pages_) {
    if (!kids.empty()) kids += ' ';
    kids += Number(page) + " 0 R";
  }
  BeginObject(kPageTree);
  Put(std::string("<< /Type /Pages /Kids [") + kids + "] /Count " + Number(pages_.size()) + " >>\nendobj\n");
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char date[64] = "D:19700101000000Z";
  char xmpDate[64] = "1970-01-01T00:00:00Z";
  if (utc) {
    std::snprintf(date, sizeof date, "D:%04d%02d%02d%02d%02d%02dZ", utc->tm_year + 1900, utc->tm_mon + 1,
                  utc->tm_mday, utc->tm_hour, utc->tm_min, utc->tm_sec);
    std::snprintf(xmpDate, sizeof xmpDate, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc->tm_year + 1900,
                  utc->tm_mon + 1, utc->tm_mday, utc->tm_hour, utc->tm_min, utc->tm_sec);
  }
  std::string catalog = std::string("<< /Type /Catalog /Pages ") + Number(kPageTree) + " 0 R";
  if (settings_.archival) {
    const uint32_t metadata = WriteMetadata(xmpDate);
    const uint32_t profile = WriteOutputIntent();
    catalog += std::string(" /Metadata ") + Number(metadata) + " 0 R /OutputIntents [<< /Type /OutputIntent " +
               "/S /GTS_PDFA1 /OutputConditionIdentifier (" + kOutputCondition + ") /Info (" +
               kOutputCondition + ") /DestOutputProfile " + Number(profile) + " 0 R >>]";
  }
  BeginObject(kCatalog);
  Put(catalog + " >>\nendobj\n");
  std::string info = std::string("<< /Producer (") + kProducer + ") /CreationDate (" + date + ")";
  // The metadata's dates are the information's: an archival document gives its modification too.
  if (settings_.archival) info += std::string(" /ModDate (") + date + ")";
  const std::pair<const char*, const PdfText*> texts[] = {{"Title", &settings_.title},
                                                          {"Author", &settings_.author},
                                                          {"Subject", &settings_.subject},
                                                          {"Keywords", &settings_.keywords}};
  for (const auto& text : texts)
    if (!text.second->utf16.empty())
      info += std::string(" /") + text.first + " " + TextString(text.second->utf16);
  BeginObject(kInfo);
  Put(info + " >>\nendobj\n");
  // The file's identifier: checksums of its name, its time and its length, four ways seeded.
  std::string id;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    uLong sum = crc32(seed, path_, static_cast<uInt>(pathBytes_));
    sum = crc32(sum, reinterpret_cast<const Bytef*>(date), static_cast<uInt>(std::strlen(date)));
    const std::string length = Number(length_);
    id += Hex(static_cast<uint32_t>(
        crc32(sum, reinterpret_cast<const Bytef*>(length.data()), static_cast<uInt>(length.size()))));
  }
  const uint64_t table = length_;
  Put(std::string("xref\n0 ") + Number(offsets_.size() + 1) + "\n0000000000 65535 f\r\n");
  for (const uint64_t offset : offsets_) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010llu 00000 n\r\n", static_cast<unsigned long long>(offset));
    Put(entry, 20);
  }
  Put(std::string("trailer\n<< /Size ") + Number(offsets_.size() + 1) + " /Root " + Number(kCatalog) +
      " 0 R /Info " + Number(kInfo) + " 0 R /ID [<" + id + "> <" + id + ">] >>\nstartxref\n" + Number(table) +
      "\n%%EOF\n");
  return failed_ == 0;
}

// The XMP packet of an archival document, uncompressed so that a reader that knows nothing
// of PDF finds it: its PDF/A identification, and the information dictionary's texts and
// dates as the XMP properties that stand for them.
uint32_t PdfDocument::WriteMetadata(const std::string& xmpDate) {
  std::string xmp =
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <rdf:Description rdf:about=\"\"\n"
      "    xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"\n"
      "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
      "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
      "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\">\n"
      "   <pdfaid:part>2</pdfaid:part>\n"
      "   <pdfaid:conformance>B</pdfaid:conformance>\n"
      "   <dc:format>application/pdf</dc:format>\n";
  const auto alt = [](const char* name, const PdfText& text) {
    return text.utf8.empty() ? std::string()
                             : std::string("   <dc:") + name + "><rdf:Alt><rdf:li xml:lang=\"x-default\">" +
                                   XmlText(text.utf8) + "</rdf:li></rdf:Alt></dc:" + name + ">\n";
  };
  xmp += alt("title", settings_.title);
  if (!settings_.author.utf8.empty())
    xmp += "   <dc:creator><rdf:Seq><rdf:li>" + XmlText(settings_.author.utf8) +
           "</rdf:li></rdf:Seq></dc:creator>\n";
  xmp += alt("description", settings_.subject);
  if (!settings_.keywords.utf8.empty())
    xmp += "   <pdf:Keywords>" + XmlText(settings_.keywords.utf8) + "</pdf:Keywords>\n";
  xmp += std::string("   <pdf:Producer>") + kProducer + "</pdf:Producer>\n   <xmp:CreateDate>" + xmpDate +
         "</xmp:CreateDate>\n   <xmp:ModifyDate>" + xmpDate + "</xmp:ModifyDate>\n   <xmp:MetadataDate>" +
         xmpDate +
         "</xmp:MetadataDate>\n"
         "  </rdf:Description>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
  const uint32_t number = NewObject();
  BeginObject(number);
  Put(std::string("<< /Type /Metadata /Subtype /XML /Length ") + Number(xmp.size()) + " >>\nstream\n" + xmp +
      "\nendstream\nendobj\n");
  return number;
}

// The profile the output intent names: three components, as the sRGB profile describes.
uint32_t PdfDocument::WriteOutputIntent() {
  const uint32_t number = NewObject();
  BeginObject(number);
  Put(std::string("<< /N 3 /Length ") + Number(kSrgbProfileBytes) + " >>\nstream\n");
  Put(kSrgbProfile, kSrgbProfileBytes);
  Put("\nendstream\nendobj\n");
  return number;
}

int16_t PdfDocument::Close(int* pages) {
  *pages = 0;
  if (!file_) return kResultOk;
  int16_t ended = kResultOk;
  bool cut = false;
  while (!pages_.empty()) {
    ended = AnswerWithoutThrowing([&] { return WriteEnd() ? kResultOk : kResultFileError; });
    if (ended != kResultFileError) break;
    // The end did not fit after the last page: that page gives way to it.
    mark_ = before_.back();
    before_.pop_back();
    cut = true;
    offsets_.resize(mark_.objects);
    pages_.resize(mark_.pages);
    failed_ = 0;
    length_ = mark_.length;
    if (CutByteFile(file_, mark_.length) != 0) break;
  }
  const bool keep = !pages_.empty() && ended == kResultOk;
  const int16_t closed = CloseByteFile(file_, keep);
  file_ = nullptr;
  if (keep && closed == 0) *pages = Pages();
  if (ended != kResultOk) return ended;
  return closed != kResultOk || cut ? kResultFileError : kResultOk;
}
