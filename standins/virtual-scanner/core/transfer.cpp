// Image transfers: DAT_SETUPFILEXFER, DAT_IMAGEINFO, DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER
// (memory transfers: memory.cpp).
#include <cmath>
#include <cstring>
#include <new>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {
namespace {

Bytes Encode(const vscan::Raster& r, TW_UINT16 format) {
  switch (format) {
    case TWFF_TIFF:
      return vscan::EncodeTIFF(r);
    case TWFF_BMP:
      return vscan::EncodeBMP(r);
    case TWFF_PNG:
      return vscan::EncodePNG(r);
    default:
      return {};
  }
}

}  // namespace

TW_UINT16 Scanner::SetupFileXfer(TW_UINT16 msg, TW_SETUPFILEXFER* s) {
  if (!s) return Fail(TWCC_BADVALUE);
  if (!profile_.FileTransfers()) return Fail(TWCC_BADPROTOCOL);  // a scanner without file transfers
  if (state_ < 4 || state_ > 6) return Fail(TWCC_SEQERROR);
  switch (msg) {
    case MSG_GET:
      std::memcpy(s->FileName, fileName_, sizeof fileName_);
      s->Format = profile_.FileFormat();
      s->VRefNum = vRefNum_;
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
      tw::PutString(s->FileName, sizeof s->FileName, "TWAIN.TMP", tw::native::kPascalStrings);
      s->Format = TWFF_BMP;
      s->VRefNum = 0;
      return TWRC_SUCCESS;
    case MSG_SET:
      if (!profile_.FileFormatOffered(s->Format)) return Fail(TWCC_BADVALUE);
      std::memcpy(fileName_, s->FileName, sizeof fileName_);
      if (!tw::native::kPascalStrings) fileName_[sizeof fileName_ - 1] = 0;
      vRefNum_ = s->VRefNum;
      profile_.SetFileFormat(s->Format);
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

TW_UINT16 Scanner::ImageInfo(TW_IMAGEINFO* info) {
  if (!info) return Fail(TWCC_BADVALUE);
  if (state_ != 6 && state_ != 7) return Fail(TWCC_SEQERROR);
  vscan::ScanSettings s = PageSettings();
  std::memset(info, 0, sizeof *info);
  info->XResolution = Fix32Struct(s.xres);
  info->YResolution = Fix32Struct(s.yres);
  info->ImageWidth = TW_INT32(std::lround((s.right - s.left) * s.xres));
  info->ImageLength = TW_INT32(std::lround((s.bottom - s.top) * s.yres));
  // A memory transfer: a length the scanner does not know before the page is out, and the
  // rows it really had once it is.
  bool memory = profile_.Number(ICAP_XFERMECH) == TWSX_MEMORY;
  if (memory && strips_.phase == Strips::Phase::Done)
    info->ImageLength = strips_.height;
  else if (memory && lengthUnknown_)
    info->ImageLength = -1;
  int depth = s.pixelType == TWPT_BW ? 1 : s.pixelType == TWPT_GRAY ? 8 : 24;
  info->SamplesPerPixel = depth == 24 ? 3 : 1;
  for (int i = 0; i < info->SamplesPerPixel; ++i) info->BitsPerSample[i] = TW_INT16(depth == 1 ? 1 : 8);
  info->BitsPerPixel = TW_INT16(depth);
  info->Planar = 0;
  info->PixelType = TW_INT16(s.pixelType);
  info->Compression = memory ? PageCompression(s) : kCompressionNone;
  return TWRC_SUCCESS;
}

TW_UINT16 Scanner::FeedPage() {
  if (jamAt_ == fed_ + 1) {
    jamAt_ = 0;
    jammed_ = true;
  }
  // A jammed page stays jammed until the application ends the transfer.
  return jammed_ ? Fail(TWCC_PAPERJAM) : TW_UINT16(TWRC_SUCCESS);
}

vscan::ScanSettings Scanner::PageSettings() const {
  vscan::ScanSettings s = profile_.Settings();
  s.mark = fed_ & 0x7FFF;
  auto type = pixelTypeAt_.find(fed_ + 1);
  if (type != pixelTypeAt_.end()) s.pixelType = type->second;
  auto sheet = sheetAt_.find(fed_ + 1);
  if (sheet != sheetAt_.end()) s.sheet = sheet->second;
  // A patch sheet shows its bars whatever else was said of the side; a back its own face.
  auto patch = patchAt_.find(fed_ + 1);
  if (patch != patchAt_.end()) {
    s.sheet = vscan::kPatchSheet;
    s.patch = patch->second;
  }
  s.back = state_ >= 6 && !plan_.empty() && plan_.front().back;
  return s;
}

bool Scanner::CancelTransfer() {
  if (!cancelNext_) return false;
  cancelNext_ = false;
  state_ = 7;  // only MSG_ENDXFER leaves it
  return true;
}

TW_UINT16 Scanner::NativeXfer(TW_HANDLE* out) {
  if (!out) return Fail(TWCC_BADVALUE);
  if (state_ != 6) return Fail(TWCC_SEQERROR);
  if (profile_.Number(ICAP_XFERMECH) != TWSX_NATIVE) return Fail(TWCC_SEQERROR);
  if (CancelTransfer()) return TWRC_CANCEL;
  if (TW_UINT16 rc = FeedPage()) return rc;
  NativeOrder order;
  if (!nativeOrders_.empty()) {
    order = std::move(nativeOrders_.front());
    nativeOrders_.pop_front();
  }
  TW_HANDLE h = nullptr;
  if (!order.null) {
    Bytes image = order.file ? std::move(order.bytes) : Bytes();
    if (!order.file) {
      vscan::Raster r = vscan::RenderPage(PageSettings());
      image = kWindowsBuild || order.bitmap ? vscan::EncodeDIB(r) : vscan::EncodePICT(r);
      if (image.empty()) return Fail(TWCC_BUMMER);
    }
    try {
      if (order.size >= 0) image.resize(size_t(order.size), 0);
    } catch (const std::bad_alloc&) {
      return Fail(TWCC_LOWMEMORY);
    }
    h = order.bitmap ? platform_->DeviceBitmap(image)
                     : platform_->ImageBlock(image, nativeGuard_, &guardDistance_);
    if (!h) return Fail(TWCC_LOWMEMORY);
  }
  *out = h;
  state_ = 7;
  done_ = true;
  return TWRC_XFERDONE;
}

TW_UINT16 Scanner::FileXfer() {
  if (state_ != 6) return Fail(TWCC_SEQERROR);
  if (profile_.Number(ICAP_XFERMECH) != TWSX_FILE) return Fail(TWCC_SEQERROR);
  if (CancelTransfer()) return TWRC_CANCEL;
  if (TW_UINT16 rc = FeedPage()) return rc;
  TW_UINT16 format = profile_.FileFormat();
  Bytes file = Encode(vscan::RenderPage(PageSettings()), format);
  if (file.empty()) return Fail(TWCC_BUMMER);
  TW_UINT16 cc = platform_->WriteFile(fileName_, file, format);
  if (cc != TWCC_SUCCESS) return Fail(cc);
  state_ = 7;
  done_ = true;
  return TWRC_XFERDONE;
}

}  // namespace vs
