#include "artifacts.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_set>

#include "harness.hpp"
#include "json.hpp"
#include "posix_file.hpp"
#include "text.hpp"

namespace tl {

namespace {

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string slashes(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool has_nul(std::string_view bytes) { return std::memchr(bytes.data(), '\0', bytes.size()) != nullptr; }

// Bytes to padded UTF-8 text.
std::string finish_text(std::string bytes) {
  text::repair_utf8_in_place(bytes);
  json::pad(bytes);
  return bytes;
}

struct Entry {
  std::string name;
  std::string path;
  struct stat st;
};

// The entries of a directory sorted by name in byte order; entries whose
// type cannot be read are left out. False when the directory cannot be listed.
bool list_dir(const std::string& dir, std::vector<Entry>& out) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  while (true) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (e == nullptr) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    Entry entry;
    entry.path = join(dir, name);
    entry.name = std::move(name);
    if (::lstat(entry.path.c_str(), &entry.st) != 0) continue;
    out.push_back(std::move(entry));
  }
  ::closedir(d);
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return true;
}

bool ends_with(std::string_view s, std::string_view suffix) { return s.ends_with(suffix); }

std::string context_source(std::string_view rel) {
  if (rel.starts_with("snapshots/")) {
    std::string_view rest = rel.substr(10);
    std::string_view name = rest.substr(0, rest.find('/'));
    if (!name.empty()) return std::string(name);
  }
  return "run";
}

std::optional<std::string> context_title(const std::string& path) {
  auto t = read_text_window(path, kBinaryProbe);
  if (!t) return std::nullopt;
  text::LineReader lines(*t);
  std::string_view line;
  while (lines.next(line)) {
    std::string_view trimmed = text::trim(line);
    if (trimmed.empty()) continue;
    std::size_t hashes = trimmed.find_first_not_of('#');
    trimmed = hashes == std::string_view::npos ? std::string_view() : trimmed.substr(hashes);
    return std::string(text::take_chars(text::trim(trimmed), text::kNameChars));
  }
  return std::nullopt;
}

template <typename T>
void sort_and_dedupe(std::vector<T>& items) {
  std::stable_sort(items.begin(), items.end(), [](const T& a, const T& b) { return a.path < b.path; });
  auto last = std::unique(items.begin(), items.end(), [](const T& a, const T& b) { return a.path == b.path; });
  items.erase(last, items.end());
}

}  // namespace

namespace {

// Appends what `fd` gives from its offset on to `out`, at most `limit` bytes
// and up to the end of the file, in steps through one reused buffer: `out`
// is reserved for `expected` bytes and the padding, and grows only if the
// file turns out longer; no byte of it is written twice. False on a read
// error.
bool append_read(int fd, std::uint64_t expected, std::uint64_t limit, std::string& out) {
  constexpr std::size_t kStep = 1 << 18;
  static const std::unique_ptr<char[]> step(new char[kStep]);
  out.reserve(out.size() + static_cast<std::size_t>(std::min(expected, limit)) + json::kPadding);
  std::uint64_t got = 0;
  while (got < limit) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(limit - got, kStep));
    const ssize_t n = ::read(fd, step.get(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    out.append(step.get(), static_cast<std::size_t>(n));
    got += static_cast<std::uint64_t>(n);
  }
  return true;
}

// Reads the leading bytes (the probe) of the file into a buffer on the
// stack; `binary` tells whether they hold a NUL byte. False on a read error.
bool binary_start(int fd, std::uint64_t probe_len, bool& binary) {
  char probe[kBinaryProbe];
  std::uint64_t got = 0;
  if (!read_up_to(fd, probe, std::min<std::uint64_t>(probe_len, sizeof probe), got)) return false;
  binary = has_nul(std::string_view(probe, static_cast<std::size_t>(got)));
  return true;
}

}  // namespace

