// TWAIN constants and structures, in both byte layouts.
//
// The Windows layout packs every structure to 2 bytes and stores strings NUL-terminated;
// the Mac layout puts every 32-bit field on a 4-byte boundary and stores strings as
// length-prefixed (Pascal) strings. Both layouts are declared in every build, so that the
// same code and tests can read either; `tw::Native` picks the one of the running build.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "traits/build_traits.h"

typedef int8_t TW_INT8;
typedef int16_t TW_INT16;
typedef int32_t TW_INT32;
typedef uint8_t TW_UINT8;
typedef uint16_t TW_UINT16;
typedef uint32_t TW_UINT32;
typedef uint16_t TW_BOOL;
typedef void* TW_MEMREF;
typedef void* TW_HANDLE;  // Mac: a Handle (char**); Windows: an HGLOBAL
typedef uintptr_t TW_UINTPTR;
typedef char TW_STR32[34];
typedef char TW_STR64[66];
typedef char TW_STR128[130];
typedef char TW_STR255[256];

// Data groups
constexpr TW_UINT32 DG_CONTROL = 0x0001;
constexpr TW_UINT32 DG_IMAGE = 0x0002;
// Identity flags of TWAIN 2 in SupportedGroups: the manager's, the application's, the source's.
constexpr TW_UINT32 DF_DSM2 = 0x10000000;
constexpr TW_UINT32 DF_APP2 = 0x20000000;
constexpr TW_UINT32 DF_DS2 = 0x40000000;

// Data argument types
constexpr TW_UINT16 DAT_NULL = 0x0000;
constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
constexpr TW_UINT16 DAT_EVENT = 0x0002;
constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
constexpr TW_UINT16 DAT_PARENT = 0x0004;
constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
constexpr TW_UINT16 DAT_SETUPFILEXFER = 0x0007;
constexpr TW_UINT16 DAT_STATUS = 0x0008;
constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
constexpr TW_UINT16 DAT_XFERGROUP = 0x000A;
constexpr TW_UINT16 DAT_CALLBACK = 0x0010;
constexpr TW_UINT16 DAT_CALLBACK2 = 0x0012;
constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;
constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
constexpr TW_UINT16 DAT_IMAGEFILEXFER = 0x0105;
constexpr TW_UINT16 DAT_EXTIMAGEINFO = 0x010B;

// Messages
constexpr TW_UINT16 MSG_NULL = 0x0000;
constexpr TW_UINT16 MSG_GET = 0x0001;
constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
constexpr TW_UINT16 MSG_SET = 0x0006;
constexpr TW_UINT16 MSG_RESET = 0x0007;
constexpr TW_UINT16 MSG_QUERYSUPPORT = 0x0008;
constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
constexpr TW_UINT16 MSG_DEVICEEVENT = 0x0104;
constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;
constexpr TW_UINT16 MSG_OPENDS = 0x0401;
constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
constexpr TW_UINT16 MSG_USERSELECT = 0x0403;
constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
constexpr TW_UINT16 MSG_ENABLEDSUIONLY = 0x0503;
constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;
constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
constexpr TW_UINT16 MSG_STOPFEEDER = 0x0702;
constexpr TW_UINT16 MSG_REGISTER_CALLBACK = 0x0902;

// Return codes
constexpr TW_UINT16 TWRC_SUCCESS = 0;
constexpr TW_UINT16 TWRC_FAILURE = 1;
constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
constexpr TW_UINT16 TWRC_CANCEL = 3;
constexpr TW_UINT16 TWRC_DSEVENT = 4;
constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
constexpr TW_UINT16 TWRC_XFERDONE = 6;
constexpr TW_UINT16 TWRC_ENDOFLIST = 7;
constexpr TW_UINT16 TWRC_INFONOTSUPPORTED = 8;
constexpr TW_UINT16 TWRC_DATANOTAVAILABLE = 9;

