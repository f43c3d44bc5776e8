// Parser of the claude harness: the JSONL transcripts under .claude/projects/,
// task and todo files, queued prompts, pending questions, sub-agents, the
// session title and the session metadata.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "claude_subagents.hpp"
#include "claude_usage.hpp"
#include "parser.hpp"

namespace tl {

// ---- queued prompts ---------------------------------------------------------

// True for a transcript whose queued prompts are turned into user messages.
bool has_queued_prompts(const TextArtifact& artifact);
// A transcript with its queued prompts rewritten into user lines, so that the
// common reader sees each as a user message; other texts stay as they are.
void prepare_claude_log(TextArtifact& log);
// The transcript with every qualifying queued-command attachment line given a
// user message; other lines are copied as they are.
std::string rewrite_queued_prompts(const std::string& content);

// ---- title ------------------------------------------------------------------

// The last non-empty value of each kind of title line.
struct ClaudeTitleScan {
  std::optional<std::string> custom_title;  // "custom-title" lines (set by the user)
  std::optional<std::string> agent_name;    // "agent-name" lines
  std::optional<std::string> ai_title;      // "ai-title" lines (Claude Code 2.1.3xx)
  std::optional<std::string> summary;       // "summary" lines (Claude Code 1.0.x)
};

void scan_title_line(ClaudeTitleScan& scan, const ClaudeLine& line);
// The custom title, else the agent name, else the generated title, else the
// summary.
std::optional<std::string> claude_title(const ClaudeTitleScan& scan);

// ---- session metadata -------------------------------------------------------

struct ClaudeSessionMetaEntry {
  std::optional<std::string> cwd;
  std::optional<std::string> git_branch;
  std::optional<std::string> session_id;
  std::string source;
};

struct ClaudeSessionMetaScan {
  std::vector<ClaudeSessionMetaEntry> entries;
  // cwd, U+001F, gitBranch, U+001F, sessionId of every entry.
  std::unordered_set<std::string> seen;
  std::optional<std::string> conversation_id;
  std::string key;  // reused for every line
};

// True when the line is the conversation's first genuine user prompt, if no
// earlier line was.
bool is_genuine_user_prompt(json::Element line);
// One parsed line (not an API request line) of the transcript at `path`.
void scan_session_meta_line(ClaudeSessionMetaScan& scan, const ClaudeLine& line, std::string_view path,
                            std::uint64_t number);
// The default snapshots value extended with the session metadata.
json::Value claude_session_meta_snapshots(const ClaudeSessionMetaScan& scan, json::Value defaults);

// ---- pending questions ------------------------------------------------------

// The latest AskUserQuestion call that has no answer yet.
const ToolCall* pending_question(const std::vector<ToolCall>& tool_calls);

// ---- one pass over the transcripts -----------------------------------------

// What the hooks after enrichment need from the Claude transcripts.
struct ClaudeTranscriptScan {
  ClaudeTitleScan title;
  ClaudeSessionMetaScan session_meta;
  ClaudeSubAgentTracker sub_agents;
};

// The lists the JSONL reader extends.
struct ClaudeMessageLists {
  std::vector<Message>& messages;
  std::vector<ToolCall>& tool_calls;
  std::vector<TodoItem>& todos;
};

// Reads every Claude transcript of the run once: each line is parsed once and
// fed to the JSONL message reader (into `lists`) and to the scanners.
ClaudeTranscriptScan scan_claude_transcripts(const RunArtifacts& run, LogReader& logs, const ClaudeMessageLists& lists,
                                             ClaudeUsageReader* usage = nullptr);

// What `enrich` read for the later hooks.
struct ClaudeParseContext : ParseContext {
  ClaudeTranscriptScan scan;
  ClaudeUsageReader usage_reader;  // fed only when the usage is reported
};

class ClaudeParser : public ParserWithContext<ClaudeParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  RunArtifacts prepare_artifacts(RunArtifacts run) const override;
  Activity classify_activity(const RunArtifacts& run, const ParseContext& context, const std::vector<Message>& messages,
                             const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                             const std::vector<ToolCall>& tool_calls) const override;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                     const std::vector<SubAgent>& sub_agents) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  std::optional<std::string> title(const RunArtifacts& run, const ParseContext& context) const override;
  json::Value snapshots(const RunArtifacts& run, const ParseContext& context) const override;
};

}  // namespace tl
