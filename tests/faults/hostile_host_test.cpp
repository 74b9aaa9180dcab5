// A host that misuses the extension: texts past every limit, values of the wrong kind,
// messages in the wrong order or unknown, and several instances alive at once. Nothing may
// crash, nothing may be reported as done that was not, and the record stays usable.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "tests/support/fixture.h"

namespace kvtest {
namespace {

using velmar::Argument;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<unsigned char> ReadHead(const std::string& path, size_t n) {
  std::vector<unsigned char> bytes(n);
  FILE* f = std::fopen(path.c_str(), "rb");
  size_t got = f ? std::fread(bytes.data(), 1, n, f) : 0;
  if (f) std::fclose(f);
  bytes.resize(got);
  return bytes;
}

Argument Text(const std::string& t) {
  Argument a;
  a.kind = Argument::kText;
  a.text = t;
  return a;
}
Argument Number(double n) {
  Argument a;
  a.kind = Argument::kNumber;
  a.number = n;
  return a;
}
Argument Var(const std::string& name) {
  Argument a;
  a.kind = Argument::kVariable;
  a.text = name;
  return a;
}

class HostileHostTest : public ExtensionTest {
 protected:
  void Connect() { ASSERT_EQ("0", Call("Twain.Connect()")); }
  // Runs a function by its number with raw arguments; field 200 afterwards.
  std::string Raw(const std::string& function, const std::vector<Argument>& args) {
    velmar::CallResult r = host->Call(host->FunctionNumber(function), args);
    EXPECT_TRUE(r.ok) << function << ": " << r.error;
    if (TwainGlobals* g = Record()) {
      EXPECT_EQ(nullptr, g->imageHandle) << function;
    }
    return r.result.Display();
  }
};

// ------------------------------------------------------------------ texts past their limits

// A path longer than the extension holds is refused before the scan, never cut: the cut
// name would be a file the program never named, and the next long path would overwrite it.
TEST_F(HostileHostTest, APathLongerThan255IsRefusedNotCut) {
  Connect();
  const std::string longPath = "hostile" + std::string(293, 'p');
  const std::string cut = longPath.substr(0, 255);
  std::remove(cut.c_str());
  uint8_t before[sizeof Record()->filePath];
  std::memcpy(before, Record()->filePath, sizeof before);
  for (double format : {0.0, 2.0}) {
    EXPECT_EQ("8", Raw("Twain.ScanToFile", {Text(longPath), Number(0), Number(format)})) << format;
  }
  EXPECT_EQ(0, std::memcmp(before, Record()->filePath, sizeof before)) << "the record keeps no cut path";
  EXPECT_FALSE(Exists(cut));
  EXPECT_EQ(0, Record()->dsEnabled);
}

TEST_F(HostileHostTest, LongCapabilityNamesAndValues) {
  Connect();
  // A name compared by its first 31 characters: a real name followed by junk is no name.
  const std::string junk(29, 'Q');
  EXPECT_EQ("9", Call("Twain.GetSourceCapability(" + Quoted("XRESOLUTION" + junk) + ", $v)"));
  EXPECT_EQ("9", Call("Twain.SetSourceCapability(" + Quoted("XRESOLUTION" + junk) + ", 150)"));
  EXPECT_EQ("9", Call("Twain.GetSourceCapability(" + Quoted(std::string(300, 'X')) + ", $v)"));
  EXPECT_EQ("9", Call("Twain.GetSourceCapability(\"XRESOLUTION \", $v)"));
  // A decimal name far past 31 characters still names its identifier (the host reads it).
  EXPECT_EQ("0", Call("Twain.SetSourceCapability(" + Quoted("4376" + std::string(40, ' ')) + ", 150)"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $v)"));
  EXPECT_EQ(150, host->Variable("v").AsNumber());

  // A text value of 300 characters for a 32-character string capability: cut, and refused
  // by the source as a value it does not offer; the current value stays.
  EXPECT_EQ("10", Call("Twain.SetSourceCapability(\"HALFTONES\", " + Quoted(std::string(300, 'H')) + ")"));
  EXPECT_EQ("10",
            Call("Twain.SetSourceCapability(\"HALFTONES\", " + Quoted("Dither" + std::string(294, ' ')) + ")"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"HALFTONES\", $h)"));
  EXPECT_EQ("\"None\"", host->Variable("h").Display());

  // Frame texts of 1000 characters: read up to the field limit, junk after the four edges
  // does not count.
  EXPECT_EQ("0",
            Call("Twain.SetSourceCapability(\"FRAMES\", " + Quoted("1,1,2,2" + std::string(993, ' ')) + ")"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"FRAMES\", $f)"));
  EXPECT_EQ("\"1,1,2,2\"", host->Variable("f").Display());
  // One enormous number, or nothing but commas: refused, the frame stays.
  EXPECT_EQ("10", Call("Twain.SetSourceCapability(\"FRAMES\", " + Quoted(std::string(1000, '9')) + ")"));
  EXPECT_EQ("10", Call("Twain.SetSourceCapability(\"FRAMES\", " + Quoted(std::string(1000, ',')) + ")"));
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"FRAMES\", $f)"));
  EXPECT_EQ("\"1,1,2,2\"", host->Variable("f").Display());
}

// ------------------------------------------------------------------ values of the wrong kind

TEST_F(HostileHostTest, NumbersWhereTextsAreExpectedAndTextsWhereNumbersAre) {
  // A number as the path is the path "12"; with the DSM closed the scan cannot start.
  EXPECT_EQ("13", Raw("Twain.ScanToFile", {Number(12)}));
  EXPECT_EQ("3", Raw("Twain.ScanToField", {Number(5)}));
  EXPECT_EQ("3", Raw("Twain.ScanToField", {Text("picture")}));
  Connect();
  // A number as a capability name is its decimal identifier: 4376 is ICAP_XRESOLUTION.
  EXPECT_EQ("0", Raw("Twain.SetSourceCapability", {Number(4376), Number(200)}));
  EXPECT_EQ("0", Raw("Twain.GetSourceCapability", {Text("XRESOLUTION"), Var("r")}));
  EXPECT_EQ(200, host->Variable("r").AsNumber());
  // A text where the number goes is taken only when it is wholly a number: "300dpi" and
  // "high" answer 10 and set nothing; " 300 " is 300.
  EXPECT_EQ("10", Raw("Twain.SetSourceCapability", {Text("XRESOLUTION"), Text("300dpi")}));
  EXPECT_EQ("10", Raw("Twain.SetSourceCapability", {Text("XRESOLUTION"), Text("high")}));
  EXPECT_EQ("0", Raw("Twain.GetSourceCapability", {Text("XRESOLUTION"), Var("r")}));
  EXPECT_EQ(200, host->Variable("r").AsNumber());
  EXPECT_EQ("0", Raw("Twain.SetSourceCapability", {Text("XRESOLUTION"), Text(" 300 ")}));
  EXPECT_EQ("0", Raw("Twain.GetSourceCapability", {Text("XRESOLUTION"), Var("r")}));
  EXPECT_EQ(300, host->Variable("r").AsNumber());
  // A literal, not a variable, to receive a value: written to the parameter, no harm done.
  EXPECT_EQ("0", Raw("Twain.GetSourceCapability", {Text("XRESOLUTION"), Number(7)}));
  // The odd last name of a pair list is not looked at, even when it is no name at all.
  EXPECT_EQ("0", Raw("Twain.SetSourceCapability", {Text("XRESOLUTION"), Number(150), Number(0)}));
  EXPECT_EQ("0",
            Raw("Twain.GetSourceCapability", {Text("XRESOLUTION"), Var("r"), Text(std::string(300, 'z'))}));
  EXPECT_EQ(150, host->Variable("r").AsNumber());
}

// Host numbers keep their width: a format code, a showUI flag or a capability number that
// only a 16-bit cut would bring into range stays out of it.
TEST_F(HostileHostTest, NumbersAreNotCutTo16Bits) {
  Connect();
  const char* native = kWindowsBuild ? "wide.bmp" : "wide.pict";
  for (double code : {65543.0, -65529.0, 4294967303.0, 7.0e12}) {  // each 7 (PNG) once cut
    std::remove(native);
    EXPECT_EQ("0", Raw("Twain.ScanToFile", {Text(native), Number(0), Number(code)})) << code;
    EXPECT_EQ(kWindowsBuild ? TWFF_BMP : TWFF_PICT, Record()->fileFormat) << code << " is no format";
    // The extension's own file (Windows "BM", the Mac's 512 zero bytes), not the source's PNG.
    std::vector<unsigned char> head = ReadHead(native, 2);
    EXPECT_EQ(kWindowsBuild ? 'B' : 0, head.empty() ? -1 : head[0]) << code;
  }
  std::remove(native);
  // Any showUI that is not 0 shows the interface, where the user cancels: no page.
  ASSERT_EQ(0, Scanner("user cancel"));
  for (double show : {65536.0, 131072.0, -65536.0}) {
    Raw("Twain.ScanToFile", {Text(native), Number(show)});
    EXPECT_FALSE(Exists(native)) << "showUI " << show << " scanned without the interface";
    ASSERT_EQ("0", Call("Twain.Connect()"));
  }
  ASSERT_EQ(0, Scanner("user scan"));
  // 69637 is 0x11005: cut, it would be SUPPORTEDCAPS.
  for (double cap : {69637.0, 65536.0, 4294971397.0}) {
    EXPECT_EQ("9", Raw("Twain.GetSourceCapRange", {Number(cap), Var("caps")})) << cap;
    EXPECT_EQ("9", Raw("Twain.SetSourceCapability", {Number(cap), Number(1)})) << cap;
  }
  EXPECT_EQ("", host->Variable("caps").AsText());
}

// A container type TWAIN does not define cannot be read or rewritten: 9 from every
// capability function, with nothing filled or set; and the source's next answer counts again.
TEST_F(HostileHostTest, AnUnknownContainerTypeAnswers9) {
  Connect();
  for (const char* call :
       {"Twain.GetSourceCapability(\"XRESOLUTION\", $v)", "Twain.GetSourceCapRange(\"XRESOLUTION\", $v)",
        "Twain.SetSourceCapability(\"XRESOLUTION\", 150)"}) {
    ASSERT_EQ(0, Scanner("script-get 0x1118 9 0 040096000000"));
    EXPECT_EQ("9", Call(call)) << call;
    EXPECT_EQ("", host->Variable("v").AsText()) << call;
  }
  EXPECT_EQ("100", ScannerQuery("cap 4376")) << "nothing was set";
  EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $v)"));
  EXPECT_EQ(100, host->Variable("v").AsNumber());
}

