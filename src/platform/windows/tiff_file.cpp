#include "platform/windows/tiff_file.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/windows/wic.h"
#include "platform/windows/wic_frame.h"
#include "twain/result_codes.h"

namespace {

constexpr uint16_t kImageLength = 257;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kRowsPerStrip = 278;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeIfd = 13;
constexpr size_t kHeaderBytes = 8;
constexpr size_t kEntryBytes = 12;

uint64_t gLargest = kLargestTiffFile;  // SetLargestTiffFileForTests

// Bytes of one value of a TIFF field type; 0 for a type TIFF 6.0 does not define.
size_t TypeBytes(uint16_t type) {
  switch (type) {
    case 1:  // BYTE
    case 2:  // ASCII
    case 6:  // SBYTE
    case 7:  // UNDEFINED
      return 1;
    case kTypeShort:
    case 8:  // SSHORT
      return 2;
    case kTypeLong:
    case 9:   // SLONG
    case 11:  // FLOAT
    case kTypeIfd:
      return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
      return 8;
    default:
      return 0;
  }
}

// Tags whose values point into the band's own file, other than its strips: free space, tiles,
// and directories of their own (sub-images, Exif, GPS, interoperability). The page does not
// take them over.
bool PointsIntoBand(uint16_t tag, uint16_t type) {
  return type == kTypeIfd || tag == 288 || tag == 289 || tag == 324 || tag == 325 || tag == 330 ||
         tag == 34665 || tag == 34853 || tag == 40965;
}

// A TIFF in memory, read in its own byte order; every read is checked against its end.
class TiffBytes {
 public:
  TiffBytes(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool Order() {
    if (size_ < kHeaderBytes) return false;
    if (bytes_[0] == 'I' && bytes_[1] == 'I') {
      big_ = false;
    } else if (bytes_[0] == 'M' && bytes_[1] == 'M') {
      big_ = true;
    } else {
      return false;
    }
    uint16_t magic = 0;
    return U16(2, &magic) && magic == 42;
  }
  bool Big() const { return big_; }
  bool Has(uint64_t at, uint64_t bytes) const { return at <= size_ && bytes <= size_ - at; }
  bool U16(uint64_t at, uint16_t* v) const {
    if (!Has(at, 2)) return false;
    const uint8_t* b = bytes_ + at;
    *v = big_ ? static_cast<uint16_t>(b[0] << 8 | b[1]) : static_cast<uint16_t>(b[1] << 8 | b[0]);
    return true;
  }
  bool U32(uint64_t at, uint32_t* v) const {
    if (!Has(at, 4)) return false;
    const uint8_t* b = bytes_ + at;
    *v = big_ ? uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]
              : uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0];
    return true;
  }
  const uint8_t* At(uint64_t at) const { return bytes_ + at; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  bool big_ = false;
};

// One entry of a directory, its value in the file's byte order.
struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t value[4] = {};      // a value of at most four bytes
  std::vector<uint8_t> data;  // a longer one
};

// What a band's one-page TIFF holds: its directory's tags that the page takes over, and its
// strips.
struct Band {
  bool bigEndian = false;
  uint32_t rows = 0;
  uint32_t rowsPerStrip = 0;  // as many as the band has rows, at most
  std::vector<Entry> tags;
  std::vector<std::pair<uint32_t, uint32_t>> strips;  // where each is in the band, and its bytes
};

// The SHORT or LONG numbers of the entry at `at`.
bool ReadNumbers(const TiffBytes& tiff, uint64_t at, std::vector<uint32_t>* numbers) {
  uint16_t type = 0;
  uint32_t count = 0;
  if (!tiff.U16(at + 2, &type) || !tiff.U32(at + 4, &count) || (type != kTypeShort && type != kTypeLong))
    return false;
  const uint64_t bytes = uint64_t(count) * TypeBytes(type);
  uint64_t from = at + 8;
  if (bytes > 4) {
    uint32_t offset = 0;
    if (!tiff.U32(at + 8, &offset)) return false;
    from = offset;
  }
  if (count == 0 || !tiff.Has(from, bytes)) return false;
  numbers->resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t shortValue = 0;
    if (type == kTypeShort ? !tiff.U16(from + 2 * i, &shortValue) : !tiff.U32(from + 4 * i, &(*numbers)[i]))
      return false;
    if (type == kTypeShort) (*numbers)[i] = shortValue;
  }
  return true;
}

