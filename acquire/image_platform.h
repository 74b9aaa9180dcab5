// The image conversions and file writers of each build, as the shared delivery code calls
// them. Handles cross as void*: a Mac picture Handle, a Windows HGLOBAL DIB or HBITMAP.
#pragma once
#include <cstdint>

// ---- Mac (platform/macos/pict_writer.cpp)
// name: length-prefixed. 0, 7 (the file exists), 8, or FSClose's error.
int16_t WritePICTfile(const uint8_t* pascalName, void* picture);

// ---- Windows (platform/windows/device_bitmap.cpp, bmp_writer.cpp)
// A device bitmap for the host window's display made from a packed DIB (not freed), or null
// for a DIB that fails its check or cannot be converted.
void* DIBToDeviceBitmap(void* dib);
// The native image as a device bitmap: a DIB is converted and freed; a device bitmap that the
// source handed over instead is taken as it is. Null when there is nothing usable.
void* TakeDeviceBitmap(void* image);
void DeleteDeviceBitmap(void* bitmap);
// Releases an image as the source handed it over: a device bitmap with DeleteObject, a DIB
// with GlobalFree.
void ReleaseSourceImage(void* image);
// name: NUL-terminated. 0, 2 (no memory, or no bitmap to describe) or 8.
int16_t WriteBMPfile(const char* name, void* bitmap);
