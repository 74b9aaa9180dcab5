// Buffered memory transfers: DAT_SETUPMEMXFER, the strips of DAT_IMAGEMEMXFER, the checks a
// strict source makes, and the `memory-*` and `pixel-type-at` commands.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "standins/virtual-scanner/tests/jpeg_decode.h"
#include "standins/virtual-scanner/tests/support.h"

namespace {

constexpr TW_UINT32 kAppPointer = vs::kMemAppOwns | vs::kMemPointer;
constexpr TW_UINT32 kAppHandle = vs::kMemAppOwns | vs::kMemHandle;

struct Strip {
  TW_UINT16 rc = 0;
  vs::TW_IMAGEMEMXFER x{};
  std::vector<uint8_t> bytes;  // the buffer after the request, BytesWritten of it
};

class MemoryTest : public ScannerTest {
 protected:
  void SetUp() override {
    ScannerTest::SetUp();
    ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_SUCCESS);
  }
  vs::TW_SETUPMEMXFER Setup(TW_UINT16* rc = nullptr) {
    vs::TW_SETUPMEMXFER s{};
    TW_UINT16 r = Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &s);
    if (rc) *rc = r;
    return s;
  }
  // One DAT_IMAGEMEMXFER with a buffer of `length` bytes (a pointer, or the platform's handle),
  // the request filled with don't-care values as an application sends it.
  Strip Request(TW_UINT32 length, TW_UINT32 flags = kAppPointer) {
    Strip s;
    std::vector<uint8_t> buffer(length, 0x5C);
    const bool handle = (flags & vs::kMemHandle) != 0;
    TW_HANDLE h = handle ? HandleWith(buffer) : nullptr;
    std::memset(&s.x, 0xFF, sizeof s.x);
    s.x.Memory.Flags = flags;
    s.x.Memory.Length = length;
    s.x.Memory.TheMem = handle ? h : static_cast<void*>(buffer.data());
    s.rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &s.x);
    if (handle) {
      buffer = HandleBytes(h);
      FreeHandle(h);
    }
    if ((s.rc == TWRC_SUCCESS || s.rc == TWRC_XFERDONE) && s.x.BytesWritten <= length)
      s.bytes.assign(buffer.begin(), buffer.begin() + s.x.BytesWritten);
    return s;
  }
  // Every strip of the page in the scanner, until it answers anything but TWRC_SUCCESS.
  std::vector<Strip> Page(TW_UINT32 length, TW_UINT32 flags = kAppPointer) {
    std::vector<Strip> strips;
    do {
      strips.push_back(Request(length, flags));
    } while (strips.back().rc == TWRC_SUCCESS && strips.size() < 100000);
    return strips;
  }
  // The rows of an uncompressed page, placed by what each strip says, without their padding.
  static std::vector<uint8_t> Rows(const std::vector<Strip>& strips, size_t packed) {
    std::vector<uint8_t> rows;
    for (const Strip& s : strips) {
      EXPECT_EQ(s.x.YOffset * packed, rows.size()) << "strips come top first, one after the other";
      for (TW_UINT32 r = 0; r < s.x.Rows; ++r)
        rows.insert(rows.end(), s.bytes.begin() + r * s.x.BytesPerRow,
                    s.bytes.begin() + r * s.x.BytesPerRow + packed);
    }
    return rows;
  }
  // The page as the renderer gives it, rows packed to what they need.
  static std::vector<uint8_t> Expected(const vscan::ScanSettings& s) {
    vscan::Raster r = vscan::RenderPage(s);
    const size_t packed = (size_t(r.width) * r.bitsPerPixel + 7) / 8;
    std::vector<uint8_t> rows;
    for (int j = 0; j < r.height; ++j)
      rows.insert(rows.end(), r.rows.begin() + j * r.stride(), r.rows.begin() + j * r.stride() + packed);
    return rows;
  }
  TW_IMAGEINFO Info() {
    TW_IMAGEINFO info{};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    return info;
  }
  TW_UINT16 EndXfer() {
    TW_PENDINGXFERS p{};
    return Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p);
  }
  void Disable() {
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  }
  void Reopen() {
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  }
};

