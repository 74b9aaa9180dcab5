// The subset of Carbon that this machine provides: Memory Manager, File Manager, Carbon Event
// Manager, Thread Manager, Resource Manager, SysBeep and the 80-bit number conversions.
// Names, types and signatures are Carbon's own, so that code written against this header
// compiles against the system one on a Mac. Behaviour is documented where the stand-in has
// to choose (for example, how colon paths map onto POSIX paths).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// ---------------------------------------------------------------- basic types
typedef signed char SInt8;
typedef unsigned char UInt8;
typedef short SInt16;
typedef unsigned short UInt16;
typedef int SInt32;
typedef unsigned int UInt32;
typedef long long SInt64;
typedef unsigned long long UInt64;
typedef unsigned char Boolean;
typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef unsigned long ByteCount;
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str31[32];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef SInt8 SignedByte;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---------------------------------------------------------------- result codes
enum {
  noErr = 0,
  dskFulErr = -34,
  nsvErr = -35,
  ioErr = -36,
  bdNamErr = -37,
  fnOpnErr = -38,
  eofErr = -39,
  posErr = -40,
  tmfoErr = -42,
  fnfErr = -43,
  wPrErr = -44,
  fLckdErr = -45,
  fBsyErr = -47,
  dupFNErr = -48,
  opWrErr = -49,
  paramErr = -50,
  rfNumErr = -51,
  permErr = -54,
  wrPermErr = -61,
  memFullErr = -108,
  nilHandleErr = -109,
  memWZErr = -111,
  dirNFErr = -120,
  resNotFound = -192,
  resFNotFound = -193,
  mapReadErr = -199,
  notAFileErr = -1302,
  diffVolErr = -1303,
  errAECoercionFail = -1700,
  eventAlreadyPostedErr = -9860,
  eventTargetBusyErr = -9861,
  eventClassInvalidErr = -9862,
  eventParameterNotFoundErr = -9870,
  eventNotHandledErr = -9874,
  eventLoopTimedOutErr = -9875,
  eventLoopQuitErr = -9876
};

// ---------------------------------------------------------------- Memory Manager
Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);
void SetPtrSize(Ptr p, Size newSize);  // fails with memFullErr when growing (blocks never move)
Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
void HLock(Handle h);
void HUnlock(Handle h);
SInt8 HGetState(Handle h);  // bit 7: locked
void HSetState(Handle h, SInt8 flags);
Size GetHandleSize(Handle h);
// Growing a locked handle fails with memFullErr (a locked block cannot move); an unlocked
// one may move, so its master pointer changes.
void SetHandleSize(Handle h, Size newSize);
OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size);
OSErr HandToHand(Handle* theHndl);
OSErr MemError(void);
void BlockMove(const void* srcPtr, void* destPtr, Size byteCount);
void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);

// ---------------------------------------------------------------- File Manager
// Volume 0 with directory 0 is the current working directory; other volumes give nsvErr and
// other directories dirNFErr. A name is a Pascal string: a plain file name, a partial pathname
// that starts with a colon (":a:b" names a/b, "::x" names ../x), or a full pathname whose
// first part is a volume name ("a:b"), which gives nsvErr since no volume has a name here.
// Parts hold at most 31 characters (bdNamErr); a missing directory on the way is dirNFErr.
// A '/' inside a Mac name is an ordinary character and becomes ':' in the POSIX name, as Mac
// OS X maps it.
enum { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3, fsRdWrShPerm = 4 };
enum { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };

