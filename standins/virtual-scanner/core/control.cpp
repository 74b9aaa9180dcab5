// The control interface: commands that script the scanner and queries that observe it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>
#include <vector>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {
namespace {

bool Number(const std::string& s, unsigned long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (*end) return false;
  *out = static_cast<unsigned long>(v);
  return true;
}

bool Numbers(const std::vector<std::string>& w, size_t from, size_t count, unsigned long* out) {
  if (w.size() < from + count) return false;
  for (size_t i = 0; i < count; ++i)
    if (!Number(w[from + i], &out[i])) return false;
  return true;
}

}  // namespace

void Scanner::ResetControls() {
  user_ = User::Scan;
  modal_ = Modal::Clear;
  cancelNext_ = false;
  noticesByMessage_ = false;
  keepSettings_ = false;
  reportDuringEnable_ = false;
  closeRequestInstead_ = false;
  noticeDelayMs_ = 0;
  answers_.clear();
  // The copy's own defaults: a sheet-fed copy has its feeder loaded.
  pending_ = model_.feeder ? model_.sheets : 1;
  fileFormats_ = kFileFormats;
  feeder_ = model_.feeder;
  countUnknown_ = false;
  jamAt_ = 0;
  calls_ = 0;
  faults_.clear();
  misdeeds_.clear();
  journal_.clear();
  scriptGet_.clear();
  scriptSet_.clear();
  scriptedCaps_.clear();
  scriptCc_ = TWCC_BUMMER;
  lastSet_.clear();
  cc_ = TWCC_SUCCESS;
  nativeOrders_.clear();
  nativeGuard_ = false;
  guardDistance_ = -2;
  memoryOffered_ = true;
  profile_.OfferMemory(true);
  currentOnly_ = false;
  buffersSet_ = false;
  rowPadding_ = 0;
  lengthUnknown_ = false;
  rowsShort_ = 0;
  memFailAt_ = 0;
  pixelTypeAt_.clear();
  sheetAt_.clear();
  documents_ = false;
  infoItems_ = InfoItems::Inline;
  jobControl_ = true;
  profile_.SetDocumentDevice(false, InfoItems::Inline, true);
  profile_.OfferFileFormats(fileFormats_);
  profile_.OfferMemory(true);
  patchAt_.clear();
  barcodesAt_.clear();
  loadAt_ = 0;
  awaitingPaper_ = false;
}

// The commands of memory transfers (and `pixel-type-at`, which pages of any transfer follow).
int Scanner::MemoryCommand(const std::vector<std::string>& w) {
  const std::string& verb = w[0];
  unsigned long n[3];
  if (verb == "memory" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
    memoryOffered_ = w[1] == "on";
    profile_.OfferMemory(memoryOffered_);
    return 0;
  }
  if (verb == "memory-buffers" && w.size() == 4) {
    TW_UINT32 v[3];
    for (int i = 0; i < 3; ++i) {
      if (w[1 + i] == "dontcare") {
        v[i] = kDontCare32;
        continue;
      }
      if (!Number(w[1 + i], &n[i])) return -1;
      const long value = long(n[i]);
      if (value < 0 && !(i == 1 && value == -1)) return -1;  // only MAX may be -1: any size
      v[i] = TW_UINT32(value);
    }
    buffers_ = BufferLimits{v[0], v[1], v[2]};
    buffersSet_ = true;
    return 0;
  }
  if (verb == "memory-padding" && w.size() == 2 && Numbers(w, 1, 1, n)) {
    if (long(n[0]) < 0 || long(n[0]) > 65536) return -1;
    rowPadding_ = TW_UINT32(n[0]);
    return 0;
  }
  if (verb == "memory-length-unknown" &&
      (w.size() == 1 || (w.size() == 2 && (w[1] == "on" || w[1] == "off")))) {
    lengthUnknown_ = w.size() == 1 || w[1] == "on";
    return 0;
  }
  if (verb == "memory-rows-short" && w.size() == 2 && Numbers(w, 1, 1, n)) {
    if (long(n[0]) < 0 || long(n[0]) > 1000000) return -1;
    rowsShort_ = int(n[0]);
    return 0;
  }
  if (verb == "memory-fail-at" && w.size() == 2 && w[1] == "none") {
    memFailAt_ = 0;
    return 0;
  }
  if (verb == "memory-fail-at" && w.size() == 4 && Numbers(w, 1, 3, n)) {
    if (long(n[0]) < 1 || long(n[0]) > 1000000 || (n[1] != TWRC_FAILURE && n[1] != TWRC_CANCEL) ||
        n[2] > 0xFFFF)
      return -1;
    memFailAt_ = int(n[0]);
    memFailRc_ = TW_UINT16(n[1]);
    memFailCc_ = TW_UINT16(n[2]);
    return 0;
  }
  if (verb == "pixel-type-at" && w.size() == 2 && w[1] == "none") {
    pixelTypeAt_.clear();
    return 0;
  }
  // One page each time; given again for a page, the last type holds.
  if (verb == "pixel-type-at" && w.size() == 3 && Numbers(w, 1, 2, n)) {
    if (long(n[0]) < 1 || long(n[0]) > 32767 || n[1] > TWPT_RGB) return -1;
    pixelTypeAt_[int(n[0])] = int(n[1]);
    return 0;
  }
  return -1;
}

