// Foundation: the classes, types and functions that the platform layer uses.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#pragma clang assume_nonnull begin

// objc/objc.h, which Foundation includes.
typedef bool BOOL;
#define YES __objc_yes
#define NO __objc_no
#define nil nullptr

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

@class NSData;

typedef NSUInteger NSStringEncoding;
enum : NSUInteger {
  NSUTF8StringEncoding = 4,
};

@interface NSString : NSObject
@property(readonly) NSUInteger length;
- (nullable NSData*)dataUsingEncoding:(NSStringEncoding)encoding allowLossyConversion:(BOOL)lossy;
@end

@interface NSData : NSObject
@property(readonly) const void* bytes;
@property(readonly) NSUInteger length;
+ (instancetype)dataWithBytes:(nullable const void*)bytes length:(NSUInteger)length;
@end

@interface NSError : NSObject
@property(readonly, copy) NSString* localizedDescription;
@end

@interface NSArray<__covariant ObjectType> : NSObject
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end

@interface NSDictionary<__covariant KeyType, __covariant ObjectType> : NSObject
+ (instancetype)dictionary;
- (nullable ObjectType)objectForKey:(KeyType)aKey;
@end

@interface NSDate : NSObject
+ (instancetype)dateWithTimeIntervalSinceNow:(NSTimeInterval)secs;
@property(readonly) NSTimeInterval timeIntervalSinceNow;
@end

typedef NSString* NSRunLoopMode;
extern NSRunLoopMode const NSDefaultRunLoopMode;

@interface NSRunLoop : NSObject
@property(class, readonly, strong) NSRunLoop* currentRunLoop;
- (BOOL)runMode:(NSRunLoopMode)mode beforeDate:(NSDate*)limitDate;
@end

@interface NSThread : NSObject
+ (void)sleepUntilDate:(NSDate*)date;
@end

@interface NSFileHandle : NSObject
@property(class, readonly, strong) NSFileHandle* fileHandleWithStandardInput;
@property(class, readonly, strong) NSFileHandle* fileHandleWithStandardOutput;
- (nullable NSData*)readDataUpToLength:(NSUInteger)length error:(out NSError**)error API_AVAILABLE(macos(10.15));
- (BOOL)writeData:(NSData*)data error:(out NSError**)error API_AVAILABLE(macos(10.15));
@end

// NSObject.h: hands a +1 Core Foundation reference over to ARC.
static inline id _Nullable CFBridgingRelease(CFTypeRef _Nullable __attribute__((cf_consumed)) X) {
  return (__bridge_transfer id)X;
}

#pragma clang assume_nonnull end