// A picture is neither a value nor a place for one: 3, and neither the source nor the
// picture is touched; the pairs before it have taken effect.
TEST_F(HostileHostTest, APictureWhereAValueIsExpectedAnswers3) {
  Connect();
  EXPECT_EQ("3", Call("Twain.SetSourceCapability(\"XRESOLUTION\", $p:picture)"));
  EXPECT_EQ("100", ScannerQuery("cap 4376"));
  EXPECT_EQ("3", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $p:picture)"));
  EXPECT_EQ("3", Call("Twain.GetSourceCapRange(\"PIXELTYPE\", $t, \"XRESOLUTION\", $p:picture)"));
  EXPECT_EQ("\"0,1,2\"", host->Variable("t").Display());
  EXPECT_EQ("3", Call("Twain.SetSourceCapability(\"XRESOLUTION\", 150, \"YRESOLUTION\", $p:picture)"));
  EXPECT_EQ("150", ScannerQuery("cap 4376"));
  EXPECT_EQ("100", ScannerQuery("cap 4377"));
}

// ------------------------------------------------------------------ messages out of order

TEST_F(HostileHostTest, MessagesOnAnEmptySlotDoNothing) {
  int other = host->AddInstance();
  host->UseInstance(other);
  long blocks = LiveBlocks();
  host->Fields().Set(200, velmar::Value::Number(77));
  for (int16_t message : {1, 2, 2, 1}) {
    host->Send(message);
    EXPECT_EQ(nullptr, host->Slot()) << message;
    EXPECT_EQ("77", host->Fields().Get(200).Display()) << "message " << message << " wrote a result";
  }
  EXPECT_EQ(blocks, LiveBlocks());
  // Construction afterwards works as usual.
  host->Construct();
  ASSERT_NE(nullptr, Record());
  EXPECT_EQ("\"1.2\"", Call("Twain.About()"));
  if constexpr (kWindowsBuild) {
    host->Destruct();
  } else {
    host->Slot() = nullptr;  // the record is instance 0's
  }
  host->UseInstance(0);
}

