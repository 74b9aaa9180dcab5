#include "caps/cap_table.h"

#include <cstring>

namespace {

struct CapRow {
  const char* name;
  TW_UINT16 id;
  TW_UINT16 itemType;
};

// Rows 85 to 88 exist only in the Mac build.
constexpr CapRow kRows[kCapRowsMac] = {
    {"XFERCOUNT", 0x0001, TWTY_INT16},
    {"SUPPORTEDCAPS", 0x1005, TWTY_UINT16},
    {"AUTOFEED", 0x1007, TWTY_BOOL},
    {"INDICATORS", 0x100B, TWTY_BOOL},
    {"UICONTROLLABLE", 0x100E, TWTY_BOOL},
    {"BITDEPTH", 0x112B, TWTY_UINT16},
    {"BITDEPTHREDUCTION", 0x112C, TWTY_UINT16},
    {"THRESHOLD", 0x1123, TWTY_FIX32},
    {"COMPRESSION", 0x0100, TWTY_UINT16},
    {"PIXELTYPE", 0x0101, TWTY_UINT16},
    {"UNITS", 0x0102, TWTY_UINT16},
    {"XFERMECH", 0x0103, TWTY_UINT16},
    {"AUTOBRIGHT", 0x1100, TWTY_BOOL},
    {"BRIGHTNESS", 0x1101, TWTY_FIX32},
    {"CONTRAST", 0x1103, TWTY_FIX32},
    {"CUSTHALFTONE", 0x1104, TWTY_STR32},
    {"EXPOSURETIME", 0x1105, TWTY_UINT16},
    {"FILTER", 0x1106, TWTY_UINT16},
    {"FLASHUSED", 0x1107, TWTY_UINT16},
    {"GAMMA", 0x1108, TWTY_UINT16},
    {"HALFTONES", 0x1109, TWTY_STR32},
    {"HIGHLIGHT", 0x110A, TWTY_FIX32},
    {"IMAGEFILEFORMAT", 0x110C, TWTY_UINT16},
    {"LAMPSTATE", 0x110D, TWTY_UINT16},
    {"LIGHTSOURCE", 0x110E, TWTY_UINT16},
    {"ORIENTATION", 0x1110, TWTY_UINT16},
    {"PHYSICALWIDTH", 0x1111, TWTY_FIX32},
    {"PHYSICALHEIGHT", 0x1112, TWTY_FIX32},
    {"SHADOW", 0x1113, TWTY_FIX32},
    {"FRAMES", 0x1114, TWTY_FRAME},
    {"XNATIVERESOLUTION", 0x1116, TWTY_FIX32},
    {"YNATIVERESOLUTION", 0x1117, TWTY_FIX32},
    {"XRESOLUTION", 0x1118, TWTY_FIX32},
    {"YRESOLUTION", 0x1119, TWTY_FIX32},
    {"MAXFRAMES", 0x111A, TWTY_UINT16},
    {"TILES", 0x111B, TWTY_UINT16},
    {"BITORDER", 0x111C, TWTY_UINT16},
    {"CCITTKFACTOR", 0x111D, TWTY_UINT16},
    {"LIGHTPATH", 0x111E, TWTY_UINT16},
    {"PIXELFLAVOR", 0x111F, TWTY_UINT16},
    {"PLANARCHUNKY", 0x1120, TWTY_UINT16},
    {"ROTATION", 0x1121, TWTY_UINT16},
    {"SUPPORTEDSIZES", 0x1122, TWTY_UINT16},
    {"XSCALING", 0x1124, TWTY_FIX32},
    {"YSCALING", 0x1125, TWTY_FIX32},
    {"BITORDERCODES", 0x1126, TWTY_UINT16},
    {"PIXELFLAVORCODES", 0x1127, TWTY_UINT16},
    {"JPEGPIXELTYPE", 0x1128, TWTY_UINT16},
    {"TIMEFILL", 0x112A, TWTY_UINT16},
    {"UNDEFINEDIMAGESIZE", 0x112D, TWTY_BOOL},
    {"IMAGEDATASET", 0x112E, TWTY_UINT16},
    {"EXTIMAGEINFO", 0x112F, TWTY_UINT16},
    {"MINIMUMHEIGHT", 0x1130, TWTY_FIX32},
    {"MINIMUMWIDTH", 0x1131, TWTY_FIX32},
    {"FLIPROTATION", 0x1136, TWTY_UINT16},
    {"BARCODEDETECTIONENABLED", 0x1137, TWTY_BOOL},
    {"SUPPORTEDBARCODETYPES", 0x1138, TWTY_UINT16},
    {"BARCODEMAXSEARCHPRIORITIES", 0x1139, TWTY_UINT16},
    {"BARCODESEARCHPRIORITIES", 0x113A, TWTY_UINT16},
    {"BARCODESEARCHMODE", 0x113B, TWTY_UINT16},
    {"BARCODEMAXRETRIES", 0x113C, TWTY_UINT16},
    {"BARCODETIMEOUT", 0x113D, TWTY_UINT16},
    {"ZOOMFACTOR", 0x113E, TWTY_UINT16},
    {"PATCHCODEDETECTIONENABLED", 0x113F, TWTY_BOOL},
    {"SUPPORTEDPATCHCODETYPES", 0x1140, TWTY_UINT16},
    {"PATCHCODEMAXSEARCHPRIORITIES", 0x1141, TWTY_UINT16},
    {"PATCHCODESEARCHPRIORITIES", 0x1142, TWTY_UINT16},
    {"PATCHCODESEARCHMODE", 0x1143, TWTY_UINT16},
    {"PATCHCODEMAXRETRIES", 0x1144, TWTY_UINT16},
    {"PATCHCODETIMEOUT", 0x1145, TWTY_UINT16},
    {"FLASHUSED2", 0x1146, TWTY_UINT16},
    {"IMAGEFILTER", 0x1147, TWTY_UINT16},
    {"NOISEFILTER", 0x1148, TWTY_UINT16},
    {"OVERSCAN", 0x1149, TWTY_UINT16},
    {"AUTOMATICBORDERDETECTION", 0x1150, TWTY_UINT16},
    {"AUTOMATICDESKEW", 0x1151, TWTY_UINT16},
    {"AUTOMATICROTATE", 0x1152, TWTY_UINT16},
    {"DUPLEX", 0x1012, TWTY_UINT16},
    {"DUPLEXENABLED", 0x1013, TWTY_UINT16},
    {"PAPERDETECTABLE", 0x100D, TWTY_UINT16},
    {"FEEDERENABLED", 0x1002, TWTY_BOOL},
    {"FEEDERLOADED", 0x1003, TWTY_BOOL},
    {"FEEDERALIGNMENT", 0x102D, TWTY_UINT16},
    {"FEEDERORDER", 0x102E, TWTY_UINT16},
    {"DEVICEEVENT", 0x1022, TWTY_UINT16},
    {"JPEGQUALITY", 0x1153, TWTY_UINT16},
    {"ENABLEDSUIONLY", 0x1014, TWTY_BOOL},
    {"CUSTOMDSDATA", 0x1015, TWTY_BOOL},
};

constexpr bool WordsFit() {
  for (const CapRow& row : kRows) {
    size_t n = 0;
    while (row.name[n] != 0) ++n;
    if (n == 0 || n > static_cast<size_t>(kCapNameMax)) return false;
  }
  return true;
}
static_assert(WordsFit(), "every capability word has 1 to 28 characters");
static_assert(kCapRows <= kCapRowsMac, "the build's rows are a prefix of the table");
static_assert(sizeof(TwainGlobals::capTable) / sizeof(CapEntry) == kCapRows, "record holds the build's rows");

}  // namespace

void initCaps(TwainGlobals* g) {
  for (int i = 0; i < kCapRows; ++i) {
    CapEntry& e = g->capTable[i];
    std::memset(&e, 0, sizeof e);
    e.capId = kRows[i].id;
    e.itemType = kRows[i].itemType;
    std::strncpy(e.capName, kRows[i].name, kCapNameMax);
  }
}

TW_UINT16 GetCapNum(const TwainGlobals* g, const char* name) {
  for (const CapEntry& e : g->capTable) {
    if (std::strncmp(e.capName, name, sizeof e.capName) == 0) return e.capId;
  }
  return 0;
}

void GetCapName(const TwainGlobals* g, TW_UINT16 capId, char* out, size_t outSize) {
  if (outSize == 0) return;
  out[0] = 0;
  for (const CapEntry& e : g->capTable) {
    if (e.capId != capId) continue;
    size_t n = strnlen(e.capName, sizeof e.capName);
    if (n > outSize - 1) n = outSize - 1;
    std::memcpy(out, e.capName, n);
    out[n] = 0;
    return;
  }
}
