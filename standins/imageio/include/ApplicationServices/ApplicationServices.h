// The subset of ApplicationServices that a Carbon program uses to export a picture as an
// image file: CoreGraphics (colour spaces, data providers, bitmap contexts, images),
// QuickDraw's bridge to it (QDPict: a picture drawn into a CGContext) and ImageIO (image
// destinations and sources). Names, types, constants and signatures are the frameworks' own.
//
// What the real frameworks refuse, this refuses the same way: a bitmap context of a layout
// CoreGraphics does not support (1-bit grey, RGB without an alpha or skip byte, rows too
// short, ...) is NULL; a destination of an unknown type, or of more images than a file of its
// type holds (one, but for TIFF), is NULL; an image added beyond the count given at creation
// is ignored; CGImageDestinationFinalize is false when fewer images were added than announced,
// when a TIFF compression is asked that ImageIO does not write, or when the file cannot be
// written (a partial file may remain). Files are written with Debian's libpng, libjpeg-turbo
// and libtiff, BMP by the stand-in itself.
#pragma once
#include <CoreFoundation/CoreFoundation.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef SInt32 OSStatus;
typedef float CGFloat;  // 32-bit process
typedef struct {
  CGFloat x, y;
} CGPoint;
typedef struct {
  CGFloat width, height;
} CGSize;
typedef struct {
  CGPoint origin;
  CGSize size;
} CGRect;
CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height);

typedef struct CGColorSpace* CGColorSpaceRef;
typedef struct CGDataProvider* CGDataProviderRef;
typedef struct CGContext* CGContextRef;
typedef struct CGImage* CGImageRef;
typedef struct QDPict* QDPictRef;
typedef struct CGImageDestination* CGImageDestinationRef;
typedef struct CGImageSource* CGImageSourceRef;

// ---- colour spaces
CGColorSpaceRef CGColorSpaceCreateDeviceGray(void);
CGColorSpaceRef CGColorSpaceCreateDeviceRGB(void);
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);  // NULL is fine
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space);

// ---- data providers
typedef void (*CGDataProviderReleaseDataCallback)(void* info, const void* data, size_t size);
// The data is not copied: it must stay until the release callback (if any) is called.
CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData);
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider);
void CGDataProviderRelease(CGDataProviderRef provider);  // NULL is fine

// ---- bitmap contexts and images
typedef uint32_t CGBitmapInfo;
enum {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,
  kCGImageAlphaPremultipliedFirst = 2,
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
  kCGImageAlphaNoneSkipFirst = 6,
  kCGImageAlphaOnly = 7
};
enum { kCGBitmapAlphaInfoMask = 0x1F, kCGBitmapByteOrderDefault = 0 };
typedef int32_t CGColorRenderingIntent;
enum { kCGRenderingIntentDefault = 0 };
// Supported as on Mac OS X 10.4: grey 8 bits a component, no alpha (8 bits a pixel); RGB 8
// bits a component with kCGImageAlphaNoneSkipLast/First or PremultipliedLast/First (32 bits
// a pixel). data NULL: the context allocates (and clears) its own memory.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
void CGContextRelease(CGContextRef context);  // NULL is fine
void CGContextSetGrayFillColor(CGContextRef context, CGFloat gray, CGFloat alpha);
void CGContextSetRGBFillColor(CGContextRef context, CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
void CGContextFillRect(CGContextRef context, CGRect rect);
// An image of the context's pixels as they are now (a copy).
CGImageRef CGBitmapContextCreateImage(CGContextRef context);
// Draws the image scaled into rect (origin at the bottom left, as CoreGraphics counts), each
// pixel of the context the image's nearest; grey from colour by luminance (0.299 R + 0.587 G
// + 0.114 B), colour from grey by repeating it.
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);
// bitsPerComponent 1 or 8 with a grey space and no alpha; 8 with RGB (24 bits, or 32 with
// an alpha or skip byte). decode and shouldInterpolate are taken and not used.
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, Boolean shouldInterpolate,
                         CGColorRenderingIntent intent);
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);  // NULL is fine
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerComponent(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);

