#include <gtest/gtest.h>

#include "activity.hpp"
#include "detail.hpp"

namespace tl {
using namespace detail;
namespace {

std::vector<ToolError> errors_of(std::string_view text, std::string_view path = "t.log") {
  std::vector<ToolError> errors;
  parse_tool_errors(path, text, errors);
  return errors;
}

TEST(ToolErrors, PlainLines) {
  auto e = errors_of(
      "ERROR: disk full\n"
      "\"error: quoted\"\n"
      "console.error(\"exit code 1\")\n"
      "  Process failed: exit code 2  \n"
      "failed: step\n"
      "  \xE2\x8E\xBF  Error: nope\n"
      "\xE2\x8E\xBF Error: tool\n"
      "all good\n"
      "Permission DENIED for /x\n"
      "{not json but \"error\":\"rate_limit\" here}\n"
      "{\"lasterror\": \"error\":\"rate_limit\" broken}\n"
      "\xE2\x8E\xBF\t\xC2\xA0"
      "ERROR: tab and no-break space\n"
      "\xE2\x8E\xBF"
      "Error: no space after the corner\n"
      "\xE2\x8E\xBF  Read 4 lines, then \xE2\x8E\xBF error: the second corner\n");
  ASSERT_EQ(e.size(), 9u);
  EXPECT_EQ(e[0].text, "ERROR: disk full");
  EXPECT_EQ(e[0].source, "t.log:1");
  EXPECT_EQ(e[1].text, "Process failed: exit code 2");
  EXPECT_EQ(e[1].source, "t.log:4");
  EXPECT_EQ(e[2].text, "failed: step");
  // Claude draws a failed tool with two spaces after the corner.
  EXPECT_EQ(e[3].text, "\xE2\x8E\xBF Error: nope");
  EXPECT_EQ(e[3].source, "t.log:6");
  EXPECT_EQ(e[4].text, "\xE2\x8E\xBF Error: tool");
  EXPECT_EQ(e[4].source, "t.log:7");
  EXPECT_EQ(e[5].source, "t.log:9");
  EXPECT_EQ(e[6].source, "t.log:10");
  EXPECT_EQ(e[7].text, "\xE2\x8E\xBF ERROR: tab and no-break space");
  EXPECT_EQ(e[7].source, "t.log:12");
  EXPECT_EQ(e[8].source, "t.log:14");
  for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].position, i);
}

TEST(ToolErrors, JsonLines) {
  auto e = errors_of(
      R"({"type":"assistant","error":"Rate_Limit","message":"x"})"
      "\n"
      R"({"type":"x","Error":"RATE_LIMIT","lasterror":1})"
      "\n"
      R"({"type":"assistant","isApiErrorMessage":true,"text":"You hit your Usage Limit"})"
      "\n"
      R"({"apiErrorStatus":429,"text":"slow down"})"
      "\n"
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"ok\nError: bad flag\nmore"}})"
      "\n"
      R"({"type":"response_item","payload":{"type":"custom_tool_call_output","output":[{"text":"line"},{"text":"  Process exited with code 3"}]}})"
      "\n"
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"fine"}})"
      "\n"
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"all fine","x":"\"error\":\"rate_limit\""}})"
      "\n"
      R"({"type":"response_\u0069tem","payload":{"type":"function_call_output","output":"timed out"}})"
      "\n");
  ASSERT_EQ(e.size(), 6u);
  // "error":"rate_limit" matched on the lower-cased raw line; in a JSON line
  // the console.error and "lasterror" exclusions of plain lines do not apply.
  EXPECT_EQ(e[0].source, "t.log:1");
  EXPECT_EQ(e[1].source, "t.log:2");
  EXPECT_EQ(e[1].text, R"({"type":"x","Error":"RATE_LIMIT","lasterror":1})");
  EXPECT_EQ(e[2].source, "t.log:3");
  EXPECT_EQ(e[3].text, "Error: bad flag");
  EXPECT_EQ(e[3].source, "t.log:5");
  EXPECT_EQ(e[4].text, "Process exited with code 3");
  EXPECT_EQ(e[5].source, "t.log:9");
  EXPECT_EQ(e[5].text, "timed out");
}

