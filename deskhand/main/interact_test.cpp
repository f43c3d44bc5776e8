#include "main/interact.hpp"

#include <gtest/gtest.h>

#include "main/deskhand.hpp"
#include "main/fake_platform.hpp"

namespace deskhand {
namespace {

using nlohmann::json;
using testing::FakePlatform;
using testing::make_window;

constexpr const char* kNoAccessibility =
    "Enable Accessibility for Mirel's Mac helper in System Settings, then reconnect.";
constexpr const char* kGeometryChanged = "Window geometry changed. Capture it again before interacting.";
constexpr const char* kClosed = "The application closed.";
constexpr const char* kNotFocused = "Could not focus the selected app.";
constexpr const char* kNoFocusedWindow =
    "Cannot identify the focused window. Focus the selected window manually and capture again.";
constexpr const char* kCannotVerify = "Cannot verify the focused window.";
constexpr const char* kDifferentWindow = "A different window has focus. Focus the selected window and capture again.";
constexpr const char* kAmbiguous =
    "The focused window is ambiguous or changed. Move overlapping windows apart and capture the "
    "selected window again.";
constexpr std::uint64_t k50ms = 50'000'000;

constexpr std::int32_t kPid = 42;
constexpr Rect kFrame{100, 200, 800, 600};

// A desktop on which window 7 of process 42 can be focused and driven.
class Interaction : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }

  // A fresh desktop, as at the start of each test.
  void reset() {
    platform = FakePlatform();
    window = make_window(7, kPid, kFrame);
    platform.listing = std::vector<Window>{make_window(3, 99, {0, 0, 500, 500}), window};
    platform.running = {kPid, 99};
    platform.frontmost = 99;
    platform.focused = kFrame;
  }

  static json target() { return json{{"pid", kPid}, {"x", 100}, {"y", 200}, {"width", 800}, {"height", 600}}; }

  static json request(const std::string& action, json extra = json::object()) {
    json r{{"action", action}, {"windowId", 7}, {"target", target()}};
    for (auto& [key, value] : extra.items()) r[key] = value;
    return r;
  }

  // Runs the action through the whole order of checks.
  std::string error_of(const std::string& action, const json& r) {
    const auto reply = run(platform, action, r);
    return reply ? std::string("<success>") : reply_text(reply.failure());
  }

  bool succeeds(const std::string& action, const json& r) {
    const auto reply = run(platform, action, r);
    if (!reply) return false;
    EXPECT_EQ(*reply, (json{{"complete", true}, {"windowId", 7}}));
    return true;
  }

  FakePlatform platform;
  Window window;
};

// --- The focus procedure ---------------------------------------------------

TEST_F(Interaction, AVerifiedClickPostsDownAndUpToTheProcess) {
  ASSERT_TRUE(succeeds("click", request("click", {{"x", 5}, {"y", 6}})));
  ASSERT_EQ(platform.posted.size(), 2u);
  EXPECT_EQ(platform.posted[0].first, kPid);
  EXPECT_EQ(platform.posted[0].second.type, EventType::left_mouse_down);
  EXPECT_EQ(platform.posted[0].second.point.x, 105);
  EXPECT_EQ(platform.posted[0].second.point.y, 206);
  EXPECT_EQ(platform.posted[1].first, kPid);
  EXPECT_EQ(platform.posted[1].second.type, EventType::left_mouse_up);
  EXPECT_EQ(platform.posted[1].second.point.x, 105);
  EXPECT_EQ(platform.posted[1].second.point.y, 206);
  // Both carry a single click and the selected window as the one under the
  // pointer, in both fields.
  for (const auto& [pid, event] : platform.posted) {
    EXPECT_EQ(event.click_state, 1);
    EXPECT_EQ(event.window_under_pointer, 7);
    EXPECT_EQ(event.window_under_pointer_that_can_handle, 7);
  }
  EXPECT_EQ(platform.activations, std::vector<std::int32_t>{kPid});
  // The accepted activation finds the application in front at once, so
  // Accessibility is not asked; one sleep before the first check, which finds
  // it too, and the confirming read after it.
  EXPECT_TRUE(platform.accessibility_fronts.empty());
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>{k50ms});
  EXPECT_EQ(platform.frontmost_reads, 3);
}

