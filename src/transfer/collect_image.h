// Transfers the one image a source announced with MSG_XFERREADY and ends that transfer.
#pragma once
#include "pages/page_route.h"
#include "pages/page_writer.h"
#include "record/globals.h"

// A native route: native transfer into *imageSlot (which must be empty); on the Mac a page
// too large for a picture answers 16 before it is transferred (the source still holds it, in
// state 6). A file route: the source writes filePath in the route's format and *imageSlot
// ends null. 0 or a result code.
// *left (optional): the transfers the source still holds after this one was ended (0 when
// it was not ended; 0xFFFF when the source does not know how many). *imageInfo (optional):
// what the source said of the image before its transfer (DAT_IMAGEINFO). *endRefused
// (optional): a refused MSG_ENDXFER after a transfer that delivered its image whole goes here
// (translated) instead of into the result, so that the image can still be kept; 0 otherwise.
// *writer (optional): a batch's writer, asked whether it takes the page before its transfer.
int16_t CollectImage(TwainGlobals* g, const PageRoute& route, TW_HANDLE* imageSlot, TW_UINT16* left = nullptr,
                     TW_IMAGEINFO* imageInfo = nullptr, int16_t* endRefused = nullptr,
                     PageWriter* writer = nullptr);

// Mac: a picture's pixel map holds rows of at most 0x3FFE bytes, 4095 pixels of the 32 bits
// a colour picture takes, and its frame's sides are 16-bit coordinates. A page that DAT_IMAGEINFO
// says is wider or taller cannot come by native transfer.
constexpr int32_t kWidestPicture = 4095;
constexpr int32_t kTallestPicture = 32767;
// Whether a native transfer can hand over the page `info` describes (always on Windows; a
// length the source does not know yet is left to the transfer).
bool FitsNativeTransfer(const TW_IMAGEINFO& info);

// Before an announced image is transferred: what the source says of it (DAT_IMAGEINFO), and
// the pending transfers (DAT_PENDINGXFERS / MSG_GET). 0 or the translated failure.
int16_t AskAboutImage(TwainGlobals* g, TW_IMAGEINFO* info);
// MSG_ENDXFER after a transfer whose own result is `result`: that result, or the end's
// failure where the transfer succeeded. *left and *endRefused as for CollectImage.
int16_t FinishTransfer(TwainGlobals* g, int16_t result, TW_UINT16* left, int16_t* endRefused = nullptr);
