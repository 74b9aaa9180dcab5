// The Windows image pieces: the packed DIB a source delivers, the device bitmap made of it
// for the host window's display, and the BMP file written from that bitmap.
#pragma once
#include <windows.h>

#include <cstdint>

#include "image/image_platform.h"
#include "platform/windows/dib_check.h"
#include "platform/windows/module_values.h"

// The logical palette of a checked DIB with a 40-byte header (its colour table, or 3-3-2 for
// 24 bits without one), or null.
HPALETTE BuildDIBPalette(const uint8_t* dib, const dib::Layout& layout);
// The colour depth class of a bitmap: planes x bits rounded up to 1, 4, 8, 16, 24 or 32.
int ColorDepthClass(WORD planes, WORD bitsPixel);
// A LocalAlloc block with the header GetDIBits needs for `bitmap`, or null.
BITMAPINFO* BuildBitmapInfo(HBITMAP bitmap);
// Writes the file; 0, 2 or 8.
int16_t SaveBitmapFile(const char* name, BITMAPINFO* info, HBITMAP bitmap, HDC dc, PageResolution resolution);
// The size of the pieces the pixel rows are written in.
constexpr DWORD kBmpWritePiece = 4096;
// Test hook: every WriteFile of the BMP writer, with its byte count (null: none).
void SetBmpWriteObserver(void (*observer)(DWORD bytes));