TEST_F(Interaction, AccessibilityIsRequiredBeforeAnythingElse) {
  platform.trusted = false;
  for (const std::string action : {"click", "type", "key", "dance"}) {
    EXPECT_EQ(error_of(action, request(action, {{"x", 1}, {"y", 1}, {"text", "a"}, {"key", "tab"}})), kNoAccessibility);
  }
  EXPECT_TRUE(platform.activations.empty());
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TheTargetMustRepeatTheGeometryExactly) {
  const auto with = [](const std::string& key, const json& value) {
    json t = target();
    t[key] = value;
    return t;
  };
  const auto without = [](const std::string& key) {
    json t = target();
    t.erase(key);
    return t;
  };
  const json bad_targets[] = {
      json(nullptr),
      json::array({42, 100, 200, 800, 600}),
      json("target"),
      json::object(),
      with("x", 100.5),
      with("x", 99.5),
      with("y", 200.25),
      with("width", 801),
      with("height", 599.999),
      with("pid", 43),
      with("pid", 42.5),
      with("pid", "42"),
      with("x", "100"),
      with("x", true),
      without("pid"),
      without("x"),
      without("y"),
      without("width"),
      without("height"),
  };
  for (const json& t : bad_targets) {
    json r = request("click", {{"x", 1}, {"y", 1}});
    r["target"] = t;
    EXPECT_EQ(error_of("click", r), kGeometryChanged) << t.dump();
  }
  json r = request("click", {{"x", 1}, {"y", 1}});
  r.erase("target");
  EXPECT_EQ(error_of("click", r), kGeometryChanged);
  EXPECT_TRUE(platform.activations.empty());
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TargetNumbersOfAnyJsonKindCompareByValue) {
  json r = request("click", {{"x", 1}, {"y", 1}});
  r["target"] = json{{"pid", 42.0}, {"x", 100.0}, {"y", 200u}, {"width", 800.0}, {"height", 600}};
  EXPECT_TRUE(succeeds("click", r));
}

TEST_F(Interaction, FractionalTargetGeometryMustMatchExactly) {
  window = make_window(7, kPid, {100.5, 200.25, 800.75, 600.125});
  platform.listing = std::vector<Window>{window};
  platform.focused = window.frame;
  json r = request("key", {{"key", "tab"}});
  r["target"] = json{{"pid", 42}, {"x", 100.5}, {"y", 200.25}, {"width", 800.75}, {"height", 600.125}};
  EXPECT_TRUE(succeeds("key", r));
  r["target"]["x"] = 100;
  EXPECT_EQ(error_of("key", r), kGeometryChanged);
}

TEST_F(Interaction, AnApplicationThatIsNotRunningHasClosed) {
  platform.running = {99};
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), kClosed);
  EXPECT_TRUE(platform.sleeps.empty());
  EXPECT_TRUE(platform.accessibility_fronts.empty());
  EXPECT_TRUE(platform.posted.empty());
}

// The calls of the activation and the wait, in order.
std::vector<std::string> activation_calls(const FakePlatform& platform) {
  std::vector<std::string> out;
  for (const std::string& call : platform.calls) {
    if (call == "activate" || call == "axFrontmost" || call == "frontmost" || call == "sleep") {
      out.push_back(call);
    }
  }
  return out;
}

TEST_F(Interaction, ARefusedActivationFallsBackToAccessibilityAtOnce) {
  platform.activation_refused = true;
  ASSERT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  // No look at the front between the refusal and Accessibility.
  EXPECT_EQ(activation_calls(platform),
            (std::vector<std::string>{"activate", "axFrontmost", "sleep", "frontmost", "frontmost"}));
  EXPECT_EQ(platform.accessibility_fronts, std::vector<std::int32_t>{kPid});
}