// Whatever a structured output holds, the scan of its line finds what the
// rule finds in the decoded output.
TEST(ToolErrors, StructuredOutputsFollowTheRule) {
  const std::string outputs[] = {
      "fine",
      "ok\nError: bad flag",
      "  FAILED: 2 tests",
      "cat: x: Permission denied",
      "Timed out after 5s",
      "step\n  Process exited with code 0\n",
      "Process exited with code 0\nexited with code 2",
      "Exit code 0",
      "exit code 1",
      "{\"metadata\": {\"exit_code\": 1}, \"output\": \"done\"}",
      "exit code 0",
      "caf\xC3\xA9 \xE2\x84\xAA\xC4\xB0 timed out",
      "tab\ttimed\tout",
      "ends with exit code ",
  };
  for (const std::string& output : outputs) {
    for (std::string_view type : {"function_call_output", "custom_tool_call_output"}) {
      const std::string line = json::dump(
          json::Value{{"type", "response_item"}, {"payload", {{"type", std::string(type)}, {"output", output}}}});
      std::vector<ToolError> errors;
      parse_tool_errors("t.log", line + "\n", errors);
      const std::optional<std::string> expected = structured_tool_error_text(output);
      ASSERT_EQ(errors.size(), expected ? 1u : 0u) << output;
      if (expected) {
        EXPECT_EQ(errors[0].text, text::compact(*expected, text::kEvidenceChars)) << output;
      }
    }
  }
}

// A line that the reader has parsed is scanned without a second parse, and
// the scan finds what it finds in the raw line: structured outputs, also
// behind escaped keys and with a provider API error beside them, provider API
// errors in JSON and not, lines that are not arrays or objects, and lines
// that are not JSON.
TEST(ToolErrors, AParsedLineGivesWhatItsRawLineGives) {
  const std::string lines[] = {
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"ok\nError: bad"}})",
      R"({"type":"response_item","payload":{"type":"custom_tool_call_output","output":"Exit code 0"}})",
      R"({"type":"response_item","payload":{"type":"function_call_output","output":{"content":"exit code 3"}}})",
      R"({"type":"\u0072esponse_item","payload":{"type":"function_call\u005foutput","output":"FAILED: 2"}})",
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"fine"},"isApiErrorMessage":true,"x":"usage limit"})",
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"Error: x"},"isApiErrorMessage":true,"x":"usage limit"})",
      R"({"type":"assistant","isApiErrorMessage":true,"message":"You have hit your usage limit"})",
      R"({"type":"assistant","IsApiErrorMessage":true,"message":"Monthly spend limit","note":"console.error"})",
      R"({"apiErrorStatus":402,"text":"/usage-credits"})",
      R"(  {"error":"rate_limit"}  )",
      R"([{"error":"RATE_LIMIT"}])",
      R"({"type":"user","message":"Error: this is only a prompt"})",
      R"({"isApiErrorMessage":true,"x":"usage limit")",
      R"({"output":"exit code 1"} trailing)",
      R"("Error: a JSON string")",
      "42",
      "Error: plain failure",
      "  \xE2\x8E\xBF  Error: tool failed",
      "",
  };
  json::DocParser parser;
  for (const std::string& line : lines) {
    std::vector<ToolError> raw, given;
    ToolErrorScanner().line("t.log", 7, line, raw);
    const auto parsed = parser.parse(line);
    ToolErrorScanner().parsed_line("t.log", 7, line, parsed ? &*parsed : nullptr, given);
    ASSERT_EQ(given.size(), raw.size()) << line;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      EXPECT_EQ(given[i].text, raw[i].text) << line;
      EXPECT_EQ(given[i].source, raw[i].source) << line;
    }
  }
}

TEST(ToolErrors, ProviderApiErrorLine) {
  EXPECT_TRUE(looks_provider_api_error_line("{\"error\":\"rate_limit\"}"));
  EXPECT_FALSE(looks_provider_api_error_line("{\"error\": \"rate_limit\"}"));
  EXPECT_TRUE(looks_provider_api_error_line("\"apierrorstatus\":402 monthly spend limit"));
  EXPECT_TRUE(looks_provider_api_error_line("\"isapierrormessage\":true see /usage-credits"));
  EXPECT_FALSE(looks_provider_api_error_line("\"isapierrormessage\":true nothing else"));
  EXPECT_FALSE(looks_provider_api_error_line("usage limit reached"));
}

TEST(ToolErrors, StructuredOutputRule) {
  EXPECT_EQ(structured_tool_error_text("a\n  Exit code 1  \n"), "  Exit code 1  ");
  EXPECT_EQ(structured_tool_error_text("cmd: Permission denied"), "cmd: Permission denied");
  EXPECT_EQ(structured_tool_error_text("request timed out after 30s"), "request timed out after 30s");
  EXPECT_EQ(structured_tool_error_text("no permissions here"), "no permissions here");
  EXPECT_EQ(structured_tool_error_text("the exit code was 0"), std::nullopt);
}

