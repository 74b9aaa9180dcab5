#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/xattr.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>

#include "CarbonStandin.h"

namespace {

// Pascal string from a C string.
struct P {
  unsigned char s[256];
  explicit P(const char* c) {
    s[0] = static_cast<unsigned char>(std::strlen(c));
    std::memcpy(s + 1, c, s[0]);
  }
  operator const unsigned char*() const { return s; }
};

constexpr OSType kPICT = 0x50494354, kTtxt = 0x74747874;

// parID sits at offset 2 (68k alignment): read it as a value, never bound to a reference.
SInt32 ParID(const FSSpec& location) { return location.parID; }

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_, sizeof old_), nullptr);
    char tmpl[] = "/tmp/kv-carbon-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chdir(tmpl), 0);
  }
  void TearDown() override {
    EXPECT_EQ(CarbonStandin_OpenFiles(), 0);
    ASSERT_EQ(chdir(old_), 0);
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static std::string Contents(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  char old_[PATH_MAX];
  std::string dir_;
};

TEST_F(Files, CreateStoresTypeAndCreatorAndRefusesAnExistingName) {
  ASSERT_EQ(HCreate(0, 0, P("page.pict"), kTtxt, kPICT), noErr);
  OSType type = 0, creator = 0;
  ASSERT_EQ(CarbonStandin_ReadFinderInfo("page.pict", &type, &creator), 0);
  EXPECT_EQ(type, kPICT);
  EXPECT_EQ(creator, kTtxt);
  EXPECT_EQ(HCreate(0, 0, P("page.pict"), kTtxt, kPICT), dupFNErr);
  EXPECT_EQ(CarbonStandin_ReadFinderInfo("missing", &type, &creator), -1);
}

TEST_F(Files, WriteSeekTruncateAndReadBack) {
  ASSERT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), noErr);
  SInt16 ref = 0;
  ASSERT_EQ(HOpen(0, 0, P("f"), fsRdWrPerm, &ref), noErr);
  EXPECT_NE(ref, 0);
  char zeros[512] = {};
  SInt32 n = sizeof zeros;
  ASSERT_EQ(FSWrite(ref, &n, zeros), noErr);
  n = 5;
  ASSERT_EQ(FSWrite(ref, &n, "hello"), noErr);
  SInt32 eof = 0;
  ASSERT_EQ(GetEOF(ref, &eof), noErr);
  EXPECT_EQ(eof, 517);
  ASSERT_EQ(SetFPos(ref, fsFromStart, 512), noErr);
  n = 1;
  ASSERT_EQ(FSWrite(ref, &n, "J"), noErr);
  ASSERT_EQ(SetFPos(ref, fsFromLEOF, -2), noErr);
  char tail[8] = {};
  n = 8;
  EXPECT_EQ(FSRead(ref, &n, tail), eofErr);  // only two bytes left
  EXPECT_EQ(n, 2);
  EXPECT_STREQ(tail, "lo");
  ASSERT_EQ(SetEOF(ref, 514), noErr);
  ASSERT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(Contents("f"), std::string(512, '\0') + "Je");
}

// A longer end of file takes its blocks at once (an HFS file has no holes): the room is the
// file's, so a volume that fills later cannot take it back.
TEST_F(Files, ALongerEndOfFileAllocatesItsRoom) {
  ASSERT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), noErr);
  SInt16 ref;
  ASSERT_EQ(HOpen(0, 0, P("f"), fsWrPerm, &ref), noErr);
  constexpr SInt32 kSize = 4 << 20;
  ASSERT_EQ(SetEOF(ref, kSize), noErr);
  struct stat st;
  ASSERT_EQ(stat("f", &st), 0);
  EXPECT_EQ(st.st_size, kSize);
  EXPECT_GE(static_cast<long long>(st.st_blocks) * 512, kSize);
  ASSERT_EQ(SetEOF(ref, 0), noErr);  // all of it released
  ASSERT_EQ(stat("f", &st), 0);
  EXPECT_EQ(st.st_blocks, 0);
  FSClose(ref);
}

TEST_F(Files, PositionsOutsideTheFile) {
  ASSERT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), noErr);
  SInt16 ref;
  ASSERT_EQ(HOpen(0, 0, P("f"), fsRdWrPerm, &ref), noErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, -1), posErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 10), eofErr);  // past the end: the mark stops at it
  SInt32 pos = -1;
  GetFPos(ref, &pos);
  EXPECT_EQ(pos, 0);
  FSClose(ref);
  EXPECT_EQ(FSClose(ref), rfNumErr);
  SInt32 n = 1;
  EXPECT_EQ(FSWrite(ref, &n, "x"), rfNumErr);
}

