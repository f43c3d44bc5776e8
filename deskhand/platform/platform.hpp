// The operations that the helper needs from the operating system. The macOS
// layer implements each with a few calls into Foundation, AppKit,
// ScreenCaptureKit, CoreGraphics and the Accessibility API; the simulated
// layer implements them from a described desktop so that the helper builds,
// runs and is tested away from macOS.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/completion.hpp"

namespace deskhand {

// A platform object that the logic hands back to the platform without looking
// into it (a window, an Accessibility element or value, an event). The layer
// that made it releases it when the last copy goes.
using NativeHandle = std::shared_ptr<void>;

// A frame in screen points: minimum x, minimum y, width, height.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct Point {
  double x = 0;
  double y = 0;
};

struct Size {
  double width = 0;
  double height = 0;
};

// The application that owns a window.
struct OwningApplication {
  std::int32_t pid = 0;
  std::string name;
  std::string bundle_id;
};

// One window of the shareable content, as the platform lists it.
struct Window {
  std::uint32_t window_id = 0;
  std::int64_t layer = 0;
  Rect frame;
  std::optional<std::string> title;  // UTF-8; absent when the window has none
  std::optional<OwningApplication> owner;
  NativeHandle native;  // the platform's window object, handed back to capture
};

// How a single window is captured.
struct CaptureConfiguration {
  std::size_t width = 0;   // pixels
  std::size_t height = 0;  // pixels
  bool shows_cursor = false;
  bool ignore_shadows_single_window = false;
  // A window partly off screen is captured whole, not clipped to the display.
  bool ignore_global_clip_single_window = false;
};

// A captured image: its pixel size and its PNG encoding (absent when the
// encoding yields nothing).
struct CapturedImage {
  std::size_t pixel_width = 0;
  std::size_t pixel_height = 0;
  std::optional<std::string> png;
};

// An Accessibility object: an element (a window) or an attribute's value.
struct AxObject {
  NativeHandle native;
};

enum class EventType { left_mouse_down, left_mouse_up, key_down, key_up };

// The integer fields of an event that the helper sets (CGEventField):
// kCGMouseEventClickState, kCGMouseEventWindowUnderMousePointer and
// kCGMouseEventWindowUnderMousePointerThatCanHandleThisEvent.
enum class EventField {
  mouse_click_state,
  window_under_mouse_pointer,
  window_under_mouse_pointer_that_can_handle_this_event,
};

// An input event created by the platform and not yet posted. The fields
// repeat what it was created with and what was set on it, so that what is
// posted can be told.
struct InputEvent {
  EventType type = EventType::key_down;
  Point point;                 // mouse events: the screen point
  std::uint16_t key_code = 0;  // keyboard events: the virtual key
  std::u16string text;         // keyboard events: the Unicode string set on it
  std::int64_t click_state = 0;
  std::int64_t window_under_pointer = 0;
  std::int64_t window_under_pointer_that_can_handle = 0;
  NativeHandle native;
};

// Records on `event` an integer field set on it, so that every platform
// tells what it posted the same way.
inline void record_integer_field(InputEvent& event, EventField field, std::int64_t value) {
  switch (field) {
    case EventField::mouse_click_state:
      event.click_state = value;
      break;
    case EventField::window_under_mouse_pointer:
      event.window_under_pointer = value;
      break;
    case EventField::window_under_mouse_pointer_that_can_handle_this_event:
      event.window_under_pointer_that_can_handle = value;
      break;
  }
}

// What the platform answers to a request to activate an application.
enum class ActivationAnswer {
  no_application,  // no running application has the process
  refused,         // the system did not allow the request
  accepted,        // allowed, which does not yet mean that it is in front
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Process frame.
  // signal(SIGPIPE, SIG_IGN): a write to a closed standard output fails
  // instead of killing the process.
  virtual void ignore_sigpipe() = 0;
  // NSApplication.sharedApplication: connects the process to the window server.
  virtual Result<Done> touch_shared_application() = 0;
  // NSFileHandle: standard input read until its end or until `limit` bytes
  // have been read, whichever comes first (the rest stays unread).
  virtual Result<std::string> read_standard_input(std::size_t limit) = 0;
  // NSFileHandle: writes the bytes to standard output; false when that fails.
  virtual bool write_standard_output(std::string_view bytes) = 0;
  // A monotonic clock, read to bound the waits for completion handlers.
  virtual std::chrono::steady_clock::time_point now() = 0;

