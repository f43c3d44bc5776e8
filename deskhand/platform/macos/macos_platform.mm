// The macOS platform layer: each operation is a few calls into Foundation,
// AppKit, ScreenCaptureKit, CoreGraphics or the Accessibility API. Platform
// calls that report through a completion handler are awaited while the main
// run loop keeps running, and so are the sleeps between focus polls, so that
// AppKit can deliver its notifications (the frontmost application among them).
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/platform.hpp"

namespace deskhand {
namespace {

// Takes over a +1 Core Foundation reference (or a bridged Objective-C object);
// the last copy of the handle releases it.
NativeHandle owned(CFTypeRef object) {
  return NativeHandle(const_cast<void*>(object), [](void* p) { CFRelease(p); });
}

std::string utf8(NSString* _Nullable text) {
  if (text == nil) return std::string();
  NSData* data = [text dataUsingEncoding:NSUTF8StringEncoding allowLossyConversion:YES];
  if (data == nil || data.length == 0) return std::string();
  return std::string(static_cast<const char*>(data.bytes), data.length);
}

std::string bytes_of(NSData* data) {
  if (data.length == 0) return std::string();
  return std::string(static_cast<const char*>(data.bytes), data.length);
}

PlatformError platform_error(NSError* _Nullable error, const char* what) {
  return PlatformError{error != nil ? utf8(error.localizedDescription) : std::string(what)};
}

// Runs the main run loop until `limit`, or sleeps when it has nothing to run.
void run_main_loop_until(NSDate* limit) {
  if (![[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:limit]) {
    [NSThread sleepUntilDate:limit];
  }
}

// What a completion handler delivered.
template <typename Value>
struct Awaited {
  Value value;
  NSError* error;
};

template <typename Value>
struct AwaitState {
  Value value = nil;
  NSError* error = nil;
  std::atomic<bool> finished{false};
};

// Starts an operation that reports once through the handler it is given, and
// waits for that report. The value is only to be had through the return, so
// an operation cannot be used without being awaited.
template <typename Value>
Awaited<Value> await_completion(void (^start)(void (^handler)(Value _Nullable,
                                                              NSError* _Nullable))) {
  auto state = std::make_shared<AwaitState<Value>>();
  start(^(Value _Nullable value, NSError* _Nullable error) {
    if (state->finished.load(std::memory_order_acquire)) return;
    state->value = value;
    state->error = error;
    state->finished.store(true, std::memory_order_release);
  });
  while (!state->finished.load(std::memory_order_acquire)) {
    run_main_loop_until([NSDate dateWithTimeIntervalSinceNow:0.01]);
  }
  return Awaited<Value>{state->value, state->error};
}

Window window_from(SCWindow* window) {
  Window out;
  out.window_id = window.windowID;
  out.layer = window.windowLayer;
  const CGRect frame = window.frame;
  out.frame = Rect{CGRectGetMinX(frame), CGRectGetMinY(frame), CGRectGetWidth(frame),
                   CGRectGetHeight(frame)};
  if (window.title != nil) out.title = utf8(window.title);
  if (SCRunningApplication* application = window.owningApplication) {
    out.owner = OwningApplication{application.processID, utf8(application.applicationName),
                                  utf8(application.bundleIdentifier)};
  }
  out.native = owned((__bridge_retained CFTypeRef)window);
  return out;
}

std::optional<AxObject> copy_attribute(const AxObject& element, CFStringRef attribute) {
  if (!element.native) return std::nullopt;
  CFTypeRef value = NULL;
  const AXError error = AXUIElementCopyAttributeValue(
      static_cast<AXUIElementRef>(element.native.get()), attribute, &value);
  if (value == NULL) return std::nullopt;
  NativeHandle handle = owned(value);
  if (error != kAXErrorSuccess) return std::nullopt;
  return AxObject{handle};
}

AXValueRef _Nullable ax_value(const AxObject& value) {
  const void* object = value.native.get();
  if (object == NULL || CFGetTypeID(object) != AXValueGetTypeID()) return NULL;
  return static_cast<AXValueRef>(object);
}

class MacPlatform final : public Platform {
 public:
  Result<Done> touch_shared_application() override {
    @autoreleasepool {
      (void)[NSApplication sharedApplication];
      return Done{};
    }
  }

  Result<std::string> read_standard_input() override {
    @autoreleasepool {
      NSError* error = nil;
      NSData* data =
          [[NSFileHandle fileHandleWithStandardInput] readDataToEndOfFileAndReturnError:&error];
      if (data == nil) return platform_error(error, "cannot read standard input");
      return bytes_of(data);
    }
  }

  bool write_standard_output(std::string_view bytes) override {
    @autoreleasepool {
      NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
      NSError* error = nil;
      return [[NSFileHandle fileHandleWithStandardOutput] writeData:data error:&error];
    }
  }

  std::optional<nlohmann::json> copy_session_dictionary() override {
    @autoreleasepool {
      CFDictionaryRef raw = CGSessionCopyCurrentDictionary();
      if (raw == NULL) return std::nullopt;
      NSDictionary* session = CFBridgingRelease(raw);
      nlohmann::json out = nlohmann::json::object();
      id locked = [session objectForKey:@"CGSSessionScreenIsLocked"];
      if (locked == (__bridge id)kCFBooleanTrue) {
        out["CGSSessionScreenIsLocked"] = true;
      } else if (locked == (__bridge id)kCFBooleanFalse) {
        out["CGSSessionScreenIsLocked"] = false;
      } else if (locked != nil) {
        out["CGSSessionScreenIsLocked"] = nullptr;  // present, but not a boolean
      }
      return out;
    }
  }

  bool preflight_screen_capture_access() override { return CGPreflightScreenCaptureAccess(); }

  bool is_process_trusted() override { return AXIsProcessTrusted(); }

  Result<std::vector<Window>> get_shareable_content() override {
    @autoreleasepool {
      auto listed = await_completion<SCShareableContent*>(
          ^(void (^handler)(SCShareableContent* _Nullable, NSError* _Nullable)) {
            [SCShareableContent getShareableContentExcludingDesktopWindows:YES
                                                       onScreenWindowsOnly:YES
                                                         completionHandler:handler];
          });
      if (listed.error != nil || listed.value == nil) {
        return platform_error(listed.error, "no shareable content");
      }
      NSArray<SCWindow*>* windows = listed.value.windows;
      std::vector<Window> out;
      for (NSUInteger i = 0; i < windows.count; ++i)
        out.push_back(window_from([windows objectAtIndex:i]));
      return out;
    }
  }

  Result<CapturedImage> capture_image(const Window& window,
                                      const CaptureConfiguration& configuration) override {
    @autoreleasepool {
      SCWindow* target = (__bridge SCWindow*)window.native.get();
      if (target == nil) return PlatformError{"the window has no platform object"};
      SCContentFilter* filter = [[SCContentFilter alloc] initWithDesktopIndependentWindow:target];
      SCStreamConfiguration* stream = [[SCStreamConfiguration alloc] init];
      stream.width = configuration.width;
      stream.height = configuration.height;
      stream.showsCursor = configuration.shows_cursor;
      stream.ignoreShadowsSingleWindow = configuration.ignore_shadows_single_window;
      // The image is kept as an object so that ARC holds it past the handler.
      auto captured = await_completion<id>(^(void (^handler)(id _Nullable, NSError* _Nullable)) {
        [SCScreenshotManager
            captureImageWithFilter:filter
                     configuration:stream
                 completionHandler:^(CGImageRef _Nullable image, NSError* _Nullable error) {
                   handler((__bridge id)image, error);
                 }];
      });
      if (captured.error != nil || captured.value == nil) {
        return platform_error(captured.error, "no image captured");
      }
      CGImageRef image = (__bridge CGImageRef)captured.value;
      CapturedImage out;
      out.pixel_width = CGImageGetWidth(image);
      out.pixel_height = CGImageGetHeight(image);
      NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithCGImage:image];
      NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG
                                         properties:[NSDictionary dictionary]];
      if (png != nil) out.png = bytes_of(png);
      return out;
    }
  }

