// The page writers are called while a scan runs, some of them from the source's callback
// through the DSM's C frames, where an exception could not pass: an exception (an allocation
// that failed) ends the call with answer 2 instead, once its own objects have freed what they
// held, and the next call starts afresh.
#pragma once
#include <cstdint>

#include "twain/result_codes.h"

template <class Call>
int16_t AnswerWithoutThrowing(Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return kResultUnusablePage;
  }
}