TEST_F(Interaction, AnAcceptedActivationWithoutEffectFallsBackToAccessibility) {
  platform.activation_brings_front = false;
  ASSERT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  EXPECT_EQ(activation_calls(platform),
            (std::vector<std::string>{"activate", "frontmost", "axFrontmost", "sleep", "frontmost", "frontmost"}));
  EXPECT_EQ(platform.accessibility_fronts, std::vector<std::int32_t>{kPid});
}

TEST_F(Interaction, WhenAccessibilityFailsTooTheWaitDecides) {
  platform.activation_refused = true;
  platform.accessibility_front_succeeds = false;
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), kNotFocused);
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(20, k50ms));
  EXPECT_TRUE(platform.posted.empty());

  // The application may still come forward on its own during the wait.
  reset();
  platform.activation_refused = true;
  platform.accessibility_front_succeeds = false;
  platform.frontmost_script = {99, 99};
  platform.frontmost = kPid;
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  EXPECT_EQ(platform.sleeps.size(), 3u);
}

TEST_F(Interaction, AnApplicationAlreadyInFrontIsFocusedEvenWhenActivationIsRefused) {
  platform.frontmost = kPid;
  platform.activation_refused = true;
  platform.accessibility_front_succeeds = false;
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
}

TEST_F(Interaction, TheWaitEndsAtTheFirstCheckThatFindsTheApplication) {
  platform.activation_brings_front = false;
  platform.accessibility_front_brings_front = false;
  // The first answer is read right after the activation.
  platform.frontmost_script = {99, 99, std::nullopt, kPid};
  platform.frontmost = kPid;
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  // Initial sleep, then a sleep after each of the two failed checks.
  EXPECT_EQ(platform.sleeps, (std::vector<std::uint64_t>{k50ms, k50ms, k50ms}));
  EXPECT_EQ(platform.frontmost_reads, 5);
}

TEST_F(Interaction, AnApplicationThatNeverComesForwardFailsAfterOneSecond) {
  platform.activation_brings_front = false;
  platform.accessibility_front_brings_front = false;
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), kNotFocused);
  // 20 checks: one sleep before the first and after each of the first 19.
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(20, k50ms));
  EXPECT_EQ(platform.frontmost_reads, 22);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, NoFrontmostApplicationCannotBeFocused) {
  platform.activation_brings_front = false;
  platform.accessibility_front_brings_front = false;
  platform.frontmost = std::nullopt;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kNotFocused);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TheTwentiethCheckGoesOnAndTheConfirmationDecides) {
  platform.activation_brings_front = false;
  platform.accessibility_front_brings_front = false;
  for (int i = 0; i < 21; ++i) platform.frontmost_script.push_back(99);
  platform.frontmost = kPid;  // the confirming read finds it
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  EXPECT_EQ(platform.sleeps.size(), 20u);
  EXPECT_EQ(platform.frontmost_reads, 22);
}

TEST_F(Interaction, AnApplicationThatLosesTheFrontBeforeConfirmationFails) {
  platform.activation_brings_front = false;
  platform.frontmost_script = {kPid, kPid, 99};
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kNotFocused);
  EXPECT_EQ(platform.sleeps.size(), 1u);
  EXPECT_TRUE(platform.accessibility_fronts.empty());
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TheFocusedWindowMustBeReadable) {
  platform.focused = std::nullopt;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kNoFocusedWindow);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, FocusedPositionThenSizeMustBeReadable) {
  platform.position_read_fails = true;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kCannotVerify);
  EXPECT_EQ(platform.count("size"), 0);  // the position is read first
  platform.position_read_fails = false;
  platform.size_read_fails = true;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kCannotVerify);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, UnextractableFocusedGeometryMeansADifferentWindow) {
  platform.point_extraction_fails = true;
  EXPECT_EQ(error_of("key", request("key", {{"key", "up"}})), kDifferentWindow);
  platform.point_extraction_fails = false;
  platform.size_extraction_fails = true;
  EXPECT_EQ(error_of("key", request("key", {{"key", "up"}})), kDifferentWindow);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, FocusedGeometryWithinOnePointPasses) {
  const Rect near[] = {{100.5, 200, 800, 600}, {99.001, 200.999, 800, 600}, {100, 200, 800.9, 599.1}};
  for (const Rect& focused : near) {
    reset();
    platform.focused = focused;
    // The second listing shows the window where Accessibility sees it.
    platform.second_listing = std::vector<Window>{make_window(7, kPid, focused)};
    EXPECT_TRUE(succeeds("key", request("key", {{"key", "up"}}))) << focused.x << "," << focused.y;
  }
}