std::optional<std::string> read_text_window(const std::string& path, std::uint64_t max_bytes) {
  Fd f;
  std::uint64_t length = 0;
  if (!open_regular(path, f, length)) return std::nullopt;
  bool binary = false;
  if (!binary_start(f.fd, std::min(length, max_bytes), binary) || binary) return std::nullopt;
  if (::lseek(f.fd, 0, SEEK_SET) != 0) return std::nullopt;
  std::string bytes;
  if (length <= max_bytes) {
    // A file that grew since its length was read is read on up to the window.
    if (!append_read(f.fd, length, max_bytes, bytes)) return std::nullopt;
  } else {
    std::uint64_t m = max_bytes >= 2 ? max_bytes - 1 : max_bytes;
    std::uint64_t head = m / 2;
    std::uint64_t tail = m - head;
    bytes.reserve(static_cast<std::size_t>(max_bytes) + json::kPadding);
    if (!append_read(f.fd, head, head, bytes)) return std::nullopt;
    if (max_bytes >= 2) bytes.push_back('\n');
    if (::lseek(f.fd, static_cast<off_t>(length - tail), SEEK_SET) < 0) return std::nullopt;
    if (!append_read(f.fd, tail, tail, bytes)) return std::nullopt;
  }
  return finish_text(std::move(bytes));
}

std::uint64_t readable_log_bytes(int fd, std::uint64_t length) {
  std::uint64_t readable = std::min(length, kLogLimit);
#ifdef SEEK_HOLE
  // A hole reads as NUL bytes, which no text log holds: the log ends there.
  const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
  if (hole >= 0) readable = std::min(readable, static_cast<std::uint64_t>(hole));
#else
  (void)fd;
#endif
  return readable;
}

namespace {

// A window that takes a whole log at once.
constexpr std::size_t kWholeLog = std::numeric_limits<std::size_t>::max();

// Opens the session log at `path` at its start, with its length and how much
// of it is read. The length read before reading bounds what is read, so a
// file that grows meanwhile cannot make the read endless.
bool open_log(const std::string& path, Fd& f, std::uint64_t& length, std::uint64_t& readable) {
  if (!open_regular(path, f, length)) return false;
  readable = readable_log_bytes(f.fd, length);
  return ::lseek(f.fd, 0, SEEK_SET) == 0;
}

// Reads the log at `path` into `buffer` a window of whole lines at a time,
// calling fn(first_line) with each window in the buffer (UTF-8 repaired and
// padded) until fn returns false; together the windows are the log up to the
// per-log limit, in whole lines before a hole or the limit. The first window
// always holds the start that the binary test reads. False, and fn not
// called, when the log cannot be opened, its start holds a NUL byte or its
// first read fails; a later read error ends the log where it stands.
bool read_windows(const std::string& path, std::string& buffer, std::size_t window,
                  const std::function<bool(std::uint64_t first_line)>& fn) {
  Fd f;
  std::uint64_t length = 0;
  std::uint64_t readable = 0;
  if (!open_log(path, f, length, readable)) {
    buffer.clear();
    return false;
  }
  std::uint64_t left = readable;
  std::uint64_t line = 1;
  window = std::max<std::size_t>(window, 1);
  std::string carry;  // the start of a line that the window cut
  bool first = true;
  // The window's bytes so far: they start the buffer. Whatever follows them
  // is left from the last window or log and is read over: a string that
  // grows writes zeros over what it adds, and a buffer that kept its length
  // only grows by what the last window lacked.
  std::size_t have = 0;
  while (true) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, window > have ? window - have : 0));
    if (buffer.capacity() < have + want + json::kPadding) {
      // Room for an eighth more, so that the next log or window, often of
      // about the same length, fits in the same buffer.
      buffer.reserve(have + want + want / 8 + json::kPadding);
    }
    buffer.resize(have + want);
    std::uint64_t got = 0;
    const bool ok = read_up_to(f.fd, buffer.data() + have, want, got);
    buffer.resize(have + static_cast<std::size_t>(got));
    left -= got;
    if (!ok) {
      buffer.clear();
      return !first;
    }
    const bool end = left == 0 || got < want;  // a log that shrank ends early
    std::size_t cut = buffer.size();
    if (end) {
      if (readable < length) {
        // The block before a hole or the limit ends with its last whole line.
        const std::size_t lf = buffer.rfind('\n');
        cut = lf == std::string::npos ? 0 : lf + 1;
      }
    } else {
      const std::size_t lf = buffer.rfind('\n');
      // One line fills the window, or the first window would not hold the
      // start that the binary test looks at: read on.
      if (lf == std::string::npos || want == 0 || (first && lf + 1 < kBinaryProbe)) {
        window = window > kWholeLog / 2 ? kWholeLog : window * 2;
        have = buffer.size();
        continue;
      }
      cut = lf + 1;
    }
    if (first) {
      if (has_nul(std::string_view(buffer).substr(0, std::min(cut, kBinaryProbe)))) {
        buffer.clear();
        return false;
      }
      first = false;
    }
    carry.assign(buffer, cut, std::string::npos);
    buffer.resize(cut);
    const std::uint64_t lines = text::count_line_feeds(buffer);
    text::repair_utf8_in_place(buffer);
    json::pad(buffer);
    if (!fn(line) || end) return true;
    line += lines;
    have = carry.size();
    if (have <= buffer.size()) {
      std::memcpy(buffer.data(), carry.data(), have);
    } else {
      buffer.assign(carry);
    }
  }
}