OSErr HCreate(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, OSType creator, OSType fileType);
OSErr HOpen(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, SInt8 permission, SInt16* refNum);
OSErr HDelete(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName);
// Renames a file or directory in its own directory (Inside Macintosh: Files, HRename):
// newName is a plain name (a colon in it is bdNamErr: renaming never moves), dupFNErr when
// something of that name exists, which is never replaced. An open file may be renamed; its
// paths follow it. The Finder information goes with the file.
OSErr HRename(SInt16 vRefNum, SInt32 dirID, ConstStr255Param oldName, ConstStr255Param newName);
// The Finder information of an existing file: fnfErr when the name (in a directory that
// exists) names no file, a directory included; the name errors as above otherwise.
struct Point {
  SInt16 v;
  SInt16 h;
};
typedef struct Point Point;
struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  SInt16 fdFldr;
};
typedef struct FInfo FInfo;
OSErr HGetFInfo(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FInfo* fndrInfo);
OSErr FSWrite(SInt16 refNum, SInt32* count, const void* buffPtr);
OSErr FSRead(SInt16 refNum, SInt32* count, void* buffPtr);
OSErr SetFPos(SInt16 refNum, SInt16 posMode, SInt32 posOff);
OSErr GetFPos(SInt16 refNum, SInt32* filePos);
OSErr GetEOF(SInt16 refNum, SInt32* logEOF);
// SetEOF past the end allocates the room at once: dskFulErr, the file unchanged, when the volume
// has too little.
OSErr SetEOF(SInt16 refNum, SInt32 logEOF);
OSErr FSClose(SInt16 refNum);
// FSSpecs. FSMakeFSSpec resolves a name as HCreate does and gives the file's
// directory an ID (valid for the process) that every File Manager call here accepts as dirID
// with vRefNum 0; it answers fnfErr, with the FSSpec filled in, for a file that does
// not exist yet. An empty name gives the FSSpec of the directory that vRefNum and
// dirID name (its parent's ID and its own name). An FSRef names an existing file.
typedef SInt16 ScriptCode;
enum { smSystemScript = -1 };
enum { fsRtParID = 1, fsRtDirID = 2 };
typedef Str63 StrFileName;
// Files.h declares FSSpec under "#pragma options align=mac68k": 70 bytes, parID at offset 2.
#pragma pack(push, 2)
struct FSSpec {
  SInt16 vRefNum;
  SInt32 parID;
  StrFileName name;
};
#pragma pack(pop)
typedef struct FSSpec FSSpec;
struct FSRef {
  UInt8 hidden[80];
};
typedef struct FSRef FSRef;
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* location);
OSErr FSpCreate(const FSSpec* location, OSType creator, OSType fileType, ScriptCode scriptTag);
// Deletes a file that no path has open, or an empty directory (fBsyErr otherwise); HDelete
// likewise.
OSErr FSpDelete(const FSSpec* location);
// HRename of the file the FSSpec names.
OSErr FSpRename(const FSSpec* location, ConstStr255Param newName);
// Swaps the data (and the modification dates) of two files on one volume; each name keeps its
// type, creator and permissions, and open paths follow the data. fnfErr, notAFileErr for a
// directory, diffVolErr, permErr for a file that cannot be written (one without any write
// permission counts as locked); paramErr on a volume that does not exchange files
// (PBHGetVolParmsSync: no bSupportsFSExchangeObjects).
OSErr FSpExchangeFiles(const FSSpec* source, const FSSpec* dest);
OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);
// What a volume can do. PBHGetVolParmsSync fills ioBuffer with up to ioReqCount bytes of a
// version 3 GetVolParmsInfoBuffer (the count in ioActCount, the result also in ioResult); the
// volume is ioVRefNum (0: the default one) unless ioNamePtr holds a full name (nsvErr here).
// Of the attributes, this volume has file IDs and exchanges files (bHasFileIDs in vMAttrib,
// bSupportsFSExchangeObjects in vMExtendedAttributes) unless a test has made it one that
// cannot (CarbonStandin_SetExchangeSupported), as FAT, APFS and many server volumes are.
// Structures as Files.h declares them, under 68k alignment; of HParamBlockRec, its ioParam.
typedef struct QElem* QElemPtr;
typedef union ParamBlockRec* ParmBlkPtr;
typedef void (*IOCompletionUPP)(ParmBlkPtr paramBlock);
#pragma pack(push, 2)
struct HIOParam {
  QElemPtr qLink;
  SInt16 qType;
  SInt16 ioTrap;
  Ptr ioCmdAddr;
  IOCompletionUPP ioCompletion;
  volatile OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioRefNum;
  SInt8 ioVersNum;
  SInt8 ioPermssn;
  Ptr ioMisc;
  Ptr ioBuffer;
  SInt32 ioReqCount;
  SInt32 ioActCount;
  SInt16 ioPosMode;
  SInt32 ioPosOffset;
};
typedef struct HIOParam HIOParam;
union HParamBlockRec {
  HIOParam ioParam;
};
typedef union HParamBlockRec HParamBlockRec;
typedef HParamBlockRec* HParmBlkPtr;
// A folder's entries by index, as HFS's catalog keeps them. PBGetCatInfoSync with ioFDirIndex > 0
// describes the folder's ioFDirIndex-th entry (from 1, in the catalog's order: names compared
// without regard to case) in the folder that ioVRefNum and ioDirID name (0: the default one;
// or an ID that FSMakeFSSpec gave), and fnfErr past the last one. ioNamePtr, when not NULL,
// receives the entry's name (a Str63's room). ioFlAttrib has kioFlAttribDirMask for a folder.
// ioDirID is overwritten: a file's number, or the folder's own ID; a caller that lists sets it
// again before each call. ioFDirIndex 0 describes the entry ioNamePtr names (fnfErr when
// none), and a negative one the folder itself. Other errors as HGetFInfo's.
struct FXInfo {
  SInt16 fdIconID;
  SInt16 fdReserved[3];
  SInt8 fdScript;
  SInt8 fdXFlags;
  SInt16 fdComment;
  SInt32 fdPutAway;
};
typedef struct FXInfo FXInfo;
struct Rect {
  SInt16 top;
  SInt16 left;
  SInt16 bottom;
  SInt16 right;
};
typedef struct Rect Rect;
struct DInfo {
  Rect frRect;
  UInt16 frFlags;
  Point frLocation;
  SInt16 frView;
};
typedef struct DInfo DInfo;
struct DXInfo {
  Point frScroll;
  SInt32 frOpenChain;
  SInt8 frScript;
  SInt8 frXFlags;
  SInt16 frComment;
  SInt32 frPutAway;
};
typedef struct DXInfo DXInfo;
struct HFileInfo {
  QElemPtr qLink;
  SInt16 qType;
  SInt16 ioTrap;
  Ptr ioCmdAddr;
  IOCompletionUPP ioCompletion;
  volatile OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioFRefNum;
  SInt8 ioFVersNum;
  SInt8 filler1;
  SInt16 ioFDirIndex;
  SInt8 ioFlAttrib;
  SInt8 ioACUser;
  FInfo ioFlFndrInfo;
  SInt32 ioDirID;
  UInt16 ioFlStBlk;
  SInt32 ioFlLgLen;
  SInt32 ioFlPyLen;
  UInt16 ioFlRStBlk;
  SInt32 ioFlRLgLen;
  SInt32 ioFlRPyLen;
  UInt32 ioFlCrDat;
  UInt32 ioFlMdDat;
  UInt32 ioFlBkDat;
  FXInfo ioFlXFndrInfo;
  SInt32 ioFlParID;
  SInt32 ioFlClpSiz;
};
typedef struct HFileInfo HFileInfo;
struct DirInfo {
  QElemPtr qLink;
  SInt16 qType;
  SInt16 ioTrap;
  Ptr ioCmdAddr;
  IOCompletionUPP ioCompletion;
  volatile OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioFRefNum;
  SInt8 ioFVersNum;
  SInt8 filler1;
  SInt16 ioFDirIndex;
  SInt8 ioFlAttrib;
  SInt8 ioACUser;
  DInfo ioDrUsrWds;
  SInt32 ioDrDirID;
  UInt16 ioDrNmFls;
  SInt16 filler3[9];
  UInt32 ioDrCrDat;
  UInt32 ioDrMdDat;
  UInt32 ioDrBkDat;
  DXInfo ioDrFndrInfo;
  SInt32 ioDrParID;
};
typedef struct DirInfo DirInfo;
union CInfoPBRec {
  HFileInfo hFileInfo;
  DirInfo dirInfo;
};
typedef union CInfoPBRec CInfoPBRec;
typedef CInfoPBRec* CInfoPBPtr;
struct GetVolParmsInfoBuffer {
  SInt16 vMVersion;
  SInt32 vMAttrib;
  Handle vMLocalHand;
  SInt32 vMServerAdr;
  SInt32 vMVolumeGrade;  // version 2 on
  SInt16 vMForeignPrivID;
  SInt32 vMExtendedAttributes;  // version 3 on
};
#pragma pack(pop)
typedef struct GetVolParmsInfoBuffer GetVolParmsInfoBuffer;
enum { kioFlAttribDirMask = 0x10 };       // an ioFlAttrib bit
enum { bHasFileIDs = 6 };                 // a vMAttrib bit
enum { bSupportsFSExchangeObjects = 3 };  // a vMExtendedAttributes bit
OSErr PBHGetVolParmsSync(HParmBlkPtr paramBlock);
OSErr PBGetCatInfoSync(CInfoPBPtr paramBlock);
// The file URL of an existing file (CoreFoundation's; declared here with FSRef).
typedef const void* CFAllocatorRef;
typedef const struct __CFURL* CFURLRef;
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);

