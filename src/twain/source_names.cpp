// The sources the DSM knows, by product name: the list (MSG_GETFIRST, MSG_GETNEXT), the
// source the next open will use, and a choice by name.
#include <cstring>
#include <vector>

#include "twain/connection.h"
#include "twain/dsm.h"
#include "twain/result_codes.h"

namespace {

// No DSM lists more sources than this; a list that does not end is cut here.
constexpr size_t kMostSources = 1024;

std::string ProductName(const TW_IDENTITY& id) {
  char name[sizeof id.ProductName + 1];
  tw::GetString(id.ProductName, sizeof id.ProductName, name, tw::native::kPascalStrings);
  return name;
}

// Every source the DSM lists, in its order, until TWRC_ENDOFLIST.
int16_t ListSources(TwainGlobals* g, std::vector<TW_IDENTITY>* sources) {
  int16_t r = DoOpenDSM(g);
  if (r != 0) return r;
  TW_UINT16 msg = MSG_GETFIRST;
  // A failed request answers its translation, never 0: the list is not whole.
  while (sources->size() < kMostSources) {
    TW_IDENTITY id;
    std::memset(&id, 0, sizeof id);
    TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id);
    if (rc == TWRC_ENDOFLIST) break;
    if (rc != TWRC_SUCCESS) {
      // A DSM with no source at all may answer the first request with TWCC_NODS (Wine's does)
      // rather than with the end of the list: the list is empty, and whole.
      int16_t r = xlateErr(g, nullptr, rc);
      if (msg == MSG_GETFIRST && r == xlateCondition(TWCC_NODS)) break;
      return r;
    }
    sources->push_back(id);
    msg = MSG_GETNEXT;
  }
  return kResultOk;
}

}  // namespace

int16_t DoGetSourceNames(TwainGlobals* g, std::string* names, std::string* current) {
  std::vector<TW_IDENTITY> sources;
  int16_t r = ListSources(g, &sources);
  if (r != 0) return r;
  names->clear();
  for (size_t i = 0; i < sources.size(); ++i) *names += (i ? "\r" : "") + ProductName(sources[i]);
  current->clear();
  if (const TW_IDENTITY* chosen = NextSourceChoice(g)) {
    *current = ProductName(*chosen);
  } else if (!sources.empty()) {
    TW_IDENTITY def;
    std::memset(&def, 0, sizeof def);
    TW_UINT16 rc = CallDSM(g, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &def);
    if (rc != TWRC_SUCCESS) return xlateErr(g, nullptr, rc);
    *current = ProductName(def);
  }
  return kResultOk;
}

int16_t DoSelectSource(TwainGlobals* g, const std::string& name) {
  std::vector<TW_IDENTITY> sources;
  int16_t r = ListSources(g, &sources);
  if (r != 0) return r;
  for (const TW_IDENTITY& id : sources) {
    if (ProductName(id) != name) continue;
    ChooseSource(g, id);
    return kResultOk;
  }
  return kResultNoSource;
}

std::string NextSourceName(const TwainGlobals* g) {
  const TW_IDENTITY* chosen = NextSourceChoice(g);
  return chosen ? ProductName(*chosen) : std::string();
}
