// Twain.SetOption and Twain.GetOption: the extension's own settings, kept per instance
// without a connection, handled pair by pair as the capability commands are.
#include "options/options.h"
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

class OptionsTest : public ExtensionTest {
 protected:
  // The options' values as GetOption gives them: "TRANSFER/COMPRESSION".
  std::string Options() {
    velmar::CallResult r = CallFull("Twain.GetOption(\"TRANSFER\", $t, \"COMPRESSION\", $c)");
    EXPECT_TRUE(r.ok) << r.error;
    return r.result.Display() + " " + host->Variable("t").Display() + "/" + host->Variable("c").Display();
  }
  // The blank-page options: "BLANKPAGES/BLANKINK/DISCARDED".
  std::string BlankOptions() {
    velmar::CallResult r = CallFull("Twain.GetOption(\"BLANKPAGES\", $b, \"BLANKINK\", $i, \"DISCARDED\", $d)");
    EXPECT_TRUE(r.ok) << r.error;
    return r.result.Display() + " " + host->Variable("b").Display() + "/" + host->Variable("i").Display() +
           "/" + host->Variable("d").Display();
  }
};

TEST_F(OptionsTest, StartAtTheirDefaultsAndNeedNoConnection) {
  long before = DsmCalls();
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY\", \"COMPRESSION\", \"JPEG\")"));
  EXPECT_EQ("0 \"MEMORY\"/\"JPEG\"", Options());
  EXPECT_EQ(before, DsmCalls());
  EXPECT_FALSE(Record()->dsmOpen);
}

// The file options start as each build has always behaved: the source writes the formats of
// Twain.ScanToFile's file transfers, Windows replaces an existing file and the Mac refuses it.
TEST_F(OptionsTest, TheFileOptionsStartAsEachBuildHasBehaved) {
  velmar::CallResult r = CallFull("Twain.GetOption(\"WRITER\", $w, \"EXISTING\", $e)");
  EXPECT_EQ("0", r.result.Display());
  EXPECT_EQ("\"SOURCE\"", host->Variable("w").Display());
  EXPECT_EQ(kWindowsBuild ? "\"REPLACE\"" : "\"REFUSE\"", host->Variable("e").Display());
  EXPECT_EQ("10", Call("Twain.SetOption(\"WRITER\", \"PLATFORM\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"EXISTING\", \"KEEP\")"));
}

TEST_F(OptionsTest, HoldAcrossDisconnectAndConnectUntilTheExtensionIsUnloaded) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"AUTO\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0 \"AUTO\"/\"NONE\"", Options());
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"NATIVE\")"));
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());

  // Unloaded and loaded again: the defaults, whichever record the new load gets (the Mac
  // takes the registered record over only while it lives; a fresh one otherwise).
  EXPECT_EQ("0", Call("Twain.SetOption(\"COMPRESSION\", \"JPEG\")"));
  host->Destruct();
  host->Construct();
  ASSERT_NE(nullptr, Record());
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());
}

// Windows gives every instance a record of its own; the Mac's instances share the registered
// record, which each message 0 sets up afresh, options included.
TEST_F(OptionsTest, BelongToTheirInstanceRecord) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY\")"));
  int other = host->AddInstance();
  host->UseInstance(other);
  host->Construct();
  ASSERT_NE(nullptr, Record());
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());
  EXPECT_EQ("0", Call("Twain.SetOption(\"COMPRESSION\", \"JPEG\")"));
  host->UseInstance(0);
  EXPECT_EQ(kWindowsBuild ? "0 \"MEMORY\"/\"NONE\"" : "0 \"NATIVE\"/\"JPEG\"", Options());
  host->UseInstance(other);
  if constexpr (kWindowsBuild) {
    host->Destruct();
  } else {
    host->Slot() = nullptr;  // the shared record stays instance 0's
  }
  host->UseInstance(0);
}

TEST_F(OptionsTest, TheFirstFailingPairEndsTheCall) {
  EXPECT_EQ("9", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY\", \"QUALITY\", 5, \"COMPRESSION\", \"JPEG\")"));
  EXPECT_EQ("0 \"MEMORY\"/\"NONE\"", Options());
  EXPECT_EQ("10",
            Call("Twain.SetOption(\"COMPRESSION\", \"JPEG\", \"TRANSFER\", \"FILE\", \"TRANSFER\", \"AUTO\")"));
  EXPECT_EQ("0 \"MEMORY\"/\"JPEG\"", Options());
  // A get fills the variables before the failing pair and leaves the one after it alone.
  velmar::CallResult r = CallFull("Twain.GetOption(\"TRANSFER\", $a, \"NONE\", $b, \"COMPRESSION\", $z)");
  EXPECT_EQ("9", r.result.Display());
  EXPECT_EQ("\"MEMORY\"", host->Variable("a").Display());
  EXPECT_EQ("\"\"", host->Variable("z").Display());  // as the call found it
}

