// The harness-independent evidence of every parse: terminal and screen
// captures and harness files, with tool-error and todo reduction.
#include <functional>
#include <span>
#include <unordered_map>

#include "../harness.hpp"
#include "../text.hpp"
#include "activity.hpp"
#include "common.hpp"
#include "todos.hpp"

namespace tl {

// The checklist scan and then the error scan of one text, read in one pass,
// a piece at a time: each stops where it would stop alone.
class TextScan {
 public:
  explicit TextScan(std::string_view path) : path_(path) {}
  // False once neither scan wants more lines.
  bool piece(std::string_view text, std::uint64_t first_line) {
    text::LineReader lines(text);
    std::string_view line;
    while (open() && lines.next(line)) scan(first_line - 1 + lines.number(), line, std::nullopt);
    return open();
  }
  // One line that the caller has parsed (`parsed` null when it is not JSON).
  void line(std::uint64_t number, std::string_view raw, const json::Element* parsed) {
    if (open()) scan(number, raw, parsed);
  }
  bool open() const { return todos_open_ || errors_open_; }
  TextEvidence take() { return std::move(found_); }

 private:
  // `parsed`: the line's parse when the caller has made it.
  void scan(std::uint64_t number, std::string_view line, std::optional<const json::Element*> parsed) {
    if (todos_open_ && todo_from_line(path_, number, line, found_.todos) && found_.todos.size() >= kTodoScanLimit) {
      todos_open_ = false;
    }
    if (errors_open_) {
      if (parsed) {
        errors_.parsed_line(path_, number, line, *parsed, found_.tool_errors);
      } else {
        errors_.line(path_, number, line, found_.tool_errors);
      }
      errors_open_ = found_.tool_errors.size() < kToolErrorScanLimit;
    }
  }
  std::string path_;
  ToolErrorScanner errors_;
  bool todos_open_ = true;
  bool errors_open_ = true;
  TextEvidence found_;
};

namespace {

std::string_view strip_all(std::string_view s, std::string_view prefix) {
  while (s.starts_with(prefix)) s.remove_prefix(prefix.size());
  return s;
}

// Reads the terminal capture for prompts, replies, approvals and tool lines.
void read_terminal(std::string_view terminal, bool transcript_mode, CommonParse& out) {
  text::LineReader lines(terminal);
  std::string_view line;
  bool waiting_for_reply = false;
  while (lines.next(line)) {
    std::string_view l_text = text::trim(line);
    if (l_text.empty()) continue;
    auto source = [&] { return text::source_of("terminal.log", lines.number()); };
    if (transcript_mode) {
      if (l_text.starts_with('>') || l_text.starts_with("\xE2\x9D\xAF") || text::lower_starts_with(l_text, "user:")) {
        std::string_view t = strip_all(l_text, ">");
        t = strip_all(t, "\xE2\x9D\xAF");
        t = strip_all(t, "user:");
        Message m;
        m.position = out.messages.size();
        m.role = "user";
        m.text = text::compact(text::trim(t), text::kMessageChars);
        m.source = source();
        out.messages.push_back(std::move(m));
        waiting_for_reply = true;
      } else if (waiting_for_reply &&
                 text::lower_contains_any(l_text, {"i'll", "i will", "done", "updated", "created"})) {
        // A terminal shows no roles: after a prompt, the first line in the
        // words agents open or close a reply with is taken as the reply, and
        // progress lines in between are not.
        Message m;
        m.position = out.messages.size();
        m.role = "assistant";
        m.text = text::compact(l_text, text::kMessageChars);
        m.source = source();
        out.messages.push_back(std::move(m));
        waiting_for_reply = false;
      }
    }
    // The phrases of the permission prompts that the harnesses draw ("Do you
    // want to proceed?", "Allow command?", ...); a line that merely mentions a
    // permission counts too, as recent approval evidence.
    if (text::lower_contains_any(l_text,
                                 {"do you want", "approve", "permission", "allow command", "run this command"})) {
      Approval a;
      a.position = out.approvals.size();
      a.text = text::compact(l_text, text::kEvidenceChars);
      a.state = "waiting_or_recent";
      a.source = source();
      out.approvals.push_back(std::move(a));
    }
    // How the harnesses' interfaces draw a tool invocation: a shell prompt,
    // Claude's "Bash(" / "Update(" / "● Bash(" lines, Codex's "• Ran " and
    // "✔ You approved" lines.
    if (transcript_mode &&
        text::lower_starts_with_any(l_text, {"$ ", "bash(", "read ", "searched ", "update(", "edit(", "write(",
                                             "\xE2\x97\x8F bash(", "\xE2\x80\xA2 ran ", "\xE2\x9C\x94 you approved"})) {
      ToolCall c;
      c.position = out.tool_calls.size();
      c.name = text::compact(l_text, text::kNameChars);
      c.is_error = text::lower_contains_any(l_text, {"error", "failed"});
      c.source = source();
      out.tool_calls.push_back(std::move(c));
    }
  }
}

bool contains_any(std::string_view path, std::span<const std::string_view> markers) {
  for (std::string_view m : markers) {
    if (path.find(m) != std::string_view::npos) return true;
  }
  return false;
}

// True when `path` lies in the home of the family's harness; a family that is
// not registered takes the home of any harness.
bool in_family_home(std::string_view family, std::string_view path) {
  if (const HarnessDefinition* h = find_harness(family)) return contains_any(path, h->home_markers);
  for (const HarnessDefinition& h : harnesses()) {
    if (contains_any(path, h.home_markers)) return true;
  }
  return false;
}

// Program sources in a harness home (extensions, plugins, hooks) hold
// checklist-like and error-like lines of code, not the run's own work.
bool is_source_code(std::string_view path) {
  static constexpr std::string_view kExtensions[] = {
      ".js",    ".mjs", ".cjs", ".jsx", ".ts",  ".mts", ".cts", ".tsx", ".py",  ".rb", ".go",   ".rs",  ".java", ".kt",
      ".swift", ".c",   ".h",   ".cc",  ".cpp", ".hpp", ".cs",  ".php", ".lua", ".sh", ".bash", ".zsh", ".ps1"};
  const std::size_t slash = path.rfind('/');
  const std::string name = text::ascii_lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
  for (std::string_view ext : kExtensions) {
    if (name.size() > ext.size() && name.ends_with(ext)) return true;
  }
  return false;
}

bool scanned_artifact(std::string_view family, std::string_view path) {
  if (path == "terminal.log" || path == "metadata.json" || path.find("/node_modules/") != std::string_view::npos) {
    return false;
  }
  // The run's own screen captures sit at the top as screens/...; captures in
  // snapshots have /screens/ inside their path.
  if (path.starts_with("screens/") || path.starts_with("live/") || path.find("/screens/") != std::string_view::npos) {
    return true;
  }
  return in_family_home(family, path) && !is_source_code(path);
}

TextEvidence scan_text(const RunArtifacts& run, const TextArtifact& artifact, LogReader& reader) {
  TextScan scan(artifact.path);
  for_each_log_piece(run, artifact, reader, [&](const TextArtifact& piece, std::uint64_t first_line) {
    return scan.piece(piece.text, first_line);
  });
  return scan.take();
}

// Adds one text's findings to the run's, as scanning it after the texts
// before it would have: each scan stops once the run's list is full, but
// only after the text's first finding.
void append_text_evidence(TextEvidence found, CommonParse& out) {
  for (TodoItem& todo : found.todos) {
    todo.position = out.todos.size();
    out.todos.push_back(std::move(todo));
    if (out.todos.size() >= kTodoScanLimit) break;
  }
  for (ToolError& error : found.tool_errors) {
    error.position = out.tool_errors.size();
    out.tool_errors.push_back(std::move(error));
    if (out.tool_errors.size() >= kToolErrorScanLimit) break;
  }
}

void reduce_tool_errors(std::vector<ToolError>& errors) {
  std::vector<ToolError> out;
  std::unordered_map<std::string, std::size_t> slots;
  for (auto& e : errors) {
    if (out.size() >= 20) break;
    auto [it, inserted] = slots.try_emplace(text::to_lower(e.text), out.size());
    if (inserted) {
      out.push_back(std::move(e));
    } else {
      out[it->second] = std::move(e);
    }
  }
  for (std::size_t i = 0; i < out.size(); ++i) out[i].position = i;
  errors = std::move(out);
}

}  // namespace

EvidenceScan::EvidenceScan(const RunArtifacts& run, std::string_view family)
    : run_(run), family_(family), found_(run.texts.size()) {}

EvidenceScan::~EvidenceScan() = default;

void EvidenceScan::begin(const TextArtifact& artifact) {
  current_.reset();
  scan_.reset();
  // Only the run's own texts are watched (a caller may read any text).
  const std::less<const TextArtifact*> before;
  if (run_.texts.empty() || before(&artifact, run_.texts.data()) ||
      !before(&artifact, run_.texts.data() + run_.texts.size())) {
    return;
  }
  const auto index = static_cast<std::size_t>(&artifact - run_.texts.data());
  if (found_[index] || !scanned_artifact(family_, artifact.path)) return;
  current_ = index;
  scan_ = std::make_unique<TextScan>(artifact.path);
}

void EvidenceScan::piece(const TextArtifact& piece, std::uint64_t first_line) {
  if (scan_ && scan_->open()) scan_->piece(piece.text, first_line);
}

void EvidenceScan::line(std::uint64_t number, std::string_view raw, const json::Element* parsed) {
  if (scan_) scan_->line(number, raw, parsed);
}

void EvidenceScan::end(bool complete) {
  // A text read only in part is scanned again, whole, when the evidence is
  // put together.
  if (complete && current_ && scan_) found_[*current_] = scan_->take();
  current_.reset();
  scan_.reset();
}

CommonParse terminal_evidence(const RunArtifacts& run, std::string_view family) {
  CommonParse out;
  const HarnessDefinition* harness = find_harness(family);
  const bool transcript_mode =
      provider_transcripts(run, family).empty() && (harness == nullptr || harness->terminal_transcript);
  read_terminal(run.terminal, transcript_mode, out);
  if (transcript_mode) parse_todos("terminal.log", run.terminal, out.todos);
  parse_tool_errors("terminal.log", run.terminal, out.tool_errors);
  return out;
}

void add_text_evidence(const RunArtifacts& run, std::string_view family, EvidenceScan& scan, CommonParse& out) {
  LogReader reader;
  for (std::size_t i = 0; i < run.texts.size(); ++i) {
    const TextArtifact& artifact = run.texts[i];
    if (!scanned_artifact(family, artifact.path)) continue;
    std::optional<TextEvidence>& found = scan.found_[i];
    append_text_evidence(found ? std::move(*found) : scan_text(run, artifact, reader), out);
  }
  reduce_tool_errors(out.tool_errors);
}

CommonParse common_parse(const RunArtifacts& run, std::string_view family) {
  CommonParse out = terminal_evidence(run, family);
  EvidenceScan scan(run, family);
  add_text_evidence(run, family, scan, out);
  dedupe_todos(out.todos);
  return out;
}

}  // namespace tl
