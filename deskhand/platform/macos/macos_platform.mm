// The macOS platform layer: each operation is a few calls into Foundation,
// AppKit, ScreenCaptureKit, CoreGraphics or the Accessibility API. Platform
// calls that report through a completion handler deliver into a Completion
// from whatever queue the handler runs on; the helper awaits it with a
// deadline. The sleeps (between focus polls and while awaiting) keep the main
// run loop running, so that AppKit can deliver its notifications (the
// frontmost application among them).
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>
#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <csignal>
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

Window window_from(SCWindow* window) {
  Window out;
  out.window_id = window.windowID;
  out.layer = window.windowLayer;
  const CGRect frame = window.frame;
  out.frame = Rect{CGRectGetMinX(frame), CGRectGetMinY(frame), CGRectGetWidth(frame), CGRectGetHeight(frame)};
  if (window.title != nil) out.title = utf8(window.title);
  if (SCRunningApplication* application = window.owningApplication) {
    out.owner =
        OwningApplication{application.processID, utf8(application.applicationName), utf8(application.bundleIdentifier)};
  }
  out.native = owned((__bridge_retained CFTypeRef)window);
  return out;
}

// What a listing's completion handler delivers: every window, or the error.
Result<std::vector<Window>> windows_of(SCShareableContent* _Nullable content, NSError* _Nullable error) {
  @autoreleasepool {
    if (error != nil || content == nil) return platform_error(error, "no shareable content");
    NSArray<SCWindow*>* windows = content.windows;
    std::vector<Window> out;
    for (NSUInteger i = 0; i < windows.count; ++i) out.push_back(window_from([windows objectAtIndex:i]));
    return out;
  }
}

CGEventField event_field(EventField field) {
  switch (field) {
    case EventField::mouse_click_state:
      return kCGMouseEventClickState;
    case EventField::window_under_mouse_pointer:
      return kCGMouseEventWindowUnderMousePointer;
    case EventField::window_under_mouse_pointer_that_can_handle_this_event:
      return kCGMouseEventWindowUnderMousePointerThatCanHandleThisEvent;
  }
  return kCGMouseEventClickState;
}

