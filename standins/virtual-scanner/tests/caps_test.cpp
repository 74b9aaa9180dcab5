// The capability profile: containers in the build's layout, every MSG_SET rule, and the
// scripted answers that reach the paths a faulty source would.
#include "standins/virtual-scanner/tests/support.h"

namespace {

// An empty array is only its header: the struct's ItemList is not there to be read.
std::vector<uint16_t> ArrayItems(const std::vector<uint8_t>& b) {
  auto count = At<uint32_t>(b, offsetof(nat::TW_ARRAY, NumItems));
  std::vector<uint16_t> v;
  for (uint32_t i = 0; i < count; ++i) v.push_back(At<uint16_t>(b, offsetof(nat::TW_ARRAY, ItemList) + 2 * i));
  return v;
}

}  // namespace

TEST_F(ScannerTest, SupportedCapsListTheProfileInOrder) {
  TW_UINT16 ct = 0;
  auto b = Get(CAP_SUPPORTEDCAPS, &ct);
  ASSERT_EQ(ct, TWON_ARRAY);
  std::vector<uint16_t> expected = {
      CAP_XFERCOUNT,          CAP_SUPPORTEDCAPS,  CAP_UICONTROLLABLE,  CAP_INDICATORS,   ICAP_PIXELTYPE,
      ICAP_BITDEPTH,          ICAP_UNITS,         ICAP_XRESOLUTION,    ICAP_YRESOLUTION, ICAP_XNATIVERESOLUTION,
      ICAP_YNATIVERESOLUTION, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, ICAP_FRAMES,      ICAP_BRIGHTNESS,
      ICAP_CONTRAST,          ICAP_THRESHOLD,     ICAP_PIXELFLAVOR,    ICAP_XFERMECH,    ICAP_IMAGEFILEFORMAT,
      ICAP_COMPRESSION,       ICAP_HALFTONES,     ICAP_GAMMA,          CAP_DUPLEX,       CAP_EXTENDEDCAPS};
  EXPECT_EQ(ArrayItems(b), expected);
  EXPECT_EQ(b.size(), offsetof(nat::TW_ARRAY, ItemList) + 2 * expected.size());
  // Nothing is negotiated late until the application lists it.
  EXPECT_EQ(ArrayItems(Get(CAP_EXTENDEDCAPS, &ct)), std::vector<uint16_t>{});
  EXPECT_EQ(ct, TWON_ARRAY);
  // Every listed capability answers MSG_GET.
  for (uint16_t id : expected) {
    TW_UINT16 rc = 0;
    EXPECT_FALSE(Get(id, &ct, MSG_GET, &rc).empty()) << id;
    EXPECT_EQ(rc, TWRC_SUCCESS) << id;
  }
}