// ---------------------------------------------------------------- Carbon Event Manager
typedef struct OpaqueEventRef* EventRef;
typedef struct OpaqueEventQueueRef* EventQueueRef;
typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef const void* CFAllocatorRef;
typedef double EventTime;
typedef EventTime EventTimeout;
typedef EventTime EventTimeoutInterval;
typedef OSType EventParamName;
typedef OSType EventParamType;
typedef SInt16 EventPriority;
typedef UInt32 EventAttributes;

#define kCFAllocatorDefault ((CFAllocatorRef)0)
#define kEventDurationNoWait (0.0)
#define kEventDurationForever (-1.0)
#define kEventDurationSecond (1.0)

enum { kEventPriorityHigh = 0, kEventPriorityStandard = 1, kEventPriorityLow = 2 };
enum { kEventAttributeNone = 0, kEventAttributeUserEvent = 1 };
enum {
  kEventClassMouse = 0x6D6F7573,        // 'mous'
  kEventClassKeyboard = 0x6B657962,     // 'keyb'
  kEventClassApplication = 0x6170706C,  // 'appl'
  kEventClassCommand = 0x636D6473,      // 'cmds'
  kEventClassWindow = 0x77696E64        // 'wind'
};
enum {
  typeWildCard = 0x2A2A2A2A,  // '****'
  typeUInt32 = 0x6D61676E,    // 'magn'
  typeSInt32 = 0x6C6F6E67,    // 'long'
  typeVoidPtr = 0x766F6964    // 'void'
};

