// The source's session: triplet dispatch, TWAIN states, identity, capabilities, the user
// interface and event processing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {

Scanner& Scanner::Instance() {
  static Scanner s;
  return s;
}

TW_UINT16 Scanner::Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  ++calls_;
  Journal(dg, dat, msg);
  return Answered(dg, dat, msg, Dispatch(origin, dg, dat, msg, data));
}

TW_UINT16 Scanner::Answered(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc) {
  if (rc != TWRC_SUCCESS) return rc;
  for (auto it = answers_.begin(); it != answers_.end(); ++it) {
    if ((it->dg != 0xFFFF && it->dg != dg) || (it->dat != 0xFFFF && it->dat != dat) ||
        (it->msg != 0xFFFF && it->msg != msg))
      continue;
    TW_UINT16 answer = it->rc;
    if (--it->count <= 0) answers_.erase(it);
    return answer;
  }
  return rc;
}

namespace {
// Read at run time, so that no compiler knows the store below goes nowhere.
int* volatile g_nowhere = nullptr;
volatile size_t g_overrun = 64;
}  // namespace

// One line a triplet, written before it is carried out and the file closed at once, so that
// the journal of a process that a misdeed ends is whole up to the triplet that ended it. The
// page is the one a misdeed's `page K` would see: while one is in the scanner (states 5 to 7),
// else 0.
void Scanner::Journal(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) const {
  if (journal_.empty()) return;
  std::FILE* f = std::fopen(journal_.c_str(), "a");
  if (!f) return;
  std::fprintf(f, "%lu %u %u %d\n", static_cast<unsigned long>(dg), unsigned(dat), unsigned(msg),
               state_ >= 5 ? fed_ + 1 : 0);
  std::fclose(f);
}

void Scanner::Misbehave(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
  for (auto it = misdeeds_.begin(); it != misdeeds_.end(); ++it) {
    if ((it->dg != 0xFFFF && it->dg != dg) || (it->dat != 0xFFFF && it->dat != dat) ||
        (it->msg != 0xFFFF && it->msg != msg))
      continue;
    if (it->page != 0 && (state_ < 5 || fed_ + 1 != it->page)) continue;
    const Misdeed m = *it;
    misdeeds_.erase(it);
    switch (m.kind) {
      case Misdeed::Kind::Crash:
        *g_nowhere = 1;
        break;
      case Misdeed::Kind::Exit:
        std::exit(int(m.value));
      case Misdeed::Kind::CorruptHeap: {
        // Past the end of a small block, over the heap's own record of the next one; the block
        // stays (freeing it would be the heap's first chance to notice).
        auto* block = static_cast<unsigned char*>(std::malloc(24));
        if (block) std::memset(block, 0xA5, 24 + g_overrun);
        break;
      }
      case Misdeed::Kind::Hang:
        platform_->Pause(m.value * 1000);
        break;
    }
    return;
  }
}