std::vector<uint16_t> EnumItems(const std::vector<uint8_t>& b) {
  std::vector<uint16_t> v;
  auto count = At<uint32_t>(b, offsetof(nat::TW_ENUMERATION, NumItems));
  for (uint32_t i = 0; i < count; ++i)
    v.push_back(At<uint16_t>(b, offsetof(nat::TW_ENUMERATION, ItemList) + 2 * i));
  return v;
}

}  // namespace

TEST_F(MemoryTest, MemoryAndJpegAreOfferedUnlessMemoryIsOff) {
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), (std::vector<uint16_t>{TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}));
  EXPECT_EQ(EnumItems(Get(ICAP_COMPRESSION)),
            (std::vector<uint16_t>{vs::kCompressionNone, vs::kCompressionJpeg}));
  EXPECT_EQ(Query("cap 0x0103"), "2");

  EXPECT_EQ(VirtualScannerControl("memory maybe"), -1);
  ASSERT_EQ(VirtualScannerControl("memory off"), 0);
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), (std::vector<uint16_t>{TWSX_NATIVE, TWSX_FILE})) << "at once";
  EXPECT_EQ(Query("cap 0x0103"), "0") << "MEMORY is no longer there to be current";
  Reopen();
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), (std::vector<uint16_t>{TWSX_NATIVE, TWSX_FILE}))
      << "and at every open";
  EXPECT_EQ(EnumItems(Get(ICAP_COMPRESSION)), std::vector<uint16_t>{vs::kCompressionNone});
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_BADVALUE);
  EXPECT_EQ(Set16(ICAP_COMPRESSION, TWTY_UINT16, vs::kCompressionJpeg), TWCC_BADVALUE);
  TW_UINT16 rc = 0;
  Setup(&rc);
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);

  // Without file transfers either: native only; memory back: native and memory.
  ASSERT_EQ(VirtualScannerControl("file-formats none"), 0);
  Reopen();
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), std::vector<uint16_t>{TWSX_NATIVE});
  ASSERT_EQ(VirtualScannerControl("memory on"), 0);
  Reopen();
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), (std::vector<uint16_t>{TWSX_NATIVE, TWSX_MEMORY}));
  ASSERT_EQ(VirtualScannerControl("memory off"), 0);
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  Reopen();
  EXPECT_EQ(EnumItems(Get(ICAP_XFERMECH)), (std::vector<uint16_t>{TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}));
}

// One row at least, 1 MiB at most, 64 KiB preferred, for the page the transfer will deliver:
// in states 4 to 6 only.
TEST_F(MemoryTest, SetupGivesOneRowToOneMebibyteAndPrefers64KiB) {
  TW_UINT16 rc = 0;
  vs::TW_SETUPMEMXFER s = Setup(&rc);
  ASSERT_EQ(rc, TWRC_SUCCESS);
  EXPECT_EQ(s.MinBufSize, 2550u);  // 850 colour pixels at 100 dpi
  EXPECT_EQ(s.MaxBufSize, 1048576u);
  EXPECT_EQ(s.Preferred, 65536u);
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWCC_SUCCESS);
  ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 75), TWCC_SUCCESS);
  EXPECT_EQ(Setup().MinBufSize, 80u) << "638 pixels of one bit";
  ASSERT_EQ(VirtualScannerControl("memory-padding 3"), 0);
  EXPECT_EQ(Setup().MinBufSize, 83u);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_EQ(Setup().MinBufSize, 83u) << "state 5";
  ASSERT_EQ(VirtualScannerControl("pixel-type-at 1 2"), 0);
  Poll();
  ASSERT_EQ(State(), 6);
  EXPECT_EQ(Setup().MinBufSize, 638u * 3 + 3) << "the page in the scanner comes in colour";
  ASSERT_EQ(Request(65536).rc, TWRC_SUCCESS);
  ASSERT_EQ(State(), 7);
  Setup(&rc);
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  vs::TW_SETUPMEMXFER unused{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_SET, &unused), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
}

