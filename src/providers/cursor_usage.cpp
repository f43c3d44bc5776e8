#include "cursor_usage.hpp"

namespace tl {

UsageReading read_cursor_usage(const RunArtifacts&, const std::vector<Message>&, const std::vector<SubAgent>&) {
  UsageReading reading;
  reading.notes.emplace_back("Cursor's transcripts record no token usage.");
  return reading;
}

}  // namespace tl