// ---- QuickDraw pictures in CoreGraphics
// PICT data with or without the 512-byte file header. NULL for data that is no picture.
QDPictRef QDPictCreateWithProvider(CGDataProviderRef provider);
QDPictRef QDPictRetain(QDPictRef pict);
void QDPictRelease(QDPictRef pict);  // not NULL
// The picture's frame at 72 dpi (its pixels x 72 / resolution), and the resolution of its
// header (72 for a picture that gives none).
CGRect QDPictGetBounds(QDPictRef pict);
void QDPictGetResolution(QDPictRef pict, CGFloat* xRes, CGFloat* yRes);
// Draws the picture scaled into rect (origin at the bottom left, as CoreGraphics counts).
// This stand-in draws version 2 pictures of DirectBitsRect / DirectBitsRgn opcodes
// (packType 1, 2, 4) and skips the opcodes around them; any other drawing opcode is
// unimpErr (-4).
OSStatus QDPictDrawToCGContext(CGContextRef ctx, CGRect rect, QDPictRef pict);

// ---- ImageIO
// The properties' values are CFNumbers (CGImageProperties.h); a value of another type (a
// CFBoolean, say) is not read, as if the property were absent. Without a resolution: 72 dpi.
extern const CFStringRef kCGImagePropertyDPIWidth;
extern const CFStringRef kCGImagePropertyDPIHeight;
extern const CFStringRef kCGImagePropertyTIFFDictionary;
// Written: 1 none, 5 LZW, 32773 PackBits, and 4 CCITT Group 4 on 1-bit images; any other
// value (or 4 on a deeper image) makes CGImageDestinationFinalize false. Without it: none,
// or an image from a source keeps its own.
extern const CFStringRef kCGImagePropertyTIFFCompression;
extern const CFStringRef kCGImageDestinationLossyCompressionQuality;  // 0.0 ... 1.0
// Type identifiers (LaunchServices' UTCoreTypes.h, Mac OS X 10.4) of the destinations this
// stand-in writes: "public.png", "public.jpeg", "public.tiff", "com.microsoft.bmp".
extern const CFStringRef kUTTypePNG;
extern const CFStringRef kUTTypeJPEG;
extern const CFStringRef kUTTypeTIFF;
extern const CFStringRef kUTTypeBMP;
CFTypeID CGImageDestinationGetTypeID(void);
CGImageDestinationRef CGImageDestinationCreateWithURL(CFURLRef url, CFStringRef type, size_t count,
                                                      CFDictionaryRef options);
CGImageDestinationRef CGImageDestinationCreateWithData(CFMutableDataRef data, CFStringRef type, size_t count,
                                                       CFDictionaryRef options);
void CGImageDestinationSetProperties(CGImageDestinationRef idst, CFDictionaryRef properties);
void CGImageDestinationAddImage(CGImageDestinationRef idst, CGImageRef image, CFDictionaryRef properties);
void CGImageDestinationAddImageFromSource(CGImageDestinationRef idst, CGImageSourceRef isrc, size_t index,
                                          CFDictionaryRef properties);
Boolean CGImageDestinationFinalize(CGImageDestinationRef idst);
CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef options);
// A source of the bytes of a file in memory. This stand-in reads a JPEG stream there (one
// image: grey, or RGB 24 bits; its JFIF density in dots per inch as its resolution, 72
// without one); other bytes make a source of no image, as a stream ImageIO cannot read does.
CGImageSourceRef CGImageSourceCreateWithData(CFDataRef data, CFDictionaryRef options);
size_t CGImageSourceGetCount(CGImageSourceRef isrc);
CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index, CFDictionaryRef options);
CFDictionaryRef CGImageSourceCopyPropertiesAtIndex(CGImageSourceRef isrc, size_t index,
                                                   CFDictionaryRef options);

#ifdef __cplusplus
}
#endif
