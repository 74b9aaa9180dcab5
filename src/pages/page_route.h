// How a scan's pages come from the source and who writes their files: one value, decided once
// per scan from what its caller asked for (a picture field, a file of Twain.ScanToFile, the
// files of Twain.ScanPages), and settled with the source before it is enabled (a memory
// transfer where the source agrees). Everything that depends on it asks it: the transfer
// mechanism negotiated, how a page is collected, what an existing file of the page's name
// meets, which writer a batch uses.
#pragma once
#include <cstdint>

#include "pages/destination.h"
#include "record/globals.h"

// The build's own format: what a native page becomes when no other is asked for.
constexpr TW_UINT16 kOwnFormat = kWindowsBuild ? TWFF_BMP : TWFF_PICT;

// Without the option: Windows replaces an existing file, the Mac refuses it (7).
constexpr ExistingFile kDefaultExisting = kWindowsBuild ? ExistingFile::kReplaced : ExistingFile::kRefused;

enum class PageTransfer : uint8_t {
  kNative,  // the source hands over its image (TWSX_NATIVE)
  kFile,    // the source writes the page's file itself (TWSX_FILE)
  kMemory,  // the source fills buffers (TWSX_MEMORY); the extension writes the file
};

struct PageRoute {
  // The format of the page's file (TWFF_*); for a native page not encoded by the extension,
  // the native code asked for (1 or 2), written in the build's own format all the same.
  TW_UINT16 format = kOwnFormat;
  PageTransfer transfer = PageTransfer::kNative;
  // The extension encodes `format` with the platform's codecs (a batch's PNG, TIFF, multi-page
  // TIFF, JPEG, PDF and the build's own format); false: the build's own writer of a native
  // page, or the source's file transfer.
  bool encoded = false;
  // What the page's file does to a file of its name already there, whoever writes it (the
  // option EXISTING).
  ExistingFile existing = kDefaultExisting;

  bool Native() const { return transfer == PageTransfer::kNative; }
  // Whether the pages may come in rows (by memory transfer): the extension encodes them, in a
  // format written from rows (PICT is written from pictures only).
  bool TakesRows() const {
    return encoded && (format == TWFF_PNG || format == TWFF_TIFF || format == TWFF_TIFFMULTI ||
                       format == TWFF_JFIF || format == TWFF_PDF || (kWindowsBuild && format == TWFF_BMP));
  }
};

// The code the record's fileFormat holds for the route: the format asked of the source, or
// the native code asked for; the build's own where the extension encodes the files itself.
// Twain.ScanToFile and Twain.ScanPages record the route of their default (the build's own)
// before their checks, and their own route once the checks passed.
void RecordRoute(TwainGlobals* g, const PageRoute& route);

// A picture field: the native image (recorded as TWFF_PICT, the native transfer, on both builds).
PageRoute FieldRoute();
// Twain.ScanToFile: without a format code the native image in the build's own format; with 1
// (PICT) or 2 (BMP) the native image too, written in the build's own format; any other code,
// the source's file transfer in that format.
PageRoute SinglePageRoute(bool formatGiven, TW_UINT16 format, ExistingFile existing = kDefaultExisting);
// Twain.ScanPages: the formats the extension encodes itself (PNG, TIFF, multi-page TIFF, JPEG,
// PDF, the build's own) from native pages (memory, where settled with the source), the other
// native code in the build's own format, anything else the source's file transfer.
PageRoute BatchRoute(TW_UINT16 format, ExistingFile existing = kDefaultExisting);
// What the option EXISTING says of g's scans.
ExistingFile ExistingFiles(const TwainGlobals* g);