TEST_F(Interaction, FocusedGeometryOnePointOrMoreAwayIsADifferentWindow) {
  const Rect far[] = {{101, 200, 800, 600}, {99, 200, 800, 600},  {100, 201, 800, 600},
                      {100, 200, 801, 600}, {100, 200, 800, 599}, {100, 200, 850, 600}};
  for (const Rect& focused : far) {
    reset();
    platform.focused = focused;
    platform.second_listing = std::vector<Window>{make_window(7, kPid, focused)};
    EXPECT_EQ(error_of("key", request("key", {{"key", "up"}})), kDifferentWindow)
        << focused.x << "," << focused.y << "," << focused.width << "," << focused.height;
    EXPECT_TRUE(platform.posted.empty());
  }
}

TEST_F(Interaction, TwoStackedWindowsOfTheApplicationAreAmbiguous) {
  platform.listing = std::vector<Window>{window, make_window(8, kPid, kFrame)};
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, IneligibleWindowsCountAsCandidates) {
  Window panel = make_window(9, kPid, {100.5, 200.5, 800, 600});
  panel.layer = 25;
  platform.listing = std::vector<Window>{window, panel};
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, WindowsOfOtherApplicationsAreNoCandidates) {
  platform.listing = std::vector<Window>{make_window(8, 99, kFrame), window};
  EXPECT_TRUE(succeeds("click", request("click", {{"x", 1}, {"y", 1}})));
}

TEST_F(Interaction, ANeighbourOnePointAwayIsNoCandidate) {
  platform.listing = std::vector<Window>{window, make_window(8, kPid, {101, 200, 800, 600})};
  EXPECT_TRUE(succeeds("click", request("click", {{"x", 1}, {"y", 1}})));
}

