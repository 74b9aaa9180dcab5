// Where sources come from: entries registered in-process, and shared objects in the
// "TWAIN Data Sources" folder beside this library.
#include "standins/twain-framework/sources.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>

#include "TWAIN/TWAINFramework.h"

namespace twainfw {
namespace {

std::vector<DSENTRYPROC> gRegistered;
bool gFolderSet = false;
std::string gFolder;
std::vector<void*> gToClose;

std::string DefaultFolder() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&DSM_Entry), &info) || !info.dli_fname) return "";
  std::string self = info.dli_fname;
  size_t slash = self.rfind('/');
  std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  return dir + "/TWAIN Data Sources";
}

// The loadable file for a folder entry: the file itself, or a bundle's executable.
std::string Executable(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  if (S_ISREG(st.st_mode)) return path;
  if (S_ISDIR(st.st_mode) && name.size() > 3 && name.compare(name.size() - 3, 3, ".ds") == 0)
    return path + "/Contents/MacOS/" + name.substr(0, name.size() - 3);
  return "";
}

}  // namespace

void Register(DSENTRYPROC entry) {
  if (entry) gRegistered.push_back(entry);
}

void SetFolder(const char* path) {
  gFolderSet = path != nullptr;
  gFolder = path ? path : "";
}

const char* Folder() {
  if (!gFolderSet) {
    gFolder = DefaultFolder();
    gFolderSet = true;
  }
  return gFolder.c_str();
}

std::vector<std::shared_ptr<Source>> LoadAll(pTW_IDENTITY app, TW_UINT32 (*nextId)()) {
  std::vector<std::shared_ptr<Source>> candidates;
  for (DSENTRYPROC entry : gRegistered) {
    auto s = std::make_shared<Source>();
    s->entry = entry;
    candidates.push_back(s);
  }
  std::string dir = Folder();
  std::vector<std::string> names;
  if (DIR* d = dir.empty() ? nullptr : opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string file = Executable(dir, name);
    void* lib = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) continue;
    auto entry = reinterpret_cast<DSENTRYPROC>(dlsym(lib, "DS_Entry"));
    if (!entry) {
      dlclose(lib);
      continue;
    }
    auto s = std::make_shared<Source>();
    s->entry = entry;
    s->library = lib;
    s->file = file;
    candidates.push_back(s);
  }
  std::vector<std::shared_ptr<Source>> loaded;
  for (auto& s : candidates) {
    TW_IDENTITY id{};
    if (s->entry(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id) != TWRC_SUCCESS) {
      Unload(s);
      continue;
    }
    id.Id = nextId();
    s->identity = id;
    loaded.push_back(s);
  }
  return loaded;
}

void Unload(std::shared_ptr<Source> source) {
  if (source && source->library) gToClose.push_back(source->library);
  if (source) source->library = nullptr;
}

void CloseUnloadedLibraries() {
  for (void* lib : gToClose) dlclose(lib);
  gToClose.clear();
}

void ForgetRegistrations() { gRegistered.clear(); }

}  // namespace twainfw