TEST_F(ScannerTest, ContainersAreInTheBuildsLayout) {
  TW_UINT16 ct = 0;
  auto res = Get(ICAP_XRESOLUTION, &ct);
  ASSERT_EQ(ct, TWON_ENUMERATION);
  auto e = At<nat::TW_ENUMERATION>(res, 0);
  EXPECT_EQ(e.ItemType, TWTY_FIX32);
  ASSERT_EQ(e.NumItems, 7u);
  EXPECT_EQ(e.CurrentIndex, 1u);
  EXPECT_EQ(e.DefaultIndex, 1u);
  ASSERT_EQ(res.size(), offsetof(nat::TW_ENUMERATION, ItemList) + 28);
  const double values[] = {75, 100, 150, 200, 300, 600, 1200};
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(Fix(At<TW_FIX32>(res, offsetof(nat::TW_ENUMERATION, ItemList) + 4 * i)), values[i]);

  auto br = Get(ICAP_BRIGHTNESS, &ct);
  ASSERT_EQ(ct, TWON_RANGE);
  ASSERT_EQ(br.size(), sizeof(nat::TW_RANGE));
  auto r = At<nat::TW_RANGE>(br, 0);
  EXPECT_EQ(r.ItemType, TWTY_FIX32);
  EXPECT_EQ(Fix(At<TW_FIX32>(br, offsetof(nat::TW_RANGE, MinValue))), -1000);
  EXPECT_EQ(Fix(At<TW_FIX32>(br, offsetof(nat::TW_RANGE, MaxValue))), 1000);
  EXPECT_EQ(Fix(At<TW_FIX32>(br, offsetof(nat::TW_RANGE, StepSize))), 1);
  EXPECT_EQ(Fix(At<TW_FIX32>(br, offsetof(nat::TW_RANGE, CurrentValue))), 0);
  EXPECT_EQ(Fix(At<TW_FIX32>(Get(ICAP_THRESHOLD), offsetof(nat::TW_RANGE, DefaultValue))), 128);

  auto xc = Get(CAP_XFERCOUNT, &ct);
  ASSERT_EQ(ct, TWON_ONEVALUE);
  EXPECT_EQ(At<nat::TW_ONEVALUE>(xc, 0).ItemType, TWTY_INT16);
  EXPECT_EQ(At<int16_t>(xc, offsetof(nat::TW_ONEVALUE, Item)), -1);

  auto fr = Get(ICAP_FRAMES, &ct);
  ASSERT_EQ(fr.size(), offsetof(nat::TW_ONEVALUE, Item) + sizeof(TW_FRAME));
  auto f = At<TW_FRAME>(fr, offsetof(nat::TW_ONEVALUE, Item));
  EXPECT_EQ(Fix(f.Left), 0);
  EXPECT_EQ(Fix(f.Top), 0);
  EXPECT_EQ(Fix(f.Right), 8.5);
  EXPECT_EQ(Fix(f.Bottom), 11);
  EXPECT_NEAR(Fix(At<TW_FIX32>(Get(ICAP_GAMMA), offsetof(nat::TW_ONEVALUE, Item))), 2.2, 1e-4);

  auto ht = Get(ICAP_HALFTONES, &ct);
  ASSERT_EQ(ct, TWON_ENUMERATION);
  ASSERT_EQ(ht.size(), offsetof(nat::TW_ENUMERATION, ItemList) + 3 * 34);
  const char* names[] = {"None", "Dither", "Diffusion"};
  for (int i = 0; i < 3; ++i) {
    const char* item =
        reinterpret_cast<const char*>(ht.data()) + offsetof(nat::TW_ENUMERATION, ItemList) + 34 * i;
    std::string got = nat::kPascalStrings ? std::string(item + 1, size_t(uint8_t(item[0]))) : std::string(item);
    EXPECT_EQ(got, names[i]);
  }
}

TEST_F(ScannerTest, CurrentDefaultAndReset) {
  ASSERT_EQ(SetFix(ICAP_XRESOLUTION, 300), TWCC_SUCCESS);
  TW_UINT16 ct = 0;
  auto cur = Get(ICAP_XRESOLUTION, &ct, MSG_GETCURRENT);
  EXPECT_EQ(ct, TWON_ONEVALUE);
  EXPECT_EQ(Fix(At<TW_FIX32>(cur, offsetof(nat::TW_ONEVALUE, Item))), 300);
  EXPECT_EQ(Fix(At<TW_FIX32>(Get(ICAP_XRESOLUTION, &ct, MSG_GETDEFAULT), offsetof(nat::TW_ONEVALUE, Item))),
            100);
  EXPECT_EQ(Query("cap 0x1118"), "300");
  auto reset = Get(ICAP_XRESOLUTION, &ct, MSG_RESET);
  EXPECT_EQ(At<nat::TW_ENUMERATION>(reset, 0).CurrentIndex, 1u);
  EXPECT_EQ(Query("cap 4376"), "100");
}

