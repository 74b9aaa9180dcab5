// The function catalogue and the design-time messages, read from the built extension itself:
// the statically linked suite carries no resources, so these tests load the real library
// (Mac: the bundle with its resource file; Windows: the DLL with its string table and the
// "Q7INF" record) the way the host does, and send it messages 3 and 4.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "standins/velmar/velmar_host.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kvtest {
namespace {

#if defined(_WIN32)
const char* const kExtensionPath = KV_OUT_DIR "/Kardivelle.dll";
#else
const char* const kExtensionPath = KV_OUT_DIR "/Kardivelle.bundle";
#endif

constexpr int16_t kParameters = 5;
constexpr int16_t kReturnValue = 6;

struct Entry {
  int number;
  const char* catalogue;
  const char* parameters;
  int parametersLength;
  const char* returnValue;
  int returnLength;
};

// What a host programmer sees at design time, function by function.
const Entry kEntries[] = {
    {1, "Twain.About():16543000", "Parms: ()", 9, "Version :", 9},
    {2, "Twain.Disconnect():16543009", "Parms: ()", 9, "Return Code :", 13},
    {3, "Twain.Reset():16543006", "Parms: ()", 9, "Return Code :", 13},
    {4, "Twain.ScanToFile(pictFilePath [,showUI? [,fileFormatCode]]):16543001",
     "Parms: (pictFilePath [,showUI? [,fileFormatCode]])", 50, "Return Code :", 13},
    {5, "Twain.ScanToField(pictureField [,showUI?]):16543002", "Parms: (pictureField [,showUI?])", 32,
     "Return Code :", 13},
    {6, "Twain.SetSourceCapability(capName,capValue [,cap2Name,cap2Value..]):16543004",
     "Parms: (capName,capValue [,cap2Name,cap2Value..])", 49, "Return Code :", 13},
    {7, "Twain.GetSourceCapability(capName,capValue [,cap2Name,cap2Value..]):16543005",
     "Parms: (capName,capValue [,cap2Name,cap2Value..])", 49, "Return Code :", 13},
    {8, "Twain.GetSourceCapRange(capName,capValues [,cap2Name,cap2Values..]):16543007",
     "Parms: (capName,capValues [,cap2Name,cap2Values..])", 51, "Return Code :", 13},
    {9, "Twain.Connect():16543008", "Parms: ()", 9, "Return Code :", 13},
    {10, "Twain.SelectDataSource():16543003", "Parms: ()", 9, "Return Code :", 13},
    {11, "Twain.ScanPages(filePath,pageCount [,showUI? [,fileFormatCode [,maxPages]]]):16543010",
     "Parms: (filePath,pageCount [,showUI? [,fileFormatCode [,maxPages]]])", 68, "Return Code :", 13},
    {12, "Twain.GetSourceNames(sourceNames [,currentName]):16543011", "Parms: (sourceNames [,currentName])", 35,
     "Return Code :", 13},
    {13, "Twain.SelectSource(sourceName):16543012", "Parms: (sourceName)", 19, "Return Code :", 13},
    {14, "Twain.SetOption(optionName,optionValue [,option2Name,option2Value..]):16543013",
     "Parms: (optionName,optionValue [,option2Name,option2Value..])", 61, "Return Code :", 13},
    {15, "Twain.GetOption(optionName,optionValue [,option2Name,option2Value..]):16543014",
     "Parms: (optionName,optionValue [,option2Name,option2Value..])", 61, "Return Code :", 13},
};

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    host = velmar::Host::Load(kExtensionPath, &error);
    ASSERT_TRUE(host) << error;
  }

  // Fills the design record with a pattern that no message writes by itself.
  std::vector<uint8_t> FillRecord(int16_t kind) {
    uint8_t* record = host->DesignRecord();
    for (size_t i = 0; i < hostabi::kDesignRecordSize; ++i) record[i] = uint8_t(0xA0 + i % 31);
    std::memcpy(record + hostabi::kDesignKind, &kind, sizeof kind);
    return std::vector<uint8_t>(record, record + hostabi::kDesignRecordSize);
  }
  std::vector<uint8_t> Record() const {
    return std::vector<uint8_t>(host->DesignRecord(), host->DesignRecord() + hostabi::kDesignRecordSize);
  }

  std::unique_ptr<velmar::Host> host;
};

TEST_F(CatalogueTest, TheHostFindsTheFifteenFunctionsInOrder) {
  std::vector<std::string> expected;
  for (const Entry& entry : kEntries) expected.push_back(entry.catalogue);
  EXPECT_EQ(expected, host->Catalogue());
  EXPECT_EQ(4, host->FunctionNumber("Twain.ScanToFile"));
  EXPECT_EQ(10, host->FunctionNumber("Twain.SelectDataSource"));
  EXPECT_EQ(13, host->FunctionNumber("Twain.SelectSource"));
  EXPECT_EQ(15, host->FunctionNumber("Twain.GetOption"));
}

