// Design-time descriptions: message 3 describes a function's parameters (kind 5) or its
// return value (kind 6) from the catalogue entry; message 4 sets the design flag.
#include <cstring>

#include "entry/entry.h"
#include "entry/entry_platform.h"
#include "host/host_kit.h"

namespace {

constexpr int16_t kKindParameters = 5;
constexpr int16_t kKindReturnValue = 6;

void WriteDescription(uint8_t* record, const char* text, size_t length) {
  std::memcpy(record + hostabi::kDesignText, text, length);
  record[hostabi::kDesignText + length] = 0;
  record[hostabi::kDesignLength] = static_cast<uint8_t>(length);
}

// "Parms: " followed by the parenthesised parameter list of catalogue entry n.
void DescribeParameters(uint8_t* record, int16_t n) {
  char text[7 + 256] = "Parms: ";
  unsigned char entry[257];
  std::memset(entry, 0, sizeof entry);
  platform::GetCatalogueEntry(n, entry);
  int length = entry[0];
  int colon = length;
  for (int i = 1; i < length; ++i) {
    if (entry[i] == ':') {
      colon = i;
      break;
    }
  }
  entry[colon < 256 ? colon : 256] = 0;
  int paren = colon;
  for (int i = 1; i < colon; ++i) {
    if (entry[i] == '(') {
      paren = i;
      break;
    }
  }
  // The characters from '(' up to where the ':' stood; a list that starts at position j runs
  // to position i - 1, so the length is 7 + (i - j).
  int listLength = colon - paren;
  std::memcpy(text + 7, entry + paren, listLength);
  WriteDescription(record, text, 7 + listLength);
}

}  // namespace

void DescribeFunction(HostContext ctx) {
  int16_t n = GetPackageId(ctx);
  uint8_t* record = static_cast<uint8_t*>(GetDesignPtr(ctx));
  if (!record) return;
  int16_t kind;
  std::memcpy(&kind, record + hostabi::kDesignKind, sizeof kind);
  if (kind == kKindParameters) {
    DescribeParameters(record, n);
  } else if (kind == kKindReturnValue) {
    if (n == kFnAbout) {
      WriteDescription(record, "Version :", 9);
    } else {
      WriteDescription(record, "Return Code :", 13);
    }
  } else {
    return;
  }
  record[hostabi::kDesignCleared] = 0;
}

void SetDesignFlag(HostContext ctx) {
  uint8_t* record = static_cast<uint8_t*>(GetDesignPtr(ctx));
  if (!record) return;
  int16_t one = 1;
  std::memcpy(record + hostabi::kDesignFlag, &one, sizeof one);
}
