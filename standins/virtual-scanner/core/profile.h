// The scanner's capability profile: a fixed set of capabilities with their containers,
// current and default values, and the rule that MSG_SET checks.
#pragma once
#include <string>
#include <vector>

#include "standins/virtual-scanner/core/container.h"
#include "standins/virtual-scanner/core/document.h"
#include "standins/virtual-scanner/image/page.h"

namespace vs {

enum class Kind { OneValue, Enum, Array, Range };
enum class Rule { ReadOnly, Listed, InRange, Any, XferCount, Frame, Gamma, BitDepth, Extended };

struct Capability {
  TW_UINT16 id = 0;
  Kind kind = Kind::OneValue;
  TW_UINT16 type = 0;
  Rule rule = Rule::ReadOnly;
  std::vector<Item> list;               // Enum and Array items
  uint32_t cur = 0, def = 0;            // Enum indices
  Item value, defValue;                 // OneValue; Range current and default in .num
  uint32_t min = 0, max = 0, step = 0;  // Range
};

// The file formats the scanner offers unless told otherwise (`file-formats`).
inline const std::vector<TW_UINT16> kFileFormats = {TWFF_TIFF, TWFF_BMP, TWFF_PNG};

class Profile {
 public:
  Profile() { Reset(); }
  void Reset();  // every capability back to its default

  const Capability* Find(TW_UINT16 id) const;
  // MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT: the container and its type.
  Bytes Get(TW_UINT16 id, TW_UINT16 msg, TW_UINT16* conType) const;
  // Checks and stores the value of a TW_ONEVALUE; returns a condition code (0 = stored).
  TW_UINT16 Set(TW_UINT16 id, TW_UINT16 conType, const uint8_t* data, size_t size);
  // MSG_RESET of one capability; TWCC_CAPBADOPERATION for a read-only one.
  TW_UINT16 ResetOne(TW_UINT16 id);
  // Capabilities that the application may list in CAP_EXTENDEDCAPS (in state 4) to set them
  // in states 5 and 6 as well.
  static bool OffersLate(TW_UINT16 id) { return id == ICAP_XFERMECH || id == ICAP_IMAGEFILEFORMAT; }
  // Whether CAP_EXTENDEDCAPS lists id now.
  bool SettableLate(TW_UINT16 id) const;

  std::string Text(TW_UINT16 id) const;  // current value for the control interface

  // Current values, for image generation and the transfer.
  vscan::ScanSettings Settings() const;
  int Number(TW_UINT16 id) const;  // enumerations and integer one-values
  TW_UINT16 FileFormat() const { return TW_UINT16(Number(ICAP_IMAGEFILEFORMAT)); }
  void SetFileFormat(TW_UINT16 f);
  // The file formats the scanner offers (all of them are ones it can write): none takes file
  // transfers away altogether (no FILE in XFERMECH, no IMAGEFILEFORMAT).
  static bool CanWrite(TW_UINT16 f) { return f == TWFF_TIFF || f == TWFF_BMP || f == TWFF_PNG; }
  void OfferFileFormats(const std::vector<TW_UINT16>& formats);
  // Memory transfers offered (the default) or not: without them XFERMECH lists no MEMORY and
  // COMPRESSION offers TWCP_NONE only.
  void OfferMemory(bool memory);
  bool MemoryTransfers() const { return memory_; }
  bool FileFormatOffered(TW_UINT16 f) const;
  bool FileTransfers() const { return Find(ICAP_IMAGEFILEFORMAT) != nullptr; }
  // A sheet-fed scanner lists CAP_FEEDERENABLED and CAP_FEEDERLOADED (both read-only TRUE: it
  // has no glass to fall back to); kept across Reset.
  void SetFeederDevice(bool feeder) {
    feederDevice_ = feeder;
    Reset();
  }
  // A document scanner (`documents on`): duplex (CAP_DUPLEX 1-pass, CAP_DUPLEXENABLED),
  // CAP_JOBCONTROL (with `jobControl`; without it ICAP_PATCHCODEDETECTIONENABLED and
  // ICAP_SUPPORTEDPATCHCODETYPES), CAP_AUTOSCAN, ICAP_EXTIMAGEINFO with
  // ICAP_SUPPORTEDEXTIMAGEINFO (unless `items` is None) and, on a flatbed, the feeder beside
  // the glass (CAP_FEEDERENABLED settable, CAP_FEEDERLOADED, CAP_AUTOMATICSENSEMEDIUM). Kept
  // across Reset.
  void SetDocumentDevice(bool documents, InfoItems items, bool jobControl) {
    documents_ = documents;
    infoItems_ = items;
    jobControl_ = jobControl;
    Reset();
  }
  bool DocumentDevice() const { return documents_; }
  // The current value of a one-value capability the scanner itself changes (CAP_FEEDERLOADED).
  void SetValue(TW_UINT16 id, uint32_t value);

 private:
  Capability* FindMutable(TW_UINT16 id);
  // Lists these values for an enumeration, keeping its current value where it is still listed
  // (else the first); the first is the default.
  void Relist(TW_UINT16 id, const std::vector<uint32_t>& values);
  // XFERMECH and COMPRESSION for the transfers offered.
  void OfferMechanisms();
  TW_UINT16 SetExtended(Capability* c, TW_UINT16 conType, const uint8_t* data, size_t size);
  std::vector<Item> BitDepthItems() const;
  std::vector<Capability> caps_;
  bool memory_ = true;
  bool feederDevice_ = false;
  bool documents_ = false;
  InfoItems infoItems_ = InfoItems::Inline;
  bool jobControl_ = true;
};

}  // namespace vs
