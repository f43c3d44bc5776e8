#include "platform/sim/desktop.hpp"

#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

namespace deskhand::sim {
namespace {

using nlohmann::json;

TEST(SimDesktop, WithoutAFileTheDesktopIsEmpty) {
  const auto desktop = load_desktop(nullptr);
  ASSERT_TRUE(desktop.ok());
  EXPECT_FALSE(desktop->session.has_value());
  EXPECT_FALSE(desktop->screen_recording);
  EXPECT_FALSE(desktop->accessibility);
  EXPECT_TRUE(desktop->windows.empty());
  EXPECT_TRUE(desktop->running.empty());
  EXPECT_FALSE(desktop->frontmost.has_value());
}

TEST(SimDesktop, AnEmptyObjectHasTheDefaults) {
  const auto desktop = parse_desktop("{}");
  ASSERT_TRUE(desktop.ok());
  EXPECT_FALSE(desktop->list_error);
  EXPECT_FALSE(desktop->capture_error);
  EXPECT_FALSE(desktop->list_hangs);
  EXPECT_FALSE(desktop->capture_hangs);
  EXPECT_FALSE(desktop->keyboard_events_fail);
  EXPECT_FALSE(desktop->mouse_events_fail);
  EXPECT_FALSE(desktop->event_log.has_value());
  EXPECT_EQ(activation_of(*desktop, 5), Activation::ok);
  EXPECT_EQ(focused_window_of(*desktop, 5).kind, FocusKind::none);
}

TEST(SimDesktop, AFileThatCannotBeReadOrIsNotAnObjectIsAPlatformError) {
  EXPECT_FALSE(load_desktop("/nonexistent/desktop.json").ok());
  for (const char* text : {"", "[]", "\"desktop\"", "{", "null"}) {
    const auto desktop = parse_desktop(text);
    ASSERT_FALSE(desktop.ok()) << text;
    EXPECT_TRUE(std::holds_alternative<PlatformError>(desktop.failure()));
  }
}

TEST(SimDesktop, LoadsAFile) {
  const std::string path = ::testing::TempDir() + "deskhand_desktop_test.json";
  {
    std::ofstream file(path);
    file << R"({"screenRecording": true, "frontmost": 12})";
  }
  const auto desktop = load_desktop(path.c_str());
  std::remove(path.c_str());
  ASSERT_TRUE(desktop.ok());
  EXPECT_TRUE(desktop->screen_recording);
  EXPECT_EQ(desktop->frontmost, 12);
}

TEST(SimDesktop, ReadsWindowsWithTheirDefaults) {
  const auto desktop = parse_desktop(R"({"windows": [
    {"windowId": 7, "x": 1.5, "y": -2, "width": 300, "height": 200, "title": "T",
     "owner": {"pid": 42, "name": "Editor", "bundleId": "com.example.editor"}, "pngBytes": 10},
    {"windowId": 8, "layer": 25, "x": 0, "y": 0, "width": 10, "height": 10, "title": null, "owner": null}
  ]})");
  ASSERT_TRUE(desktop.ok());
  ASSERT_EQ(desktop->windows.size(), 2u);
  const Window& first = desktop->windows[0].window;
  EXPECT_EQ(first.window_id, 7u);
  EXPECT_EQ(first.layer, 0);
  EXPECT_EQ(first.frame.x, 1.5);
  EXPECT_EQ(first.frame.y, -2);
  EXPECT_EQ(first.frame.width, 300);
  EXPECT_EQ(first.frame.height, 200);
  EXPECT_EQ(first.title, "T");
  ASSERT_TRUE(first.owner.has_value());
  EXPECT_EQ(first.owner->pid, 42);
  EXPECT_EQ(first.owner->name, "Editor");
  EXPECT_EQ(first.owner->bundle_id, "com.example.editor");
  EXPECT_EQ(desktop->windows[0].png_bytes, 10u);
  const Window& second = desktop->windows[1].window;
  EXPECT_EQ(second.layer, 25);
  EXPECT_FALSE(second.title.has_value());
  EXPECT_FALSE(second.owner.has_value());
  EXPECT_FALSE(desktop->windows[1].png_bytes.has_value());
  // Running defaults to the owners of the windows.
  EXPECT_EQ(desktop->running, std::vector<std::int32_t>{42});
}

TEST(SimDesktop, RunningFrontmostActivationAndFocus) {
  const auto desktop = parse_desktop(R"({
    "windows": [
      {"windowId": 1, "x": 5, "y": 6, "width": 70, "height": 80, "owner": {"pid": 9, "name": "A", "bundleId": "a"}},
      {"windowId": 2, "x": 0, "y": 0, "width": 50, "height": 50, "owner": {"pid": 9, "name": "A", "bundleId": "a"}}
    ],
    "running": [9, 10],
    "frontmost": 10,
    "activation": {"9": "ignored", "10": "ok"},
    "focused": {"10": {"x": 1, "y": 2, "width": 3, "height": 4}, "11": "none",
                "12": "positionError", "13": "sizeError"}
  })");
  ASSERT_TRUE(desktop.ok());
  EXPECT_TRUE(is_running(*desktop, 9));
  EXPECT_TRUE(is_running(*desktop, 10));
  EXPECT_FALSE(is_running(*desktop, 11));
  EXPECT_EQ(desktop->frontmost, 10);
  EXPECT_EQ(activation_of(*desktop, 9), Activation::ignored);
  EXPECT_EQ(activation_of(*desktop, 10), Activation::ok);
  EXPECT_EQ(activation_of(*desktop, 11), Activation::ok);

  const Focus first_window = focused_window_of(*desktop, 9);  // the first window of pid 9
  EXPECT_EQ(first_window.kind, FocusKind::frame);
  EXPECT_EQ(first_window.frame.x, 5);
  EXPECT_EQ(first_window.frame.y, 6);
  EXPECT_EQ(first_window.frame.width, 70);
  EXPECT_EQ(first_window.frame.height, 80);
  const Focus described = focused_window_of(*desktop, 10);
  EXPECT_EQ(described.kind, FocusKind::frame);
  EXPECT_EQ(described.frame.height, 4);
  EXPECT_EQ(focused_window_of(*desktop, 11).kind, FocusKind::none);
  EXPECT_EQ(focused_window_of(*desktop, 12).kind, FocusKind::position_error);
  EXPECT_EQ(focused_window_of(*desktop, 13).kind, FocusKind::size_error);
}

