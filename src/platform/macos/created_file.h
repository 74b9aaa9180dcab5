// The files the Mac writers create (page_file.cpp, page_book.cpp, byte_file.cpp): their kinds,
// a name that does not exist yet, the file with its type and creator, and a guard that removes
// a file its writer does not keep. Files are never replaced: a name that exists answers 7.
#pragma once
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cstdint>

#include "twain/twain.h"

constexpr OSType kCreator = 0x70727677;   // 'prvw'
constexpr OSType kTypePng = 0x504E4766;   // 'PNGf'
constexpr OSType kTypeJpeg = 0x4A504547;  // 'JPEG'
constexpr OSType kTypeTiff = 0x54494646;  // 'TIFF'
constexpr OSType kTypePdf = 0x50444620;   // 'PDF '

struct FileKind {
  CFStringRef uti;
  OSType fileType;
};

// The kind of a file in `format` (PNG, JPEG, TIFF of one page or many); false for another.
bool KindOf(TW_UINT16 format, FileKind* kind);

// A name that does not exist yet: 0, 7 (it exists) or 8.
int16_t NewFileLocation(const uint8_t* path, FSSpec* location);
// Creates the file as the extension's, of `fileType`: 0, 2 (no memory), 7 (it exists) or 8.
int16_t CreateFile(const FSSpec& location, OSType fileType);

// A file the call created, removed when the guard goes unless the call keeps it (also when an
// exception ends the call).
class CreatedFile {
 public:
  explicit CreatedFile(const FSSpec& location) : location_(location) {}
  ~CreatedFile() {
    if (kept_) return;
    try {
      FSpDelete(&location_);
    } catch (...) {
      // A destructor ends quietly (here while another exception passes).
    }
  }
  CreatedFile(const CreatedFile&) = delete;
  CreatedFile& operator=(const CreatedFile&) = delete;
  void Keep() { kept_ = true; }

 private:
  FSSpec location_;
  bool kept_ = false;
};
