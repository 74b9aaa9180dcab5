// The capability reader and writer exchange values through host fields; the host variable
// "#1" serves as the scratch field and gets back afterwards what it held: a number as that
// number, anything else as its text (a host starts "#1" as the empty text).
#include "scan/pixel_flavor.h"

#include "caps/read_caps.h"
#include "caps/write_caps.h"
#include "host/host_kit.h"
#include "twain/connection.h"
#include "twain/result_codes.h"

namespace {

// The longest text the host's read-value service hands over in one read.
constexpr int16_t kSavedTextMax = 32767;

struct SavedField {
  bool number = false;
  HostFloat value = 0;
  char* text = nullptr;
};

// False when there is no memory to keep a text in.
bool Save(int16_t field, HostContext ctx, SavedField* saved) {
  saved->number = IsThisFieldType(field, kFieldTypeNumber, ctx);
  if (saved->number) {
    GetFldVal(field, kValueNumber, 10, &saved->value, ctx);
    return true;
  }
  saved->text = static_cast<char*>(NewXPPointer(kSavedTextMax + 1));
  if (saved->text == nullptr) return false;
  GetFldVal(field, kValueCText, kSavedTextMax, saved->text, ctx);
  saved->text[kSavedTextMax] = 0;
  return true;
}

void Restore(int16_t field, HostContext ctx, SavedField* saved) {
  if (saved->number) {
    SetFldVal(field, kValueNumber, &saved->value, ctx);
    return;
  }
  SetFldText(field, saved->text, ctx);
  DisposeXPPointer(saved->text);
  saved->text = nullptr;
}

}  // namespace

int16_t SyncPixelFlavor(TwainGlobals* g) {
  int16_t r = DoOpenDSM(g);
  if (r != 0) return r;
  r = DoOpenDS(g);
  if (r != 0) return r;

  HostContext ctx = g->hostParams;
  int16_t scratch = GetFldRef("#1", ctx);
  SavedField saved;
  if (!Save(scratch, ctx, &saved)) return kResultUnusablePage;  // no memory to keep the field

  r = GetCap(g, ICAP_PIXELFLAVOR, scratch, 0, 0);
  if (r == 0) {
    int16_t current = GetFldInt(scratch, ctx);
    r = GetCap(g, ICAP_PIXELFLAVOR, scratch, 0, 1);
    if (r == 0 && GetFldInt(scratch, ctx) != current) r = SetCap(g, ICAP_PIXELFLAVOR, scratch);
  }

  Restore(scratch, ctx, &saved);
  return r;
}
