// The image conversions and file writers of each build, as the shared delivery code calls
// them. Handles cross as void*: a Mac picture Handle, a Windows HGLOBAL DIB or HBITMAP.
#pragma once
#include <cstdint>

// ---- Mac (platform/macos/pict_writer.cpp)
// name: length-prefixed. 0, 7 (the file exists) or 8 (nothing left behind).
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
// The page's resolution in pixels per metre, as a DIB's header carries it; 0 when the image
// gives none.
struct PageResolution {
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
};
// What the source's image says of its resolution: the header of a DIB that passes its check;
// nothing for a device bitmap, a 12-byte header or a DIB that fails its check.
PageResolution DibResolution(void* image);
// name: NUL-terminated. 0, 2 (no memory, or no bitmap to describe) or 8 (nothing left
// behind). The header carries `resolution`.
int16_t WriteBMPfile(const char* name, void* bitmap, PageResolution resolution = {});
