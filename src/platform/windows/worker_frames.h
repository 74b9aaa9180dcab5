// The pipe between the extension and its worker process (kv-worker.exe): frames of a header
// and a payload, the same for both widths of either side (fixed-size fields, pointers and
// handles as 64-bit numbers).
//
//   extension -> worker   kCall      CallFrame: run one host call
//   worker -> extension   kService   ServiceFrame + data: a host service the call asks for
//   extension -> worker   kAnswer    AnswerFrame + data: the service's answer
//   worker -> extension   kCallDone  CallFrame: the call is over (the options it left)
//   extension -> worker   kEnd       the instance ends and the worker exits
//   worker -> extension   kPageFiles PageFilesFrame + name: where the call's page files stand
//                                    (no answer)
#pragma once
#include <cstdint>

#include "options/options.h"

namespace worker {

enum FrameKind : uint32_t { kCall = 1, kService = 2, kAnswer = 3, kCallDone = 4, kEnd = 5, kPageFiles = 6 };

struct FrameHeader {
  uint32_t kind;
  uint32_t length;  // of the payload that follows
};

// A call, and the record's options around it: the extension's go to the worker's instance
// before the call, the worker's come back after it (what the call set, such as DISCARDED).
struct CallFrame {
  int32_t function;
  int32_t optionCount;
  uint64_t window;  // the host window the call came with
  int32_t options[kOptionCount];
};

// A host service (hostabi::kSvc*) with its arguments; data: a field name (length-prefixed),
// the value of a write (number, text), or a host info record. A picture's pixels are not in
// the pipe: `section` is a file mapping of the worker's that holds a DIB (BITMAPINFOHEADER,
// then 32-bit rows), `sectionBytes` long.
struct ServiceFrame {
  int32_t service;
  int32_t field;
  int32_t type;
  int32_t maxLength;
  uint64_t section;
  uint64_t sectionBytes;
};

// The service's result; data: a number read, a value read, or the host info record.
struct AnswerFrame {
  int64_t result;
};

// The call's page files, each time they change: the pages of the files that took their final
// names; data: the full name of the temporary file being written now, none when there is none.
// Should the worker end in the middle of the call, the extension removes that file and counts
// those pages.
struct PageFilesFrame {
  uint32_t kept;
};

// Larger frames are refused: no service carries more than a host info record or a text.
constexpr uint32_t kMaxPayload = 1u << 20;

}  // namespace worker
