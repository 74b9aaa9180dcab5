// The loader and the command-line host against a fake extension built with the generated
// catalogue resources, the way the host meets the real one.
#include <gtest/gtest.h>

#include <cstdio>

#include "traits/build_traits.h"
#if !KV_WINDOWS_BUILD
#include <sys/wait.h>
#endif

#include "kv_catalogue.h"
#include "standins/velmar/velmar_host.h"

namespace {

int ExitStatus(int rc) {
#if KV_WINDOWS_BUILD
  return rc;
#else
  return rc == -1 ? rc : WEXITSTATUS(rc);
#endif
}

std::vector<std::string> Functions() {
  std::vector<std::string> functions(kCatalogueEntries, kCatalogueEntries + kCatalogueEntryCount);
  functions.pop_back();  // "*Kardivelle", the library's own entry
  return functions;
}

TEST(Loader, ReadsTheCatalogueFromTheResources) {
  std::string error;
  auto host = velmar::Host::Load(KV_FAKE_EXTENSION, &error);
  ASSERT_TRUE(host) << error;
  EXPECT_EQ(host->Catalogue(), Functions());
  EXPECT_EQ(host->Catalogue().size(), 15u);
  EXPECT_EQ(host->FunctionNumber("Twain.About"), 1);
  EXPECT_EQ(host->FunctionNumber("Twain.SelectDataSource"), 10);
  EXPECT_EQ(host->FunctionNumber("Twain.SelectSource"), 13);
  EXPECT_EQ(host->FunctionNumber("Twain.SetOption"), 14);
  EXPECT_EQ(host->FunctionNumber("Twain.GetOption"), 15);
  host->Construct();
  EXPECT_EQ(host->Call("Twain.About()").result.Display(), "\"1.2\"");
  EXPECT_EQ(host->Call("Twain.SetSourceCapability(4.25)").result.Display(), "8.5");
  host->Destruct();
  EXPECT_EQ(host->Slot(), nullptr);
}

TEST(Loader, RefusesWhatIsNotAnExtension) {
  std::string error;
  EXPECT_FALSE(velmar::Host::Load("no-such-extension", &error));
  EXPECT_FALSE(error.empty());
}

// One command-line argument, quoted for the shell that popen runs (sh, or cmd under Wine).
std::string Q(const std::string& arg) {
  std::string quoted(1, kWindowsBuild ? '"' : '\'');
  for (char c : arg) {
    if (kWindowsBuild && c == '"')
      quoted += "\\\"";
    else if (!kWindowsBuild && c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + quoted[0];
}

std::string RunHost(const std::vector<std::string>& arguments, int* status,
                    const std::string& extension = KV_FAKE_EXTENSION) {
  std::string command = std::string(KV_VELMAR_HOST) + " --extension " + extension;
  for (const std::string& arg : arguments) command += " " + Q(arg);
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[512];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  *status = ExitStatus(pipe ? pclose(pipe) : -1);
  std::string clean;
  for (char c : out)
    if (c != '\r') clean += c;
  return clean;
}

TEST(CommandLine, PrintsEachCallAndItsVariables) {
  int status = -1;
  std::string out =
      RunHost({"Twain.About()", "Twain.GetSourceCapability(\"PIXELTYPE\", $v)", "Twain.ScanToField($p:picture)",
               "Twain.ScanToField($v)", "Twain.Reset()", "Twain.Connect(1, $v)"},
              &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "Twain.About() -> \"1.2\"\n"
            "Twain.GetSourceCapability(\"PIXELTYPE\", $v) -> 0\n"
            "  $v = \"PIXELTYPE=7\"\n"
            "Twain.ScanToField($p:picture) -> 0\n"
            "  $p = picture 64x48\n"
            "Twain.ScanToField($v) -> 3\n"
            "  $v = \"PIXELTYPE=7\"\n"
            "Twain.Reset() -> (nothing)\n"
            "Twain.Connect(1, $v) -> 2\n"
            "  $v = \"PIXELTYPE=7\"\n");
}

TEST(CommandLine, SetupCallsRunFirstUnprintedAndStopTheRunWhenTheyFail) {
  int status = -1;
  std::string out = RunHost(
      {"Twain.About()", "--setup", "Twain.GetSourceCapability(\"PIXELTYPE\", $v)", "Twain.ScanToField($v)"},
      &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "Twain.About() -> \"1.2\"\n"
            "Twain.ScanToField($v) -> 3\n"
            "  $v = \"PIXELTYPE=7\"\n");
  out = RunHost({"--setup", "Twain.Connect(1, $v)", "Twain.About()"}, &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_EQ(out.find("Twain.About() ->"), std::string::npos) << out;
  EXPECT_NE(out.find("the setup call 'Twain.Connect(1, $v)' answered 2"), std::string::npos) << out;
}

TEST(CommandLine, Describe) {
  int status = -1;
  std::string out = RunHost({"--describe"}, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("1 Twain.About():16543000\n  parameters: \"Parms: (fake)\" length 13\n"
                     "  return: \"Return Code :\" length 13\n"),
            0u)
      << out;
  EXPECT_NE(out.find("10 Twain.SelectDataSource():16543003\n"), std::string::npos);
}

TEST(CommandLine, FailsWithAMessage) {
  int status = 0;
  std::string out = RunHost({"Twain.About()", "Twain.About("}, &status);
  EXPECT_NE(status, 0);
  EXPECT_EQ(out.find("Twain.About() ->"), std::string::npos) << "nothing runs when a call cannot be parsed";
  EXPECT_NE(out.find("cannot parse"), std::string::npos) << out;
  out = RunHost({"Twain.Nothing()"}, &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("Twain.Nothing"), std::string::npos) << out;
  out = RunHost({"Twain.About()"}, &status, "missing-extension");
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("missing-extension"), std::string::npos) << out;
  RunHost({"--select", "first", "Twain.About()"}, &status);
  EXPECT_NE(status, 0);
}

}  // namespace
