#include "platform/sim/sim_platform.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace deskhand::sim {
namespace {

using nlohmann::json;

SimPlatform platform_for(const char* desktop) {
  auto parsed = parse_desktop(desktop);
  EXPECT_TRUE(parsed.ok()) << desktop;
  return SimPlatform(std::move(parsed));
}

// The width and height written in a PNG's IHDR chunk.
std::pair<std::uint32_t, std::uint32_t> png_size(const std::string& png) {
  const auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<std::uint8_t>(png.at(at + i));
    return v;
  };
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  return {be32(16), be32(20)};
}

constexpr const char* kOneWindow = R"({"screenRecording": true, "windows": [
  {"windowId": 7, "x": 10, "y": 20, "width": 300, "height": 200, "title": "T",
   "owner": {"pid": 42, "name": "Editor", "bundleId": "com.example.editor"}},
  {"windowId": 8, "x": 0, "y": 0, "width": 300, "height": 200, "pngBytes": 3145729,
   "owner": {"pid": 42, "name": "Editor", "bundleId": "com.example.editor"}}]})";

TEST(SimPlatform, ADesktopThatCouldNotBeLoadedFailsTheConnection) {
  SimPlatform broken(Result<Desktop>(PlatformError{"unreadable"}));
  EXPECT_FALSE(broken.touch_shared_application().ok());
  SimPlatform empty(Desktop{});
  EXPECT_TRUE(empty.touch_shared_application().ok());
}

// The windows of a listing that answers at once.
std::vector<Window> list(SimPlatform& platform) {
  auto report = platform.start_shareable_content()->take();
  EXPECT_TRUE(report.has_value() && report->ok());
  return report && *report ? **report : std::vector<Window>{};
}

// The encoded image of a capture that answers at once, or none.
std::optional<CapturedImage> capture(SimPlatform& platform, const Window& window,
                                     const CaptureConfiguration& configuration) {
  auto report = platform.start_capture_image(window, configuration)->take();
  EXPECT_TRUE(report.has_value());
  if (!report || !*report) return std::nullopt;
  return platform.encode_png(**report);
}

TEST(SimPlatform, ListsEveryWindowInOrder) {
  SimPlatform platform = platform_for(kOneWindow);
  const auto windows = list(platform);
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].window_id, 7u);
  EXPECT_EQ(windows[1].window_id, 8u);
  const auto failed = platform_for(R"({"listError": true})").start_shareable_content()->take();
  ASSERT_TRUE(failed.has_value());
  EXPECT_FALSE(failed->ok());
}

TEST(SimPlatform, HangingListingsAndCapturesNeverAnswer) {
  EXPECT_FALSE(platform_for(R"({"listHangs": true})").start_shareable_content()->take());
  SimPlatform platform = platform_for(R"({"captureHangs": true, "windows": [
    {"windowId": 1, "x": 0, "y": 0, "width": 5, "height": 5}]})");
  const auto windows = list(platform);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_FALSE(platform.start_capture_image(windows[0], CaptureConfiguration{5, 5})->take());
}

TEST(SimPlatform, CapturesARealPngOfTheConfiguredSize) {
  SimPlatform platform = platform_for(kOneWindow);
  const auto image = capture(platform, list(platform)[0], CaptureConfiguration{300, 17});
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->pixel_width, 300u);
  EXPECT_EQ(image->pixel_height, 17u);
  ASSERT_TRUE(image->png.has_value());
  EXPECT_EQ(image->png->substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png_size(*image->png), (std::pair<std::uint32_t, std::uint32_t>{300, 17}));
}

TEST(SimPlatform, PngBytesSetsTheEncodedLength) {
  SimPlatform platform = platform_for(kOneWindow);
  const auto image = capture(platform, list(platform)[1], CaptureConfiguration{30, 20});
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->png->size(), 3145729u);
}

TEST(SimPlatform, CaptureErrorsAreReported) {
  SimPlatform platform = platform_for(R"({"captureError": true, "windows": [
    {"windowId": 1, "x": 0, "y": 0, "width": 5, "height": 5}]})");
  EXPECT_FALSE(capture(platform, list(platform)[0], CaptureConfiguration{5, 5}).has_value());
}

TEST(SimPlatform, ActivationMakesARunningApplicationFrontmostUnlessIgnored) {
  SimPlatform platform = platform_for(R"({"running": [1, 2, 4], "frontmost": 2, "activation": {"2": "ignored"}})");
  EXPECT_EQ(platform.frontmost_application_pid(), 2);
  EXPECT_EQ(platform.activate_running_application(3), ActivationAnswer::no_application);
  EXPECT_FALSE(platform.set_frontmost_through_accessibility(3));
  EXPECT_EQ(platform.frontmost_application_pid(), 2);
  EXPECT_EQ(platform.activate_running_application(1), ActivationAnswer::accepted);
  EXPECT_EQ(platform.frontmost_application_pid(), 1);
  // An ignored application comes forward neither way.
  EXPECT_EQ(platform.activate_running_application(2), ActivationAnswer::refused);
  EXPECT_FALSE(platform.set_frontmost_through_accessibility(2));
  EXPECT_EQ(platform.frontmost_application_pid(), 1);
  EXPECT_TRUE(platform.set_frontmost_through_accessibility(4));
  EXPECT_EQ(platform.frontmost_application_pid(), 4);
}

