// Feeds arbitrary bytes through the common analysis: the JSONL reader, the
// checklist and error scans, and the whole common pipeline with the bytes as
// terminal capture, screen capture and session log.
#include <cstddef>
#include <cstdint>
#include <string>

#include "classify/activity.hpp"
#include "classify/common.hpp"
#include "classify/jsonl.hpp"
#include "classify/todos.hpp"
#include "classify/turns.hpp"
#include "json.hpp"
#include "model.hpp"
#include "text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tl;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string text = text::repair_utf8(bytes);
  json::pad(text);

  TextArtifact log{"snapshots/s/home/.pi/agent/sessions/p/s.jsonl", text};
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
  std::vector<ToolError> errors;
  parse_jsonl_messages(log, messages, calls, todos);
  parse_todos("fuzz.txt", text, todos);
  parse_tool_errors("fuzz.txt", text, errors);
  dedupe_todos(todos);
  group_user_turns(messages, calls, todos, ActivityState::Running);

  RunArtifacts run;
  run.terminal = text;
  run.texts.push_back(TextArtifact{"screens/001.txt", text});
  run.texts.push_back(log);
  if (auto manifest = json::parse_value(text)) run.metadata = std::move(*manifest);
  for (const char* family : {"pi", "gemini", "opencode"}) {
    CommonParse c = common_parse(run, family);
    ParserOutput out;
    out.state.messages = std::move(c.messages);
    out.state.tool_calls = std::move(c.tool_calls);
    out.state.todos = std::move(c.todos);
    out.state.tool_errors = std::move(c.tool_errors);
    out.state.activity = classify_activity(run, c.messages, c.approvals, c.tool_errors, c.tool_calls);
    out.state.user_turns = group_user_turns(c.messages, c.tool_calls, c.todos, out.state.activity.state);
    std::string json = to_json(out);
    if (!text::is_valid_utf8(json)) __builtin_trap();  // the document must stay valid UTF-8
  }
  return 0;
}
