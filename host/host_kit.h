// The host kit: one call per host operation, over the services of host_abi.h, and the
// memory vocabulary shared by both builds. Field and atom routines take the call context
// last (normally the record's hostParams).
#pragma once
#include <cstdint>

#include "host/host_abi.h"
#include "twain/twain.h"

// Fields
int16_t GetFldInt(int16_t field, HostContext ctx);   // truncated toward zero
int32_t GetFldLong(int16_t field, HostContext ctx);  // truncated toward zero to 32 bits
// Type 0: destination is a HostFloat. Other types: the host writes at most maxLength
// characters (type 1 after a length byte, type 2 followed by a NUL), so destination holds
// maxLength + 1 bytes (+1 more for type 1's length byte).
void GetFldVal(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext ctx);
// Type 0: data points to a HostFloat. Other types pass data unchanged.
void SetFldVal(int16_t field, int16_t type, const void* data, HostContext ctx);
bool IsThisFieldType(int16_t field, int16_t type, HostContext ctx);
int16_t GetFldInfo(HostInfoRecord* record, HostContext ctx);
int16_t GetFldRef(const char* name, HostContext ctx);
int16_t GetPackageId(HostContext ctx);
void* GetDesignPtr(HostContext ctx);

// Convenience over SetFldVal/GetFldVal used throughout: a number in, text out.
void SetFldNumber(int16_t field, HostFloat value, HostContext ctx);
void SetFldText(int16_t field, const char* text, HostContext ctx);

// Atoms (Mac only; the Windows host has no instance-data service).
int16_t ExtensionInfo(HostInfoRecord* record, HostContext ctx);
int16_t SetVelAtom(const char* name, void* value, HostContext ctx);
void* GetVelAtom(const char* name, HostContext ctx);
int16_t DeleteVelAtom(const char* name, HostContext ctx);

// Memory. Mac: Memory Manager pointers and handles; Windows: GlobalAlloc blocks.
void* NewXPPointer(uint32_t size);  // zero-filled, null on failure
void DisposeXPPointer(void* block);
void* LockXPHandle(TW_HANDLE handle);
void UnlockXPHandle(TW_HANDLE handle);
void DisposeXPHandle(TW_HANDLE handle);
uint32_t GetXPHandleSize(TW_HANDLE handle);  // the container's real size in bytes
