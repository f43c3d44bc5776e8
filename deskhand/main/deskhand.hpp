// The helper's process frame: one JSON request on standard input, one action,
// one JSON reply on standard output.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand {

// Whether a session dictionary says that the screen is locked: it exists and
// its "CGSSessionScreenIsLocked" is the boolean true.
bool screen_is_locked(const std::optional<nlohmann::json>& session);

// Performs one action on the whole request and returns its success reply.
// Checks, in order: "permissions" (no other check); the screen lock; Screen
// Recording; the listing ("windows"); the window selection; "capture"; and
// for every other name the focus procedure and the input actions.
Result<nlohmann::json> run(Platform& platform, const std::string& action, const nlohmann::json& request);

// Reads, validates and performs the request on standard input and returns
// the success reply or the failure. At most 32,769 bytes are read: more than
// 32,768 is "Invalid Mac input" without parsing.
Result<nlohmann::json> handle_request(Platform& platform);

// The reply as written: compact JSON without a trailing newline; a failure
// becomes {"error": text}.
std::string reply_bytes(const Result<nlohmann::json>& reply);

// The whole process: handles the request, writes the reply and returns the
// exit status, 0 for a success reply and 1 for an error reply or when the
// reply cannot be written (a closed standard output included: SIGPIPE is
// ignored first).
int main(Platform& platform);

}  // namespace deskhand