TEST_F(Files, PartialPathsStartWithAColon) {
  ASSERT_EQ(mkdir("sub", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P(":sub:b"), kTtxt, kPICT), noErr);
  ASSERT_EQ(HCreate(0, 0, P(":c"), kTtxt, kPICT), noErr);
  struct stat st;
  EXPECT_EQ(stat("sub/b", &st), 0);
  EXPECT_EQ(stat("c", &st), 0);
  ASSERT_EQ(chdir("sub"), 0);
  EXPECT_EQ(HCreate(0, 0, P("::up"), kTtxt, kPICT), noErr);
  ASSERT_EQ(chdir(".."), 0);
  EXPECT_EQ(stat("up", &st), 0);
  EXPECT_EQ(HCreate(0, 0, P("a/b"), kTtxt, kPICT), noErr);  // '/' is a name character
  EXPECT_EQ(stat("a:b", &st), 0);
  EXPECT_EQ(HCreate(0, 0, P(":nodir:x"), kTtxt, kPICT), dirNFErr);
  EXPECT_EQ(HCreate(0, 0, P(":c:x"), kTtxt, kPICT), dirNFErr);  // a file is no directory
  EXPECT_EQ(HCreate(0, 0, P(":sub:"), kTtxt, kPICT), bdNamErr);
  EXPECT_EQ(HCreate(0, 0, P(""), kTtxt, kPICT), bdNamErr);
  EXPECT_EQ(HCreate(1, 0, P("x"), kTtxt, kPICT), nsvErr);
}

// A colon that is not the first character makes a full pathname: its first part is a volume.
TEST_F(Files, FullPathsNameAVolume) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  SInt16 ref = 0;
  EXPECT_EQ(HCreate(0, 0, P("pages:page1.pict"), kTtxt, kPICT), nsvErr);
  EXPECT_EQ(HOpen(0, 0, P("pages:page1.pict"), fsRdPerm, &ref), nsvErr);
  EXPECT_EQ(HDelete(0, 0, P("pages:page1.pict")), nsvErr);
  EXPECT_EQ(HCreate(0, 0, P("pages:"), kTtxt, kPICT), nsvErr);
  struct stat st;
  EXPECT_NE(stat("pages/page1.pict", &st), 0);
  EXPECT_NE(stat("page1.pict", &st), 0);
}

TEST_F(Files, NamePartsHoldAtMost31Characters) {
  const std::string longest(31, 'n'), tooLong(32, 'n');
  EXPECT_EQ(HCreate(0, 0, P(longest.c_str()), kTtxt, kPICT), noErr);
  EXPECT_EQ(HCreate(0, 0, P(tooLong.c_str()), kTtxt, kPICT), bdNamErr);
  ASSERT_EQ(mkdir(tooLong.c_str(), 0755), 0);
  EXPECT_EQ(HCreate(0, 0, P((":" + tooLong + ":x").c_str()), kTtxt, kPICT), bdNamErr);
  EXPECT_EQ(HCreate(0, 0, P((tooLong + ":x").c_str()), kTtxt, kPICT), bdNamErr);
  SInt16 ref = 0;
  EXPECT_EQ(HOpen(0, 0, P(tooLong.c_str()), fsRdPerm, &ref), bdNamErr);
  struct stat st;
  EXPECT_EQ(stat(longest.c_str(), &st), 0);
}

TEST_F(Files, OpenPermissionsAndDelete) {
  SInt16 ref = 1;
  EXPECT_EQ(HOpen(0, 0, P("none"), fsRdWrPerm, &ref), fnfErr);
  EXPECT_EQ(ref, 0);
  ASSERT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), noErr);
  SInt16 reader, writer, second;
  ASSERT_EQ(HOpen(0, 0, P("f"), fsRdPerm, &reader), noErr);
  SInt32 n = 1;
  EXPECT_EQ(FSWrite(reader, &n, "x"), wrPermErr);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(HOpen(0, 0, P("f"), fsWrPerm, &writer), noErr);
  EXPECT_EQ(HOpen(0, 0, P("f"), fsRdWrPerm, &second), opWrErr);  // one writer at a time
  EXPECT_EQ(HDelete(0, 0, P("f")), fBsyErr);
  FSClose(reader);
  FSClose(writer);
  EXPECT_EQ(HDelete(0, 0, P("f")), noErr);
  EXPECT_EQ(HDelete(0, 0, P("f")), fnfErr);
}

