// Allocations that fail on demand: the suite's own operator new (every form, for the whole
// test program, the statically linked extension included) throws std::bad_alloc, or gives
// null for the nothrow forms, at the n-th allocation after FailNthNew(n). It also keeps the
// largest allocation made, for tests of what a writer holds at once.
#pragma once

namespace kvtest {

// The n-th allocation from now fails; 0: none.
void FailNthNew(long n);
// Whether the allocation FailNthNew asked for has failed, since it was asked.
bool NewFailed();
// The largest allocation since the last call (in bytes), which starts the count again.
unsigned long LargestNewSince();

}  // namespace kvtest
