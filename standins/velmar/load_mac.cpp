// Loading a Mac bundle as the host does: its binary by dlopen, its entry `main`, and the
// catalogue from 'STR#' 16543 of the bundle's resource file, which stays open (and current)
// for the extension's own GetIndString calls.
#include <Carbon/Carbon.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

const SInt16 kCatalogueList = 16543;
const char* const kLibraryEntry = "*Kardivelle";

struct BundlePaths {
  std::string bundle, binary, resources;
};

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// PATH is the bundle directory or the binary inside it (Contents/MacOS/NAME).
BundlePaths Locate(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  BundlePaths paths;
  struct stat st;
  std::string name;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    paths.bundle = path;
    name = BaseName(path);
    if (name.size() > 7 && name.compare(name.size() - 7, 7, ".bundle") == 0) name.resize(name.size() - 7);
    paths.binary = path + "/Contents/MacOS/" + name;
  } else {
    paths.binary = path;
    name = BaseName(path);
    paths.bundle = Parent(Parent(Parent(path)));
  }
  paths.resources = paths.bundle + "/Contents/Resources/" + name + ".rsrc";
  return paths;
}

std::string PascalToString(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

}  // namespace

std::unique_ptr<Host> Host::Load(const std::string& path, std::string* error) {
  BundlePaths paths = Locate(path);
  void* library = dlopen(paths.binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    *error = "cannot load " + paths.binary + ": " + dlerror();
    return nullptr;
  }
  auto entry = reinterpret_cast<ExtensionEntry>(dlsym(library, "main"));
  if (!entry) {
    *error = paths.binary + " exports no entry 'main'";
    dlclose(library);
    return nullptr;
  }
  SInt16 file = OpenResFileAtPath(paths.resources.c_str());
  if (file == -1) {
    *error = "cannot open the resource file " + paths.resources + " (error " + std::to_string(ResError()) + ")";
    dlclose(library);
    return nullptr;
  }
  UseResFile(file);
  std::vector<std::string> catalogue;
  for (SInt16 index = 1;; ++index) {
    Str255 entryText;
    entryText[0] = 0;
    GetIndString(entryText, kCatalogueList, index);
    std::string text = PascalToString(entryText);
    if (text.empty() || text == kLibraryEntry) break;
    catalogue.push_back(text);
  }
  if (catalogue.empty()) {
    *error = paths.resources + " holds no function catalogue ('STR#' " + std::to_string(kCatalogueList) + ")";
    CloseResFile(file);
    dlclose(library);
    return nullptr;
  }
  std::unique_ptr<Host> host(new Host(entry, catalogue));
  host->library_ = library;
  host->resourceFile_ = file;
  return host;
}

void UnloadLibrary(void* library, int16_t resourceFile) {
  if (resourceFile != -1) CloseResFile(resourceFile);
  // The library stays mapped: the extension may have registered callbacks with the DSM
  // stand-in, which lives as long as the process.
  (void)library;
}

bool ArrangeSelection(Host& host, int choice, std::string* error) {
  using SetUser = void (*)(int);
  void* scope = host.Library() ? host.Library() : RTLD_DEFAULT;
  auto setUser = reinterpret_cast<SetUser>(dlsym(scope, "TWAINFramework_SetSelectionUser"));
  if (!setUser) {
    *error = "the TWAIN framework offers no TWAINFramework_SetSelectionUser";
    return false;
  }
  setUser(choice);
  return true;
}

// The Mac build has no worker process: the scanner in process is the only one.
void HandOnScannerCommands(const std::vector<std::string>&) {}

ControlAnswer ScannerControl(const std::string& extensionPath, const std::string& command, std::string* error) {
  std::string module = Parent(Locate(extensionPath).bundle) + "/lib/TWAIN Data Sources/VirtualScanner.ds";
  void* scanner = dlopen(module.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!scanner) {
    *error = "cannot load the virtual scanner " + module + ": " + dlerror();
    return ControlAnswer::Unavailable;
  }
  using Control = int (*)(const char*);
  auto control = reinterpret_cast<Control>(dlsym(scanner, "VirtualScannerControl"));
  if (!control) {
    *error = module + " exports no VirtualScannerControl";
    return ControlAnswer::Unavailable;
  }
  return control(command.c_str()) == 0 ? ControlAnswer::Taken : ControlAnswer::Refused;
}

void EndSelection() {}

}  // namespace velmar