// The text of one artifact as a reader reads it, without its watcher.
const TextArtifact& read_whole(const RunArtifacts& run, const TextArtifact& artifact, TextArtifact& scratch) {
  if (artifact.file.empty()) return artifact;
  scratch.path = artifact.path;
  if (!read_windows(artifact.file, scratch.text, kWholeLog, [](std::uint64_t) { return true; })) {
    json::pad(scratch.text);
  }
  if (run.prepare_log != nullptr) run.prepare_log(scratch);
  return scratch;
}

// for_each_log_piece without the watcher: true when the reader read to the end.
bool read_pieces(const RunArtifacts& run, const TextArtifact& artifact, TextArtifact& scratch,
                 const std::function<bool(const TextArtifact& piece, std::uint64_t first_line)>& fn,
                 std::size_t window) {
  const bool whole_preparation = run.prepare_log != nullptr && !run.prepare_log_by_lines;
  if (artifact.file.empty() || (whole_preparation && run.needs_whole_log == nullptr)) {
    return fn(read_whole(run, artifact, scratch), 1);
  }
  scratch.path = artifact.path;
  bool complete = true;
  bool whole = false;
  const bool read = read_windows(artifact.file, scratch.text, window, [&](std::uint64_t first_line) {
    // The first window tells whether the log is read whole after all (its
    // start is then read again, with the rest).
    if (first_line == 1 && run.needs_whole_log != nullptr && run.needs_whole_log(scratch)) {
      whole = true;
      return false;
    }
    if (run.prepare_log != nullptr && !whole_preparation) run.prepare_log(scratch);
    complete = fn(scratch, first_line);
    return complete;
  });
  if (whole) return fn(read_whole(run, artifact, scratch), 1);
  if (read) return complete;
  json::pad(scratch.text);  // a log that cannot be read is one empty piece
  return fn(scratch, 1);
}

}  // namespace

std::optional<std::string> read_complete_text(const std::string& path) {
  std::string bytes;
  if (!read_windows(path, bytes, kWholeLog, [](std::uint64_t) { return true; })) return std::nullopt;
  return bytes;
}

const TextArtifact& log_text(const RunArtifacts& run, const TextArtifact& artifact, LogReader& reader) {
  const TextArtifact& text = read_whole(run, artifact, reader.buffer);
  if (reader.watcher != nullptr) {
    reader.watcher->begin(artifact);
    reader.watcher->piece(text, 1);
    reader.watcher->end(true);
  }
  return text;
}