  bool activate_running_application(std::int32_t pid) override {
    @autoreleasepool {
      NSRunningApplication* application =
          [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
      if (application == nil) return false;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
      [application activateWithOptions:0];
#pragma clang diagnostic pop
      return true;
    }
  }

  std::optional<std::int32_t> frontmost_application_pid() override {
    @autoreleasepool {
      NSRunningApplication* front = [NSWorkspace sharedWorkspace].frontmostApplication;
      if (front == nil) return std::nullopt;
      return static_cast<std::int32_t>(front.processIdentifier);
    }
  }

  void sleep_nanoseconds(std::uint64_t nanoseconds) override {
    @autoreleasepool {
      NSDate* until = [NSDate dateWithTimeIntervalSinceNow:static_cast<double>(nanoseconds) / 1e9];
      while (until.timeIntervalSinceNow > 0) run_main_loop_until(until);
    }
  }

  std::optional<AxObject> copy_focused_window(std::int32_t pid) override {
    AXUIElementRef application = AXUIElementCreateApplication(pid);
    if (application == NULL) return std::nullopt;
    const AxObject element{owned(application)};
    auto focused = copy_attribute(element, kAXFocusedWindowAttribute);
    if (!focused || CFGetTypeID(focused->native.get()) != AXUIElementGetTypeID())
      return std::nullopt;
    return focused;
  }

  std::optional<AxObject> copy_position(const AxObject& window) override {
    return copy_attribute(window, kAXPositionAttribute);
  }

  std::optional<AxObject> copy_size(const AxObject& window) override {
    return copy_attribute(window, kAXSizeAttribute);
  }

  std::optional<Point> value_get_point(const AxObject& value) override {
    AXValueRef ax = ax_value(value);
    CGPoint point = {0, 0};
    if (ax == NULL || !AXValueGetValue(ax, kAXValueTypeCGPoint, &point)) return std::nullopt;
    return Point{point.x, point.y};
  }

  std::optional<Size> value_get_size(const AxObject& value) override {
    AXValueRef ax = ax_value(value);
    CGSize size = {0, 0};
    if (ax == NULL || !AXValueGetValue(ax, kAXValueTypeCGSize, &size)) return std::nullopt;
    return Size{size.width, size.height};
  }

  std::optional<InputEvent> create_mouse_event(EventType type, Point point) override {
    if (type != EventType::left_mouse_down && type != EventType::left_mouse_up) return std::nullopt;
    const CGEventType mouse_type =
        type == EventType::left_mouse_down ? kCGEventLeftMouseDown : kCGEventLeftMouseUp;
    CGEventRef event =
        CGEventCreateMouseEvent(NULL, mouse_type, CGPoint{point.x, point.y}, kCGMouseButtonLeft);
    if (event == NULL) return std::nullopt;
    InputEvent out;
    out.type = type;
    out.point = point;
    out.native = owned(event);
    return out;
  }

  std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key,
                                                  bool key_down) override {
    CGEventRef event = CGEventCreateKeyboardEvent(NULL, virtual_key, key_down);
    if (event == NULL) return std::nullopt;
    InputEvent out;
    out.type = key_down ? EventType::key_down : EventType::key_up;
    out.key_code = virtual_key;
    out.native = owned(event);
    return out;
  }

  void keyboard_set_unicode_string(InputEvent& event, const std::u16string& text) override {
    if (!event.native) return;
    CGEventKeyboardSetUnicodeString(static_cast<CGEventRef>(event.native.get()), text.size(),
                                    reinterpret_cast<const UniChar*>(text.data()));
    event.text = text;
  }

  void post_to_pid(std::int32_t pid, const InputEvent& event) override {
    if (!event.native) return;
    CGEventPostToPid(pid, static_cast<CGEventRef>(event.native.get()));
  }
};

}  // namespace

std::unique_ptr<Platform> make_platform() { return std::make_unique<MacPlatform>(); }

}  // namespace deskhand