TEST_F(ScannerTest, SetChecksEveryRuleOfTheProfile) {
  struct Case {
    TW_UINT16 id;
    std::vector<uint8_t> bytes;
    TW_UINT16 cc;
    const char* after;
  };
  auto frame = [](double l, double t, double r, double b) {
    return OneValueOf(TWTY_FRAME, TW_FRAME{Fix(l), Fix(t), Fix(r), Fix(b)});
  };
  char none[34] = {}, dither[34] = {};
  tw::PutString(none, 34, "Nothing", nat::kPascalStrings);
  tw::PutString(dither, 34, "Dither", nat::kPascalStrings);
  std::vector<Case> cases = {
      {CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(0)), TWCC_BADVALUE, "-1"},
      {CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(-2)), TWCC_BADVALUE, "-1"},
      {CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(32767)), TWCC_SUCCESS, "32767"},
      {CAP_XFERCOUNT, OneValueOf(TWTY_INT16, int16_t(-1)), TWCC_SUCCESS, "-1"},
      {CAP_INDICATORS, OneValueOf(TWTY_BOOL, uint16_t(5)), TWCC_BADVALUE, "1"},
      {CAP_INDICATORS, OneValueOf(TWTY_BOOL, uint16_t(0x100)), TWCC_BADVALUE, "1"},
      {CAP_INDICATORS, OneValueOf(TWTY_BOOL, uint16_t(0)), TWCC_SUCCESS, "0"},
      {ICAP_PIXELTYPE, OneValueOf(TWTY_UINT16, uint16_t(3)), TWCC_BADVALUE, "2"},
      {ICAP_PIXELTYPE, OneValueOf(TWTY_UINT16, uint16_t(1)), TWCC_SUCCESS, "1"},
      {ICAP_BITDEPTH, OneValueOf(TWTY_UINT16, uint16_t(24)), TWCC_BADVALUE, "8"},
      {ICAP_BITDEPTH, OneValueOf(TWTY_UINT16, uint16_t(8)), TWCC_SUCCESS, "8"},
      {ICAP_UNITS, OneValueOf(TWTY_UINT16, uint16_t(1)), TWCC_BADVALUE, "0"},
      {ICAP_YRESOLUTION, OneValueOf(TWTY_FIX32, Fix(72)), TWCC_BADVALUE, "100"},
      {ICAP_YRESOLUTION, OneValueOf(TWTY_FIX32, Fix(600)), TWCC_SUCCESS, "600"},
      {ICAP_FRAMES, frame(1, 1, 2, 2), TWCC_SUCCESS, "1,1,2,2"},
      {ICAP_FRAMES, frame(0, 0, 8.6, 11), TWCC_BADVALUE, "1,1,2,2"},
      {ICAP_FRAMES, frame(0, 0, 8.5, 14.5), TWCC_BADVALUE, "1,1,2,2"},
      {ICAP_FRAMES, frame(-1, 0, 2, 2), TWCC_BADVALUE, "1,1,2,2"},
      {ICAP_FRAMES, frame(2, 0, 2, 2), TWCC_BADVALUE, "1,1,2,2"},
      {ICAP_FRAMES, frame(0, 3, 2, 2), TWCC_BADVALUE, "1,1,2,2"},
      {ICAP_FRAMES, frame(0, 0, 8.5, 14), TWCC_SUCCESS, "0,0,8.5,14"},
      {ICAP_FRAMES, frame(0, 0, 8.5, 11), TWCC_SUCCESS, "0,0,8.5,11"},
      {ICAP_BRIGHTNESS, OneValueOf(TWTY_FIX32, Fix(1000)), TWCC_SUCCESS, "1000"},
      {ICAP_BRIGHTNESS, OneValueOf(TWTY_FIX32, Fix(1001)), TWCC_BADVALUE, "1000"},
      {ICAP_CONTRAST, OneValueOf(TWTY_FIX32, Fix(-1000)), TWCC_SUCCESS, "-1000"},
      {ICAP_CONTRAST, OneValueOf(TWTY_FIX32, Fix(-1000.5)), TWCC_BADVALUE, "-1000"},
      {ICAP_THRESHOLD, OneValueOf(TWTY_FIX32, Fix(255.5)), TWCC_BADVALUE, "128"},
      {ICAP_THRESHOLD, OneValueOf(TWTY_FIX32, Fix(0)), TWCC_SUCCESS, "0"},
      {ICAP_PIXELFLAVOR, OneValueOf(TWTY_UINT16, uint16_t(2)), TWCC_BADVALUE, "0"},
      {ICAP_PIXELFLAVOR, OneValueOf(TWTY_UINT16, uint16_t(1)), TWCC_SUCCESS, "1"},
      {ICAP_XFERMECH, OneValueOf(TWTY_UINT16, uint16_t(3)), TWCC_BADVALUE, "0"},
      {ICAP_XFERMECH, OneValueOf(TWTY_UINT16, uint16_t(TWSX_MEMORY)), TWCC_SUCCESS, "2"},
      {ICAP_IMAGEFILEFORMAT, OneValueOf(TWTY_UINT16, uint16_t(TWFF_JFIF)), TWCC_BADVALUE, "2"},
      {ICAP_IMAGEFILEFORMAT, OneValueOf(TWTY_UINT16, uint16_t(TWFF_PNG)), TWCC_SUCCESS, "7"},
      {ICAP_COMPRESSION, OneValueOf(TWTY_UINT16, uint16_t(1)), TWCC_BADVALUE, "0"},
      {ICAP_COMPRESSION, OneValueOf(TWTY_UINT16, uint16_t(6)), TWCC_SUCCESS, "6"},
      {ICAP_HALFTONES, OneValueOf(TWTY_STR32, none), TWCC_BADVALUE, "None"},
      {ICAP_HALFTONES, OneValueOf(TWTY_STR32, dither), TWCC_SUCCESS, "Dither"},
      {ICAP_GAMMA, OneValueOf(TWTY_FIX32, Fix(0.05)), TWCC_BADVALUE, "2.2"},
      {ICAP_GAMMA, OneValueOf(TWTY_FIX32, Fix(10.5)), TWCC_BADVALUE, "2.2"},
      {ICAP_GAMMA, OneValueOf(TWTY_FIX32, Fix(10)), TWCC_SUCCESS, "10"},
      // Wrong item type, too small a container, another container type.
      {ICAP_PIXELTYPE, OneValueOf(TWTY_UINT32, uint32_t(1)), TWCC_BADVALUE, "1"},
      {ICAP_FRAMES, OneValueOf(TWTY_FRAME, uint32_t(0)), TWCC_BADVALUE, "0,0,8.5,11"},
      {0x9999, OneValueOf(TWTY_UINT16, uint16_t(0)), TWCC_CAPUNSUPPORTED, "?"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Set(c.id, c.bytes), c.cc) << std::hex << c.id << " " << c.after;
    EXPECT_EQ(Query("cap " + std::to_string(c.id)), c.after) << std::hex << c.id;
  }
  EXPECT_EQ(Set(ICAP_PIXELTYPE, Get(ICAP_PIXELTYPE), TWON_ENUMERATION), TWCC_BADVALUE);
}

