// Token usage of Codex rollouts, for `--usage`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../usage.hpp"
#include "codex_events.hpp"

namespace tl {

// Reads the usage of Codex rollouts from their records, fed in reading order
// (every parsed line of every rollout); `finish` gives the reading once the
// sub-agents, whose rollouts are sessions of their own, are known.
class CodexUsageReader {
 public:
  void record(std::string_view path, std::uint64_t number, const CodexRecord& record);
  UsageReading finish(const std::vector<SubAgent>& sub_agents);

 private:
  struct Session {
    std::optional<TokenCounts> last;  // the session's latest total
    bool spawned = false;             // a sub-agent's rollout (its source names a sub-agent)
    std::size_t index = 0;            // in keys_
  };
  // A response's session, and whether that session was known to be a
  // sub-agent's when the response was read.
  struct Owner {
    std::size_t session = 0;
    bool spawned = false;
  };
  Session& session(const std::string& key);

  UsageReading reading_;
  std::unordered_map<std::string, Session> sessions_;
  std::vector<std::string> keys_;  // the sessions' keys, in the order they were met
  std::vector<Owner> owners_;      // one per response
  // The rollout being read: its path, the session its counts belong to, and
  // the latest model and provider above.
  std::string path_;
  std::string session_key_;
  std::optional<std::string> model_;
  std::optional<std::string> provider_;
};

}  // namespace tl
