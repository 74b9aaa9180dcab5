// The Velmar host stand-in: a field store with host variables, atoms and the design record,
// the host's number/text conversions, both extension ABIs (the Mac HostParamBlock and the
// Windows hostCallback), and a loader that opens a built extension and reads its catalogue
// from the extension's own resources, as the host does.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "host/host_abi.h"

namespace velmar {

// The extension's entry point in this build.
using ExtensionEntry = std::conditional_t<kWindowsBuild, WinEntryProc, MacEntryProc>;
// A number as it crosses the interface: Mac 80-bit extended, Windows 8-byte double.
using WireNumber = std::conditional_t<kWindowsBuild, double, Extended80>;

// ------------------------------------------------------------------ numbers and texts
// Whole numbers print without a decimal point; others in their shortest form of at most 15
// significant digits, '.' as the decimal point.
std::string FormatNumber(HostFloat value);
// Leading blanks, an optional sign, digits with an optional '.' fraction: the longest such
// prefix. Text without one gives 0.
HostFloat ParseNumber(const std::string& text);
HostFloat WireToFloat(const WireNumber& wire);
WireNumber FloatToWire(HostFloat value);

// ------------------------------------------------------------------ values
struct Picture {
  bool present = false;  // false: picture (none)
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;    // Mac: the picture's data as it was in its handle
  std::shared_ptr<void> bitmap;  // Windows: the host's own copy of the HBITMAP
};

struct Value {
  enum Kind { kNothing, kNumber, kText, kPicture };
  Kind kind = kNothing;
  WireNumber number{};
  std::string text;
  Picture picture;

  static Value Number(HostFloat v);
  static Value Text(std::string t);
  static Value OfPicture(Picture p);
  HostFloat AsNumber() const;   // a text is parsed; nothing and pictures are 0
  std::string AsText() const;   // a number is formatted; nothing and pictures are ""
  std::string Display() const;  // (nothing), 8.5, "text", picture WxH, picture (none)
};

// ------------------------------------------------------------------ fields
// Fields by number. A parameter field that names a variable is an alias of the variable's
// own field, so what the extension writes there lands in the variable.
class FieldStore {
 public:
  static constexpr int kFirstVariableField = 1000;
  FieldStore() { Variable("#1"); }

  bool Exists(int field) const;
  int Resolve(int field) const;  // follows a parameter alias
  const Value& Get(int field) const;
  void Set(int field, Value value);
  int16_t FieldType(int field) const;  // 14 picture, else by content

  // Host variables. "#1" always exists. Returns the variable's field number.
  int Variable(const std::string& name, bool picture = false);
  int FindVariable(const std::string& name) const;  // 0 if no such variable
  std::string NameOf(int field) const;              // "" unless a variable's field
  const Value& VariableValue(const std::string& name) const;

  // The fields of one call: 200 nothing, 210 the count, 211.. the arguments.
  void BeginCall(const std::vector<int>& aliases, const std::vector<Value>& literals);

 private:
  std::map<int, Value> values_;
  std::map<int, int> aliases_;
  std::map<std::string, int> variables_;
  std::set<int> pictureFields_;
  int parameterCount_ = 0;
  int nextVariableField_ = kFirstVariableField;
};

// ------------------------------------------------------------------ calls
struct Argument {
  enum Kind { kNumber, kText, kVariable, kPictureVariable };
  Kind kind = kNumber;
  HostFloat number = 0;
  std::string text;  // the text, or the variable's name without '$'
};

struct ParsedCall {
  std::string function;  // "Twain.About"
  std::vector<Argument> arguments;
};

// `Twain.Name(arg, ...)`; false with a reason for anything else.
bool ParseCall(const std::string& text, ParsedCall* call, std::string* error);

struct CallResult {
  bool ok = false;
  std::string error;                                     // why the call did not run
  Value result;                                          // field 200 after the call
  std::vector<std::pair<std::string, Value>> variables;  // one per variable argument, in order
};

struct Description {
  std::string text;
  int length = -1;       // the length byte the extension wrote
  bool cleared = false;  // whether the byte after the kind was cleared
};

// ------------------------------------------------------------------ the host
struct AbiState;

class Host {
 public:
  Host(ExtensionEntry entry, std::vector<std::string> catalogue);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Opens a built extension: Mac the bundle directory (or its binary), Windows the DLL.
  // Reads the catalogue from its resources. Null with a reason on failure.
  static std::unique_ptr<Host> Load(const std::string& path, std::string* error);

