// Image information and the two transfer mechanisms, from the current capabilities.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "standins/virtual-scanner/tests/support.h"

namespace {

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST_F(ScannerTest, ImageInfoFollowsTheCapabilities) {
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWCC_SUCCESS);
  ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 300), TWCC_SUCCESS);
  ASSERT_EQ(SetFix(ICAP_YRESOLUTION, 300), TWCC_SUCCESS);
  ASSERT_EQ(Set(ICAP_FRAMES, OneValueOf(TWTY_FRAME, TW_FRAME{Fix(1), Fix(2), Fix(2), Fix(3)})), TWCC_SUCCESS);
  ToTransferReady();
  TW_IMAGEINFO info{};
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  EXPECT_EQ(info.ImageWidth, 300);
  EXPECT_EQ(info.ImageLength, 300);
  EXPECT_EQ(Fix(info.XResolution), 300);
  EXPECT_EQ(info.BitsPerPixel, 1);
  EXPECT_EQ(info.SamplesPerPixel, 1);
  EXPECT_EQ(info.PixelType, TWPT_BW);
}

TEST_F(ScannerTest, NativeTransferHandsOverThePlatformsImage) {
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWCC_SUCCESS);
  ToTransferReady();
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
  auto b = HandleBytes(h);
  FreeHandle(h);
  if (kWindowsBuild) {
    ASSERT_GT(b.size(), 40u + 1024u);
    EXPECT_EQ(At<uint32_t>(b, 0), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(At<int32_t>(b, 4), 850);
    EXPECT_EQ(At<int32_t>(b, 8), 1100);  // bottom-up
    EXPECT_EQ(At<uint16_t>(b, 14), 8);
    EXPECT_EQ(At<uint32_t>(b, 40 + 4 * 255), 0x00FFFFFFu);  // 256 greys
    EXPECT_EQ(b.size(), 40u + 1024u + 852u * 1100u);
  } else {
    ASSERT_GT(b.size(), 40u);
    EXPECT_EQ(At<uint16_t>(b, 10), 0x1100);  // 0x0011 big-endian: version opcode
    EXPECT_EQ(At<uint16_t>(b, 12), 0xFF02);  // version 2
  }
}

TEST_F(ScannerTest, MechanismMustMatchTheTransfer) {
  ToTransferReady();
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  EXPECT_EQ(State(), 6);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SUCCESS);
  ToTransferReady();
  TW_HANDLE h = nullptr;
  EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_FAILURE);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(State(), 6);
}

TEST_F(ScannerTest, SetupFileXferOffersTiffBmpAndPng) {
  TW_SETUPFILEXFER s{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &s), TWRC_SUCCESS);
  EXPECT_EQ(s.Format, TWFF_BMP);
  for (TW_UINT16 f : {TWFF_PICT, TWFF_XBM, TWFF_JFIF, TWFF_TIFFMULTI, TWFF_EXIF, TW_UINT16(99)}) {
    s.Format = f;
    EXPECT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &s), TWRC_FAILURE) << f;
    EXPECT_EQ(Status(), TWCC_BADVALUE);
  }
  tw::PutString(s.FileName, sizeof s.FileName, "chosen.png", nat::kPascalStrings);
  s.Format = TWFF_PNG;
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &s), TWRC_SUCCESS);
  TW_SETUPFILEXFER back{};
  ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &back), TWRC_SUCCESS);
  EXPECT_EQ(back.Format, TWFF_PNG);
  EXPECT_EQ(std::memcmp(back.FileName, s.FileName, sizeof s.FileName), 0);
  EXPECT_EQ(Query("cap 0x110C"), "7") << "the format and the capability are one setting";
}

// `file-formats`: a scanner with fewer formats, or with no file transfer at all, from the next
// open on (and `reset` brings all three back).
TEST_F(ScannerTest, FileFormatsCanBeNarrowedOrTakenAway) {
  EXPECT_EQ(VirtualScannerControl("file-formats 4"), -1);  // one it cannot write
  EXPECT_EQ(VirtualScannerControl("file-formats 7,7"), -1);
  EXPECT_EQ(VirtualScannerControl("file-formats"), -1);
  ASSERT_EQ(VirtualScannerControl("file-formats 7,0"), 0);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x110C"), "7");
  EXPECT_EQ(Set16(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_BMP), TWCC_BADVALUE);
  EXPECT_EQ(Set16(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_TIFF), TWCC_SUCCESS);

  ASSERT_EQ(VirtualScannerControl("file-formats none"), 0);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  TW_UINT16 rc = 0;
  EXPECT_TRUE(Get(ICAP_IMAGEFILEFORMAT, nullptr, MSG_GET, &rc).empty());
  EXPECT_EQ(Status(), TWCC_CAPUNSUPPORTED);
  EXPECT_EQ(Query("cap 0x0103"), "0");  // XFERMECH native, the only one left
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_BADVALUE);
  TW_SETUPFILEXFER s{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &s), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_BADPROTOCOL);
  EXPECT_EQ(Query("cap 0x1005").find("4364"), std::string::npos) << "SUPPORTEDCAPS without IMAGEFILEFORMAT";

  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x110C"), "2");
}

