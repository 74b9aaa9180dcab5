// scan_bench: the cost of Twain.ScanToFile of a whole RGB page at 300 dpi (2550 x 3300),
// against the floor of the same work done directly: the virtual scanner's renderer and the
// encoder of this build's native transfer (a PICT picture on the Mac, a packed DIB on
// Windows), then one plain write of the encoded bytes to a file.
//
//   scan_bench [--runs N] [--only scan|floor]
//   scan_bench --pages P [--runs N] [--only batch|single|floor]
//   scan_bench --transfer native|memory --dpi D [--frame L,T,R,B] [--file NAME] [--runs N]
//   scan_bench --start R
//   each of them [--isolation NONE|PROCESS] [--sources AUTO|OWN|32BIT] (Windows)
//
// --isolation and --sources set the extension's options first: with PROCESS (or a 32-bit source
// on the 64-bit build) the scans run in the extension's worker process, and the scanner's
// commands are handed on to the copy the worker opens. --start R: R times, Twain.Connect()
// that starts the worker against Twain.Connect() in process, each after Twain.Disconnect().
//
// With --pages: Twain.ScanPages of P pages from the scanner's feeder against P single
// Twain.ScanToFile scans and against the floor of the same work, per page. The floor of a
// page is the source's transfer and the extension's writer without the source's open,
// enable and close: the scanner's render and encoding of the page, its image handle, the
// build's conversion and file writer on it, and the release (the scan's steps below, each
// through the routine the extension itself runs). --only runs one of the three, so that the
// peak memory of a process is that of one kind of run.
//
// The extension is linked statically and driven through velmar::Host, exactly as the host
// drives it; the scanner is the one behind this build's real DSM. Scans and floors alternate,
// so that both see the same machine. Per run it prints the times; then the medians, their
// ratio, the phases of the floor, a ScanToField run (the scan without the file), and the
// process's peak memory. Files are written in the current directory.
//
// With --transfer: Twain.ScanPages of one colour letter page at D dpi into a PNG file, with the
// extension's option TRANSFER set to NATIVE or MEMORY, N times: the time per page and the
// process's peak memory, which is that of this transfer alone (one kind a process). --frame
// scans that frame of the glass instead (inches: "0,0,8.5,14" is a legal page), --file writes
// a file of that name (its extension gives the format).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "image/image_platform.h"
#include "kv_catalogue.h"
#include "standins/velmar/velmar_host.h"
#include "standins/virtual-scanner/image/page.h"
#include "twain/dsm_platform.h"

#if KV_WINDOWS_BUILD
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include "platform/windows/bitmaps.h"
#else
#include <Carbon/Carbon.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

const char* const kScanFile = kWindowsBuild ? "bench-scan.bmp" : "bench-scan.pict";
const char* const kFloorFile = kWindowsBuild ? "bench-floor.dib" : "bench-floor.pict";

#if KV_WINDOWS_BUILD
void __stdcall EntryPoint(int32_t message, void** slot, void* window, int32_t, int32_t, HostCallback cb) {
  RouteMessage(static_cast<int16_t>(message), slot, cb, window);
}
void* ScannerSymbol(const char* name) {
  static HMODULE module =
      LoadLibraryA(sizeof(void*) == 8 ? "C:\\windows\\twain_64\\sane.ds" : "C:\\windows\\twain_32\\sane.ds");
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
// Peak working set of this process, in KiB.
long PeakMemoryKiB() {
  PROCESS_MEMORY_COUNTERS pmc;
  std::memset(&pmc, 0, sizeof pmc);
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return -1;
  return static_cast<long>(pmc.PeakWorkingSetSize / 1024);
}
bool PlainWrite(const char* name, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  return CloseHandle(file) && ok;
}
#else
void EntryPoint(int16_t message, void** slot, HostParamBlock* block) { RouteMessage(message, slot, block); }
void* ScannerSymbol(const char* name) {
  static void* module = dlopen(KV_OUT_DIR "/lib/TWAIN Data Sources/VirtualScanner.ds", RTLD_NOW);
  return module ? dlsym(module, name) : nullptr;
}
long PeakMemoryKiB() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}
bool PlainWrite(const char* name, const std::vector<uint8_t>& bytes) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  ssize_t written = write(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && written == static_cast<ssize_t>(bytes.size());
}
#endif

