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
constexpr const char* kGeometryChanged =
    "Window geometry changed. Capture it again before interacting.";
constexpr const char* kClosed = "The application closed.";
constexpr const char* kNotFocused = "Could not focus the selected app.";
constexpr const char* kNoFocusedWindow =
    "Cannot identify the focused window. Focus the selected window manually and capture again.";
constexpr const char* kCannotVerify = "Cannot verify the focused window.";
constexpr const char* kDifferentWindow =
    "A different window has focus. Focus the selected window and capture again.";
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

  static json target() {
    return json{{"pid", kPid}, {"x", 100}, {"y", 200}, {"width", 800}, {"height", 600}};
  }

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

// --- The focus procedure, step by step ------------------------------------

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
  EXPECT_EQ(platform.activations, std::vector<std::int32_t>{kPid});
  // One sleep before the first check, which finds the application in front,
  // and the confirming read after it.
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>{k50ms});
  EXPECT_EQ(platform.frontmost_reads, 2);
}

TEST_F(Interaction, Step1AccessibilityIsRequired) {
  platform.trusted = false;
  for (const std::string action : {"click", "type", "key", "dance"}) {
    EXPECT_EQ(
        error_of(action, request(action, {{"x", 1}, {"y", 1}, {"text", "a"}, {"key", "tab"}})),
        kNoAccessibility);
  }
  EXPECT_TRUE(platform.activations.empty());
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step2TheTargetMustRepeatTheGeometryExactly) {
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

TEST_F(Interaction, Step2NumbersOfAnyJsonKindCompareByValue) {
  json r = request("click", {{"x", 1}, {"y", 1}});
  r["target"] = json{{"pid", 42.0}, {"x", 100.0}, {"y", 200u}, {"width", 800.0}, {"height", 600}};
  EXPECT_TRUE(succeeds("click", r));
}

TEST_F(Interaction, Step2FractionalGeometryMustMatchExactly) {
  window = make_window(7, kPid, {100.5, 200.25, 800.75, 600.125});
  platform.listing = std::vector<Window>{window};
  platform.focused = window.frame;
  json r = request("key", {{"key", "tab"}});
  r["target"] =
      json{{"pid", 42}, {"x", 100.5}, {"y", 200.25}, {"width", 800.75}, {"height", 600.125}};
  EXPECT_TRUE(succeeds("key", r));
  r["target"]["x"] = 100;
  EXPECT_EQ(error_of("key", r), kGeometryChanged);
}

TEST_F(Interaction, Step3AnApplicationThatIsNotRunningClosed) {
  platform.running = {99};
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), kClosed);
  EXPECT_TRUE(platform.sleeps.empty());
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step4TheWaitEndsAtTheFirstCheckThatFindsTheApplication) {
  platform.activation_brings_front = false;
  platform.frontmost_script = {99, std::nullopt, kPid};
  platform.frontmost = kPid;
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  // Initial sleep, then a sleep after each of the two failed checks.
  EXPECT_EQ(platform.sleeps, (std::vector<std::uint64_t>{k50ms, k50ms, k50ms}));
  EXPECT_EQ(platform.frontmost_reads, 4);
}

TEST_F(Interaction, Step4And5AnApplicationThatNeverComesForwardFailsAfterOneSecond) {
  platform.activation_brings_front = false;
  EXPECT_EQ(error_of("key", request("key", {{"key", "tab"}})), kNotFocused);
  // 20 checks: one sleep before the first and after each of the first 19.
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(20, k50ms));
  EXPECT_EQ(platform.frontmost_reads, 21);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step5NoFrontmostApplicationFails) {
  platform.activation_brings_front = false;
  platform.frontmost = std::nullopt;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kNotFocused);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step5TheTwentiethCheckGoesOnAndTheConfirmationDecides) {
  platform.activation_brings_front = false;
  for (int i = 0; i < 20; ++i) platform.frontmost_script.push_back(99);
  platform.frontmost = kPid;  // the confirming read finds it
  EXPECT_TRUE(succeeds("key", request("key", {{"key", "tab"}})));
  EXPECT_EQ(platform.sleeps.size(), 20u);
  EXPECT_EQ(platform.frontmost_reads, 21);
}