TEST_F(ScannerTest, FileTransferWritesEachFormat) {
  struct {
    TW_UINT16 format;
    const char* name;
    std::vector<uint8_t> magic;
  } files[] = {
      {TWFF_TIFF, "vs_out.tif", {'I', 'I', 42, 0}},
      {TWFF_BMP, "vs_out.bmp", {'B', 'M'}},
      {TWFF_PNG, "vs_out.png", {0x89, 'P', 'N', 'G'}},
  };
  ASSERT_EQ(Set(ICAP_FRAMES, OneValueOf(TWTY_FRAME, TW_FRAME{Fix(0), Fix(0), Fix(1), Fix(1)})), TWCC_SUCCESS);
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SUCCESS);
  for (auto& f : files) {
    std::remove(f.name);
    ToTransferReady();
    TW_SETUPFILEXFER s{};
    tw::PutString(s.FileName, sizeof s.FileName, f.name, nat::kPascalStrings);
    s.Format = f.format;
    ASSERT_EQ(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &s), TWRC_SUCCESS);
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
    EXPECT_EQ(State(), 7);
    auto bytes = ReadFile(f.name);
    ASSERT_GE(bytes.size(), f.magic.size()) << f.name;
    EXPECT_TRUE(std::equal(f.magic.begin(), f.magic.end(), bytes.begin())) << f.name;
    TW_PENDINGXFERS p{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    std::remove(f.name);
  }
}

TEST_F(ScannerTest, PixelFlavourInvertsGreySamples) {
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWCC_SUCCESS);
  ASSERT_EQ(Set(ICAP_FRAMES, OneValueOf(TWTY_FRAME, TW_FRAME{Fix(0), Fix(0), Fix(1), Fix(1)})), TWCC_SUCCESS);
  auto scan = [&] {
    ToTransferReady();
    TW_HANDLE h = nullptr;
    EXPECT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    auto b = HandleBytes(h);
    FreeHandle(h);
    Close();
    Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self);
    return b;
  };
  auto chocolate = scan();
  ASSERT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), TWCC_SUCCESS);
  ASSERT_EQ(Set(ICAP_FRAMES, OneValueOf(TWTY_FRAME, TW_FRAME{Fix(0), Fix(0), Fix(1), Fix(1)})), TWCC_SUCCESS);
  ASSERT_EQ(Set16(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_VANILLA), TWCC_SUCCESS);
  auto vanilla = scan();
  ASSERT_EQ(chocolate.size(), vanilla.size());
  EXPECT_NE(chocolate, vanilla);
  if (kWindowsBuild) {  // the white bar: 255 becomes 0; the colour table stays
    size_t bits = 40 + 1024;
    EXPECT_EQ(chocolate[bits], 255);
    EXPECT_EQ(vanilla[bits], 0);
    EXPECT_TRUE(std::equal(chocolate.begin(), chocolate.begin() + bits, vanilla.begin()));
  }
}

TEST_F(ScannerTest, OpeningTheSourceAgainRestoresTheProfileUnlessToldToKeepIt) {
  ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 600), TWCC_SUCCESS);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1118"), "100");
  // A source that remembers its settings between sessions.
  ASSERT_EQ(VirtualScannerControl("settings keep"), 0);
  ASSERT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SUCCESS);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x0103"), "1");
  ASSERT_EQ(VirtualScannerControl("settings reset"), 0);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x0103"), "0");
}

// A cancelled transfer is over only with MSG_ENDXFER; a failed one leaves the image ready.
TEST_F(ScannerTest, ACancelledTransferStaysInStateSevenAFailedOneInSix) {
  for (TW_UINT16 dat : {DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER}) {
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
    ToTransferReady();
    ASSERT_EQ(VirtualScannerControl(("fail 2 " + std::to_string(dat) + " 1 3 0").c_str()), 0);
    TW_HANDLE h = nullptr;
    EXPECT_EQ(Call(DG_IMAGE, dat, MSG_GET, &h), TWRC_CANCEL);
    EXPECT_EQ(State(), 7) << dat;
    TW_PENDINGXFERS p{};
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p), TWRC_FAILURE) << "not in state 7";
    EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
    EXPECT_EQ(State(), 5) << dat;
    Close();
    ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
    ToTransferReady();
    ASSERT_EQ(VirtualScannerControl(("fail 2 " + std::to_string(dat) + " 1 1 4").c_str()), 0);
    EXPECT_EQ(Call(DG_IMAGE, dat, MSG_GET, &h), TWRC_FAILURE);
    EXPECT_EQ(State(), 6) << dat;
  }
}

// A transfer the source cancels stays in state 7: MSG_RESET and MSG_DISABLEDS are sequence
// errors there, and only MSG_ENDXFER leaves it. The next transfer is a normal one.
TEST_F(ScannerTest, ACancelledTransferStaysInState7UntilItIsEnded) {
  ASSERT_EQ(VirtualScannerControl("cancel-transfer"), 0);
  ToTransferReady();
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_CANCEL);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(State(), 7);
  TW_PENDINGXFERS p{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &p), TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  TW_USERINTERFACE ui{};
  EXPECT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
  EXPECT_EQ(State(), 7);
  ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
  EXPECT_EQ(State(), 5);
  ASSERT_EQ(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  ToTransferReady();
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE)
      << "one transfer only is cancelled";
  FreeHandle(h);
}