TEST_F(HostileHostTest, DestructionTwiceAndOnGarbage) {
  Connect();
  host->Destruct();
  EXPECT_EQ(nullptr, host->Slot());
  host->Destruct();  // again: nothing there
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ("(nothing)", Call("Twain.About()"));

  // A slot holding garbage: message 2 frees nothing and leaves no pointer behind.
  static uint8_t garbage[4096];
  std::memset(garbage, 0x5A, sizeof garbage);
  host->Slot() = garbage;
  host->Destruct();
  EXPECT_EQ(nullptr, host->Slot());
  EXPECT_EQ(0x5A, garbage[0]);

  // The DSM was closed by the first destruction: a new instance connects afresh.
  host->Construct();
  ASSERT_NE(nullptr, Record());
  Connect();
}

TEST_F(HostileHostTest, UnknownMessagesDoNothing) {
  Connect();
  TwainGlobals before = *Record();
  void* slot = host->Slot();
  host->Fields().Set(200, velmar::Value::Number(77));
  for (int16_t message : {5, -1, 1000, 32767, -32768}) {
    host->Send(message);
    EXPECT_EQ(slot, host->Slot()) << message;
    EXPECT_EQ(0, std::memcmp(&before, Record(), sizeof before))
        << "message " << message << " changed the record";
    EXPECT_EQ("77", host->Fields().Get(200).Display()) << message;
  }
  EXPECT_EQ("0", Call("Twain.Disconnect()"));
}

