// Message 1: the preconditions, the worker chosen by the function number, and the number
// written back into field 200.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "caps/cap_commands.h"
#include "entry/entry.h"
#include "entry/source_side.h"
#include "entry/worker_port.h"
#include "host/host_kit.h"
#include "host/host_platform.h"
#include "host/number_fields.h"
#include "image/no_throw.h"
#include "options/options.h"
#include "pages/destination.h"
#include "pages/page_delivery.h"
#include "pages/page_log.h"
#include "pages/page_names.h"
#include "pages/page_route.h"
#include "scan/scan.h"
#include "scan/scan_pages.h"
#include "twain/connection.h"
#include "twain/dsm_platform.h"
#include "twain/result_codes.h"

namespace {

// The result of one function and of opening the source for it.
struct Outcome {
  int16_t result = 0;
  int16_t openResult = 0;
  bool writeResult = true;  // false: About and a Reset with the DSM open write nothing
};

// What opening the source for a function answered, as the host is told it.
constexpr int16_t kOpenCancelled = 3;
constexpr int16_t kOpenRefused = -1;

Outcome RunReset(TwainGlobals* g) {
  if (!g->dsmOpen) return {kResultFailed, 0, true};
  DoReset(g);
  return {0, 0, false};
}

// A source that cannot be opened answers why (a scanner switched off: 3023), as Connect does;
// nothing is asked of a source that is not open.
Outcome RunCapabilityFunction(TwainGlobals* g, int16_t fn) {
  Outcome o;
  if (!g->dsmOpen) {
    o.result = kResultFailed;
    return o;
  }
  if (!g->dsOpen) {
    o.openResult = DoOpenDS(g);
    if (o.openResult != 0) {
      o.result = o.openResult;
      return o;
    }
  }
  if (fn == kFnSetSourceCapability) {
    o.result = DoSetSourceCap(g);
  } else {
    o.result = DoGetSourceCap(g, fn == kFnGetSourceCapRange ? 1 : 0);
  }
  return o;
}

// What the scan functions do once their parameters passed: the DSM must be open (13), the
// source is opened if need be (when it cannot be, the open's answer, as Connect gives it), no
// old image is kept, and parameter `uiParam` (0-based) says whether the source shows its
// interface. False when the scan cannot start.
bool PrepareScan(TwainGlobals* g, int16_t paramCount, int16_t uiParam, Outcome& o) {
  if (!g->dsmOpen) {
    o.result = kResultFailed;
    return false;
  }
  if (!g->dsOpen) {
    o.openResult = DoOpenDS(g);
    if (o.openResult != 0) {
      o.result = o.openResult;
      return false;
    }
  }
  DisposeNativeImage(g);
  g->showUI = paramCount > uiParam && GetFldLong(kFieldFirstParam + uiParam, g->hostParams) != 0;
  return true;
}

// The TWAIN file formats a scan's fileFormatCode may name: 0 (TIFF) to 9 (EXIF).
constexpr int32_t kLastFormatCode = TWFF_EXIF;

bool ReadPageFormat(TwainGlobals* g, int16_t paramCount, int16_t formatParam, TW_UINT16* format);

// The path parameter as the host holds it, read one character beyond what the extension
// takes, so that a longer path is refused rather than cut.
struct PathParameter {
  char text[kMaxDestinationChars + 2] = {};
  size_t length = 0;
};

PathParameter ReadPathParameter(TwainGlobals* g) {
  PathParameter p;
  GetFldVal(kFieldFirstParam, kValueCText, kMaxDestinationChars + 1, p.text, g->hostParams);
  p.length = std::strlen(p.text);
  return p;
}

// The path as the build's TWAIN structures and writers take it: Mac length-prefixed,
// Windows NUL-terminated, in the 256 bytes of filePath. The path fits (checked before).
void StorePath(const PathParameter& p, uint8_t out[258]) {
  std::memset(out, 0, 258);
  if constexpr (kWindowsBuild) {
    std::memcpy(out, p.text, p.length);
  } else {
    out[0] = static_cast<uint8_t>(p.length);
    std::memcpy(out + 1, p.text, p.length);
  }
}

// The format code of parameter `formatParam` (0-based), when it names a TWAIN file format (0
// to 9, read at its full width). False when there is none, or any other number: the
// platform's format.
bool ReadFormatCode(TwainGlobals* g, int16_t paramCount, int16_t formatParam, TW_UINT16* format) {
  if (paramCount <= formatParam) return false;
  int32_t code = GetFldLong(kFieldFirstParam + formatParam, g->hostParams);
  if (code < 0 || code > kLastFormatCode) return false;
  *format = static_cast<TW_UINT16>(code);
  return true;
}

// Twain.ScanToFile with WRITER EXTENSION and a format the extension writes itself (TIFF,
// JPEG, PNG, PDF): one page as Twain.ScanPages writes it, under the name as it stands.
bool ExtensionWrites(TW_UINT16 format) {
  return format == TWFF_TIFF || format == TWFF_JFIF || format == TWFF_PNG || format == TWFF_PDF;
}

Outcome RunScanToFile(TwainGlobals* g, int16_t paramCount) {
  Outcome o;
  if (paramCount < 1) {
    o.result = kResultBadParameter;
    return o;
  }
  RecordRoute(g, SinglePageRoute(false, 0));
  PathParameter p = ReadPathParameter(g);
  if (p.length == 0) {
    o.result = kResultBadParameter;
    return o;
  }
  if (!g->dsmOpen) {
    o.result = kResultFailed;
    return o;
  }
  // Nothing is opened or scanned for a page that could not be written.
  if (p.length > kMaxDestinationChars) {
    o.result = kResultFileError;
    return o;
  }
  HostPath path;
  StorePath(p, path.bytes);
  TW_UINT16 format = kOwnFormat;
  bool formatGiven = ReadFormatCode(g, paramCount, 2, &format);
  if (OptionValue(g, Option::kWriter) == kWriterExtension && paramCount > 2) {
    if (!ReadPageFormat(g, paramCount, 2, &format)) {
      o.result = kResultBadValue;
      return o;
    }
    if (ExtensionWrites(format)) {
      ScanPagesFiles files(g, path, format, 1, FilesOf::kSinglePage);
      o.result = files.Begin(g);
      if (o.result == 0 && PrepareScan(g, paramCount, 1, o)) o.result = files.Scan(g);
      StoreOptionValue(g, Option::kDiscarded, static_cast<int32_t>(files.LeftOut()));
      return o;
    }
  }
  const PageRoute route = SinglePageRoute(formatGiven, format, ExistingFiles(g));
  PageName name(path, false, 1, route.existing);
  o.result = name.Begin();
  if (o.result != 0) return o;
  if (!PrepareScan(g, paramCount, 1, o)) return o;
  // A file transfer's source writes the page under its temporary name.
  const bool sourceWrites = route.transfer == PageTransfer::kFile;
  if (formatGiven) {
    RecordRoute(g, route);
    std::memcpy(g->filePath, (sourceWrites ? name.WriteName() : path).bytes, sizeof g->filePath);
  }
  o.result = DoScan(g, route, &g->imageHandle);
  if (o.result == 0 && !sourceWrites)
    o.result = g->imageHandle ? WriteImageToFile(g, name.WriteName().bytes) : kResultUnusablePage;
  o.result = name.Settle(o.result);
  return o;
}

// The parameters of ScanPages: the path, the variable for the page count, showUI, the
// format code and the page limit.
constexpr int16_t kPagesCountParam = 1;
constexpr int16_t kPagesUIParam = 2;
constexpr int16_t kPagesFormatParam = 3;
constexpr int16_t kPagesLimitParam = 4;

// A parameter that holds a whole number: a number without a fraction, or a text that is
// wholly one (host/number_fields.h), read the same way: "7" and "7.0" are 7. False for a
// fraction, another text, a picture. Values beyond 32 bits saturate, texts and numbers alike.
bool ReadWholeNumber(TwainGlobals* g, int16_t index, int32_t* value) {
  const int16_t field = static_cast<int16_t>(kFieldFirstParam + index);
  HostFloat number = 0;
  if (!GetFldStrictNumber(field, g->hostParams, &number)) return false;
  if (!std::isfinite(number) || std::trunc(number) != number) return false;
  *value = number >= INT32_MAX ? INT32_MAX : number <= INT32_MIN ? INT32_MIN : static_cast<int32_t>(number);
  return true;
}

// The batch's page limit: absent or 0 for every page. False when it is no whole number of 0
// or more.
bool ReadPageLimit(TwainGlobals* g, int16_t paramCount, uint32_t* maxPages) {
  *maxPages = 0;
  if (paramCount <= kPagesLimitParam) return true;
  int32_t limit = 0;
  if (!ReadWholeNumber(g, kPagesLimitParam, &limit) || limit < 0) return false;
  *maxPages = static_cast<uint32_t>(limit);
  return true;
}

// The batch's format: absent, the build's own; else a whole number naming a TWAIN file format
// (0 to 9), which the extension writes or asks the source for, or PDF (10), which the
// extension writes. False for any other value, which no page could be written in.
bool ReadPageFormat(TwainGlobals* g, int16_t paramCount, int16_t formatParam, TW_UINT16* format) {
  *format = kOwnFormat;
  if (paramCount <= formatParam) return true;
  int32_t code = 0;
  if (!ReadWholeNumber(g, formatParam, &code) || code < 0 || (code > kLastFormatCode && code != TWFF_PDF))
    return false;
  *format = static_cast<TW_UINT16>(code);
  return true;
}

// Whether the call has a variable for the page count (any field but a picture).
bool HasPageCount(int16_t paramCount, HostContext ctx) {
  return paramCount > kPagesCountParam &&
         !IsThisFieldType(kFieldFirstParam + kPagesCountParam, kFieldTypePicture, ctx);
}

// The page count goes to its variable whatever the answer, once the call has one; DISCARDED
// says the pages the batch left out as blank, DOCUMENTS the documents it wrote, PAGES what
// each page the source delivered was (all nothing for a call that scanned nothing). The batch's files are
// checked, as ScanToFile checks its file, before the source is opened.
Outcome RunScanPages(TwainGlobals* g, int16_t paramCount) {
  Outcome o;
  uint32_t written = 0, leftOut = 0, documents = 0;
  std::string pages;
  const bool countable = HasPageCount(paramCount, g->hostParams);
  if (countable) RecordRoute(g, BatchRoute(kOwnFormat));
  PathParameter p = ReadPathParameter(g);
  uint32_t maxPages = 0;
  TW_UINT16 format = 0;
  if (!countable || p.length == 0 || !ReadPageLimit(g, paramCount, &maxPages)) {
    o.result = kResultBadParameter;
  } else if (!ReadPageFormat(g, paramCount, kPagesFormatParam, &format)) {
    o.result = kResultBadValue;
  } else if (!g->dsmOpen) {
    o.result = kResultFailed;
  } else if (p.length > kMaxDestinationChars) {
    o.result = kResultFileError;
  } else {
    HostPath path;
    StorePath(p, path.bytes);
    ScanPagesFiles files(g, path, format, maxPages);
    o.result = files.Begin(g);
    if (o.result == 0 && PrepareScan(g, paramCount, kPagesUIParam, o)) o.result = files.Scan(g);
    written = files.Written();
    leftOut = files.LeftOut();
    documents = files.Documents();
    // Without memory for the text, PAGES says nothing.
    const auto text = [&] {
      pages = PagesText(files.Pages());
      return kResultOk;
    };
    if (AnswerWithoutThrowing(text) != kResultOk) pages.clear();
  }
  if (countable) SetFldNumber(kFieldFirstParam + kPagesCountParam, written, g->hostParams);
  StoreOptionValue(g, Option::kDiscarded, static_cast<int32_t>(leftOut));
  StoreOptionValue(g, Option::kDocuments, static_cast<int32_t>(documents));
  StoreOptionText(g, Option::kPages, pages);
  return o;
}

Outcome RunScanToField(TwainGlobals* g, int16_t paramCount) {
  Outcome o;
  if (paramCount < 1 || !IsThisFieldType(kFieldFirstParam, kFieldTypePicture, g->hostParams)) {
    o.result = kResultBadParameter;
    return o;
  }
  if (!PrepareScan(g, paramCount, 1, o)) return o;
  RecordRoute(g, FieldRoute());
  o.result = DoScan(g, FieldRoute(), &g->imageHandle);
  if (o.result == 0 && g->imageHandle) o.result = StoreImageInField(g);
  return o;
}

bool IsPictureParam(TwainGlobals* g, int16_t index) {
  return IsThisFieldType(static_cast<int16_t>(kFieldFirstParam + index), kFieldTypePicture, g->hostParams);
}

// The names go into the first parameter, one a line (lines end at a carriage return), and
// the next open's source into the second; both are left as they were when the call fails.
Outcome RunGetSourceNames(TwainGlobals* g, int16_t paramCount, void* window) {
  Outcome o;
  if (paramCount < 1 || IsPictureParam(g, 0) || (paramCount > 1 && IsPictureParam(g, 1))) {
    o.result = kResultBadParameter;
    return o;
  }
  std::string names, current;
  o.result = ListReachableSources(g, window, &names, &current);
  if (o.result != 0) return o;
  SetFldText(kFieldFirstParam, names.c_str(), g->hostParams);
  if (paramCount > 1) SetFldText(kFieldFirstParam + 1, current.c_str(), g->hostParams);
  return o;
}

// The name is a text; a product name is at most 32 characters, so reading 255 of them
// tells a longer name from every source's.
Outcome RunSelectSource(TwainGlobals* g, int16_t paramCount, void* window) {
  Outcome o;
  if (paramCount < 1 || !IsThisFieldType(kFieldFirstParam, kFieldTypeText, g->hostParams)) {
    o.result = kResultBadParameter;
    return o;
  }
  char name[256];
  std::memset(name, 0, sizeof name);
  GetFldVal(kFieldFirstParam, kValueCText, 255, name, g->hostParams);
  o.result = SelectReachableSource(g, window, name);
  return o;
}

// The record leaves its side: what it held in process is closed where `closeInProcess` says so,
// its workers end, and its side is found again at its next call.
void LeaveSide(TwainGlobals* g, bool closeInProcess) {
  if (closeInProcess) DoDisconnect(g);
  platform::EndWorker(g);
  ForgetSide(g);
}

// The extension's own options. Calls move between the process and the workers with what they
// held closed: in process the source and the manager, in a worker the worker itself; so does
// a new manager.
Outcome RunSetOption(TwainGlobals* g) {
  const ManagerChoice manager = ManagerChoiceOf(g);
  const Side side = SourceSide(g);
  const int32_t sources = OptionValue(g, Option::kSources);
  const int32_t isolation = OptionValue(g, Option::kIsolation);
  const int16_t r = DoSetOption(g);
  const bool newManager = ManagerChoiceOf(g) != manager;
  const bool moved =
      OptionValue(g, Option::kSources) != sources || OptionValue(g, Option::kIsolation) != isolation;
  if (newManager) DoChangeManager(g, ManagerChoiceOf(g));
  if (newManager || moved) LeaveSide(g, moved && side == Side::kInProcess);
  return {r, 0, true};
}

Outcome RunFunction(TwainGlobals* g, int16_t fn, int16_t paramCount, void* window) {
  switch (fn) {
    case kFnAbout:
      SetFldText(kFieldReturn, "1.2", g->hostParams);
      return {0, 0, false};
    case kFnDisconnect:
      return {DoDisconnect(g), 0, true};
    case kFnReset:
      return RunReset(g);
    case kFnScanToFile:
      return RunScanToFile(g, paramCount);
    case kFnScanToField:
      return RunScanToField(g, paramCount);
    case kFnScanPages:
      return RunScanPages(g, paramCount);
    case kFnSetSourceCapability:
    case kFnGetSourceCapability:
    case kFnGetSourceCapRange:
      return RunCapabilityFunction(g, fn);
    case kFnConnect:
      return {DoConnect(g), 0, true};
    case kFnSelectDataSource:
      return {DoSelectDataSource(g), 0, true};
    case kFnGetSourceNames:
      return RunGetSourceNames(g, paramCount, window);
    case kFnSelectSource:
      return RunSelectSource(g, paramCount, window);
    case kFnSetOption:
      return RunSetOption(g);
    case kFnGetOption:
      // The manager loaded now, for whichever instance bound it; with the record's source in
      // a worker, the one the worker noted after its last call.
      if (SourceSide(g) == Side::kInProcess) NoteManagerInUse(g);
      return {DoGetOption(g), 0, true};
    default:
      return {0, 0, true};
  }
}

// While a scan waits, the host may dispatch another call into the extension from the scan's
// own event loop. Such a call leaves the running scan alone, and every process-wide value
// with it (the host window it passes included): About answers with its text, every other
// function with 14 ("not now"), and no record is touched.
void AnswerCallDuringScan(HostContext ctx) {
  if (GetPackageId(ctx) == kFnAbout) {
    SetFldText(kFieldReturn, "1.2", ctx);
  } else {
    SetFldNumber(kFieldReturn, kResultSequenceError, ctx);
  }
}

// The functions the extension answers in the host whatever the record's side: its text, its
// own options, and the listing and choice of sources, which span every side.
bool RunsInHost(int16_t fn) {
  return fn == kFnAbout || fn == kFnSetOption || fn == kFnGetOption || fn == kFnGetSourceNames ||
         fn == kFnSelectSource;
}

// The extension's own settings need no manager: with none bound (the option DSM may name one
// the system lacks) Twain.SetOption and Twain.GetOption still answer, so that the option can
// be put right. The listing and the choice bind the manager of each side they reach. Every
// other function answers 4.
bool NeedsManager(int16_t fn) { return !RunsInHost(fn) || fn == kFnAbout; }

void RunAndAnswer(TwainGlobals* g, HostContext ctx, void* window) {
  // Bound at every call, the options' included: DSMINUSE names the manager from the first call.
  if (!ManagerReady(g) && NeedsManager(GetPackageId(ctx))) {
    HostFloat four = kResultNoTwain;
    SetFldVal(kFieldReturn, kValueNumber, &four, ctx);
    return;
  }
  g->hostParams = ctx;
  ChooseHandleMemory(g);
  int16_t paramCount = GetFldInt(kFieldParamCount, ctx);
  int16_t fn = GetPackageId(ctx);
  Outcome o = RunFunction(g, fn, paramCount, window);
  if (!o.writeResult) return;
  DisposeNativeImage(g);
  int16_t code = o.openResult == kOpenCancelled ? kResultCancelled
                 : o.openResult == kOpenRefused ? kResultCannotOpenSource
                                                : o.result;
  SetFldNumber(kFieldReturn, code, ctx);
}

}  // namespace

