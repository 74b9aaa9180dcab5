// The names of a document scanner's side of TWAIN: feeder, duplex, job control, patch codes
// and extended image information (DAT_EXTIMAGEINFO), and what the scanner knows of each image
// of a batch.
#pragma once
#include <string>
#include <vector>

#include "twain/twain.h"

namespace vs {

// Capabilities
constexpr TW_UINT16 kCapFeederEnabled = 0x1002;
constexpr TW_UINT16 kCapFeederLoaded = 0x1003;
constexpr TW_UINT16 kCapAutoScan = 0x1010;
constexpr TW_UINT16 kCapDuplexEnabled = 0x1013;
constexpr TW_UINT16 kCapJobControl = 0x1017;
constexpr TW_UINT16 kCapAutomaticSenseMedium = 0x103B;
constexpr TW_UINT16 kIcapExtImageInfo = 0x112F;
constexpr TW_UINT16 kIcapPatchCodeDetectionEnabled = 0x113F;
constexpr TW_UINT16 kIcapSupportedPatchCodeTypes = 0x1140;
constexpr TW_UINT16 kIcapSupportedExtImageInfo = 0x115E;

// CAP_DUPLEX
constexpr TW_UINT16 kDuplexOnePass = 1;

// CAP_JOBCONTROL: include or exclude the separator sheet, continue or stop after it.
constexpr TW_UINT16 kJobNone = 0, kJobIncludeContinue = 1, kJobIncludeStop = 2, kJobExcludeContinue = 3,
                    kJobExcludeStop = 4;

// TW_PENDINGXFERS.EOJ (the field the 1.x layout calls Reserved)
constexpr TW_UINT32 kEojNone = 0;
constexpr TW_UINT32 kEojPatch2 = 3;
constexpr TW_UINT32 kEojPatchT = 7;

// TWEI_PATCHCODE values
constexpr TW_UINT32 kPatch1 = 0, kPatch2 = 1, kPatch3 = 2, kPatch4 = 3, kPatch6 = 4, kPatchT = 5;

// DG_IMAGE / DAT_EXTIMAGEINFO and its items
constexpr TW_UINT16 kDatExtImageInfo = 0x010B;
constexpr TW_UINT16 kMsgStopFeeder = 0x0702;
constexpr TW_UINT16 kTypeHandle = 0x000F;  // TWTY_HANDLE
constexpr TW_UINT16 kEiBarcodeText = 0x1202;
constexpr TW_UINT16 kEiPatchCode = 0x1212;
constexpr TW_UINT16 kEiBarcodeCount = 0x1219;
constexpr TW_UINT16 kEiBarcodeTextLength = 0x121C;
constexpr TW_UINT16 kEiDocumentNumber = 0x123A;
constexpr TW_UINT16 kEiPageNumber = 0x123B;
constexpr TW_UINT16 kEiPageSide = 0x1245;
constexpr TW_UINT16 kSideTop = 1, kSideBottom = 2;  // TWCS_TOP (front), TWCS_BOTTOM (back)

// The items the scanner reports, in the order ICAP_SUPPORTEDEXTIMAGEINFO lists them.
inline const std::vector<TW_UINT16> kExtImageInfoIds = {kEiPageSide,    kEiPatchCode,         kEiBarcodeCount,
                                                        kEiBarcodeText, kEiBarcodeTextLength, kEiDocumentNumber,
                                                        kEiPageNumber};

// How DAT_EXTIMAGEINFO hands its items over (`extimageinfo`): a value that fits in Item inline
// (several values and texts in a handle), every item in a handle, or not at all (the scanner
// has no ICAP_EXTIMAGEINFO).
enum class InfoItems { Inline, Handle, None };

// Patch sheets that end a job: patch 2 and patch T. The others are reported (TWEI_PATCHCODE)
// and transferred as any page.
inline bool EndsJob(int patch) { return patch == int(kPatch2) || patch == int(kPatchT); }
inline TW_UINT32 EojOf(int patch) { return patch == int(kPatchT) ? kEojPatchT : kEojPatch2; }

// One image of a batch as the scanner plans it at the ready report.
struct Shot {
  int side = 1;              // the sheet side of the enable it shows, from 1
  int sheet = 1;             // the sheet of the batch it is on, from 1
  bool back = false;         // the back of a duplex sheet
  int sheetsDone = 0;        // sheets that leave the feeder when the application ends it
  int skip = 0;              // sides of an excluded separator sheet behind it, passed over with it
  int skipSheet = 0;         // that separator's sheet in the batch; 0 none
  TW_UINT32 eoj = kEojNone;  // what MSG_ENDXFER reports after it
};

}  // namespace vs