TEST_F(Interaction, TheSingleCandidateMustBeTheSelectedWindow) {
  platform.focused = Rect{100.5, 200, 800, 600};
  platform.second_listing =
      std::vector<Window>{make_window(7, kPid, {300, 300, 800, 600}), make_window(8, kPid, {100, 200, 800, 600})};
  EXPECT_EQ(error_of("type", request("type", {{"text", "x"}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AWindowGoneFromTheSecondListingIsAmbiguous) {
  platform.second_listing = std::vector<Window>{make_window(3, 99, {0, 0, 500, 500})};
  EXPECT_EQ(error_of("key", request("key", {{"key", "enter"}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AFailingSecondListingIsAPlatformError) {
  platform.second_listing = Result<std::vector<Window>>(PlatformError{"listing failed"});
  EXPECT_EQ(error_of("key", request("key", {{"key", "enter"}})), "Mac action failed");
  EXPECT_EQ(platform.listings, 2);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, ASecondListingThatNeverAnswersFailsAtTheDeadline) {
  platform.second_listing_hangs = true;
  EXPECT_EQ(error_of("key", request("key", {{"key", "enter"}})), "Mac action failed");
  EXPECT_EQ(platform.listings, 2);
  EXPECT_GT(platform.clock, std::chrono::seconds(10));
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TheFocusIsVerifiedBeforeTheArgumentsAreRead) {
  platform.trusted = false;
  EXPECT_EQ(error_of("click", request("click", {{"x", -1}})), kNoAccessibility);
  platform.trusted = true;
  EXPECT_EQ(error_of("click", request("click", {{"x", -1}})), "Click is outside the selected window.");
  EXPECT_EQ(platform.activations.size(), 1u);
}

TEST_F(Interaction, AnUnknownActionFocusesAndPostsNothing) {
  EXPECT_EQ(error_of("scroll", request("scroll")), "Unknown Mac action");
  EXPECT_EQ(platform.activations, std::vector<std::int32_t>{kPid});
  EXPECT_EQ(platform.listings, 2);
  EXPECT_TRUE(platform.posted.empty());
}

// --- Click bounds ---------------------------------------------------------

TEST_F(Interaction, ClickAtTheOriginHitsTheTopLeftPoint) {
  ASSERT_TRUE(succeeds("click", request("click", {{"x", 0}, {"y", 0}})));
  ASSERT_EQ(platform.posted.size(), 2u);
  EXPECT_EQ(platform.posted[0].second.point.x, 100);
  EXPECT_EQ(platform.posted[0].second.point.y, 200);
}

TEST_F(Interaction, ClickJustInsideTheFarEdges) {
  ASSERT_TRUE(succeeds("click", request("click", {{"x", 799.5}, {"y", 599.75}})));
  EXPECT_EQ(platform.posted[1].second.point.x, 899.5);
  EXPECT_EQ(platform.posted[1].second.point.y, 799.75);
}

TEST_F(Interaction, ClicksOutsideTheWindowPostNothing) {
  const json outside[] = {
      {{"x", 800}, {"y", 0}},
      {{"x", 0}, {"y", 600}},
      {{"x", -0.5}, {"y", 0}},
      {{"x", 0}, {"y", -1}},
      {{"x", 1e300}, {"y", 1}},
      {{"y", 1}},
      {{"x", 1}},
      {{"x", "5"}, {"y", 1}},
      {{"x", 1}, {"y", true}},
      {{"x", nullptr}, {"y", 1}},
  };
  for (const json& args : outside) {
    EXPECT_EQ(error_of("click", request("click", args)), "Click is outside the selected window.") << args.dump();
  }
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AMouseDownThatCannotBeCreatedFailsAndPostsNothing) {
  platform.mouse_events_available = 0;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), "Cannot create mouse event");
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AMouseUpThatCannotBeCreatedFailsAfterTheDownStaysPosted) {
  platform.mouse_events_available = 1;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), "Cannot create mouse event");
  ASSERT_EQ(platform.posted.size(), 1u);
  EXPECT_EQ(platform.posted[0].second.type, EventType::left_mouse_down);
}

// --- UTF-16 text limits ---------------------------------------------------

TEST_F(Interaction, TypePostsAShortTextWholeOnKeyDownAndKeyUp) {
  ASSERT_TRUE(succeeds("type", request("type", {{"text", "h\xC3\xA9llo \xF0\x9F\x98\x80"}})));
  ASSERT_EQ(platform.posted.size(), 2u);
  const std::u16string expected = u"h\u00e9llo \U0001F600";
  ASSERT_EQ(expected.size(), 8u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(platform.posted[i].first, kPid);
    EXPECT_EQ(platform.posted[i].second.key_code, 0);
    EXPECT_EQ(platform.posted[i].second.text, expected);
  }
  EXPECT_EQ(platform.posted[0].second.type, EventType::key_down);
  EXPECT_EQ(platform.posted[1].second.type, EventType::key_up);
}

TEST_F(Interaction, TextOfUpTo8000CodeUnitsIsAccepted) {
  ASSERT_TRUE(succeeds("type", request("type", {{"text", std::string(8000, 'a')}})));
  // 400 chunks of 20, each a key-down and a key-up.
  ASSERT_EQ(platform.posted.size(), 800u);
  for (std::size_t i = 0; i < 800; ++i) {
    EXPECT_EQ(platform.posted[i].second.type, i % 2 == 0 ? EventType::key_down : EventType::key_up);
    EXPECT_EQ(platform.posted[i].second.text, std::u16string(20, u'a'));
  }
  // An emoji counts as two code units: 7,998 + 2 = 8,000.
  ASSERT_TRUE(succeeds("type", request("type", {{"text", std::string(7998, 'a') + "\xF0\x9F\x98\x80"}})));
  // A two-byte UTF-8 character is one code unit: 8,000 of them.
  std::string accented;
  for (int i = 0; i < 8000; ++i) accented += "\xC3\xA9";
  ASSERT_TRUE(succeeds("type", request("type", {{"text", accented}})));
}

TEST_F(Interaction, InvalidTextPostsNothing) {
  const json invalid[] = {json(""),
                          json(std::string(8001, 'a')),
                          json(std::string(7999, 'a') + "\xF0\x9F\x98\x80"),
                          json(5),
                          json(nullptr),
                          json::array({"a"}),
                          json(true)};
  for (const json& text : invalid) {
    EXPECT_EQ(error_of("type", request("type", {{"text", text}})), "Invalid text") << text.dump().substr(0, 40);
  }
  EXPECT_EQ(error_of("type", request("type")), "Invalid text");
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AKeyboardEventThatCannotBeCreatedFailsTyping) {
  platform.keyboard_events_available = 0;
  EXPECT_EQ(error_of("type", request("type", {{"text", "a"}})), "Cannot create keyboard event");
  EXPECT_TRUE(platform.posted.empty());
  platform.keyboard_events_available = 1;
  EXPECT_EQ(error_of("type", request("type", {{"text", "a"}})), "Cannot create keyboard event");
  ASSERT_EQ(platform.posted.size(), 1u);
  EXPECT_EQ(platform.posted[0].second.type, EventType::key_down);
}

TEST_F(Interaction, WhatWasTypedBeforeAnEventFailedStaysPosted) {
  // 21 units: a pair for the first 20, then the key-up of the last one fails.
  platform.keyboard_events_available = 3;
  EXPECT_EQ(error_of("type", request("type", {{"text", std::string(21, 'x')}})), "Cannot create keyboard event");
  ASSERT_EQ(platform.posted.size(), 3u);
  EXPECT_EQ(platform.posted[1].second.type, EventType::key_up);
  EXPECT_EQ(platform.posted[1].second.text, std::u16string(20, u'x'));
  EXPECT_EQ(platform.posted[2].second.type, EventType::key_down);
  EXPECT_EQ(platform.posted[2].second.text, u"x");
}

TEST_F(Interaction, TypeSendsEachChunkAsAKeyDownKeyUpPair) {
  // 30 characters, 31 UTF-16 code units: the emoji is one character of two.
  const std::string text = "Type thirty: \xF0\x9F\x98\x80 then the rest..";
  const std::u16string units = u"Type thirty: \U0001F600 then the rest..";
  ASSERT_EQ(units.size(), 31u);
  ASSERT_TRUE(succeeds("type", request("type", {{"text", text}})));
  // "Type thirty: " is units 1 to 13 and the emoji units 14 and 15, so the
  // first chunk of 20 ends with " then".
  const std::u16string first = u"Type thirty: \U0001F600 then";
  const std::u16string second = u" the rest..";
  ASSERT_EQ(first.size(), 20u);
  ASSERT_EQ(platform.posted.size(), 4u);
  const std::u16string expected[] = {first, first, second, second};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(platform.posted[i].first, kPid);
    EXPECT_EQ(platform.posted[i].second.key_code, 0);
    EXPECT_EQ(platform.posted[i].second.type, i % 2 == 0 ? EventType::key_down : EventType::key_up);
    EXPECT_EQ(platform.posted[i].second.text, expected[i]) << i;
  }
}

TEST(TextChunks, AtMostTwentyUnitsNeverSplittingASurrogatePair) {
  const std::u16string emoji = u"\U0001F600";  // two code units
  const auto a = [](std::size_t n) { return std::u16string(n, u'a'); };
  const auto repeat = [](const std::u16string& piece, std::size_t n) {
    std::u16string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
  };
  const struct {
    std::u16string text;
    std::vector<std::size_t> sizes;
  } cases[] = {
      {u"", {}},
      {a(1), {1}},
      {a(20), {20}},
      {a(21), {20, 1}},
      {a(40), {20, 20}},
      {a(41), {20, 20, 1}},
      {a(18) + emoji, {20}},              // the pair ends the chunk exactly
      {a(18) + emoji + u"b", {20, 1}},    //
      {a(19) + emoji, {19, 2}},           // the pair would straddle the 20th unit
      {a(19) + emoji + a(18), {19, 20}},  //
      {repeat(emoji, 10), {20}},
      {repeat(emoji, 11), {20, 2}},
      {a(1) + repeat(emoji, 10), {19, 2}},
      {a(8000), std::vector<std::size_t>(400, 20)},
  };
  for (const auto& c : cases) {
    const auto chunks = text_chunks(c.text);
    std::vector<std::size_t> sizes;
    std::u16string joined;
    for (const auto chunk : chunks) {
      sizes.push_back(chunk.size());
      joined += chunk;
    }
    EXPECT_EQ(sizes, c.sizes) << c.text.size();
    EXPECT_EQ(joined, c.text);
  }
}

// --- Key table ------------------------------------------------------------

TEST(KeyTable, TheEightNamesAndTheirVirtualKeyCodes) {
  EXPECT_EQ(key_code_for("enter"), 36);
  EXPECT_EQ(key_code_for("tab"), 48);
  EXPECT_EQ(key_code_for("escape"), 53);
  EXPECT_EQ(key_code_for("backspace"), 51);
  EXPECT_EQ(key_code_for("left"), 123);
  EXPECT_EQ(key_code_for("right"), 124);
  EXPECT_EQ(key_code_for("down"), 125);
  EXPECT_EQ(key_code_for("up"), 126);
  for (const char* other : {"Enter", "TAB", "return", "space", "", "enter ", "a", "delete"}) {
    EXPECT_FALSE(key_code_for(other).has_value()) << other;
  }
}

TEST_F(Interaction, KeyPostsKeyDownThenKeyUpWithoutText) {
  ASSERT_TRUE(succeeds("key", request("key", {{"key", "escape"}})));
  ASSERT_EQ(platform.posted.size(), 2u);
  EXPECT_EQ(platform.posted[0].second.type, EventType::key_down);
  EXPECT_EQ(platform.posted[1].second.type, EventType::key_up);
  for (const auto& [pid, event] : platform.posted) {
    EXPECT_EQ(pid, kPid);
    EXPECT_EQ(event.key_code, 53);
    EXPECT_TRUE(event.text.empty());
  }
  EXPECT_EQ(platform.count("setText"), 0);
}

TEST_F(Interaction, UnsupportedKeysPostNothing) {
  for (const json& key : {json("Enter"), json("return"), json(36), json(nullptr), json("")}) {
    EXPECT_EQ(error_of("key", request("key", {{"key", key}})), "Unsupported key") << key.dump();
  }
  EXPECT_EQ(error_of("key", request("key")), "Unsupported key");
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AKeyEventThatCannotBeCreatedFails) {
  platform.keyboard_events_available = 0;
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), "Cannot create keyboard event");
  EXPECT_TRUE(platform.posted.empty());
  platform.keyboard_events_available = 1;
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), "Cannot create keyboard event");
  ASSERT_EQ(platform.posted.size(), 1u);
  EXPECT_EQ(platform.posted[0].second.type, EventType::key_down);
  EXPECT_EQ(platform.posted[0].second.key_code, 48);
}

TEST(InputActions, ActionsOnAWindowWithoutOwnerPostNothing) {
  FakePlatform platform;
  Window orphan = make_window(1, 42, {0, 0, 100, 100});
  orphan.owner.reset();
  EXPECT_FALSE(click(platform, json{{"x", 1}, {"y", 1}}, orphan).ok());
  EXPECT_FALSE(type_text(platform, json{{"text", "a"}}, orphan).ok());
  EXPECT_FALSE(press_key(platform, json{{"key", "tab"}}, orphan).ok());
  EXPECT_FALSE(focus_selected_window(platform, json::object(), orphan).ok());
  EXPECT_TRUE(platform.posted.empty());
}

}  // namespace
}  // namespace deskhand