// What a program asks before it writes: which names are files, which are free, which can
// never be created.
TEST_F(Files, FinderInfoOfExistingFilesOnly) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P(":pages:f"), kTtxt, kPICT), noErr);
  FInfo info;
  ASSERT_EQ(HGetFInfo(0, 0, P(":pages:f"), &info), noErr);
  EXPECT_EQ(info.fdType, kPICT);
  EXPECT_EQ(info.fdCreator, kTtxt);
  EXPECT_EQ(HGetFInfo(0, 0, P(":pages:g"), &info), fnfErr);
  EXPECT_EQ(HGetFInfo(0, 0, P("pages"), &info), fnfErr);  // a directory is no file
  EXPECT_EQ(HGetFInfo(0, 0, P(":none:f"), &info), dirNFErr);
  EXPECT_EQ(HGetFInfo(0, 0, P(":pages:f:g"), &info), dirNFErr);
  EXPECT_EQ(HGetFInfo(0, 0, P("pages:f"), &info), nsvErr);
  EXPECT_EQ(HGetFInfo(0, 0, P(std::string(32, 'n').c_str()), &info), bdNamErr);
  EXPECT_EQ(HGetFInfo(0, 0, P(":pages:"), &info), bdNamErr);
}

// Opening takes the first free file control block, so a closed file's number is the next
// file's: a second close of it closes that file (Inside Macintosh: Files, FSClose: "Make sure
// that you do not call FSClose with a file reference number of a file that has already been
// closed"; Technote 1089, "One Close is Always Enough"). The stand-in counts closes of
// numbers no file has.
TEST_F(Files, AClosedNumberIsTheNextFilesSoASecondCloseClosesIt) {
  ASSERT_EQ(HCreate(0, 0, P("a"), kTtxt, kPICT), noErr);
  ASSERT_EQ(HCreate(0, 0, P("b"), kTtxt, kPICT), noErr);
  const long stray = CarbonStandin_StrayCloses();
  SInt16 a, b, other;
  ASSERT_EQ(HOpen(0, 0, P("a"), fsRdPerm, &a), noErr);
  ASSERT_EQ(HOpen(0, 0, P("a"), fsRdPerm, &other), noErr);
  EXPECT_NE(other, a);
  ASSERT_EQ(FSClose(a), noErr);
  ASSERT_EQ(HOpen(0, 0, P("b"), fsWrPerm, &b), noErr);
  EXPECT_EQ(b, a);               // a's block, free again
  EXPECT_EQ(FSClose(a), noErr);  // meant for a, closes b
  SInt32 n = 1;
  EXPECT_EQ(FSWrite(b, &n, "x"), rfNumErr);
  EXPECT_EQ(CarbonStandin_StrayCloses(), stray);
  EXPECT_EQ(FSClose(b), rfNumErr);
  EXPECT_EQ(CarbonStandin_StrayCloses(), stray + 1);
  EXPECT_EQ(FSClose(other), noErr);
}

TEST_F(Files, InjectedFailures) {
  CarbonStandin_FailFileCall(kCarbonStandinHCreate, 1, ioErr);
  EXPECT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), ioErr);
  ASSERT_EQ(HCreate(0, 0, P("f"), kTtxt, kPICT), noErr);
  SInt16 ref;
  ASSERT_EQ(HOpen(0, 0, P("f"), fsWrPerm, &ref), noErr);
  CarbonStandin_FailFileCall(kCarbonStandinFSWrite, 2, dskFulErr);
  SInt32 n = 3;
  EXPECT_EQ(FSWrite(ref, &n, "abc"), noErr);
  n = 3;
  EXPECT_EQ(FSWrite(ref, &n, "def"), dskFulErr);
  EXPECT_EQ(n, 0);
  CarbonStandin_FailFileCall(kCarbonStandinFSClose, 1, ioErr);
  EXPECT_EQ(FSClose(ref), ioErr);
  EXPECT_EQ(CarbonStandin_OpenFiles(), 0);  // released all the same
  EXPECT_EQ(Contents("f"), "abc");
  CarbonStandin_FailFileCall(kCarbonStandinAnyFileCall, 1, permErr);
  EXPECT_EQ(HOpen(0, 0, P("f"), fsRdPerm, &ref), permErr);
}

}  // namespace

namespace {

// FSSpecs: a directory ID that the File Manager's other calls take, files
// exchanged, and a file URL for an existing file only.
TEST_F(Files, FSSpecsNameFilesInTheirFolderAndExchangeThem) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  FSSpec location;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P(":pages:a.tif"), &location), fnfErr);  // not there yet, location filled in
  EXPECT_EQ(location.vRefNum, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(location.name + 1), location.name[0]), "a.tif");
  FSRef ref;
  EXPECT_EQ(FSpMakeFSRef(&location, &ref), fnfErr);
  ASSERT_EQ(FSpCreate(&location, kTtxt, kPICT, smSystemScript), noErr);
  EXPECT_EQ(FSpCreate(&location, kTtxt, kPICT, smSystemScript), dupFNErr);
  FSSpec sibling;
  ASSERT_EQ(FSMakeFSSpec(location.vRefNum, ParID(location), P("b.tif"), &sibling), fnfErr);
  EXPECT_EQ(ParID(sibling), ParID(location));
  ASSERT_EQ(HCreate(0, ParID(location), P("b.tif"), kTtxt, kPICT), noErr);
  std::ofstream("pages/a.tif") << "first";
  std::ofstream("pages/b.tif") << "second";
  ASSERT_EQ(FSpExchangeFiles(&location, &sibling), noErr);
  EXPECT_EQ(Contents("pages/a.tif"), "second");
  EXPECT_EQ(Contents("pages/b.tif"), "first");
  EXPECT_EQ(FSMakeFSSpec(0, 12345, P("x"), &sibling), dirNFErr);
  EXPECT_EQ(FSMakeFSSpec(0, 0, P(":nowhere:x"), &sibling), dirNFErr);

  ASSERT_EQ(FSpMakeFSRef(&location, &ref), noErr);
  CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
  ASSERT_NE(url, nullptr);
  UInt8 path[1024];
  ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, path, sizeof path));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), dir_ + "/pages/a.tif");
  CFRelease(url);
  EXPECT_EQ(FSpDelete(&location), noErr);
  EXPECT_EQ(FSpDelete(&location), fnfErr);
}

