// velmar-host: loads a built extension, reads its catalogue, and runs calls on one instance.
//   velmar-host [--build B] [--extension PATH] [--select N|cancel]
//               [--scanner-user scan|cancel|none] [--scanner-control CMD]... [--save-pictures DIR]
//               [--describe] [--setup CALL]... [--calls FILE]... CALL...
//   velmar-host --help
// --calls FILE: the calls of FILE, one a line (blank lines skipped), run where the option
// stands among the other calls; for runs longer than a command line holds (Wine cuts one
// near 32 K characters).
// --setup CALL: CALL runs on the instance before the other calls, in the order given, and is
// not printed; one that answers other than 0 ends the run with exit status 2 before the
// calls (a run's preparation, such as an option of the extension every call relies on).
// Prints `CALL -> V` per call and `  $name = V` per variable argument. Exit 0 when every
// call ran; 2 for a call or option that cannot be read, or a scanner command the virtual
// scanner refused; 1 for an extension (or scanner) that cannot be loaded. --help prints the
// usage on standard output and exits 0.
// --scanner-user U is --scanner-control "user U". The scanner commands go to the virtual
// scanner in the order given, once the extension is loaded and before the first call.
// --save-pictures DIR: after each call, every picture variable that holds a picture is
// written to DIR/NAME.bmp (Windows) or DIR/NAME.pict (Mac), replacing the last one. DIR,
// and the folders above it, are made before the first call where missing.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "standins/velmar/velmar_host.h"

namespace {

const char* const kUsage =
    "usage: velmar-host [--build macos|windows] [--extension PATH] [--select N|cancel]\n"
    "                   [--scanner-user scan|cancel|none] [--scanner-control CMD]... [--save-pictures DIR]\n"
    "                   [--describe] [--setup CALL]... [--calls FILE]... CALL...\n"
    "       velmar-host --help\n";

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "velmar-host: %s\n", message.c_str());
  return status;
}

// Appends the calls of `path`, one a line; false when the file cannot be read.
bool ReadCallFile(const std::string& path, std::vector<std::string>* calls) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) calls->push_back(line);
  }
  return !in.bad();
}