TEST_F(ScannerTest, ReadOnlyCapabilitiesRefuseEveryValue) {
  for (TW_UINT16 id : {CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE, ICAP_XNATIVERESOLUTION, ICAP_YNATIVERESOLUTION,
                       ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, CAP_DUPLEX}) {
    EXPECT_EQ(Set(id, OneValueOf(TWTY_UINT16, uint16_t(0))), TWCC_CAPBADOPERATION) << std::hex << id;
  }
}

TEST_F(ScannerTest, SetIsForStateFourOnly) {
  ToTransferReady();  // state 6
  for (TW_UINT16 id : {ICAP_XRESOLUTION, ICAP_XFERMECH, ICAP_IMAGEFILEFORMAT, CAP_EXTENDEDCAPS}) {
    EXPECT_EQ(Set16(id, TWTY_UINT16, 0), TWCC_SEQERROR) << std::hex << id;
  }
  EXPECT_EQ(Query("cap 0x0103"), "0");
  // A capability answered from a script follows the same rule.
  ASSERT_EQ(VirtualScannerControl("script-get 0x1101 5 0 070000000000"), 0);
  Get(ICAP_BRIGHTNESS);
  EXPECT_EQ(SetFix(ICAP_BRIGHTNESS, 5), TWCC_SEQERROR);
  TW_UINT16 rc = 0;
  Get(ICAP_XRESOLUTION, nullptr, MSG_RESET, &rc);
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(Status(), TWCC_SEQERROR);
  Close();
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  Enable(false);  // state 5, not reported yet
  ASSERT_EQ(State(), 5);
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SEQERROR);
}

TEST_F(ScannerTest, ExtendedCapsOpenStatesFiveAndSixForWhatWasListed) {
  // Only what the source offers may be listed, and only in state 4; a refused list changes nothing.
  EXPECT_EQ(Set(CAP_EXTENDEDCAPS, ArrayOf16({ICAP_XFERMECH, ICAP_PIXELTYPE}), TWON_ARRAY), TWCC_BADVALUE);
  EXPECT_EQ(Query("cap 0x1006"), "");
  EXPECT_EQ(Set(CAP_EXTENDEDCAPS, ArrayOf16({ICAP_XFERMECH}), TWON_ARRAY), TWCC_SUCCESS);
  TW_UINT16 ct = 0;
  EXPECT_EQ(ArrayItems(Get(CAP_EXTENDEDCAPS, &ct)), std::vector<uint16_t>{ICAP_XFERMECH});
  Enable(false);
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SUCCESS) << "state 5";
  Poll();
  ASSERT_EQ(State(), 6);
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE), TWCC_SUCCESS) << "state 6";
  EXPECT_EQ(Set16(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_TIFF), TWCC_SEQERROR) << "not listed";
  EXPECT_EQ(Set16(ICAP_PIXELTYPE, TWTY_UINT16, 0), TWCC_SEQERROR);
  TW_HANDLE h = nullptr;
  ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
  FreeHandle(h);
  EXPECT_EQ(Set16(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE), TWCC_SEQERROR) << "state 7";
  Close();
  // One value works as a list of one; MSG_RESET empties the list.
  ASSERT_EQ(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self), TWRC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1006"), "") << "a new session starts without";
  EXPECT_EQ(Set16(CAP_EXTENDEDCAPS, TWTY_UINT16, ICAP_IMAGEFILEFORMAT), TWCC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1006"), "4364");
  Get(CAP_EXTENDEDCAPS, nullptr, MSG_RESET);
  EXPECT_EQ(Query("cap 0x1006"), "");
  EXPECT_EQ(Set(CAP_EXTENDEDCAPS, ArrayOf16({}), TWON_ENUMERATION), TWCC_BADVALUE);
}