// Inside Macintosh: Files, FSMakeFSSpec / PBMakeFSSpec: after fnfErr the FSSpec is
// valid for the file about to be created; after any result other than noErr or fnfErr all its
// fields are set to 0. A directory ID is the directory's own number on its volume, not a
// place relative to the working directory. An FSRef holds what is needed to find an object
// (File Manager Reference, FSRef): once the file is deleted there is nothing to find, and
// CFURLCreateFromFSRef answers NULL.
TEST_F(Files, FSSpecsAreZeroedOnErrorsAndIdsOutliveTheWorkingDirectory) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  ASSERT_EQ(mkdir("elsewhere", 0755), 0);
  FSSpec location;
  for (const char* bad : {":nowhere:x", "Volume:x", ":pages:"}) {
    std::memset(&location, 0xA5, sizeof location);
    EXPECT_NE(FSMakeFSSpec(0, 0, P(bad), &location), fnfErr) << bad;
    const unsigned char zero[sizeof location] = {};
    EXPECT_EQ(std::memcmp(&location, zero, sizeof location), 0) << bad;
  }
  std::memset(&location, 0xA5, sizeof location);
  EXPECT_EQ(FSMakeFSSpec(0, 12345, P("x"), &location), dirNFErr);
  EXPECT_EQ(ParID(location), 0);
  EXPECT_EQ(location.name[0], 0);

  ASSERT_EQ(FSMakeFSSpec(0, 0, P(":pages:a"), &location), fnfErr);
  ASSERT_EQ(chdir("elsewhere"), 0);
  const OSErr created = FSpCreate(&location, kTtxt, kPICT, smSystemScript);
  FSSpec again;
  const OSErr found = FSMakeFSSpec(0, location.parID, P("a"), &again);
  ASSERT_EQ(chdir(".."), 0);
  EXPECT_EQ(created, noErr);
  EXPECT_EQ(found, noErr);
  EXPECT_EQ(ParID(again), ParID(location));
  struct stat st;
  EXPECT_EQ(::stat("pages/a", &st), 0);
  EXPECT_NE(::stat("elsewhere/pages", &st), 0);

  FSRef ref;
  ASSERT_EQ(FSpMakeFSRef(&location, &ref), noErr);
  CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
  ASSERT_NE(url, nullptr);
  CFRelease(url);
  ASSERT_EQ(FSpDelete(&location), noErr);
  EXPECT_EQ(CFURLCreateFromFSRef(kCFAllocatorDefault, &ref), nullptr);
}

}  // namespace

namespace {

// Files.h declares FSSpec under "#pragma options align=mac68k": a short, then the long at
// offset 2, then the Str63; 70 bytes. Code that hands an FSSpec to Apple's File Manager, or
// keeps one in a file, sees this layout. The parameter block and volume information of
// PBHGetVolParms are laid out the same way.
static_assert(sizeof(FSSpec) == 70, "FSSpec as Files.h lays it out");
static_assert(offsetof(FSSpec, parID) == 2, "parID right after vRefNum");
static_assert(offsetof(FSSpec, name) == 6, "the name after parID");
static_assert(offsetof(HIOParam, ioNamePtr) == 18 && offsetof(HIOParam, ioBuffer) == 32 &&
                  offsetof(HIOParam, ioReqCount) == 36 && offsetof(HIOParam, ioActCount) == 40 &&
                  sizeof(HIOParam) == 50,
              "HIOParam as Files.h lays it out");
static_assert(offsetof(GetVolParmsInfoBuffer, vMAttrib) == 2 &&
                  offsetof(GetVolParmsInfoBuffer, vMExtendedAttributes) == 20,
              "GetVolParmsInfoBuffer as Files.h lays it out");
static_assert(offsetof(HFileInfo, ioFDirIndex) == 28 && offsetof(HFileInfo, ioFlAttrib) == 30 &&
                  offsetof(HFileInfo, ioFlFndrInfo) == 32 && offsetof(HFileInfo, ioDirID) == 48 &&
                  offsetof(HFileInfo, ioFlLgLen) == 54 && offsetof(HFileInfo, ioFlParID) == 100 &&
                  offsetof(DirInfo, ioDrDirID) == 48 && offsetof(DirInfo, ioDrParID) == 100 &&
                  sizeof(CInfoPBRec) == 108,
              "CInfoPBRec as Files.h lays it out");

TEST_F(Files, FSSpecsInAnArrayKeepTheirLayout) {
  FSSpec locations[2];
  EXPECT_EQ(reinterpret_cast<char*>(&locations[1]) - reinterpret_cast<char*>(&locations[0]), 70);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("a"), &locations[1]), fnfErr);
  ASSERT_EQ(FSpCreate(&locations[1], kTtxt, kPICT, smSystemScript), noErr);  // parID at an odd-word offset
  struct stat st;
  EXPECT_EQ(::stat("a", &st), 0);
}