// Condition codes
constexpr TW_UINT16 TWCC_SUCCESS = 0;
constexpr TW_UINT16 TWCC_BUMMER = 1;
constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
constexpr TW_UINT16 TWCC_NODS = 3;
constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;
constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
constexpr TW_UINT16 TWCC_BADCAP = 6;
constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
constexpr TW_UINT16 TWCC_BADVALUE = 10;
constexpr TW_UINT16 TWCC_SEQERROR = 11;
constexpr TW_UINT16 TWCC_BADDEST = 12;
constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
constexpr TW_UINT16 TWCC_CAPBADOPERATION = 14;
constexpr TW_UINT16 TWCC_CAPSEQERROR = 15;
constexpr TW_UINT16 TWCC_DENIED = 16;
constexpr TW_UINT16 TWCC_FILEEXISTS = 17;
constexpr TW_UINT16 TWCC_FILENOTFOUND = 18;
// TWAIN 2 adds the conditions of document scanners with feeders.
constexpr TW_UINT16 TWCC_NOTEMPTY = 19;
constexpr TW_UINT16 TWCC_PAPERJAM = 20;
constexpr TW_UINT16 TWCC_PAPERDOUBLEFEED = 21;
constexpr TW_UINT16 TWCC_FILEWRITEERROR = 22;
constexpr TW_UINT16 TWCC_CHECKDEVICEONLINE = 23;
constexpr TW_UINT16 TWCC_INTERLOCK = 24;
constexpr TW_UINT16 TWCC_DAMAGEDCORNER = 25;
constexpr TW_UINT16 TWCC_FOCUSERROR = 26;
constexpr TW_UINT16 TWCC_DOCTOOLIGHT = 27;
constexpr TW_UINT16 TWCC_DOCTOODARK = 28;
constexpr TW_UINT16 TWCC_NOMEDIA = 29;
// A source's own condition codes start here (the return codes' custom range too).
constexpr TW_UINT16 TWCC_CUSTOMBASE = 0x8000;
constexpr TW_UINT16 TWRC_CUSTOMBASE = 0x8000;

// Container types
constexpr TW_UINT16 TWON_ARRAY = 3;
constexpr TW_UINT16 TWON_ENUMERATION = 4;
constexpr TW_UINT16 TWON_ONEVALUE = 5;
constexpr TW_UINT16 TWON_RANGE = 6;
constexpr TW_UINT16 TWON_DONTCARE16 = 0xFFFF;
constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFF;

// Item types
constexpr TW_UINT16 TWTY_INT8 = 0;
constexpr TW_UINT16 TWTY_INT16 = 1;
constexpr TW_UINT16 TWTY_INT32 = 2;
constexpr TW_UINT16 TWTY_UINT8 = 3;
constexpr TW_UINT16 TWTY_UINT16 = 4;
constexpr TW_UINT16 TWTY_UINT32 = 5;
constexpr TW_UINT16 TWTY_BOOL = 6;
constexpr TW_UINT16 TWTY_FIX32 = 7;
constexpr TW_UINT16 TWTY_FRAME = 8;
constexpr TW_UINT16 TWTY_STR32 = 9;
constexpr TW_UINT16 TWTY_STR64 = 10;
constexpr TW_UINT16 TWTY_STR128 = 11;
constexpr TW_UINT16 TWTY_STR255 = 12;
constexpr TW_UINT16 TWTY_HANDLE = 15;

// Transfer mechanisms, file formats, pixel flavours, pixel types, units
constexpr TW_UINT16 TWSX_NATIVE = 0;
constexpr TW_UINT16 TWSX_FILE = 1;
constexpr TW_UINT16 TWSX_MEMORY = 2;
constexpr TW_UINT16 TWFF_TIFF = 0;
constexpr TW_UINT16 TWFF_PICT = 1;
constexpr TW_UINT16 TWFF_BMP = 2;
constexpr TW_UINT16 TWFF_XBM = 3;
constexpr TW_UINT16 TWFF_JFIF = 4;
constexpr TW_UINT16 TWFF_FPX = 5;
constexpr TW_UINT16 TWFF_TIFFMULTI = 6;
constexpr TW_UINT16 TWFF_PNG = 7;
constexpr TW_UINT16 TWFF_SPIFF = 8;
constexpr TW_UINT16 TWFF_EXIF = 9;
constexpr TW_UINT16 TWFF_PDF = 10;
constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
constexpr TW_UINT16 TWPF_VANILLA = 1;
constexpr TW_UINT16 TWPT_BW = 0;
constexpr TW_UINT16 TWPT_GRAY = 1;
constexpr TW_UINT16 TWPT_RGB = 2;
constexpr TW_UINT16 TWPT_PALETTE = 3;
constexpr TW_UINT16 TWCP_NONE = 0;
constexpr TW_UINT16 TWCP_JPEG = 6;
constexpr TW_UINT16 TWUN_INCHES = 0;
constexpr TW_UINT16 TWUN_CENTIMETERS = 1;
constexpr TW_UINT16 TWUN_PICAS = 2;
constexpr TW_UINT16 TWUN_POINTS = 3;
constexpr TW_UINT16 TWUN_TWIPS = 4;
constexpr TW_UINT16 TWUN_PIXELS = 5;

