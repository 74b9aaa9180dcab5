// The DSM's list of data sources; not part of the stand-in's interface.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "twain/twain.h"

namespace twainfw {

struct Source {
  DSENTRYPROC entry = nullptr;
  void* library = nullptr;  // dlopen handle, null for a registered entry
  std::string file;
  TW_IDENTITY identity{};
};

void Register(DSENTRYPROC entry);
void SetFolder(const char* path);
const char* Folder();
// Loads every source and asks each for its identity on behalf of `app`; Ids are assigned
// with nextId. Sources that do not answer are dropped.
std::vector<std::shared_ptr<Source>> LoadAll(pTW_IDENTITY app, TW_UINT32 (*nextId)());
// Drops a source; its library is closed once no DSM call is running (see Unload).
void Unload(std::shared_ptr<Source> source);
void CloseUnloadedLibraries();
void ForgetRegistrations();

}  // namespace twainfw
