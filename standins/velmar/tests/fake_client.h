// The extension's side of the host interface, for fake extensions in the host's tests:
// each call goes through the real ABI (block routines on the Mac, the callback on Windows).
#pragma once
#include <functional>
#include <string>

#include "standins/velmar/velmar_host.h"

namespace fake {

using Handler = std::function<void(int16_t message, void** slot, void* window)>;
void SetHandler(Handler handler);
// Runs the handler with this call's context; the fake's exported entry calls it.
void Dispatch(int16_t message, void** slot, void* window, HostContext context);
velmar::ExtensionEntry Entry();  // an entry point for Host(entry, catalogue)

int16_t FieldByName(const std::string& name);
HostFloat ReadNumber(int field);
void WriteNumber(int field, HostFloat value);
void WriteValue(int field, int type, const void* data);
void ReadValue(int field, int type, int maxLength, void* destination);
int16_t FieldInfo(int field, int16_t* type, std::string* name);  // the status
int16_t FieldInfoRequest(HostInfoRecord* record);
int16_t Atom(int16_t request, const std::string& name, void** value);  // Mac only; -1 elsewhere
int16_t FunctionNumber();
uint8_t* DesignRecord();
// Hands the field a fresh picture (a PICT handle or an HBITMAP) and frees it at once, as the
// extension does; width 0 passes a null picture.
void WritePicture(int field, int width, int height);

}  // namespace fake
