// An in-process platform for the unit tests: answers are set field by field,
// and every call that matters is recorded (sleeps, activations, reads of the
// frontmost application, listings, captures, posted events). Its clock is
// manual: only sleeps move it, so waits cost no real time.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand::testing {

inline constexpr const char* kUnavailable = "The selected window is unavailable. List windows again.";

// The reply's error text, or "<success>".
inline std::string error_of(const Result<nlohmann::json>& reply) {
  return reply ? std::string("<success>") : reply_text(reply.failure());
}

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
  window.owner = OwningApplication{pid, "App " + std::to_string(pid), "com.example.app" + std::to_string(pid)};
  return window;
}

class FakePlatform final : public Platform {
 public:
  // Answers.
  Result<Done> touch = Done{};
  Result<std::string> input = std::string();  // the whole of standard input
  bool write_succeeds = true;
  std::optional<nlohmann::json> session;
  bool screen_recording = true;
  bool trusted = true;
  Result<std::vector<Window>> listing = std::vector<Window>{};
  // The answer of the second listing (the focus check); the first when unset.
  std::optional<Result<std::vector<Window>>> second_listing;
  Result<CapturedImage> image = CapturedImage{1, 1, std::string("PNG")};
  // A listing (every one, or the second only) or a capture whose completion
  // handler never runs.
  bool listing_hangs = false;
  bool second_listing_hangs = false;
  bool capture_hangs = false;
  // After how long the handler of a listing or capture runs.
  std::chrono::nanoseconds listing_delay{0};
  std::chrono::nanoseconds capture_delay{0};
  std::set<std::int32_t> running;
  bool activation_refused = false;
  bool activation_brings_front = true;
  bool accessibility_front_succeeds = true;
  bool accessibility_front_brings_front = true;
  std::optional<std::int32_t> frontmost;
  // Scripted answers for the frontmost application, used before `frontmost`.
  std::deque<std::optional<std::int32_t>> frontmost_script;
  std::optional<Rect> focused;  // none: the focused window cannot be read
  bool position_read_fails = false;
  bool size_read_fails = false;
  bool point_extraction_fails = false;
  bool size_extraction_fails = false;
  int mouse_events_available = 1000000;     // how many can be created
  int keyboard_events_available = 1000000;  // how many can be created

  // Records.
  std::vector<std::string> calls;
  std::string written;
  std::vector<CaptureConfiguration> captures;
  std::vector<std::int32_t> activations;
  std::vector<std::int32_t> accessibility_fronts;
  std::vector<std::size_t> read_limits;
  std::vector<std::uint64_t> sleeps;
  std::chrono::nanoseconds clock{0};
  int frontmost_reads = 0;
  int listings = 0;
  std::vector<std::pair<std::int32_t, InputEvent>> posted;

  void ignore_sigpipe() override { calls.push_back("ignoreSigpipe"); }
  Result<Done> touch_shared_application() override {
    calls.push_back("touch");
    return touch;
  }
  Result<std::string> read_standard_input(std::size_t limit) override {
    calls.push_back("read");
    read_limits.push_back(limit);
    if (!input) return input;
    return input->substr(0, limit);
  }
  bool write_standard_output(std::string_view bytes) override {
    calls.push_back("write");
    written.append(bytes);
    return write_succeeds;
  }
  std::chrono::steady_clock::time_point now() override {
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(clock));
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
  CompletionPtr<std::vector<Window>> start_shareable_content() override {
    calls.push_back("list");
    ++listings;
    const auto& answer = listings > 1 && second_listing ? *second_listing : listing;
    const bool hangs = listing_hangs || (listings > 1 && second_listing_hangs);
    return schedule(answer, hangs, listing_delay);
  }
  CompletionPtr<NativeHandle> start_capture_image(const Window&, const CaptureConfiguration& configuration) override {
    calls.push_back("capture");
    captures.push_back(configuration);
    Result<NativeHandle> answer =
        image ? Result<NativeHandle>(std::make_shared<int>(0)) : Result<NativeHandle>(image.failure());
    return schedule(answer, capture_hangs, capture_delay);
  }
  CapturedImage encode_png(const NativeHandle&) override {
    calls.push_back("encode");
    return *image;
  }
  ActivationAnswer activate_running_application(std::int32_t pid) override {
    calls.push_back("activate");
    if (running.count(pid) == 0) return ActivationAnswer::no_application;
    activations.push_back(pid);
    if (activation_refused) return ActivationAnswer::refused;
    if (activation_brings_front) frontmost = pid;
    return ActivationAnswer::accepted;
  }
  bool set_frontmost_through_accessibility(std::int32_t pid) override {
    calls.push_back("axFrontmost");
    accessibility_fronts.push_back(pid);
    if (!accessibility_front_succeeds) return false;
    if (accessibility_front_brings_front) frontmost = pid;
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
    clock += std::chrono::nanoseconds(nanoseconds);
    deliver_due();
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
  std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key, bool key_down) override {
    calls.push_back("createKey");
    if (keyboard_events_available <= 0) return std::nullopt;
    --keyboard_events_available;
    InputEvent event;
    event.type = key_down ? EventType::key_down : EventType::key_up;
    event.key_code = virtual_key;
    return event;
  }
  void keyboard_set_unicode_string(InputEvent& event, std::u16string_view text) override {
    calls.push_back("setText");
    event.text = std::u16string(text);
  }
  void set_integer_value_field(InputEvent& event, EventField field, std::int64_t value) override {
    calls.push_back("setField");
    record_integer_field(event, field, value);
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
  // A completion delivered now, once the clock reaches the delay, or never.
  template <typename T>
  CompletionPtr<T> schedule(const Result<T>& answer, bool hangs, std::chrono::nanoseconds delay) {
    auto completion = std::make_shared<Completion<T>>();
    if (hangs) {
      hung_.push_back(completion);  // kept, never delivered
    } else if (delay.count() == 0) {
      completion->deliver(answer);
    } else {
      const auto due = clock + delay;
      pending_.push_back([completion, answer, due](std::chrono::nanoseconds at) {
        if (at < due) return false;
        completion->deliver(answer);
        return true;
      });
    }
    return completion;
  }
  void deliver_due() {
    std::erase_if(pending_, [this](const auto& deliver) { return deliver(clock); });
  }

  std::vector<std::function<bool(std::chrono::nanoseconds)>> pending_;
  std::vector<std::shared_ptr<void>> hung_;

  static AxObject ax(FakeAx::Kind kind, Rect frame) { return AxObject{std::make_shared<FakeAx>(FakeAx{kind, frame})}; }
  static const FakeAx& of(const AxObject& object) { return *static_cast<const FakeAx*>(object.native.get()); }
};

}  // namespace deskhand::testing