bool ReadBand(const uint8_t* bytes, size_t size, Band* band) {
  TiffBytes tiff(bytes, size);
  uint32_t directory = 0;
  uint16_t entries = 0;
  if (!tiff.Order() || !tiff.U32(4, &directory) || !tiff.U16(directory, &entries)) return false;
  band->bigEndian = tiff.Big();
  std::vector<uint32_t> offsets, counts, length, rowsPerStrip;
  for (uint16_t i = 0; i < entries; ++i) {
    const uint64_t at = uint64_t(directory) + 2 + kEntryBytes * i;
    Entry e;
    if (!tiff.Has(at, kEntryBytes) || !tiff.U16(at, &e.tag) || !tiff.U16(at + 2, &e.type) ||
        !tiff.U32(at + 4, &e.count))
      return false;
    bool ok = true;
    if (e.tag == kImageLength) {
      ok = ReadNumbers(tiff, at, &length);
    } else if (e.tag == kRowsPerStrip) {
      ok = ReadNumbers(tiff, at, &rowsPerStrip);
    } else if (e.tag == kStripOffsets) {
      ok = ReadNumbers(tiff, at, &offsets);
    } else if (e.tag == kStripByteCounts) {
      ok = ReadNumbers(tiff, at, &counts);
    } else if (TypeBytes(e.type) != 0 && !PointsIntoBand(e.tag, e.type)) {
      const uint64_t valueBytes = uint64_t(e.count) * TypeBytes(e.type);
      if (valueBytes <= 4) {
        std::memcpy(e.value, tiff.At(at + 8), 4);
      } else {
        uint32_t offset = 0;
        ok = tiff.U32(at + 8, &offset) && tiff.Has(offset, valueBytes);
        if (ok) e.data.assign(tiff.At(offset), tiff.At(offset) + valueBytes);
      }
      if (ok) band->tags.push_back(std::move(e));
    }
    if (!ok) return false;
  }
  if (length.size() != 1 || offsets.empty() || offsets.size() != counts.size()) return false;
  band->rows = length[0];
  band->rowsPerStrip = rowsPerStrip.empty() || rowsPerStrip[0] > band->rows ? band->rows : rowsPerStrip[0];
  if (band->rows == 0 || band->rowsPerStrip == 0 ||
      offsets.size() != (band->rows + band->rowsPerStrip - 1) / band->rowsPerStrip)
    return false;
  for (size_t i = 0; i < offsets.size(); ++i) {
    if (!tiff.Has(offsets[i], counts[i])) return false;
    band->strips.emplace_back(offsets[i], counts[i]);
  }
  return true;
}

// `rows` rows of a page from its row `first` on, as a page of their own.
class BandRows : public FrameRows {
 public:
  BandRows(FrameRows* page, UINT first, UINT rows) : page_(page), first_(first) {
    format_ = page->Format();
    width_ = page->Width();
    height_ = rows;
    xDpi_ = page->XDpi();
    yDpi_ = page->YDpi();
  }
  const BYTE* Row(UINT y) override { return page_->Row(first_ + y); }

 private:
  FrameRows* page_;
  UINT first_;
};

