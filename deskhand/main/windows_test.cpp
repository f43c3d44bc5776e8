#include "main/windows.hpp"

#include <gtest/gtest.h>

#include "main/deskhand.hpp"
#include "main/fake_platform.hpp"

namespace deskhand {
namespace {

using nlohmann::json;
using testing::error_of;
using testing::FakePlatform;
using testing::kUnavailable;
using testing::make_window;

constexpr const char* kTooLarge = "Window screenshot exceeds 3 MB; resize the window and try again.";

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// --- Eligibility and selection --------------------------------------------

TEST(EligibilityAndSelection, OnlyLayerZeroOwnedWindowsLargerThanOnePointAreEligible) {
  Window window = make_window(1, 42, {0, 0, 100, 100});
  EXPECT_TRUE(is_eligible(window));

  Window menu = window;
  menu.layer = 25;
  EXPECT_FALSE(is_eligible(menu));
  Window below = window;
  below.layer = -1;
  EXPECT_FALSE(is_eligible(below));

  Window thin = window;
  thin.frame.width = 1;
  EXPECT_FALSE(is_eligible(thin));
  Window flat = window;
  flat.frame.height = 1;
  EXPECT_FALSE(is_eligible(flat));
  Window barely = window;
  barely.frame.width = 1.5;
  barely.frame.height = 1.5;
  EXPECT_TRUE(is_eligible(barely));

  Window orphan = window;
  orphan.owner.reset();
  EXPECT_FALSE(is_eligible(orphan));
}

TEST(EligibilityAndSelection, ListingKeepsThePlatformOrderOfEligibleWindows) {
  FakePlatform platform;
  Window menu = make_window(2, 42, {0, 0, 100, 20});
  menu.layer = 25;
  Window orphan = make_window(4, 42, {0, 0, 100, 100});
  orphan.owner.reset();
  platform.listing =
      std::vector<Window>{make_window(3, 42, {0, 0, 100, 100}), menu, make_window(1, 43, {0, 0, 100, 100}), orphan,
                          make_window(5, 42, {0, 0, 1, 100})};
  const auto reply = run(platform, "windows", json::object());
  ASSERT_TRUE(reply.ok());
  std::vector<std::uint32_t> ids;
  for (const json& w : reply->at("windows")) ids.push_back(w.at("windowId").get<std::uint32_t>());
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{3, 1}));
}

TEST(EligibilityAndSelection, NoEligibleWindowsListsAnEmptyArray) {
  FakePlatform platform;
  EXPECT_EQ(*run(platform, "windows", json::object()), (json{{"windows", json::array()}}));
}

TEST(EligibilityAndSelection, AtMostTheFirstHundredAreListed) {
  std::vector<Window> windows;
  for (std::uint32_t id = 1; id <= 150; ++id) windows.push_back(make_window(id, 42, {0, 0, 50, 50}));
  const json reply = windows_reply(windows);
  ASSERT_EQ(reply.at("windows").size(), 100u);
  EXPECT_EQ(reply["windows"][0]["windowId"], 1);
  EXPECT_EQ(reply["windows"][99]["windowId"], 100);
}

TEST(EligibilityAndSelection, ADescriptionHasExactlyTheNineKeys) {
  Window window = make_window(4294967295u, -5, {-10.25, 20.5, 800.75, 600.125}, std::string("Inbox"));
  window.owner->name = "Mail";
  window.owner->bundle_id = "com.apple.mail";
  EXPECT_EQ(describe(window), (json{{"windowId", 4294967295u},
                                    {"pid", -5},
                                    {"app", "Mail"},
                                    {"bundleId", "com.apple.mail"},
                                    {"title", "Inbox"},
                                    {"x", -10.25},
                                    {"y", 20.5},
                                    {"width", 800.75},
                                    {"height", 600.125}}));
}

TEST(EligibilityAndSelection, TitlesAreCutToThreeHundredCharacters) {
  Window window = make_window(1, 42, {0, 0, 10, 10});
  window.title = repeat("a", 301);
  EXPECT_EQ(describe(window)["title"], repeat("a", 300));
  window.title = repeat("\xC3\xA9", 301);  // é, two bytes each
  EXPECT_EQ(describe(window)["title"], repeat("\xC3\xA9", 300));
  window.title = repeat("\xF0\x9F\x98\x80", 301);  // an emoji, one character each
  EXPECT_EQ(describe(window)["title"], repeat("\xF0\x9F\x98\x80", 300));
  window.title = repeat("b", 300);
  EXPECT_EQ(describe(window)["title"], repeat("b", 300));
}

TEST(EligibilityAndSelection, AWindowWithoutTitleHasAnEmptyTitle) {
  Window window = make_window(1, 42, {0, 0, 10, 10}, std::nullopt);
  EXPECT_EQ(describe(window)["title"], "");
}

TEST(EligibilityAndSelection, SelectionNeedsAnExactUnsigned32BitIdentifier) {
  const std::vector<Window> eligible{make_window(7, 42, {0, 0, 10, 10})};
  for (const json& id : {json(12.5), json(-1), json(-7), json("7"), json(true), json(nullptr), json(4294967296ull),
                         json(7.5), json::array({7})}) {
    const auto selected = select_window(json{{"windowId", id}}, eligible);
    ASSERT_FALSE(selected.ok()) << id.dump();
    EXPECT_EQ(reply_text(selected.failure()), kUnavailable);
  }
  EXPECT_FALSE(select_window(json::object(), eligible).ok());
  EXPECT_FALSE(select_window(json{{"windowId", 8}}, eligible).ok());
  ASSERT_TRUE(select_window(json{{"windowId", 7}}, eligible).ok());
  ASSERT_TRUE(select_window(json{{"windowId", 7.0}}, eligible).ok());
}