  const std::vector<std::string>& Catalogue() const { return catalogue_; }
  int FunctionNumber(const std::string& name) const;  // 1-based position; 0 if unknown

  // Instances: instance 0 exists; each has its own slot; atoms and fields are host-wide.
  int AddInstance();
  void UseInstance(int instance);
  int CurrentInstance() const { return current_; }
  void*& Slot() { return slots_[current_]; }

  void Send(int16_t message);  // any message, with the current slot
  void Construct() { Send(kMsgConstruct); }
  void Destruct() { Send(kMsgDestruct); }
  CallResult Call(const std::string& callText);
  CallResult Call(int functionNumber, const std::vector<Argument>& arguments);
  Description Describe(int functionNumber, int16_t kind);  // message 3
  int16_t SetDesignFlag(int functionNumber);               // message 4; the flag afterwards

  FieldStore& Fields() { return fields_; }
  const Value& Variable(const std::string& name) const { return fields_.VariableValue(name); }
  void* Atom(const std::string& name) const;
  size_t AtomCount() const { return atoms_.size(); }
  uint8_t* DesignRecord() { return design_.data(); }
  void* Window() const;  // Windows: the host's top-level window
  int FunctionNumberNow() const { return functionNumber_; }

  // The services, as both ABIs reach them.
  int16_t SvcFieldByName(const unsigned char* pascalName);
  void SvcReadNumber(int field, WireNumber* result);
  void SvcWriteValue(int field, int type, const void* data);
  void SvcReadValue(int field, int type, int maxLength, void* destination);
  void SvcFieldInfo(HostInfoRecord* record);
  void SvcInstanceData(HostInfoRecord* record);
  int16_t SvcFunctionNumber() const { return int16_t(functionNumber_); }
  void* SvcDesignRecord() { return design_.data(); }

  // The library this host loaded, if any (Mac dlopen handle, Windows HMODULE).
  void* Library() const { return library_; }

 private:
  ExtensionEntry entry_;
  std::vector<std::string> catalogue_;
  std::vector<void*> slots_{nullptr};
  int current_ = 0;
  int functionNumber_ = 0;
  FieldStore fields_;
  std::map<std::string, void*> atoms_;
  std::vector<uint8_t> design_;
  AbiState* abi_ = nullptr;
  void* library_ = nullptr;
  int16_t resourceFile_ = -1;
};

// Platform pieces (one file per build).
AbiState* CreateAbi(Host* host);
void DestroyAbi(AbiState* abi);
void InvokeEntry(AbiState* abi, ExtensionEntry entry, int16_t message, void** slot);
void* AbiWindow(const AbiState* abi);
Picture CopyPicture(const void* data);  // the host's own copy of what type 9 passes
// Writes a picture as a file an image viewer opens: Windows, a 24-bit BMP of the bitmap's
// pixels; Mac, a PICT file (512 zero bytes, then the picture). False when it cannot.
bool SavePicture(const Picture& picture, const std::string& path);
// The file extension SavePicture's files get: "bmp" or "pict".
const char* SavedPictureExtension();
// Makes the folder `path` and every folder above it that is missing. True when it is a
// folder afterwards (also when it was one before).
bool MakeFolders(const std::string& path);
void UnloadLibrary(void* library, int16_t resourceFile);

// What the user does in the DSM's source selection dialog (N >= 0: pick source N; -1: cancel).
// False with a reason when it cannot be arranged.
bool ArrangeSelection(Host& host, int choice, std::string* error);
void EndSelection();

// Sends one command to the virtual scanner's VirtualScannerControl, loading the scanner
// beside the extension (Mac) or from the Wine prefix (Windows) if the DSM has not yet.
enum class ControlAnswer { Taken, Refused, Unavailable };
ControlAnswer ScannerControl(const std::string& extensionPath, const std::string& command, std::string* error);
// Hands the commands on to the virtual scanner that a process this program starts opens (a
// worker process that carries out the extension's calls; Windows), once: the first such copy
// to be opened takes them. Again for a new list of commands. Nothing on the Mac.
void HandOnScannerCommands(const std::vector<std::string>& commands);

}  // namespace velmar
