// The host's services as an extension reaches them through the real ABI: a fake entry,
// written per test, calls back into the host while a message runs.
#include <gtest/gtest.h>

#include <cstring>

#include "standins/velmar/tests/fake_client.h"

namespace {

const std::vector<std::string> kCatalogue = {"Twain.About():16543000", "Twain.Disconnect():16543009",
                                             "Twain.Reset():16543006", "Twain.Echo(a [,b]):1"};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::SetHandler(nullptr); }
  void TearDown() override { fake::SetHandler(nullptr); }
  // Runs `body` as the extension's message 1.
  velmar::CallResult Run(const std::string& call, std::function<void()> body) {
    fake::SetHandler([body](int16_t message, void**, void*) {
      if (message == kMsgExecute) body();
    });
    return host.Call(call);
  }
  velmar::Host host{fake::Entry(), kCatalogue};
};

TEST_F(HostTest, ParametersArriveInTheirFields) {
  HostFloat count = -1, first = -1;
  char second[32] = {};
  int16_t number = -1;
  auto result = Run("Twain.Echo(8.5, \"12 dpi\")", [&] {
    count = fake::ReadNumber(kFieldParamCount);
    first = fake::ReadNumber(kFieldFirstParam);
    fake::ReadValue(kFieldFirstParam + 1, kValueCText, 31, second);
    number = fake::FunctionNumber();
  });
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(count, 2);
  EXPECT_EQ(first, HostFloat(8.5));
  EXPECT_STREQ(second, "12 dpi");
  EXPECT_EQ(number, 4);
  EXPECT_EQ(result.result.Display(), "(nothing)");
}

TEST_F(HostTest, NumbersAndTextsConvertOnRead) {
  HostFloat parsed = -1;
  char formatted[32] = {};
  Run("Twain.Echo(\"  -2.5mm\", 8.5)", [&] {
    parsed = fake::ReadNumber(kFieldFirstParam);
    fake::ReadValue(kFieldFirstParam + 1, kValueCText, 31, formatted);
  });
  EXPECT_EQ(parsed, HostFloat(-2.5));
  EXPECT_STREQ(formatted, "8.5");
}

TEST_F(HostTest, ANumberWrittenIsReadBackExactly) {
  HostFloat back = 0, third = HostFloat(1) / 3;
  HostFloat direct = 0;
  auto result = Run("Twain.Echo($x)", [&] {
    fake::WriteNumber(kFieldFirstParam, third);
    back = fake::ReadNumber(kFieldFirstParam);
    fake::ReadValue(kFieldFirstParam, kValueNumber, 10, &direct);
    fake::WriteNumber(kFieldReturn, 13);
  });
  EXPECT_EQ(back, third);
  if (kWindowsBuild) {
    EXPECT_EQ(direct, third);  // Mac: type 0 reads the 80-bit form, not a HostFloat
  }
  EXPECT_EQ(result.result.Display(), "13");
  EXPECT_EQ(host.Variable("x").AsNumber(), third);
}

TEST_F(HostTest, TextReadsHonourTheMaximumExactly) {
  unsigned char c[16], p[16], empty[4], longText[300];
  std::memset(c, 0xAA, sizeof c), std::memset(p, 0xAA, sizeof p), std::memset(empty, 0xAA, sizeof empty);
  std::string text300(300, 'x');
  host.Fields().Set(host.Fields().Variable("long"), velmar::Value::Text(text300));
  Run("Twain.Echo(\"abcdefghij\", $long)", [&] {
    fake::ReadValue(kFieldFirstParam, kValueCText, 4, c);
    fake::ReadValue(kFieldFirstParam, kValuePascalText, 4, p);
    fake::ReadValue(kFieldFirstParam, kValueCText, 0, empty);
    fake::ReadValue(kFieldFirstParam + 1, kValuePascalText, 1000, longText);
  });
  EXPECT_EQ(std::string(reinterpret_cast<char*>(c)), "abcd");
  EXPECT_EQ(c[5], 0xAA);
  EXPECT_EQ(p[0], 4);
  EXPECT_EQ(std::memcmp(p + 1, "abcd", 4), 0);
  EXPECT_EQ(p[5], 0xAA);  // no terminator after a length-prefixed text
  EXPECT_EQ(empty[0], 0);
  EXPECT_EQ(empty[1], 0xAA);
  EXPECT_EQ(longText[0], 255);
}

TEST_F(HostTest, WritesOfEachTextType) {
  unsigned char counted[] = {3, 'a', 'b', 'c', 'Z'};
  auto result = Run("Twain.Echo($a, $b)", [&] {
    fake::WriteValue(kFieldFirstParam, kValuePascalText, counted);
    fake::WriteValue(kFieldFirstParam + 1, kValueCText, "1.2");
    fake::WriteValue(kFieldReturn, kValueCText, "done");
  });
  EXPECT_EQ(result.result.Display(), "\"done\"");
  ASSERT_EQ(result.variables.size(), 2u);
  EXPECT_EQ(result.variables[0].first, "a");
  EXPECT_EQ(result.variables[0].second.Display(), "\"abc\"");
  EXPECT_EQ(result.variables[1].second.Display(), "\"1.2\"");
}

