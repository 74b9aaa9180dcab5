// What the fault matrices share: the matrix over every DSM request (fault_matrix_test.cpp)
// and the Windows matrix over every request that reaches the virtual scanner
// (fault_matrix_windows_test.cpp). The cases they inject and what the extension makes of
// them, the kinds of call they make, and the harness around each case.
#pragma once
#include <string>
#include <vector>

#include "standins/velmar/velmar_host.h"
#include "tests/support/fixture.h"
#include "twain/twain.h"

namespace kvtest {

struct Fault {
  TW_UINT16 rc;
  TW_UINT16 cc;
  bool statusFails = false;  // DAT_STATUS, asked after the failure, fails too
  bool afterWork = false;    // the request is carried out, then answers rc instead of success
};

// The cases every matrix injects: TWRC_FAILURE with condition codes the translation names and
// one it does not, without a reason (TWCC_SUCCESS) and with a source's own code; a cancel; a
// return code a request never gives; and TWRC_CHECKSTATUS after the work was done (the only
// way a request answers it).
std::vector<Fault> CommonFaults();

std::string Describe(const Fault& f);

// What the translation makes of a failure that is passed up unchanged.
int Translated(const Fault& f);

// One request as a matrix sees it.
struct Request {
  TW_UINT32 dg;
  TW_UINT16 dat, msg;
};

std::string Name(const Request& r);
bool Is(const Request& r, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg);

enum class Kind { Connect, Select, Names, Capability, ScanNative, ScanFile, ScanField, Reset, Disconnect };

bool IsScan(Kind k);

// A call that answered 0 after a request that did its work and answered otherwise: its
// effect is there. Checked here for capabilities (`call` reads into $v, or sets XRESOLUTION
// to 150) and scans (into `file`, or into $p); false for the other kinds, which each matrix
// checks against what it holds.
bool ExpectEffectOfZero(Kind kind, const std::string& call, const char* file, velmar::Host& host,
                        const std::string& what);

// The harness around each case.
class MatrixTest : public ExtensionTest {
 protected:
  // Ends the instance, once the harness has brought a source that the case left inside a
  // transfer back to state 5.
  void DropInstance();
  // A new instance over a reset virtual scanner, set to the manager of Manager().
  void NewInstance();
  // The manager the cases run against (a word of the option DSM): the suite's, unless a matrix
  // holds expectations of one manager only.
  virtual const char* Manager() const { return TestManager(); }
};

// A step's name as gtest takes it for a parameter's name: every character but letters and
// digits becomes '_'.
std::string ParamName(std::string stepName);

}  // namespace kvtest