TEST_F(MemoryTest, BufferLimitsCanBeScripted) {
  for (const char* bad : {"memory-buffers 1 2", "memory-buffers -5 100 100", "memory-buffers 1 2 -1",
                          "memory-buffers x 100 100", "memory-buffers 1 2 3 4"})
    EXPECT_EQ(VirtualScannerControl(bad), -1) << bad;
  ASSERT_EQ(VirtualScannerControl("memory-buffers 3000 -1 dontcare"), 0);
  vs::TW_SETUPMEMXFER s = Setup();
  EXPECT_EQ(s.MinBufSize, 3000u);
  EXPECT_EQ(s.MaxBufSize, vs::kDontCare32);
  EXPECT_EQ(s.Preferred, vs::kDontCare32);
  ToTransferReady();
  EXPECT_EQ(Request(2999).rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  // No upper limit: one strip takes the whole page.
  auto page = Page(4 * 1024 * 1024);
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0].rc, TWRC_XFERDONE);
  EXPECT_EQ(page[0].x.Rows, 1100u);
  ASSERT_EQ(EndXfer(), TWRC_SUCCESS);
  Disable();

  // A minimum below one row: a buffer must still hold a row of an uncompressed page.
  ASSERT_EQ(VirtualScannerControl("memory-buffers dontcare 10000 4000"), 0);
  ToTransferReady();
  EXPECT_EQ(Setup().MinBufSize, vs::kDontCare32);
  EXPECT_EQ(Request(2549).rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(Request(10001).rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  EXPECT_EQ(State(), 6);
  Strip s1 = Request(10000);
  EXPECT_EQ(s1.rc, TWRC_SUCCESS);
  EXPECT_EQ(s1.x.Rows, 3u);
}

// The page top first, whole rows per strip, colour in R, G, B order, 1-bit rows as the pixel
// flavour says; every field of the request filled; state 7 from the first strip.
TEST_F(MemoryTest, StripsCarryThePageTopFirstInWholeRows) {
  struct {
    TW_UINT16 pixelType, flavor;
    size_t packed;
  } cases[] = {{TWPT_RGB, TWPF_CHOCOLATE, 2550},
               {TWPT_GRAY, TWPF_CHOCOLATE, 850},
               {TWPT_BW, TWPF_CHOCOLATE, 107},
               {TWPT_BW, TWPF_VANILLA, 107},
               {TWPT_GRAY, TWPF_VANILLA, 850}};
  for (auto& c : cases) {
    Reopen();
    ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_SUCCESS);
    ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, c.pixelType), TWCC_SUCCESS);
    ASSERT_EQ(Set16(ICAP_PIXELFLAVOR, TWTY_UINT16, c.flavor), TWCC_SUCCESS);
    ToTransferReady();
    const std::string what = std::to_string(c.pixelType) + "/" + std::to_string(c.flavor);
    auto strips = Page(65536);
    ASSERT_GT(strips.size(), 1u) << what;
    EXPECT_EQ(State(), 7);
    const TW_UINT32 perStrip = TW_UINT32(65536 / c.packed);
    for (size_t i = 0; i < strips.size(); ++i) {
      const Strip& s = strips[i];
      const bool last = i + 1 == strips.size();
      EXPECT_EQ(s.rc, last ? TWRC_XFERDONE : TWRC_SUCCESS) << what << " strip " << i;
      EXPECT_EQ(s.x.Compression, vs::kCompressionNone);
      EXPECT_EQ(s.x.BytesPerRow, c.packed);
      EXPECT_EQ(s.x.Columns, 850u);
      EXPECT_EQ(s.x.XOffset, 0u);
      EXPECT_EQ(s.x.YOffset, i * perStrip);
      EXPECT_EQ(s.x.Rows, last ? 1100 - i * perStrip : perStrip);
      EXPECT_EQ(s.x.BytesWritten, s.x.Rows * c.packed);
    }
    vscan::ScanSettings settings;
    settings.pixelType = c.pixelType;
    settings.pixelFlavor = c.flavor;
    EXPECT_EQ(Rows(strips, c.packed), Expected(settings)) << what;
    if (c.pixelType == TWPT_RGB) {  // the yellow bar, 1.5 inches in: red and green, no blue
      EXPECT_EQ(strips[0].bytes[150 * 3], 255);
      EXPECT_EQ(strips[0].bytes[150 * 3 + 1], 255);
      EXPECT_EQ(strips[0].bytes[150 * 3 + 2], 0);
    }
    if (c.pixelType == TWPT_BW) {  // the white bar's first pixels: 1 in chocolate, 0 in vanilla
      EXPECT_EQ(strips[0].bytes[0], c.flavor == TWPF_CHOCOLATE ? 0xFF : 0x00) << what;
    }
    EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "the page is out";
    EXPECT_EQ(Status(), TWCC_SEQERROR);
    EXPECT_EQ(EndXfer(), TWRC_SUCCESS);
    EXPECT_EQ(State(), 5);
  }
}

