#include "main/interact.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "main/request.hpp"
#include "main/text.hpp"
#include "main/windows.hpp"

namespace deskhand {

using nlohmann::json;

namespace {

constexpr std::array<std::pair<std::string_view, std::uint16_t>, 8> kKeyTable{{
    {"enter", 36},
    {"tab", 48},
    {"escape", 53},
    {"backspace", 51},
    {"left", 123},
    {"right", 124},
    {"down", 125},
    {"up", 126},
}};

// Whether two values lie within the focus tolerance (strictly below 1 point).
bool within_tolerance(double a, double b) { return std::abs(a - b) < kFocusTolerance; }

bool frame_within_tolerance(const Rect& frame, const Rect& focused) {
  return within_tolerance(frame.x, focused.x) && within_tolerance(frame.y, focused.y) &&
         within_tolerance(frame.width, focused.width) && within_tolerance(frame.height, focused.height);
}

constexpr const char* kDifferentWindow = "A different window has focus. Focus the selected window and capture again.";

// Windows without an owning application are never selected; this guards the
// actions when they are called on such a window all the same.
Result<std::int32_t> owner_pid(const Window& selected) {
  if (!selected.owner) return fail("The selected window is unavailable. List windows again.");
  return selected.owner->pid;
}

bool frontmost_is(Platform& platform, std::int32_t pid) {
  const auto front = platform.frontmost_application_pid();
  return front && *front == pid;
}

// --- The focus procedure, piece by piece -----------------------------------

Result<Done> require_accessibility(Platform& platform) {
  if (!platform.is_process_trusted()) {
    return fail("Enable Accessibility for Mirel's Mac helper in System Settings, then reconnect.");
  }
  return Done{};
}

// The caller's "target" repeats the selected window's process and frame
// exactly.
bool target_matches(const json& request, const Window& selected) {
  const json* target = member(request, "target");
  if (target == nullptr || !target->is_object()) return false;
  const auto pid = exact_int32(member(target, "pid"));
  if (!pid || !selected.owner || *pid != selected.owner->pid) return false;
  const auto x = exact_double(member(target, "x"));
  const auto y = exact_double(member(target, "y"));
  const auto width = exact_double(member(target, "width"));
  const auto height = exact_double(member(target, "height"));
  return x && y && width && height && *x == selected.frame.x && *y == selected.frame.y &&
         *width == selected.frame.width && *height == selected.frame.height;
}

// Asks the running application to come forward. Since macOS 14 activation
// is cooperative and may be refused (or allowed without effect) while
// another app is active, so when it is refused, or the application is not in
// front, its "AXFrontmost" is set through Accessibility as well. Whether
// either worked shows in the wait that follows.
Result<Done> ask_application_forward(Platform& platform, std::int32_t pid) {
  const ActivationAnswer answer = platform.activate_running_application(pid);
  if (answer == ActivationAnswer::no_application) return fail("The application closed.");
  if (answer == ActivationAnswer::refused || !frontmost_is(platform, pid)) {
    platform.set_frontmost_through_accessibility(pid);
  }
  return Done{};
}

// Waits up to 20 checks of 50 ms for the application to be in front (the
// last check goes on whatever it found), then requires it to be there.
Result<Done> wait_for_front(Platform& platform, std::int32_t pid) {
  platform.sleep_nanoseconds(kFocusPollNanoseconds);
  for (int poll = 1; poll <= kFocusChecks; ++poll) {
    if (frontmost_is(platform, pid) || poll == kFocusChecks) break;
    platform.sleep_nanoseconds(kFocusPollNanoseconds);
  }
  if (!frontmost_is(platform, pid)) return fail("Could not focus the selected app.");
  return Done{};
}

// The frame of the application's focused window as Accessibility reports it:
// the window, then its position, then its size.
Result<Rect> focused_window_frame(Platform& platform, std::int32_t pid) {
  const auto focused = platform.copy_focused_window(pid);
  if (!focused) {
    return fail(
        "Cannot identify the focused window. Focus the selected window manually and capture "
        "again.");
  }
  const auto position_value = platform.copy_position(*focused);
  if (!position_value) return fail("Cannot verify the focused window.");
  const auto size_value = platform.copy_size(*focused);
  if (!size_value) return fail("Cannot verify the focused window.");

  const auto position = platform.value_get_point(*position_value);
  const auto size = platform.value_get_size(*size_value);
  if (!position || !size) {
    return fail(kDifferentWindow);
  }
  return Rect{position->x, position->y, size->width, size->height};
}

// Exactly one window of the application, eligible or not, lies within the
// tolerance of the focused frame in a fresh listing, and it is the selected
// one.
Result<Done> require_single_candidate(Platform& platform, std::int32_t pid, const Rect& focused_frame,
                                      std::uint32_t window_id) {
  auto listed = list_shareable_content(platform);
  if (!listed) return listed.failure();
  std::vector<std::uint32_t> candidates;
  for (const Window& window : *listed) {
    if (window.owner && window.owner->pid == pid && frame_within_tolerance(window.frame, focused_frame)) {
      candidates.push_back(window.window_id);
    }
  }
  if (candidates.size() != 1 || candidates.front() != window_id) {
    return fail(
        "The focused window is ambiguous or changed. Move overlapping windows apart and capture "
        "the selected window again.");
  }
  return Done{};
}

// Creates, fills and posts one keyboard event; false when it cannot be created.
bool post_key(Platform& platform, std::int32_t pid, std::uint16_t key_code, bool key_down,
              std::optional<std::u16string_view> text) {
  auto event = platform.create_keyboard_event(key_code, key_down);
  if (!event) return false;
  if (text) platform.keyboard_set_unicode_string(*event, *text);
  platform.post_to_pid(pid, *event);
  return true;
}

}  // namespace

std::optional<std::uint16_t> key_code_for(std::string_view name) {
  for (const auto& [key, code] : kKeyTable) {
    if (key == name) return code;
  }
  return std::nullopt;
}

std::vector<std::u16string_view> text_chunks(std::u16string_view units) {
  static_assert(kMaxChunkUnits >= 2, "a chunk must hold a whole surrogate pair");
  std::vector<std::u16string_view> chunks;
  for (std::size_t at = 0; at < units.size();) {
    std::size_t length = std::min(kMaxChunkUnits, units.size() - at);
    const std::size_t end = at + length;
    if (end < units.size() && is_high_surrogate(units[end - 1]) && is_low_surrogate(units[end])) {
      --length;
    }
    chunks.push_back(units.substr(at, length));
    at += length;
  }
  return chunks;
}

Result<Done> focus_selected_window(Platform& platform, const json& request, const Window& selected) {
  if (auto trusted = require_accessibility(platform); !trusted) return trusted.failure();
  if (!target_matches(request, selected)) {
    return fail("Window geometry changed. Capture it again before interacting.");
  }
  const std::int32_t pid = selected.owner->pid;
  if (auto asked = ask_application_forward(platform, pid); !asked) return asked.failure();
  if (auto front = wait_for_front(platform, pid); !front) return front.failure();

  const auto focused_frame = focused_window_frame(platform, pid);
  if (!focused_frame) return focused_frame.failure();
  if (!frame_within_tolerance(selected.frame, *focused_frame)) {
    return fail(kDifferentWindow);
  }
  return require_single_candidate(platform, pid, *focused_frame, selected.window_id);
}

Result<Done> click(Platform& platform, const json& request, const Window& selected) {
  const auto x = exact_double(member(request, "x"));
  const auto y = exact_double(member(request, "y"));
  const Rect& frame = selected.frame;
  if (!x || !y || !(*x >= 0 && *x < frame.width) || !(*y >= 0 && *y < frame.height)) {
    return fail("Click is outside the selected window.");
  }
  const auto owner = owner_pid(selected);
  if (!owner) return owner.failure();
  const std::int32_t pid = *owner;
  const Point point{frame.x + *x, frame.y + *y};
  for (const EventType type : {EventType::left_mouse_down, EventType::left_mouse_up}) {
    auto event = platform.create_mouse_event(type, point);
    if (!event) return fail("Cannot create mouse event");
    // An event posted to a process skips the window server, which would say
    // which click it is and which window lies under the pointer; without
    // them apps (Chromium and Electron above all) drop the click.
    platform.set_integer_value_field(*event, EventField::mouse_click_state, 1);
    platform.set_integer_value_field(*event, EventField::window_under_mouse_pointer, selected.window_id);
    platform.set_integer_value_field(*event, EventField::window_under_mouse_pointer_that_can_handle_this_event,
                                     selected.window_id);
    platform.post_to_pid(pid, *event);
  }
  return Done{};
}

Result<Done> type_text(Platform& platform, const json& request, const Window& selected) {
  const json* text = member(request, "text");
  if (text == nullptr || !text->is_string()) return fail("Invalid text");
  const std::u16string units = utf16_from_utf8(text->get_ref<const std::string&>());
  if (units.empty() || units.size() > kMaxTextUnits) return fail("Invalid text");
  const auto owner = owner_pid(selected);
  if (!owner) return owner.failure();
  const std::int32_t pid = *owner;
  for (const std::u16string_view chunk : text_chunks(units)) {
    for (const bool key_down : {true, false}) {
      if (!post_key(platform, pid, 0, key_down, chunk)) {
        return fail("Cannot create keyboard event");
      }
    }
  }
  return Done{};
}

Result<Done> press_key(Platform& platform, const json& request, const Window& selected) {
  const json* key = member(request, "key");
  const auto code =
      key != nullptr && key->is_string() ? key_code_for(key->get_ref<const std::string&>()) : std::nullopt;
  if (!code) return fail("Unsupported key");
  const auto owner = owner_pid(selected);
  if (!owner) return owner.failure();
  const std::int32_t pid = *owner;
  for (const bool key_down : {true, false}) {
    if (!post_key(platform, pid, *code, key_down, std::nullopt)) return fail("Cannot create keyboard event");
  }
  return Done{};
}

Result<json> interact(Platform& platform, const std::string& action, const json& request, const Window& selected) {
  auto focus = focus_selected_window(platform, request, selected);
  if (!focus) return focus.failure();

  Result<Done> done = fail("Unknown Mac action");
  if (action == "click") {
    done = click(platform, request, selected);
  } else if (action == "type") {
    done = type_text(platform, request, selected);
  } else if (action == "key") {
    done = press_key(platform, request, selected);
  }
  if (!done) return done.failure();
  return json{{"complete", true}, {"windowId", selected.window_id}};
}

}  // namespace deskhand
