// ApplicationServices: the Accessibility API (HIServices AXUIElement.h,
// AXValue.h, AXError.h, AXAttributeConstants.h), and what the umbrella brings
// into the global namespace through CoreServices (MacTypes.h, AssertMacros.h).
#pragma once

#include <AssertMacros.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <MacTypes.h>

#pragma clang assume_nonnull begin

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __AXUIElement* AXUIElementRef;
typedef const struct __AXValue* AXValueRef;

enum AXError : int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorIllegalArgument = -25201,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorCannotComplete = -25204,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorNoValue = -25212,
  kAXErrorAPIDisabled = -25211,
};
typedef enum AXError AXError;

enum AXValueType : uint32_t {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4,
  kAXValueTypeAXError = 5,
  kAXValueTypeIllegal = 0,
};
typedef enum AXValueType AXValueType;

Boolean AXIsProcessTrusted(void);

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef _Nullable* _Nonnull value);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value);

CFTypeID AXValueGetTypeID(void);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

#define kAXFocusedWindowAttribute CFSTR("AXFocusedWindow")
#define kAXFrontmostAttribute CFSTR("AXFrontmost")
#define kAXPositionAttribute CFSTR("AXPosition")
#define kAXSizeAttribute CFSTR("AXSize")

#ifdef __cplusplus
}
#endif

#pragma clang assume_nonnull end
