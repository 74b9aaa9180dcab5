// What every extension test shares: a host stand-in driving the statically linked extension
// through its entry, the virtual scanner's control interface, and checks of what must not
// happen (leaks, an image left behind, flags that disagree with the DSM).
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "record/globals.h"
#include "standins/velmar/velmar_host.h"

namespace kvtest {

// The extension's entry, as a host calls it.
velmar::ExtensionEntry Entry();
std::vector<std::string> CatalogueStrings();

// The loaded virtual scanner's control interface (loaded now if the DSM has not yet).
int Scanner(const std::string& command);
std::string ScannerQuery(const std::string& what);

// DSM requests made by the extension: the DSM's own log on the Mac; on Windows the requests
// that reached the virtual scanner (Wine's DSM keeps no count).
long DsmCalls();

// Live Memory Manager blocks and handles (Mac); 0 on Windows.
long LiveBlocks();

// Blocks that the loaded TWAIN 2 manager stand-in's memory functions gave out and that were
// not freed; -1 when no TWAINDSM.DLL is loaded (and on the Mac).
long ManagerBlocks();
// A count the loaded TWAIN 2 manager stand-in exports by that name (TwainDsmStandin...); -1
// when no TWAINDSM.DLL is loaded, or it exports no such count.
long ManagerCount(const char* exportName);

// The manager every test runs against (KV_TEST_DSM: a word of the option DSM), or null for
// each build's default.
const char* TestManager();

// Whether the tests run against the TWAIN 2 manager (TWAINDSM.DLL): the 64-bit build's
// default, or KV_TEST_DSM's choice.
bool UnderTwain2Manager();

// Where the virtual scanner stands in the manager's selection dialog: first in Wine's
// TWAIN_32.DLL (and the Mac's), second in the TWAIN 2 manager, which lists its sources in the
// order of their paths (gphoto2.ds before sane.ds). For the manager the tests run against.
int VirtualScannerChoice();

// Live GDI objects of the process (Windows; 0 on the Mac). Wine's GetGuiResources always says
// 0, so the objects are counted in Wine's handle table, which answers GetObjectType for an
// index without its generation.
long GdiObjects();

// The memory the process holds now: Windows, its committed private bytes; elsewhere, its
// resident ones.
long long ProcessBytes();

#if KV_WINDOWS_BUILD
// The processes of the program `exe` (a file name, any case) that process `parent` (0: this
// one) started and that still run: the extension's workers.
std::vector<unsigned long> ChildProcesses(const char* exe, unsigned long parent = 0);
// The full name of `file` in the test program's own folder, where the extension, linked into
// the program, finds its workers.
std::string BesideTheProgram(const char* file);
#endif

class ExtensionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs one call and returns what field 200 shows: a number, a text in quotes or (nothing).
  std::string Call(const std::string& call);
  velmar::CallResult CallFull(const std::string& call);
  TwainGlobals* Record();

  std::unique_ptr<velmar::Host> host;
};

}  // namespace kvtest