TEST_F(OptionsTest, NamesAndWordsAreExactAndUpperCase) {
  EXPECT_EQ("9", Call("Twain.SetOption(\"transfer\", \"MEMORY\")"));
  EXPECT_EQ("9", Call("Twain.SetOption(\"TRANSFER \", \"MEMORY\")"));
  EXPECT_EQ("9", Call("Twain.GetOption(\"XFERMECH\", $v)"));
  EXPECT_EQ("9", Call("Twain.SetOption(\"\", \"MEMORY\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"TRANSFER\", \"memory\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"TRANSFER\", \"MEMORY \")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"TRANSFER\", \"MEMORYX\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"TRANSFER\", 1)"));  // words, not their numbers
  EXPECT_EQ("10", Call("Twain.SetOption(\"COMPRESSION\", \"\")"));
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());
}

TEST_F(OptionsTest, MissingParametersAndPictures) {
  EXPECT_EQ("3", Call("Twain.SetOption()"));
  EXPECT_EQ("3", Call("Twain.GetOption()"));
  // A name without a value is ignored, at the end of a call as for a call of one parameter.
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\")"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"TRANSFER\", \"AUTO\", \"COMPRESSION\")"));
  EXPECT_EQ("0 \"AUTO\"/\"NONE\"", Options());
  EXPECT_EQ("3", Call("Twain.SetOption(\"TRANSFER\", $p:picture)"));
  EXPECT_EQ("3", Call("Twain.GetOption(\"TRANSFER\", $p:picture)"));
  EXPECT_EQ("3", Call("Twain.SetOption(\"COMPRESSION\", \"JPEG\", $p:picture, \"NATIVE\")"));
  EXPECT_EQ("0 \"AUTO\"/\"JPEG\"", Options());
}

// The options of the files Twain.ScanPages encodes: a quality of 1 to 100, whole; two words.
TEST_F(OptionsTest, JpegQualityAndPdfImages) {
  velmar::CallResult r = CallFull("Twain.GetOption(\"JPEGQUALITY\", $q, \"PDFIMAGES\", $i)");
  EXPECT_EQ("0", r.result.Display());
  EXPECT_EQ("85", host->Variable("q").Display());
  EXPECT_EQ("\"JPEG\"", host->Variable("i").Display());
  EXPECT_EQ("0", Call("Twain.SetOption(\"JPEGQUALITY\", 1, \"PDFIMAGES\", \"LOSSLESS\")"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"JPEGQUALITY\", 100)"));
  for (const char* refused : {"0", "101", "50.5", "-1", "\"HIGH\""})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"JPEGQUALITY\", ") + refused + ")")) << refused;
  for (const char* refused : {"\"lossless\"", "\"FLATE\"", "1"})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"PDFIMAGES\", ") + refused + ")")) << refused;
  r = CallFull("Twain.GetOption(\"JPEGQUALITY\", $q, \"PDFIMAGES\", $i)");
  EXPECT_EQ("100", host->Variable("q").Display());
  EXPECT_EQ("\"LOSSLESS\"", host->Variable("i").Display());
  EXPECT_EQ("0 \"NATIVE\"/\"NONE\"", Options());  // the others as they were
}

// ---- blank pages

TEST_F(OptionsTest, BlankPagesKeepByDefaultAndTakeDiscard) {
  EXPECT_EQ("0 \"KEEP\"/0.15/0", BlankOptions());
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\")"));
  EXPECT_EQ("0 \"DISCARD\"/0.15/0", BlankOptions());
  EXPECT_EQ("10", Call("Twain.SetOption(\"BLANKPAGES\", \"discard\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"BLANKPAGES\", 1)"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKPAGES\", \"KEEP\")"));
  EXPECT_EQ("0 \"KEEP\"/0.15/0", BlankOptions());
}

// A percent of the page with decimals, from 0 to 100 (a millionth of the page apart).
TEST_F(OptionsTest, BlankInkIsAPercentWithDecimals) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKINK\", 0.5)"));
  EXPECT_EQ("0 \"KEEP\"/0.5/0", BlankOptions());
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKINK\", 0.0125)"));
  EXPECT_EQ("0 \"KEEP\"/0.0125/0", BlankOptions());
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKINK\", 0)"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"BLANKINK\", 100)"));
  EXPECT_EQ("0 \"KEEP\"/100/0", BlankOptions());
  EXPECT_EQ("10", Call("Twain.SetOption(\"BLANKINK\", 100.01)"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"BLANKINK\", -0.01)"));
  EXPECT_EQ("0 \"KEEP\"/100/0", BlankOptions());
}

