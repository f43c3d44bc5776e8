// Tool errors and the activity decision.
#include "activity.hpp"
#include "../text.hpp"
#include "detail.hpp"
#include "transcript_text.hpp"

namespace tl {

using detail::exit_codes_all_zero;
using detail::latest_activity_lines;
using detail::LatestLines;
using detail::looks_provider_api_error_line;
using detail::structured_tool_error_text;
using detail::terminal_abort_source;
using detail::terminal_tool_error_source;

bool detail::looks_provider_api_error_line(std::string_view l) {
  if (l.find("\"error\":\"rate_limit\"") != std::string_view::npos) return true;
  if (l.find("\"isapierrormessage\":true") == std::string_view::npos &&
      l.find("\"apierrorstatus\":") == std::string_view::npos) {
    return false;
  }
  for (std::string_view p : {"monthly spend limit", "/usage-credits", "usage credits", "usage limit"}) {
    if (l.find(p) != std::string_view::npos) return true;
  }
  return false;
}

namespace {

// looks_provider_api_error_line on the lower-cased text, without building it.
// The two API error markers share "apierror", which ordinary text seldom
// holds, so one scan for it and the rate-limit marker finds every candidate.
bool looks_provider_api_error_raw(std::string_view raw) {
  constexpr std::string_view kRateLimit = "rate_limit";
  constexpr std::string_view kApiError = "apierror";
  auto marker_at = [&](std::size_t at, std::size_t back, std::string_view marker) {
    return at >= back && text::ifind_ascii(raw.substr(at - back, marker.size()), marker) == 0;
  };
  bool api_error = false;
  for (std::size_t at = text::ifind_either_ascii(raw, kRateLimit, kApiError); at != std::string_view::npos;
       at = text::ifind_either_ascii(raw, kRateLimit, kApiError, at + 1)) {
    if (marker_at(at, 9, "\"error\":\"rate_limit\"")) return true;
    api_error = api_error || marker_at(at, 3, "\"isapierrormessage\":true") || marker_at(at, 1, "\"apierrorstatus\":");
  }
  if (!api_error) return false;
  for (std::string_view p : {"monthly spend limit", "/usage-credits", "usage credits", "usage limit"}) {
    if (text::lower_contains(raw, p)) return true;
  }
  return false;
}

// Claude's mark of a failed tool: the corner, one or more whitespace
// characters, then "error:" in any letter case.
bool has_failure_marker(std::string_view t) {
  constexpr std::string_view kCorner = "\xE2\x8E\xBF";  // U+23BF
  for (std::size_t at = t.find(kCorner); at != std::string_view::npos; at = t.find(kCorner, at + 1)) {
    std::size_t p = at + kCorner.size();
    bool spaced = false;
    while (p < t.size()) {
      std::size_t next = p;
      if (!text::is_space(text::decode(t, next))) break;
      p = next;
      spaced = true;
    }
    if (spaced && text::lower_starts_with(t.substr(p), "error:")) return true;
  }
  return false;
}

}  // namespace

bool detail::exit_codes_all_zero(std::string_view t) {
  bool found = false;
  for (std::string_view phrase : {"exit code ", "exit code: ", "process exited with code ", " exited with code "}) {
    for (std::size_t at = text::ifind_ascii(t, phrase); at != std::string_view::npos;
         at = text::ifind_ascii(t, phrase, at + 1)) {
      found = true;
      const std::size_t n = at + phrase.size();
      const bool zero = n < t.size() && t[n] == '0' && (n + 1 == t.size() || t[n + 1] < '0' || t[n + 1] > '9');
      if (!zero) return false;
    }
  }
  return found;
}

namespace {

// The failure verdict for a line that is not JSON; `t` is the trimmed line.
bool plain_line_is_error(std::string_view t) {
  if (t.empty() || t[0] == '"') return false;
  bool error = (t[0] == '{' || t[0] == '[')
                   ? looks_provider_api_error_raw(t)
                   : has_failure_marker(t) || text::lower_contains_any(t, {"permission denied", "timed out"}) ||
                         (text::lower_contains(t, "exit code ") && !detail::exit_codes_all_zero(t)) ||
                         text::lower_starts_with_any(t, {"error:", "failed:"}) || looks_provider_api_error_raw(t);
  // Lines that mention console.error or the error lists of a state dump are
  // not failures themselves.
  return error && !text::lower_contains_any(t, {"console.error", "\"lasterror\"", "\"toolerrors\""});
}

}  // namespace

std::optional<std::string> detail::structured_tool_error_text(std::string_view output) {
  text::LineReader lines(output);
  std::string_view line;
  while (lines.next(line)) {
    std::string_view t = text::trim(line);
    const bool other =
        text::lower_starts_with_any(t, {"error:", "failed:", "permission denied", "no permissions", "timed out"}) ||
        text::lower_contains_any(t, {": permission denied", " timed out after "});
    // An exit status of 0 is a success: such a line is passed over.
    const bool exit_code = text::lower_starts_with_any(t, {"exit code ", "process exited with code "}) ||
                           text::lower_contains(t, " exited with code ");
    if (other || (exit_code && !exit_codes_all_zero(t))) return std::string(line);
  }
  return std::nullopt;
}

namespace {

// A structured tool output's failure line: a "response_item" whose payload is
// a function or custom tool call's output.
std::optional<std::string> structured_output_error(json::Element line) {
  std::optional<json::Element> type, payload;
  json::read_fields(line, {{"type", &type}, {"payload", &payload}});
  if (!type || !json::string_is(json::as_string(*type), "response_item") || !payload) return std::nullopt;
  std::optional<json::Element> ptype, output;
  json::read_fields(*payload, {{"type", &ptype}, {"output", &output}});
  const std::optional<std::string_view> payload_type = ptype ? json::as_string(*ptype) : std::nullopt;
  if (!payload_type || (*payload_type != "function_call_output" && *payload_type != "custom_tool_call_output") ||
      !output) {
    return std::nullopt;
  }
  auto out_text = json_text(*output);
  if (!out_text) return std::nullopt;
  return detail::structured_tool_error_text(*out_text);
}

void append_tool_error(std::string_view path, std::uint64_t number, std::string_view error_text,
                       std::vector<ToolError>& errors) {
  ToolError e;
  e.position = errors.size();
  e.text = text::compact(error_text, text::kEvidenceChars);
  e.source = text::source_of(path, number);
  errors.push_back(std::move(e));
}

// The error of a line `t` that opens an array or object, as parsed (null
// when it is not JSON, which goes by the plain rules): its structured
// output's failure line, else the line itself when it is a provider API error
// (`provider`, when the caller has tested it).
void json_line_errors(std::string_view path, std::uint64_t number, std::string_view t, const json::Element* parsed,
                      std::optional<bool> provider, std::vector<ToolError>& errors) {
  if (parsed == nullptr) {
    if (plain_line_is_error(t)) append_tool_error(path, number, t, errors);
    return;
  }
  if (auto found = structured_output_error(*parsed)) {
    append_tool_error(path, number, *found, errors);
    return;
  }
  if (provider.value_or(false) || (!provider && looks_provider_api_error_raw(t))) {
    append_tool_error(path, number, t, errors);
  }
}

}  // namespace

void ToolErrorScanner::line(std::string_view path, std::uint64_t number, std::string_view line,
                            std::vector<ToolError>& errors) {
  std::string_view t = text::trim(line);
  // Only a line that opens an array or object can be JSON that matters: a
  // JSON string never holds the unescaped markers, and a JSON number or
  // literal holds no failure words.
  if (t.empty() || (t[0] != '{' && t[0] != '[')) {
    if (plain_line_is_error(t)) append_tool_error(path, number, t, errors);
    return;
  }
  // A structured tool output needs "response_item" and "_call_output" in the
  // line, unless escapes hide them.
  bool maybe_output =
      (text::contains(line, "_call_output") && text::contains(line, "response_item")) || text::contains(line, "\\u");
  bool provider = looks_provider_api_error_raw(line);
  if (!maybe_output && !provider) return;
  auto parsed = parser_.parse(line);
  json_line_errors(path, number, t, parsed ? &*parsed : nullptr, provider, errors);
}

void ToolErrorScanner::parsed_line(std::string_view path, std::uint64_t number, std::string_view line,
                                   const json::Element* parsed, std::vector<ToolError>& errors) {
  std::string_view t = text::trim(line);
  if (t.empty() || (t[0] != '{' && t[0] != '[')) {
    if (plain_line_is_error(t)) append_tool_error(path, number, t, errors);
    return;
  }
  // Read from the parse, the output's failure line needs no test of the raw
  // line first: without a \u escape, a "response_item" and a "_call_output"
  // that the parse holds stand in the line as they are.
  json_line_errors(path, number, t, parsed, std::nullopt, errors);
}

void parse_tool_errors(std::string_view path, std::string_view text, std::vector<ToolError>& errors) {
  ToolErrorScanner scanner;
  text::LineReader lines(text);
  std::string_view line;
  while (lines.next(line)) {
    scanner.line(path, lines.number(), line, errors);
    if (errors.size() >= kToolErrorScanLimit) break;
  }
}

LatestLines detail::latest_activity_lines(const std::vector<Message>& messages,
                                          const std::vector<ToolCall>& tool_calls) {
  LatestLines latest;
  auto note = [&](std::string_view source) {
    auto loc = source_location(source);
    if (!loc) return;
    auto [it, inserted] = latest.try_emplace(loc->first, loc->second);
    if (!inserted && it->second < loc->second) it->second = loc->second;
  };
  for (const auto& m : messages) note(m.source);
  for (const auto& c : tool_calls) {
    if (c.name != "turn_aborted") note(c.source);
  }
  return latest;
}

namespace {

// Evidence counts only when it is not older than the last recorded activity
// of its own file.
bool is_fresh(std::string_view source, const LatestLines& latest) {
  auto loc = source_location(source);
  if (!loc) return false;
  auto it = latest.find(loc->first);
  return it == latest.end() || it->second <= loc->second;
}

}  // namespace

std::optional<std::string> detail::terminal_abort_source(std::string_view terminal, const LatestLines& latest,
                                                         const std::vector<ToolCall>& tool_calls) {
  std::optional<std::string> answer;
  text::LineReader lines(terminal);
  std::string_view line;
  while (lines.next(line)) {
    if (!text::iequals_ascii(text::trim(line), "turn_aborted")) continue;
    std::string source = text::source_of("terminal.log", lines.number());
    if (is_fresh(source, latest)) answer = std::move(source);
  }
  for (const auto& c : tool_calls) {
    if (c.name == "turn_aborted" && is_fresh(c.source, latest)) answer = c.source;
  }
  return answer;
}

std::optional<std::string> detail::terminal_tool_error_source(const LatestLines& latest,
                                                              const std::vector<ToolError>& tool_errors,
                                                              const std::vector<ToolCall>& tool_calls) {
  for (auto it = tool_calls.rbegin(); it != tool_calls.rend(); ++it) {
    if (it->is_error && !source_location(it->source)) return it->source;
  }
  for (auto it = tool_errors.rbegin(); it != tool_errors.rend(); ++it) {
    if (!source_location(it->source)) return it->source;
  }
  std::optional<std::string> answer;
  for (const auto& c : tool_calls) {
    if (c.is_error && is_fresh(c.source, latest)) answer = c.source;
  }
  for (const auto& e : tool_errors) {
    if (is_fresh(e.source, latest)) answer = e.source;
  }
  return answer;
}

Activity activity(ActivityState state, std::string_view kind, std::string_view reason,
                  std::optional<std::string> source) {
  Activity a;
  a.state = state;
  a.last_event_kind = std::string(kind);
  a.reason = std::string(reason);
  a.source = std::move(source);
  return a;
}

Activity classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                           const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                           const std::vector<ToolCall>& tool_calls) {
  std::string_view status = json::value_string_member(run.metadata, "status").value_or("");
  std::string_view failed_step = json::value_string_member(run.metadata, "failedStep").value_or("");
  std::string_view scenario = json::value_string_member(run.metadata, "scenario").value_or("");

  // The rules run from the most urgent to the weakest signal. A pending
  // approval comes first because the run is blocked on a person until it is
  // answered, whatever else happened; only a manifest that says the run
  // succeeded outranks it, since the prompt was then answered. Cancel and abort
  // evidence comes before the manifest's status because a cancelled run is
  // often recorded as failed (or even succeeded) by the harness that was
  // stopped. Terminal activity outranks tool errors: an error the agent is
  // still working past does not end the run.
  if (!approvals.empty() && status != "succeeded") {
    return activity(ActivityState::NeedsApproval, "approval", "approval evidence in terminal or snapshot",
                    approvals.back().source);
  }
  LatestLines latest = latest_activity_lines(messages, tool_calls);
  std::optional<std::string> abort = terminal_abort_source(run.terminal, latest, tool_calls);
  if (text::lower_contains(failed_step, "cancel") || text::lower_contains(scenario, "cancelled") || abort) {
    return activity(ActivityState::Cancelled, "user", "cancel/abort evidence",
                    abort ? std::move(*abort) : std::string("metadata.json + terminal.log"));
  }
  if (status == "failed") return activity(ActivityState::Failed, "assistant-error", failed_step, "metadata.json");
  if (status == "succeeded") {
    std::string kind;
    bool any_assistant = false;
    for (const auto& m : messages) any_assistant = any_assistant || m.role == "assistant";
    if (any_assistant) {
      kind = "assistant-final";
    } else if (messages.empty()) {
      kind = "other";
    } else {
      kind = messages.back().role;
    }
    return activity(ActivityState::Finished, kind, "manifest succeeded", "metadata.json");
  }
  if (text::lower_contains(run.terminal, "esc to interrupt") || text::lower_contains(run.terminal, "working")) {
    return activity(ActivityState::Running, "assistant-tool-use", "terminal indicates active work", "terminal.log");
  }
  if (auto evidence = terminal_tool_error_source(latest, tool_errors, tool_calls)) {
    return activity(ActivityState::Failed, "assistant-error", "tool error evidence", std::move(*evidence));
  }
  return activity(ActivityState::Unknown, "unknown", "no strong lifecycle signal", std::nullopt);
}

}  // namespace tl