// TW_MEMORY.Flags: who owns the memory, and whether TheMem is a pointer or a handle
constexpr TW_UINT32 TWMF_APPOWNS = 0x0001;
constexpr TW_UINT32 TWMF_DSMOWNS = 0x0002;
constexpr TW_UINT32 TWMF_DSOWNS = 0x0004;
constexpr TW_UINT32 TWMF_POINTER = 0x0008;
constexpr TW_UINT32 TWMF_HANDLE = 0x0010;

// Capability identifiers used outside the capability table itself
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001;
constexpr TW_UINT16 ICAP_COMPRESSION = 0x0100;
constexpr TW_UINT16 ICAP_PIXELTYPE = 0x0101;
constexpr TW_UINT16 ICAP_UNITS = 0x0102;
constexpr TW_UINT16 ICAP_XFERMECH = 0x0103;
constexpr TW_UINT16 CAP_FEEDERENABLED = 0x1002;
constexpr TW_UINT16 CAP_FEEDERLOADED = 0x1003;
constexpr TW_UINT16 CAP_SUPPORTEDCAPS = 0x1005;
constexpr TW_UINT16 CAP_EXTENDEDCAPS = 0x1006;
constexpr TW_UINT16 CAP_INDICATORS = 0x100B;
constexpr TW_UINT16 CAP_UICONTROLLABLE = 0x100E;
constexpr TW_UINT16 CAP_AUTOSCAN = 0x1010;
constexpr TW_UINT16 CAP_DUPLEX = 0x1012;
constexpr TW_UINT16 CAP_JOBCONTROL = 0x1017;
constexpr TW_UINT16 CAP_AUTOMATICSENSEMEDIUM = 0x103B;
constexpr TW_UINT16 ICAP_BRIGHTNESS = 0x1101;
constexpr TW_UINT16 ICAP_CONTRAST = 0x1103;
constexpr TW_UINT16 ICAP_GAMMA = 0x1108;
constexpr TW_UINT16 ICAP_HALFTONES = 0x1109;
constexpr TW_UINT16 ICAP_IMAGEFILEFORMAT = 0x110C;
constexpr TW_UINT16 ICAP_PHYSICALWIDTH = 0x1111;
constexpr TW_UINT16 ICAP_PHYSICALHEIGHT = 0x1112;
constexpr TW_UINT16 ICAP_FRAMES = 0x1114;
constexpr TW_UINT16 ICAP_XNATIVERESOLUTION = 0x1116;
constexpr TW_UINT16 ICAP_YNATIVERESOLUTION = 0x1117;
constexpr TW_UINT16 ICAP_XRESOLUTION = 0x1118;
constexpr TW_UINT16 ICAP_YRESOLUTION = 0x1119;
constexpr TW_UINT16 ICAP_PIXELFLAVOR = 0x111F;
constexpr TW_UINT16 ICAP_THRESHOLD = 0x1123;
constexpr TW_UINT16 ICAP_BITDEPTH = 0x112B;
constexpr TW_UINT16 ICAP_EXTIMAGEINFO = 0x112F;
constexpr TW_UINT16 ICAP_PATCHCODEDETECTIONENABLED = 0x113F;

// Extended image information (DAT_EXTIMAGEINFO): the items a batch asks for, and their values
constexpr TW_UINT16 TWEI_BARCODETEXT = 0x1202;
constexpr TW_UINT16 TWEI_PATCHCODE = 0x1212;
constexpr TW_UINT16 TWEI_BARCODECOUNT = 0x1219;
constexpr TW_UINT16 TWEI_BARCODETEXTLENGTH = 0x121C;
constexpr TW_UINT16 TWEI_DOCUMENTNUMBER = 0x123A;
constexpr TW_UINT16 TWEI_PAGENUMBER = 0x123B;
constexpr TW_UINT16 TWEI_PAGESIDE = 0x1245;
constexpr TW_UINT16 TWCS_TOP = 1;      // the sheet's front
constexpr TW_UINT16 TWCS_BOTTOM = 2;   // its back
constexpr TW_UINT32 TWPCH_PATCH6 = 4;  // PATCH1 0 to PATCH4 3 go in order; there is no patch 5
constexpr TW_UINT32 TWPCH_PATCHT = 5;
// CAP_JOBCONTROL: the separator sheet left out, the batch going on after it.
constexpr TW_UINT16 TWJC_JSXC = 3;

