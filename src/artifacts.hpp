// Loading one run directory (or one log file) into memory, and recognising
// harness session logs and context files among its files.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts_sqlite.hpp"
#include "json.hpp"
#include "json_value.hpp"
#include "model.hpp"

namespace tl {

struct TextArtifact {
  std::string path;  // relative to the run directory, with forward slashes
  std::string text;  // UTF-8; its buffer is padded for in-place JSON parsing
  // A session log is read when a step reads it (`log_text`), not when the run
  // is loaded, so that one log at a time is in memory: `file` is where it
  // lies and `text` stays empty. Empty for every other text.
  std::string file = {};
};

struct RunArtifacts {
  std::string terminal;
  std::vector<TextArtifact> texts;
  std::vector<ContextArtifact> context_artifacts;
  json::Value metadata = json::Value::object();
  // The databases that the rules given to load_run picked, with their rows,
  // sorted by path; a database that cannot be read is absent.
  std::vector<DatabaseArtifact> databases;
  // How the parser rewrites a session log once it is read; none by default.
  void (*prepare_log)(TextArtifact& log) = nullptr;
  // True when that preparation rewrites each line on its own, so that it
  // may be applied to a run of whole lines at a time.
  bool prepare_log_by_lines = false;
  // Whether a session log is read whole, told from its first window
  // `start`: set by a parser whose preparation or reader needs some logs
  // whole (true when the window cannot tell). A log it says no to is read a
  // window at a time, unprepared when the preparation needs logs whole.
  // Without this test a log is read whole exactly when its preparation needs
  // it whole.
  bool (*needs_whole_log)(const TextArtifact& start) = nullptr;
};

inline constexpr std::uint64_t kFileWindow = 262144;
inline constexpr std::uint64_t kTextBudget = 67108864;
inline constexpr std::uint64_t kBinaryProbe = 8192;
// The most of one session log that is read: 1 GiB. A longer log is read up
// to the last line that ends within the limit.
inline constexpr std::uint64_t kLogLimit = 1073741824;

RunArtifacts load_run(const std::string& input, std::span<const DatabaseRule> databases = {});

std::optional<std::string> read_text_window(const std::string& path, std::uint64_t max_bytes);
// The whole file; a session log beyond kLogLimit, or with a hole (a sparse
// file: the hole reads as NUL bytes), only up to the last line that ends
// before the limit or the hole.
std::optional<std::string> read_complete_text(const std::string& path);
// Sees every piece of text that a reader reads through a LogReader, so that
// a second reader (the evidence scan that every parse makes) rides along on
// the first one's reading instead of reading the logs again.
struct LogWatcher {
  virtual ~LogWatcher() = default;
  // A text's reading starts; its pieces follow in order, or, when the reader
  // parses the text line by line, its lines, each with its parse (null for a
  // line that is not one JSON value); `complete` tells whether the reader
  // read it to its end.
  virtual void begin(const TextArtifact& artifact) = 0;
  virtual void piece(const TextArtifact& piece, std::uint64_t first_line) = 0;
  virtual void line(std::uint64_t number, std::string_view raw, const json::Element* parsed) = 0;
  virtual void end(bool complete) = 0;
};

// What a reader of session logs reads them through: one buffer that serves
// log after log, and the watcher of what it reads, if any.
struct LogReader {
  TextArtifact buffer;
  LogWatcher* watcher = nullptr;
};

// The artifact with its text: itself when it holds its text, else the
// reader's buffer holding the log as read now and prepared by the run's
// `prepare_log`.
const TextArtifact& log_text(const RunArtifacts& run, const TextArtifact& artifact, LogReader& reader);
// How much of a session log for_each_log_piece reads at a time (a line
// longer than this is read whole).
inline constexpr std::size_t kLogWindow = 2u << 20;
// The session log a window at a time, for a reader that takes it line by
// line: fn(piece, first_line) gets consecutive runs of whole lines (the last
// may lack its line feed), prepared as log_text prepares them and padded,
// with the number of the piece's first line, until it returns false.
// Together the pieces are the text that log_text gives, so only one window
// of a long log is in memory at a time. A text held in memory, and a log
// whose preparation needs it whole, come as one piece.
// With `watch_lines`, the reader's watcher is not shown the pieces: the
// caller hands it their lines.
void for_each_log_piece(const RunArtifacts& run, const TextArtifact& artifact, LogReader& reader,
                        const std::function<bool(const TextArtifact& piece, std::uint64_t first_line)>& fn,
                        std::size_t window = kLogWindow, bool watch_lines = false);
// Every line of a session log, a window at a time, each parsed once:
// fn(number, raw, parsed) as json::for_each_line gives them. The reader's
// watcher gets each line, with its parse, just before fn.
template <typename Fn>
void for_each_log_line(const RunArtifacts& run, const TextArtifact& log, LogReader& reader, json::DocParser& parser,
                       Fn&& fn) {
  LogWatcher* const watcher = reader.watcher;
  for_each_log_piece(
      run, log, reader,
      [&](const TextArtifact& piece, std::uint64_t first_line) {
        json::for_each_line(
            piece.text, parser,
            [&](std::uint64_t number, std::string_view raw, const json::Element* parsed) {
              if (watcher != nullptr) watcher->line(number, raw, parsed);
              fn(number, raw, parsed);
            },
            first_line);
        return true;
      },
      kLogWindow, watcher != nullptr);
}
// How many leading bytes of an open log are read: its length, at most
// kLogLimit, and no further than its first hole.
std::uint64_t readable_log_bytes(int fd, std::uint64_t length);
void collect_context_artifacts_from(const std::string& root, const std::string& dir, std::vector<ContextArtifact>& out);
std::string rel_path(const std::string& root, const std::string& path);
bool skip_dir(std::string_view rel);

// The harness whose session log lives at `path`, if any.
std::optional<std::string_view> provider_transcript_family(std::string_view path);
std::vector<const TextArtifact*> provider_transcripts(const RunArtifacts& run, std::string_view family);
std::vector<const TextArtifact*> texts_matching(const RunArtifacts& run,
                                                std::initializer_list<std::string_view> patterns);

// The context kind of a file at relative path `rel`, if it is one.
std::optional<std::string_view> context_kind(std::string_view rel);

}  // namespace tl