TEST(SimPlatform, AccessibilityFollowsTheFocusedDescription) {
  SimPlatform platform = platform_for(R"({"focused": {"1": {"x": 1, "y": 2, "width": 3, "height": 4},
    "2": "none", "3": "positionError", "4": "sizeError"}})");
  const auto window = platform.copy_focused_window(1);
  ASSERT_TRUE(window.has_value());
  const auto position = platform.copy_position(*window);
  const auto size = platform.copy_size(*window);
  ASSERT_TRUE(position && size);
  EXPECT_EQ(platform.value_get_point(*position)->x, 1);
  EXPECT_EQ(platform.value_get_point(*position)->y, 2);
  EXPECT_EQ(platform.value_get_size(*size)->width, 3);
  EXPECT_EQ(platform.value_get_size(*size)->height, 4);
  EXPECT_FALSE(platform.value_get_point(*size).has_value());
  EXPECT_FALSE(platform.value_get_size(*position).has_value());

  EXPECT_FALSE(platform.copy_focused_window(2).has_value());
  EXPECT_FALSE(platform.copy_focused_window(5).has_value());  // no window at all
  EXPECT_FALSE(platform.copy_position(*platform.copy_focused_window(3)).has_value());
  EXPECT_TRUE(platform.copy_size(*platform.copy_focused_window(3)).has_value());
  EXPECT_TRUE(platform.copy_position(*platform.copy_focused_window(4)).has_value());
  EXPECT_FALSE(platform.copy_size(*platform.copy_focused_window(4)).has_value());
}

TEST(SimPlatform, EventLogLines) {
  InputEvent down;
  down.type = EventType::left_mouse_down;
  down.point = {110.5, 220};
  down.click_state = 1;
  down.window_under_pointer = 7;
  EXPECT_EQ(
      json::parse(event_log_line(42, down)),
      (json{{"pid", 42}, {"type", "leftMouseDown"}, {"x", 110.5}, {"y", 220}, {"clickState", 1}, {"windowId", 7}}));
  InputEvent up = down;
  up.type = EventType::left_mouse_up;
  EXPECT_EQ(json::parse(event_log_line(42, up))["type"], "leftMouseUp");

  InputEvent key;
  key.type = EventType::key_down;
  key.key_code = 36;
  EXPECT_EQ(json::parse(event_log_line(-3, key)), (json{{"pid", -3}, {"type", "keyDown"}, {"keyCode", 36}}));
  key.type = EventType::key_up;
  key.key_code = 0;
  key.text = u"h\u00e9\U0001F600";
  EXPECT_EQ(json::parse(event_log_line(7, key)),
            (json{{"pid", 7}, {"type", "keyUp"}, {"keyCode", 0}, {"text", "h\xC3\xA9\xF0\x9F\x98\x80"}}));
  EXPECT_EQ(event_log_line(7, key).find('\n'), std::string::npos);
}

TEST(SimPlatform, PostedEventsAreAppendedToTheLogInOrder) {
  const std::string log = ::testing::TempDir() + "deskhand_sim_events.jsonl";
  std::remove(log.c_str());
  const std::string desktop = json{{"eventLog", log}}.dump();
  SimPlatform platform = platform_for(desktop.c_str());
  auto down = platform.create_keyboard_event(48, true);
  auto up = platform.create_keyboard_event(48, false);
  ASSERT_TRUE(down && up);
  platform.post_to_pid(5, *down);
  platform.post_to_pid(5, *up);
  std::ifstream file(log);
  std::string first, second, third;
  std::getline(file, first);
  std::getline(file, second);
  EXPECT_FALSE(std::getline(file, third));
  std::remove(log.c_str());
  EXPECT_EQ(json::parse(first), (json{{"pid", 5}, {"type", "keyDown"}, {"keyCode", 48}}));
  EXPECT_EQ(json::parse(second), (json{{"pid", 5}, {"type", "keyUp"}, {"keyCode", 48}}));
}

TEST(SimPlatform, EventFieldsAreKeptOnTheEvent) {
  SimPlatform platform(Desktop{});
  auto event = platform.create_mouse_event(EventType::left_mouse_up, {1, 2});
  ASSERT_TRUE(event.has_value());
  platform.set_integer_value_field(*event, EventField::mouse_click_state, 1);
  platform.set_integer_value_field(*event, EventField::window_under_mouse_pointer, 9);
  platform.set_integer_value_field(*event, EventField::window_under_mouse_pointer_that_can_handle_this_event, 10);
  EXPECT_EQ(event->click_state, 1);
  EXPECT_EQ(event->window_under_pointer, 9);
  EXPECT_EQ(event->window_under_pointer_that_can_handle, 10);
}

TEST(SimPlatform, EventsThatCannotBeCreated) {
  SimPlatform keys = platform_for(R"({"keyboardEventsFail": true})");
  EXPECT_FALSE(keys.create_keyboard_event(0, true).has_value());
  EXPECT_TRUE(keys.create_mouse_event(EventType::left_mouse_down, {1, 1}).has_value());
  SimPlatform mice = platform_for(R"({"mouseEventsFail": true})");
  EXPECT_FALSE(mice.create_mouse_event(EventType::left_mouse_up, {1, 1}).has_value());
  EXPECT_TRUE(mice.create_keyboard_event(0, false).has_value());
}

TEST(SimPlatform, PermissionsAndSession) {
  SimPlatform platform = platform_for(R"({"session": {"CGSSessionScreenIsLocked": true}, "accessibility": true})");
  EXPECT_EQ(platform.copy_session_dictionary(), (json{{"CGSSessionScreenIsLocked", true}}));
  EXPECT_FALSE(platform.preflight_screen_capture_access());
  EXPECT_TRUE(platform.is_process_trusted());
  SimPlatform empty(Desktop{});
  EXPECT_FALSE(empty.copy_session_dictionary().has_value());
}

}  // namespace
}  // namespace deskhand::sim
