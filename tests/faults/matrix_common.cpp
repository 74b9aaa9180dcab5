#include "tests/faults/matrix_common.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <sstream>

#include "tests/faults/matrix_report.h"
#include "traits/build_traits.h"

namespace kvtest {

std::vector<Fault> CommonFaults() {
  Fault checkStatus{TWRC_CHECKSTATUS, 0};
  checkStatus.afterWork = true;
  return {{TWRC_FAILURE, TWCC_BUMMER},
          {TWRC_FAILURE, TWCC_BADVALUE},
          {TWRC_FAILURE, TWCC_SEQERROR},
          {TWRC_FAILURE, TWCC_SUCCESS},
          {TWRC_FAILURE, static_cast<TW_UINT16>(TWCC_CUSTOMBASE + 1)},
          {TWRC_CANCEL, 0},
          {TWRC_DATANOTAVAILABLE, 0},
          checkStatus};
}

std::string Describe(const Fault& f) {
  std::ostringstream s;
  s << "rc " << f.rc;
  if (f.rc == TWRC_FAILURE) s << " cc " << f.cc;
  if (f.statusFails) s << " (DAT_STATUS fails)";
  if (f.afterWork) s << " after the work";
  return s.str();
}

int Translated(const Fault& f) {
  if (f.rc == TWRC_CANCEL) return 5;
  if (f.rc != TWRC_FAILURE) return 2000 + f.rc;
  if (f.statusFails) return TWRC_FAILURE;
  switch (f.cc) {
    case TWCC_SUCCESS:
      return 2001;
    case TWCC_NODS:
      return kWindowsBuild ? 3003 : 15;
    case TWCC_OPERATIONERROR:
      return 13;
    case TWCC_BADCAP:
      return 9;
    case TWCC_BADVALUE:
      return 10;
    case TWCC_SEQERROR:
      return 14;
    case TWCC_BADDEST:
      return 11;
    case TWCC_CAPUNSUPPORTED:
      return 9;
    case TWCC_CAPBADOPERATION:
      return 11;
    case TWCC_CAPSEQERROR:
      return 11;
    default:
      return f.cc >= TWCC_CUSTOMBASE ? 3999 : 3000 + f.cc;
  }
}

std::string Name(const Request& r) {
  std::ostringstream s;
  s << "DG " << r.dg << " DAT 0x" << std::hex << r.dat << " MSG 0x" << r.msg;
  return s.str();
}

bool Is(const Request& r, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
  return r.dg == dg && r.dat == dat && r.msg == msg;
}

bool IsScan(Kind k) { return k == Kind::ScanNative || k == Kind::ScanFile || k == Kind::ScanField; }

bool ExpectEffectOfZero(Kind kind, const std::string& call, const char* file, velmar::Host& host,
                        const std::string& what) {
  switch (kind) {
    case Kind::Capability:
      if (call.find("SetSource") != std::string::npos) {
        EXPECT_EQ("150", ScannerQuery("cap 0x1118")) << what << ": 0 without the value set";
      } else {
        EXPECT_NE("", host.Variable("v").Display()) << what << ": 0 without a value";
      }
      return true;
    case Kind::ScanNative:
    case Kind::ScanFile: {
      FILE* f = std::fopen(file, "rb");
      EXPECT_NE(nullptr, f) << what << ": 0 without a page";
      if (f) std::fclose(f);
      return true;
    }
    case Kind::ScanField:
      EXPECT_NE("picture (none)", host.Variable("p").Display()) << what << ": 0 without a page";
      return true;
    default:
      return false;
  }
}

void MatrixTest::DropInstance() {
  EndTransferLeftOpen(host ? Record() : nullptr);
  if (host) {
    host->Destruct();
    host.reset();
  }
}

void MatrixTest::NewInstance() {
  ASSERT_EQ(0, Scanner("reset"));
  host = std::make_unique<velmar::Host>(Entry(), CatalogueStrings());
  host->Construct();
  ASSERT_NE(nullptr, Record());
  if (const char* manager = Manager()) {
    ASSERT_EQ("0", Call(std::string("Twain.SetOption(\"DSM\", \"") + manager + "\")"));
  }
}

std::string ParamName(std::string stepName) {
  for (char& c : stepName)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return stepName;
}

}  // namespace kvtest
