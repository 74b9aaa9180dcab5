// The names the scanner uses for buffered memory transfers (DAT_SETUPMEMXFER,
// DAT_IMAGEMEMXFER): the structures in the build's byte layout and the constants, all from
// the one TWAIN header.
#pragma once
#include "twain/twain.h"

namespace vs {

constexpr TW_UINT32 kDontCare32 = TWON_DONTCARE32;

// TW_MEMORY.Flags
constexpr TW_UINT32 kMemAppOwns = TWMF_APPOWNS;
constexpr TW_UINT32 kMemDsmOwns = TWMF_DSMOWNS;
constexpr TW_UINT32 kMemDsOwns = TWMF_DSOWNS;
constexpr TW_UINT32 kMemPointer = TWMF_POINTER;
constexpr TW_UINT32 kMemHandle = TWMF_HANDLE;

// ICAP_COMPRESSION
constexpr TW_UINT16 kCompressionNone = TWCP_NONE;
constexpr TW_UINT16 kCompressionJpeg = TWCP_JPEG;

using TW_SETUPMEMXFER = tw::native::TW_SETUPMEMXFER;
using TW_MEMORY = tw::native::TW_MEMORY;
using TW_IMAGEMEMXFER = tw::native::TW_IMAGEMEMXFER;

}  // namespace vs
