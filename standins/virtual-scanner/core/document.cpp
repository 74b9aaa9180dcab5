// Document scanning: the batch a ready report announces (feeder or glass, duplex sides, job
// separators), the feeder's paper, MSG_STOPFEEDER, DAT_EXTIMAGEINFO and the commands that
// script them.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {

void Scanner::RebuildProfile() {
  profile_.SetDocumentDevice(documents_, infoItems_, jobControl_);
  profile_.OfferFileFormats(fileFormats_);
  profile_.OfferMemory(memoryOffered_);
}

void Scanner::CheckPaper() {
  if (loadAt_ <= 0 || platform_->Now() < loadAt_) return;
  loadAt_ = 0;
  // Paper put in while the source is enabled is what the next ready report takes.
  if (state_ >= 5 && feeder_ && tray_ == 0) tray_ = pending_;
}

bool Scanner::PaperInFeeder() {
  CheckPaper();
  if (state_ >= 5) return tray_ > 0;
  return feeder_ && pending_ > 0 && loadAt_ <= 0;
}

void Scanner::RefreshFeederLoaded() {
  if (profile_.Find(kCapFeederLoaded)) profile_.SetValue(kCapFeederLoaded, PaperInFeeder() ? 1 : 0);
}

bool Scanner::UsesFeeder() {
  // The plain flatbed and the sheet-fed copy: the feeder of `pages` when there is one.
  if (!profile_.DocumentDevice() || model_.feeder) return feeder_;
  // The feeder beside the glass: sensed (the feeder when it holds paper), or as enabled.
  if (profile_.Number(kCapAutomaticSenseMedium)) return PaperInFeeder();
  return profile_.Number(kCapFeederEnabled) != 0;
}

bool Scanner::BuildPlan() {
  plan_.clear();
  CheckPaper();
  fromFeeder_ = UsesFeeder();
  const bool documents = profile_.DocumentDevice();
  // The glass gives one page a scan (the `pending` images on the plain flatbed).
  const int sheets = fromFeeder_ ? tray_ : (documents && feeder_ ? 1 : pending_);
  if (sheets <= 0) return false;
  const int sides = documents && fromFeeder_ && profile_.Number(kCapDuplexEnabled) ? 2 : 1;
  // Without CAP_JOBCONTROL (`jobcontrol off`) Number answers 0, TWJC_NONE: no sheet separates
  // anything.
  const int job = documents ? profile_.Number(kCapJobControl) : kJobNone;
  const bool exclude = job == kJobExcludeContinue || job == kJobExcludeStop;
  const bool stop = job == kJobIncludeStop || job == kJobExcludeStop;
  int side = fed_ + 1, leadingSides = 0, leadingSheets = 0;
  for (int sheet = 1; sheet <= sheets; ++sheet, side += sides) {
    int separator = -1;  // the patch of a job separator on either side of the sheet
    for (int k = 0; k < sides && job != kJobNone; ++k) {
      auto patch = patchAt_.find(side + k);
      if (patch != patchAt_.end() && EndsJob(patch->second) && separator < 0) separator = patch->second;
    }
    if (separator >= 0 && exclude) {
      if (plan_.empty()) {
        // Nothing before it: a job of no pages is no job; the sheet is passed over.
        leadingSides += sides;
        ++leadingSheets;
        continue;
      }
      Shot& last = plan_.back();
      last.skip += sides;
      last.skipSheet = sheet;
      last.sheetsDone += 1;
      last.eoj = EojOf(separator);
      if (stop) break;
      continue;
    }
    for (int k = 0; k < sides; ++k) {
      Shot shot;
      shot.side = side + k;
      shot.sheet = sheet;
      shot.back = k == 1;
      shot.sheetsDone = k == sides - 1 && fromFeeder_ ? 1 : 0;
      plan_.push_back(shot);
    }
    if (separator >= 0) {
      plan_.back().eoj = EojOf(separator);
      if (stop) break;
    }
  }
  // CAP_XFERCOUNT: at most that many images; a front whose back is cut off leaves the feeder
  // with it.
  const int limit = profile_.Number(CAP_XFERCOUNT);
  if (limit > 0 && size_t(limit) < plan_.size()) {
    plan_.resize(size_t(limit));
    if (fromFeeder_ && plan_.back().sheetsDone == 0) plan_.back().sheetsDone = 1;
  }
  if (fromFeeder_) tray_ -= leadingSheets;
  fed_ += leadingSides;
  return !plan_.empty();
}