// Both kinds of TW_MEMORY, and the buffers a strict source refuses (TWCC_BADVALUE, still in
// state 6).
TEST_F(MemoryTest, TheBufferIsAPointerOrAHandleTheApplicationOwns) {
  ToTransferReady();
  std::vector<uint8_t> buffer(65536);
  struct {
    TW_UINT32 flags;
    void* mem;
    TW_UINT32 length;
    const char* what;
  } refused[] = {
      {vs::kMemPointer, buffer.data(), 65536, "not the application's"},
      {kAppPointer | vs::kMemHandle, buffer.data(), 65536, "a pointer and a handle"},
      {vs::kMemAppOwns, buffer.data(), 65536, "neither"},
      {kAppPointer | vs::kMemDsOwns, buffer.data(), 65536, "the source's as well"},
      {kAppPointer, nullptr, 65536, "no memory"},
      {kAppPointer, buffer.data(), 2549, "less than a row"},
      {kAppPointer, buffer.data(), 1048577, "over the maximum"},
  };
  for (auto& r : refused) {
    vs::TW_IMAGEMEMXFER x{};
    x.Memory = vs::TW_MEMORY{r.flags, r.length, r.mem};
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x), TWRC_FAILURE) << r.what;
    EXPECT_EQ(Status(), TWCC_BADVALUE) << r.what;
    EXPECT_EQ(State(), 6) << r.what;
  }
  // A handle smaller than the length it comes with.
  TW_HANDLE small = HandleWith(std::vector<uint8_t>(4096));
  vs::TW_IMAGEMEMXFER x{};
  x.Memory = vs::TW_MEMORY{kAppHandle, 8192, small};
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);
  FreeHandle(small);
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADVALUE);

  auto byHandle = Page(65536, kAppHandle);
  EXPECT_EQ(byHandle.back().rc, TWRC_XFERDONE);
  EXPECT_EQ(Rows(byHandle, 2550), Expected(vscan::ScanSettings()));
}

TEST_F(MemoryTest, TheMechanismAndTheStateMustBeRight) {
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "state 4";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  ASSERT_EQ(Enable(false), TWRC_SUCCESS);
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "state 5";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Poll();
  ASSERT_EQ(State(), 6);
  TW_HANDLE h = nullptr;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_FAILURE) << "memory, not native";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Reopen();  // native
  ToTransferReady();
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "native, not memory";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(State(), 6);
}

// Rows may carry padding; the padding is not white.
TEST_F(MemoryTest, PaddingFollowsEveryRow) {
  EXPECT_EQ(VirtualScannerControl("memory-padding -1"), -1);
  ASSERT_EQ(VirtualScannerControl("memory-padding 5"), 0);
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWCC_SUCCESS);
  ToTransferReady();
  auto strips = Page(65536);
  EXPECT_EQ(strips.back().rc, TWRC_XFERDONE);
  for (const Strip& s : strips) {
    EXPECT_EQ(s.x.BytesPerRow, 855u);
    EXPECT_EQ(s.x.Rows, std::min<TW_UINT32>(65536 / 855, 1100 - s.x.YOffset));
    for (TW_UINT32 r = 0; r < s.x.Rows; ++r)
      for (int k = 850; k < 855; ++k) ASSERT_EQ(s.bytes[r * 855 + k], 0xA5) << r;
  }
  vscan::ScanSettings grey;
  grey.pixelType = TWPT_GRAY;
  EXPECT_EQ(Rows(strips, 850), Expected(grey));
}