void for_each_log_piece(const RunArtifacts& run, const TextArtifact& artifact, LogReader& reader,
                        const std::function<bool(const TextArtifact& piece, std::uint64_t first_line)>& fn,
                        std::size_t window, bool watch_lines) {
  LogWatcher* watcher = reader.watcher;
  if (watcher == nullptr) {
    read_pieces(run, artifact, reader.buffer, fn, window);
    return;
  }
  watcher->begin(artifact);
  const bool complete = read_pieces(
      run, artifact, reader.buffer,
      [&](const TextArtifact& piece, std::uint64_t first_line) {
        if (!watch_lines) watcher->piece(piece, first_line);
        return fn(piece, first_line);
      },
      window);
  watcher->end(complete);
}

namespace {

// Whether the session log at `path` would be read as text: it opens, and
// what would be read of its start holds no NUL byte. Only its start is read.
bool readable_log(const std::string& path) {
  Fd f;
  std::uint64_t length = 0;
  std::uint64_t readable = 0;
  if (!open_log(path, f, length, readable)) return false;
  char probe[kBinaryProbe];
  std::uint64_t got = 0;
  if (!read_up_to(f.fd, probe, std::min<std::uint64_t>(readable, sizeof probe), got)) return false;
  std::string_view start(probe, static_cast<std::size_t>(got));
  // A log cut short keeps its whole lines only.
  if (readable < length && readable <= sizeof probe) start = start.substr(0, start.rfind('\n') + 1);
  return !has_nul(start);
}

// A session log found when the run is loaded, read later by log_text.
TextArtifact deferred_log(std::string rel, const std::string& path) {
  TextArtifact t;
  t.path = std::move(rel);
  t.file = path;
  return t;
}

}  // namespace

namespace {

// The path with the `root` prefix removed by whole path components (the
// full path if it does not start with `root`), as raw bytes.
std::string_view relative_bytes(const std::string& root, const std::string& path) {
  std::string_view rel = path;
  if (!root.empty() && rel.starts_with(root)) {
    std::string_view rest = rel.substr(root.size());
    if (root.back() == '/') {
      rel = rest;
    } else if (rest.empty() || rest[0] == '/') {
      rel = rest;
      while (!rel.empty() && rel[0] == '/') rel.remove_prefix(1);
    }
  }
  return rel;
}

}  // namespace

std::string rel_path(const std::string& root, const std::string& path) {
  return slashes(text::repair_utf8(relative_bytes(root, path)));
}

// Dependency trees, build output, git objects and the harnesses' caches,
// downloads and plugins hold no run evidence but can hold most of a
// snapshot's bytes. The test is a plain substring test on the relative path,
// so every directory below a skipped one is skipped with it and names that
// only begin with a pattern ("targets", "cached") are skipped too; since every
// pattern starts with a slash, a directory directly in the run directory is
// never skipped.
bool skip_dir(std::string_view rel) {
  for (std::string_view p :
       {"/node_modules", "/target", "/.git/objects", "/cache", "/statsig", "/downloads", "/plugins"}) {
    if (rel.find(p) != std::string_view::npos) return true;
  }
  return false;
}

