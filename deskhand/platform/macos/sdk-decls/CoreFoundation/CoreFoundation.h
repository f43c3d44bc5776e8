// Core Foundation: the types and functions that the platform layer uses.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <os/availability.h>

#pragma clang assume_nonnull begin

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Boolean;
typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef uint16_t UniChar;
typedef unsigned long UniCharCount;

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef const struct __CFBoolean* CFBooleanRef;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);

extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

#ifdef __cplusplus
}
#endif

#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))

#pragma clang assume_nonnull end