struct EventTypeSpec {
  UInt32 eventClass;
  UInt32 eventKind;
};
typedef struct EventTypeSpec EventTypeSpec;

OSStatus CreateEvent(CFAllocatorRef inAllocator, UInt32 inClassID, UInt32 inKind, EventTime inWhen,
                     EventAttributes inAttributes, EventRef* outEvent);
EventRef RetainEvent(EventRef inEvent);
void ReleaseEvent(EventRef inEvent);
UInt32 GetEventRetainCount(EventRef inEvent);
UInt32 GetEventClass(EventRef inEvent);
UInt32 GetEventKind(EventRef inEvent);
EventTime GetEventTime(EventRef inEvent);
OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType, ByteCount inSize,
                           const void* inDataPtr);
OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData);
EventQueueRef GetMainEventQueue(void);
EventQueueRef GetCurrentEventQueue(void);
OSStatus PostEventToQueue(EventQueueRef inQueue, EventRef inEvent, EventPriority inPriority);
OSStatus FlushEventQueue(EventQueueRef inQueue);
UInt32 GetNumEventsInQueue(EventQueueRef inQueue);
// inNumTypes 0 accepts any event. A pulled event is the caller's to release; an event that
// is not pulled stays in the queue and must not be released by the caller.
OSStatus ReceiveNextEvent(UInt32 inNumTypes, const EventTypeSpec* inList, EventTimeout inTimeout,
                          Boolean inPullEvent, EventRef* outEvent);
EventTargetRef GetEventDispatcherTarget(void);
OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget);
EventTime GetCurrentEventTime(void);

// ---------------------------------------------------------------- Thread Manager
OSErr YieldToAnyThread(void);

// ---------------------------------------------------------------- Resource Manager
typedef SInt16 ResID;
// The real call takes an FSRef; here the file is named by its POSIX path. Returns the file's
// reference number, or -1 with ResError() set (fnfErr, mapReadErr for a damaged file).
SInt16 OpenResFileAtPath(const char* posixPath);
void UseResFile(SInt16 refNum);
void CloseResFile(SInt16 refNum);
SInt16 CurResFile(void);
OSErr ResError(void);
Handle Get1Resource(ResType theType, ResID theID);
Handle GetResource(ResType theType, ResID theID);
void ReleaseResource(Handle theResource);
void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

// ---------------------------------------------------------------- miscellany
void SysBeep(SInt16 duration);

// The SANE extended format: sign and 15-bit biased exponent in `exp`, then the 64-bit
// mantissa with its explicit integer bit, most significant word first, each word a native
// integer.
struct extended80 {
  SInt16 exp;
  UInt16 man[4];
};
typedef struct extended80 extended80;
long double x80told(const extended80* x80);
void ldtox80(const long double* x, extended80* x80);

#ifdef __cplusplus
}
#endif
