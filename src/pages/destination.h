// Where a page will be written, checked before the source is opened for the scan, so that a
// page is never scanned (and, with a feeder, never taken) for a file that cannot be written.
// One check for every page name: a single page of Twain.ScanToFile, each page of a batch.
#pragma once
#include <cstddef>
#include <cstdint>

// The longest name the extension holds (TW_STR255, and the Mac's length-prefixed names).
// A longer name is refused, never cut.
constexpr size_t kMaxDestinationChars = 255;

// What a page's file does to a file of its name already there (the option EXISTING), whoever
// writes it: replaces it, or refuses it (7).
enum class ExistingFile { kReplaced, kRefused };

struct DestinationCheck {
  int16_t result = 0;    // 0: the page can be written there; 7 the file exists (kRefused); 8
  bool existed = false;  // a file of that name was there before the scan
};

// name: the page's name as the host gave it, `length` characters (no length byte, no NUL
// needed; Mac: a Mac name, plain or colon-separated; Windows: a Windows path). Answers 8 for
// an empty name, one longer than kMaxDestinationChars, a missing folder or volume, a Mac
// name part over 31 characters, or a name the file system cannot take. Touches no file.
DestinationCheck CheckDestination(const char* name, size_t length, ExistingFile existing);
