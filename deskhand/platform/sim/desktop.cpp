#include "platform/sim/desktop.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

#include "main/request.hpp"

namespace deskhand::sim {
namespace {

using nlohmann::json;

PlatformError invalid(const std::string& what) { return PlatformError{"invalid simulated desktop: " + what}; }

// The member, or null when it is missing or JSON null.
const json* present(const json& object, std::string_view key) {
  const json* value = member(object, key);
  return value == nullptr || value->is_null() ? nullptr : value;
}

Result<bool> read_flag(const json& object, std::string_view key) {
  const json* value = present(object, key);
  if (value == nullptr) return false;
  if (!value->is_boolean()) return invalid(std::string(key) + " is not a boolean");
  return value->get<bool>();
}

Result<std::int32_t> read_pid(const json* value, const std::string& what) {
  const auto pid = exact_int32(value);
  if (!pid) return invalid(what + " is not a process identifier");
  return *pid;
}

// A pid written as text, as the keys of "activation" and "focused" are.
Result<std::int32_t> pid_from_key(const std::string& key) {
  std::int32_t pid = 0;
  const char* end = key.data() + key.size();
  const auto parsed = std::from_chars(key.data(), end, pid);
  if (key.empty() || parsed.ec != std::errc() || parsed.ptr != end) {
    return invalid("\"" + key + "\" is not a process identifier");
  }
  return pid;
}

Result<Rect> read_rect(const json& object, const std::string& what) {
  Rect rect;
  const std::pair<const char*, double*> fields[] = {
      {"x", &rect.x}, {"y", &rect.y}, {"width", &rect.width}, {"height", &rect.height}};
  for (const auto& [key, slot] : fields) {
    const auto v = exact_double(member(object, key));
    if (!v) return invalid(what + " has no number \"" + key + "\"");
    *slot = *v;
  }
  return rect;
}

Result<SimWindow> read_window(const json& value, std::size_t index) {
  const std::string what = "window " + std::to_string(index);
  if (!value.is_object()) return invalid(what + " is not an object");
  SimWindow out;
  const auto id = exact_uint32(member(value, "windowId"));
  if (!id) return invalid(what + " has no window identifier");
  out.window.window_id = *id;
  if (const json* layer = present(value, "layer")) {
    const auto v = exact_int64(layer);
    if (!v) return invalid(what + " has a layer that is not an integer");
    out.window.layer = *v;
  }
  auto frame = read_rect(value, what);
  if (!frame) return frame.failure();
  out.window.frame = *frame;
  if (const json* title = present(value, "title")) {
    if (!title->is_string()) return invalid(what + " has a title that is not text");
    out.window.title = title->get<std::string>();
  }
  if (const json* owner = present(value, "owner")) {
    if (!owner->is_object()) return invalid(what + " has an owner that is not an object");
    auto pid = read_pid(member(*owner, "pid"), what + " owner pid");
    if (!pid) return pid.failure();
    const json* name = member(*owner, "name");
    const json* bundle = member(*owner, "bundleId");
    if (name == nullptr || !name->is_string() || bundle == nullptr || !bundle->is_string()) {
      return invalid(what + " has an owner without text \"name\" and \"bundleId\"");
    }
    out.window.owner = OwningApplication{*pid, name->get<std::string>(), bundle->get<std::string>()};
  }
  if (const json* png_bytes = present(value, "pngBytes")) {
    const auto v = exact_uint64(png_bytes);
    if (!v || *v > kMaxSimulatedPngBytes) return invalid(what + " has an unusable pngBytes");
    out.png_bytes = *v;
  }
  return out;
}

Result<Focus> read_focus(const json& value, const std::string& what) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    if (text == "none") return Focus{FocusKind::none, {}};
    if (text == "positionError") return Focus{FocusKind::position_error, {}};
    if (text == "sizeError") return Focus{FocusKind::size_error, {}};
  } else if (value.is_object()) {
    auto frame = read_rect(value, what);
    if (!frame) return frame.failure();
    return Focus{FocusKind::frame, *frame};
  }
  return invalid(what + " is not a frame, \"none\", \"positionError\" or \"sizeError\"");
}

Result<Done> read_session(const json& root, Desktop& desktop) {
  if (const json* session = present(root, "session")) {
    if (!session->is_object()) return invalid("session is not an object");
    desktop.session = *session;
  }
  return Done{};
}

Result<Done> read_flags(const json& root, Desktop& desktop) {
  const std::pair<const char*, bool*> flags[] = {
      {"screenRecording", &desktop.screen_recording},
      {"accessibility", &desktop.accessibility},
      {"listError", &desktop.list_error},
      {"captureError", &desktop.capture_error},
      {"listHangs", &desktop.list_hangs},
      {"captureHangs", &desktop.capture_hangs},
      {"keyboardEventsFail", &desktop.keyboard_events_fail},
      {"mouseEventsFail", &desktop.mouse_events_fail},
  };
  for (const auto& [key, slot] : flags) {
    auto flag = read_flag(root, key);
    if (!flag) return flag.failure();
    *slot = *flag;
  }
  return Done{};
}