// A band encoded as a one-page TIFF in global memory, its bytes locked while it lives.
class EncodedBand {
 public:
  ~EncodedBand() {
    if (bytes_) GlobalUnlock(global_);
  }
  HRESULT Encode(IWICImagingFactory* factory, FrameRows* page, UINT first, UINT rows) {
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream_.Out());
    if (FAILED(hr)) return hr;
    {
      Held<IWICBitmapEncoder> encoder;
      BandRows band(page, first, rows);
      hr = NewEncoder(factory, TWFF_TIFF, stream_.Get(), &encoder);
      if (SUCCEEDED(hr)) hr = AddFrame(encoder.Get(), &band, TWFF_TIFF, nullptr);
      if (SUCCEEDED(hr)) hr = encoder->Commit();
      if (FAILED(hr)) return hr;
    }
    STATSTG stat{};
    if (FAILED(hr = stream_->Stat(&stat, STATFLAG_NONAME)) ||
        FAILED(hr = GetHGlobalFromStream(stream_.Get(), &global_)))
      return hr;
    bytes_ = static_cast<const uint8_t*>(GlobalLock(global_));
    size_ = static_cast<size_t>(stat.cbSize.QuadPart);
    return bytes_ && size_ <= GlobalSize(global_) ? S_OK : E_OUTOFMEMORY;
  }
  const uint8_t* Bytes() const { return bytes_; }
  size_t Size() const { return size_; }

 private:
  Held<IStream> stream_;
  HGLOBAL global_ = nullptr;
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
};

