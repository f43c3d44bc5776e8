// The simulated desktop: what the simulated platform layer answers, read from
// the JSON file named by DESKHAND_SIM_DESKTOP.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand::sim {

// The largest "pngBytes" a window may ask for; larger values make the
// desktop description invalid rather than the process run out of memory.
inline constexpr std::uint64_t kMaxSimulatedPngBytes = 64ull * 1048576;

struct SimWindow {
  Window window;  // everything but `native`
  std::optional<std::uint64_t> png_bytes;
};

enum class Activation { ok, ignored };

enum class FocusKind { frame, none, position_error, size_error };

// The Accessibility focused window of one application.
struct Focus {
  FocusKind kind = FocusKind::none;
  Rect frame;  // for FocusKind::frame
};

// What changes on the desktop once the focus check has read the focused
// window's size: the keys given replace the desktop's own.
struct DesktopChange {
  std::optional<std::vector<SimWindow>> windows;
  std::optional<std::optional<std::int32_t>> frontmost;
  std::optional<std::map<std::int32_t, Focus>> focused;
};

struct Desktop {
  std::optional<nlohmann::json> session;
  bool screen_recording = false;
  bool accessibility = false;
  bool list_error = false;
  bool capture_error = false;
  bool list_hangs = false;     // the listing's completion handler never runs
  bool capture_hangs = false;  // the capture's completion handler never runs
  std::vector<SimWindow> windows;
  std::vector<std::int32_t> running;
  std::optional<std::int32_t> frontmost;
  std::map<std::int32_t, Activation> activation;
  std::map<std::int32_t, Focus> focused;
  bool keyboard_events_fail = false;
  bool mouse_events_fail = false;
  std::optional<std::string> event_log;
  std::optional<DesktopChange> after_focus_check;
};

// Applies the change (once): the windows, frontmost application and focused
// windows it gives replace the desktop's.
void apply_change(Desktop& desktop, DesktopChange change);

// Reads a desktop description. Every key is optional; a key that is null
// counts as absent. A text that is not a JSON object, or a key of the wrong
// type, is an error. Keys: "session" (object), the booleans
// "screenRecording", "accessibility", "listError", "captureError",
// "listHangs", "captureHangs", "keyboardEventsFail", "mouseEventsFail";
// "windows" (array), "running" (array of pids; by default the windows'
// owners), "frontmost" (pid), "activation" and "focused" (objects keyed by
// pid), "eventLog" (path), "afterFocusCheck" (an object with any of
// "windows", "frontmost" and "focused": the desktop as it is once the focus
// check has read the focused window, which the later steps see).
Result<Desktop> parse_desktop(std::string_view text);

// Reads the desktop description file; without a path the desktop is empty.
Result<Desktop> load_desktop(const char* path);

bool is_running(const Desktop& desktop, std::int32_t pid);
Activation activation_of(const Desktop& desktop, std::int32_t pid);
// The focused window of an application: as described, or else the frame of
// that application's first window, or none when it has no window.
Focus focused_window_of(const Desktop& desktop, std::int32_t pid);

}  // namespace deskhand::sim