namespace {

// A regular file below the run directory: its relative path (made distinct
// from every other file's by make_paths_distinct), its full path and length.
struct RunFile {
  std::string rel;
  std::string path;
  std::uint64_t size = 0;
  bool exact = true;  // `rel` is the file's relative path byte for byte
};

// Every regular file below `dir`, depth-first in byte order of the names,
// leaving out the directories that skip_dir names.
void list_run_files(const std::string& root, const std::string& dir, std::vector<RunFile>& out) {
  std::vector<Entry> entries;
  if (!list_dir(dir, entries)) return;
  for (Entry& e : entries) {
    if (S_ISREG(e.st.st_mode)) {
      RunFile f;
      f.rel = rel_path(root, e.path);
      f.exact = f.rel == relative_bytes(root, e.path);
      f.size = static_cast<std::uint64_t>(e.st.st_size);
      f.path = std::move(e.path);
      out.push_back(std::move(f));
    } else if (S_ISDIR(e.st.st_mode)) {
      if (skip_dir(rel_path(root, e.path))) continue;
      list_run_files(root, e.path, out);
    }
  }
}

// `rel` with "~" and `n` put before the extension of its last component
// ("p/a.jsonl" becomes "p/a~2.jsonl"), so that the name still says what
// kind of file it is.
std::string numbered(std::string_view rel, std::size_t n) {
  const std::size_t slash = rel.rfind('/');
  const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = rel.rfind('.');
  if (dot == std::string_view::npos || dot <= name_start) dot = rel.size();
  const std::string_view stem = rel.substr(0, dot);
  const std::string_view extension = rel.substr(stem.size());
  return std::string(stem) + "~" + std::to_string(n) + std::string(extension);
}

// Two files whose names differ only in bytes that are not UTF-8, or in a
// backslash against a slash, would get the same relative path. A file whose
// path is its own name keeps it; any other one that meets a path already
// taken is numbered until its path is free, in walk order. So every file of
// the run keeps a path of its own.
void make_paths_distinct(std::vector<RunFile>& files) {
  if (std::all_of(files.begin(), files.end(), [](const RunFile& f) { return f.exact; })) return;
  std::unordered_set<std::string> taken;
  for (const RunFile& f : files) {
    if (f.exact) taken.insert(f.rel);
  }
  for (RunFile& f : files) {
    if (f.exact || taken.insert(f.rel).second) continue;
    for (std::size_t n = 2;; ++n) {
      std::string candidate = numbered(f.rel, n);
      if (taken.insert(candidate).second) {
        f.rel = std::move(candidate);
        break;
      }
    }
  }
}

// A database file found while walking a run: its relative and full path and
// the rule that picked it.
struct FoundDatabase {
  std::string rel;
  std::string path;
  std::size_t rule = 0;
};

// The texts among `files` within the budget, noting the files that one of
// `rules` picks as databases.
void collect_texts(const std::vector<RunFile>& files, std::vector<TextArtifact>& texts, std::uint64_t& budget,
                   std::span<const DatabaseRule> rules, std::vector<FoundDatabase>& found) {
  for (const RunFile& f : files) {
    if (f.rel == "metadata.json" || f.rel == "terminal.log") continue;
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (rules[i].matches != nullptr && rules[i].matches(f.rel)) {
        found.push_back(FoundDatabase{f.rel, f.path, i});
        break;
      }
    }
    if (provider_transcript_family(f.rel)) {
      if (readable_log(f.path)) texts.push_back(deferred_log(f.rel, f.path));
      continue;
    }
    if (f.size > kFileWindow || budget == 0 || f.size > budget) continue;
    std::optional<std::string> t = read_text_window(f.path, std::min(budget, kFileWindow));
    if (!t) continue;
    budget -= std::min<std::uint64_t>(budget, t->size());
    texts.push_back(TextArtifact{f.rel, std::move(*t)});
  }
}

