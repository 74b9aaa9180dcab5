// The pipe between the extension and its worker process (kv-worker.exe): frames of a header
// and a payload, the same for both widths of either side (fixed-size fields, pointers and
// handles as 64-bit numbers).
//
//   extension -> worker   kCall      CallFrame (+ a source's name): run one host call, or list
//                                    the worker's sources, or choose one of them by name
//   worker -> extension   kService   ServiceFrame + data: a host service the call asks for
//   extension -> worker   kAnswer    AnswerFrame + data: the service's answer
//   worker -> extension   kCallDone  CallFrame + DoneFrame + texts: the call is over (the
//                                    options it left, the source its next open uses; a
//                                    listing's answer, its names and the next open's source;
//                                    PAGES)
//   extension -> worker   kEnd       the instance ends and the worker exits
//   worker -> extension   kPageFiles PageFilesFrame + name: where the call's page files stand
//                                    (no answer)
// The two may be of different widths (a 64-bit extension reaches 32-bit sources through the
// 32-bit worker): nothing here depends on the width.
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
  int32_t function;  // a host function number, or one of the requests below
  int32_t optionCount;
  uint64_t window;  // the host window the call came with
  int32_t options[kOptionCount];
  // The text options' texts (PDFTITLE on), each ending with a 0.
  char texts[kTextOptionCount][kOptionTextMost + 1];
  // After the call: the product name of the source the worker's next open uses, as chosen by
  // name or in the manager's dialog (empty: the manager's default). A fresh worker is given it
  // again, as a source chosen in process stays chosen across Twain.Disconnect.
  char source[40];
};

// Requests of the extension itself rather than of the host. kChooseSource carries the name
// after the CallFrame.
constexpr int32_t kListSources = -1;
constexpr int32_t kChooseSource = -2;

// After the CallFrame of kCallDone: the answer of a request (the host's calls answer through
// their own result field), then for kListSources the names, one a line, and the next open's
// source, then the worker's PAGES (the text a batch leaves), each ending with a 0.
struct DoneFrame {
  int32_t result;
};

// A host info record (hostabi::kSvcFieldInfo) without its pointer, whose size is the width's.
struct InfoFrame {
  uint8_t name[256];
  int16_t field;
  int16_t fieldType;
  int16_t request;
  int16_t status;
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
