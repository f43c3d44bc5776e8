// The report of a platform operation that answers through a completion
// handler. The platform delivers it once, from whatever thread its handler
// runs on; the helper's task takes it on the main thread, or gives up waiting
// for it (a listing or capture that never answers must not hang the helper).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "main/result.hpp"

namespace deskhand {

template <typename T>
class Completion {
 public:
  // Stores the report; a second delivery is ignored.
  void deliver(Result<T> report) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (delivered_) return;
    delivered_ = true;
    report_.emplace(std::move(report));
  }

  // The report once it has been delivered (handed out once), none before.
  std::optional<Result<T>> take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::optional<Result<T>> out = std::move(report_);
    report_.reset();
    return out;
  }

 private:
  std::mutex mutex_;
  bool delivered_ = false;
  std::optional<Result<T>> report_;
};

// Shared between the platform's handler and the waiting task, so that a
// handler that fires after the task gave up still has somewhere to deliver.
template <typename T>
using CompletionPtr = std::shared_ptr<Completion<T>>;

// A completion that is already delivered.
template <typename T>
CompletionPtr<T> completed(Result<T> report) {
  auto completion = std::make_shared<Completion<T>>();
  completion->deliver(std::move(report));
  return completion;
}

}  // namespace deskhand
