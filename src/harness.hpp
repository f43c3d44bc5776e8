// What tracelens knows about each harness, in one definition per harness:
// the registered name, the parser class named in the lineage, the known
// versions and whether any other version falls back to the family parser,
// where the harness keeps its session logs, which files of its home the
// common scan reads, and how its parser is made. The registry, the run loader,
// the common analysis and the parser factory all read this table; adding a
// harness is one definition here plus its parser.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts_sqlite.hpp"
#include "model.hpp"

namespace tl {

class Parser;
struct RunArtifacts;
struct UsageReading;

// Reads the token usage a harness's logs hold (usage.hpp), given the run and
// what the parse found: its messages and its sub-agents.
using UsageReader = UsageReading (*)(const RunArtifacts& run, const std::vector<Message>& messages,
                                     const std::vector<SubAgent>& sub_agents);

// Where a harness writes its session logs: a path that contains one of `dirs`
// and every one of `also`, and ends with one of `suffixes`.
struct LogPathRule {
  std::span<const std::string_view> dirs;
  std::span<const std::string_view> suffixes;
  std::span<const std::string_view> also = {};
};

struct HarnessDefinition {
  // The --harness name, which is also the family text of its parser.
  std::string_view name;
  // The class name that starts the parser's lineage.
  std::string_view class_name;
  // Known versions in the order they are matched against the requested one.
  std::span<const std::string_view> known_versions;
  // True when a version that shares no major number with a known version is
  // still served, by the family fallback; false when it is a miss.
  bool any_version_falls_back;
  // Session logs, read whole and outside the text budget. The loader and
  // the parsers test this rule on the ASCII-lower-cased path.
  std::optional<LogPathRule> session_logs;
  // Files of the harness's home that the common scan reads for checklists and
  // error lines: paths that contain one of these, tested case-sensitively on
  // the path as written.
  std::span<const std::string_view> home_markers;
  // Context files (configurations, session logs) live below a directory
  // whose lower-cased path contains one of these.
  std::span<const std::string_view> context_homes;
  // True when a run without session logs of this harness has its messages and
  // tool calls read from the terminal capture; a harness with a reading of
  // its own terminal interface turns this off.
  bool terminal_transcript;
  // Makes the parser for one run.
  std::unique_ptr<Parser> (*make_parser)(const HarnessDefinition& harness, std::string label,
                                         ParserResolution resolution);
  // Databases the harness keeps its sessions in, if any: which files of a
  // run they are and what the loader reads out of them for the parser.
  std::span<const DatabaseRule> databases = {};
  // Reads the token usage of a run for `--usage` on its own, reading the logs
  // again: for a harness whose parser does not collect it on its one pass
  // (Parser::usage).
  UsageReader read_usage = nullptr;
};

// Every registered harness, in the order their session-log rules are tested.
std::span<const HarnessDefinition> harnesses();

// The harness registered under `name` (exact, case-sensitive), if any.
const HarnessDefinition* find_harness(std::string_view name);

// True when `path` matches the rule as written: callers lower-case the path
// first where the test is case-insensitive.
bool matches_log_path(const LogPathRule& rule, std::string_view path);

// The first harness whose session-log rule matches the ASCII-lower-cased `path`.
const HarnessDefinition* session_log_harness(std::string_view path);

// The lineage class name of a family: the registered harness's, else the
// family's first character upper-cased followed by the rest and "Parser"
// ("FamilyParser" for the empty family).
std::string parser_class_name(std::string_view family);

}  // namespace tl
