// Waiting for a platform completion handler, with a deadline: a listing or
// capture that never answers (a wedged capture service, a permission prompt
// left open) must fail the one action instead of hanging the helper and its
// caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand {

inline constexpr std::chrono::seconds kCallbackDeadline{10};
// How long each wait between looks at the completion lasts.
inline constexpr std::uint64_t kCallbackPollNanoseconds = 10'000'000;

// The completion's report, or a platform error once the deadline has passed
// (measured on the platform's clock from the call) without one. `what` names
// the operation in the error's detail.
template <typename T>
Result<T> await_report(Platform& platform, Completion<T>& completion, const std::string& what) {
  const auto start = platform.now();
  for (;;) {
    if (auto report = completion.take()) return std::move(*report);
    if (platform.now() - start > kCallbackDeadline) {
      return PlatformError{what + " did not answer within 10 seconds"};
    }
    platform.sleep_nanoseconds(kCallbackPollNanoseconds);
  }
}

}  // namespace deskhand