Result<Done> read_windows(const json& root, Desktop& desktop) {
  if (const json* windows = present(root, "windows")) {
    if (!windows->is_array()) return invalid("windows is not an array");
    for (std::size_t i = 0; i < windows->size(); ++i) {
      auto window = read_window((*windows)[i], i);
      if (!window) return window.failure();
      desktop.windows.push_back(std::move(*window));
    }
  }
  return Done{};
}

// The running applications as listed, or else the owners of the windows.
Result<Done> read_running(const json& root, Desktop& desktop) {
  if (const json* running = present(root, "running")) {
    if (!running->is_array()) return invalid("running is not an array");
    for (const json& pid : *running) {
      auto v = read_pid(&pid, "a running application");
      if (!v) return v.failure();
      desktop.running.push_back(*v);
    }
  } else {
    for (const SimWindow& w : desktop.windows) {
      if (w.window.owner) desktop.running.push_back(w.window.owner->pid);
    }
  }
  return Done{};
}

Result<Done> read_frontmost(const json& root, Desktop& desktop) {
  if (const json* frontmost = present(root, "frontmost")) {
    auto v = read_pid(frontmost, "frontmost");
    if (!v) return v.failure();
    desktop.frontmost = *v;
  }
  return Done{};
}

Result<Done> read_activation(const json& root, Desktop& desktop) {
  if (const json* activation = present(root, "activation")) {
    if (!activation->is_object()) return invalid("activation is not an object");
    for (const auto& [key, value] : activation->items()) {
      auto pid = pid_from_key(key);
      if (!pid) return pid.failure();
      if (value == "ok") {
        desktop.activation[*pid] = Activation::ok;
      } else if (value == "ignored") {
        desktop.activation[*pid] = Activation::ignored;
      } else {
        return invalid("activation of " + key + " is not \"ok\" or \"ignored\"");
      }
    }
  }
  return Done{};
}

Result<Done> read_focused(const json& root, Desktop& desktop) {
  if (const json* focused = present(root, "focused")) {
    if (!focused->is_object()) return invalid("focused is not an object");
    for (const auto& [key, value] : focused->items()) {
      auto pid = pid_from_key(key);
      if (!pid) return pid.failure();
      auto focus = read_focus(value, "focused window of " + key);
      if (!focus) return focus.failure();
      desktop.focused[*pid] = *focus;
    }
  }
  return Done{};
}

Result<Done> read_event_log(const json& root, Desktop& desktop) {
  if (const json* log = present(root, "eventLog")) {
    if (!log->is_string()) return invalid("eventLog is not text");
    desktop.event_log = log->get<std::string>();
  }
  return Done{};
}

Result<Done> read_after_focus_check(const json& root, Desktop& desktop) {
  const json* after = present(root, "afterFocusCheck");
  if (after == nullptr) return Done{};
  if (!after->is_object()) return invalid("afterFocusCheck is not an object");
  Desktop later;
  using Reader = Result<Done> (*)(const json&, Desktop&);
  for (const Reader read : {read_windows, read_frontmost, read_focused}) {
    if (auto done = read(*after, later); !done) return done.failure();
  }
  DesktopChange change;
  if (present(*after, "windows") != nullptr) change.windows = std::move(later.windows);
  if (present(*after, "frontmost") != nullptr) change.frontmost = later.frontmost;
  if (present(*after, "focused") != nullptr) change.focused = std::move(later.focused);
  desktop.after_focus_check = std::move(change);
  return Done{};
}

}  // namespace

void apply_change(Desktop& desktop, DesktopChange change) {
  if (change.windows) desktop.windows = std::move(*change.windows);
  if (change.frontmost) desktop.frontmost = *change.frontmost;
  if (change.focused) desktop.focused = std::move(*change.focused);
}

Result<Desktop> parse_desktop(std::string_view text) {
  const auto parsed = parse_json(text);
  if (!parsed || !parsed->is_object()) return invalid("not a JSON object");
  Desktop desktop;
  // The windows come before "running", whose default they make.
  using Reader = Result<Done> (*)(const json&, Desktop&);
  for (const Reader read : {read_session, read_flags, read_windows, read_running, read_frontmost, read_activation,
                            read_focused, read_event_log, read_after_focus_check}) {
    if (auto done = read(*parsed, desktop); !done) return done.failure();
  }
  return desktop;
}

Result<Desktop> load_desktop(const char* path) {
  if (path == nullptr) return Desktop{};
  std::ifstream file(path, std::ios::binary);
  if (!file) return PlatformError{std::string("cannot open the simulated desktop ") + path};
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return PlatformError{std::string("cannot read the simulated desktop ") + path};
  return parse_desktop(text.str());
}

bool is_running(const Desktop& desktop, std::int32_t pid) {
  return std::find(desktop.running.begin(), desktop.running.end(), pid) != desktop.running.end();
}

Activation activation_of(const Desktop& desktop, std::int32_t pid) {
  const auto found = desktop.activation.find(pid);
  return found == desktop.activation.end() ? Activation::ok : found->second;
}

Focus focused_window_of(const Desktop& desktop, std::int32_t pid) {
  const auto found = desktop.focused.find(pid);
  if (found != desktop.focused.end()) return found->second;
  for (const SimWindow& w : desktop.windows) {
    if (w.window.owner && w.window.owner->pid == pid) return Focus{FocusKind::frame, w.window.frame};
  }
  return Focus{FocusKind::none, {}};
}

}  // namespace deskhand::sim
