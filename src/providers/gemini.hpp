// Parser of the gemini harness: the Gemini CLI chats under
// .gemini/tmp/<project>/chats/, one pretty-printed JSON object per chat up to
// 0.38 and JSONL from 0.39 on, with their tool calls, todo lists and
// sub-agent chats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gemini_usage.hpp"
#include "parser.hpp"

namespace tl {

// A call that hands work to a sub-agent: an invoke_agent call, or (before
// sub-agent chats existed) a call of a tool named after the agent whose
// description begins with "Delegating to agent".
struct GeminiLaunch {
  std::optional<std::string> call_id;
  // args.agent_name of an invoke_agent call; the tool's name for a delegation.
  std::optional<std::string> agent_name;
  // The session id of the sub-agent chat the call started, when recorded.
  std::optional<std::string> agent_id;
  // args.prompt, or args.request for a delegation.
  std::optional<std::string> prompt;
  // The call's status: "success", "error", "cancelled", ...
  std::optional<std::string> status;
  std::string source;
};

// What one chat holds once its records are replayed. Message, tool-call and
// todo positions count from 0 within the chat.
struct GeminiChat {
  std::string path;
  std::optional<std::string> session_id;
  std::optional<std::string> kind;
  // Line of the chat's first metadata record (for a single object, the line
  // on which it opens); 0 when there is none.
  std::uint64_t header_line = 0;
  std::vector<Message> messages;
  std::vector<ToolCall> tool_calls;
  // The list of the chat's last write_todos call, when it made one.
  std::optional<std::vector<TodoItem>> todos;
  std::vector<GeminiLaunch> launches;
  // The text of the first user message, before shortening.
  std::optional<std::string> first_user_text;
};

// Whether a chat is written as one JSON object (up to 0.38, pretty-printed)
// rather than as JSONL: it is unless its first non-blank line is a JSON value
// by itself. Nothing when the text has no such line.
std::optional<bool> gemini_single_object(const TextArtifact& artifact, json::DocParser& parser);
// Whether the chat whose first window is `start` is read whole: it is
// written as one object, or the window cannot tell.
bool gemini_log_needs_whole(const TextArtifact& start);
// Replays one chat (single object or JSONL) and reads its records.
GeminiChat read_gemini_chat(const TextArtifact& artifact);
// The same for a chat of the run, read through `logs` (see log_text).
// What it reads goes to `usage` too, when given.
GeminiChat read_gemini_log(const RunArtifacts& run, const TextArtifact& log, LogReader& logs,
                           GeminiUsageReader* usage = nullptr);

// A sub-agent's chat: its kind is "subagent" or it sits in a folder below
// chats/ (chats/<parent session id>/<agent id>.jsonl).
bool is_gemini_sub_agent_chat(const GeminiChat& chat);

// Every Gemini chat of the run in reading order: the main chats, then the
// sub-agent chats, each in run order. A ".json" chat is left out when the run
// also holds the ".jsonl" chat that the CLI migrated it into.
std::vector<GeminiChat> read_gemini_chats(const RunArtifacts& run, LogReader& logs, GeminiUsageReader* usage = nullptr);

// Appends the chats' messages and tool calls to the lists, in reading order,
// and the todo list of the last write_todos call (of a main chat when any main
// chat wrote one). The chats keep everything else.
void append_gemini_records(std::vector<GeminiChat>& chats, std::vector<Message>& messages,
                           std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos);

// One SubAgent per sub-agent chat, then one per launching call that started
// no chat of the run.
std::vector<SubAgent> gemini_sub_agents(const std::vector<GeminiChat>& chats);

// What enrich read from the chats, for sub_agents.
struct GeminiParseContext : ParseContext {
  std::vector<GeminiChat> chats;
  GeminiUsageReader usage_reader;  // fed only when the usage is reported
};

class GeminiParser : public ParserWithContext<GeminiParseContext> {
 public:
  using ParserWithContext::ParserWithContext;
  RunArtifacts prepare_artifacts(RunArtifacts run) const override;
  void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
              std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const override;
  std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const override;
  UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                     const std::vector<SubAgent>& sub_agents) const override;
};

}  // namespace tl
