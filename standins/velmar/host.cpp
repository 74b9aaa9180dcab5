// The host: instances and their slots, the messages it sends, and the services the
// extension calls back into, shared by both ABIs.
#include <algorithm>
#include <cstring>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

std::string FromPascal(const unsigned char* p) {
  return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : std::string();
}

void ToPascal(const std::string& text, unsigned char* out, size_t room) {
  size_t n = std::min(text.size(), std::min<size_t>(room - 2, 255));
  out[0] = uint8_t(n);
  std::memcpy(out + 1, text.data(), n);
  out[n + 1] = 0;
}

}  // namespace

Host::Host(ExtensionEntry entry, std::vector<std::string> catalogue)
    : entry_(entry), catalogue_(std::move(catalogue)), design_(hostabi::kDesignRecordSize) {
  abi_ = CreateAbi(this);
}

Host::~Host() {
  DestroyAbi(abi_);
  UnloadLibrary(library_, resourceFile_);
}

int Host::FunctionNumber(const std::string& name) const {
  for (size_t i = 0; i < catalogue_.size(); ++i) {
    const std::string& entry = catalogue_[i];
    if (entry.compare(0, name.size(), name) == 0 && entry.size() > name.size() && entry[name.size()] == '(')
      return int(i) + 1;
  }
  return 0;
}

int Host::AddInstance() {
  slots_.push_back(nullptr);
  return int(slots_.size()) - 1;
}

void Host::UseInstance(int instance) {
  if (instance >= 0 && instance < int(slots_.size())) current_ = instance;
}

void Host::Send(int16_t message) { InvokeEntry(abi_, entry_, message, &slots_[current_]); }

CallResult Host::Call(const std::string& callText) {
  CallResult result;
  ParsedCall call;
  if (!ParseCall(callText, &call, &result.error)) return result;
  int number = FunctionNumber(call.function);
  if (number == 0) {
    result.error = "no function " + call.function + " in the extension's catalogue";
    return result;
  }
  return Call(number, call.arguments);
}

CallResult Host::Call(int functionNumber, const std::vector<Argument>& arguments) {
  std::vector<int> aliases;
  std::vector<Value> literals;
  for (const Argument& argument : arguments) {
    switch (argument.kind) {
      case Argument::kNumber:
        aliases.push_back(0);
        literals.push_back(Value::Number(argument.number));
        break;
      case Argument::kText:
        aliases.push_back(0);
        literals.push_back(Value::Text(argument.text));
        break;
      case Argument::kVariable:
      case Argument::kPictureVariable:
        aliases.push_back(fields_.Variable(argument.text, argument.kind == Argument::kPictureVariable));
        literals.push_back(Value());
        break;
    }
  }
  fields_.BeginCall(aliases, literals);
  functionNumber_ = functionNumber;
  Send(kMsgExecute);

  CallResult result;
  result.ok = true;
  result.result = fields_.Get(kFieldReturn);
  for (const Argument& argument : arguments)
    if (argument.kind == Argument::kVariable || argument.kind == Argument::kPictureVariable)
      result.variables.emplace_back(argument.text, fields_.VariableValue(argument.text));
  return result;
}

Description Host::Describe(int functionNumber, int16_t kind) {
  std::fill(design_.begin(), design_.end(), 0);
  std::memcpy(&design_[hostabi::kDesignKind], &kind, sizeof kind);
  design_[hostabi::kDesignCleared] = 0xFF;
  functionNumber_ = functionNumber;
  Send(kMsgDescribe);

  Description description;
  description.cleared = design_[hostabi::kDesignCleared] == 0;
  description.length = design_[hostabi::kDesignLength];
  const char* text = reinterpret_cast<const char*>(&design_[hostabi::kDesignText]);
  description.text.assign(text, strnlen(text, design_.size() - hostabi::kDesignText));
  return description;
}

int16_t Host::SetDesignFlag(int functionNumber) {
  std::fill(design_.begin(), design_.end(), 0);
  functionNumber_ = functionNumber;
  Send(kMsgDesignFlag);
  int16_t flag;
  std::memcpy(&flag, &design_[hostabi::kDesignFlag], sizeof flag);
  return flag;
}

void* Host::Atom(const std::string& name) const {
  auto atom = atoms_.find(name);
  return atom == atoms_.end() ? nullptr : atom->second;
}

void* Host::Window() const { return AbiWindow(abi_); }

// ------------------------------------------------------------------ services

int16_t Host::SvcFieldByName(const unsigned char* pascalName) {
  return int16_t(fields_.FindVariable(FromPascal(pascalName)));
}

void Host::SvcReadNumber(int field, WireNumber* result) {
  if (!result) return;
  const Value& value = fields_.Get(field);
  *result = value.kind == Value::kNumber ? value.number : FloatToWire(value.AsNumber());
}

void Host::SvcWriteValue(int field, int type, const void* data) {
  if (!fields_.Exists(field) || !data) return;
  bool pictureField = fields_.FieldType(field) == kFieldTypePicture;
  if (type == kValuePicture) {
    if (pictureField || field == kFieldReturn) fields_.Set(field, Value::OfPicture(CopyPicture(data)));
    return;
  }
  if (pictureField) return;
  if (type == kValueNumber) {
    Value value;
    value.kind = Value::kNumber;
    std::memcpy(&value.number, data, sizeof value.number);
    fields_.Set(field, value);
  } else if (type == kValuePascalText) {
    fields_.Set(field, Value::Text(FromPascal(static_cast<const unsigned char*>(data))));
  } else if (type == kValueCText) {
    fields_.Set(field, Value::Text(static_cast<const char*>(data)));
  }
}

void Host::SvcReadValue(int field, int type, int maxLength, void* destination) {
  if (!destination) return;
  const Value& value = fields_.Get(field);
  if (type == kValueNumber) {
    WireNumber number = value.kind == Value::kNumber ? value.number : FloatToWire(value.AsNumber());
    std::memcpy(destination, &number, sizeof number);
    return;
  }
  std::string text = value.AsText();
  size_t room = size_t(std::max(maxLength, 0));
  auto* out = static_cast<unsigned char*>(destination);
  if (type == kValuePascalText) {
    size_t n = std::min({text.size(), room, size_t(255)});
    out[0] = uint8_t(n);
    std::memcpy(out + 1, text.data(), n);
  } else if (type == kValueCText) {
    size_t n = std::min(text.size(), room);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
  }
}

void Host::SvcFieldInfo(HostInfoRecord* record) {
  if (!record) return;
  if (record->request != kInfoFieldInfo || !fields_.Exists(record->field)) {
    record->status = 0;
    return;
  }
  ToPascal(fields_.NameOf(fields_.Resolve(record->field)), record->name, sizeof record->name);
  record->fieldType = fields_.FieldType(record->field);
  record->status = 1;
}

void Host::SvcInstanceData(HostInfoRecord* record) {
  if (!record) return;
  std::string name = FromPascal(record->name);
  auto atom = atoms_.find(name);
  switch (record->request) {
    case kInfoGetAtom:
      record->value = atom == atoms_.end() ? nullptr : atom->second;
      record->status = atom == atoms_.end() ? 0 : 1;
      break;
    case kInfoSetAtom:
      atoms_[name] = record->value;
      record->status = 1;
      break;
    case kInfoDeleteAtom:
      record->status = atom == atoms_.end() ? 0 : 1;
      if (atom != atoms_.end()) atoms_.erase(atom);
      break;
    default:
      record->status = 0;
  }
}

}  // namespace velmar