TEST_F(Interaction, Step5AnApplicationThatLosesTheFrontBeforeConfirmationFails) {
  platform.activation_brings_front = false;
  platform.frontmost_script = {kPid, 99};
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kNotFocused);
  EXPECT_EQ(platform.sleeps.size(), 1u);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step6TheFocusedWindowMustBeReadable) {
  platform.focused = std::nullopt;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kNoFocusedWindow);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step7PositionAndSizeMustBeReadable) {
  platform.position_read_fails = true;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kCannotVerify);
  EXPECT_EQ(platform.count("size"), 0);  // the position is read first
  platform.position_read_fails = false;
  platform.size_read_fails = true;
  EXPECT_EQ(error_of("type", request("type", {{"text", "hi"}})), kCannotVerify);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step8ValuesThatCannotBeExtractedMeanADifferentWindow) {
  platform.point_extraction_fails = true;
  EXPECT_EQ(error_of("key", request("key", {{"key", "up"}})), kDifferentWindow);
  platform.point_extraction_fails = false;
  platform.size_extraction_fails = true;
  EXPECT_EQ(error_of("key", request("key", {{"key", "up"}})), kDifferentWindow);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step8DifferencesBelowOnePointPass) {
  const Rect near[] = {
      {100.5, 200, 800, 600}, {99.001, 200.999, 800, 600}, {100, 200, 800.9, 599.1}};
  for (const Rect& focused : near) {
    reset();
    platform.focused = focused;
    // The second listing shows the window where Accessibility sees it.
    platform.second_listing = std::vector<Window>{make_window(7, kPid, focused)};
    EXPECT_TRUE(succeeds("key", request("key", {{"key", "up"}}))) << focused.x << "," << focused.y;
  }
}

TEST_F(Interaction, Step8DifferencesOfOnePointOrMoreFail) {
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

TEST_F(Interaction, Step9TwoStackedWindowsOfTheApplicationAreAmbiguous) {
  platform.listing = std::vector<Window>{window, make_window(8, kPid, kFrame)};
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step9CountsWindowsThatAreNotEligible) {
  Window panel = make_window(9, kPid, {100.5, 200.5, 800, 600});
  panel.layer = 25;
  platform.listing = std::vector<Window>{window, panel};
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step9IgnoresWindowsOfOtherApplications) {
  platform.listing = std::vector<Window>{make_window(8, 99, kFrame), window};
  EXPECT_TRUE(succeeds("click", request("click", {{"x", 1}, {"y", 1}})));
}

TEST_F(Interaction, Step9ANeighbourOnePointAwayIsNotACandidate) {
  platform.listing = std::vector<Window>{window, make_window(8, kPid, {101, 200, 800, 600})};
  EXPECT_TRUE(succeeds("click", request("click", {{"x", 1}, {"y", 1}})));
}

TEST_F(Interaction, Step9TheSingleCandidateMustBeTheSelectedWindow) {
  platform.focused = Rect{100.5, 200, 800, 600};
  platform.second_listing = std::vector<Window>{make_window(7, kPid, {300, 300, 800, 600}),
                                                make_window(8, kPid, {100, 200, 800, 600})};
  EXPECT_EQ(error_of("type", request("type", {{"text", "x"}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step9AWindowGoneFromTheSecondListingIsAmbiguous) {
  platform.second_listing = std::vector<Window>{make_window(3, 99, {0, 0, 500, 500})};
  EXPECT_EQ(error_of("key", request("key", {{"key", "enter"}})), kAmbiguous);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, Step9AFailingSecondListingIsAPlatformError) {
  platform.second_listing = Result<std::vector<Window>>(PlatformError{"listing failed"});
  EXPECT_EQ(error_of("key", request("key", {{"key", "enter"}})), "Mac action failed");
  EXPECT_EQ(platform.listings, 2);
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, TheFocusIsVerifiedBeforeTheArgumentsAreRead) {
  platform.trusted = false;
  EXPECT_EQ(error_of("click", request("click", {{"x", -1}})), kNoAccessibility);
  platform.trusted = true;
  EXPECT_EQ(error_of("click", request("click", {{"x", -1}})),
            "Click is outside the selected window.");
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
    EXPECT_EQ(error_of("click", request("click", args)), "Click is outside the selected window.")
        << args.dump();
  }
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AMouseDownThatCannotBeCreatedFailsAndPostsNothing) {
  platform.mouse_events_available = 0;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), "Cannot create mouse event");
  EXPECT_TRUE(platform.posted.empty());
}

TEST_F(Interaction, AMouseUpThatCannotBeCreatedFailsAfterTheDown) {
  platform.mouse_events_available = 1;
  EXPECT_EQ(error_of("click", request("click", {{"x", 1}, {"y", 1}})), "Cannot create mouse event");
  ASSERT_EQ(platform.posted.size(), 1u);
  EXPECT_EQ(platform.posted[0].second.type, EventType::left_mouse_down);
}

// --- UTF-16 text limits ---------------------------------------------------

TEST_F(Interaction, TypePostsTheWholeTextOnKeyDownAndKeyUp) {
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
  EXPECT_EQ(platform.posted[0].second.text.size(), 8000u);
  // An emoji counts as two code units: 7,998 + 2 = 8,000.
  ASSERT_TRUE(
      succeeds("type", request("type", {{"text", std::string(7998, 'a') + "\xF0\x9F\x98\x80"}})));
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
    EXPECT_EQ(error_of("type", request("type", {{"text", text}})), "Invalid text")
        << text.dump().substr(0, 40);
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