int Scanner::PlannedSheets() const {
  int sheets = 0;
  for (const Shot& s : plan_) sheets += s.sheetsDone;
  // A jammed front of a duplex sheet: the sheet is taken out with it.
  if (jammed_ && !plan_.empty() && plan_.front().sheetsDone == 0 && fromFeeder_) ++sheets;
  return sheets;
}

TW_UINT16 Scanner::StopFeeder(TW_PENDINGXFERS* p) {
  if (!profile_.DocumentDevice()) return Fail(TWCC_BADPROTOCOL);
  if (state_ != 6 || !profile_.Number(kCapAutoScan) || !fromFeeder_ || plan_.empty())
    return Fail(TWCC_SEQERROR);
  // With autoscan the scanner has pulled two sheets ahead of the one in it: those are still
  // transferred, the rest stay in the feeder.
  const int pulled = plan_.front().sheet + 2;
  while (!plan_.empty() && plan_.back().sheet > pulled) plan_.pop_back();
  Shot& last = plan_.back();
  if (last.skipSheet > pulled) {
    last.skip = 0;
    last.skipSheet = 0;
    last.sheetsDone -= 1;
    last.eoj = kEojNone;
  }
  remaining_ = int(plan_.size());
  p->Count = Reported(remaining_);
  return TWRC_SUCCESS;
}

namespace {

size_t TypeBytes(TW_UINT16 type) { return type == TWTY_UINT16 ? 2 : 4; }

}  // namespace

TW_UINT16 Scanner::ExtImageInfo(void* data) {
  if (!profile_.DocumentDevice() || !profile_.Find(kIcapExtImageInfo)) return Fail(TWCC_BADPROTOCOL);
  if (!data) return Fail(TWCC_BADVALUE);
  // After TWRC_XFERDONE, before MSG_ENDXFER, and only when the application asked in state 4.
  const bool done = done_ || strips_.phase == Strips::Phase::Done;
  if (state_ != 7 || !done || plan_.empty() || !profile_.Number(kIcapExtImageInfo)) return Fail(TWCC_SEQERROR);
  auto* bytes = static_cast<uint8_t*>(data);
  TW_UINT32 count = 0;
  std::memcpy(&count, bytes, sizeof count);
  const Shot& shot = plan_.front();
  auto patch = patchAt_.find(shot.side);
  auto codes = barcodesAt_.find(shot.side);
  const std::vector<std::string> none;
  const std::vector<std::string>& barcodes = codes != barcodesAt_.end() ? codes->second : none;
  const bool inlined = infoItems_ == InfoItems::Inline;
  // A scanner with job control reads the patches it separates jobs by; one without reads them
  // only when the application asked for patch code detection.
  const bool readsPatches = profile_.Find(kCapJobControl) || profile_.Number(kIcapPatchCodeDetectionEnabled);

  for (TW_UINT32 i = 0; i < count; ++i) {
    uint8_t* at = bytes + sizeof(TW_UINT32) + i * sizeof(TW_INFO);
    TW_INFO info;
    std::memcpy(&info, at, sizeof info);
    info.ItemType = 0;
    info.NumItems = 0;
    info.Item = 0;
    info.ReturnCode = TWRC_SUCCESS;
    std::vector<uint32_t> values;
    TW_UINT16 type = TWTY_UINT32;
    bool text = false;
    switch (info.InfoID) {
      case kEiPageSide:
        type = TWTY_UINT16;
        values = {shot.back ? kSideBottom : kSideTop};
        break;
      case kEiPatchCode:
        if (patch != patchAt_.end() && readsPatches) values = {uint32_t(patch->second)};
        break;
      case kEiBarcodeCount:
        values = {uint32_t(barcodes.size())};
        break;
      case kEiBarcodeTextLength:
        for (const std::string& b : barcodes) values.push_back(uint32_t(b.size()));
        break;
      case kEiBarcodeText:
        text = !barcodes.empty();
        break;
      case kEiDocumentNumber:
        values = {uint32_t(document_)};
        break;
      case kEiPageNumber:
        values = {uint32_t(pageInDocument_ + 1)};
        break;
      default:
        info.ReturnCode = TWRC_INFONOTSUPPORTED;
        break;
    }
    const bool known = info.ReturnCode == TWRC_SUCCESS;
    if (known && text) {
      // The texts, each ended by a NUL, one after the other in one handle; their lengths
      // (without the NUL) are TWEI_BARCODETEXTLENGTH.
      Bytes all;
      for (const std::string& b : barcodes) all.insert(all.end(), b.c_str(), b.c_str() + b.size() + 1);
      TW_HANDLE h = MakeHandle(all);
      info.ItemType = kTypeHandle;
      info.NumItems = TW_UINT16(barcodes.size());
      info.Item = reinterpret_cast<TW_UINTPTR>(h);
      if (!h) info.ReturnCode = TWRC_FAILURE;
    } else if (known && values.empty()) {
      info.ReturnCode = TWRC_DATANOTAVAILABLE;
    } else if (known) {
      info.ItemType = type;
      info.NumItems = TW_UINT16(values.size());
      if (inlined && values.size() == 1) {
        info.Item = values[0];
      } else {
        Bytes items(values.size() * TypeBytes(type));
        for (size_t k = 0; k < values.size(); ++k) {
          if (type == TWTY_UINT16) {
            const TW_UINT16 v = TW_UINT16(values[k]);
            std::memcpy(items.data() + 2 * k, &v, 2);
          } else {
            std::memcpy(items.data() + 4 * k, &values[k], 4);
          }
        }
        TW_HANDLE h = MakeHandle(items);
        info.Item = reinterpret_cast<TW_UINTPTR>(h);
        if (!h) info.ReturnCode = TWRC_FAILURE;
      }
    }
    std::memcpy(at, &info, sizeof info);
  }
  return TWRC_SUCCESS;
}

