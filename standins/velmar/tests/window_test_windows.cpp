// The Windows host passes its own top-level window as the entry's third argument.
#include <windows.h>

#include <gtest/gtest.h>

#include "standins/velmar/tests/fake_client.h"

TEST(HostWindow, IsATopLevelWindowOfTheHost) {
  velmar::Host host(fake::Entry(), {"Twain.About():16543000"});
  void* seen = nullptr;
  fake::SetHandler([&](int16_t, void**, void* window) { seen = window; });
  host.Construct();
  fake::SetHandler(nullptr);
  HWND window = static_cast<HWND>(seen);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(seen, host.Window());
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(GetParent(window), nullptr);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  EXPECT_EQ(process, GetCurrentProcessId());
  EXPECT_NE(GetWindowLongPtrA(window, GWLP_WNDPROC), 0);
}