// An exit status of 0 is a success, in the structured rule and in plain lines;
// other markers on the same line still count, and "01" is not 0.
TEST(ToolErrors, ExitCodeZeroIsNoFailure) {
  struct Case {
    const char* output;
    std::optional<std::string> found;
  };
  const Case structured[] = {
      {"Chunk ID: 1\nWall time: 0.1 seconds\nProcess exited with code 0\nOutput:\nhello\n", std::nullopt},
      {"Process exited with code 0\nerror: later line", "error: later line"},
      {"Process exited with code 1\n", "Process exited with code 1"},
      {"exit code 0", std::nullopt},
      {"exit code 01", "exit code 01"},
      {"exit code 00", "exit code 00"},
      {"Timed out; exit code 0", "Timed out; exit code 0"},
      {"step exited with code 0", std::nullopt},
      {"step exited with code 0 and exit code 2", "step exited with code 0 and exit code 2"},
      {"Process exited with code 0: permission denied", "Process exited with code 0: permission denied"},
      {"exit code x", "exit code x"},
  };
  for (const Case& c : structured) EXPECT_EQ(structured_tool_error_text(c.output), c.found) << c.output;

  auto e = errors_of(
      "Exit code 0\n"
      "exit code 0 but permission denied\n"
      "Exit code 01\n"
      "error: exit code 0\n"
      "done, exit code 0; exit code: 3\n");
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].source, "t.log:2");
  EXPECT_EQ(e[1].source, "t.log:3");
  EXPECT_EQ(e[2].source, "t.log:4");
  EXPECT_EQ(e[3].source, "t.log:5");

  // Codex writes "Process exited with code 0" after every successful command.
  auto codex = errors_of(
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"Chunk ID: a\nProcess exited with code 0\nOutput:\nok\n"}})"
      "\n"
      R"({"type":"response_item","payload":{"type":"function_call_output","output":"Chunk ID: b\nProcess exited with code 1\nOutput:\nno\n"}})"
      "\n");
  ASSERT_EQ(codex.size(), 1u);
  EXPECT_EQ(codex[0].text, "Process exited with code 1");
  EXPECT_EQ(codex[0].source, "t.log:2");

  EXPECT_TRUE(exit_codes_all_zero("Process exited with code 0"));
  EXPECT_TRUE(exit_codes_all_zero("EXIT CODE: 0"));
  EXPECT_FALSE(exit_codes_all_zero("exit code: 0 exit code 7"));
  EXPECT_FALSE(exit_codes_all_zero("nothing here"));
}

TEST(ToolErrors, ScanStopsAtFifty) {
  std::string text;
  for (int i = 0; i < 80; ++i) text += "error: " + std::to_string(i) + "\n";
  auto e = errors_of(text);
  EXPECT_EQ(e.size(), 50u);
  // A full list still takes the first line of the next text.
  parse_tool_errors("u", "error: a\nerror: b\n", e);
  EXPECT_EQ(e.size(), 51u);
}

Message msg(std::string role, std::string source) {
  Message m;
  m.role = std::move(role);
  m.text = "x";
  m.source = std::move(source);
  return m;
}

ToolCall call(std::string name, std::string source, bool error = false) {
  ToolCall c;
  c.name = std::move(name);
  c.source = std::move(source);
  c.is_error = error;
  return c;
}

TEST(Freshness, AbortEvidence) {
  std::vector<ToolCall> calls;
  // An abort line before a later terminal message is stale; after it, fresh.
  std::vector<Message> messages = {msg("user", "terminal.log:1"), msg("assistant", "terminal.log:4")};
  auto latest = latest_activity_lines(messages, calls);
  EXPECT_EQ(terminal_abort_source("> go\nTURN_ABORTED\nx\nI'll do it\n", latest, calls), std::nullopt);
  EXPECT_EQ(terminal_abort_source("> go\nx\nx\nI'll do it\n  turn_aborted \n", latest, calls), "terminal.log:5");
  // Without terminal records every abort line counts; the last wins.
  EXPECT_EQ(terminal_abort_source("turn_aborted\nturn_aborted\n", {}, calls), "terminal.log:2");
  // turn_aborted calls are candidates and are not activity themselves.
  calls = {call("turn_aborted", "r.jsonl:5"), call("Bash", "r.jsonl:3")};
  latest = latest_activity_lines({}, calls);
  EXPECT_EQ(latest.at("r.jsonl"), 3u);
  EXPECT_EQ(terminal_abort_source("", latest, calls), "r.jsonl:5");
  calls.push_back(call("Read", "r.jsonl:9"));
  latest = latest_activity_lines({}, calls);
  EXPECT_EQ(terminal_abort_source("", latest, calls), std::nullopt);
}

