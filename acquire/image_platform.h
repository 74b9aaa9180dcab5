// The image conversions and file writers of each build, as the shared delivery code calls
// them. Handles cross as void*: a Mac picture Handle, a Windows HGLOBAL DIB or HBITMAP.
#pragma once
#include <cstdint>

// ---- Mac (platform/macos/pict_writer.cpp)
// name: length-prefixed. 0, 7 (the file exists), 8, or FSClose's error.
int16_t WritePICTfile(const uint8_t* pascalName, void* picture);

// ---- Windows (platform/windows/device_bitmap.cpp, bmp_writer.cpp)
// A device bitmap for the host window's display made from a packed DIB, or null.
void* DIBToDeviceBitmap(void* dib);
void DeleteDeviceBitmap(void* bitmap);
// name: NUL-terminated. 0, 2 (no memory, or no bitmap to describe) or 8.
int16_t WriteBMPfile(const char* name, void* bitmap);
