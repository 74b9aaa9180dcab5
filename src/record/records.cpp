#include "record/records.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<TwainGlobals*>& Records() {
  static std::vector<TwainGlobals*> records;  // in order of construction
  return records;
}

}  // namespace

void RememberRecord(TwainGlobals* g) { Records().push_back(g); }

void ForgetRecord(TwainGlobals* g) {
  auto& v = Records();
  v.erase(std::remove(v.begin(), v.end(), g), v.end());
}

TwainGlobals* LiveRecord(const void* pointer) {
  if (!pointer) return nullptr;
  for (TwainGlobals* r : Records())
    if (r == pointer) return r;
  return nullptr;
}

bool AnotherRecordHoldsDsm(const TwainGlobals* g) {
  for (const TwainGlobals* r : Records())
    if (r != g && r->dsmOpen) return true;
  return false;
}

TwainGlobals* RecordOfApplication(TW_UINT32 appId) {
  if (appId == 0) return nullptr;
  for (TwainGlobals* r : Records())
    if (r->dsmOpen && r->appIdentity.Id == appId) return r;
  return nullptr;
}
