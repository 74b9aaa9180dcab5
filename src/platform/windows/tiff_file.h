// A TIFF file of one page or many, its pages encoded by WIC a band of rows at a time, for the
// Windows TIFF writers (page_file.cpp, page_book.cpp).
//
// WIC's TIFF encoder writes a page as one strip, which Wine 8.0's keeps whole in memory until
// the page ends (libtiff's buffer for the strip: 101 MB for a 600 dpi colour page). Here each
// band of kBandRows rows is encoded on its own, as a one-page TIFF in memory; its strips, as
// the encoder compressed them, are appended to the file, and once the page's last band is in,
// the page's directory follows them: the band's own tags (the encoder's compression,
// photometric interpretation, resolution, ...) with the page's length and the strips of all
// its bands. Then the directory before it (or the file's header) is made to point at it, so
// the file holds whole pages only: at every moment it is a TIFF of the pages before.
//
// Offsets in a TIFF are 32 bits: a page that would end past 4 GiB is not added.
#pragma once
#include <windows.h>
// wincodec.h needs the types of windows.h.
#include <wincodec.h>

#include <cstdint>

#include "platform/windows/checked_stream.h"
#include "platform/windows/page_rows.h"

// The most bytes a TIFF file can hold: every offset in it is 32 bits.
constexpr uint64_t kLargestTiffFile = 0xFFFFFFFFull;

// Test hook: TIFF files hold at most `bytes` (0: kLargestTiffFile).
void SetLargestTiffFileForTests(uint64_t bytes);

class TiffFile {
 public:
  // The file is `stream`'s (the caller's, empty).
  explicit TiffFile(CheckedFileStream* stream) : stream_(stream) {}

  // Adds `page` after the pages before. 0; 2 when the page cannot be encoded (the file is as
  // it was); 8 when the file could not be written (the stream failed: the caller returns it to
  // its checkpoint, taken before the page); 17 when the page would take the file past
  // kLargestTiffFile (the file is as it was).
  int16_t AddPage(IWICImagingFactory* factory, FrameRows* page);
  // Whether a page of `bytes` bytes of rows (as encoded, at most) can still follow.
  bool HasRoomFor(uint64_t bytes) const;
  // The file's length, in bytes.
  uint64_t Length() const { return end_; }

 private:
  int16_t WritePage(IWICImagingFactory* factory, FrameRows* page);
  bool WriteAt(uint64_t at, const void* bytes, size_t size);

  CheckedFileStream* stream_;
  bool started_ = false;
  bool bigEndian_ = false;  // the byte order of the first band, which every page keeps
  uint64_t end_ = 0;        // where the next page starts
  uint64_t link_ = 4;       // where the offset of the next page's directory goes
};

// The bytes a page of `rowBytes` x `rows` takes in a TIFF at most, directory included, when its
// encoder keeps it uncompressed (Wine 8.0's does, whatever it is asked for).
uint64_t TiffPageBytes(uint64_t rowBytes, uint64_t rows);