std::string NameOf(const FSSpec& location) {
  return std::string(reinterpret_cast<const char*>(location.name + 1), location.name[0]);
}

// Inside Macintosh: Files, FSMakeFSSpec: "If the fileName parameter contains an empty string,
// FSMakeFSSpec creates an FSSpec record for a directory specified by either the dirID or
// vRefNum parameter": the directory's parent ID and its own name, so that the directory can
// be named to FSpDelete and its ID found again from its FSSpec.
TEST_F(Files, AnEmptyNameSpecifiesTheDirectoryItself) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  FSSpec inside, folder, cwd;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P(":pages:a"), &inside), fnfErr);
  ASSERT_EQ(FSMakeFSSpec(0, ParID(inside), P(""), &folder), noErr);
  EXPECT_EQ(NameOf(folder), "pages");
  EXPECT_NE(ParID(folder), ParID(inside));
  ASSERT_EQ(FSMakeFSSpec(0, 0, P(""), &cwd), noErr);  // the default directory
  EXPECT_EQ(NameOf(cwd), dir_.substr(dir_.rfind('/') + 1));
  FSSpec again;
  ASSERT_EQ(FSMakeFSSpec(0, ParID(cwd), P(NameOf(cwd).c_str()), &again), noErr);  // found again by name
  EXPECT_EQ(ParID(again), ParID(cwd));
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("x"), &again), fnfErr);
  EXPECT_EQ(ParID(again), ParID(folder));  // the folder's parent is the default directory
  FSSpec sameFolder;
  ASSERT_EQ(FSMakeFSSpec(0, ParID(folder), P("pages"), &sameFolder), noErr);  // the folder by name
  EXPECT_EQ(ParID(sameFolder), ParID(folder));
  EXPECT_EQ(NameOf(sameFolder), "pages");

  std::memset(&again, 0xA5, sizeof again);
  EXPECT_EQ(FSMakeFSSpec(0, 12345, P(""), &again), dirNFErr);
  EXPECT_EQ(ParID(again), 0);
  EXPECT_EQ(FSMakeFSSpec(1, 0, P(""), &again), nsvErr);
  ASSERT_EQ(rmdir("pages"), 0);
  EXPECT_EQ(FSMakeFSSpec(0, ParID(inside), P(""), &again), dirNFErr);  // the directory is gone
}

// Inside Macintosh: Files, FSpDelete: "If the specified target is a directory, it must be
// empty"; a directory with something in it gives fBsyErr ("File is busy; directory is not
// empty"). Files.h: HDelete likewise.
TEST_F(Files, DeleteRemovesAnEmptyDirectoryAndRefusesAFullOne) {
  ASSERT_EQ(mkdir("full", 0755), 0);
  ASSERT_EQ(mkdir("empty", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P(":full:f"), kTtxt, kPICT), noErr);
  FSSpec full, empty;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("full"), &full), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("empty"), &empty), noErr);
  EXPECT_EQ(FSpDelete(&full), fBsyErr);
  EXPECT_EQ(FSpDelete(&empty), noErr);
  struct stat st;
  EXPECT_NE(::stat("empty", &st), 0);
  EXPECT_EQ(::stat("full/f", &st), 0);
  EXPECT_EQ(HDelete(0, 0, P(":full:f")), noErr);
  EXPECT_EQ(HDelete(0, 0, P("full")), noErr);
  EXPECT_NE(::stat("full", &st), 0);
  EXPECT_EQ(FSpDelete(&empty), fnfErr);
}