TEST_F(HostTest, VariablesStartEmptyAndKeepTheirValue) {
  auto first = Run("Twain.Echo($v)", [] {});
  EXPECT_EQ(first.variables[0].second.Display(), "\"\"");
  Run("Twain.Echo($v)", [] { fake::WriteValue(kFieldFirstParam, kValueCText, "kept"); });
  char seen[16] = {};
  Run("Twain.Echo(1, $v)", [&] { fake::ReadValue(kFieldFirstParam + 1, kValueCText, 15, seen); });
  EXPECT_STREQ(seen, "kept");
  EXPECT_EQ(host.Variable("v").Display(), "\"kept\"");
}

TEST_F(HostTest, FieldByName) {
  int16_t builtIn = 0, named = 0, unknown = -1, param = 0;
  Run("Twain.Echo($v)", [&] {
    builtIn = fake::FieldByName("#1");
    named = fake::FieldByName("v");
    unknown = fake::FieldByName("nobody");
    fake::WriteNumber(builtIn, 42);
    HostInfoRecord r = {};
    r.field = kFieldFirstParam;
    r.request = kInfoFieldInfo;
    fake::FieldInfoRequest(&r);
    param = r.status;
  });
  EXPECT_NE(builtIn, 0);
  EXPECT_NE(named, 0);
  EXPECT_NE(builtIn, named);
  EXPECT_EQ(unknown, 0);
  EXPECT_EQ(param, 1);
  EXPECT_EQ(host.Variable("#1").AsNumber(), 42);
}

TEST_F(HostTest, FieldInformation) {
  int16_t pictureType = 0, textType = 0, status200 = 0, statusBeyond = 1, statusNone = 1, wrongRequest = 1;
  std::string name;
  Run("Twain.Echo($pic:picture, \"t\")", [&] {
    EXPECT_EQ(fake::FieldInfo(kFieldFirstParam, &pictureType, &name), 1);
    fake::FieldInfo(kFieldFirstParam + 1, &textType, nullptr);
    status200 = fake::FieldInfo(kFieldReturn, nullptr, nullptr);
    statusBeyond = fake::FieldInfo(kFieldFirstParam + 2, nullptr, nullptr);
    statusNone = fake::FieldInfo(5000, nullptr, nullptr);
    HostInfoRecord r = {};
    r.field = kFieldFirstParam;
    r.request = kInfoGetAtom;
    wrongRequest = fake::FieldInfoRequest(&r);
  });
  EXPECT_EQ(pictureType, kFieldTypePicture);
  EXPECT_EQ(name, "pic");
  EXPECT_NE(textType, kFieldTypePicture);
  EXPECT_EQ(status200, 1);
  EXPECT_EQ(statusBeyond, 0);
  EXPECT_EQ(statusNone, 0);
  EXPECT_EQ(wrongRequest, 0);
}

TEST_F(HostTest, PicturesAreCopiedDuringTheCall) {
  auto result = Run("Twain.Echo($p:picture, $q:picture, $t)", [] {
    fake::WritePicture(kFieldFirstParam, 64, 48);  // freed by the fake right after the write
    fake::WritePicture(kFieldFirstParam + 1, 0, 0);
    fake::WritePicture(kFieldFirstParam + 2, 64, 48);  // not a picture field: ignored
  });
  ASSERT_EQ(result.variables.size(), 3u);
  EXPECT_EQ(result.variables[0].second.Display(), "picture 64x48");
  EXPECT_EQ(result.variables[1].second.Display(), "picture (none)");
  EXPECT_EQ(result.variables[2].second.Display(), "\"\"");
  auto again = Run("Twain.Echo($p:picture)", [] {});
  EXPECT_EQ(again.variables[0].second.Display(), "picture 64x48");
}

TEST_F(HostTest, UnknownFieldsAreNotWritten) {
  auto result = Run("Twain.Echo()", [] {
    fake::WriteNumber(kFieldFirstParam, 1);
    fake::WriteNumber(4321, 1);
  });
  EXPECT_EQ(host.Fields().Get(kFieldFirstParam).Display(), "(nothing)");
  EXPECT_EQ(host.Fields().Get(4321).Display(), "(nothing)");
  EXPECT_EQ(result.result.Display(), "(nothing)");
}

TEST_F(HostTest, EachCallStartsWithAnEmptyReturnField) {
  Run("Twain.Echo()", [] { fake::WriteNumber(kFieldReturn, 5); });
  EXPECT_EQ(Run("Twain.Reset()", [] {}).result.Display(), "(nothing)");
}

