// The structures and constants of buffered memory transfers (DAT_SETUPMEMXFER,
// DAT_IMAGEMEMXFER) in both byte layouts, as the scanner reads and fills them.
#pragma once
#include <cstddef>

#include "twain/twain.h"

namespace vs {

constexpr TW_UINT32 kDontCare32 = 0xFFFFFFFFu;  // TWON_DONTCARE32

// TW_MEMORY.Flags
constexpr TW_UINT32 kMemAppOwns = 0x0001;  // TWMF_APPOWNS
constexpr TW_UINT32 kMemDsmOwns = 0x0002;  // TWMF_DSMOWNS
constexpr TW_UINT32 kMemDsOwns = 0x0004;   // TWMF_DSOWNS
constexpr TW_UINT32 kMemPointer = 0x0008;  // TWMF_POINTER
constexpr TW_UINT32 kMemHandle = 0x0010;   // TWMF_HANDLE

// ICAP_COMPRESSION
constexpr TW_UINT16 kCompressionNone = 0;  // TWCP_NONE
constexpr TW_UINT16 kCompressionJpeg = 6;  // TWCP_JPEG

namespace win {
#pragma pack(push, 2)
struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};
struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};
struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow, Columns, Rows, XOffset, YOffset, BytesWritten;
  TW_MEMORY Memory;
};
#pragma pack(pop)
static_assert(sizeof(TW_IMAGEMEMXFER) == 38 && offsetof(TW_IMAGEMEMXFER, Memory) == 26, "Windows layout");
}  // namespace win

namespace mac {
struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};
struct alignas(4) TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};
struct alignas(4) TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  alignas(4) TW_UINT32 BytesPerRow;
  TW_UINT32 Columns, Rows, XOffset, YOffset, BytesWritten;
  TW_MEMORY Memory;
};
static_assert(sizeof(TW_IMAGEMEMXFER) == 40 && offsetof(TW_IMAGEMEMXFER, Memory) == 28, "Mac layout");
}  // namespace mac

static_assert(sizeof(win::TW_SETUPMEMXFER) == 12 && sizeof(mac::TW_SETUPMEMXFER) == 12, "TW_SETUPMEMXFER");

#if KV_WINDOWS_BUILD
namespace memnative = win;
#else
namespace memnative = mac;
#endif
using TW_SETUPMEMXFER = memnative::TW_SETUPMEMXFER;
using TW_MEMORY = memnative::TW_MEMORY;
using TW_IMAGEMEMXFER = memnative::TW_IMAGEMEMXFER;

}  // namespace vs
