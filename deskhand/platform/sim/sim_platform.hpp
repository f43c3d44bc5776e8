// The platform layer used away from macOS: a simulated desktop read from the
// file named by DESKHAND_SIM_DESKTOP, real standard input and output, and
// posted events appended to the desktop's event log.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/sim/desktop.hpp"

namespace deskhand::sim {

// The event log line of a posted event: {"pid", "type", "x", "y",
// "clickState", "windowId"} for mouse events ("windowId" is the window under
// the pointer), {"pid", "type", "keyCode"} and "text" when a Unicode string
// was set for keyboard events. Compact JSON, without the line feed.
std::string event_log_line(std::int32_t pid, const InputEvent& event);

// The image that a simulated capture shows: a gradient that depends on the
// window, width × height RGB pixels.
std::vector<std::uint8_t> simulated_pixels(std::size_t width, std::size_t height, std::uint32_t window_id);

class SimPlatform final : public Platform {
 public:
  // A desktop that could not be loaded makes the window server unreachable:
  // touch_shared_application fails, and with it every request.
  explicit SimPlatform(Result<Desktop> desktop);

  void ignore_sigpipe() override;
  Result<Done> touch_shared_application() override;
  Result<std::string> read_standard_input(std::size_t limit) override;
  bool write_standard_output(std::string_view bytes) override;
  std::chrono::steady_clock::time_point now() override;

  std::optional<nlohmann::json> copy_session_dictionary() override;
  bool preflight_screen_capture_access() override;
  bool is_process_trusted() override;

  // A description with "listHangs" / "captureHangs" gets a completion that is
  // never delivered.
  CompletionPtr<std::vector<Window>> start_shareable_content() override;
  CompletionPtr<NativeHandle> start_capture_image(const Window& window,
                                                  const CaptureConfiguration& configuration) override;
  CapturedImage encode_png(const NativeHandle& image) override;

  // An application whose "activation" is "ignored" comes forward neither way:
  // its activation is refused and Accessibility cannot bring it forward.
  ActivationAnswer activate_running_application(std::int32_t pid) override;
  bool set_frontmost_through_accessibility(std::int32_t pid) override;
  std::optional<std::int32_t> frontmost_application_pid() override;
  void sleep_nanoseconds(std::uint64_t nanoseconds) override;

  std::optional<AxObject> copy_focused_window(std::int32_t pid) override;
  std::optional<AxObject> copy_position(const AxObject& window) override;
  std::optional<AxObject> copy_size(const AxObject& window) override;
  std::optional<Point> value_get_point(const AxObject& value) override;
  std::optional<Size> value_get_size(const AxObject& value) override;

  std::optional<InputEvent> create_mouse_event(EventType type, Point point) override;
  std::optional<InputEvent> create_keyboard_event(std::uint16_t virtual_key, bool key_down) override;
  void keyboard_set_unicode_string(InputEvent& event, std::u16string_view text) override;
  void set_integer_value_field(InputEvent& event, EventField field, std::int64_t value) override;
  void post_to_pid(std::int32_t pid, const InputEvent& event) override;

 private:
  Desktop desktop_;  // empty when loading failed
  std::optional<PlatformError> load_error_;
};

}  // namespace deskhand::sim