TEST_F(CatalogueTest, EveryFunctionDescribesItsParametersAndReturnValue) {
  for (const Entry& entry : kEntries) {
    SCOPED_TRACE(entry.catalogue);
    velmar::Description parameters = host->Describe(entry.number, kParameters);
    EXPECT_EQ(entry.parameters, parameters.text);
    EXPECT_EQ(entry.parametersLength, parameters.length);
    EXPECT_TRUE(parameters.cleared);

    velmar::Description returned = host->Describe(entry.number, kReturnValue);
    EXPECT_EQ(entry.returnValue, returned.text);
    EXPECT_EQ(entry.returnLength, returned.length);
    EXPECT_TRUE(returned.cleared);
  }
}

TEST_F(CatalogueTest, AFunctionNumberOutsideTheCatalogueHasNoParameterList) {
  for (int number : {0, 16, 17, -1}) {
    SCOPED_TRACE(number);
    velmar::Description parameters = host->Describe(number, kParameters);
    EXPECT_EQ("Parms: ", parameters.text);
    EXPECT_EQ(7, parameters.length);
    EXPECT_TRUE(parameters.cleared);
    // Only function 1 answers with a version.
    velmar::Description returned = host->Describe(number, kReturnValue);
    EXPECT_EQ("Return Code :", returned.text);
    EXPECT_EQ(13, returned.length);
  }
}

TEST_F(CatalogueTest, OtherKindsLeaveTheRecordUntouched) {
  for (int16_t kind : {0, 1, 4, 7, 255, -1}) {
    SCOPED_TRACE(kind);
    host->Describe(4, kParameters);  // makes 4 the function number of the next message
    std::vector<uint8_t> before = FillRecord(kind);
    host->Send(kMsgDescribe);
    EXPECT_EQ(before, Record());
  }
}

TEST_F(CatalogueTest, DescriptionsClearOnlyTheByteAfterTheKind) {
  host->Describe(6, kParameters);
  std::vector<uint8_t> before = FillRecord(kReturnValue);
  host->Send(kMsgDescribe);
  std::vector<uint8_t> after = Record();
  EXPECT_EQ(0, after[hostabi::kDesignCleared]);
  EXPECT_EQ(13, after[hostabi::kDesignLength]);
  // The kind, and everything past the text and its NUL, stay as the host left them.
  for (size_t i = 0; i < hostabi::kDesignRecordSize; ++i) {
    if (i == hostabi::kDesignCleared || i == hostabi::kDesignLength) continue;
    if (i >= hostabi::kDesignText && i <= hostabi::kDesignText + 13) continue;
    EXPECT_EQ(before[i], after[i]) << "byte " << i;
  }
}

TEST_F(CatalogueTest, MessageFourSetsTheDesignFlagAndNothingElse) {
  EXPECT_EQ(1, host->SetDesignFlag(3));
  std::vector<uint8_t> before = FillRecord(kParameters);
  host->Send(kMsgDesignFlag);
  std::vector<uint8_t> after = Record();
  int16_t flag;
  std::memcpy(&flag, &after[hostabi::kDesignFlag], sizeof flag);
  EXPECT_EQ(1, flag);
  for (size_t i = 0; i < hostabi::kDesignRecordSize; ++i) {
    if (i == hostabi::kDesignFlag || i == hostabi::kDesignFlag + 1) continue;
    EXPECT_EQ(before[i], after[i]) << "byte " << i;
  }
}

#if defined(_WIN32)
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

TEST_F(CatalogueTest, TheQ7infRecordPointsAtTheFirstCatalogueString) {
  HMODULE library = static_cast<HMODULE>(host->Library());
  HRSRC found = FindResourceExA(library, reinterpret_cast<LPCSTR>(RT_RCDATA), "Q7INF", kEnglishUs);
  ASSERT_TRUE(found);
  ASSERT_EQ(14u, SizeofResource(library, found));
  const uint8_t* record = static_cast<const uint8_t*>(LockResource(LoadResource(library, found)));
  ASSERT_TRUE(record);
  const uint8_t expected[14] = {'7', 'C', 'M', 'D', 0x9F, 0x40, 0, 0, 0, 0, 0, 0, 0, 0};  // 16543
  EXPECT_EQ(0, std::memcmp(expected, record, sizeof expected));
}

TEST_F(CatalogueTest, TheStringTableIsEnglishAndEndsWithTheLibraryEntry) {
  HMODULE library = static_cast<HMODULE>(host->Library());
  // Strings 16543 to 16558 lie in blocks 1034 and 1035 of 16 strings each.
  for (int block : {16543 / 16 + 1, 16558 / 16 + 1}) {
    SCOPED_TRACE(block);
    EXPECT_TRUE(
        FindResourceExA(library, reinterpret_cast<LPCSTR>(RT_STRING), MAKEINTRESOURCEA(block), kEnglishUs));
  }
  char text[256];
  for (const Entry& entry : kEntries) {
    ASSERT_GT(LoadStringA(library, UINT(16542 + entry.number), text, sizeof text), 0);
    EXPECT_STREQ(entry.catalogue, text);
  }
  ASSERT_GT(LoadStringA(library, 16558, text, sizeof text), 0);
  EXPECT_STREQ("*Kardivelle", text);
  EXPECT_EQ(0, LoadStringA(library, 16559, text, sizeof text));
  EXPECT_EQ(0, LoadStringA(library, 16542, text, sizeof text));
}
#endif

}  // namespace
}  // namespace kvtest