// DSM_Entry, DS_Entry and the memory functions of a TWAIN 2 manager.
// Windows: stdcall (WINAPI; the one convention of x86-64); Mac: the C convention.
#if KV_WINDOWS_BUILD
#define TW_CALLINGSTYLE __stdcall
#else
#define TW_CALLINGSTYLE
#endif
typedef TW_HANDLE(TW_CALLINGSTYLE* DSM_MEMALLOCATE)(TW_UINT32 size);
typedef void(TW_CALLINGSTYLE* DSM_MEMFREE)(TW_HANDLE handle);
typedef TW_MEMREF(TW_CALLINGSTYLE* DSM_MEMLOCK)(TW_HANDLE handle);
typedef void(TW_CALLINGSTYLE* DSM_MEMUNLOCK)(TW_HANDLE handle);

struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};
struct TW_FRAME {
  TW_FIX32 Left, Top, Right, Bottom;
};
static_assert(sizeof(TW_FIX32) == 4 && sizeof(TW_FRAME) == 16, "FIX32 and FRAME have no padding");

namespace tw {

// ---------------------------------------------------------------- Windows: 2-byte packing
namespace win {
#pragma pack(push, 2)
struct TW_VERSION {
  TW_UINT16 MajorNum, MinorNum, Language, Country;
  TW_STR32 Info;
};
struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor, ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer, ProductFamily, ProductName;
};
struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};
struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};
struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems, CurrentIndex, DefaultIndex;
  TW_UINT8 ItemList[1];
};
struct TW_ARRAY {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT8 ItemList[1];
};
struct TW_RANGE {
  TW_UINT16 ItemType;
  TW_UINT32 MinValue, MaxValue, StepSize, DefaultValue, CurrentValue;
};
struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};
struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};
struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 Reserved;
};
struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};
struct TW_SETUPFILEXFER {
  TW_STR255 FileName;
  TW_UINT16 Format;
  TW_INT16 VRefNum;
};
struct TW_IMAGEINFO {
  TW_FIX32 XResolution, YResolution;
  TW_INT32 ImageWidth, ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};
struct TW_CALLBACK {
  TW_MEMREF CallBackProc;
  TW_UINT32 RefCon;  // 32 bits in both widths
  TW_INT16 Message;
};
// TWAIN 2: the reference constant is as wide as an address.
struct TW_CALLBACK2 {
  TW_MEMREF CallBackProc;
  TW_UINTPTR RefCon;
  TW_INT16 Message;
};
struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};
struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};
struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow, Columns, Rows, XOffset, YOffset, BytesWritten;
  TW_MEMORY Memory;
};
struct TW_INFO {
  TW_UINT16 InfoID;
  TW_UINT16 ItemType;
  TW_UINT16 NumItems;
  TW_UINT16 ReturnCode;  // also CondCode
  TW_UINTPTR Item;
};
struct TW_ENTRYPOINT {
  TW_UINT32 Size;
  TW_UINT16(TW_CALLINGSTYLE* DSM_Entry)(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
  DSM_MEMALLOCATE DSM_MemAllocate;
  DSM_MEMFREE DSM_MemFree;
  DSM_MEMLOCK DSM_MemLock;
  DSM_MEMUNLOCK DSM_MemUnlock;
};
#pragma pack(pop)
constexpr bool kPascalStrings = false;
}  // namespace win

