// What the host kit and the scan ask of each build's host interface (platform/<os>/
// host_services.cpp): the Mac's routines of the HostParamBlock, the Windows hostCallback.
#pragma once
#include <cstdint>

#include "host/host_abi.h"

namespace platform {

int16_t HostFieldByName(const unsigned char* pascalName, HostContext ctx);
void HostReadNumber(int16_t field, HostFloat* result, HostContext ctx);
void HostWriteValue(int16_t field, int16_t type, const void* data, HostContext ctx);
void HostReadValue(int16_t field, int16_t type, int16_t maxLength, void* destination, HostContext ctx);
void HostFieldInfo(HostInfoRecord* record, HostContext ctx);
void HostInstanceData(HostInfoRecord* record, HostContext ctx);  // Mac only; Windows: status 0
int16_t HostFunctionNumber(HostContext ctx);
void* HostDesignRecord(HostContext ctx);

// Windows: the host window passed with the call being carried out (the parent of the
// source's interface and of the page's display); the Mac has none (null).
void SetHostWindow(void* window);
void* HostWindow();

}  // namespace platform
