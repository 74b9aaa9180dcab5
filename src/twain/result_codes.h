// The result codes a host program sees, one name per row of the README's table. Every
// function answers with one of these, a file writer's OSErr (Mac), or a TWAIN code folded in
// by xlateErr: 2000 + an unexpected return code, 3000 + a condition code without a row.
#pragma once
#include <cstdint>

constexpr int16_t kResultOk = 0;
// The source failed and its status request failed too (that request's own return code).
constexpr int16_t kResultStatusUnreadable = 1;
// The page cannot be made or used: no memory for it (writer or picture), an image the
// source handed over that fails its check or cannot become a picture, a page in a form the
// writer cannot take.
constexpr int16_t kResultUnusablePage = 2;
// A required parameter is missing or of the wrong kind.
constexpr int16_t kResultBadParameter = 3;
// TWAIN is not available.
constexpr int16_t kResultNoTwain = 4;
// Cancelled by the user or by the source.
constexpr int16_t kResultCancelled = 5;
// The source could not be opened.
constexpr int16_t kResultCannotOpenSource = 6;
// Mac: a file of that name already exists.
constexpr int16_t kResultFileExists = 7;
// The file could not be created or written.
constexpr int16_t kResultFileError = 8;
// The source does not support the capability, or the name is no capability word.
constexpr int16_t kResultUnsupportedCapability = 9;
// The source refuses the value.
constexpr int16_t kResultBadValue = 10;
// The capability cannot be changed now or at all.
constexpr int16_t kResultNotNow = 11;
// Not connected, the source cannot be opened for a scan, or the operation failed.
constexpr int16_t kResultFailed = 13;
// TWAIN sequence error; also every call made while a scan waits.
constexpr int16_t kResultSequenceError = 14;
// Mac: there is no data source.
constexpr int16_t kResultNoSource = 15;
// Mac: the page is too large for a picture (a native transfer's QuickDraw picture), found
// before it was transferred.
constexpr int16_t kResultPageTooLarge = 16;
// A multi-page TIFF would pass the largest file it can be with the next page (4 GiB on
// Windows, 2 GiB on the Mac): that page was not transferred, the book keeps the pages before.
constexpr int16_t kResultBookFull = 17;
// A batch whose every page came and was left out as blank: no file, no page counted.
constexpr int16_t kResultEveryPageBlank = 18;
// Windows, a call carried out in a worker process: the worker ended during the call (the
// source crashed it, exited or hung until killed). The next call starts a fresh worker.
constexpr int16_t kResultSourceStopped = 19;
// Twain.ScanPages from the feeder (PAPERSOURCE "FEEDER"): no paper in it, none came within
// WAITFORPAPER seconds; nothing was scanned.
constexpr int16_t kResultFeederEmpty = 20;
// 2000 + an unexpected TWAIN return code; 3000 + another condition code.
constexpr int16_t kResultReturnCodeBase = 2000;
constexpr int16_t kResultConditionCodeBase = 3000;
// A failure whose condition code is TWCC_SUCCESS: nothing was done, and nothing says why.
constexpr int16_t kResultFailureUnexplained = kResultReturnCodeBase + 1;
// A return code or condition code too large to be added to its base (a source's own codes,
// from 0x8000): results stay positive.
constexpr int16_t kResultReturnCodeOutOfRange = 2999;
constexpr int16_t kResultConditionCodeOutOfRange = 3999;