// The commands that change what native transfers hand over. Each of native-page, -file,
// -null and -bitmap queues an order for one transfer; native-size cuts the last queued file
// order that has no size yet, or else queues a page order of that size.
int Scanner::NativeCommand(const std::vector<std::string>& w, const char* command) {
  const std::string& verb = w[0];
  unsigned long n[1];
  NativeOrder order;
  if (verb == "native-page" && w.size() == 1) {
    nativeOrders_.push_back(order);
    return 0;
  }
  if (verb == "native-file" && w.size() >= 2) {
    // The path is the rest of the command, blanks included.
    std::string path = command;
    path = path.substr(path.find("native-file") + 11);
    path.erase(0, path.find_first_not_of(" \t"));
    path.erase(path.find_last_not_of(" \t") + 1);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return -1;
    try {
      order.bytes.resize(size_t(in.tellg()));
    } catch (const std::bad_alloc&) {
      return -1;  // more than this process can hold
    }
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(order.bytes.data()), std::streamsize(order.bytes.size()))) return -1;
    order.file = true;
    nativeOrders_.push_back(std::move(order));
    return 0;
  }
  if (verb == "native-size" && w.size() == 2 && Numbers(w, 1, 1, n)) {
    if (long(n[0]) < 0) return -1;
    NativeOrder* last = nativeOrders_.empty() ? nullptr : &nativeOrders_.back();
    if (!last || !last->file || last->size >= 0) {
      nativeOrders_.push_back(order);
      last = &nativeOrders_.back();
    }
    last->size = long(n[0]);
    return 0;
  }
  if (verb == "native-null" && w.size() == 1) {
    order.null = true;
    nativeOrders_.push_back(order);
    return 0;
  }
  if (verb == "native-bitmap" && w.size() == 1) {
    if (!kWindowsBuild) return -1;  // Memory Manager handles only
    order.bitmap = true;
    nativeOrders_.push_back(order);
    return 0;
  }
  if (verb == "native-guard" && (w.size() == 1 || (w.size() == 2 && (w[1] == "on" || w[1] == "off")))) {
    if (!kWindowsBuild) return -1;  // a handle's memory is the Memory Manager's to place
    nativeGuard_ = w.size() == 1 || w[1] == "on";
    return 0;
  }
  return -1;
}

