#include "pages/destination.h"

#include "pages/destination_platform.h"
#include "twain/result_codes.h"

DestinationCheck CheckDestination(const char* name, size_t length, ExistingFile existing) {
  DestinationCheck check;
  if (!name || length == 0 || length > kMaxDestinationChars) {
    check.result = kResultFileError;
    return check;
  }
  switch (platform::ProbeDestination(name, length)) {
    case platform::DestinationState::kAbsent:
      break;
    case platform::DestinationState::kFile:
      check.existed = true;
      if (existing == ExistingFile::kRefused) check.result = kResultFileExists;
      break;
    case platform::DestinationState::kUnusable:
      check.result = kResultFileError;
      break;
  }
  return check;
}