long FileSize(const char* name) {
  FILE* f = std::fopen(name, "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fclose(f);
  return size;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Die(const std::string& why) {
  std::fprintf(stderr, "scan_bench: %s\n", why.c_str());
  return 1;
}

struct FloorTimes {
  double render = 0, encode = 0, write = 0;
  double total() const { return render + encode + write; }
  size_t bytes = 0;
};

// What the extension's scan amounts to when nothing stands between the scanner and the file.
bool RunFloor(FloorTimes* t) {
  vscan::ScanSettings settings;
  settings.pixelType = 2;
  settings.xres = settings.yres = 300;
  Clock::time_point start = Clock::now();
  vscan::Raster raster = vscan::RenderPage(settings);
  t->render = Seconds(start);
  start = Clock::now();
  std::vector<uint8_t> bytes;
  if constexpr (kWindowsBuild) {
    bytes = vscan::EncodeDIB(raster);
  } else {
    // The PICT file's 512-byte header comes first, as the extension writes it.
    std::vector<uint8_t> picture = vscan::EncodePICT(raster);
    bytes.assign(512, 0);
    bytes.insert(bytes.end(), picture.begin(), picture.end());
  }
  t->encode = Seconds(start);
  if (raster.width != 2550 || raster.height != 3300 || bytes.empty()) return false;
  start = Clock::now();
  bool ok = PlainWrite(kFloorFile, bytes);
  t->write = Seconds(start);
  t->bytes = bytes.size();
  return ok;
}

// The scan's own steps, one at a time, each through the routine the extension itself runs
// (the converter and file writer of image/image_platform.h), on the image the scanner
// hands over. Shows where the scan spends what the floor does not.
struct PhaseTimes {
  double source = 0, handle = 0, convert = 0, file = 0, release = 0;
  double fileWrites = 0;  // Windows: the part of the file writer spent in its WriteFile calls
  long writeCalls = 0;
};

#if KV_WINDOWS_BUILD
// The BMP writer's observer sees every WriteFile before it is made: the time from the first
// one to the writer's return is the writing, what comes before it GetDIBits and CreateFileA.
Clock::time_point firstWrite;
long writeCalls = 0;
void ObserveWrite(DWORD) {
  if (writeCalls++ == 0) firstWrite = Clock::now();
}
#endif

bool RunPhases(PhaseTimes* t) {
  vscan::ScanSettings settings;
  settings.pixelType = 2;
  settings.xres = settings.yres = 300;
  Clock::time_point start = Clock::now();
  std::vector<uint8_t> image = kWindowsBuild ? vscan::EncodeDIB(vscan::RenderPage(settings))
                                             : vscan::EncodePICT(vscan::RenderPage(settings));
  t->source = Seconds(start);
  std::remove(kScanFile);
  bool ok = false;
#if KV_WINDOWS_BUILD
  start = Clock::now();
  HGLOBAL dib = GlobalAlloc(GHND, image.size());
  if (!dib) return false;
  std::memcpy(GlobalLock(dib), image.data(), image.size());
  GlobalUnlock(dib);
  t->handle = Seconds(start);
  start = Clock::now();
  void* bitmap = DIBToDeviceBitmap(dib);
  GlobalFree(dib);
  t->convert = Seconds(start);
  writeCalls = 0;
  SetBmpWriteObserver(&ObserveWrite);
  start = Clock::now();
  ok = bitmap && WriteBMPfile(kScanFile, bitmap) == 0;
  t->file = Seconds(start);
  SetBmpWriteObserver(nullptr);
  t->fileWrites = writeCalls ? Seconds(firstWrite) : 0;
  t->writeCalls = writeCalls;
  start = Clock::now();
  DeleteDeviceBitmap(bitmap);
  t->release = Seconds(start);
#else
  start = Clock::now();
  Handle picture = NewHandle(static_cast<Size>(image.size()));
  if (!picture) return false;
  std::memcpy(*picture, image.data(), image.size());
  t->handle = Seconds(start);
  unsigned char name[64];
  name[0] = static_cast<unsigned char>(std::strlen(kScanFile));
  std::memcpy(name + 1, kScanFile, name[0]);
  start = Clock::now();
  ok = WritePICTfile(name, picture) == 0;
  t->file = Seconds(start);
  start = Clock::now();
  DisposeHandle(picture);
  t->release = Seconds(start);
#endif
  return ok;
}

// ---------------------------------------------------------------- batches (--pages)

using Call = std::function<void(const std::string&, const char*)>;

const char* const kBatchFile = kWindowsBuild ? "bench-batch.bmp" : "bench-batch.pict";

void RemoveBatchFiles(int pages) {
  for (int k = 1; k <= pages; ++k) {
    char name[64];
    std::snprintf(name, sizeof name, kWindowsBuild ? "bench-batch-%04d.bmp" : "bench-batch-%04d.pict", k);
    std::remove(name);
  }
}

int RunPagesBench(velmar::Host& host, const Call& call, const std::string& settings, int runs, int pages,
                  const std::string& only, const std::function<void()>& beforeBatch) {
  const bool batch = only.empty() || only == "batch", single = only.empty() || only == "single",
             floor = only.empty() || only == "floor";
  const std::string batchCall = std::string("Twain.ScanPages(\"") + kBatchFile + "\", $n)";
  const std::string singleCall = std::string("Twain.ScanToFile(\"") + kScanFile + "\")";
  std::printf("scan_bench (%s build): %s of %d pages against %d x %s and the floor, 2550x3300 RGB, %d runs\n",
              kWindowsBuild ? "Windows" : "Mac", batchCall.c_str(), pages, pages, singleCall.c_str(), runs);
  std::vector<double> batchTimes, singleTimes, floorTimes;
  long peakBatch = -1, peakSingle = -1;
  for (int i = 0; i <= runs; ++i) {  // run 0 warms up and is not counted
    double b = 0, s = 0, f = 0;
    if (batch) {
      RemoveBatchFiles(pages);
      beforeBatch();
      call(settings, "0");
      Clock::time_point start = Clock::now();
      velmar::CallResult r = host.Call(batchCall);
      b = Seconds(start) / pages;
      std::string n = r.variables.empty() ? "" : r.variables[0].second.Display();
      if (!r.ok || r.result.Display() != "0" || n != std::to_string(pages))
        return Die(batchCall + " -> " + r.result.Display() + ", $n = " + n);
      peakBatch = std::max(peakBatch, PeakMemoryKiB());
    }
    if (single) {
      for (int k = 0; k < pages; ++k) {
        std::remove(kScanFile);
        call(settings, "0");
        Clock::time_point start = Clock::now();
        call(singleCall, "0");
        s += Seconds(start) / pages;
      }
      peakSingle = std::max(peakSingle, PeakMemoryKiB());
    }
    if (floor) {
      for (int k = 0; k < pages; ++k) {
        PhaseTimes t;
        if (!RunPhases(&t)) return Die("a step of the scan, run on its own, failed");
        f += (t.source + t.handle + t.convert + t.file + t.release) / pages;
      }
    }
    if (i == 0) continue;
    batchTimes.push_back(b);
    singleTimes.push_back(s);
    floorTimes.push_back(f);
    std::printf("run %d, per page: batch %.3f s  single scans %.3f s  floor %.3f s\n", i, b, s, f);
  }
  if (batch) std::printf("median per page, batch of %d:    %.3f s\n", pages, Median(batchTimes));
  if (single) std::printf("median per page, %d single scans: %.3f s\n", pages, Median(singleTimes));
  if (floor) std::printf("median per page, floor:          %.3f s\n", Median(floorTimes));
  if (batch && floor)
    std::printf("batch / floor per page: %.2f (aim on the Mac: at most 1.10)\n",
                Median(batchTimes) / Median(floorTimes));
  if (batch && single)
    std::printf("batch / single scans per page: %.2f (aim on Windows: at most 1.00)\n",
                Median(batchTimes) / Median(singleTimes));
  if (batch) std::printf("peak memory after the batches: %ld KiB\n", peakBatch);
  if (single) std::printf("peak memory after the single scans: %ld KiB\n", peakSingle);
  std::printf("peak memory of the process: %ld KiB (%s)\n", PeakMemoryKiB(),
              kWindowsBuild ? "PeakWorkingSetSize" : "getrusage ru_maxrss");
  RemoveBatchFiles(pages);
  std::remove(kScanFile);
  return 0;
}

// ---------------------------------------------------------------- transfers (--transfer)

int RunTransferBench(velmar::Host& host, const Call& call, const std::string& transfer, int dpi,
                     const std::string& frame, const std::string& fileName, int runs) {
  const char* const file = fileName.c_str();
  const std::string word = transfer == "memory" ? "MEMORY" : "NATIVE";
  call("Twain.SetOption(\"TRANSFER\", \"" + word + "\")", "0");
  std::string settings = "Twain.SetSourceCapability(\"PIXELTYPE\", 2, \"XRESOLUTION\", " + std::to_string(dpi) +
                         ", \"YRESOLUTION\", " + std::to_string(dpi);
  if (!frame.empty()) settings += ", \"FRAMES\", \"" + frame + "\"";
  settings += ")";
  // The format follows the file's extension: PDF (10), TIFF (0), JPEG (4), else PNG (7).
  const std::string extension = fileName.substr(std::min(fileName.size(), fileName.rfind('.') + 1));
  const char* const code = extension == "pdf"   ? "10"
                           : extension == "tif" ? "0"
                           : extension == "jpg" ? "4"
                                                : "7";
  const std::string scanCall = std::string("Twain.ScanPages(\"") + file + "\", $n, 0, " + code + ", 1)";
  const long before = PeakMemoryKiB();
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    std::remove(file);
    call(settings, "0");
    Clock::time_point start = Clock::now();
    velmar::CallResult r = host.Call(scanCall);
    times.push_back(Seconds(start));
    std::string n = r.variables.empty() ? "" : r.variables[0].second.Display();
    if (!r.ok || r.result.Display() != "0" || n != "1")
      return Die(scanCall + " by " + word + " transfer -> " + r.result.Display() + ", $n = " + n);
  }
  std::printf(
      "transfer %s, %d dpi colour %s into %s (%ld bytes): %.3f s a page (median of %d), peak "
      "memory %ld KiB (%ld KiB before the first scan)\n",
      word.c_str(), dpi, frame.empty() ? "letter page" : ("frame " + frame).c_str(), file, FileSize(file),
      Median(times), runs, PeakMemoryKiB(), before);
  std::remove(file);
  return 0;
}

// ---------------------------------------------------------------- the worker's start (--start)

// The time of Twain.Connect() after Twain.Disconnect(), with the option ISOLATION set to
// `isolation` in between.
double ConnectSeconds(const Call& call, const std::string& isolation) {
  call("Twain.Disconnect()", "0");
  call("Twain.SetOption(\"ISOLATION\", \"" + isolation + "\")", "0");
  const Clock::time_point start = Clock::now();
  call("Twain.Connect()", "0");
  return Seconds(start);
}

int RunStartBench(const Call& call, int runs) {
  std::vector<double> worker, inProcess;
  for (int i = 0; i <= runs; ++i) {  // run 0 warms up and is not counted
    const double w = ConnectSeconds(call, "PROCESS");
    const double p = ConnectSeconds(call, "NONE");
    if (i == 0) continue;
    worker.push_back(w);
    inProcess.push_back(p);
    std::printf("run %d: Connect starting the worker %.3f s, in process %.3f s\n", i, w, p);
  }
  std::printf("median Connect starting the worker: %.3f s, in process: %.3f s\n", Median(worker),
              Median(inProcess));
  std::printf("worker start: %.3f s (aim: at most 0.3)\n", Median(worker) - Median(inProcess));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  int pages = 0;
  int dpi = 300;
  int startRuns = 0;
  std::string only, transfer, frame, file = "bench-transfer.png", isolation, sources;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (arg == "--pages" && i + 1 < argc) {
      pages = std::atoi(argv[++i]);
    } else if (arg == "--transfer" && i + 1 < argc) {
      transfer = argv[++i];
    } else if (arg == "--dpi" && i + 1 < argc) {
      dpi = std::atoi(argv[++i]);
    } else if (arg == "--frame" && i + 1 < argc) {
      frame = argv[++i];
    } else if (arg == "--file" && i + 1 < argc) {
      file = argv[++i];
    } else if (arg == "--start" && i + 1 < argc) {
      startRuns = std::atoi(argv[++i]);
    } else if (arg == "--isolation" && i + 1 < argc) {
      isolation = argv[++i];
    } else if (arg == "--sources" && i + 1 < argc) {
      sources = argv[++i];
    } else {
      return Die(
          "usage: scan_bench [--runs N] [--only scan|floor] | --pages P [--runs N] [--only "
          "batch|single|floor] | --transfer native|memory --dpi D [--frame L,T,R,B] [--file NAME] [--runs N] | "
          "--start R; [--isolation NONE|PROCESS] [--sources AUTO|OWN|32BIT]");
    }
  }
  if (runs < 1) return Die("--runs needs a positive count");
  if (pages < 0) return Die("--pages needs a positive count");
  if (!transfer.empty() && transfer != "native" && transfer != "memory")
    return Die("--transfer takes native or memory");
  const bool scans = only != "floor", floors = only != "scan";

  auto control = reinterpret_cast<int (*)(const char*)>(ScannerSymbol("VirtualScannerControl"));
  if (!control || control("reset") != 0) return Die("the virtual scanner's control interface is not reachable");

  std::vector<std::string> catalogue(kCatalogueEntries, kCatalogueEntries + kCatalogueEntryCount);
  velmar::Host host(&EntryPoint, catalogue);
  host.Construct();
  auto call = [&](const std::string& text, const char* expected) {
    velmar::CallResult r = host.Call(text);
    std::string shown = r.ok ? r.result.Display() : "(not run: " + r.error + ")";
    if (shown != expected) {
      std::fprintf(stderr, "scan_bench: %s -> %s, expected %s\n", text.c_str(), shown.c_str(), expected);
      std::exit(1);
    }
  };
  if (startRuns > 0) {
    int r = RunStartBench(call, startRuns);
    host.Destruct();
    return r;
  }
  if (!isolation.empty()) call("Twain.SetOption(\"ISOLATION\", \"" + isolation + "\")", "0");
  if (!sources.empty()) call("Twain.SetOption(\"SOURCES\", \"" + sources + "\")", "0");
  // Where the scans run out of process, the scanner's commands go to the copy the worker opens.
  const bool elsewhere = isolation == "PROCESS" || (sources == "32BIT" && sizeof(void*) == 8);
  call("Twain.Connect()", "0");
  std::printf("peak memory before any scan: %ld KiB\n", PeakMemoryKiB());
  // A scan closes the source, and the scanner starts every session from its default profile:
  // the settings are made again before each scan, outside the timed call.
  const std::string settings =
      "Twain.SetSourceCapability(\"PIXELTYPE\", 2, \"XRESOLUTION\", 300, \"YRESOLUTION\", 300)";
  if (!transfer.empty()) {
    int r = RunTransferBench(host, call, transfer, dpi, frame, file, runs);
    host.Destruct();
    return r;
  }
  if (pages > 0) {
    // The feeder holds the batch's pages at every enable.
    const std::string feed = "pages " + std::to_string(pages);
    if (control(feed.c_str()) != 0) return Die("the feeder cannot hold the pages");
    // A worker's copy takes the commands at its next open, once handed on again.
    auto beforeBatch = [&] {
      if (elsewhere) velmar::HandOnScannerCommands({feed});
    };
    if (elsewhere) call("Twain.Disconnect()", "0");
    beforeBatch();
    if (elsewhere) call("Twain.Connect()", "0");
    int r = RunPagesBench(host, call, settings, runs, pages, only, beforeBatch);
    host.Destruct();
    return r;
  }

  const std::string scanCall = std::string("Twain.ScanToFile(\"") + kScanFile + "\")";
  std::printf("scan_bench (%s build): %s of 2550x3300 RGB, %d runs\n", kWindowsBuild ? "Windows" : "Mac",
              scanCall.c_str(), runs);
  // One of each first, so that neither side pays for first-touch costs in the figures.
  {
    std::remove(kScanFile);
    if (scans) {
      call(settings, "0");
      call(scanCall, "0");
    }
    FloorTimes warm;
    if (floors && !RunFloor(&warm)) return Die("the floor's render, encoding or write failed");
  }
  std::vector<double> scanTimes, floorTimes, renders, encodes, writes;
  long peakAfterScans = -1;
  for (int i = 0; i < runs; ++i) {
    double s = 0;
    if (scans) {
      std::remove(kScanFile);  // an existing file would give 7 on the Mac
      call(settings, "0");
      Clock::time_point start = Clock::now();
      call(scanCall, "0");
      s = Seconds(start);
      scanTimes.push_back(s);
      peakAfterScans = std::max(peakAfterScans, PeakMemoryKiB());
    }
    FloorTimes f;
    if (floors) {
      if (!RunFloor(&f)) return Die("the floor's render, encoding or write failed");
      floorTimes.push_back(f.total());
      renders.push_back(f.render);
      encodes.push_back(f.encode);
      writes.push_back(f.write);
    }
    std::printf("run %d: scan %.3f s  floor %.3f s (render %.3f, encode %.3f, write %.3f)\n", i + 1, s,
                f.total(), f.render, f.encode, f.write);
  }
  if (scans) {
    long size = FileSize(kScanFile);
    std::printf("scan file: %s, %ld bytes\n", kScanFile, size);
    // The same scan into a picture field: the extension's work without its file writer.
    std::vector<double> fieldTimes;
    for (int i = 0; i < 3; ++i) {
      call(settings, "0");
      Clock::time_point start = Clock::now();
      velmar::CallResult r = host.Call("Twain.ScanToField($p:picture)");
      fieldTimes.push_back(Seconds(start));
      std::string shown = r.variables.empty() ? "" : r.variables[0].second.Display();
      if (!r.ok || r.result.Display() != "0" || shown != "picture 2550x3300")
        return Die("Twain.ScanToField($p:picture) -> " + r.result.Display() + ", $p = " + shown);
    }
    std::printf("ScanToField($p:picture) median of 3: %.3f s\n", Median(fieldTimes));
  }
  if (scans && floors) {
    std::vector<double> source, handle, convert, file, release, fileWrites;
    long calls = 0;
    for (int i = 0; i < runs; ++i) {
      PhaseTimes t;
      if (!RunPhases(&t)) return Die("a step of the scan, run on its own, failed");
      source.push_back(t.source);
      handle.push_back(t.handle);
      convert.push_back(t.convert);
      file.push_back(t.file);
      release.push_back(t.release);
      fileWrites.push_back(t.fileWrites);
      calls = t.writeCalls;
    }
    std::printf(
        "scan steps, medians: scanner render+encode %.3f, image handle %.3f, %s %.3f, file writer %.3f, "
        "release %.3f s\n",
        Median(source), Median(handle), kWindowsBuild ? "DIB to device bitmap" : "(no conversion)",
        Median(convert), Median(file), Median(release));
    if (kWindowsBuild)
      std::printf(
          "file writer: %.3f s before its first WriteFile (GetDIBits, CreateFileA), %.3f s in %ld WriteFile "
          "calls\n",
          Median(file) - Median(fileWrites), Median(fileWrites), calls);
  }
  if (floors) std::printf("floor file: %s, %ld bytes\n", kFloorFile, FileSize(kFloorFile));
  if (scans) std::printf("median scan:  %.3f s\n", Median(scanTimes));
  if (floors) {
    std::printf("median floor: %.3f s (render %.3f, encode %.3f, write %.3f)\n", Median(floorTimes),
                Median(renders), Median(encodes), Median(writes));
  }
  if (scans && floors) {
    std::printf("ratio (median scan / median floor): %.2f (aim: at most %.2f)\n",
                Median(scanTimes) / Median(floorTimes), kWindowsBuild ? 1.6 : 1.25);
  }
  if (scans) std::printf("peak memory after the scans: %ld KiB\n", peakAfterScans);
  std::printf("peak memory of the process: %ld KiB (%s)\n", PeakMemoryKiB(),
              kWindowsBuild ? "PeakWorkingSetSize" : "getrusage ru_maxrss");
  host.Destruct();
  // The last scan's file stays for an independent reader (tools/bench.sh identifies it).
  std::remove(kFloorFile);
  return 0;
}