// A text stands for a number only when it is wholly one: what else the host would read as a
// number ("abc" and "" as 0, "50abc" as 50, "1e2" as 1) answers 10 and sets nothing.
TEST_F(OptionsTest, ANumberOptionTakesATextOnlyWhenItIsWhollyANumber) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"JPEGQUALITY\", \" 50 \", \"BLANKINK\", \"+0.25\")"));
  for (const char* text : {"\"abc\"", "\"\"", "\" \"", "\"50abc\"", "\"1e2\"", "\"0x20\"", "\".\"", "\"-\"",
                           "\"5 0\"", "$empty"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"JPEGQUALITY\", ") + text + ")"));
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"BLANKINK\", ") + text + ")"));
  }
  velmar::CallResult r = CallFull("Twain.GetOption(\"JPEGQUALITY\", $q)");
  EXPECT_EQ("50", host->Variable("q").Display()) << "nothing set";
  EXPECT_EQ("0 \"KEEP\"/0.25/0", BlankOptions());
}

// How long the Mac waits for a source without its interface: whole seconds from 1 to 600.
TEST_F(OptionsTest, ReadyWaitIsWholeSecondsUpToTenMinutes) {
  velmar::CallResult r = CallFull("Twain.GetOption(\"READYWAIT\", $w)");
  EXPECT_EQ("0 5", r.result.Display() + " " + host->Variable("w").Display());
  EXPECT_EQ("0", Call("Twain.SetOption(\"READYWAIT\", 600)"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"READYWAIT\", \"12\")"));
  for (const char* refused : {"0", "601", "2.5", "-5", "\"LONG\""})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"READYWAIT\", ") + refused + ")")) << refused;
  r = CallFull("Twain.GetOption(\"READYWAIT\", $w)");
  EXPECT_EQ("12", host->Variable("w").Display());
}

TEST_F(OptionsTest, PaperSourceTakesItsThreeWordsAndWaitForPaperUpToAnHour) {
  velmar::CallResult r = CallFull("Twain.GetOption(\"PAPERSOURCE\", $p, \"WAITFORPAPER\", $w)");
  EXPECT_EQ("0 \"AUTO\"/0",
            r.result.Display() + " " + host->Variable("p").Display() + "/" + host->Variable("w").Display());
  for (const char* word : {"FEEDER", "FLATBED", "AUTO"})
    EXPECT_EQ("0", Call(std::string("Twain.SetOption(\"PAPERSOURCE\", \"") + word + "\")")) << word;
  for (const char* refused : {"\"feeder\"", "\"GLASS\"", "\"\"", "1"})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"PAPERSOURCE\", ") + refused + ")")) << refused;
  EXPECT_EQ("0", Call("Twain.SetOption(\"PAPERSOURCE\", \"FLATBED\", \"WAITFORPAPER\", 3600)"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"WAITFORPAPER\", \" 30 \")"));
  for (const char* refused : {"3601", "-1", "0.5", "\"SOON\""})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"WAITFORPAPER\", ") + refused + ")")) << refused;
  r = CallFull("Twain.GetOption(\"PAPERSOURCE\", $p, \"WAITFORPAPER\", $w)");
  EXPECT_EQ("\"FLATBED\"/30", host->Variable("p").Display() + "/" + host->Variable("w").Display());
}

TEST_F(OptionsTest, DiscardedIsReadOnly) {
  EXPECT_EQ("11", Call("Twain.SetOption(\"DISCARDED\", 0)"));
  EXPECT_EQ("11", Call("Twain.SetOption(\"BLANKPAGES\", \"DISCARD\", \"DISCARDED\", 3)"));
  EXPECT_EQ("0 \"DISCARD\"/0.15/0", BlankOptions());
}

// A number option (as the table's rows for numbers describe one): whole numbers within its
// range only.
TEST(OptionRowTest, NumbersAndWords) {
  const char* const words[] = {"ONE", "TWO", nullptr};
  const OptionRow wordRow{"W", words, 0, 0, 0, false};
  EXPECT_EQ(1, OptionWordIndex(wordRow, "TWO"));
  EXPECT_EQ(-1, OptionWordIndex(wordRow, "two"));
  EXPECT_EQ(-1, OptionWordIndex(wordRow, "TW"));
  const OptionRow numberRow{"N", nullptr, 1, 100, 85, false};
  EXPECT_EQ(-1, OptionWordIndex(numberRow, "1"));
  EXPECT_TRUE(OptionTakesNumber(numberRow, 1));
  EXPECT_TRUE(OptionTakesNumber(numberRow, 100));
  EXPECT_FALSE(OptionTakesNumber(numberRow, 0));
  EXPECT_FALSE(OptionTakesNumber(numberRow, 101));
  EXPECT_FALSE(OptionTakesNumber(numberRow, 50.5));
  EXPECT_FALSE(OptionTakesNumber(numberRow, 1e12));
  HostFloat nan = 0;
  nan = nan / nan;
  EXPECT_FALSE(OptionTakesNumber(numberRow, nan));
}

