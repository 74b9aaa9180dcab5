// The subset of CoreFoundation that the image export stand-in and its callers use: the base
// type with its reference count, strings, numbers, dictionaries, data and file URLs. Names, types
// and signatures are CoreFoundation's own. Every object is counted while it lives
// (ImageIOStandin_LiveObjects), so tests can prove that each Create has its CFRelease.
#pragma once
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef signed int SInt32;
typedef unsigned int UInt32;
typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef const void* CFTypeRef;
typedef const void* CFAllocatorRef;
#ifndef kCFAllocatorDefault
#define kCFAllocatorDefault ((CFAllocatorRef)0)
#endif
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef const struct __CFURL* CFURLRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFData* CFDataRef;
typedef struct __CFData* CFMutableDataRef;

CFTypeRef CFRetain(CFTypeRef cf);
// Releasing NULL crashes on a Mac; here it aborts.
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFStringGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);
CFTypeID CFDictionaryGetTypeID(void);
CFTypeID CFURLGetTypeID(void);
CFTypeID CFDataGetTypeID(void);
Boolean CFEqual(CFTypeRef a, CFTypeRef b);

// ---- strings
typedef UInt32 CFStringEncoding;
enum { kCFStringEncodingMacRoman = 0, kCFStringEncodingASCII = 0x0600, kCFStringEncodingUTF8 = 0x08000100 };
typedef unsigned short UInt16;
typedef UInt16 UniChar;
typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;
static inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
  CFRange r = {location, length};
  return r;
}
// A string holds characters: one made from Mac Roman bytes holds each byte's character, one
// made from UTF-8 (or ASCII) the characters the bytes encode (NULL for bytes that are no
// UTF-8). CFStringGetCString gives them in the encoding asked for: false when one of them has
// no place in it, or the buffer cannot hold them and the NUL.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
// UTF-16 units.
CFIndex CFStringGetLength(CFStringRef s);
// The units of `range` (which must lie inside the string: else the process halts).
void CFStringGetCharacters(CFStringRef s, CFRange range, UniChar* buffer);
// The most bytes `length` units take in the encoding.
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
// CFSTR("...") gives a constant string that lives for the whole process.
CFStringRef __CFStringMakeConstantString(const char* cStr);
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")

// ---- data: a copy of the bytes. NULL for a negative length, or NULL bytes with a length.
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);

// ---- numbers
typedef CFIndex CFNumberType;
enum {
  kCFNumberSInt32Type = 3,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberIntType = 9,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13
};
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType theType, const void* valuePtr);
// Converts to theType; false when the value does not fit exactly (it is still stored).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

// ---- dictionaries, as CFDictionary.h declares them. The callbacks decide: NULL callbacks
// (or a NULL field) keep keys and values unretained and compare them by pointer; the CFType
// callbacks retain them, compare them with CFEqual and hash them. A dictionary made by
// CFDictionaryCreate is immutable: CFDictionarySetValue on it halts, as CF does, and so do
// the calls below when given NULL or an object that is no dictionary.
typedef unsigned long CFHashCode;
typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
  CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef alloc, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
// An existing key keeps its key object and takes the new value (retained before the old
// one is released).
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);
CFIndex CFDictionaryGetCount(CFDictionaryRef dict);

// ---- data (bytes; a mutable data object grows up to its capacity, 0: without a limit)
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8* CFDataGetBytePtr(CFDataRef theData);
void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length);

// ---- URLs (file URLs only)
typedef CFIndex CFURLPathStyle;
enum { kCFURLPOSIXPathStyle = 0, kCFURLHFSPathStyle = 1 };
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory);
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);
// From the File Manager's reference to an existing file (implemented with the File Manager).
struct FSRef;
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const struct FSRef* fsRef);

#ifdef __cplusplus
}
#endif
