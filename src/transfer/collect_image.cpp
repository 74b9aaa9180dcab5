// One image from the source, native or through a file the source writes itself.
#include "transfer/collect_image.h"

#include <cstring>

#include "pages/page_delivery.h"
#include "transfer/page_marks.h"
#include "transfer/transfer_platform.h"
#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/requests.h"
#include "twain/result_codes.h"

// A refused end (TWRC_FAILURE) replaces only a success, unless the caller takes it apart
// (endRefused). A source whose end did not succeed is still inside its transfer: the
// connection noted it, and the source's close ends it once more.
int16_t FinishTransfer(TwainGlobals* g, int16_t result, TW_UINT16* left, int16_t* endRefused) {
  if (result == 0) ReadPageMarks(g);  // the page arrived: state 7, before its end
  TW_UINT32 jobEnd = 0;
  TW_UINT16 rc = DoEndTransfer(g, left, &jobEnd);
  if (result == 0) NotePageJobEnd(g, jobEnd);
  if (rc != TWRC_FAILURE || result != 0) return result;
  int16_t refused = xlateErr(g, &g->sourceIdentity, rc);
  if (!endRefused) return refused;
  *endRefused = refused;
  return 0;
}

bool FitsNativeTransfer(const TW_IMAGEINFO& info) {
  if constexpr (kWindowsBuild) return true;
  return info.ImageWidth <= kWidestPicture && info.ImageLength <= kTallestPicture;
}

int16_t AskAboutImage(TwainGlobals* g, TW_IMAGEINFO* info) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  std::memset(info, 0, sizeof *info);
  TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, info);
  if (rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);
  if constexpr (!kWindowsBuild) platform::YieldThreads();

  TW_PENDINGXFERS pending{};
  rc = CallDSM(g, ds, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
  if (rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);
  if constexpr (!kWindowsBuild) platform::YieldThreads();
  return 0;
}

namespace {

// A cancelled transfer leaves the source in state 7 like a finished one, and is ended the
// same way; a failed one leaves it in state 6, where closing the source resets it.
int16_t NativeTransfer(TwainGlobals* g, TW_HANDLE* imageSlot, TW_UINT16* left, int16_t* endRefused) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  NoteTransferStarted(g);
  TW_UINT16 rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, imageSlot);
  if (rc == TWRC_XFERDONE || rc == TWRC_SUCCESS) {
    // A success without an image is none: no file is written and no field emptied.
    int16_t r = FinishTransfer(g, 0, left, endRefused);
    int16_t accepted = AcceptNativeImage(imageSlot);
    return r != 0 ? r : accepted;
  }
  int16_t r = xlateErr(g, ds, rc);
  return rc == TWRC_CANCEL ? FinishTransfer(g, r, left, nullptr) : r;
}

// The mechanism and the format were settled before the source was enabled; the file's name
// (and the format once more) may still be given now.
int16_t FileTransfer(TwainGlobals* g, TW_UINT16 format, TW_HANDLE* imageSlot, TW_UINT16* left,
                     int16_t* endRefused) {
  TW_IDENTITY* ds = &g->sourceIdentity;
  *imageSlot = nullptr;

  TW_SETUPFILEXFER setup;
  std::memset(&setup, 0, sizeof setup);
  static_assert(sizeof setup.FileName == sizeof g->filePath, "the path is copied whole");
  std::memcpy(setup.FileName, g->filePath, sizeof setup.FileName);
  setup.Format = format;
  setup.VRefNum = kWindowsBuild ? static_cast<TW_INT16>(TWON_DONTCARE16) : 0;
  TW_UINT16 rc = CallDSM(g, ds, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
  if (rc != TWRC_SUCCESS) return xlateErr(g, ds, rc);

  // A failed file transfer is the scan's result; the condition code is fetched before
  // MSG_ENDXFER can replace it. The operation a file transfer carries out is writing the file:
  // a source that says only that its operation failed (TWCC_OPERATIONERROR, on a full disk
  // say) could not write the file: 8, not the 13 that sends the user to connect again. A
  // source that says TWCC_FILEWRITEERROR keeps its own code.
  NoteTransferStarted(g);
  rc = CallDSM(g, ds, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
  int16_t result = (rc == TWRC_XFERDONE || rc == TWRC_SUCCESS) ? 0 : xlateErr(g, ds, rc);
  if (result == kResultFailed) result = kResultFileError;
  return FinishTransfer(g, result, left, endRefused);
}

}  // namespace

int16_t CollectImage(TwainGlobals* g, const PageRoute& route, TW_HANDLE* imageSlot, TW_UINT16* left,
                     TW_IMAGEINFO* imageInfo, int16_t* endRefused, PageWriter* writer) {
  TW_UINT16 ignored = 0;
  if (!left) left = &ignored;
  *left = 0;
  if (endRefused) *endRefused = 0;
  TW_IMAGEINFO info;
  int16_t r = AskAboutImage(g, &info);
  if (r != 0) return r;
  if (imageInfo) *imageInfo = info;
  if (writer && (r = writer->TakesPage(info)) != 0) return r;  // still held by the source
  if (!route.Native()) return FileTransfer(g, route.format, imageSlot, left, endRefused);
  if (!FitsNativeTransfer(info)) return kResultPageTooLarge;
  return NativeTransfer(g, imageSlot, left, endRefused);
}