// ------------------------------------------------------------------ several instances

TEST_F(HostileHostTest, SeveralInstancesConnectAndDisconnectInTurn) {
  std::vector<int> instances = {0, host->AddInstance(), host->AddInstance()};
  for (size_t i = 1; i < instances.size(); ++i) {
    host->UseInstance(instances[i]);
    host->Construct();
    ASSERT_NE(nullptr, Record());
  }
  std::vector<TwainGlobals*> records;
  for (int i : instances) {
    host->UseInstance(i);
    records.push_back(Record());
  }
  if constexpr (kWindowsBuild) {
    EXPECT_NE(records[0], records[1]);
    EXPECT_NE(records[1], records[2]);
    EXPECT_NE(records[0], records[2]);
  } else {
    EXPECT_EQ(records[0], records[1]);
    EXPECT_EQ(records[0], records[2]);
  }

  // Each in turn, twice round.
  for (int round = 0; round < 2; ++round) {
    for (int i : instances) {
      host->UseInstance(i);
      EXPECT_EQ("0", Call("Twain.Connect()")) << "instance " << i << " round " << round;
      EXPECT_TRUE(Record()->dsmOpen && Record()->dsOpen) << i;
      EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $v)")) << i;
      EXPECT_EQ("0", Call("Twain.Disconnect()")) << i;
      EXPECT_FALSE(Record()->dsmOpen || Record()->dsOpen) << i;
    }
  }

  // All connecting at once. The Mac record is shared, so it is simply connected already. On
  // Windows Wine's DSM admits one application per process: the later instances are told 14;
  // the TWAIN 2 manager admits them, and the virtual scanner, open for the first, refuses them
  // (TWCC_MAXCONNECTIONS: 3004). Their Disconnect must not take the DSM away from the first
  // (the library is shared).
  host->UseInstance(instances[0]);
  EXPECT_EQ("0", Call("Twain.Connect()"));
  const char* refused = !kWindowsBuild ? "0" : UnderTwain2Manager() ? "3004" : "14";
  for (int i : {instances[1], instances[2]}) {
    host->UseInstance(i);
    EXPECT_EQ(refused, Call("Twain.Connect()")) << i;
  }
  if constexpr (kWindowsBuild) {
    for (int i : {instances[1], instances[2]}) {
      host->UseInstance(i);
      EXPECT_EQ("0", Call("Twain.Disconnect()")) << i;
    }
    host->UseInstance(instances[0]);
    EXPECT_TRUE(Record()->dsmOpen && Record()->dsOpen);
    EXPECT_EQ("0", Call("Twain.GetSourceCapability(\"XRESOLUTION\", $v)"))
        << "the DSM went with another instance";
  }
  for (int i : {instances[1], instances[0], instances[2]}) {
    host->UseInstance(i);
    EXPECT_EQ("0", Call("Twain.Disconnect()")) << i;
    EXPECT_FALSE(Record()->dsmOpen) << i;
  }

  // Instances destroyed out of order; the one left still connects and scans.
  if constexpr (kWindowsBuild) {
    host->UseInstance(instances[2]);  // the most recently constructed
    host->Destruct();
    host->UseInstance(instances[1]);
    host->Destruct();
    host->UseInstance(0);
    Connect();
    std::remove("hostile.bmp");
    EXPECT_EQ("0", Call("Twain.ScanToFile(\"hostile.bmp\")"));
    EXPECT_TRUE(Exists("hostile.bmp"));
    std::remove("hostile.bmp");
  } else {
    for (int i : {instances[1], instances[2]}) {
      host->UseInstance(i);
      host->Slot() = nullptr;  // the shared record is instance 0's to destroy
    }
    host->UseInstance(0);
  }
}

}  // namespace
}  // namespace kvtest
