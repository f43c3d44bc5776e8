#include "platform/sim/sim_platform.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

#include "main/text.hpp"
#include "platform/sim/png.hpp"

namespace deskhand::sim {
namespace {

using nlohmann::json;

// What an Accessibility object of the simulated desktop stands for.
struct SimAx {
  enum class Kind { window, position, size };
  Kind kind = Kind::window;
  Focus focus;
};

AxObject make_ax(SimAx::Kind kind, const Focus& focus) { return AxObject{std::make_shared<SimAx>(SimAx{kind, focus})}; }

const SimAx* as_sim_ax(const AxObject& object) { return static_cast<const SimAx*>(object.native.get()); }

// What a simulated capture produced: the configured size, the window it
// shows and the PNG size its description asks for.
struct SimImage {
  std::size_t width = 0;
  std::size_t height = 0;
  std::uint32_t window_id = 0;
  std::optional<std::uint64_t> png_bytes;
};

const char* event_type_name(EventType type) {
  switch (type) {
    case EventType::left_mouse_down:
      return "leftMouseDown";
    case EventType::left_mouse_up:
      return "leftMouseUp";
    case EventType::key_down:
      return "keyDown";
    case EventType::key_up:
      return "keyUp";
  }
  return "";
}

}  // namespace

std::string event_log_line(std::int32_t pid, const InputEvent& event) {
  json line{{"pid", pid}, {"type", event_type_name(event.type)}};
  if (event.type == EventType::left_mouse_down || event.type == EventType::left_mouse_up) {
    line["x"] = event.point.x;
    line["y"] = event.point.y;
    line["clickState"] = event.click_state;
    line["windowId"] = event.window_under_pointer;
  } else {
    line["keyCode"] = event.key_code;
    if (!event.text.empty()) line["text"] = utf8_from_utf16(event.text);
  }
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::vector<std::uint8_t> simulated_pixels(std::size_t width, std::size_t height, std::uint32_t window_id) {
  std::vector<std::uint8_t> rgb(width * height * 3);
  std::size_t at = 0;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      rgb[at++] = static_cast<std::uint8_t>(x * 255 / width);
      rgb[at++] = static_cast<std::uint8_t>(y * 255 / height);
      rgb[at++] = static_cast<std::uint8_t>(window_id * 47);
    }
  }
  return rgb;
}

SimPlatform::SimPlatform(Result<Desktop> desktop) {
  if (desktop) {
    desktop_ = std::move(*desktop);
  } else {
    const Failure& failure = desktop.failure();
    const auto* error = std::get_if<PlatformError>(&failure);
    load_error_ = error != nullptr ? *error : PlatformError{reply_text(failure)};
  }
}

void SimPlatform::ignore_sigpipe() { std::signal(SIGPIPE, SIG_IGN); }

Result<Done> SimPlatform::touch_shared_application() {
  if (load_error_) return *load_error_;
  return Done{};
}

Result<std::string> SimPlatform::read_standard_input(std::size_t limit) {
  std::string input;
  char buffer[65536];
  while (input.size() < limit) {
    const std::size_t want = std::min(sizeof buffer, limit - input.size());
    const ssize_t n = ::read(STDIN_FILENO, buffer, want);
    if (n > 0) {
      input.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return PlatformError{"cannot read standard input"};
    }
  }
  return input;
}

