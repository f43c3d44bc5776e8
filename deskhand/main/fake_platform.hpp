// An in-process platform for the unit tests: answers are set field by field,
// and every call that matters is recorded (sleeps, activations, reads of the
// frontmost application, listings, captures, posted events).
#pragma once

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"

namespace deskhand::testing {

// What an Accessibility object of the fake stands for.
struct FakeAx {
  enum class Kind { window, position, size };
  Kind kind = Kind::window;
  Rect frame;
};

inline Window make_window(std::uint32_t id, std::int32_t pid, Rect frame,
                          std::optional<std::string> title = std::string("Untitled")) {
  Window window;
  window.window_id = id;
  window.layer = 0;
  window.frame = frame;
  window.title = std::move(title);
  window.owner =
      OwningApplication{pid, "App " + std::to_string(pid), "com.example.app" + std::to_string(pid)};
  return window;
}

class FakePlatform final : public Platform {
 public:
  // Answers.
  Result<Done> touch = Done{};
  Result<std::string> input = std::string();
  bool write_succeeds = true;
  std::optional<nlohmann::json> session;
  bool screen_recording = true;
  bool trusted = true;
  Result<std::vector<Window>> listing = std::vector<Window>{};
  // The answer of the second listing (the focus check); the first when unset.
  std::optional<Result<std::vector<Window>>> second_listing;
  Result<CapturedImage> image = CapturedImage{1, 1, std::string("PNG")};
  std::set<std::int32_t> running;
  bool activation_brings_front = true;
  std::optional<std::int32_t> frontmost;
  // Scripted answers for the frontmost application, used before `frontmost`.
  std::deque<std::optional<std::int32_t>> frontmost_script;
  std::optional<Rect> focused;  // none: the focused window cannot be read
  bool position_read_fails = false;
  bool size_read_fails = false;
  bool point_extraction_fails = false;
  bool size_extraction_fails = false;
  int mouse_events_available = 1000;     // how many can be created
  int keyboard_events_available = 1000;  // how many can be created

  // Records.
  std::vector<std::string> calls;
  std::string written;
  std::vector<CaptureConfiguration> captures;
  std::vector<std::int32_t> activations;
  std::vector<std::uint64_t> sleeps;
  int frontmost_reads = 0;
  int listings = 0;
  std::vector<std::pair<std::int32_t, InputEvent>> posted;

  Result<Done> touch_shared_application() override {
    calls.push_back("touch");
    return touch;
  }
  Result<std::string> read_standard_input() override {
    calls.push_back("read");
    return input;
  }
  bool write_standard_output(std::string_view bytes) override {
    calls.push_back("write");
    written.append(bytes);
    return write_succeeds;
  }
  std::optional<nlohmann::json> copy_session_dictionary() override {
    calls.push_back("session");
    return session;
  }
  bool preflight_screen_capture_access() override {
    calls.push_back("screen");
    return screen_recording;
  }
  bool is_process_trusted() override {
    calls.push_back("trusted");
    return trusted;
  }
  Result<std::vector<Window>> get_shareable_content() override {
    calls.push_back("list");
    ++listings;
    if (listings > 1 && second_listing) return *second_listing;
    return listing;
  }
  Result<CapturedImage> capture_image(const Window&,
                                      const CaptureConfiguration& configuration) override {
    calls.push_back("capture");
    captures.push_back(configuration);
    return image;
  }
  bool activate_running_application(std::int32_t pid) override {
    calls.push_back("activate");
    if (running.count(pid) == 0) return false;
    activations.push_back(pid);
    if (activation_brings_front) frontmost = pid;
    return true;
  }
  std::optional<std::int32_t> frontmost_application_pid() override {
    calls.push_back("frontmost");
    ++frontmost_reads;
    if (!frontmost_script.empty()) {
      const auto answer = frontmost_script.front();
      frontmost_script.pop_front();
      return answer;
    }
    return frontmost;
  }
  void sleep_nanoseconds(std::uint64_t nanoseconds) override {
    calls.push_back("sleep");
    sleeps.push_back(nanoseconds);
  }
  std::optional<AxObject> copy_focused_window(std::int32_t) override {
    calls.push_back("focusedWindow");
    if (!focused) return std::nullopt;
    return ax(FakeAx::Kind::window, *focused);
  }
  std::optional<AxObject> copy_position(const AxObject& window) override {
    calls.push_back("position");
    if (position_read_fails) return std::nullopt;
    return ax(FakeAx::Kind::position, of(window).frame);
  }
  std::optional<AxObject> copy_size(const AxObject& window) override {
    calls.push_back("size");
    if (size_read_fails) return std::nullopt;
    return ax(FakeAx::Kind::size, of(window).frame);
  }
  std::optional<Point> value_get_point(const AxObject& value) override {
    calls.push_back("point");
    const FakeAx& v = of(value);
    if (point_extraction_fails || v.kind != FakeAx::Kind::position) return std::nullopt;
    return Point{v.frame.x, v.frame.y};
  }
  std::optional<Size> value_get_size(const AxObject& value) override {
    calls.push_back("sizeValue");
    const FakeAx& v = of(value);
    if (size_extraction_fails || v.kind != FakeAx::Kind::size) return std::nullopt;
    return Size{v.frame.width, v.frame.height};
  }
  std::optional<InputEvent> create_mouse_event(EventType type, Point point) override {
    calls.push_back("createMouse");
    if (mouse_events_available <= 0) return std::nullopt;
    --mouse_events_available;
    InputEvent event;
    event.type = type;
    event.point = point;
    return event;
  }
  std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key,
                                                  bool key_down) override {
    calls.push_back("createKey");
    if (keyboard_events_available <= 0) return std::nullopt;
    --keyboard_events_available;
    InputEvent event;
    event.type = key_down ? EventType::key_down : EventType::key_up;
    event.key_code = virtual_key;
    return event;
  }
  void keyboard_set_unicode_string(InputEvent& event, const std::u16string& text) override {
    calls.push_back("setText");
    event.text = text;
  }
  void post_to_pid(std::int32_t pid, const InputEvent& event) override {
    calls.push_back("post");
    posted.emplace_back(pid, event);
  }

  int count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call ? 1 : 0;
    return n;
  }

 private:
  static AxObject ax(FakeAx::Kind kind, Rect frame) {
    return AxObject{std::make_shared<FakeAx>(FakeAx{kind, frame})};
  }
  static const FakeAx& of(const AxObject& object) {
    return *static_cast<const FakeAx*>(object.native.get());
  }
};

}  // namespace deskhand::testing
