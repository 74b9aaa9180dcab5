// The host's number format and its reading of numbers from text.
#include <gtest/gtest.h>

#include "standins/velmar/velmar_host.h"

using velmar::FormatNumber;
using velmar::ParseNumber;

TEST(NumberFormat, WholeNumbersHaveNoDecimalPoint) {
  EXPECT_EQ(FormatNumber(150), "150");
  EXPECT_EQ(FormatNumber(-1), "-1");
  EXPECT_EQ(FormatNumber(1e20), "100000000000000000000");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(0), "0");
}

TEST(NumberFormat, ShortestFormOfAtMostFifteenDigits) {
  EXPECT_EQ(FormatNumber(8.5), "8.5");
  EXPECT_EQ(FormatNumber(HostFloat(1) / 10), "0.1");
  EXPECT_EQ(FormatNumber(0.1), "0.1");  // a double's 0.1 seen through the host's precision
  EXPECT_EQ(FormatNumber(-2.25), "-2.25");
  EXPECT_EQ(FormatNumber(HostFloat(1) / 3), "0.333333333333333");
  EXPECT_EQ(FormatNumber(HostFloat(2) / 3), "0.666666666666667");
  EXPECT_EQ(FormatNumber(HostFloat(123456789012.345)), "123456789012.345");
  EXPECT_EQ(FormatNumber(HostFloat(3) / 10), "0.3");
}

// The host reads no exponents, so it writes none: what it prints reads back as the number.
// (Found by fuzz/text_conversions: a frame edge of -1/65536 came back as -1.52587890625.)
TEST(NumberFormat, NoExponentAndReadsBack) {
  EXPECT_EQ(FormatNumber(HostFloat(-1) / 65536), "-0.0000152587890625");
  EXPECT_EQ(FormatNumber(HostFloat(1) / 1048576), "0.00000095367431640625");
  EXPECT_EQ(FormatNumber(HostFloat(1e18) + HostFloat(0.25)), "1000000000000000000");
  EXPECT_EQ(FormatNumber(HostFloat(1.5e-7)), "0.00000015");
  for (HostFloat v : {HostFloat(-1) / 65536, HostFloat(3) / 65536, HostFloat(1) / 1048576, HostFloat(-32767.5),
                      HostFloat(123) / 1000000, HostFloat(7) / 1e12}) {
    std::string text = FormatNumber(v);
    EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    EXPECT_EQ(ParseNumber(text), v) << text;
  }
}

TEST(NumberParse, LongestNumericPrefix) {
  EXPECT_EQ(ParseNumber("8.5"), HostFloat(8.5));
  EXPECT_EQ(ParseNumber("  -8.5 dpi"), HostFloat(-8.5));
  EXPECT_EQ(ParseNumber("\t+3"), 3);
  EXPECT_EQ(ParseNumber("12."), 12);
  EXPECT_EQ(ParseNumber("1e5"), 1);  // no exponents
  EXPECT_EQ(ParseNumber("300,300"), 300);
  EXPECT_EQ(ParseNumber("1.5.2"), HostFloat(1.5));
  EXPECT_EQ(ParseNumber("0.1"), HostFloat(1) / 10);
}

TEST(NumberParse, NoPrefixGivesZero) {
  EXPECT_EQ(ParseNumber(""), 0);
  EXPECT_EQ(ParseNumber("abc"), 0);
  EXPECT_EQ(ParseNumber("-"), 0);
  EXPECT_EQ(ParseNumber("- 5"), 0);
  EXPECT_EQ(ParseNumber(".5"), 0);
}

TEST(NumberWire, RoundTripsExactly) {
  for (HostFloat v : {HostFloat(1) / 3, HostFloat(-0.0), HostFloat(1e300), HostFloat(8.5)}) {
    EXPECT_EQ(velmar::WireToFloat(velmar::FloatToWire(v)), v);
    EXPECT_EQ(velmar::Value::Number(v).AsNumber(), v);
  }
}

TEST(ValueDisplay, EachKind) {
  EXPECT_EQ(velmar::Value().Display(), "(nothing)");
  EXPECT_EQ(velmar::Value::Number(13).Display(), "13");
  EXPECT_EQ(velmar::Value::Text("1.2").Display(), "\"1.2\"");
  EXPECT_EQ(velmar::Value::OfPicture(velmar::Picture()).Display(), "picture (none)");
  velmar::Picture picture;
  picture.present = true, picture.width = 64, picture.height = 48;
  EXPECT_EQ(velmar::Value::OfPicture(picture).Display(), "picture 64x48");
  EXPECT_EQ(velmar::Value::Text(" 7 pages").AsNumber(), 7);
  EXPECT_EQ(velmar::Value::Number(8.5).AsText(), "8.5");
}

TEST(CallParse, Arguments) {
  velmar::ParsedCall call;
  std::string error;
  ASSERT_TRUE(velmar::ParseCall(" Twain.GetSourceCapability( \"XRESOLUTION\" , $x, -1, 8.5, $p:picture )",
                                &call, &error))
      << error;
  EXPECT_EQ(call.function, "Twain.GetSourceCapability");
  ASSERT_EQ(call.arguments.size(), 5u);
  EXPECT_EQ(call.arguments[0].kind, velmar::Argument::kText);
  EXPECT_EQ(call.arguments[0].text, "XRESOLUTION");
  EXPECT_EQ(call.arguments[1].kind, velmar::Argument::kVariable);
  EXPECT_EQ(call.arguments[1].text, "x");
  EXPECT_EQ(call.arguments[2].number, -1);
  EXPECT_EQ(call.arguments[3].number, HostFloat(8.5));
  EXPECT_EQ(call.arguments[4].kind, velmar::Argument::kPictureVariable);
  ASSERT_TRUE(velmar::ParseCall("Twain.About()", &call, &error));
  EXPECT_TRUE(call.arguments.empty());
  ASSERT_TRUE(velmar::ParseCall("Twain.ScanToFile(\"a \\\"b\\\", c\")", &call, &error));
  EXPECT_EQ(call.arguments[0].text, "a \"b\", c");
}

TEST(CallParse, Rejects) {
  velmar::ParsedCall call;
  std::string error;
  for (const char* bad : {"", "Twain", "Twain.About", "Twain.About(", "Twain.About())", "About()", "Twain.(1)",
                          "Twain.F(1,)", "Twain.F(,1)", "Twain.F(1 2)", "Twain.F(\"open)", "Twain.F($)",
                          "Twain.F($p:pict)", "Twain.F(abc)", "Twain.F(.5)", "Twain.F(-)"}) {
    error.clear();
    EXPECT_FALSE(velmar::ParseCall(bad, &call, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}