TW_UINT16 Scanner::Dispatch(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  Misbehave(dg, dat, msg);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if ((it->dg == 0xFFFF || it->dg == dg) && (it->dat == 0xFFFF || it->dat == dat) &&
        (it->msg == 0xFFFF || it->msg == msg)) {
      Fault f = *it;
      faults_.erase(it);
      cc_ = f.cc;
      // A cancelled transfer is still a transfer: state 7 until MSG_ENDXFER. A failed one
      // leaves the source where it was.
      bool transfer =
          dg == DG_IMAGE && (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER || dat == DAT_IMAGEMEMXFER);
      if (transfer && f.rc == TWRC_CANCEL && (state_ == 6 || state_ == 7)) {
        state_ = 7;
        strips_.phase = Strips::Phase::Cancelled;
      }
      return f.rc;
    }
  }
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_IDENTITY:
        return Identity(origin, msg, static_cast<TW_IDENTITY*>(data));
      case DAT_STATUS: {
        if (msg != MSG_GET || !data) return Fail(TWCC_BADVALUE);
        auto* s = static_cast<TW_STATUS*>(data);
        s->ConditionCode = cc_;
        s->Reserved = 0;
        cc_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
      case DAT_CAPABILITY:
        return Caps(msg, static_cast<TW_CAPABILITY*>(data));
      case DAT_USERINTERFACE:
        return UserInterface(msg, static_cast<TW_USERINTERFACE*>(data));
      case DAT_EVENT:
        if (msg != MSG_PROCESSEVENT) return Fail(TWCC_BADPROTOCOL);
        return ProcessEvent(static_cast<TW_EVENT*>(data));
      case DAT_PENDINGXFERS:
        return PendingXfers(msg, static_cast<TW_PENDINGXFERS*>(data));
      case DAT_SETUPFILEXFER:
        return SetupFileXfer(msg, static_cast<TW_SETUPFILEXFER*>(data));
      case DAT_SETUPMEMXFER:
        return SetupMemXfer(msg, static_cast<TW_SETUPMEMXFER*>(data));
      case DAT_ENTRYPOINT:
        return EntryPoint(msg, static_cast<TW_ENTRYPOINT*>(data));
      default:
        return Fail(TWCC_BADPROTOCOL);
    }
  }
  if (dg == DG_IMAGE) {
    if (msg != MSG_GET) return Fail(TWCC_BADPROTOCOL);
    switch (dat) {
      case DAT_IMAGEINFO:
        return ImageInfo(static_cast<TW_IMAGEINFO*>(data));
      case DAT_IMAGENATIVEXFER:
        return NativeXfer(static_cast<TW_HANDLE*>(data));
      case DAT_IMAGEFILEXFER:
        return FileXfer();
      case DAT_IMAGEMEMXFER:
        return MemXfer(static_cast<TW_IMAGEMEMXFER*>(data));
      case kDatExtImageInfo:
        return ExtImageInfo(data);
      default:
        return Fail(TWCC_BADPROTOCOL);
    }
  }
  return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 Scanner::Identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* id) {
  if (!id) return Fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GET: {
      TW_UINT32 keep = id->Id;
      std::memset(id, 0, sizeof *id);
      id->Id = keep;
      id->Version.MajorNum = 2;
      id->Version.MinorNum = 4;
      id->Version.Language = 2;  // English
      id->Version.Country = 1;   // USA
      tw::PutString(id->Version.Info, sizeof id->Version.Info, "2.4 virtual flatbed",
                    tw::native::kPascalStrings);
      id->ProtocolMajor = model_.twain2 ? 2 : 1;
      id->ProtocolMinor = model_.twain2 ? 4 : 9;
      id->SupportedGroups = DG_CONTROL | DG_IMAGE | (model_.twain2 ? DF_DS2 : 0);
      tw::PutString(id->Manufacturer, sizeof id->Manufacturer, "Orvane Imaging", tw::native::kPascalStrings);
      tw::PutString(id->ProductFamily, sizeof id->ProductFamily,
                    model_.feeder ? "Orvane Feeder" : "Orvane Flatbed", tw::native::kPascalStrings);
      tw::PutString(id->ProductName, sizeof id->ProductName, model_.productName.c_str(),
                    tw::native::kPascalStrings);
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
      if (state_ != 3) return Fail(TWCC_MAXCONNECTIONS);
      // A TWAIN 2 copy hands out the manager's memory only: without its entry points there is
      // no session.
      if (model_.twain2 && !entryPoints_) return Fail(TWCC_BADPROTOCOL);
      self_ = *id;
      if (origin) app_ = *origin;
      ResetSession();
      state_ = 4;
      return TWRC_SUCCESS;
    case MSG_CLOSEDS:
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      platform_->HideUI();
      state_ = 3;
      // The next session gets the entry points anew.
      if (entryPoints_) platform_->UseEntryPoints(nullptr);
      entryPoints_ = false;
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 Scanner::EntryPoint(TW_UINT16 msg, TW_ENTRYPOINT* points) {
  if (!model_.twain2 || msg != MSG_SET) return Fail(TWCC_BADPROTOCOL);
  if (!points) return Fail(TWCC_BADVALUE);
  if (points->Size != sizeof(TW_ENTRYPOINT)) return Fail(TWCC_BADPROTOCOL);
  if (state_ != 3) return Fail(TWCC_SEQERROR);
  if (!points->DSM_Entry || !points->DSM_MemAllocate || !points->DSM_MemFree || !points->DSM_MemLock ||
      !points->DSM_MemUnlock)
    return Fail(TWCC_BADVALUE);
  platform_->UseEntryPoints(points);
  entryPoints_ = true;
  return TWRC_SUCCESS;
}

void Scanner::Configure(const Model& model) {
  // Another copy: entry points given for the last one are not its own.
  if (entryPoints_ && platform_) platform_->UseEntryPoints(nullptr);
  entryPoints_ = false;
  model_ = model;
  profile_.SetFeederDevice(model.feeder);
  feeder_ = model.feeder;
  pending_ = model.feeder ? model.sheets : 1;
}

void Scanner::ResetSession() {
  if (!keepSettings_) profile_.Reset();
  profile_.OfferFileFormats(fileFormats_);
  profile_.OfferMemory(memoryOffered_);
  EndStrips();
  notice_ = unsent_ = MSG_NULL;
  remaining_ = 0;
  plan_.clear();
  done_ = false;
  showUI_ = false;
  parent_ = nullptr;
  tw::PutString(fileName_, sizeof fileName_, "TWAIN.TMP", tw::native::kPascalStrings);
  vRefNum_ = 0;
}

TW_HANDLE Scanner::MakeHandle(const Bytes& b) {
  TW_HANDLE h = platform_->Alloc(b.size());
  if (!h) return nullptr;
  if (!b.empty()) std::memcpy(platform_->Lock(h), b.data(), b.size());
  platform_->Unlock(h);
  return h;
}

TW_UINT16 Scanner::Caps(TW_UINT16 msg, TW_CAPABILITY* cap) {
  if (!cap) return Fail(TWCC_BADVALUE);
  RefreshFeederLoaded();
  if (msg == MSG_GET) {
    auto it = scriptGet_.find(cap->Cap);
    if (it != scriptGet_.end() && !it->second.empty()) {
      ScriptedGet s = it->second.front();
      it->second.pop_front();
      cap->ConType = s.conType;
      // Like a real source, a failed request hands out no container.
      cap->hContainer = s.container && s.rc == TWRC_SUCCESS ? MakeHandle(s.bytes) : nullptr;
      if (s.rc == TWRC_FAILURE) cc_ = s.cc;
      // The capability is now the script's: its MSG_SET is no longer checked against the profile.
      scriptedCaps_.insert(cap->Cap);
      return s.rc;
    }
  }
  if (msg == MSG_SET) {
    std::string seen = std::to_string(cap->ConType) + " ";
    if (cap->hContainer) {
      seen += ToHex(platform_->Lock(cap->hContainer), platform_->Size(cap->hContainer));
      platform_->Unlock(cap->hContainer);
    }
    lastSet_[cap->Cap] = seen;
    auto it = scriptSet_.find(cap->Cap);
    if (it != scriptSet_.end() && !it->second.empty()) {
      ScriptedSet s = it->second.front();
      it->second.pop_front();
      if (s.rc != TWRC_SUCCESS) cc_ = s.cc;
      return s.rc;
    }
  }
  if (state_ < 4) return Fail(TWCC_SEQERROR);
  switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
      TW_UINT16 conType = TWON_ONEVALUE;
      if (!profile_.Find(cap->Cap)) return Fail(TWCC_CAPUNSUPPORTED);
      // A source that lists nothing answers MSG_GET as MSG_GETCURRENT.
      const TW_UINT16 asked = msg == MSG_GET && currentOnly_ ? TW_UINT16(MSG_GETCURRENT) : msg;
      TW_HANDLE h = MakeHandle(profile_.Get(cap->Cap, asked, &conType));
      if (!h) return Fail(TWCC_LOWMEMORY);
      cap->ConType = conType;
      cap->hContainer = h;
      return TWRC_SUCCESS;
    }
    case MSG_SET: {
      // A capability answered from a script takes any value, but only when a set is allowed.
      bool scripted = scriptedCaps_.count(cap->Cap) != 0;
      const vs::Capability* c = profile_.Find(cap->Cap);
      if (!c && !scripted) return Fail(TWCC_CAPUNSUPPORTED);
      if (!scripted && c->rule == Rule::ReadOnly) return Fail(TWCC_CAPBADOPERATION);
      // States 5 and 6 only for what the application listed in CAP_EXTENDEDCAPS.
      bool late = (state_ == 5 || state_ == 6) && profile_.SettableLate(cap->Cap);
      if (state_ != 4 && !late) return Fail(TWCC_SEQERROR);
      if (scripted) return TWRC_SUCCESS;
      TW_UINT16 cc = TWCC_BADVALUE;
      if (cap->hContainer) {
        cc = profile_.Set(cap->Cap, cap->ConType, platform_->Lock(cap->hContainer),
                          platform_->Size(cap->hContainer));
        platform_->Unlock(cap->hContainer);
      }
      return cc == TWCC_SUCCESS ? TWRC_SUCCESS : Fail(cc);
    }
    case MSG_RESET: {
      if (!profile_.Find(cap->Cap)) return Fail(TWCC_CAPUNSUPPORTED);
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      TW_UINT16 cc = profile_.ResetOne(cap->Cap);
      if (cc) return Fail(cc);
      TW_UINT16 conType = TWON_ONEVALUE;
      TW_HANDLE h = MakeHandle(profile_.Get(cap->Cap, MSG_GET, &conType));
      if (!h) return Fail(TWCC_LOWMEMORY);
      cap->ConType = conType;
      cap->hContainer = h;
      return TWRC_SUCCESS;
    }
    default:
      if (!profile_.Find(cap->Cap)) return Fail(TWCC_CAPUNSUPPORTED);
      return Fail(TWCC_CAPBADOPERATION);
  }
}