  // Session and permissions.
  // CGSessionCopyCurrentDictionary: the login session's properties, or none.
  // Only "CGSSessionScreenIsLocked" is carried over: a boolean when the
  // platform's value is one, null for any other value.
  virtual std::optional<nlohmann::json> copy_session_dictionary() = 0;
  // CGPreflightScreenCaptureAccess: Screen Recording, without prompting.
  virtual bool preflight_screen_capture_access() = 0;
  // AXIsProcessTrusted: Accessibility, without prompting.
  virtual bool is_process_trusted() = 0;

  // Windows and capture (ScreenCaptureKit, AppKit, CoreGraphics). Both
  // operations start the platform call and return at once; its completion
  // handler delivers the report, which the caller awaits.
  // SCShareableContent excluding desktop windows, on-screen windows only:
  // every window, in the platform's order.
  virtual CompletionPtr<std::vector<Window>> start_shareable_content() = 0;
  // SCScreenshotManager with a filter on the window alone: the captured
  // image (a CGImage).
  virtual CompletionPtr<NativeHandle> start_capture_image(const Window& window,
                                                          const CaptureConfiguration& configuration) = 0;
  // CGImageGetWidth, CGImageGetHeight, and the image encoded by
  // NSBitmapImageRep as PNG with no properties.
  virtual CapturedImage encode_png(const NativeHandle& image) = 0;

  // Applications (AppKit, ApplicationServices).
  // NSRunningApplication with the process; when there is one, asks it to
  // activate with no options (from the frontmost application on macOS 14 and
  // later) and tells whether the system allowed the request.
  virtual ActivationAnswer activate_running_application(std::int32_t pid) = 0;
  // Sets "AXFrontmost" of AXUIElementCreateApplication(pid) to true; false
  // when Accessibility refuses.
  virtual bool set_frontmost_through_accessibility(std::int32_t pid) = 0;
  // NSWorkspace.frontmostApplication.processIdentifier, or none.
  virtual std::optional<std::int32_t> frontmost_application_pid() = 0;
  // Sleeps, letting the platform deliver its notifications and completion
  // handlers meanwhile.
  virtual void sleep_nanoseconds(std::uint64_t nanoseconds) = 0;

  // Accessibility (ApplicationServices).
  // "AXFocusedWindow" of AXUIElementCreateApplication(pid); none when the
  // read fails or yields nothing.
  virtual std::optional<AxObject> copy_focused_window(std::int32_t pid) = 0;
  // "AXPosition" / "AXSize" of a window; none when the read fails.
  virtual std::optional<AxObject> copy_position(const AxObject& window) = 0;
  virtual std::optional<AxObject> copy_size(const AxObject& window) = 0;
  // AXValueGetValue with the point / size type; none when extraction fails.
  virtual std::optional<Point> value_get_point(const AxObject& value) = 0;
  virtual std::optional<Size> value_get_size(const AxObject& value) = 0;

  // Events (CoreGraphics), created without a source.
  // CGEventCreateMouseEvent with the left button; none when it cannot be created.
  virtual std::optional<InputEvent> create_mouse_event(EventType type, Point point) = 0;
  // CGEventCreateKeyboardEvent; none when it cannot be created.
  virtual std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key, bool key_down) = 0;
  // CGEventKeyboardSetUnicodeString with the UTF-16 code units.
  virtual void keyboard_set_unicode_string(InputEvent& event, std::u16string_view text) = 0;
  // CGEventSetIntegerValueField.
  virtual void set_integer_value_field(InputEvent& event, EventField field, std::int64_t value) = 0;
  // CGEventPostToPid: the event goes to that process only.
  virtual void post_to_pid(std::int32_t pid, const InputEvent& event) = 0;
};

// The platform layer this program is built with.
std::unique_ptr<Platform> make_platform();

}  // namespace deskhand
