// The operations that the helper needs from the operating system. The macOS
// layer implements each with a few calls into Foundation, AppKit,
// ScreenCaptureKit, CoreGraphics and the Accessibility API; the simulated
// layer implements them from a described desktop so that the helper builds,
// runs and is tested away from macOS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"

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

// An input event created by the platform and not yet posted. The fields
// repeat what it was created with, so that what is posted can be told.
struct InputEvent {
  EventType type = EventType::key_down;
  Point point;                 // mouse events: the screen point
  std::uint16_t key_code = 0;  // keyboard events: the virtual key
  std::u16string text;         // keyboard events: the Unicode string set on it
  NativeHandle native;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Process frame.
  // NSApplication.sharedApplication: connects the process to the window server.
  virtual Result<Done> touch_shared_application() = 0;
  // NSFileHandle: standard input read to its end.
  virtual Result<std::string> read_standard_input() = 0;
  // NSFileHandle: writes the bytes to standard output; false when that fails.
  virtual bool write_standard_output(std::string_view bytes) = 0;

  // Session and permissions.
  // CGSessionCopyCurrentDictionary: the login session's properties, or none.
  // Only "CGSSessionScreenIsLocked" is carried over: a boolean when the
  // platform's value is one, null for any other value.
  virtual std::optional<nlohmann::json> copy_session_dictionary() = 0;
  // CGPreflightScreenCaptureAccess: Screen Recording, without prompting.
  virtual bool preflight_screen_capture_access() = 0;
  // AXIsProcessTrusted: Accessibility, without prompting.
  virtual bool is_process_trusted() = 0;

  // Windows and capture (ScreenCaptureKit, AppKit, CoreGraphics).
  // SCShareableContent excluding desktop windows, on-screen windows only;
  // awaited. Every window, in the platform's order.
  virtual Result<std::vector<Window>> get_shareable_content() = 0;
  // SCScreenshotManager with a filter on the window alone; awaited; the image
  // encoded by NSBitmapImageRep as PNG with no properties.
  virtual Result<CapturedImage> capture_image(const Window& window,
                                              const CaptureConfiguration& configuration) = 0;

  // Applications (AppKit).
  // NSRunningApplication with the process: false when there is none;
  // otherwise asks it to activate with no options and returns true.
  virtual bool activate_running_application(std::int32_t pid) = 0;
  // NSWorkspace.frontmostApplication.processIdentifier, or none.
  virtual std::optional<std::int32_t> frontmost_application_pid() = 0;
  // Sleeps, letting the platform deliver its notifications meanwhile.
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
  virtual std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key,
                                                          bool key_down) = 0;
  // CGEventKeyboardSetUnicodeString with the UTF-16 code units.
  virtual void keyboard_set_unicode_string(InputEvent& event, const std::u16string& text) = 0;
  // CGEventPostToPid: the event goes to that process only.
  virtual void post_to_pid(std::int32_t pid, const InputEvent& event) = 0;
};

// The platform layer this program is built with.
std::unique_ptr<Platform> make_platform();

}  // namespace deskhand
