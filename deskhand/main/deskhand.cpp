#include "main/deskhand.hpp"

#include "main/interact.hpp"
#include "main/request.hpp"
#include "main/windows.hpp"

namespace deskhand {

using nlohmann::json;

// A lock state that is there but cannot be read as a boolean counts as
// locked: the check fails closed, never posting input on a screen that may
// be locked.
bool screen_is_locked(const std::optional<json>& session) {
  if (!session) return false;
  const json* locked = member(*session, "CGSSessionScreenIsLocked");
  return locked != nullptr && !(locked->is_boolean() && !locked->get<bool>());
}

Result<json> run(Platform& platform, const std::string& action, const json& request) {
  if (action == "permissions") {
    return json{{"screen", platform.preflight_screen_capture_access()},
                {"accessibility", platform.is_process_trusted()}};
  }
  if (screen_is_locked(platform.copy_session_dictionary())) {
    return fail("This Mac is locked. Unlock it before using screenshots or app control.");
  }
  if (!platform.preflight_screen_capture_access()) {
    return fail("Enable Screen Recording for Mirel's Mac helper in System Settings, then reconnect.");
  }
  auto eligible = list_eligible_windows(platform);
  if (!eligible) return eligible.failure();
  if (action == "windows") return windows_reply(*eligible);

  auto selected = select_window(request, *eligible);
  if (!selected) return selected.failure();
  if (action == "capture") return capture(platform, *selected);
  return interact(platform, action, request, *selected);
}

Result<json> handle_request(Platform& platform) {
  auto touched = platform.touch_shared_application();
  if (!touched) return touched.failure();
  // One byte past the limit is enough to refuse the request, so a caller
  // that streams megabytes is answered at once and nothing more is held.
  auto input = platform.read_standard_input(kMaxInputBytes + 1);
  if (!input) return input.failure();
  if (input->size() > kMaxInputBytes) return fail("Invalid Mac input");
  auto request = parse_json(*input);
  if (!request) return PlatformError{"the request is not valid JSON"};
  const json* action = member(*request, "action");
  if (action == nullptr || !action->is_string()) return fail("Invalid Mac input");
  return run(platform, action->get<std::string>(), *request);
}

std::string reply_bytes(const Result<json>& reply) {
  const json body = reply ? *reply : json{{"error", reply_text(reply.failure())}};
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

int main(Platform& platform) {
  platform.ignore_sigpipe();
  const Result<json> reply = handle_request(platform);
  const bool written = platform.write_standard_output(reply_bytes(reply));
  return reply.ok() && written ? 0 : 1;
}

}  // namespace deskhand