// Inside Macintosh: Files, FSpExchangeFiles: it "changes the fields in the catalog entries that
// record the location of the data and the modification dates. It swaps both the data forks
// and the resource forks" and "works on both open and closed files. If either file is open,
// FSpExchangeFiles updates any file control blocks associated with the file"; exchangedata(2):
// "Open file descriptors follow the swapped data ... In general, the file attributes
// (metadata) are not exchanged", the modification time excepted. So each name keeps its type
// and creator, the data takes its modification date along, and an open path still reads the
// data it had.
TEST_F(Files, ExchangingSwapsDataAndModificationDatesButNotTypesAndCreators) {
  ASSERT_EQ(HCreate(0, 0, P("old"), kTtxt, kPICT), noErr);
  ASSERT_EQ(HCreate(0, 0, P("new"), 'KVpg', 'TIFF'), noErr);
  std::ofstream("old") << "old data";
  std::ofstream("new") << "new data";
  const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, "old", times, 0), 0);
  struct stat before;
  ASSERT_EQ(::stat("new", &before), 0);
  SInt16 reader;
  ASSERT_EQ(HOpen(0, 0, P("old"), fsRdPerm, &reader), noErr);
  FSSpec a, b;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("new"), &a), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("old"), &b), noErr);
  ASSERT_EQ(FSpExchangeFiles(&a, &b), noErr);
  EXPECT_EQ(Contents("old"), "new data");
  EXPECT_EQ(Contents("new"), "old data");
  OSType type = 0, creator = 0;
  ASSERT_EQ(CarbonStandin_ReadFinderInfo("old", &type, &creator), 0);
  EXPECT_EQ(type, kPICT);
  EXPECT_EQ(creator, kTtxt);
  ASSERT_EQ(CarbonStandin_ReadFinderInfo("new", &type, &creator), 0);
  EXPECT_EQ(type, OSType('TIFF'));
  EXPECT_EQ(creator, OSType('KVpg'));
  struct stat st;
  ASSERT_EQ(::stat("new", &st), 0);
  EXPECT_EQ(st.st_mtime, 1000000000);
  ASSERT_EQ(::stat("old", &st), 0);
  EXPECT_EQ(st.st_mtime, before.st_mtime);
  char got[9] = {};
  SInt32 n = 8;
  EXPECT_EQ(FSRead(reader, &n, got), noErr);  // opened as "old", reads the old data, now "new"'s
  EXPECT_STREQ(got, "old data");
  EXPECT_EQ(FSClose(reader), noErr);
  std::ofstream("old.exchange") << "someone's";  // nothing of a name of its own is touched
  ASSERT_EQ(FSpExchangeFiles(&a, &b), noErr);
  EXPECT_EQ(Contents("old"), "old data");
  EXPECT_EQ(Contents("old.exchange"), "someone's");
}

// Inside Macintosh: Files, PBExchangeFiles result codes: fnfErr, notAFileErr ("Specified file
// is a directory"), diffVolErr ("Files on different volumes"); "Exchanging the contents of two
// files requires essentially the same access permissions as opening both files for writing".
// Nothing changes when it fails.
TEST_F(Files, ExchangingRefusesWhatItCannotSwap) {
  ASSERT_EQ(mkdir("folder", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P("a"), kTtxt, kPICT), noErr);
  ASSERT_EQ(HCreate(0, 0, P("b"), kTtxt, kPICT), noErr);
  std::ofstream("a") << "a";
  std::ofstream("b") << "b";
  FSSpec a, b, folder, none;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("a"), &a), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("b"), &b), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("folder"), &folder), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("none"), &none), fnfErr);
  EXPECT_EQ(FSpExchangeFiles(&a, &none), fnfErr);
  EXPECT_EQ(FSpExchangeFiles(&folder, &a), notAFileErr);
  EXPECT_EQ(FSpExchangeFiles(&a, &folder), notAFileErr);
  ASSERT_EQ(chmod("b", 0444), 0);
  EXPECT_EQ(FSpExchangeFiles(&a, &b), permErr);
  ASSERT_EQ(chmod("b", 0644), 0);
  if (::access("/dev/shm", W_OK) == 0) {  // another file system: another volume
    struct stat here, there;
    ASSERT_EQ(::stat(".", &here), 0);
    ASSERT_EQ(::stat("/dev/shm", &there), 0);
    if (here.st_dev != there.st_dev) {
      const std::string elsewhere = "/dev/shm/kv-carbon-exchange-" + std::to_string(getpid());
      ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
      ASSERT_EQ(symlink(elsewhere.c_str(), "shm"), 0);
      std::ofstream(elsewhere + "/c") << "c";
      FSSpec c;
      ASSERT_EQ(FSMakeFSSpec(0, 0, P(":shm:c"), &c), noErr);
      EXPECT_EQ(FSpExchangeFiles(&a, &c), diffVolErr);
      std::remove((elsewhere + "/c").c_str());
      rmdir(elsewhere.c_str());
    }
  }
  EXPECT_EQ(Contents("a"), "a");
  EXPECT_EQ(Contents("b"), "b");
}