// ---------------------------------------------------------------- Mac: 32-bit fields on 4 bytes
namespace mac {
struct alignas(2) TW_VERSION {
  TW_UINT16 MajorNum, MinorNum, Language, Country;
  TW_STR32 Info;
};
struct alignas(4) TW_IDENTITY {
  alignas(4) TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor, ProtocolMinor;
  alignas(4) TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer, ProductFamily, ProductName;
};
struct alignas(4) TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  alignas(4) TW_HANDLE hContainer;
};
struct alignas(4) TW_ONEVALUE {
  TW_UINT16 ItemType;
  alignas(4) TW_UINT32 Item;
};
struct alignas(4) TW_ENUMERATION {
  TW_UINT16 ItemType;
  alignas(4) TW_UINT32 NumItems;
  alignas(4) TW_UINT32 CurrentIndex;
  alignas(4) TW_UINT32 DefaultIndex;
  TW_UINT8 ItemList[4];
};
struct alignas(4) TW_ARRAY {
  TW_UINT16 ItemType;
  alignas(4) TW_UINT32 NumItems;
  TW_UINT8 ItemList[4];
};
struct alignas(4) TW_RANGE {
  TW_UINT16 ItemType;
  alignas(4) TW_UINT32 MinValue;
  alignas(4) TW_UINT32 MaxValue;
  alignas(4) TW_UINT32 StepSize;
  alignas(4) TW_UINT32 DefaultValue;
  alignas(4) TW_UINT32 CurrentValue;
};
struct alignas(4) TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  alignas(4) TW_HANDLE hParent;
};
struct alignas(4) TW_EVENT {
  alignas(4) TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};
struct alignas(4) TW_PENDINGXFERS {
  TW_UINT16 Count;
  alignas(4) TW_UINT32 Reserved;
};
struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};
struct alignas(4) TW_SETUPFILEXFER {
  TW_STR255 FileName;
  TW_UINT16 Format;
  TW_INT16 VRefNum;
};
struct alignas(4) TW_IMAGEINFO {
  TW_FIX32 XResolution, YResolution;
  alignas(4) TW_INT32 ImageWidth;
  alignas(4) TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};
struct alignas(4) TW_CALLBACK {
  alignas(4) TW_MEMREF CallBackProc;
  alignas(4) TW_MEMREF RefCon;  // pointer-sized on the Mac
  TW_INT16 Message;
};
struct alignas(4) TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};
struct alignas(4) TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};
struct alignas(4) TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  alignas(4) TW_UINT32 BytesPerRow;
  TW_UINT32 Columns, Rows, XOffset, YOffset, BytesWritten;
  TW_MEMORY Memory;
};
struct alignas(4) TW_INFO {
  TW_UINT16 InfoID;
  TW_UINT16 ItemType;
  TW_UINT16 NumItems;
  TW_UINT16 ReturnCode;  // also CondCode
  TW_UINTPTR Item;
};
struct alignas(4) TW_ENTRYPOINT {
  TW_UINT32 Size;
  TW_UINT16(TW_CALLINGSTYLE* DSM_Entry)(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
  DSM_MEMALLOCATE DSM_MemAllocate;
  DSM_MEMFREE DSM_MemFree;
  DSM_MEMLOCK DSM_MemLock;
  DSM_MEMUNLOCK DSM_MemUnlock;
};
constexpr bool kPascalStrings = true;
}  // namespace mac

// Byte positions of the container fields, per layout. Code that walks a container the
// source returned reads at these offsets, never through a struct, so it can check each
// access against the container's real size.
struct ContainerOffsets {
  size_t oneValueItem;
  size_t enumNumItems, enumCurrentIndex, enumDefaultIndex, enumItemList;
  size_t arrayNumItems, arrayItemList;
  size_t rangeMin, rangeMax, rangeStep, rangeDefault, rangeCurrent, rangeSize;
};
constexpr ContainerOffsets kWinContainers{2, 2, 6, 10, 14, 2, 6, 2, 6, 10, 14, 18, 22};
constexpr ContainerOffsets kMacContainers{4, 4, 8, 12, 16, 4, 8, 4, 8, 12, 16, 20, 24};

// The sizes and offsets that hold an address: what TWAIN's own header gives each layout at
// each width. The Windows layout keeps its 2-byte packing at both widths; the Mac build is
// 32-bit only.
struct PointerLayout {
  size_t capability, userInterface, event, callbackMessage, callback, memory, imageMemXfer, info, entryPoint;
};
constexpr PointerLayout kWin32Layout{8, 8, 6, 8, 10, 12, 38, 12, 24};
constexpr PointerLayout kWin64Layout{12, 12, 10, 12, 14, 16, 42, 16, 44};
constexpr PointerLayout kMac32Layout{8, 8, 8, 8, 12, 12, 40, 12, 24};
constexpr PointerLayout kWinLayout = kPointerBytes == 8 ? kWin64Layout : kWin32Layout;

}  // namespace tw

