// What each build's file system says about a page's destination (platform/macos: the Carbon
// File Manager; platform/windows: Win32), as the shared check in pages/destination.cpp asks.
#pragma once
#include <cstddef>

namespace platform {

enum class DestinationState {
  kAbsent,    // no file of that name; its folder exists
  kFile,      // an existing file
  kUnusable,  // no file can be created under that name (missing folder or volume, bad name,
              // a folder of that name)
};

// name: at most 255 characters, not empty.
DestinationState ProbeDestination(const char* name, size_t length);
// Deletes the file of that name, if there is one.
void RemoveDestination(const char* name, size_t length);
// The file `from` takes the place of the file `to` (both exist, in one folder): true when it
// did; false leaves both as they were.
bool ReplaceDestination(const char* from, size_t fromLength, const char* to, size_t toLength);

}  // namespace platform