std::string DefaultExtension(const char* argv0) {
  std::string self = argv0 ? argv0 : "";
  size_t slash = self.find_last_of(kWindowsBuild ? "/\\" : "/");
  std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
  return dir + (kWindowsBuild ? "\\Kardivelle.dll" : "/Kardivelle.bundle");
}

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Describe(velmar::Host& host) {
  for (size_t i = 0; i < host.Catalogue().size(); ++i) {
    int number = int(i) + 1;
    Print(std::to_string(number) + " " + host.Catalogue()[i]);
    velmar::Description parameters = host.Describe(number, 5);
    Print("  parameters: \"" + parameters.text + "\" length " + std::to_string(parameters.length));
    velmar::Description result = host.Describe(number, 6);
    Print("  return: \"" + result.text + "\" length " + std::to_string(result.length));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string extension = DefaultExtension(argv[0]);
  std::vector<std::string> scannerCommands;
  std::string pictureDir;
  bool select = false, describe = false;
  int selection = 0;
  std::vector<std::string> calls, setupCalls;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--build") {
      if (!value(&v)) return Fail(2, "--build needs a value\n" + std::string(kUsage));
    } else if (arg == "--extension") {
      if (!value(&extension)) return Fail(2, "--extension needs a path");
    } else if (arg == "--select") {
      if (!value(&v)) return Fail(2, "--select needs N or cancel");
      select = true;
      if (v == "cancel") {
        selection = -1;
      } else {
        char* end = nullptr;
        long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || n < 0)
          return Fail(2, "--select needs N (0, 1, ...) or cancel, not '" + v + "'");
        selection = int(n);
      }
    } else if (arg == "--scanner-user") {
      if (!value(&v) || (v != "scan" && v != "cancel" && v != "none"))
        return Fail(2, "--scanner-user needs scan, cancel or none");
      scannerCommands.push_back("user " + v);
    } else if (arg == "--scanner-control") {
      if (!value(&v)) return Fail(2, "--scanner-control needs a command");
      scannerCommands.push_back(v);
    } else if (arg == "--save-pictures") {
      if (!value(&pictureDir) || pictureDir.empty()) return Fail(2, "--save-pictures needs a folder");
    } else if (arg == "--describe") {
      describe = true;
    } else if (arg == "--calls") {
      if (!value(&v)) return Fail(2, "--calls needs a file");
      if (!ReadCallFile(v, &calls)) return Fail(2, "cannot read the calls of " + v);
    } else if (arg == "--setup") {
      if (!value(&v)) return Fail(2, "--setup needs a call");
      setupCalls.push_back(v);
    } else if (arg.compare(0, 2, "--") == 0) {
      return Fail(2, "unknown option " + arg + "\n" + kUsage);
    } else {
      calls.push_back(arg);
    }
  }
  if (calls.empty() && !describe) return Fail(2, std::string("nothing to do\n") + kUsage);

  // The setup calls come first in `parsed`; `calls` keeps the printed calls alone.
  std::vector<std::string> all(setupCalls);
  all.insert(all.end(), calls.begin(), calls.end());
  std::vector<velmar::ParsedCall> parsed(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    std::string why;
    if (!velmar::ParseCall(all[i], &parsed[i], &why))
      return Fail(2, "cannot parse call '" + all[i] + "': " + why);
  }

  if (!pictureDir.empty() && !velmar::MakeFolders(pictureDir))
    return Fail(2, "cannot make the folder " + pictureDir + " for --save-pictures");

  std::string error;
  std::unique_ptr<velmar::Host> host = velmar::Host::Load(extension, &error);
  if (!host) return Fail(1, error);
  for (size_t i = 0; i < all.size(); ++i)
    if (host->FunctionNumber(parsed[i].function) == 0)
      return Fail(2, "cannot run '" + all[i] + "': the extension's catalogue has no " + parsed[i].function);
  for (const std::string& command : scannerCommands) {
    velmar::ControlAnswer answer = velmar::ScannerControl(extension, command, &error);
    if (answer == velmar::ControlAnswer::Unavailable) return Fail(1, error);
    if (answer == velmar::ControlAnswer::Refused)
      return Fail(2, "the virtual scanner refused the command '" + command + "'");
  }
  // The same commands for the scanner of a worker process, should the calls run in one.
  velmar::HandOnScannerCommands(scannerCommands);

  if (select && !velmar::ArrangeSelection(*host, selection, &error)) return Fail(1, error);

  if (describe) Describe(*host);
  if (!calls.empty()) {
    host->Construct();
    for (size_t i = 0; i < setupCalls.size(); ++i) {
      velmar::CallResult result = host->Call(host->FunctionNumber(parsed[i].function), parsed[i].arguments);
      if (result.result.Display() != "0") {
        host->Destruct();
        velmar::EndSelection();
        return Fail(2, "the setup call '" + setupCalls[i] + "' answered " + result.result.Display());
      }
    }
    for (size_t i = 0; i < calls.size(); ++i) {
      const velmar::ParsedCall& call = parsed[setupCalls.size() + i];
      velmar::CallResult result = host->Call(host->FunctionNumber(call.function), call.arguments);
      Print(calls[i] + " -> " + result.result.Display());
      for (const auto& variable : result.variables) {
        Print("  $" + variable.first + " = " + variable.second.Display());
        const velmar::Value& v = variable.second;
        if (pictureDir.empty() || v.kind != velmar::Value::kPicture || !v.picture.present) continue;
        std::string file = pictureDir + "/" + variable.first + "." + velmar::SavedPictureExtension();
        if (!velmar::SavePicture(v.picture, file)) Print("  (cannot write " + file + ")");
      }
    }
    host->Destruct();
  }
  velmar::EndSelection();
  return 0;
}