// The length is unknown before the page, or the page ends early: DAT_IMAGEINFO after the last
// strip gives the rows that came.
TEST_F(MemoryTest, ThePageMayBeShorterOrOfUnknownLength) {
  ASSERT_EQ(VirtualScannerControl("memory-length-unknown"), 0);
  ASSERT_EQ(VirtualScannerControl("memory-rows-short 40"), 0);
  EXPECT_EQ(VirtualScannerControl("memory-rows-short -2"), -1);
  ToTransferReady();
  EXPECT_EQ(Info().ImageLength, -1);
  EXPECT_EQ(Info().ImageWidth, 850);
  auto strips = Page(65536);
  EXPECT_EQ(strips.back().rc, TWRC_XFERDONE);
  EXPECT_EQ(strips.back().x.YOffset + strips.back().x.Rows, 1060u);
  EXPECT_EQ(Info().ImageLength, 1060);
  ASSERT_EQ(EndXfer(), TWRC_SUCCESS);
  Disable();

  ASSERT_EQ(VirtualScannerControl("memory-length-unknown off"), 0);
  ToTransferReady();
  EXPECT_EQ(Info().ImageLength, 1100) << "what the page announces";
  Request(65536);
  EXPECT_EQ(Info().ImageLength, 1100) << "until it is out";
  ASSERT_EQ(EndXfer(), TWRC_SUCCESS);

  // Native transfers deliver whole pages.
  Reopen();
  ASSERT_EQ(VirtualScannerControl("memory-length-unknown"), 0);
  ToTransferReady();
  EXPECT_EQ(Info().ImageLength, 1100);
}

// A failure leaves the state as it was (6 on the first strip, 7 later) and the next request
// goes on; a cancel ends the page in state 7. Every page, counted from its first request.
TEST_F(MemoryTest, TheKthRequestOfEveryPageCanFailOrCancel) {
  EXPECT_EQ(VirtualScannerControl("memory-fail-at 2 2 0"), -1) << "failure or cancel only";
  EXPECT_EQ(VirtualScannerControl("memory-fail-at 0 1 0"), -1);
  ASSERT_EQ(VirtualScannerControl("memory-fail-at 2 1 5"), 0);
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ToTransferReady();
  for (int page = 0; page < 2; ++page) {
    Strip first = Request(65536);
    EXPECT_EQ(first.rc, TWRC_SUCCESS);
    EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << page;
    EXPECT_EQ(Status(), TWCC_OPERATIONERROR);
    EXPECT_EQ(State(), 7);
    Strip third = Request(65536);
    EXPECT_EQ(third.rc, TWRC_SUCCESS);
    EXPECT_EQ(third.x.YOffset, first.x.Rows) << "nothing was lost";
    EXPECT_EQ(EndXfer(), TWRC_SUCCESS) << "the application may end a page early";
  }
  EXPECT_EQ(State(), 5);

  ASSERT_EQ(VirtualScannerControl("memory-fail-at 1 1 20"), 0);
  Disable();
  ToTransferReady();
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), 20);
  EXPECT_EQ(State(), 6);
  EXPECT_EQ(Request(65536).x.YOffset, 0u) << "the first strip comes with the next request";
  EXPECT_EQ(EndXfer(), TWRC_SUCCESS);

  ASSERT_EQ(VirtualScannerControl("memory-fail-at 1 3 0"), 0);
  EXPECT_EQ(Request(65536).rc, TWRC_CANCEL);
  EXPECT_EQ(State(), 7);
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "a cancelled page is over";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(EndXfer(), TWRC_SUCCESS);
  EXPECT_EQ(State(), 5);

  ASSERT_EQ(VirtualScannerControl("memory-fail-at none"), 0);
  Disable();
  ToTransferReady();
  EXPECT_EQ(Page(65536).back().rc, TWRC_XFERDONE);
}

// The scanner's other endings reach memory transfers too: a cancel, a jam, a `fail`.
TEST_F(MemoryTest, CancelJamAndInjectedFaultsEndTheTransfer) {
  ASSERT_EQ(VirtualScannerControl("cancel-transfer"), 0);
  ToTransferReady();
  EXPECT_EQ(Request(65536).rc, TWRC_CANCEL);
  EXPECT_EQ(State(), 7);
  ASSERT_EQ(EndXfer(), TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("jam-at 1"), 0);
  Disable();
  ToTransferReady();
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_PAPERJAM);
  EXPECT_EQ(State(), 6);
  ASSERT_EQ(EndXfer(), TWRC_SUCCESS);
  Disable();
  ToTransferReady();
  ASSERT_EQ(Request(65536).rc, TWRC_SUCCESS);
  ASSERT_EQ(VirtualScannerControl("fail 2 0x103 1 3 0"), 0);
  EXPECT_EQ(Request(65536).rc, TWRC_CANCEL);
  EXPECT_EQ(Request(65536).rc, TWRC_FAILURE) << "cancelled in state 7: over";
  EXPECT_EQ(Status(), TWCC_SEQERROR);
}

