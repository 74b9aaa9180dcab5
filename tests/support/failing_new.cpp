#include "tests/support/failing_new.h"

#include <cstdlib>
#include <new>

namespace {

long gCountdown = 0;
bool gFailed = false;
std::size_t gLargest = 0;

bool Fails() {
  if (gCountdown <= 0 || --gCountdown > 0) return false;
  gFailed = true;
  return true;
}

void* Allocate(std::size_t size) {
  if (Fails()) return nullptr;
  if (size > gLargest) gLargest = size;
  return std::malloc(size ? size : 1);
}

}  // namespace

namespace kvtest {

void FailNthNew(long n) {
  gCountdown = n > 0 ? n : 0;
  gFailed = false;
}

bool NewFailed() { return gFailed; }

unsigned long LargestNewSince() {
  const std::size_t largest = gLargest;
  gLargest = 0;
  return static_cast<unsigned long>(largest);
}

}  // namespace kvtest

void* operator new(std::size_t size) {
  void* p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