TEST(EligibilityAndSelection, TheFirstWindowWithTheIdentifierIsSelected) {
  const std::vector<Window> eligible{make_window(7, 42, {0, 0, 10, 10}), make_window(7, 43, {5, 5, 20, 20})};
  const auto selected = select_window(json{{"windowId", 7}}, eligible);
  ASSERT_TRUE(selected.ok());
  EXPECT_EQ(selected->owner->pid, 42);
}

TEST(EligibilityAndSelection, IneligibleWindowsCannotBeSelected) {
  FakePlatform platform;
  Window menu = make_window(2, 42, {0, 0, 100, 20});
  menu.layer = 25;
  Window orphan = make_window(3, 42, {0, 0, 100, 100});
  orphan.owner.reset();
  platform.listing = std::vector<Window>{menu, orphan, make_window(4, 42, {0, 0, 1, 50})};
  for (const int id : {2, 3, 4}) {
    EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", id}})), kUnavailable) << id;
  }
  EXPECT_TRUE(platform.captures.empty());
}

TEST(EligibilityAndSelection, AWindowBeyondTheFirstHundredCanStillBeSelected) {
  FakePlatform platform;
  std::vector<Window> windows;
  for (std::uint32_t id = 1; id <= 150; ++id) windows.push_back(make_window(id, 42, {0, 0, 50, 50}));
  platform.listing = windows;
  const auto reply = run(platform, "capture", json{{"windowId", 150}});
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ((*reply)["windowId"], 150);
}

// --- Capture sizing and limit ---------------------------------------------

TEST(CaptureSizingAndLimit, TheLongerSideIsAtMost1600Pixels) {
  const struct {
    Rect frame;
    std::size_t width, height;
  } cases[] = {
      {{0, 0, 3200, 1000}, 1600, 500},
      {{0, 0, 800, 600}, 800, 600},
      {{0, 0, 1000, 3200}, 500, 1600},
      {{0, 0, 1600, 1600}, 1600, 1600},
      {{0, 0, 1600.9, 900.9}, 1600, 900},  // scale 1600/1600.9; 900.9 × 0.99943… =
                                           // 900.39…
      {{0, 0, 1000.7, 500.3}, 1000, 500},  // never enlarged; integer parts
      {{0, 0, 2.5, 2.5}, 2, 2},
      {{0, 0, 4000, 1.5}, 1600, 1},  // 1.5 × 0.4 = 0.6, at least 1
      {{50, 70, 6400, 4800}, 1600, 1200},
  };
  for (const auto& c : cases) {
    const CaptureConfiguration configuration = capture_configuration(c.frame);
    EXPECT_EQ(configuration.width, c.width) << c.frame.width << "x" << c.frame.height;
    EXPECT_EQ(configuration.height, c.height) << c.frame.width << "x" << c.frame.height;
    EXPECT_FALSE(configuration.shows_cursor);
    EXPECT_TRUE(configuration.ignore_shadows_single_window);
    EXPECT_TRUE(configuration.ignore_global_clip_single_window);
  }
}

TEST(CaptureSizingAndLimit, TheReplyIsTheDescriptionWithTheImage) {
  FakePlatform platform;
  const Window window = make_window(7, 42, {10, 20, 3200, 1000}, std::string("Doc"));
  platform.listing = std::vector<Window>{window};
  // The pixel size reported is the image's, whatever was configured.
  platform.image = CapturedImage{1599, 499, std::string("PNG!")};
  const auto reply = run(platform, "capture", json{{"windowId", 7}});
  ASSERT_TRUE(reply.ok());
  json expected = describe(window);
  expected["image"] = "UE5HIQ==";
  expected["pixelWidth"] = 1599;
  expected["pixelHeight"] = 499;
  EXPECT_EQ(*reply, expected);
  ASSERT_EQ(platform.captures.size(), 1u);
  EXPECT_EQ(platform.captures[0].width, 1600u);
  EXPECT_EQ(platform.captures[0].height, 500u);
}

TEST(CaptureSizingAndLimit, ExactlyThreeMebibytesAreAccepted) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.image = CapturedImage{100, 100, std::string(3145728, 'x')};
  const auto reply = run(platform, "capture", json{{"windowId", 7}});
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ((*reply)["image"].get_ref<const std::string&>().size(), 3145728u / 3 * 4);
}

TEST(CaptureSizingAndLimit, OneByteMoreIsTooLarge) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.image = CapturedImage{100, 100, std::string(3145729, 'x')};
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 7}})), kTooLarge);
}

TEST(CaptureSizingAndLimit, AnEncodingThatYieldsNothingIsTooLarge) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.image = CapturedImage{100, 100, std::nullopt};
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 7}})), kTooLarge);
  platform.image = CapturedImage{100, 100, std::string()};
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 7}})), kTooLarge);
}

TEST(CaptureSizingAndLimit, ACaptureThatNeverAnswersFailsAtTheDeadline) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.capture_hangs = true;
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 7}})), "Mac action failed");
  EXPECT_EQ(platform.count("encode"), 0);
  // On the fake clock: past 10 s, in polls of 10 ms.
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(1001, 10'000'000));
}

TEST(CaptureSizingAndLimit, ACaptureErrorIsAPlatformError) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.image = PlatformError{"the window vanished"};
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 7}})), "Mac action failed");
}

}  // namespace
}  // namespace deskhand
