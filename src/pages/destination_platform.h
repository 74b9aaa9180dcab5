// What each build's file system says about a page's destination (platform/macos: the Carbon
// File Manager; platform/windows: Win32), as the shared check in pages/destination.cpp asks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// The whole file `from` takes the name `to` (in one folder): 0; 7 when a file of that name
// exists and `replace` is false (it stays as it was); 8 when it cannot (what was under `to`
// stays as it was). A file of that name is replaced only when `replace`.
int16_t PlaceDestination(const char* from, size_t fromLength, const char* to, size_t toLength, bool replace);

// The names (last parts) of the files, not folders, in the folder that `head` lies in, among
// which is every file whose name is `head`, then anything, then `tail` (compared as the file
// system compares names: without case); pages/page_names.cpp picks a series' members from
// them. Windows asks the folder for "head*tail"; the Mac lists the folder's catalog.
std::vector<std::string> SeriesCandidates(const std::string& head, const std::string& tail);

// Where a call's page files stand, told each time it changes, for a process that may end in
// the middle of the call and leave the tidying to another (the Windows worker, whose extension
// in the host then removes the file under way and counts the pages kept): `underWay`, the
// temporary file a page (or a book) is being written to, empty when none is; `kept`, the pages
// that the files which took their final names in this call hold. Nothing is told elsewhere.
void NotePageFiles(const std::string& underWay, uint32_t kept);

}  // namespace platform
