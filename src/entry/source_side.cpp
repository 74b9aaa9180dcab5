#include "entry/source_side.h"

#include <map>
#include <vector>

#include "entry/worker_port.h"
#include "options/options.h"
#include "traits/build_traits.h"
#include "twain/connection.h"
#include "twain/dsm_platform.h"
#include "twain/result_codes.h"

namespace {

// The 64-bit build reaches the machine's 32-bit sources through its 32-bit worker; on a
// 32-bit build they are its own.
constexpr bool kReaches32BitWorker = kWindowsBuild && kPointerBytes == 8;

struct SideState {
  bool on32 = false;  // AUTO: the record's source is a 32-bit one, chosen by name
};

std::map<const TwainGlobals*, SideState>& States() {
  static std::map<const TwainGlobals*, SideState> states;
  return states;
}

int32_t Sources(const TwainGlobals* g) { return OptionValue(g, Option::kSources); }

bool ReachesOwn(const TwainGlobals* g) { return !(kReaches32BitWorker && Sources(g) == kSources32Bit); }
bool Reaches32(const TwainGlobals* g) { return kReaches32BitWorker && Sources(g) != kSourcesOwn; }

Side OwnSide(const TwainGlobals* g) {
  return OptionValue(g, Option::kIsolation) == kIsolationProcess ? Side::kOwnWorker : Side::kInProcess;
}

platform::WorkerWidth WidthOf(Side side) {
  return side == Side::kWorker32 ? platform::WorkerWidth::k32Bit : platform::WorkerWidth::kOwn;
}

struct Listing {
  int16_t result = 0;
  std::string names, current;
};

Listing ListOn(TwainGlobals* g, Side side, void* window) {
  Listing l;
  l.result = side == Side::kInProcess ? ListSourcesHere(g, &l.names, &l.current)
                                      : platform::ListInWorker(g, WidthOf(side), window, &l.names, &l.current);
  return l;
}

int16_t SelectOn(TwainGlobals* g, Side side, void* window, const std::string& name) {
  return side == Side::kInProcess ? SelectSourceHere(g, name)
                                  : platform::ChooseInWorker(g, WidthOf(side), window, name);
}

// The names of a listing, one a line.
std::vector<std::string> Lines(const std::string& names) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find('\r', start);
    if (end == std::string::npos) end = names.size();
    lines.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The build's own sources cannot be reached where their calls run in a worker whose program is
// missing: an installation that is not whole, answered 4 rather than passed over for the
// 32-bit sources.
bool OwnUnreachable(const TwainGlobals* g) {
  return OwnSide(g) == Side::kOwnWorker && !platform::WorkerInstalled(platform::WorkerWidth::kOwn);
}

}  // namespace

Side SourceSide(const TwainGlobals* g) {
  if (!Reaches32(g)) return OwnSide(g);
  if (!ReachesOwn(g)) return Side::kWorker32;
  auto it = States().find(g);
  return it != States().end() && it->second.on32 ? Side::kWorker32 : OwnSide(g);
}

int16_t ListReachableSources(TwainGlobals* g, void* window, std::string* names, std::string* current) {
  if (!Reaches32(g) || !ReachesOwn(g)) {
    Listing l = ListOn(g, Reaches32(g) ? Side::kWorker32 : OwnSide(g), window);
    if (l.result == 0) {
      *names = l.names;
      *current = l.current;
    }
    return l.result;
  }
  if (OwnUnreachable(g)) return kResultNoTwain;
  Listing own = ListOn(g, OwnSide(g), window);
  if (own.result != 0 && own.result != kResultNoTwain) return own.result;
  Listing other = ListOn(g, Side::kWorker32, window);
  if (other.result != 0 && other.result != kResultNoTwain) return other.result;
  if (own.result != 0 && other.result != 0) return kResultNoTwain;
  // A 32-bit source listed by the build's own manager under the same product name is the
  // same scanner's other driver: it is listed once, as the build's own.
  std::vector<std::string> listed = Lines(own.names);
  for (const std::string& name : Lines(other.names)) {
    bool known = false;
    for (const std::string& n : listed) known = known || n == name;
    if (!known) listed.push_back(name);
  }
  names->clear();
  for (size_t i = 0; i < listed.size(); ++i) *names += (i ? "\r" : "") + listed[i];
  *current = SourceSide(g) == Side::kWorker32 ? other.current : own.current;
  return kResultOk;
}

int16_t SelectReachableSource(TwainGlobals* g, void* window, const std::string& name) {
  if (!Reaches32(g) || !ReachesOwn(g))
    return SelectOn(g, Reaches32(g) ? Side::kWorker32 : OwnSide(g), window, name);
  if (OwnUnreachable(g)) return kResultNoTwain;
  int16_t own = SelectOn(g, OwnSide(g), window, name);
  SideState& s = States()[g];
  if (own == 0) {
    s = SideState{false};
    return own;
  }
  if (own != kResultNoSource && own != kResultNoTwain) return own;
  int16_t other = SelectOn(g, Side::kWorker32, window, name);
  if (other == 0) {
    s = SideState{true};
    return other;
  }
  if (other == kResultNoTwain) return own;
  return other;
}

bool ManagerReady(TwainGlobals* g) {
  if (g->dsmBound && platform::DsmEntryResolved()) return true;
  if constexpr (kWindowsBuild) {
    g->sourceIdentity.Id = 0;
    return platform::BindDSM(g, ManagerChoiceOf(g));
  } else {
    return false;
  }
}

int16_t ListSourcesHere(TwainGlobals* g, std::string* names, std::string* current) {
  if (!ManagerReady(g)) return kResultNoTwain;
  return DoGetSourceNames(g, names, current);
}

int16_t SelectSourceHere(TwainGlobals* g, const std::string& name) {
  if (!ManagerReady(g)) return kResultNoTwain;
  return DoSelectSource(g, name);
}

void ForgetSide(const TwainGlobals* g) { States().erase(g); }
