#include "main/awaiting.hpp"

#include <gtest/gtest.h>

#include "main/deskhand.hpp"
#include "main/fake_platform.hpp"

namespace deskhand {
namespace {

using nlohmann::json;
using testing::FakePlatform;
using testing::make_window;

constexpr std::uint64_t k10ms = 10'000'000;

TEST(Completion, TheFirstDeliveryIsTakenOnce) {
  Completion<int> completion;
  EXPECT_FALSE(completion.take().has_value());
  completion.deliver(1);
  completion.deliver(2);
  const auto report = completion.take();
  ASSERT_TRUE(report.has_value());
  ASSERT_TRUE(report->ok());
  EXPECT_EQ(**report, 1);
  EXPECT_FALSE(completion.take().has_value());
}

TEST(AwaitReport, AnAnswerAlreadyThereCostsNoWait) {
  FakePlatform platform;
  Completion<int> completion;
  completion.deliver(5);
  const auto report = await_report(platform, completion, "the operation");
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(*report, 5);
  EXPECT_TRUE(platform.sleeps.empty());
}

TEST(AwaitReport, AnAnswerWithinTenSecondsIsAwaited) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  platform.listing_delay = std::chrono::seconds(10);
  const auto reply = run(platform, "windows", json::object());
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ(reply->at("windows").size(), 1u);
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(1000, k10ms));
}

TEST(AwaitReport, NoAnswerPastTenSecondsIsAPlatformError) {
  FakePlatform platform;
  Completion<int> completion;
  const auto report = await_report(platform, completion, "the operation");
  ASSERT_FALSE(report.ok());
  ASSERT_TRUE(std::holds_alternative<PlatformError>(report.failure()));
  EXPECT_EQ(std::get<PlatformError>(report.failure()).detail, "the operation did not answer within 10 seconds");
  // 1,000 polls reach the deadline; the 1,001st is past it.
  EXPECT_EQ(platform.sleeps, std::vector<std::uint64_t>(1001, k10ms));
}

TEST(AwaitReport, AListingThatNeverAnswersFailsTheAction) {
  for (const std::string action : {"windows", "capture", "click"}) {
    FakePlatform platform;
    platform.listing_hangs = true;
    platform.input = json{{"action", action}, {"windowId", 7}}.dump();
    const int status = deskhand::main(platform);
    EXPECT_EQ(json::parse(platform.written), (json{{"error", "Mac action failed"}})) << action;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(platform.listings, 1);
  }
}

}  // namespace
}  // namespace deskhand
