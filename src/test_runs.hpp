// Builders of small runs and hook drivers for the unit tests.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "artifacts.hpp"
#include "json.hpp"
#include "model.hpp"
#include "providers/parser.hpp"

namespace tl::testing {

// Every regular file below a directory, by relative path: its bytes and
// modification time, to prove that reading a run changed nothing.
using DirState = std::map<std::string, std::pair<std::string, std::int64_t>>;

inline DirState state_of(const std::filesystem::path& dir) {
  DirState out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    out[std::filesystem::relative(e.path(), dir).string()] = {
        bytes.str(), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }
  return out;
}

// The lines, each ended by a line feed.
inline std::string lines_of(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (auto l : lines) {
    out.append(l);
    out.push_back('\n');
  }
  return out;
}

// A run holding just these texts (path, contents), padded as loading pads
// them, with the given terminal capture.
inline RunArtifacts run_with(const std::vector<std::pair<std::string, std::string>>& files, std::string terminal = "") {
  RunArtifacts run;
  run.terminal = std::move(terminal);
  for (const auto& [path, text] : files) {
    TextArtifact t{path, text};
    json::pad(t.text);
    run.texts.push_back(std::move(t));
  }
  return run;
}

// The lists that the readers and `enrich` extend.
struct Lists {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
};

// A parse's state after `enrich`: the context the parser filled and the lists.
struct Enriched {
  std::unique_ptr<ParseContext> context;
  Lists lists;
};

// Runs `enrich` as the generic parse does, on lists that start as `start`.
inline Enriched enrich(const Parser& parser, const RunArtifacts& run, Lists start = {}) {
  Enriched out{parser.new_context(), std::move(start)};
  LogReader logs;
  parser.enrich(run, *out.context, logs, out.lists.messages, out.lists.calls, out.lists.todos);
  return out;
}

// The usage hook after `enrich`, on a run prepared by the parser and a
// context that asks for the usage, as the generic parse runs them, with the
// sub-agents given.
inline UsageReading usage(const Parser& parser, const RunArtifacts& run, const std::vector<SubAgent>& sub_agents) {
  const RunArtifacts prepared = parser.prepare_artifacts(run);
  std::unique_ptr<ParseContext> context = parser.new_context();
  context->usage = true;
  Lists lists;
  LogReader logs;
  parser.enrich(prepared, *context, logs, lists.messages, lists.calls, lists.todos);
  return parser.usage(prepared, *context, lists.messages, sub_agents);
}

}  // namespace tl::testing