TW_UINT16 Scanner::Page() {
  // Without the interface the page comes by itself, or (once) a close request instead.
  TW_UINT16 notice = !showUI_ && closeRequestInstead_ ? MSG_CLOSEDSREQ : MSG_XFERREADY;
  if (!showUI_) closeRequestInstead_ = false;
  return notice;
}

TW_UINT16 Scanner::Reported(int left) const { return TW_UINT16(countUnknown_ && left > 0 ? -1 : left); }

TW_UINT16 Scanner::UserInterface(TW_UINT16 msg, TW_USERINTERFACE* ui) {
  switch (msg) {
    case MSG_ENABLEDS:
      if (!ui) return Fail(TWCC_BADVALUE);
      if (state_ != 4) return Fail(TWCC_SEQERROR);
      state_ = 5;
      showUI_ = ui->ShowUI != 0;
      parent_ = ui->hParent;
      if (modal_ == Modal::Clear) ui->ModalUI = 0;
      if (modal_ == Modal::Set) ui->ModalUI = 1;
      notice_ = unsent_ = MSG_NULL;
      noticeDue_ = 0;
      tray_ = feeder_ ? pending_ : 0;
      fed_ = 0;
      jammed_ = false;
      plan_.clear();
      done_ = false;
      awaitingPaper_ = false;
      document_ = 1;
      pageInDocument_ = 0;
      EndStrips();
      // Paper that is still to come (`feeder-loaded-after`): an empty feeder until then, and a
      // wake-up of the source's own when it comes.
      CheckPaper();
      if (feeder_ && loadAt_ > 0) {
        tray_ = 0;
        platform_->WakeAfter(parent_, std::max(1L, long(std::ceil((loadAt_ - platform_->Now()) * 1000))));
      }
      if (showUI_) platform_->ShowUI(parent_, user_);
      if (reportDuringEnable_) {
        notice_ = Page();
        Deliver();
      } else if (!showUI_) {
        // Reported once MSG_ENABLEDS has returned, when the next event comes through (after
        // the delay, if one was asked for).
        notice_ = Page();
        if (noticeDelayMs_ > 0) {
          noticeDue_ = platform_->Now() + double(noticeDelayMs_) / 1000;
          platform_->WakeAfter(parent_, noticeDelayMs_);
        } else {
          platform_->Wake(parent_);
        }
      }
      return TWRC_SUCCESS;
    case MSG_DISABLEDS:
      if (state_ != 5) return Fail(TWCC_SEQERROR);
      platform_->HideUI();
      notice_ = unsent_ = MSG_NULL;
      state_ = 4;
      return TWRC_SUCCESS;
    case MSG_ENABLEDSUIONLY:
      return Fail(TWCC_BADPROTOCOL);
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

bool Scanner::Deliver() {
  TW_UINT16 msg = notice_;
  notice_ = MSG_NULL;
  if (msg == MSG_XFERREADY) {
    if (state_ != 5) return true;
    if (!BuildPlan()) {
      // An empty feeder: its interface says so. Paper that comes later is reported then.
      awaitingPaper_ = fromFeeder_ && loadAt_ > 0;
      return true;
    }
    awaitingPaper_ = false;
    state_ = 6;
    done_ = false;
    remaining_ = int(plan_.size());
  }
  if (msg == MSG_NULL) return true;
  TW_UINT16 rc = noticesByMessage_ ? TWRC_FAILURE
                 : notifyHook_     ? notifyHook_(msg)
                                   : platform_->Notify(&self_, &app_, msg);
  if (rc != TWRC_SUCCESS) {
    unsent_ = msg;
    return false;
  }
  return true;
}

void Scanner::TransfersOver() {
  if (showUI_ && user_ == User::ScanThenClose) platform_->Press(User::Cancel);
}

void Scanner::UserAction(User action) {
  if (state_ != 5 || !showUI_ || action == User::None) return;
  notice_ = action == User::Scan ? MSG_XFERREADY : MSG_CLOSEDSREQ;
  Deliver();
}

TW_UINT16 Scanner::ProcessEvent(TW_EVENT* ev) {
  if (!ev) return Fail(TWCC_BADVALUE);
  if (state_ < 5) return Fail(TWCC_SEQERROR);
  ev->TWMessage = MSG_NULL;
  Platform::Event kind = ev->pEvent ? platform_->Classify(ev->pEvent) : Platform::Event::Foreign;
  bool ours = kind != Platform::Event::Foreign;
  if (kind == Platform::Event::ScanPressed) UserAction(User::Scan);
  if (kind == Platform::Event::CancelPressed) UserAction(User::Cancel);
  // Paper put into the feeder while a ready report waited for it.
  CheckPaper();
  if (awaitingPaper_ && state_ == 5 && tray_ > 0 && notice_ == MSG_NULL) {
    notice_ = MSG_XFERREADY;
    Deliver();
  }
  // A delayed notice goes with the first event once it is due (a wake-up of an earlier enable
  // that comes sooner does not count; the clock may lag its timer by a tick).
  constexpr double kTick = 0.05;
  if (notice_ != MSG_NULL && platform_->Now() + kTick >= noticeDue_) Deliver();
  if (unsent_ != MSG_NULL) {
    // The DSM would not pass the notice on: hand it over the older way.
    ev->TWMessage = unsent_;
    unsent_ = MSG_NULL;
    return TWRC_DSEVENT;
  }
  return ours ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
}

TW_UINT16 Scanner::PendingXfers(TW_UINT16 msg, TW_PENDINGXFERS* p) {
  if (!p) return Fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GET:
      if (state_ < 4) return Fail(TWCC_SEQERROR);
      p->Count = Reported(state_ >= 6 ? remaining_ : 0);
      return TWRC_SUCCESS;
    case MSG_ENDXFER:
      if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
      {
        // The page leaves the scanner (with an excluded separator sheet behind it); after a jam
        // the feeder has stopped, nothing follows.
        Shot shot;
        if (!plan_.empty()) {
          shot = plan_.front();
          plan_.pop_front();
        }
        if (jammed_ && shot.sheetsDone == 0 && fromFeeder_) shot.sheetsDone = 1;
        if (jammed_) plan_.clear();
        tray_ -= std::min(tray_, shot.sheetsDone);
        fed_ += 1 + shot.skip;
        ++pageInDocument_;
        if (shot.eoj != kEojNone) {
          ++document_;
          pageInDocument_ = 0;
        }
        remaining_ = int(plan_.size());
        jammed_ = false;
        done_ = false;
        EndStrips();
        state_ = remaining_ > 0 ? 6 : 5;
        p->Count = Reported(remaining_);
        // The end of a job: 0 when the page ended none.
        if (profile_.DocumentDevice()) p->Reserved = shot.eoj;
      }
      if (state_ == 5) TransfersOver();
      return TWRC_SUCCESS;
    case MSG_RESET:
      if (state_ != 6) return Fail(TWCC_SEQERROR);
      // The pending pages are dropped; a jammed one is taken out.
      tray_ -= std::min(tray_, PlannedSheets());
      if (jammed_) ++fed_;
      jammed_ = false;
      EndStrips();
      plan_.clear();
      remaining_ = 0;
      state_ = 5;
      p->Count = 0;
      TransfersOver();
      return TWRC_SUCCESS;
    case kMsgStopFeeder:
      return StopFeeder(p);
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

}  // namespace vs