// True when the lower-cased path lies in the home directory of any harness.
bool in_harness_home(std::string_view lower) {
  for (const HarnessDefinition& h : harnesses()) {
    for (std::string_view home : h.context_homes) {
      if (lower.find(home) != std::string_view::npos) return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string_view> context_kind(std::string_view rel) {
  std::string lower = text::to_lower(rel);
  std::string_view l = lower;
  std::size_t slash = l.rfind('/');
  std::string_view name = slash == std::string_view::npos ? l : l.substr(slash + 1);
  auto contains = [&](std::string_view p) { return l.find(p) != std::string_view::npos; };
  if (name == "instructions.md" || name == "agents.md" || name == "claude.md" || contains("/rules/") ||
      ends_with(name, ".mdc")) {
    return "project_rule";
  }
  if (contains("/skills/") || contains("/.agents/skills/")) return "skill";
  if (contains("mcp")) return "mcp_config";
  if (!in_harness_home(l)) return std::nullopt;
  // One list for every harness: a configuration name counts in any harness's
  // home, not only in the home of the harness it belongs to.
  for (std::string_view cfg :
       {"config.yml", "config.toml", "config.json", "config.yaml", ".claude.json", "settings.json", "opencode.json"}) {
    if (name == cfg) return "harness_config";
  }
  if (ends_with(name, ".jsonl") || contains("/sessions/") || contains("/projects/")) return "session_log";
  return std::nullopt;
}

namespace {

void collect_context_artifacts(const std::vector<RunFile>& files, std::vector<ContextArtifact>& out) {
  for (const RunFile& f : files) {
    auto kind = context_kind(f.rel);
    if (!kind) continue;
    ContextArtifact a;
    a.kind = std::string(*kind);
    a.source = context_source(f.rel);
    a.title = context_title(f.path);
    a.size_bytes = f.size;
    a.path = f.rel;
    out.push_back(std::move(a));
  }
}

}  // namespace

void collect_context_artifacts_from(const std::string& root, const std::string& dir,
                                    std::vector<ContextArtifact>& out) {
  std::vector<RunFile> files;
  list_run_files(root, dir, files);
  make_paths_distinct(files);
  collect_context_artifacts(files, out);
}

namespace {

std::string file_stem(const std::string& input) {
  std::string_view p = input;
  while (true) {
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    if (p.ends_with("/.")) {
      p.remove_suffix(2);
      continue;
    }
    break;
  }
  std::size_t slash = p.rfind('/');
  std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
  if (name.empty() || name == ".." || name == "." || name == "/") return "live";
  return slashes(text::repair_utf8(text::file_stem(name)));
}

}  // namespace

RunArtifacts load_run(const std::string& input, std::span<const DatabaseRule> databases) {
  RunArtifacts run;
  struct stat st;
  if (::stat(input.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    std::string path = slashes(text::repair_utf8(input));
    if (provider_transcript_family(path)) {
      if (readable_log(input)) run.texts.push_back(deferred_log(path, input));
    } else if (std::optional<std::string> t = read_text_window(input, kFileWindow)) {
      run.texts.push_back(TextArtifact{path, std::move(*t)});
    }
    run.metadata = json::Value::object();
    run.metadata["runId"] = file_stem(input);
    return run;
  }
  std::string manifest = read_text_window(join(input, "metadata.json"), kFileWindow).value_or("");
  if (auto v = json::parse_value(manifest)) run.metadata = std::move(*v);
  run.terminal = read_text_window(join(input, "terminal.log"), kFileWindow).value_or("");
  std::vector<RunFile> files;
  list_run_files(input, input, files);
  make_paths_distinct(files);
  std::uint64_t budget = kTextBudget;
  std::vector<FoundDatabase> found;
  collect_texts(files, run.texts, budget, databases, found);
  sort_and_dedupe(run.texts);
  std::sort(found.begin(), found.end(), [](const FoundDatabase& a, const FoundDatabase& b) { return a.rel < b.rel; });
  for (const FoundDatabase& f : found) {
    if (!run.databases.empty() && run.databases.back().path == f.rel) continue;
    if (auto rows = read_sqlite_rows(f.path, databases[f.rule].queries)) {
      run.databases.push_back(DatabaseArtifact{f.rel, std::move(*rows)});
    }
  }
  collect_context_artifacts(files, run.context_artifacts);
  sort_and_dedupe(run.context_artifacts);
  return run;
}

std::optional<std::string_view> provider_transcript_family(std::string_view path) {
  if (const HarnessDefinition* h = session_log_harness(path)) return h->name;
  return std::nullopt;
}

std::vector<const TextArtifact*> provider_transcripts(const RunArtifacts& run, std::string_view family) {
  std::vector<const TextArtifact*> out;
  for (const auto& t : run.texts) {
    if (provider_transcript_family(t.path) == family) out.push_back(&t);
  }
  return out;
}

std::vector<const TextArtifact*> texts_matching(const RunArtifacts& run,
                                                std::initializer_list<std::string_view> patterns) {
  std::vector<const TextArtifact*> out;
  for (const auto& t : run.texts) {
    for (auto p : patterns) {
      if (t.path.find(p) != std::string::npos) {
        out.push_back(&t);
        break;
      }
    }
  }
  return out;
}

}  // namespace tl