void ExecuteFunction(TwainGlobals* g, HostContext ctx, void* window) {
  if (ScanRunning() || platform::RecordInWorkerCall()) {
    AnswerCallDuringScan(ctx);
    return;
  }
  platform::SetHostWindow(window);
  const int16_t fn = GetPackageId(ctx);
  const Side side = RunsInHost(fn) ? Side::kInProcess : SourceSide(g);
  if (side == Side::kInProcess) {
    RunAndAnswer(g, ctx, window);
  } else {
    // The worker answers through ctx itself; a worker that cannot start or that ended is
    // answered here.
    const platform::WorkerWidth width =
        side == Side::kWorker32 ? platform::WorkerWidth::k32Bit : platform::WorkerWidth::kOwn;
    const int16_t r = platform::RunInWorker(g, width, ctx, window);
    // A batch whose worker ended counts the pages it kept, whole under their names, as one
    // that failed in process does.
    if (r == kResultSourceStopped && fn == kFnScanPages && HasPageCount(GetFldInt(kFieldParamCount, ctx), ctx))
      SetFldNumber(kFieldFirstParam + kPagesCountParam, platform::PagesKeptByEndedCall(), ctx);
    if (r != 0) SetFldNumber(kFieldReturn, r, ctx);
  }
  if (fn == kFnDisconnect && LiveRecord(g)) {
    // Every side closes: the record's own answered, the others close silently.
    if (side != Side::kInProcess && g->dsmOpen) DoDisconnect(g);
    platform::EndWorker(g);
  }
  // The host destroyed the instance while this call's scan, or its worker, waited.
  CompleteDeferredDestruction(g, ctx);
}