// A batch whose first and third pages come in grey whatever was set (automatic colour
// detection): each page given keeps its own type.
TEST_F(MemoryTest, PagesOfTheBatchCanComeInAnotherPixelType) {
  EXPECT_EQ(VirtualScannerControl("pixel-type-at 2 3"), -1);
  EXPECT_EQ(VirtualScannerControl("pixel-type-at 0 1"), -1);
  ASSERT_EQ(VirtualScannerControl("pixel-type-at 1 1"), 0);
  ASSERT_EQ(VirtualScannerControl("pixel-type-at 3 0"), 0);
  ASSERT_EQ(VirtualScannerControl("pixel-type-at 3 1"), 0);  // the last type given for a page holds
  ASSERT_EQ(VirtualScannerControl("pages 3"), 0);
  ToTransferReady();
  const int bits[] = {8, 24, 8};
  for (int page = 0; page < 3; ++page) {
    TW_IMAGEINFO info = Info();
    EXPECT_EQ(info.BitsPerPixel, bits[page]) << page;
    EXPECT_EQ(info.PixelType, bits[page] == 8 ? TWPT_GRAY : TWPT_RGB) << page;
    auto strips = Page(65536);
    EXPECT_EQ(strips[0].x.BytesPerRow, 850u * bits[page] / 8) << page;
    EXPECT_EQ(strips.back().rc, TWRC_XFERDONE);
    EndXfer();
  }
  EXPECT_EQ(Query("cap 0x0101"), "2") << "the capability stays as set";
  // Native transfers follow it as well.
  Reopen();
  ASSERT_EQ(VirtualScannerControl("pixel-type-at none"), 0);
  ASSERT_EQ(VirtualScannerControl("pixel-type-at 1 0"), 0);
  ToTransferReady();
  EXPECT_EQ(Info().BitsPerPixel, 1);
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
  auto image = HandleBytes(h);
  FreeHandle(h);
  if (kWindowsBuild) {
    EXPECT_EQ(At<uint16_t>(image, 14), 1) << "a 1-bit DIB";
  }
}

// The page is rendered strip by strip: a 600 dpi colour page of 100 MB is never held.
TEST_F(MemoryTest, ThePageIsNeverWholeInTheScanner) {
  ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 600), TWCC_SUCCESS);
  ASSERT_EQ(SetFix(ICAP_YRESOLUTION, 600), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Query("memory-held"), "0");
  size_t most = 0, rows = 0;
  std::vector<uint8_t> buffer(1048576);
  for (;;) {
    vs::TW_IMAGEMEMXFER x{};
    x.Memory = vs::TW_MEMORY{kAppPointer, TW_UINT32(buffer.size()), buffer.data()};
    TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
    ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE);
    rows += x.Rows;
    if (rc == TWRC_XFERDONE) break;
    most = std::max(most, size_t(std::stoul(Query("memory-held"))));
  }
  EXPECT_EQ(rows, 6600u);
  EXPECT_GT(most, 0u);
  EXPECT_LT(most, 100000u) << "a few rows of 15,300 bytes";
  EXPECT_EQ(Query("memory-held"), "0");
}

namespace {

// The JPEG markers of a stream, each with its segment's bytes (none for SOI and EOI); stops at
// the start of scan. Empty when the stream is not one.
std::vector<std::pair<int, std::vector<uint8_t>>> Segments(const std::vector<uint8_t>& j) {
  std::vector<std::pair<int, std::vector<uint8_t>>> out;
  if (j.size() < 4 || j[0] != 0xFF || j[1] != 0xD8) return {};
  out.push_back({0xD8, {}});
  size_t at = 2;
  while (at + 4 <= j.size() && j[at] == 0xFF) {
    const int marker = j[at + 1];
    const size_t length = size_t(j[at + 2]) << 8 | j[at + 3];
    if (at + 2 + length > j.size()) return {};
    out.push_back({marker, std::vector<uint8_t>(j.begin() + at + 4, j.begin() + at + 2 + length)});
    if (marker == 0xDA) break;
    at += 2 + length;
  }
  return out;
}

}  // namespace