TEST(SimDesktop, AChangeAfterTheFocusCheckReplacesOnlyTheKeysItGives) {
  auto desktop = parse_desktop(R"({"windows": [{"windowId": 7, "x": 1, "y": 2, "width": 30, "height": 40,
    "owner": {"pid": 42, "name": "A", "bundleId": "a"}}], "frontmost": 42,
    "afterFocusCheck": {"frontmost": 99, "focused": {"42": "none"}}})");
  ASSERT_TRUE(desktop.ok());
  ASSERT_TRUE(desktop->after_focus_check.has_value());
  EXPECT_FALSE(desktop->after_focus_check->windows.has_value());
  apply_change(*desktop, *desktop->after_focus_check);
  EXPECT_EQ(desktop->frontmost, 99);
  ASSERT_EQ(desktop->windows.size(), 1u);  // kept
  EXPECT_EQ(focused_window_of(*desktop, 42).kind, FocusKind::none);
  for (const char* bad : {R"({"afterFocusCheck": 1})", R"({"afterFocusCheck": {"windows": {}}})",
                          R"({"afterFocusCheck": {"frontmost": "x"}})"}) {
    EXPECT_FALSE(parse_desktop(bad).ok()) << bad;
  }
}

TEST(SimDesktop, FlagsSessionAndEventLog) {
  const auto desktop = parse_desktop(R"({"session": {"CGSSessionScreenIsLocked": true},
    "screenRecording": true, "accessibility": true, "listError": true, "captureError": true,
    "keyboardEventsFail": true, "mouseEventsFail": true, "eventLog": "/tmp/events.jsonl",
    "frontmost": null, "listHangs": true, "captureHangs": true})");
  ASSERT_TRUE(desktop.ok());
  EXPECT_EQ(desktop->session, (json{{"CGSSessionScreenIsLocked", true}}));
  EXPECT_TRUE(desktop->screen_recording);
  EXPECT_TRUE(desktop->accessibility);
  EXPECT_TRUE(desktop->list_error);
  EXPECT_TRUE(desktop->capture_error);
  EXPECT_TRUE(desktop->keyboard_events_fail);
  EXPECT_TRUE(desktop->mouse_events_fail);
  EXPECT_TRUE(desktop->list_hangs);
  EXPECT_TRUE(desktop->capture_hangs);
  EXPECT_EQ(desktop->event_log, "/tmp/events.jsonl");
  EXPECT_FALSE(desktop->frontmost.has_value());
}

TEST(SimDesktop, ValuesOfTheWrongTypeAreErrors) {
  const char* invalid[] = {
      R"({"session": true})",
      R"({"screenRecording": 1})",
      R"({"listHangs": "yes"})",
      R"({"captureHangs": 1})",
      R"({"windows": {}})",
      R"({"windows": [5]})",
      R"({"windows": [{"x": 0, "y": 0, "width": 1, "height": 1}]})",
      R"({"windows": [{"windowId": -1, "x": 0, "y": 0, "width": 1, "height": 1}]})",
      R"({"windows": [{"windowId": 1, "x": 0, "y": 0, "width": 1}]})",
      R"({"windows": [{"windowId": 1, "x": "0", "y": 0, "width": 1, "height": 1}]})",
      R"({"windows": [{"windowId": 1, "layer": 0.5, "x": 0, "y": 0, "width": 1, "height": 1}]})",
      R"({"windows": [{"windowId": 1, "x": 0, "y": 0, "width": 1, "height": 1, "title": 3}]})",
      R"({"windows": [{"windowId": 1, "x": 0, "y": 0, "width": 1, "height": 1, "owner": {"pid": 1}}]})",
      R"({"windows": [{"windowId": 1, "x": 0, "y": 0, "width": 1, "height": 1, "pngBytes": -1}]})",
      R"({"windows": [{"windowId": 1, "x": 0, "y": 0, "width": 1, "height": 1, "pngBytes": 67108865}]})",
      R"({"running": [1.5]})",
      R"({"frontmost": "1"})",
      R"({"activation": {"x": "ok"}})",
      R"({"activation": {"1": "maybe"}})",
      R"({"focused": {"1": "elsewhere"}})",
      R"({"focused": {"1": {"x": 1}}})",
      R"({"eventLog": 5})",
  };
  for (const char* text : invalid) {
    EXPECT_FALSE(parse_desktop(text).ok()) << text;
  }
}

}  // namespace
}  // namespace deskhand::sim