std::optional<AxObject> copy_attribute(const AxObject& element, CFStringRef attribute) {
  if (!element.native) return std::nullopt;
  CFTypeRef value = NULL;
  const AXError error =
      AXUIElementCopyAttributeValue(static_cast<AXUIElementRef>(element.native.get()), attribute, &value);
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
  void ignore_sigpipe() override { std::signal(SIGPIPE, SIG_IGN); }

  Result<Done> touch_shared_application() override {
    @autoreleasepool {
      (void)[NSApplication sharedApplication];
      return Done{};
    }
  }

  Result<std::string> read_standard_input(std::size_t limit) override {
    @autoreleasepool {
      NSFileHandle* input = [NSFileHandle fileHandleWithStandardInput];
      std::string out;
      while (out.size() < limit) {
        NSError* error = nil;
        NSData* data = [input readDataUpToLength:limit - out.size() error:&error];
        if (data == nil) return platform_error(error, "cannot read standard input");
        if (data.length == 0) break;  // the end of the input
        out += bytes_of(data);
      }
      return out;
    }
  }

  bool write_standard_output(std::string_view bytes) override {
    @autoreleasepool {
      NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
      NSError* error = nil;
      return [[NSFileHandle fileHandleWithStandardOutput] writeData:data error:&error];
    }
  }

  std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }

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

  CompletionPtr<std::vector<Window>> start_shareable_content() override {
    @autoreleasepool {
      auto completion = std::make_shared<Completion<std::vector<Window>>>();
      [SCShareableContent getShareableContentExcludingDesktopWindows:YES
                                                 onScreenWindowsOnly:YES
                                                   completionHandler:^(SCShareableContent* _Nullable content,
                                                                       NSError* _Nullable error) {
                                                     completion->deliver(windows_of(content, error));
                                                   }];
      return completion;
    }
  }

  CompletionPtr<NativeHandle> start_capture_image(const Window& window,
                                                  const CaptureConfiguration& configuration) override {
    @autoreleasepool {
      SCWindow* target = (__bridge SCWindow*)window.native.get();
      if (target == nil) {
        return completed<NativeHandle>(PlatformError{"the window has no platform object"});
      }
      if (@available(macOS 14.0, *)) {
        SCContentFilter* filter = [[SCContentFilter alloc] initWithDesktopIndependentWindow:target];
        SCStreamConfiguration* stream = [[SCStreamConfiguration alloc] init];
        stream.width = configuration.width;
        stream.height = configuration.height;
        stream.showsCursor = configuration.shows_cursor;
        stream.ignoreShadowsSingleWindow = configuration.ignore_shadows_single_window;
        stream.ignoreGlobalClipSingleWindow = configuration.ignore_global_clip_single_window;
        auto completion = std::make_shared<Completion<NativeHandle>>();
        [SCScreenshotManager captureImageWithFilter:filter
                                      configuration:stream
                                  completionHandler:^(CGImageRef _Nullable image, NSError* _Nullable error) {
                                    if (error != nil || image == NULL) {
                                      completion->deliver(platform_error(error, "no image captured"));
                                    } else {
                                      completion->deliver(owned(CFRetain(image)));
                                    }
                                  }];
        return completion;
      }
      return completed<NativeHandle>(PlatformError{"window capture needs macOS 14"});
    }
  }

  CapturedImage encode_png(const NativeHandle& native) override {
    @autoreleasepool {
      CapturedImage out;
      CGImageRef image = static_cast<CGImageRef>(native.get());
      if (image == NULL) return out;
      out.pixel_width = CGImageGetWidth(image);
      out.pixel_height = CGImageGetHeight(image);
      NSBitmapImageRep* bitmap = [[NSBitmapImageRep alloc] initWithCGImage:image];
      NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:[NSDictionary dictionary]];
      if (png != nil) out.png = bytes_of(png);
      return out;
    }
  }

  ActivationAnswer activate_running_application(std::int32_t pid) override {
    @autoreleasepool {
      NSRunningApplication* application = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
      if (application == nil) return ActivationAnswer::no_application;
      BOOL allowed = NO;
      if (@available(macOS 14.0, *)) {
        // Activation is cooperative: the frontmost application is the one
        // that would yield. The helper itself stands in when there is none.
        NSRunningApplication* source = [NSWorkspace sharedWorkspace].frontmostApplication;
        if (source == nil) source = [NSRunningApplication currentApplication];
        allowed = [application activateFromApplication:source options:0];
      } else {
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
        allowed = [application activateWithOptions:0];
#pragma clang diagnostic pop
      }
      return allowed ? ActivationAnswer::accepted : ActivationAnswer::refused;
    }
  }

  bool set_frontmost_through_accessibility(std::int32_t pid) override {
    AXUIElementRef application = AXUIElementCreateApplication(pid);
    if (application == NULL) return false;
    const NativeHandle element = owned(application);
    return AXUIElementSetAttributeValue(application, kAXFrontmostAttribute, kCFBooleanTrue) == kAXErrorSuccess;
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
    if (!focused || CFGetTypeID(focused->native.get()) != AXUIElementGetTypeID()) return std::nullopt;
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
    const CGEventType mouse_type = type == EventType::left_mouse_down ? kCGEventLeftMouseDown : kCGEventLeftMouseUp;
    CGEventRef event = CGEventCreateMouseEvent(NULL, mouse_type, CGPoint{point.x, point.y}, kCGMouseButtonLeft);
    if (event == NULL) return std::nullopt;
    InputEvent out;
    out.type = type;
    out.point = point;
    out.native = owned(event);
    return out;
  }

  std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key, bool key_down) override {
    CGEventRef event = CGEventCreateKeyboardEvent(NULL, virtual_key, key_down);
    if (event == NULL) return std::nullopt;
    InputEvent out;
    out.type = key_down ? EventType::key_down : EventType::key_up;
    out.key_code = virtual_key;
    out.native = owned(event);
    return out;
  }

  void keyboard_set_unicode_string(InputEvent& event, std::u16string_view text) override {
    if (!event.native) return;
    CGEventKeyboardSetUnicodeString(static_cast<CGEventRef>(event.native.get()), text.size(),
                                    reinterpret_cast<const UniChar*>(text.data()));
    event.text = std::u16string(text);
  }

  void set_integer_value_field(InputEvent& event, EventField field, std::int64_t value) override {
    if (!event.native) return;
    CGEventSetIntegerValueField(static_cast<CGEventRef>(event.native.get()), event_field(field), value);
    record_integer_field(event, field, value);
  }

  void post_to_pid(std::int32_t pid, const InputEvent& event) override {
    if (!event.native) return;
    CGEventPostToPid(pid, static_cast<CGEventRef>(event.native.get()));
  }
};

}  // namespace

std::unique_ptr<Platform> make_platform() { return std::make_unique<MacPlatform>(); }

}  // namespace deskhand
