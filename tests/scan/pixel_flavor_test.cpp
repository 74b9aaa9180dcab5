// The scratch variable "#1" that pixel-flavour synchronisation borrows before every scan
// holds afterwards exactly what it held before: a text stays that text, a number that number.
#include <string>

#include "tests/support/fixture.h"

namespace kvtest {
namespace {

class ScratchVariableTest : public ExtensionTest {
 protected:
  void Put(const velmar::Value& value) { host->Fields().Set(host->Fields().FindVariable("#1"), value); }
  std::string Held() { return host->Variable("#1").Display(); }
  void ScanToField() { EXPECT_EQ("0", Call("Twain.ScanToField($page:picture)")); }
};

TEST_F(ScratchVariableTest, WhatTheHostHeldComesBackAsItWas) {
  ASSERT_EQ("0", Call("Twain.Connect()"));
  EXPECT_EQ("\"\"", Held());  // a host starts it as the empty text
  ScanToField();
  EXPECT_EQ("\"\"", Held());

  Put(velmar::Value::Text("keep me"));
  ScanToField();
  EXPECT_EQ("\"keep me\"", Held());

  Put(velmar::Value::Text("12abc"));  // a text that starts like a number stays a text
  ScanToField();
  EXPECT_EQ("\"12abc\"", Held());

  Put(velmar::Value::Number(8.25));
  ScanToField();
  EXPECT_EQ("8.25", Held());
}

// A flavour left inverted is put back through "#1" with a MSG_SET; a text longer than any
// capability text still comes back whole.
TEST_F(ScratchVariableTest, AFlavourPutBackLeavesALongTextInPlace) {
  ASSERT_EQ("0", Call("Twain.Connect()"));
  Put(velmar::Value::Text(std::string(300, 'x')));
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(\"PIXELFLAVOR\", 1)"));
  ScanToField();
  EXPECT_EQ("\"" + std::string(300, 'x') + "\"", Held());
}

}  // namespace
}  // namespace kvtest
