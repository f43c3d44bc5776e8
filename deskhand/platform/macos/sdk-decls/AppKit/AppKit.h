// AppKit: the shared application, running applications, the workspace and
// bitmap image representations.
#pragma once

#include <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

#pragma clang assume_nonnull begin

@interface NSResponder : NSObject
@end

@interface NSApplication : NSResponder
@property(class, readonly, strong) __kindof NSApplication* sharedApplication;
@end

typedef NSUInteger NSApplicationActivationOptions;
enum : NSUInteger {
  NSApplicationActivateAllWindows = 1 << 0,
  NSApplicationActivateIgnoringOtherApps = 1 << 1,
};

@interface NSRunningApplication : NSObject
@property(class, readonly, strong) NSRunningApplication* currentApplication;
@property(readonly) pid_t processIdentifier;
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;
- (BOOL)activateFromApplication:(NSRunningApplication*)application
                        options:(NSApplicationActivationOptions)options API_AVAILABLE(macos(14.0));
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(readonly, nullable, strong) NSRunningApplication* frontmostApplication;
@end

@interface NSImageRep : NSObject
@end

enum NSBitmapImageFileType : NSUInteger {
  NSBitmapImageFileTypeTIFF = 0,
  NSBitmapImageFileTypeBMP = 1,
  NSBitmapImageFileTypeGIF = 2,
  NSBitmapImageFileTypeJPEG = 3,
  NSBitmapImageFileTypePNG = 4,
  NSBitmapImageFileTypeJPEG2000 = 5,
};
typedef enum NSBitmapImageFileType NSBitmapImageFileType;

typedef NSString* NSBitmapImageRepPropertyKey;

@interface NSBitmapImageRep : NSImageRep
- (instancetype)initWithCGImage:(CGImageRef)cgImage;
- (nullable NSData*)representationUsingType:(NSBitmapImageFileType)storageType
                                 properties:(NSDictionary<NSBitmapImageRepPropertyKey, id>*)properties;
@end

#pragma clang assume_nonnull end
