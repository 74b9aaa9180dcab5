// What a broken driver does inside a request: `crash`, `exit`, `corrupt-heap` and `hang`, each
// once at the next matching triplet, limited to one page of the enable by `page K`. The ones
// that end the process run in a child process (a death test).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "standins/virtual-scanner/tests/support.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

class MisdeedTest : public ScannerTest {
 protected:
  // DAT_IMAGEINFO / MSG_GET of the page in the scanner, in seconds.
  double TimedImageInfo(TW_UINT16* rc) {
    TW_IMAGEINFO info{};
    auto start = std::chrono::steady_clock::now();
    *rc = Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  void NextPage() {
    TW_HANDLE h = nullptr;
    ASSERT_EQ(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h), TWRC_XFERDONE);
    FreeHandle(h);
    TW_PENDINGXFERS p{};
    ASSERT_EQ(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &p), TWRC_SUCCESS);
  }
};

TEST_F(MisdeedTest, CommandsAreReadLikeFailAndResetTakesThemAway) {
  for (const char* good :
       {"crash 1 2 3", "crash 0xFFFF 0xFFFF 0xFFFF page 2", "exit 1 3 0x402 7", "exit 1 3 0x402 0 page 1",
        "corrupt-heap 2 0x101 1", "hang 1 8 1 0", "hang 1 8 1 3600 page 32767"})
    EXPECT_EQ(VirtualScannerControl(good), 0) << good;
  for (const char* bad : {"crash 1 2", "crash 1 2 3 4", "crash 1 2 3 page", "crash 1 2 3 page 0",
                          "crash 1 2 3 pages 2", "exit 1 3 0x402", "exit 1 3 0x402 256", "hang 1 8 1 3601",
                          "hang 1 8 1 -1", "corrupt-heap 1 x 1", "hang 1 8 1 1 page 32768"})
    EXPECT_NE(VirtualScannerControl(bad), 0) << bad;
  // Every misdeed queued above is gone with the reset: the requests run as usual.
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  EXPECT_EQ(Status(), TWCC_SUCCESS);
  ToTransferReady();
  TW_UINT16 rc = 0;
  EXPECT_LT(TimedImageInfo(&rc), 0.5);
  EXPECT_EQ(rc, TWRC_SUCCESS);
}

#if defined(_WIN32)
// The child ends with the exception's code, where nobody handles it, instead of Wine's report of
// an unhandled exception (which the suites take for a crash of their own).
LONG WINAPI EndWithTheExceptionsCode(EXCEPTION_POINTERS* e) {
  TerminateProcess(GetCurrentProcess(), e->ExceptionRecord->ExceptionCode);
  return EXCEPTION_CONTINUE_SEARCH;
}
#endif

TEST_F(MisdeedTest, ACrashIsAnAccessViolationInsideTheRequest) {
  ASSERT_EQ(VirtualScannerControl("crash 1 8 1"), 0);
#if defined(_WIN32)
  EXPECT_EXIT(
      {
        SetUnhandledExceptionFilter(EndWithTheExceptionsCode);
        Status();
      },
      ::testing::ExitedWithCode(int(EXCEPTION_ACCESS_VIOLATION)), "");
#else
  // UndefinedBehaviorSanitizer stops the store through a null pointer before the fault.
  if (kAddressSanitizer) {
    EXPECT_DEATH(Status(), "null pointer");
  } else {
    EXPECT_EXIT(Status(), ::testing::KilledBySignal(SIGSEGV), "");
  }
#endif
  // The child used it up, not this process.
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  EXPECT_EQ(Status(), TWCC_SUCCESS);
}

TEST_F(MisdeedTest, AnExitEndsTheProcessWithItsCode) {
  // The leak check that AddressSanitizer runs at exit answers with a code of its own.
  if (kAddressSanitizer) GTEST_SKIP() << "an exit under AddressSanitizer answers the leak check's code";
  ASSERT_EQ(VirtualScannerControl("exit 1 3 0x402 7"), 0);
  EXPECT_EXIT(Close(), ::testing::ExitedWithCode(7), "");
  ASSERT_EQ(VirtualScannerControl("reset"), 0);  // the child used it up, not this process
}

TEST_F(MisdeedTest, ACorruptedHeapGoesOnUntilSomethingNotices) {
  // AddressSanitizer's heap keeps guard zones around every block: nothing a driver damages.
  if (kAddressSanitizer) GTEST_SKIP() << "the heap under AddressSanitizer is not the one a driver damages";
  ASSERT_EQ(VirtualScannerControl("corrupt-heap 1 8 1"), 0);
  // The request itself answers as usual; what the damage does later is the heap's business.
  EXPECT_EXIT(
      {
        TW_STATUS s{};
        std::_Exit(Call(DG_CONTROL, DAT_STATUS, MSG_GET, &s) == TWRC_SUCCESS ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
}

TEST_F(MisdeedTest, AHangSleepsInsideTheRequestOnTheGivenPageOnly) {
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl("hang 2 0x101 1 1 page 2"), 0);
  ToTransferReady();
  TW_UINT16 rc = 0;
  EXPECT_LT(TimedImageInfo(&rc), 0.5) << "page 1";
  EXPECT_EQ(rc, TWRC_SUCCESS);
  NextPage();
  ASSERT_EQ(State(), 6);
  EXPECT_GE(TimedImageInfo(&rc), 0.9) << "page 2";
  EXPECT_EQ(rc, TWRC_SUCCESS) << "then it answers";
  EXPECT_LT(TimedImageInfo(&rc), 0.5) << "once";
}

// The journal: every triplet as it arrives, with the page a misdeed's `page K` would see
// then, appended line by line; `reset` ends it, and a process a misdeed ends leaves it whole
// up to the triplet that ended it.
TEST_F(MisdeedTest, TheJournalListsEveryTripletWithThePageInTheScanner) {
  const std::string path = "vs-journal.txt";
  auto read = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  std::remove(path.c_str());
  ASSERT_EQ(VirtualScannerControl("pages 2"), 0);
  ASSERT_EQ(VirtualScannerControl(("journal " + path).c_str()), 0);
  ToTransferReady();
  NextPage();
  TW_UINT16 rc = 0;
  TimedImageInfo(&rc);
  const std::string got = read();
  // From state 4: the enable (1 9 0x502), then the events that brought page 1, page 1's
  // transfer and end, and page 2's first request.
  EXPECT_EQ(got.find("1 9 1282 0\n"), 0u) << got;
  EXPECT_NE(got.find("2 260 1 1\n1 5 1793 1\n2 257 1 2\n"), std::string::npos) << got;
  EXPECT_EQ(got.substr(got.size() - 10), "2 257 1 2\n") << "the last triplet last: " << got;
  ASSERT_EQ(VirtualScannerControl("reset"), 0);
  TimedImageInfo(&rc);
  EXPECT_EQ(read(), got) << "reset ends the journal";
  ASSERT_EQ(VirtualScannerControl(("journal " + path).c_str()), 0);
  ASSERT_EQ(VirtualScannerControl("journal off"), 0);
  TimedImageInfo(&rc);
  EXPECT_EQ(read(), got);
  std::remove(path.c_str());
}

}  // namespace
