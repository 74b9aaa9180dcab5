// Shared by both builds' clients.
#include <cstring>

#include "standins/velmar/tests/fake_client.h"

namespace fake {

int16_t FieldInfo(int field, int16_t* type, std::string* name) {
  HostInfoRecord record = {};
  record.field = int16_t(field);
  record.request = kInfoFieldInfo;
  record.fieldType = -1;
  int16_t status = FieldInfoRequest(&record);
  if (type) *type = record.fieldType;
  if (name) *name = std::string(reinterpret_cast<const char*>(record.name + 1), record.name[0]);
  return status;
}

}  // namespace fake