TEST(Freshness, ToolErrorEvidence) {
  // The latest lines hold views of the records they were made from.
  const std::vector<Message> messages = {msg("assistant", "r.jsonl:10")};
  const std::vector<ToolCall> seen = {call("Bash", "r.jsonl:4", true)};
  const LatestLines latest = latest_activity_lines(messages, seen);
  std::vector<ToolCall> calls = seen;
  std::vector<ToolError> errors = {{0, "e", "terminal.log:3"}, {1, "old", "r.jsonl:2"}};
  EXPECT_EQ(terminal_tool_error_source(latest, errors, calls), "terminal.log:3");
  errors.pop_back();
  errors.push_back({1, "new", "r.jsonl:12"});
  EXPECT_EQ(terminal_tool_error_source(latest, errors, calls), "r.jsonl:12");
  // A source without a line is evidence whatever its age; calls first.
  calls.push_back(call("x", "bare-path", true));
  errors.push_back({2, "bare", "other"});
  EXPECT_EQ(terminal_tool_error_source(latest, errors, calls), "bare-path");
  calls.pop_back();
  EXPECT_EQ(terminal_tool_error_source(latest, errors, calls), "other");
  EXPECT_EQ(terminal_tool_error_source(latest, {}, {call("Bash", "r.jsonl:4", true)}), std::nullopt);
}

RunArtifacts run_with(std::string manifest, std::string terminal = "") {
  RunArtifacts run;
  run.metadata = json::Value::parse(manifest);
  run.terminal = std::move(terminal);
  return run;
}

TEST(ActivityTable, PrecedenceOfTheRules) {
  std::vector<Message> none;
  std::vector<Approval> approvals = {{0, "Do you want to proceed?", "waiting_or_recent", "terminal.log:7"}};
  std::vector<ToolError> errors = {{0, "error: x", "terminal.log:9"}};
  std::vector<ToolCall> calls;

  Activity a = classify_activity(run_with("{}"), none, {}, {}, calls);
  EXPECT_EQ(a.state, ActivityState::Unknown);
  EXPECT_EQ(a.reason, "no strong lifecycle signal");
  EXPECT_FALSE(a.source);

  a = classify_activity(run_with(R"({"status":"failed"})"), none, approvals, errors, calls);
  EXPECT_EQ(a.state, ActivityState::NeedsApproval);
  EXPECT_EQ(a.last_event_kind, "approval");
  EXPECT_EQ(a.source, "terminal.log:7");

  a = classify_activity(run_with(R"({"status":"succeeded","failedStep":"User CANCELLED"})"), none, approvals, {},
                        calls);
  EXPECT_EQ(a.state, ActivityState::Cancelled);
  EXPECT_EQ(a.source, "metadata.json + terminal.log");

  a = classify_activity(run_with(R"({"scenario":"run-cancelled"})"), none, {}, {}, calls);
  EXPECT_EQ(a.state, ActivityState::Cancelled);

  a = classify_activity(run_with(R"({"status":"failed"})"), none, {}, errors, calls);
  EXPECT_EQ(a.state, ActivityState::Failed);
  EXPECT_EQ(a.last_event_kind, "assistant-error");
  EXPECT_EQ(a.reason, std::string(""));
  EXPECT_EQ(a.source, "metadata.json");

  std::vector<Message> users = {msg("user", "terminal.log:1")};
  a = classify_activity(run_with(R"({"status":"succeeded"})", "esc to interrupt"), users, approvals, errors, calls);
  EXPECT_EQ(a.state, ActivityState::Finished);
  EXPECT_EQ(a.last_event_kind, "user");
  EXPECT_EQ(a.reason, "manifest succeeded");
  a = classify_activity(run_with(R"({"status":"succeeded"})"), none, {}, {}, calls);
  EXPECT_EQ(a.last_event_kind, "other");
  users.push_back(msg("assistant", "terminal.log:2"));
  users.push_back(msg("tool", "terminal.log:3"));
  a = classify_activity(run_with(R"({"status":"succeeded"})"), users, {}, {}, calls);
  EXPECT_EQ(a.last_event_kind, "assistant-final");

  a = classify_activity(run_with(R"({"status":"Succeeded"})", "Still Working..."), none, {}, errors, calls);
  EXPECT_EQ(a.state, ActivityState::Running);
  EXPECT_EQ(a.source, "terminal.log");

  a = classify_activity(run_with("{}"), none, {}, errors, calls);
  EXPECT_EQ(a.state, ActivityState::Failed);
  EXPECT_EQ(a.reason, "tool error evidence");
  EXPECT_EQ(a.source, "terminal.log:9");

  // Abort evidence from the terminal outranks a failed manifest.
  a = classify_activity(run_with(R"({"status":"failed"})", "x\nturn_aborted\n"), none, {}, {}, calls);
  EXPECT_EQ(a.state, ActivityState::Cancelled);
  EXPECT_EQ(a.source, "terminal.log:2");
  // Non-string members count as absent.
  a = classify_activity(run_with(R"({"status":true,"failedStep":5,"scenario":{"x":"cancelled"}})"), none, {}, {},
                        calls);
  EXPECT_EQ(a.state, ActivityState::Unknown);
}

}  // namespace
}  // namespace tl