// Sizes and container offsets of both layouts, checked at compile time.
#define KV_CHECK_LAYOUT(ns, idSize, pendingSize, pxSize, o)                                                \
  static_assert(sizeof(tw::ns::TW_VERSION) == 42, #ns " TW_VERSION");                                      \
  static_assert(sizeof(tw::ns::TW_IDENTITY) == idSize, #ns " TW_IDENTITY");                                \
  static_assert(offsetof(tw::ns::TW_IDENTITY, ProductName) == idSize - 34 - (idSize == 160 ? 2 : 0), #ns); \
  static_assert(offsetof(tw::ns::TW_ONEVALUE, Item) == o.oneValueItem, #ns);                               \
  static_assert(offsetof(tw::ns::TW_ENUMERATION, NumItems) == o.enumNumItems, #ns);                        \
  static_assert(offsetof(tw::ns::TW_ENUMERATION, CurrentIndex) == o.enumCurrentIndex, #ns);                \
  static_assert(offsetof(tw::ns::TW_ENUMERATION, DefaultIndex) == o.enumDefaultIndex, #ns);                \
  static_assert(offsetof(tw::ns::TW_ENUMERATION, ItemList) == o.enumItemList, #ns);                        \
  static_assert(offsetof(tw::ns::TW_ARRAY, NumItems) == o.arrayNumItems, #ns);                             \
  static_assert(offsetof(tw::ns::TW_ARRAY, ItemList) == o.arrayItemList, #ns);                             \
  static_assert(offsetof(tw::ns::TW_RANGE, MinValue) == o.rangeMin, #ns);                                  \
  static_assert(offsetof(tw::ns::TW_RANGE, MaxValue) == o.rangeMax, #ns);                                  \
  static_assert(offsetof(tw::ns::TW_RANGE, StepSize) == o.rangeStep, #ns);                                 \
  static_assert(offsetof(tw::ns::TW_RANGE, DefaultValue) == o.rangeDefault, #ns);                          \
  static_assert(offsetof(tw::ns::TW_RANGE, CurrentValue) == o.rangeCurrent, #ns);                          \
  static_assert(sizeof(tw::ns::TW_RANGE) == o.rangeSize, #ns " TW_RANGE");                                 \
  static_assert(sizeof(tw::ns::TW_PENDINGXFERS) == pendingSize, #ns " TW_PENDINGXFERS");                   \
  static_assert(sizeof(tw::ns::TW_STATUS) == 4, #ns " TW_STATUS");                                         \
  static_assert(offsetof(tw::ns::TW_SETUPFILEXFER, Format) == 256, #ns);                                   \
  static_assert(sizeof(tw::ns::TW_SETUPFILEXFER) == 260, #ns " TW_SETUPFILEXFER");                         \
  static_assert(offsetof(tw::ns::TW_IMAGEINFO, Compression) == 40, #ns);                                   \
  static_assert(sizeof(tw::ns::TW_IMAGEINFO) == pxSize, #ns " TW_IMAGEINFO");                              \
  static_assert(sizeof(tw::ns::TW_SETUPMEMXFER) == 12, #ns " TW_SETUPMEMXFER");
KV_CHECK_LAYOUT(win, 156, 6, 42, tw::kWinContainers)
KV_CHECK_LAYOUT(mac, 160, 8, 44, tw::kMacContainers)
#undef KV_CHECK_LAYOUT

// The same for the structures that hold an address (`enabled` false: not this width's layout).
#define KV_CHECK_POINTER_LAYOUT(ns, enabled, l)                                                              \
  static_assert(!(enabled) || sizeof(tw::ns::TW_CAPABILITY) == l.capability, #ns " TW_CAPABILITY");          \
  static_assert(!(enabled) || sizeof(tw::ns::TW_USERINTERFACE) == l.userInterface, #ns " TW_USERINTERFACE"); \
  static_assert(!(enabled) || sizeof(tw::ns::TW_EVENT) == l.event, #ns " TW_EVENT");                         \
  static_assert(!(enabled) || offsetof(tw::ns::TW_CALLBACK, Message) == l.callbackMessage, #ns);             \
  static_assert(!(enabled) || sizeof(tw::ns::TW_CALLBACK) == l.callback, #ns " TW_CALLBACK");                \
  static_assert(!(enabled) || sizeof(tw::ns::TW_MEMORY) == l.memory, #ns " TW_MEMORY");                      \
  static_assert(!(enabled) || sizeof(tw::ns::TW_IMAGEMEMXFER) == l.imageMemXfer, #ns " TW_IMAGEMEMXFER");    \
  static_assert(!(enabled) || offsetof(tw::ns::TW_IMAGEMEMXFER, Memory) == l.imageMemXfer - l.memory, #ns);  \
  static_assert(!(enabled) || offsetof(tw::ns::TW_INFO, Item) == 8, #ns);                                    \
  static_assert(!(enabled) || sizeof(tw::ns::TW_INFO) == l.info, #ns " TW_INFO");                            \
  static_assert(!(enabled) || sizeof(tw::ns::TW_ENTRYPOINT) == l.entryPoint, #ns " TW_ENTRYPOINT");
KV_CHECK_POINTER_LAYOUT(win, true, tw::kWinLayout)
KV_CHECK_POINTER_LAYOUT(mac, kPointerBytes == 4, tw::kMac32Layout)
#undef KV_CHECK_POINTER_LAYOUT

// The layout of the running build: the one namespace alias that follows the build trait.
namespace tw {
#if KV_WINDOWS_BUILD
namespace native = win;
inline constexpr const ContainerOffsets& kContainers = kWinContainers;
#else
namespace native = mac;
inline constexpr const ContainerOffsets& kContainers = kMacContainers;
#endif
}  // namespace tw

typedef tw::native::TW_IDENTITY TW_IDENTITY;
typedef TW_IDENTITY* pTW_IDENTITY;
typedef tw::native::TW_CAPABILITY TW_CAPABILITY;
typedef tw::native::TW_USERINTERFACE TW_USERINTERFACE;
typedef tw::native::TW_EVENT TW_EVENT;
typedef tw::native::TW_PENDINGXFERS TW_PENDINGXFERS;
typedef tw::native::TW_STATUS TW_STATUS;
typedef tw::native::TW_SETUPFILEXFER TW_SETUPFILEXFER;
typedef tw::native::TW_IMAGEINFO TW_IMAGEINFO;
typedef tw::native::TW_CALLBACK TW_CALLBACK;
typedef tw::native::TW_SETUPMEMXFER TW_SETUPMEMXFER;
typedef tw::native::TW_MEMORY TW_MEMORY;
typedef tw::native::TW_IMAGEMEMXFER TW_IMAGEMEMXFER;
typedef tw::native::TW_INFO TW_INFO;
typedef tw::native::TW_ENTRYPOINT TW_ENTRYPOINT;
// Windows only: the Mac's manager takes TW_CALLBACK.
typedef tw::win::TW_CALLBACK2 TW_CALLBACK2;
static_assert(sizeof(tw::win::TW_CALLBACK2) == 2 * sizeof(void*) + 2, "TW_CALLBACK2 is packed to 2 bytes");

typedef TW_UINT16(TW_CALLINGSTYLE* DSMENTRYPROC)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                                 TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);
typedef TW_UINT16(TW_CALLINGSTYLE* DSENTRYPROC)(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT,
                                                TW_UINT16 MSG, TW_MEMREF pData);

// TWAIN strings: NUL-terminated (pascal false) or a length byte first (pascal true).
namespace tw {
// Encodes at most `maxChars` characters of `text` at `at`, using at most `room` bytes
// (terminator or length byte included, so at most room - 1 characters and never more than
// 255 behind a length byte). False when not even an empty string fits.
bool EncodeString(void* at, size_t room, const char* text, size_t maxChars, bool pascal);
// Decodes the string at `at`, reading no more than `room` bytes, into `out` (outSize bytes,
// at least 1, NUL-terminated).
void DecodeString(const void* at, size_t room, char* out, size_t outSize, bool pascal);
// Writes s into a TW_STR32 (or longer) field of `size` bytes, the rest cleared.
void PutString(char* field, size_t size, const char* s, bool pascal);
// Reads a TW_STR field into a NUL-terminated C string (out holds `size` bytes at least).
void GetString(const char* field, size_t size, char* out, bool pascal);
}  // namespace tw
