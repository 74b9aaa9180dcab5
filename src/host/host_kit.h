// The host kit: one call per host operation, over the services of host_abi.h, and the
// memory vocabulary shared by both builds. Field and atom routines take the call context
// last (normally the record's hostParams).
//
// The Mac bundle exports these routines under their C names beside `main`, as a host's
// extension kit does (its export list, platform/macos/Kardivelle.exports, names them); the
// Windows DLL exports only its entry.
#pragma once
#include <cstdint>

#include "host/host_abi.h"
#include "twain/twain.h"

#if KV_WINDOWS_BUILD
#define KV_KIT_EXPORT
#else
#define KV_KIT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Fields
KV_KIT_EXPORT int16_t GetFldInt(int16_t field, HostContext ctx);   // truncated toward zero
KV_KIT_EXPORT int32_t GetFldLong(int16_t field, HostContext ctx);  // truncated toward zero to 32 bits
// Type 0: destination is a HostFloat. Other types: the host writes at most maxLength
// characters (type 1 after a length byte, type 2 followed by a NUL), so destination holds
// maxLength + 1 bytes (+1 more for type 1's length byte).
KV_KIT_EXPORT void GetFldVal(int16_t field, int16_t type, int16_t maxLength, void* destination,
                             HostContext ctx);
// Type 0: data points to a HostFloat. Other types pass data unchanged.
KV_KIT_EXPORT void SetFldVal(int16_t field, int16_t type, const void* data, HostContext ctx);
KV_KIT_EXPORT bool IsThisFieldType(int16_t field, int16_t type, HostContext ctx);
KV_KIT_EXPORT int16_t GetFldInfo(HostInfoRecord* record, HostContext ctx);
KV_KIT_EXPORT int16_t GetFldRef(const char* name, HostContext ctx);
KV_KIT_EXPORT int16_t GetPackageId(HostContext ctx);
KV_KIT_EXPORT void* GetDesignPtr(HostContext ctx);

// Convenience over SetFldVal/GetFldVal used throughout: a number in, text out.
KV_KIT_EXPORT void SetFldNumber(int16_t field, HostFloat value, HostContext ctx);
KV_KIT_EXPORT void SetFldText(int16_t field, const char* text, HostContext ctx);

// Atoms (Mac only; the Windows host has no instance-data service).
KV_KIT_EXPORT int16_t ExtensionInfo(HostInfoRecord* record, HostContext ctx);
KV_KIT_EXPORT int16_t SetVelAtom(const char* name, void* value, HostContext ctx);
KV_KIT_EXPORT void* GetVelAtom(const char* name, HostContext ctx);
KV_KIT_EXPORT int16_t DeleteVelAtom(const char* name, HostContext ctx);

// Memory. Mac: Memory Manager pointers and handles; Windows: GlobalAlloc blocks.
KV_KIT_EXPORT void* NewXPPointer(uint32_t size);  // zero-filled, null on failure
KV_KIT_EXPORT void DisposeXPPointer(void* block);
KV_KIT_EXPORT void* LockXPHandle(TW_HANDLE handle);
KV_KIT_EXPORT void UnlockXPHandle(TW_HANDLE handle);
KV_KIT_EXPORT void DisposeXPHandle(TW_HANDLE handle);
KV_KIT_EXPORT uint32_t GetXPHandleSize(TW_HANDLE handle);  // the container's real size in bytes

}  // extern "C"
