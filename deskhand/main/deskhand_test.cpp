#include "main/deskhand.hpp"

#include <gtest/gtest.h>

#include "main/fake_platform.hpp"

namespace deskhand {
namespace {

using nlohmann::json;
using testing::error_of;
using testing::FakePlatform;
using testing::kUnavailable;
using testing::make_window;

constexpr const char* kLocked = "This Mac is locked. Unlock it before using screenshots or app control.";
constexpr const char* kNoScreenRecording =
    "Enable Screen Recording for Mirel's Mac helper in System Settings, then reconnect.";

// Runs the whole process on the fake and returns the parsed reply.
json run_process(FakePlatform& platform, const std::string& input, int* status) {
  platform.input = input;
  *status = deskhand::main(platform);
  return json::parse(platform.written);
}

// A request padded with spaces inside the JSON text to exactly `size` bytes.
std::string padded_request(const std::string& request, std::size_t size) {
  std::string text = request;
  text.insert(1, size - request.size(), ' ');
  return text;
}

// --- Input and validation -------------------------------------------------

TEST(InputAndValidation, ReplyIsCompactJsonWithoutTrailingNewline) {
  FakePlatform platform;
  platform.screen_recording = false;
  platform.trusted = true;
  platform.input = std::string(R"({"action": "permissions"})");
  EXPECT_EQ(deskhand::main(platform), 0);
  EXPECT_EQ(json::parse(platform.written), (json{{"screen", false}, {"accessibility", true}}));
  EXPECT_EQ(platform.written.find(' '), std::string::npos);
  EXPECT_EQ(platform.written.find('\n'), std::string::npos);
}

TEST(InputAndValidation, ExactlyTheLimitIsAccepted) {
  FakePlatform platform;
  int status = -1;
  const std::string input = padded_request(R"({"action":"permissions"})", 32768);
  ASSERT_EQ(input.size(), 32768u);
  const json reply = run_process(platform, input, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, (json{{"screen", true}, {"accessibility", true}}));
}

TEST(InputAndValidation, OneByteOverTheLimitIsInvalidWithoutParsing) {
  FakePlatform platform;
  int status = -1;
  // Not even JSON: had it been parsed, the reply would be "Mac action failed".
  const json reply = run_process(platform, std::string(32769, '{'), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(reply, (json{{"error", "Invalid Mac input"}}));

  FakePlatform second;
  const json valid = run_process(second, padded_request(R"({"action":"permissions"})", 32769), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(valid, (json{{"error", "Invalid Mac input"}}));
  EXPECT_EQ(second.count("screen"), 0);
}

TEST(InputAndValidation, EmptyInputIsAPlatformError) {
  FakePlatform platform;
  int status = -1;
  EXPECT_EQ(run_process(platform, "", &status), (json{{"error", "Mac action failed"}}));
  EXPECT_EQ(status, 1);
}

TEST(InputAndValidation, MalformedJsonIsAPlatformError) {
  for (const std::string input : {R"({"action":)", "permissions", R"({"action":"windows"} x)", "\xff"}) {
    FakePlatform platform;
    int status = -1;
    EXPECT_EQ(run_process(platform, input, &status), (json{{"error", "Mac action failed"}})) << input;
    EXPECT_EQ(status, 1);
  }
}

TEST(InputAndValidation, NotAnObjectOrNoTextActionIsInvalid) {
  for (const std::string input : {R"([{"action":"permissions"}])", R"("permissions")", R"({"action":5})", R"({})",
                                  R"({"action":null})", R"({"action":["permissions"]})", "42", "null"}) {
    FakePlatform platform;
    int status = -1;
    EXPECT_EQ(run_process(platform, input, &status), (json{{"error", "Invalid Mac input"}})) << input;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(platform.count("screen"), 0);
  }
}

TEST(InputAndValidation, UnreadableInputIsAPlatformError) {
  FakePlatform platform;
  platform.input = PlatformError{"read failed"};
  EXPECT_EQ(deskhand::main(platform), 1);
  EXPECT_EQ(json::parse(platform.written), (json{{"error", "Mac action failed"}}));
}

TEST(InputAndValidation, NoWindowServerConnectionFailsBeforeReading) {
  FakePlatform platform;
  platform.touch = PlatformError{"no window server"};
  platform.input = std::string(R"({"action":"permissions"})");
  EXPECT_EQ(deskhand::main(platform), 1);
  EXPECT_EQ(json::parse(platform.written), (json{{"error", "Mac action failed"}}));
  EXPECT_EQ(platform.count("read"), 0);
  EXPECT_EQ(platform.calls.front(), "ignoreSigpipe");  // before the reply is written
}

TEST(InputAndValidation, SigpipeIsIgnoredThenTheApplicationTouched) {
  FakePlatform platform;
  platform.input = std::string(R"({"action":"permissions"})");
  deskhand::main(platform);
  ASSERT_GE(platform.calls.size(), 2u);
  EXPECT_EQ(platform.calls[0], "ignoreSigpipe");
  EXPECT_EQ(platform.calls[1], "touch");
  EXPECT_EQ(platform.calls.back(), "write");
  EXPECT_EQ(platform.count("write"), 1);
}

TEST(InputAndValidation, AtMostOneByteMoreThanTheLimitIsRead) {
  FakePlatform platform;
  int status = -1;
  // Megabytes on standard input: only 32,769 bytes are taken from it.
  const json reply = run_process(platform, std::string(4 * 1048576, ' '), &status);
  EXPECT_EQ(platform.read_limits, std::vector<std::size_t>{32769});
  EXPECT_EQ(reply, (json{{"error", "Invalid Mac input"}}));
  EXPECT_EQ(status, 1);
}

TEST(InputAndValidation, AnErrorReplyHasTheSingleKeyError) {
  FakePlatform platform;
  platform.input = std::string(R"({"action":"capture"})");
  EXPECT_EQ(deskhand::main(platform), 1);
  const json reply = json::parse(platform.written);
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply, (json{{"error", kUnavailable}}));
}

TEST(InputAndValidation, AReplyThatCannotBeWrittenEndsWithStatusOne) {
  FakePlatform platform;
  platform.write_succeeds = false;
  platform.input = std::string(R"({"action":"permissions"})");
  EXPECT_EQ(deskhand::main(platform), 1);
}

TEST(InputAndValidation, ReplyBytesOfAPlatformFailureHideTheDetail) {
  EXPECT_EQ(reply_bytes(Result<json>(PlatformError{"secret detail"})), R"({"error":"Mac action failed"})");
  EXPECT_EQ(reply_bytes(Result<json>(fail("Unsupported key"))), R"({"error":"Unsupported key"})");
}

// --- Lock and permissions -------------------------------------------------

TEST(LockAndPermissions, PermissionsAnswerOnALockedScreenWithoutPermissions) {
  FakePlatform platform;
  platform.session = json{{"CGSSessionScreenIsLocked", true}};
  platform.screen_recording = false;
  platform.trusted = false;
  platform.listing = PlatformError{"would fail"};
  const auto reply = run(platform, "permissions", json{{"action", "permissions"}});
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ(*reply, (json{{"screen", false}, {"accessibility", false}}));
  EXPECT_EQ(platform.count("session"), 0);
  EXPECT_EQ(platform.listings, 0);
}

TEST(LockAndPermissions, PermissionsReportEachPermission) {
  FakePlatform platform;
  platform.screen_recording = true;
  platform.trusted = false;
  EXPECT_EQ(*run(platform, "permissions", json::object()), (json{{"screen", true}, {"accessibility", false}}));
  platform.screen_recording = false;
  platform.trusted = true;
  EXPECT_EQ(*run(platform, "permissions", json::object()), (json{{"screen", false}, {"accessibility", true}}));
}

TEST(LockAndPermissions, ALockedScreenStopsEveryOtherAction) {
  for (const std::string action : {"windows", "capture", "click", "type", "key", "dance"}) {
    FakePlatform platform;
    platform.session = json{{"CGSSessionScreenIsLocked", true}};
    EXPECT_EQ(error_of(run(platform, action, json{{"action", action}})), kLocked) << action;
    EXPECT_EQ(platform.listings, 0);
  }
}

TEST(LockAndPermissions, OnlyAMissingStateOrTheBooleanFalseMeansUnlocked) {
  const std::optional<json> unlocked[] = {
      std::nullopt,
      json::object(),
      json{{"CGSSessionScreenIsLocked", false}},
      json{{"OtherKey", true}},
  };
  for (const auto& session : unlocked) {
    EXPECT_FALSE(screen_is_locked(session)) << (session ? session->dump() : "none");
    FakePlatform platform;
    platform.session = session;
    EXPECT_TRUE(run(platform, "windows", json::object()).ok());
  }
  // A state that is there but not a boolean cannot be trusted to mean
  // unlocked.
  const json locked[] = {
      json{{"CGSSessionScreenIsLocked", true}, {"Other", 0}},
      json{{"CGSSessionScreenIsLocked", 1}},
      json{{"CGSSessionScreenIsLocked", 0}},
      json{{"CGSSessionScreenIsLocked", "false"}},
      json{{"CGSSessionScreenIsLocked", nullptr}},
      json{{"CGSSessionScreenIsLocked", json::array()}},
  };
  for (const json& session : locked) {
    EXPECT_TRUE(screen_is_locked(session)) << session.dump();
    FakePlatform platform;
    platform.session = session;
    EXPECT_EQ(error_of(run(platform, "click", json{{"action", "click"}})), kLocked) << session.dump();
    EXPECT_EQ(platform.listings, 0);
  }
}

TEST(LockAndPermissions, MissingScreenRecordingStopsEveryOtherAction) {
  for (const std::string action : {"windows", "capture", "click", "type", "key", "dance"}) {
    FakePlatform platform;
    platform.screen_recording = false;
    EXPECT_EQ(error_of(run(platform, action, json{{"action", action}})), kNoScreenRecording) << action;
    EXPECT_EQ(platform.listings, 0);
  }
}

TEST(LockAndPermissions, TheLockIsCheckedBeforeScreenRecording) {
  FakePlatform platform;
  platform.session = json{{"CGSSessionScreenIsLocked", true}};
  platform.screen_recording = false;
  EXPECT_EQ(error_of(run(platform, "windows", json::object())), kLocked);
}

TEST(LockAndPermissions, AListingErrorIsAPlatformError) {
  for (const std::string action : {"windows", "capture", "click"}) {
    FakePlatform platform;
    platform.listing = PlatformError{"listing failed"};
    EXPECT_EQ(error_of(run(platform, action, json{{"windowId", 1}})), "Mac action failed") << action;
  }
}

// --- Order of checks and dispatch ------------------------------------------

TEST(Dispatch, AnUnknownActionWithoutWindowIsUnavailableNotUnknown) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  EXPECT_EQ(error_of(run(platform, "dance", json{{"action", "dance"}})), kUnavailable);
  EXPECT_EQ(platform.count("trusted"), 0);
}

TEST(Dispatch, AnUnknownActionIsReportedAfterTheFocusIsVerified) {
  FakePlatform platform;
  const Window window = make_window(7, 42, {10, 20, 300, 200});
  platform.listing = std::vector<Window>{window};
  platform.running = {42};
  platform.focused = window.frame;
  const json request = {{"action", "dance"},
                        {"windowId", 7},
                        {"target", {{"pid", 42}, {"x", 10}, {"y", 20}, {"width", 300}, {"height", 200}}}};
  EXPECT_EQ(error_of(run(platform, "dance", request)), "Unknown Mac action");
  EXPECT_EQ(platform.activations, std::vector<std::int32_t>{42});
  EXPECT_EQ(platform.listings, 2);
  EXPECT_TRUE(platform.posted.empty());
}

TEST(Dispatch, WindowsAndCaptureNeedNoAccessibility) {
  FakePlatform platform;
  platform.trusted = false;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  EXPECT_TRUE(run(platform, "windows", json::object()).ok());
  EXPECT_TRUE(run(platform, "capture", json{{"windowId", 7}}).ok());
  EXPECT_EQ(platform.count("trusted"), 0);
  EXPECT_TRUE(platform.activations.empty());
}

TEST(Dispatch, CaptureOfAnUnavailableWindowCapturesNothing) {
  FakePlatform platform;
  platform.listing = std::vector<Window>{make_window(7, 42, {0, 0, 100, 100})};
  EXPECT_EQ(error_of(run(platform, "capture", json{{"windowId", 8}})), kUnavailable);
  EXPECT_TRUE(platform.captures.empty());
}

TEST(Dispatch, TheWholeProcessRunsAClick) {
  FakePlatform platform;
  const Window window = make_window(7, 42, {10, 20, 300, 200});
  platform.listing = std::vector<Window>{window};
  platform.running = {42};
  platform.focused = window.frame;
  int status = -1;
  const json reply = run_process(platform,
                                 R"({"action":"click","windowId":7,"x":1,"y":2,)"
                                 R"("target":{"pid":42,"x":10,"y":20,"width":300,"height":200}})",
                                 &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, (json{{"complete", true}, {"windowId", 7}}));
  ASSERT_EQ(platform.posted.size(), 2u);
  EXPECT_EQ(platform.posted[0].second.point.x, 11);
  EXPECT_EQ(platform.posted[0].second.point.y, 22);
}

}  // namespace
}  // namespace deskhand