// TWCP_JPEG: one JFIF stream over the strips, every buffer but the last filled, a comment
// segment; black-and-white pages come uncompressed.
TEST_F(MemoryTest, JpegStripsCarryOneJfifStream) {
  struct {
    TW_UINT16 pixelType;
    int components;
  } cases[] = {{TWPT_GRAY, 1}, {TWPT_RGB, 3}};
  for (auto& c : cases) {
    Reopen();
    ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_SUCCESS);
    ASSERT_EQ(Set16(ICAP_COMPRESSION, TWTY_UINT16, vs::kCompressionJpeg), TWCC_SUCCESS);
    ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, c.pixelType), TWCC_SUCCESS);
    ToTransferReady();
    EXPECT_EQ(Info().Compression, vs::kCompressionJpeg);
    auto strips = Page(4096);
    ASSERT_GT(strips.size(), 1u);
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < strips.size(); ++i) {
      const Strip& s = strips[i];
      const bool last = i + 1 == strips.size();
      EXPECT_EQ(s.rc, last ? TWRC_XFERDONE : TWRC_SUCCESS);
      EXPECT_EQ(s.x.Compression, vs::kCompressionJpeg);
      EXPECT_EQ(s.x.BytesPerRow, 0u);
      EXPECT_EQ(s.x.Columns, 850u);
      if (!last) {
        EXPECT_EQ(s.x.BytesWritten, 4096u) << i;
      }
      EXPECT_GT(s.x.BytesWritten, 0u);
      stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
    }
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[stream.size() - 2], 0xFF);
    EXPECT_EQ(stream[stream.size() - 1], 0xD9) << "EOI last";
    auto segments = Segments(stream);
    ASSERT_GT(segments.size(), 3u);
    EXPECT_EQ(segments[1].first, 0xE0) << "JFIF's APP0 first";
    EXPECT_EQ(std::string(segments[1].second.begin(), segments[1].second.begin() + 5),
              std::string("JFIF\0", 5));
    bool comment = false, frame = false;
    for (auto& seg : segments) {
      if (seg.first == 0xFE) comment = std::string(seg.second.begin(), seg.second.end()) == "Virtual Scanner";
      if (seg.first == 0xC0 || seg.first == 0xC1 || seg.first == 0xC2) {
        frame = true;
        EXPECT_EQ(seg.second[1] << 8 | seg.second[2], 1100) << "height";
        EXPECT_EQ(seg.second[3] << 8 | seg.second[4], 850) << "width";
        EXPECT_EQ(seg.second[5], c.components);
      }
    }
    EXPECT_TRUE(comment);
    EXPECT_TRUE(frame);
    EXPECT_EQ(Info().ImageLength, 1100);
    // The platform's decoder gives the page back, within what JPEG loses at the bars' edges.
    Decoded page = DecodeJpeg(stream);
    ASSERT_EQ(page.width, 850);
    ASSERT_EQ(page.height, 1100);
    ASSERT_EQ(page.components, c.components);
    vscan::ScanSettings settings;
    settings.pixelType = c.pixelType;
    const std::vector<uint8_t> rendered = Expected(settings);
    ASSERT_EQ(page.pixels.size(), rendered.size());
    double difference = 0;
    for (size_t i = 0; i < rendered.size(); ++i) difference += std::abs(int(page.pixels[i]) - int(rendered[i]));
    EXPECT_LT(difference / double(rendered.size()), 2.0) << "mean difference per sample";
  }
  Reopen();
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWCC_SUCCESS);
  ASSERT_EQ(Set16(ICAP_COMPRESSION, TWTY_UINT16, vs::kCompressionJpeg), TWCC_SUCCESS);
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWCC_SUCCESS);
  ToTransferReady();
  EXPECT_EQ(Info().Compression, vs::kCompressionNone);
  Strip s = Request(65536);
  EXPECT_EQ(s.x.Compression, vs::kCompressionNone);
  EXPECT_EQ(s.x.BytesPerRow, 107u);
}
