// One image from the source, native or through a file the source writes itself.
#include "acquire/collect_image.h"

#include <cstring>

#include "acquire/scan_platform.h"
#include "caps/write_caps.h"
#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/requests.h"

namespace {

// Ends the transfer the source is in; a refused MSG_ENDXFER (TWRC_FAILURE) is the result. A
// source whose end did not succeed is still inside its transfer, where it refuses to be
// disabled or closed (and Wine's DSM forgets a source on MSG_CLOSEDS whatever the source
// answers: it would be left open with nothing able to reach it): the transfer is ended once
// more, after the condition code of the first refusal was read.
int16_t FinishTransfer(TwainGlobals* g) {
  TW_UINT16 rc = EndTransfer(g);
  int16_t r = rc == TWRC_FAILURE ? xlateErr(g, &g->sourceIdentity, rc) : 0;
  if (rc != TWRC_SUCCESS) EndTransfer(g);
  return r;
}

// A transfer the source cancelled stays open (state 7) until MSG_ENDXFER, like a finished
// one; one that failed leaves the source where it was (state 6), for the close to reset.
int16_t NativeTransfer(TwainGlobals* g, TW_HANDLE* imageSlot) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, imageSlot);
  if (rc == TWRC_CANCEL) {
    int16_t r = xlateErr(g, ds, rc);
    FinishTransfer(g);
    return r;
  }
  if (rc != TWRC_XFERDONE && rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);
  return FinishTransfer(g);
}

// The mechanism goes back to native on every way out, so that the next native scan finds
// the source as it expects it.
int16_t FileTransfer(TwainGlobals* g, TW_HANDLE* imageSlot) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  *imageSlot = nullptr;
  SetCapInt(g, ICAP_XFERMECH, TWSX_FILE);
  SetCapInt(g, ICAP_IMAGEFILEFORMAT, g->fileFormat);

  TW_SETUPFILEXFER setup;
  std::memset(&setup, 0, sizeof setup);
  static_assert(sizeof setup.FileName == sizeof g->filePath, "the path is copied whole");
  std::memcpy(setup.FileName, g->filePath, sizeof setup.FileName);
  setup.Format = g->fileFormat;
  setup.VRefNum = kWindowsBuild ? static_cast<TW_INT16>(TWON_DONTCARE16) : 0;
  TW_UINT16 rc = CallDSM(g, ds, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
  if (rc != TWRC_SUCCESS) {
    int16_t r = xlateErr(g, ds, rc);
    SetCapInt(g, ICAP_XFERMECH, TWSX_NATIVE);
    return r;
  }

  // A failed file transfer is the scan's result; the condition code is fetched before
  // MSG_ENDXFER can replace it.
  rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
  int16_t result = (rc == TWRC_XFERDONE || rc == TWRC_SUCCESS) ? 0 : xlateErr(g, ds, rc);
  int16_t ended = FinishTransfer(g);
  if (result == 0) result = ended;
  SetCapInt(g, ICAP_XFERMECH, TWSX_NATIVE);
  return result;
}

}  // namespace

int16_t CollectImage(TwainGlobals* g, TW_HANDLE* imageSlot) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  TW_IMAGEINFO info;
  std::memset(&info, 0, sizeof info);
  TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
  if (rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);
  if constexpr (!kWindowsBuild) platform::YieldThreads();

  TW_PENDINGXFERS pending{};
  rc = CallDSM(g, ds, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
  if (rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);
  if constexpr (!kWindowsBuild) platform::YieldThreads();

  return IsNativeFormat(g->fileFormat) ? NativeTransfer(g, imageSlot) : FileTransfer(g, imageSlot);
}
