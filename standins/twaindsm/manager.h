// The manager's parts, shared between its files.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "standins/twaindsm/twaindsm.h"

namespace twaindsm {

// memory.cpp
TW_HANDLE TW_CALLINGSTYLE MemAllocate(TW_UINT32 size);
void TW_CALLINGSTYLE MemFree(TW_HANDLE handle);
TW_MEMREF TW_CALLINGSTYLE MemLock(TW_HANDLE handle);
void TW_CALLINGSTYLE MemUnlock(TW_HANDLE handle);
TW_UINT32 LiveBlocks();
TW_UINT32 ForeignUses();

// A source as one application sees it.
struct Source {
  std::string path;        // the .ds file, full path
  TW_IDENTITY identity{};  // what the source answered, with the Id this manager gave it
  HMODULE module = nullptr;
  DSENTRYPROC entry = nullptr;  // set only while open
  bool open = false;
  // The application's callback for this source (DAT_CALLBACK or DAT_CALLBACK2).
  TW_MEMREF callback = nullptr;
  TW_UINTPTR refCon = 0;
  // A message from the source that no callback took, waiting for the next DAT_EVENT.
  TW_UINT16 pending = MSG_NULL;
};

// sources.cpp
// The folder the sources of this width live under: <windows>\twain_32 or twain_64.
std::string SourceFolder();
// Every *.ds below SourceFolder() that loads, exports DS_Entry and answers DAT_IDENTITY /
// MSG_GET (asked on behalf of `app`), sorted by path; each unloaded again.
std::vector<Source> FindSources(const TW_IDENTITY& app);
// The default source's path as the registry keeps it ("" when none is kept).
std::string DefaultSourcePath();
bool SetDefaultSourcePath(const std::string& path);

// select_dialog.cpp
// The modal "Select Source" dialog over `owner`: the index chosen, or -1 on Cancel.
int UserSelect(HWND owner, const std::vector<Source>& sources, int preselected);

// This module (for the dialog's instance).
extern HINSTANCE g_module;

}  // namespace twaindsm