TEST_F(HostTest, CallsThatCannotRun) {
  bool ran = false;
  auto bad = Run("Twain.Echo(", [&] { ran = true; });
  EXPECT_FALSE(bad.ok);
  auto unknown = Run("Twain.Missing()", [&] { ran = true; });
  EXPECT_FALSE(unknown.ok);
  EXPECT_NE(unknown.error.find("Twain.Missing"), std::string::npos);
  EXPECT_FALSE(ran);
  EXPECT_EQ(host.FunctionNumber("Twain.About"), 1);
  EXPECT_EQ(host.FunctionNumber("Twain.Ab"), 0);
}

TEST_F(HostTest, InstancesHaveTheirOwnSlots) {
  fake::SetHandler([](int16_t message, void** slot, void*) {
    if (message == kMsgConstruct) *slot = slot;
    if (message == kMsgDestruct) *slot = nullptr;
  });
  host.Construct();
  int second = host.AddInstance();
  host.UseInstance(second);
  EXPECT_EQ(host.Slot(), nullptr);
  host.Construct();
  void* secondSlot = host.Slot();
  host.UseInstance(0);
  EXPECT_NE(host.Slot(), secondSlot);
  host.Slot() = reinterpret_cast<void*>(0x1234);  // tests may plant garbage
  void* seen = nullptr;
  fake::SetHandler([&](int16_t, void** slot, void*) { seen = *slot; });
  host.Call("Twain.About()");
  EXPECT_EQ(seen, reinterpret_cast<void*>(0x1234));
}

TEST_F(HostTest, DesignRecord) {
  int16_t kind = 0, number = 0;
  fake::SetHandler([&](int16_t message, void**, void*) {
    uint8_t* record = fake::DesignRecord();
    number = fake::FunctionNumber();
    if (message == kMsgDescribe) {
      std::memcpy(&kind, record + hostabi::kDesignKind, 2);
      record[hostabi::kDesignLength] = 9;
      std::strcpy(reinterpret_cast<char*>(record + hostabi::kDesignText), "Parms: ()");
      record[hostabi::kDesignCleared] = 0;
    } else if (message == kMsgDesignFlag) {
      int16_t one = 1;
      std::memcpy(record + hostabi::kDesignFlag, &one, 2);
    }
  });
  velmar::Description d = host.Describe(3, 5);
  EXPECT_EQ(kind, 5);
  EXPECT_EQ(number, 3);
  EXPECT_EQ(d.text, "Parms: ()");
  EXPECT_EQ(d.length, 9);
  EXPECT_TRUE(d.cleared);
  EXPECT_EQ(host.SetDesignFlag(2), 1);
  fake::SetHandler(nullptr);
  EXPECT_FALSE(host.Describe(1, 7).cleared);  // an extension that writes nothing
}

TEST_F(HostTest, AtomsAreHostWideAndOutliveInstances) {
  if (kWindowsBuild) GTEST_SKIP() << "the Windows host has no instance-data service";
  int marker = 0;
  fake::SetHandler([&](int16_t message, void**, void*) {
    void* value = &marker;
    if (message == kMsgConstruct) {
      void* none = nullptr;
      EXPECT_EQ(fake::Atom(kInfoGetAtom, "KARDIVELLE", &none), 0);
      EXPECT_EQ(none, nullptr);
      EXPECT_EQ(fake::Atom(kInfoSetAtom, "KARDIVELLE", &value), 1);
    } else if (message == kMsgDestruct) {
      EXPECT_EQ(fake::Atom(kInfoDeleteAtom, "KARDIVELLE", nullptr), 1);
      EXPECT_EQ(fake::Atom(kInfoDeleteAtom, "KARDIVELLE", nullptr), 0);
    }
  });
  host.Construct();
  EXPECT_EQ(host.Atom("KARDIVELLE"), &marker);
  int other = host.AddInstance();
  host.UseInstance(other);
  void* seen = nullptr;
  fake::SetHandler([&](int16_t, void**, void*) {
    EXPECT_EQ(fake::Atom(kInfoGetAtom, "KARDIVELLE", &seen), 1);
    EXPECT_EQ(fake::Atom(kInfoFieldInfo, "KARDIVELLE", &seen), 0);
  });
  host.Send(kMsgExecute);
  EXPECT_EQ(seen, &marker);
  host.UseInstance(0);
  fake::SetHandler([&](int16_t message, void**, void*) {
    if (message == kMsgDestruct) fake::Atom(kInfoDeleteAtom, "KARDIVELLE", nullptr);
  });
  host.Destruct();
  EXPECT_EQ(host.Atom("KARDIVELLE"), nullptr);
  EXPECT_EQ(host.AtomCount(), 0u);
}

}  // namespace
