// Failures as values: every operation of the helper returns either its value
// or the failure that stopped it.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace deskhand {

// A failure that the helper itself detects; its message is what the caller sees.
struct ToolError {
  std::string message;
};

// A failure reported by the platform (unreadable input, invalid JSON, an error
// delivered by the window listing or the capture). The caller only ever sees
// "Mac action failed"; the detail is for debugging.
struct PlatformError {
  std::string detail;
};

using Failure = std::variant<ToolError, PlatformError>;

// The value of an operation that has no value of its own.
struct Done {};

// Either a value of type T or the failure that prevented it.
template <typename T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(ToolError error) : state_(std::in_place_index<1>, std::move(error)) {}
  Result(PlatformError error) : state_(std::in_place_index<1>, std::move(error)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }

  const Failure& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// The failure with the given message, as the caller will see it.
inline ToolError fail(std::string message) { return ToolError{std::move(message)}; }

// The text of the error reply for a failure: a ToolError's own message, and
// "Mac action failed" for every platform error.
inline std::string reply_text(const Failure& failure) {
  if (const auto* tool = std::get_if<ToolError>(&failure)) return tool->message;
  return "Mac action failed";
}

}  // namespace deskhand