void Put16(std::vector<uint8_t>* to, size_t at, uint16_t v, bool big) {
  (*to)[at + (big ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
  (*to)[at + (big ? 1 : 0)] = static_cast<uint8_t>(v);
}

void Put32(std::vector<uint8_t>* to, size_t at, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) (*to)[at + (big ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A LONG entry of the page's own: its numbers in the file's byte order.
Entry LongEntry(uint16_t tag, const std::vector<uint32_t>& numbers, bool big) {
  Entry e;
  e.tag = tag;
  e.type = kTypeLong;
  e.count = static_cast<uint32_t>(numbers.size());
  std::vector<uint8_t> bytes(4 * numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i) Put32(&bytes, 4 * i, numbers[i], big);
  if (bytes.size() <= 4)
    std::memcpy(e.value, bytes.data(), 4);
  else
    e.data = std::move(bytes);
  return e;
}

// The page's directory at `at` (even): its entries by tag, no next directory, then the values
// that do not fit in their entries, each at an even offset.
// *link: where in it the offset of a next directory goes.
bool LayDirectory(std::vector<Entry> entries, uint64_t at, bool big, std::vector<uint8_t>* out, size_t* link) {
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  const size_t fixed = 2 + kEntryBytes * entries.size() + 4;
  size_t total = fixed;
  for (const Entry& e : entries) total += (e.data.size() + 1) & ~size_t(1);
  if (at + total > gLargest) return false;
  out->assign(total, 0);
  *link = fixed - 4;
  Put16(out, 0, static_cast<uint16_t>(entries.size()), big);
  size_t data = fixed;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const size_t to = 2 + kEntryBytes * i;
    Put16(out, to, e.tag, big);
    Put16(out, to + 2, e.type, big);
    Put32(out, to + 4, e.count, big);
    if (e.data.empty()) {
      std::memcpy(out->data() + to + 8, e.value, 4);
    } else {
      Put32(out, to + 8, static_cast<uint32_t>(at + data), big);
      std::memcpy(out->data() + data, e.data.data(), e.data.size());
      data += (e.data.size() + 1) & ~size_t(1);
    }
  }
  return true;
}

}  // namespace

uint64_t TiffPageBytes(uint64_t rowBytes, uint64_t rows) {
  // The rows, the offset and byte count of a strip per band, a pad byte and the directory.
  constexpr uint64_t kDirectory = 1024;
  return rowBytes * rows + 8 * ((rows + kBandRows - 1) / kBandRows) + 1 + kDirectory;
}

void SetLargestTiffFileForTests(uint64_t bytes) {
  gLargest = bytes == 0 || bytes > kLargestTiffFile ? kLargestTiffFile : bytes;
}

bool TiffFile::HasRoomFor(uint64_t bytes) const {
  const uint64_t used = started_ ? end_ : kHeaderBytes;
  return used <= gLargest && bytes <= gLargest - used;
}

int16_t TiffFile::AddPage(IWICImagingFactory* factory, FrameRows* page) {
  const uint64_t end = end_, link = link_;
  const bool started = started_;
  stream_->Checkpoint();
  const int16_t result = WritePage(factory, page);
  if (result == kResultOk || stream_->Failed()) return stream_->Failed() ? kResultFileError : result;
  // The file as it was: a page that could not be encoded, or that does not fit.
  if (!stream_->Rollback()) return kResultFileError;
  end_ = end;
  link_ = link;
  started_ = started;
  return result;
}

bool TiffFile::WriteAt(uint64_t at, const void* bytes, size_t size) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(at);
  ULONG done = 0;
  return SUCCEEDED(stream_->Seek(to, STREAM_SEEK_SET, nullptr)) &&
         SUCCEEDED(stream_->Write(bytes, static_cast<ULONG>(size), &done)) && done == size;
}

int16_t TiffFile::WritePage(IWICImagingFactory* factory, FrameRows* page) {
  const UINT height = page->Height();
  UINT bandRows = kBandRows;
  uint32_t rowsPerStrip = 0;
  std::vector<Entry> tags;
  std::vector<uint32_t> offsets, counts;
  for (UINT y = 0; y < height;) {
    const UINT rows = height - y < bandRows ? height - y : bandRows;
    EncodedBand encoded;
    Band band;
    if (FAILED(encoded.Encode(factory, page, y, rows)) || !ReadBand(encoded.Bytes(), encoded.Size(), &band) ||
        band.rows != rows)
      return kResultUnusablePage;
    if (y == 0) {
      // The page's strips are all of one length but the last: an encoder that cuts a band
      // into shorter strips is given bands of whole strips.
      if (rows < height && rows % band.rowsPerStrip != 0) {
        bandRows = rows - rows % band.rowsPerStrip;
        continue;
      }
      rowsPerStrip = band.rowsPerStrip;
      tags = std::move(band.tags);
      if (!started_) {
        bigEndian_ = band.bigEndian;
        std::vector<uint8_t> header(kHeaderBytes, 0);
        header[0] = header[1] = bigEndian_ ? 'M' : 'I';
        Put16(&header, 2, 42, bigEndian_);
        if (!WriteAt(0, header.data(), header.size())) return kResultFileError;
        started_ = true;
        end_ = kHeaderBytes;
        link_ = 4;
      }
    }
    const bool last = y + rows == height;
    if (band.bigEndian != bigEndian_ ||
        !(band.rowsPerStrip == rowsPerStrip || (last && band.rowsPerStrip == rows && rows < rowsPerStrip)))
      return kResultUnusablePage;
    for (const auto& strip : band.strips) {
      if (!HasRoomFor(strip.second)) return kResultFileTooLarge;
      if (!WriteAt(end_, encoded.Bytes() + strip.first, strip.second)) return kResultFileError;
      offsets.push_back(static_cast<uint32_t>(end_));
      counts.push_back(strip.second);
      end_ += strip.second;
    }
    y += rows;
  }
  const uint8_t pad = 0;
  if (end_ % 2 != 0) {
    if (!HasRoomFor(1)) return kResultFileTooLarge;
    if (!WriteAt(end_, &pad, 1)) return kResultFileError;
    ++end_;
  }
  tags.push_back(LongEntry(kImageLength, {height}, bigEndian_));
  tags.push_back(LongEntry(kRowsPerStrip, {rowsPerStrip}, bigEndian_));
  tags.push_back(LongEntry(kStripOffsets, offsets, bigEndian_));
  tags.push_back(LongEntry(kStripByteCounts, counts, bigEndian_));
  std::vector<uint8_t> directory;
  size_t link = 0;
  if (!LayDirectory(std::move(tags), end_, bigEndian_, &directory, &link)) return kResultFileTooLarge;
  std::vector<uint8_t> pointer(4, 0);
  Put32(&pointer, 0, static_cast<uint32_t>(end_), bigEndian_);
  // The directory, then the link to it: until then the file holds the pages before.
  if (!WriteAt(end_, directory.data(), directory.size()) || !WriteAt(link_, pointer.data(), pointer.size()))
    return kResultFileError;
  link_ = end_ + link;
  end_ += directory.size();
  return kResultOk;
}