TEST_F(ScannerTest, SetTakesTheContainerTheApplicationRewroteInPlace) {
  // An application rewrites the enumeration it got into a TW_ONEVALUE and sends it back.
  auto b = Get(ICAP_HALFTONES);
  nat::TW_ONEVALUE one{};
  one.ItemType = TWTY_STR32;
  std::memcpy(b.data(), &one, offsetof(nat::TW_ONEVALUE, Item));
  tw::PutString(reinterpret_cast<char*>(b.data()) + offsetof(nat::TW_ONEVALUE, Item), 34, "Diffusion",
                nat::kPascalStrings);
  EXPECT_EQ(Set(ICAP_HALFTONES, b), TWCC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1109"), "Diffusion");
  auto fr = Get(ICAP_FRAMES);
  auto* f = reinterpret_cast<TW_FRAME*>(fr.data() + offsetof(nat::TW_ONEVALUE, Item));
  f->Right = Fix(1.0);
  f->Bottom = Fix(1.0);
  EXPECT_EQ(Set(ICAP_FRAMES, fr), TWCC_SUCCESS);
  EXPECT_EQ(Query("cap 0x1114"), "0,0,1,1");
  EXPECT_EQ(
      Query("last-set 0x1114"), std::to_string(TWON_ONEVALUE) + " " + [&] {
        std::string s;
        char d[3];
        for (uint8_t c : fr) {
          std::snprintf(d, sizeof d, "%02X", c);
          s += d;
        }
        return s;
      }());
}

TEST_F(ScannerTest, ScriptedAnswersComeOnceAndInOrder) {
  ASSERT_EQ(VirtualScannerControl("script-get 0x1118 6 0 0700010002000300"), 0);
  ASSERT_EQ(VirtualScannerControl("script-get 0x1118 5 0"), 0);
  ASSERT_EQ(VirtualScannerControl("script-get 0x1118 4 1"), 0);
  TW_UINT16 ct = 0, rc = 0;
  EXPECT_EQ(Get(ICAP_XRESOLUTION, &ct, MSG_GET, &rc), (std::vector<uint8_t>{7, 0, 1, 0, 2, 0, 3, 0}));
  EXPECT_EQ(ct, TWON_RANGE);
  EXPECT_EQ(rc, TWRC_SUCCESS);
  EXPECT_TRUE(Get(ICAP_XRESOLUTION, &ct, MSG_GET, &rc).empty()) << "no container";
  EXPECT_EQ(ct, TWON_ONEVALUE);
  Get(ICAP_XRESOLUTION, &ct, MSG_GET, &rc);
  EXPECT_EQ(rc, TWRC_FAILURE);
  EXPECT_EQ(ct, TWON_ENUMERATION);
  EXPECT_EQ(At<nat::TW_ENUMERATION>(Get(ICAP_XRESOLUTION, &ct), 0).NumItems, 7u) << "profile again";
  // Scripted MSG_SET answers, recorded like any other; the profile is not changed.
  ASSERT_EQ(VirtualScannerControl("script-set 0x1118 2 0"), 0);
  TW_CAPABILITY cap{ICAP_XRESOLUTION, TWON_ONEVALUE, HandleWith(OneValueOf(TWTY_FIX32, Fix(300)))};
  EXPECT_EQ(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_CHECKSTATUS);
  FreeHandle(cap.hContainer);
  EXPECT_EQ(Query("cap 0x1118"), "100");
  EXPECT_EQ(Query("last-set 0x1118").substr(0, 2), "5 ");
  ASSERT_EQ(VirtualScannerControl("script-set 0x1101 1 14"), 0);
  EXPECT_EQ(SetFix(ICAP_BRIGHTNESS, 5), TWCC_CAPBADOPERATION);
  EXPECT_EQ(SetFix(ICAP_BRIGHTNESS, 5), TWCC_SUCCESS);
}
