// The field store: numbered fields, host variables by name, and the fields of one call.
#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {
const Value kNothing;
const char* const kBuiltInVariable = "#1";
}  // namespace

int FieldStore::Resolve(int field) const {
  auto alias = aliases_.find(field);
  return alias == aliases_.end() ? field : alias->second;
}

bool FieldStore::Exists(int field) const {
  if (field == kFieldReturn || field == kFieldParamCount) return true;
  if (field >= kFieldFirstParam && field < kFieldFirstParam + parameterCount_) return true;
  if (field == FindVariable(kBuiltInVariable)) return true;
  return !NameOf(field).empty();
}

const Value& FieldStore::Get(int field) const {
  auto value = values_.find(Resolve(field));
  return value == values_.end() ? kNothing : value->second;
}

void FieldStore::Set(int field, Value value) { values_[Resolve(field)] = std::move(value); }

int16_t FieldStore::FieldType(int field) const {
  int target = Resolve(field);
  if (pictureFields_.count(target)) return kFieldTypePicture;
  switch (Get(target).kind) {
    case Value::kNumber:
      return kFieldTypeNumber;
    case Value::kText:
      return kFieldTypeText;
    case Value::kPicture:
      return kFieldTypePicture;
    case Value::kNothing:
      break;
  }
  return kFieldTypeNothing;
}

int FieldStore::FindVariable(const std::string& name) const {
  auto variable = variables_.find(name);
  return variable == variables_.end() ? 0 : variable->second;
}

int FieldStore::Variable(const std::string& name, bool picture) {
  auto variable = variables_.find(name);
  int field;
  if (variable != variables_.end()) {
    field = variable->second;
  } else {
    field = nextVariableField_++;
    variables_[name] = field;
    values_[field] = picture ? Value::OfPicture(Picture()) : Value::Text("");
  }
  if (picture && !pictureFields_.count(field)) {
    pictureFields_.insert(field);
    if (values_[field].kind != Value::kPicture) values_[field] = Value::OfPicture(Picture());
  }
  return field;
}

std::string FieldStore::NameOf(int field) const {
  for (const auto& variable : variables_)
    if (variable.second == field) return variable.first;
  return "";
}

const Value& FieldStore::VariableValue(const std::string& name) const {
  int field = FindVariable(name);
  return field ? Get(field) : kNothing;
}

void FieldStore::BeginCall(const std::vector<int>& aliases, const std::vector<Value>& literals) {
  for (int i = 0; i < parameterCount_; ++i) values_.erase(kFieldFirstParam + i);
  aliases_.clear();
  parameterCount_ = int(literals.size());
  values_.erase(kFieldReturn);
  values_[kFieldParamCount] = Value::Number(parameterCount_);
  for (int i = 0; i < parameterCount_; ++i) {
    if (aliases[i])
      aliases_[kFieldFirstParam + i] = aliases[i];
    else
      values_[kFieldFirstParam + i] = literals[i];
  }
}

}  // namespace velmar
