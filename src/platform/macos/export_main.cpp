// The bundle's entry point. The host looks it up as `main`; it takes three arguments and
// returns nothing, which C++ does not allow a function called main to do, so the routine
// gets its C++ name here and `main` as its symbol.
#include "entry/entry.h"

extern "C" __attribute__((visibility("default"))) void KardivelleMain(int16_t message, void** slot,
                                                                      HostParamBlock* block) __asm__("main");

extern "C" void KardivelleMain(int16_t message, void** slot, HostParamBlock* block) {
  RouteMessage(message, slot, block);
}