int Scanner::Control(const char* command) {
  if (!command) return -1;
  std::istringstream in(command);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.empty()) return -1;
  const std::string& verb = w[0];
  unsigned long n[5];
  if (verb == "reset" && w.size() == 1) {
    ResetControls();
    profile_.Reset();
    return 0;
  }
  if (verb == "user" && w.size() == 2) {
    if (w[1] == "scan")
      user_ = User::Scan;
    else if (w[1] == "cancel")
      user_ = User::Cancel;
    else if (w[1] == "none")
      user_ = User::None;
    else if (w[1] == "scan-close")
      user_ = User::ScanThenClose;
    else
      return -1;
    return 0;
  }
  if (verb == "press" && w.size() == 2) {
    if (w[1] != "scan" && w[1] != "cancel") return -1;
    UserAction(w[1] == "scan" ? User::Scan : User::Cancel);
    return 0;
  }
  if (verb == "modal" && w.size() == 2) {
    if (w[1] == "keep")
      modal_ = Modal::Keep;
    else if (w[1] == "clear")
      modal_ = Modal::Clear;
    else if (w[1] == "set")
      modal_ = Modal::Set;
    else
      return -1;
    return 0;
  }
  if (verb == "cancel-transfer" && w.size() == 1) {
    cancelNext_ = true;
    return 0;
  }
  if (verb == "notices" && w.size() == 2) {
    if (w[1] != "dsm" && w[1] != "message") return -1;
    noticesByMessage_ = w[1] == "message";
    return 0;
  }
  if (verb == "settings" && w.size() == 2) {
    if (w[1] != "keep" && w[1] != "reset") return -1;
    keepSettings_ = w[1] == "keep";
    return 0;
  }
  if (verb == "lists" && w.size() == 2) {
    if (w[1] != "current" && w[1] != "all") return -1;
    currentOnly_ = w[1] == "current";
    return 0;
  }
  if (verb == "report-during-enable" && w.size() == 2) {
    if (w[1] != "on" && w[1] != "off") return -1;
    reportDuringEnable_ = w[1] == "on";
    return 0;
  }
  if (verb == "answer" && (w.size() == 5 || w.size() == 6) && Numbers(w, 1, w.size() - 1, n)) {
    long count = w.size() == 6 ? long(n[4]) : 1;
    if (count < 1) return -1;
    answers_.push_back(Answer{TW_UINT32(n[0]), TW_UINT16(n[1]), TW_UINT16(n[2]), TW_UINT16(n[3]), count});
    return 0;
  }
  if (verb == "closereq-instead" && w.size() == 1) {
    closeRequestInstead_ = true;
    return 0;
  }
  if (verb == "notice-delay" && w.size() == 2 && Numbers(w, 1, 1, n)) {
    if (long(n[0]) < 0 || long(n[0]) > 600000) return -1;
    noticeDelayMs_ = long(n[0]);
    return 0;
  }
  if (verb == "file-formats" && w.size() == 2) {
    std::vector<TW_UINT16> formats;
    if (w[1] != "none") {
      std::stringstream list(w[1]);
      std::string code;
      unsigned long f = 0;
      while (std::getline(list, code, ',')) {
        if (!Number(code, &f) || !Profile::CanWrite(TW_UINT16(f))) return -1;
        for (TW_UINT16 seen : formats)
          if (seen == f) return -1;
        formats.push_back(TW_UINT16(f));
      }
      if (formats.empty()) return -1;
    }
    fileFormats_ = formats;
    profile_.OfferFileFormats(formats);
    return 0;
  }
  if ((verb == "pending" || verb == "pages") && w.size() == 2 && Numbers(w, 1, 1, n)) {
    // `pages 0`: a feeder with no paper in it.
    if (long(n[0]) < (verb == "pages" ? 0 : 1) || long(n[0]) > 32767) return -1;
    pending_ = int(n[0]);
    feeder_ = verb == "pages";
    return 0;
  }
  if (verb == "pages-unknown" && (w.size() == 1 || (w.size() == 2 && (w[1] == "on" || w[1] == "off")))) {
    countUnknown_ = w.size() == 1 || w[1] == "on";
    return 0;
  }
  // A page of the enable (1 to 32767) that something happens to, or none.
  if (verb == "jam-at" && w.size() == 2) {
    if (w[1] == "none") {
      jamAt_ = 0;
      return 0;
    }
    if (!Numbers(w, 1, 1, n) || n[0] < 1 || n[0] > 32767) return -1;
    jamAt_ = int(n[0]);
    return 0;
  }
  // Sheets add up, one page a command; the last kind given for a page holds. `none` takes
  // every sheet of that kind away.
  if ((verb == "blank-at" || verb == "nearly-blank-at") && w.size() == 2) {
    const int sheet = verb == "blank-at" ? kBlankSheet : kNearlyBlankSheet;
    if (w[1] == "none") {
      for (auto it = sheetAt_.begin(); it != sheetAt_.end();)
        it = it->second == sheet ? sheetAt_.erase(it) : ++it;
      return 0;
    }
    if (!Numbers(w, 1, 1, n) || n[0] < 1 || n[0] > 32767) return -1;
    sheetAt_[int(n[0])] = sheet;
    return 0;
  }
  if (verb == "fail" && w.size() == 6 && Numbers(w, 1, 5, n)) {
    faults_.push_back(
        Fault{TW_UINT32(n[0]), TW_UINT16(n[1]), TW_UINT16(n[2]), TW_UINT16(n[3]), TW_UINT16(n[4])});
    return 0;
  }
  // journal PATH (the rest of the command, blanks included) | off.
  if (verb == "journal" && w.size() >= 2) {
    std::string path = command;
    path = path.substr(path.find("journal") + 7);
    path.erase(0, path.find_first_not_of(" \t"));
    path.erase(path.find_last_not_of(" \t") + 1);
    journal_ = path == "off" ? std::string() : path;
    return 0;
  }
  // crash|corrupt-heap DG DAT MSG, exit DG DAT MSG CODE, hang DG DAT MSG SECONDS; then
  // optionally `page K`.
  if (verb == "crash" || verb == "exit" || verb == "corrupt-heap" || verb == "hang") {
    const bool valued = verb == "exit" || verb == "hang";
    const size_t words = valued ? 5 : 4;
    if (w.size() != words && !(w.size() == words + 2 && w[words] == "page")) return -1;
    if (!Numbers(w, 1, words - 1, n)) return -1;
    Misdeed m{Misdeed::Kind::Crash, TW_UINT32(n[0]), TW_UINT16(n[1]), TW_UINT16(n[2]), 0, 0};
    if (verb == "exit") m.kind = Misdeed::Kind::Exit;
    if (verb == "corrupt-heap") m.kind = Misdeed::Kind::CorruptHeap;
    if (verb == "hang") m.kind = Misdeed::Kind::Hang;
    if (valued) {
      m.value = long(n[3]);
      if (m.value < 0 || m.value > (verb == "hang" ? 3600 : 255)) return -1;
    }
    if (w.size() == words + 2) {
      unsigned long page = 0;
      if (!Number(w[words + 1], &page) || page < 1 || page > 32767) return -1;
      m.page = int(page);
    }
    misdeeds_.push_back(m);
    return 0;
  }
  if (verb == "script-get" && (w.size() == 4 || w.size() == 5) && Numbers(w, 1, 3, n)) {
    // HEX "none" (or no HEX): no container; "-": a container of no bytes.
    bool container = w.size() == 5 && w[4] != "none";
    ScriptedGet s{TW_UINT16(n[1]), TW_UINT16(n[2]), {}, container, scriptCc_};
    if (container && w[4] != "-" && !FromHex(w[4], &s.bytes)) return -1;
    scriptGet_[TW_UINT16(n[0])].push_back(s);
    return 0;
  }
  if (verb == "script-cc" && w.size() == 2 && Numbers(w, 1, 1, n)) {
    scriptCc_ = TW_UINT16(n[0]);
    return 0;
  }
  if (verb == "script-clear" && w.size() == 1) {
    scriptGet_.clear();
    scriptSet_.clear();
    scriptedCaps_.clear();
    scriptCc_ = TWCC_BUMMER;
    return 0;
  }
  if (verb == "forget-sets" && w.size() == 1) {
    lastSet_.clear();
    return 0;
  }
  if (verb.compare(0, 7, "native-") == 0) return NativeCommand(w, command);
  if (verb == "documents" || verb == "jobcontrol" || verb == "extimageinfo" || verb == "patch-at" ||
      verb == "barcode-at" || verb == "feeder-loaded-after")
    return DocumentCommand(w, command);
  if (verb.compare(0, 6, "memory") == 0 || verb == "pixel-type-at") return MemoryCommand(w);
  if (verb == "script-set" && w.size() == 4 && Numbers(w, 1, 3, n)) {
    scriptSet_[TW_UINT16(n[0])].push_back(ScriptedSet{TW_UINT16(n[1]), TW_UINT16(n[2])});
    return 0;
  }
  return -1;
}

