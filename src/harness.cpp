#include "harness.hpp"

#include "providers/claude.hpp"
#include "providers/codex.hpp"
#include "providers/cursor.hpp"
#include "providers/cursor_usage.hpp"
#include "providers/gemini.hpp"
#include "providers/omp.hpp"
#include "providers/opencode.hpp"
#include "providers/opencode_store.hpp"
#include "providers/opencode_usage.hpp"
#include "providers/parser.hpp"
#include "providers/pi.hpp"
#include "text.hpp"

namespace tl {

namespace {

template <typename P>
std::unique_ptr<Parser> make(const HarnessDefinition& harness, std::string label, ParserResolution resolution) {
  return std::make_unique<P>(std::string(harness.name), std::move(label), resolution);
}

std::unique_ptr<Parser> make_cursor(const HarnessDefinition&, std::string label, ParserResolution resolution) {
  return std::make_unique<CursorParser>(std::move(label), resolution);
}

constexpr std::string_view kJsonl[] = {".jsonl"};
constexpr std::string_view kJsonOrJsonl[] = {".json", ".jsonl"};

constexpr std::string_view kClaudeVersions[] = {"1.0.128", "2.1.170", "2.1.173", "2.1.217"};
constexpr std::string_view kClaudeLogs[] = {"/.claude/projects/"};
constexpr std::string_view kClaudeHome[] = {"/.claude/"};
// Without the slash, ".claude.json" beside the home directory counts too.
constexpr std::string_view kClaudeContext[] = {"/.claude"};

constexpr std::string_view kCodexVersions[] = {"0.139.0", "0.155.0"};
constexpr std::string_view kCodexLogs[] = {"/.codex/sessions/"};
constexpr std::string_view kCodexHome[] = {"/.codex/"};
constexpr std::string_view kCodexContext[] = {"/.codex"};

constexpr std::string_view kCursorLogs[] = {"/.cursor/projects/"};
constexpr std::string_view kCursorHome[] = {"/.cursor/"};

constexpr std::string_view kPiVersions[] = {"0.73.1"};
constexpr std::string_view kPiLogs[] = {"/.pi/agent/sessions/"};
constexpr std::string_view kPiHome[] = {"/.pi/"};

constexpr std::string_view kOmpVersions[] = {"15.10.12", "15.11.0", "18.2.3"};
constexpr std::string_view kOmpLogs[] = {"/.omp/agent/sessions/"};
constexpr std::string_view kOmpHome[] = {"/.omp/"};

constexpr std::string_view kOpencodeVersions[] = {"1.17.1", "1.17.3"};
constexpr std::string_view kOpencodeLogs[] = {"/.local/share/opencode/storage/", "/.local/share/opencode/sessions/"};
constexpr std::string_view kOpencodeHome[] = {"/.config/opencode/", "/.local/share/opencode/"};

constexpr std::string_view kGeminiLogs[] = {"/.gemini/tmp/"};
constexpr std::string_view kGeminiChats[] = {"/chats/"};
constexpr std::string_view kGeminiHome[] = {"/.gemini/"};

constexpr std::span<const std::string_view> kNoVersions{};
constexpr std::span<const DatabaseRule> kNoDatabases{};

// The order is the order in which session-log rules are tested; no two rules
// match the same path, so it only matters for readers of this table.
const HarnessDefinition kHarnesses[] = {
    {"claude", "ClaudeParser", kClaudeVersions, false, LogPathRule{kClaudeLogs, kJsonl}, kClaudeHome, kClaudeContext,
     true, make<ClaudeParser>, kNoDatabases},
    {"codex", "CodexParser", kCodexVersions, false, LogPathRule{kCodexLogs, kJsonl}, kCodexHome, kCodexContext, true,
     make<CodexParser>, kNoDatabases},
    // Cursor and gemini have no list of known versions: every parseable
    // version is served by their family parser.
    {"cursor", "CursorParser", kNoVersions, true, LogPathRule{kCursorLogs, kJsonl}, kCursorHome, kCursorHome, true,
     make_cursor, kNoDatabases, read_cursor_usage},
    {"pi", "PiParser", kPiVersions, false, LogPathRule{kPiLogs, kJsonl}, kPiHome, kPiHome, true, make<PiParser>,
     kNoDatabases},
    {"omp", "OMPParser", kOmpVersions, false, LogPathRule{kOmpLogs, kJsonl}, kOmpHome, kOmpHome, true, make<OmpParser>,
     kNoDatabases},
    // OpenCode reads its own terminal interface when it has no session logs,
    // so the common terminal reading stays off. From 1.2 on it keeps its
    // sessions in an SQLite database.
    {"opencode", "OpenCodeParser", kOpencodeVersions, false, LogPathRule{kOpencodeLogs, kJsonOrJsonl}, kOpencodeHome,
     kOpencodeHome, false, make<OpencodeParser>, kOpencodeDatabases, read_opencode_usage},
    // Gemini CLI chats: tmp/<project>/chats/*.json up to 0.38, *.jsonl from
    // 0.39 on, a sub-agent's chat in a folder below.
    {"gemini",
     "GeminiParser",
     {},
     true,
     LogPathRule{kGeminiLogs, kJsonOrJsonl, kGeminiChats},
     kGeminiHome,
     kGeminiHome,
     true,
     make<GeminiParser>,
     kNoDatabases},
};

}  // namespace

std::span<const HarnessDefinition> harnesses() { return kHarnesses; }

const HarnessDefinition* find_harness(std::string_view name) {
  for (const HarnessDefinition& h : kHarnesses) {
    if (h.name == name) return &h;
  }
  return nullptr;
}

bool matches_log_path(const LogPathRule& rule, std::string_view path) {
  bool in_dir = false;
  for (std::string_view dir : rule.dirs) in_dir = in_dir || path.find(dir) != std::string_view::npos;
  if (!in_dir) return false;
  for (std::string_view dir : rule.also) {
    if (path.find(dir) == std::string_view::npos) return false;
  }
  for (std::string_view suffix : rule.suffixes) {
    if (path.ends_with(suffix)) return true;
  }
  return false;
}

const HarnessDefinition* session_log_harness(std::string_view path) {
  const std::string lower = text::ascii_lower(path);
  for (const HarnessDefinition& h : kHarnesses) {
    if (h.session_logs && matches_log_path(*h.session_logs, lower)) return &h;
  }
  return nullptr;
}

std::string parser_class_name(std::string_view family) {
  if (family.empty()) return "FamilyParser";
  if (const HarnessDefinition* h = find_harness(family)) return std::string(h->class_name);
  std::size_t first_len = 0;
  text::decode(family, first_len);
  return text::to_upper(family.substr(0, first_len)) + std::string(family.substr(first_len)) + "Parser";
}

}  // namespace tl