int Scanner::DocumentCommand(const std::vector<std::string>& w, const char* command) {
  const std::string& verb = w[0];
  char* end = nullptr;
  if ((verb == "documents" || verb == "jobcontrol" || verb == "extimageinfo") && w.size() == 2) {
    // What the scanner is changes its capabilities: not while a session is enabled.
    if (state_ >= 5) return -1;
    if (verb == "documents" || verb == "jobcontrol") {
      if (w[1] != "on" && w[1] != "off") return -1;
      (verb == "documents" ? documents_ : jobControl_) = w[1] == "on";
    } else if (w[1] == "inline" || w[1] == "handle" || w[1] == "none") {
      infoItems_ = w[1] == "inline"   ? InfoItems::Inline
                   : w[1] == "handle" ? InfoItems::Handle
                                      : InfoItems::None;
    } else {
      return -1;
    }
    RebuildProfile();
    return 0;
  }
  if ((verb == "patch-at" || verb == "barcode-at") && w.size() == 2 && w[1] == "none") {
    if (verb == "patch-at")
      patchAt_.clear();
    else
      barcodesAt_.clear();
    return 0;
  }
  if ((verb == "patch-at" || verb == "barcode-at") && w.size() >= 3) {
    const long side = std::strtol(w[1].c_str(), &end, 10);
    if (w[1].empty() || *end || side < 1 || side > 32767) return -1;
    if (verb == "patch-at") {
      static const struct {
        const char* name;
        TW_UINT32 code;
      } kKinds[] = {{"1", kPatch1}, {"2", kPatch2}, {"3", kPatch3},
                    {"4", kPatch4}, {"6", kPatch6}, {"T", kPatchT}};
      if (w.size() != 3) return -1;
      for (const auto& kind : kKinds)
        if (w[2] == kind.name) {
          patchAt_[int(side)] = int(kind.code);
          return 0;
        }
      return -1;
    }
    // The text is the rest of the command, blanks inside it included.
    std::string rest = command;
    rest = rest.substr(rest.find("barcode-at") + 10);
    rest.erase(0, rest.find_first_not_of(" \t"));
    rest.erase(0, rest.find_first_of(" \t"));
    rest.erase(0, rest.find_first_not_of(" \t"));
    rest.erase(rest.find_last_not_of(" \t") + 1);
    if (rest.empty() || rest.size() > 255) return -1;
    barcodesAt_[int(side)].push_back(rest);
    return 0;
  }
  if (verb == "feeder-loaded-after" && w.size() == 2) {
    if (w[1] == "none") {
      loadAt_ = 0;
      return 0;
    }
    const double seconds = std::strtod(w[1].c_str(), &end);
    if (w[1].empty() || *end || !(seconds > 0) || seconds > 3600) return -1;
    loadAt_ = platform_->Now() + seconds;
    return 0;
  }
  return -1;
}

}  // namespace vs