// A number option kept in parts of a unit takes real numbers, rounded to the nearest part.
TEST(OptionRowTest, ScaledNumbers) {
  const OptionRow row{"R", nullptr, 0, 100 * 10000, 1500, false, 10000};
  EXPECT_TRUE(OptionTakesNumber(row, 0.15));
  EXPECT_EQ(1500, OptionUnits(row, 0.15));
  EXPECT_EQ(1, OptionUnits(row, 0.00014));
  EXPECT_EQ(1000000, OptionUnits(row, 100));
  EXPECT_FALSE(OptionTakesNumber(row, 100.00001));
  EXPECT_FALSE(OptionTakesNumber(row, -0.00001));
}

}  // namespace
}  // namespace kvtest

namespace kvtest {
namespace {

class PdfOptionsTest : public ExtensionTest {
 protected:
  // GetOption of one option: "answer value".
  std::string Get(const std::string& name) {
    velmar::CallResult r = CallFull("Twain.GetOption(\"" + name + "\", $v)");
    EXPECT_TRUE(r.ok) << r.error;
    return r.result.Display() + " " + host->Variable("v").Display();
  }
};

TEST_F(PdfOptionsTest, PdfaTakesItsTwoWords) {
  EXPECT_EQ("0 \"NONE\"", Get("PDFA"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFA\", \"2B\")"));
  EXPECT_EQ("0 \"2B\"", Get("PDFA"));
  for (const char* refused : {"\"2b\"", "\"1B\"", "\"2A\"", "\"PDF/A-2B\"", "2"})
    EXPECT_EQ("10", Call(std::string("Twain.SetOption(\"PDFA\", ") + refused + ")")) << refused;
  EXPECT_EQ("0 \"2B\"", Get("PDFA"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFA\", \"NONE\")"));
  EXPECT_EQ("0 \"NONE\"", Get("PDFA"));
}

// A text comes back as it was given, its bytes in the host's character set untouched.
TEST_F(PdfOptionsTest, TheTextsComeBackAsGiven) {
  for (const char* name : {"PDFTITLE", "PDFAUTHOR", "PDFSUBJECT", "PDFKEYWORDS"})
    EXPECT_EQ("0 \"\"", Get(name));
  EXPECT_EQ("0",
            Call("Twain.SetOption(\"PDFTITLE\", \"Invoice (March) \\\\ 2024\", \"PDFAUTHOR\", \"Caf\x8E\")"));
  EXPECT_EQ("0 \"Invoice (March) \\ 2024\"", Get("PDFTITLE"));
  EXPECT_EQ("0 \"Caf\x8E\"", Get("PDFAUTHOR"));
  EXPECT_EQ("0 \"\"", Get("PDFSUBJECT"));
  // An empty text takes the entry away again.
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFTITLE\", \"\")"));
  EXPECT_EQ("0 \"\"", Get("PDFTITLE"));
}

// 255 characters, no more; a number is no text; a control character has no place in the
// document's metadata (tab and the line ends have).
TEST_F(PdfOptionsTest, WhatATextOptionRefuses) {
  const std::string most(255, 'x');
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFSUBJECT\", \"" + most + "\")"));
  EXPECT_EQ("0 \"" + most + "\"", Get("PDFSUBJECT"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"PDFSUBJECT\", \"" + most + "y\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"PDFSUBJECT\", \"" + std::string(1000, 'z') + "\")"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"PDFKEYWORDS\", 5)"));
  EXPECT_EQ("10", Call("Twain.SetOption(\"PDFKEYWORDS\", \"a\x01"
                       "b\")"));
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFKEYWORDS\", \"a\tb\r\nc\")"));
  EXPECT_EQ("0 \"" + most + "\"", Get("PDFSUBJECT"));  // as the refusals found it
  EXPECT_EQ("9", Call("Twain.SetOption(\"PDFTITLES\", \"x\")"));
}

TEST_F(PdfOptionsTest, TheTextsBelongToTheRecordUntilItEnds) {
  EXPECT_EQ("0", Call("Twain.SetOption(\"PDFTITLE\", \"kept\")"));
  EXPECT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
  EXPECT_EQ("0 \"kept\"", Get("PDFTITLE"));
  host->Destruct();
  host->Construct();
  ASSERT_NE(nullptr, Record());
  EXPECT_EQ("0 \"\"", Get("PDFTITLE"));
}

}  // namespace
}  // namespace kvtest