bool SimPlatform::write_standard_output(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

std::chrono::steady_clock::time_point SimPlatform::now() { return std::chrono::steady_clock::now(); }

std::optional<json> SimPlatform::copy_session_dictionary() { return desktop_.session; }

bool SimPlatform::preflight_screen_capture_access() { return desktop_.screen_recording; }

bool SimPlatform::is_process_trusted() { return desktop_.accessibility; }

CompletionPtr<std::vector<Window>> SimPlatform::start_shareable_content() {
  if (desktop_.list_hangs) return std::make_shared<Completion<std::vector<Window>>>();
  if (desktop_.list_error) {
    return completed<std::vector<Window>>(PlatformError{"listing shareable content failed"});
  }
  std::vector<Window> windows;
  for (const SimWindow& sim_window : desktop_.windows) {
    Window window = sim_window.window;
    window.native = std::make_shared<SimWindow>(sim_window);
    windows.push_back(std::move(window));
  }
  return completed<std::vector<Window>>(std::move(windows));
}

CompletionPtr<NativeHandle> SimPlatform::start_capture_image(const Window& window,
                                                             const CaptureConfiguration& configuration) {
  if (desktop_.capture_hangs) return std::make_shared<Completion<NativeHandle>>();
  if (desktop_.capture_error) {
    return completed<NativeHandle>(PlatformError{"capturing the window failed"});
  }
  const auto* sim_window = static_cast<const SimWindow*>(window.native.get());
  if (sim_window == nullptr) {
    return completed<NativeHandle>(PlatformError{"the window is not one of this desktop"});
  }
  // Encoding needs the pixels; sizes beyond what a capture configuration
  // allows are refused before any are made.
  if (configuration.width == 0 || configuration.height == 0 || configuration.width > 65536 ||
      configuration.height > 65536) {
    return completed<NativeHandle>(PlatformError{"the capture size is not usable"});
  }
  return completed<NativeHandle>(NativeHandle(std::make_shared<SimImage>(
      SimImage{configuration.width, configuration.height, window.window_id, sim_window->png_bytes})));
}

CapturedImage SimPlatform::encode_png(const NativeHandle& native) {
  const auto* image = static_cast<const SimImage*>(native.get());
  CapturedImage out;
  if (image == nullptr) return out;
  out.pixel_width = image->width;
  out.pixel_height = image->height;
  out.png =
      sim::encode_png(image->width, image->height, simulated_pixels(image->width, image->height, image->window_id));
  if (image->png_bytes) {
    // The encoded data takes exactly the size the desktop asks for.
    std::string data = out.png.value_or(std::string());
    data.resize(static_cast<std::size_t>(*image->png_bytes), '\0');
    out.png = std::move(data);
  }
  return out;
}

ActivationAnswer SimPlatform::activate_running_application(std::int32_t pid) {
  if (!is_running(desktop_, pid)) return ActivationAnswer::no_application;
  if (activation_of(desktop_, pid) == Activation::ignored) return ActivationAnswer::refused;
  desktop_.frontmost = pid;
  return ActivationAnswer::accepted;
}

bool SimPlatform::set_frontmost_through_accessibility(std::int32_t pid) {
  if (!is_running(desktop_, pid) || activation_of(desktop_, pid) == Activation::ignored) {
    return false;
  }
  desktop_.frontmost = pid;
  return true;
}

std::optional<std::int32_t> SimPlatform::frontmost_application_pid() { return desktop_.frontmost; }

void SimPlatform::sleep_nanoseconds(std::uint64_t nanoseconds) {
  std::this_thread::sleep_for(std::chrono::nanoseconds(nanoseconds));
}

std::optional<AxObject> SimPlatform::copy_focused_window(std::int32_t pid) {
  const Focus focus = focused_window_of(desktop_, pid);
  if (focus.kind == FocusKind::none) return std::nullopt;
  return make_ax(SimAx::Kind::window, focus);
}

std::optional<AxObject> SimPlatform::copy_position(const AxObject& window) {
  const SimAx* ax = as_sim_ax(window);
  if (ax == nullptr || ax->kind != SimAx::Kind::window || ax->focus.kind == FocusKind::position_error) {
    return std::nullopt;
  }
  return make_ax(SimAx::Kind::position, ax->focus);
}

std::optional<AxObject> SimPlatform::copy_size(const AxObject& window) {
  const SimAx* ax = as_sim_ax(window);
  // Reading the focused window's size ends the focus check: from here on
  // the desktop is as "afterFocusCheck" describes it.
  if (desktop_.after_focus_check) {
    DesktopChange change = std::move(*desktop_.after_focus_check);
    desktop_.after_focus_check.reset();
    apply_change(desktop_, std::move(change));
  }
  if (ax == nullptr || ax->kind != SimAx::Kind::window || ax->focus.kind == FocusKind::size_error) {
    return std::nullopt;
  }
  return make_ax(SimAx::Kind::size, ax->focus);
}

std::optional<Point> SimPlatform::value_get_point(const AxObject& value) {
  const SimAx* ax = as_sim_ax(value);
  if (ax == nullptr || ax->kind != SimAx::Kind::position) return std::nullopt;
  return Point{ax->focus.frame.x, ax->focus.frame.y};
}

std::optional<Size> SimPlatform::value_get_size(const AxObject& value) {
  const SimAx* ax = as_sim_ax(value);
  if (ax == nullptr || ax->kind != SimAx::Kind::size) return std::nullopt;
  return Size{ax->focus.frame.width, ax->focus.frame.height};
}

std::optional<InputEvent> SimPlatform::create_mouse_event(EventType type, Point point) {
  if (desktop_.mouse_events_fail) return std::nullopt;
  InputEvent event;
  event.type = type;
  event.point = point;
  return event;
}

std::optional<InputEvent> SimPlatform::create_keyboard_event(std::uint16_t virtual_key, bool key_down) {
  if (desktop_.keyboard_events_fail) return std::nullopt;
  InputEvent event;
  event.type = key_down ? EventType::key_down : EventType::key_up;
  event.key_code = virtual_key;
  return event;
}

void SimPlatform::keyboard_set_unicode_string(InputEvent& event, std::u16string_view text) {
  event.text = std::u16string(text);
}

void SimPlatform::set_integer_value_field(InputEvent& event, EventField field, std::int64_t value) {
  record_integer_field(event, field, value);
}

void SimPlatform::post_to_pid(std::int32_t pid, const InputEvent& event) {
  if (!desktop_.event_log) return;
  // Posting cannot fail; a log that cannot be written records nothing.
  if (std::FILE* log = std::fopen(desktop_.event_log->c_str(), "a")) {
    const std::string line = event_log_line(pid, event) + "\n";
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
  }
}

}  // namespace deskhand::sim

namespace deskhand {

std::unique_ptr<Platform> make_platform() {
  return std::make_unique<sim::SimPlatform>(sim::load_desktop(std::getenv("DESKHAND_SIM_DESKTOP")));
}

}  // namespace deskhand