// A volume without exchanging: FSpExchangeFiles answers paramErr and changes nothing, and
// PBHGetVolParms says so before anyone tries (Files.h, GetVolParmsInfoBuffer:
// bSupportsFSExchangeObjects in vMExtendedAttributes, bHasFileIDs in vMAttrib, which MoreFiles
// reads as "FSpExchangeFiles works here").
TEST_F(Files, AVolumeThatCannotExchangeSaysSoAndRefusesWithParamErr) {
  ASSERT_EQ(HCreate(0, 0, P("a"), kTtxt, kPICT), noErr);
  ASSERT_EQ(HCreate(0, 0, P("b"), kTtxt, kPICT), noErr);
  std::ofstream("a") << "a";
  std::ofstream("b") << "b";
  FSSpec a, b;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("a"), &a), noErr);
  ASSERT_EQ(FSMakeFSSpec(0, 0, P("b"), &b), noErr);
  auto volume = [](SInt16 vRefNum, GetVolParmsInfoBuffer* info, SInt32 size = sizeof(GetVolParmsInfoBuffer)) {
    HParamBlockRec pb = {};
    pb.ioParam.ioVRefNum = vRefNum;
    pb.ioParam.ioBuffer = reinterpret_cast<Ptr>(info);
    pb.ioParam.ioReqCount = size;
    pb.ioParam.ioActCount = -1;
    const OSErr err = PBHGetVolParmsSync(&pb);
    EXPECT_EQ(pb.ioParam.ioResult, err);
    if (err == noErr) {
      EXPECT_EQ(pb.ioParam.ioActCount, size);
    }
    return err;
  };
  GetVolParmsInfoBuffer info = {};
  ASSERT_EQ(volume(0, &info), noErr);
  EXPECT_GE(info.vMVersion, 3);
  EXPECT_TRUE(info.vMExtendedAttributes & (1 << bSupportsFSExchangeObjects));
  EXPECT_TRUE(info.vMAttrib & (1 << bHasFileIDs));
  EXPECT_EQ(volume(5, &info), nsvErr);

  CarbonStandin_SetExchangeSupported(false);
  info = {};
  const OSErr asked = volume(0, &info);
  GetVolParmsInfoBuffer version1;
  std::memset(&version1, 0xA5, sizeof version1);
  const OSErr short1 = volume(0, &version1, 14);  // room for version 1 only: nothing past it
  const OSErr exchanged = FSpExchangeFiles(&a, &b);
  CarbonStandin_SetExchangeSupported(true);
  EXPECT_EQ(asked, noErr);
  EXPECT_FALSE(info.vMExtendedAttributes & (1 << bSupportsFSExchangeObjects));
  EXPECT_FALSE(info.vMAttrib & (1 << bHasFileIDs));
  EXPECT_EQ(short1, noErr);
  EXPECT_EQ(SInt32{version1.vMVolumeGrade}, static_cast<SInt32>(0xA5A5A5A5));
  EXPECT_EQ(exchanged, paramErr);
  EXPECT_EQ(Contents("a"), "a");
  EXPECT_EQ(Contents("b"), "b");
}

}  // namespace

namespace {

// Inside Macintosh: Files, HRename and FSpRename: a new name in the same directory, dupFNErr
// ("A file with the new name already exists") without touching either file, bdNamErr for a
// name with a colon (renaming does not move); the file keeps its type and creator, and a path
// open on it follows it.
TEST_F(Files, RenameNeverReplacesAndNeverMoves) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P(":pages:a.part"), kTtxt, kPICT), noErr);
  std::ofstream("pages/a.part") << "new";
  std::ofstream("pages/b") << "older";
  SInt16 ref = 0;
  ASSERT_EQ(HOpen(0, 0, P(":pages:a.part"), fsRdPerm, &ref), noErr);
  EXPECT_EQ(HRename(0, 0, P(":pages:a.part"), P("b")), dupFNErr);
  EXPECT_EQ(Contents("pages/b"), "older");
  EXPECT_EQ(HRename(0, 0, P(":pages:a.part"), P(":a")), bdNamErr);
  EXPECT_EQ(HRename(0, 0, P(":pages:none"), P("a")), fnfErr);
  FSSpec location;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P(":pages:a.part"), &location), noErr);
  ASSERT_EQ(FSpRename(&location, P("a")), noErr);
  EXPECT_EQ(Contents("pages/a"), "new");
  struct stat st;
  EXPECT_NE(::stat("pages/a.part", &st), 0);
  OSType type = 0, creator = 0;
  ASSERT_EQ(CarbonStandin_ReadFinderInfo("pages/a", &type, &creator), 0);
  EXPECT_EQ(type, kPICT);
  EXPECT_EQ(creator, kTtxt);
  char byte = 0;
  SInt32 count = 1;
  EXPECT_EQ(FSRead(ref, &count, &byte), noErr);
  EXPECT_EQ(byte, 'n');
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(HDelete(0, 0, P(":pages:a")), noErr);
}

