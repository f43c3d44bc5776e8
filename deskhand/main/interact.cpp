#include "main/interact.hpp"

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "main/request.hpp"
#include "main/text.hpp"

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
         within_tolerance(frame.width, focused.width) &&
         within_tolerance(frame.height, focused.height);
}

// Step 2: the caller's "target" repeats the selected window's process and
// frame exactly.
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

// Creates, fills and posts one keyboard event; false when it cannot be created.
bool post_key(Platform& platform, std::int32_t pid, std::uint16_t key_code, bool key_down,
              const std::u16string* text) {
  auto event = platform.create_keyboard_event(key_code, key_down);
  if (!event) return false;
  if (text != nullptr) platform.keyboard_set_unicode_string(*event, *text);
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

Result<Done> focus_selected_window(Platform& platform, const json& request,
                                   const Window& selected) {
  // 1. Accessibility permission.
  if (!platform.is_process_trusted()) {
    return fail("Enable Accessibility for Mirel's Mac helper in System Settings, then reconnect.");
  }
  // 2. The window is where the caller saw it.
  if (!target_matches(request, selected)) {
    return fail("Window geometry changed. Capture it again before interacting.");
  }
  const std::int32_t pid = selected.owner->pid;
  const Rect& frame = selected.frame;

  // 3. The application is still running; ask it to come forward.
  if (!platform.activate_running_application(pid)) return fail("The application closed.");

  // 4. Wait up to 20 checks of 50 ms for it to be in front; the last check
  //    goes on whatever it found.
  platform.sleep_nanoseconds(kFocusPollNanoseconds);
  for (int check = 1; check <= kFocusChecks; ++check) {
    if (frontmost_is(platform, pid) || check == kFocusChecks) break;
    platform.sleep_nanoseconds(kFocusPollNanoseconds);
  }

  // 5. It must be in front now.
  if (!frontmost_is(platform, pid)) return fail("Could not focus the selected app.");

  // 6. The application's focused window.
  const auto focused = platform.copy_focused_window(pid);
  if (!focused) {
    return fail(
        "Cannot identify the focused window. Focus the selected window manually and capture "
        "again.");
  }

  // 7. Its position, then its size.
  const auto position_value = platform.copy_position(*focused);
  if (!position_value) return fail("Cannot verify the focused window.");
  const auto size_value = platform.copy_size(*focused);
  if (!size_value) return fail("Cannot verify the focused window.");

  // 8. Within 1 point of the selected frame.
  const auto position = platform.value_get_point(*position_value);
  const auto size = platform.value_get_size(*size_value);
  const std::string different =
      "A different window has focus. Focus the selected window and capture again.";
  if (!position || !size) return fail(different);
  const Rect focused_frame{position->x, position->y, size->width, size->height};
  if (!frame_within_tolerance(frame, focused_frame)) return fail(different);

  // 9. Exactly one window of the application lies there, and it is the
  //    selected one.
  auto listed = platform.get_shareable_content();
  if (!listed) return listed.failure();
  std::vector<std::uint32_t> candidates;
  for (const Window& window : *listed) {
    if (window.owner && window.owner->pid == pid &&
        frame_within_tolerance(window.frame, focused_frame)) {
      candidates.push_back(window.window_id);
    }
  }
  if (candidates.size() != 1 || candidates.front() != selected.window_id) {
    return fail(
        "The focused window is ambiguous or changed. Move overlapping windows apart and capture "
        "the selected window again.");
  }
  return Done{};
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
  for (const bool key_down : {true, false}) {
    if (!post_key(platform, pid, 0, key_down, &units)) return fail("Cannot create keyboard event");
  }
  return Done{};
}

Result<Done> press_key(Platform& platform, const json& request, const Window& selected) {
  const json* key = member(request, "key");
  const auto code = key != nullptr && key->is_string()
                        ? key_code_for(key->get_ref<const std::string&>())
                        : std::nullopt;
  if (!code) return fail("Unsupported key");
  const auto owner = owner_pid(selected);
  if (!owner) return owner.failure();
  const std::int32_t pid = *owner;
  for (const bool key_down : {true, false}) {
    if (!post_key(platform, pid, *code, key_down, nullptr))
      return fail("Cannot create keyboard event");
  }
  return Done{};
}

Result<json> interact(Platform& platform, const std::string& action, const json& request,
                      const Window& selected) {
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
