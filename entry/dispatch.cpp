// Message 1: the preconditions, the worker chosen by the function number, and the number
// written back into field 200.
#include <cstring>
#include <type_traits>

#include "acquire/image_output.h"
#include "acquire/scan_driver.h"
#include "caps/cap_commands.h"
#include "entry/entry.h"
#include "host/host_kit.h"
#include "platform/platform_ops.h"
#include "twain/connection.h"

namespace {

// The result of one function and of opening the source for it.
struct Outcome {
  int16_t result = 0;
  int16_t openResult = 0;
  bool writeResult = true;  // false: About and a Reset with the DSM open write nothing
};

template <typename G>
void MarkScanStarting(G* g) {
  if constexpr (std::is_same_v<G, TwainGlobalsMac>) g->scanComplete = 0;
}

Outcome RunReset(TwainGlobals* g) {
  if (!g->dsmOpen) return {13, 0, true};
  DoReset(g);
  return {0, 0, false};
}

Outcome RunCapabilityFunction(TwainGlobals* g, int16_t fn) {
  Outcome o;
  if (!g->dsmOpen) {
    o.result = 13;
    return o;
  }
  if (!g->dsOpen) o.openResult = DoOpenDS(g);
  if (fn == kFnSetSourceCapability) {
    o.result = DoSetSourceCap(g);
  } else {
    o.result = DoGetSourceCap(g, fn == kFnGetSourceCapRange ? 1 : 0);
  }
  return o;
}

// What both scan functions do once their parameters passed: the DSM must be open (13), the
// source is opened if need be (13 when it cannot be), no old image is kept, and the second
// parameter says whether the source shows its interface. False when the scan cannot start.
bool PrepareScan(TwainGlobals* g, int16_t paramCount, Outcome& o) {
  if (!g->dsmOpen) {
    o.result = 13;
    return false;
  }
  if (!g->dsOpen) {
    o.openResult = DoOpenDS(g);
    if (o.openResult != 0) {
      o.result = 13;
      return false;
    }
  }
  DisposeNativeImage(g);
  g->showUI = paramCount > 1 && GetFldInt(kFieldFirstParam + 1, g->hostParams) != 0;
  return true;
}

Outcome RunScanToFile(TwainGlobals* g, int16_t paramCount) {
  Outcome o;
  if (paramCount < 1) {
    o.result = 3;
    return o;
  }
  g->fileFormat = kWindowsBuild ? TWFF_BMP : TWFF_PICT;
  uint8_t path[258];
  std::memset(path, 0, sizeof path);
  GetFldVal(kFieldFirstParam, kWindowsBuild ? kValueCText : kValuePascalText, 255, path, g->hostParams);
  if (path[0] == 0) {
    o.result = 3;
    return o;
  }
  if (!PrepareScan(g, paramCount, o)) return o;
  if (paramCount > 2) {
    int16_t format = GetFldInt(kFieldFirstParam + 2, g->hostParams);
    if (format >= 0 && format <= 9) {
      g->fileFormat = static_cast<TW_UINT16>(format);
      std::memcpy(g->filePath, path, sizeof g->filePath);
    }
  }
  MarkScanStarting(g);
  o.result = DoScan(g, &g->imageHandle);
  if (o.result == 0 && g->imageHandle) o.result = WriteImageToFile(g, path);
  return o;
}

Outcome RunScanToField(TwainGlobals* g, int16_t paramCount) {
  Outcome o;
  if (paramCount < 1 || !IsThisFieldType(kFieldFirstParam, kFieldTypePicture, g->hostParams)) {
    o.result = 3;
    return o;
  }
  if (!PrepareScan(g, paramCount, o)) return o;
  g->fileFormat = TWFF_PICT;  // native transfer
  MarkScanStarting(g);
  o.result = DoScan(g, &g->imageHandle);
  if (o.result == 0 && g->imageHandle) o.result = StoreImageInField(g);
  return o;
}

Outcome RunFunction(TwainGlobals* g, int16_t fn, int16_t paramCount) {
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
    case kFnSetSourceCapability:
    case kFnGetSourceCapability:
    case kFnGetSourceCapRange:
      return RunCapabilityFunction(g, fn);
    case kFnConnect:
      return {DoConnect(g), 0, true};
    case kFnSelectDataSource:
      return {DoSelectDataSource(g), 0, true};
    default:
      return {0, 0, true};
  }
}

}  // namespace

void ExecuteFunction(TwainGlobals* g, HostContext ctx) {
  if (AnswerCallDuringScan(ctx)) return;  // a call nested in a running scan leaves it alone
  if (!g->dsmBound || !platform::DsmEntryResolved()) {
    if constexpr (kWindowsBuild) {
      g->sourceIdentity.Id = 0;
      if (!platform::BindDSM(g)) {
        HostFloat four = 4;
        SetFldVal(kFieldReturn, kValueNumber, &four, ctx);
        return;
      }
    } else {
      HostFloat four = 4;
      SetFldVal(kFieldReturn, kValueNumber, &four, ctx);
      return;
    }
  }
  g->hostParams = ctx;
  int16_t paramCount = GetFldInt(kFieldParamCount, ctx);
  int16_t fn = GetPackageId(ctx);
  Outcome o = RunFunction(g, fn, paramCount);
  if (!o.writeResult) return;
  DisposeNativeImage(g);
  int16_t code = o.openResult == 3 ? 5 : o.openResult == -1 ? 6 : o.result;
  SetFldNumber(kFieldReturn, code, ctx);
}