// Listing a folder: entries by index from 1 in the catalog's order (case folded), fnfErr
// past the last, folders marked, the FinderInfo sidecars never shown, and ioDirID overwritten
// so that a lister must set it again for each index.
TEST_F(Files, CatalogInformationListsAFolderByIndex) {
  ASSERT_EQ(mkdir("pages", 0755), 0);
  ASSERT_EQ(mkdir("pages/Sub", 0755), 0);
  ASSERT_EQ(HCreate(0, 0, P(":pages:b-0002.tif"), kTtxt, kPICT), noErr);
  std::ofstream("pages/b-0002.tif") << "12345";
  std::ofstream("pages/A-0001.tif") << "1";
  std::ofstream("pages/._A-0001.tif.finderinfo") << std::string(32, '\0');
  std::ofstream("pages/c:d") << "";
  FSSpec location;
  ASSERT_EQ(FSMakeFSSpec(0, 0, P(":pages:x"), &location), fnfErr);
  const SInt32 folder = ParID(location);
  std::vector<std::string> names;
  CInfoPBRec pb;
  Str255 name;
  for (SInt16 index = 1;; ++index) {
    std::memset(&pb, 0xA5, sizeof pb);
    pb.hFileInfo.ioNamePtr = name;
    pb.hFileInfo.ioVRefNum = 0;
    pb.hFileInfo.ioDirID = folder;
    pb.hFileInfo.ioFDirIndex = index;
    const OSErr err = PBGetCatInfoSync(&pb);
    if (err == fnfErr) break;
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(+pb.hFileInfo.ioResult, noErr);
    EXPECT_EQ(+pb.hFileInfo.ioFDirIndex, index);
    names.emplace_back(reinterpret_cast<const char*>(name + 1), name[0]);
    const bool isFolder = (pb.hFileInfo.ioFlAttrib & kioFlAttribDirMask) != 0;
    EXPECT_EQ(isFolder, names.back() == "Sub") << names.back();
    if (isFolder) {
      EXPECT_NE(+pb.dirInfo.ioDrDirID, folder);
      EXPECT_EQ(+pb.dirInfo.ioDrParID, folder);
    } else {
      EXPECT_EQ(+pb.hFileInfo.ioFlParID, folder);
      EXPECT_NE(+pb.hFileInfo.ioDirID, folder) << "a file's number, not the folder's ID";
    }
    if (names.back() == "b-0002.tif") {
      EXPECT_EQ(+pb.hFileInfo.ioFlLgLen, 5);
      EXPECT_EQ(+pb.hFileInfo.ioFlFndrInfo.fdType, kPICT);
      EXPECT_EQ(+pb.hFileInfo.ioFlFndrInfo.fdCreator, kTtxt);
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A-0001.tif", "b-0002.tif", "c/d", "Sub"}));

  // Without a name buffer, by name, the folder itself, and folders that are not there.
  std::memset(&pb, 0, sizeof pb);
  pb.hFileInfo.ioDirID = folder;
  pb.hFileInfo.ioFDirIndex = 2;
  EXPECT_EQ(PBGetCatInfoSync(&pb), noErr);
  pb.hFileInfo.ioDirID = 0;
  pb.hFileInfo.ioFDirIndex = 0;
  P subName(":pages:Sub");
  pb.hFileInfo.ioNamePtr = subName.s;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  EXPECT_NE(pb.hFileInfo.ioFlAttrib & kioFlAttribDirMask, 0);
  EXPECT_EQ(+pb.dirInfo.ioDrParID, folder);
  P missing(":pages:none");
  pb.hFileInfo.ioNamePtr = missing.s;
  pb.hFileInfo.ioDirID = 0;
  EXPECT_EQ(PBGetCatInfoSync(&pb), fnfErr);
  pb.hFileInfo.ioNamePtr = name;
  pb.hFileInfo.ioDirID = folder;
  pb.hFileInfo.ioFDirIndex = -1;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(name + 1), name[0]), "pages");
  EXPECT_EQ(+pb.dirInfo.ioDrDirID, folder);
  EXPECT_EQ(+pb.dirInfo.ioDrNmFls, 4);
  pb.hFileInfo.ioDirID = 77;
  pb.hFileInfo.ioFDirIndex = 1;
  EXPECT_EQ(PBGetCatInfoSync(&pb), dirNFErr);
  pb.hFileInfo.ioDirID = folder;
  pb.hFileInfo.ioVRefNum = -1;
  EXPECT_EQ(PBGetCatInfoSync(&pb), nsvErr);
  EXPECT_EQ(PBGetCatInfoSync(nullptr), paramErr);
}

}  // namespace