int Scanner::Query(const char* what, char* out, int size) {
  if (!what || !out || size <= 0) return -1;
  std::istringstream in(what);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  std::string answer;
  unsigned long id;
  RefreshFeederLoaded();
  if (w.size() == 1 && w[0] == "state")
    answer = std::to_string(state_);
  else if (w.size() == 1 && w[0] == "calls")
    answer = std::to_string(calls_);
  else if (w.size() == 1 && w[0] == "pending")
    answer = std::to_string(remaining_);
  else if (w.size() == 1 && w[0] == "feeder")
    answer = std::to_string(feeder_ ? tray_ : -1);
  else if (w.size() == 1 && w[0] == "page")
    answer = std::to_string(fed_ + 1);
  else if (w.size() == 1 && w[0] == "condition")
    answer = std::to_string(cc_);
  else if (w.size() == 1 && w[0] == "memory-held")
    answer = std::to_string((strips_.rows ? strips_.rows->heldBytes() : 0) + strips_.jpeg.size());
  else if (w.size() == 1 && w[0] == "guard-distance")
    answer = std::to_string(guardDistance_);
  else if (w.size() == 1 && w[0] == "ui")
    answer = state_ >= 5 && showUI_ ? "shown" : "hidden";
  else if (w.size() == 1 && w[0] == "copy")
    answer = model_.productName + (model_.twain2 ? " twain2" : " twain1") +
             (model_.feeder ? " feeder" : " flatbed") + (entryPoints_ ? " entry-points" : "");
  else if (w.size() == 1 && w[0] == "file") {
    char name[257];
    tw::GetString(fileName_, sizeof fileName_, name, tw::native::kPascalStrings);
    answer = name;
  } else if (w.size() == 2 && w[0] == "cap" && Number(w[1], &id) && profile_.Find(TW_UINT16(id)))
    answer = profile_.Text(TW_UINT16(id));
  else if (w.size() == 2 && w[0] == "last-set" && Number(w[1], &id)) {
    auto it = lastSet_.find(TW_UINT16(id));
    if (it == lastSet_.end()) return -1;
    answer = it->second;
  } else
    return -1;
  std::snprintf(out, size_t(size), "%s", answer.c_str());
  return int(answer.size()) < size ? 0 : -1;
}

}  // namespace vs
