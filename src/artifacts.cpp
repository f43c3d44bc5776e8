#include "artifacts.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// A large buffer is backed by huge pages where the system offers them, so
// that filling it costs a few page faults instead of thousands.
void advise_huge_pages(std::string& buffer) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = 2u << 20;
  if (buffer.capacity() < 2 * kHuge) return;
  auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t last = (begin + buffer.capacity()) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)buffer;
#endif
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

std::optional<std::string> read_text_window(const std::string& path, std::uint64_t max_bytes) {
  Fd f;
  std::uint64_t length = 0;
  if (!open_regular(path, f, length)) return std::nullopt;
  std::uint64_t probe_len = std::min({length, max_bytes, kBinaryProbe});
  std::string probe(static_cast<std::size_t>(probe_len), '\0');
  std::uint64_t got = 0;
  if (!read_up_to(f.fd, probe.data(), probe_len, got)) return std::nullopt;
  probe.resize(static_cast<std::size_t>(got));
  if (has_nul(probe)) return std::nullopt;
  if (::lseek(f.fd, 0, SEEK_SET) != 0) return std::nullopt;
  std::string bytes;
  if (length <= max_bytes) {
    // A file that grew since its length was read is read on up to the window.
    std::uint64_t cap = std::min(max_bytes, length + 65536);
    bytes.reserve(static_cast<std::size_t>(cap) + json::kPadding);
    bytes.resize(static_cast<std::size_t>(cap));
    if (!read_up_to(f.fd, bytes.data(), cap, got)) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(got));
  } else {
    std::uint64_t m = max_bytes >= 2 ? max_bytes - 1 : max_bytes;
    std::uint64_t head = m / 2;
    std::uint64_t tail = m - head;
    bytes.reserve(static_cast<std::size_t>(max_bytes) + json::kPadding);
    bytes.resize(static_cast<std::size_t>(max_bytes));
    if (!read_up_to(f.fd, bytes.data(), head, got)) return std::nullopt;
    std::uint64_t used = got;
    if (max_bytes >= 2) bytes[used++] = '\n';
    if (::lseek(f.fd, static_cast<off_t>(length - tail), SEEK_SET) < 0) return std::nullopt;
    if (!read_up_to(f.fd, bytes.data() + used, tail, got)) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(used + got));
  }
  return finish_text(std::move(bytes));
}

std::optional<std::string> read_complete_text(const std::string& path) {
  Fd f;
  std::uint64_t length = 0;
  if (!open_regular(path, f, length)) return std::nullopt;
  // The length read before reading bounds what is read, so a file that grows
  // meanwhile cannot make the read endless.
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(length) + json::kPadding);
  advise_huge_pages(bytes);
  bytes.resize(static_cast<std::size_t>(length));
  std::uint64_t got = 0;
  if (!read_up_to(f.fd, bytes.data(), length, got)) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(got));
  if (has_nul(std::string_view(bytes).substr(0, kBinaryProbe))) return std::nullopt;
  return finish_text(std::move(bytes));
}

std::string rel_path(const std::string& root, const std::string& path) {
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
  return slashes(text::repair_utf8(rel));
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

// A database file found while walking a run: its relative and full path and
// the rule that picked it.
struct FoundDatabase {
  std::string rel;
  std::string path;
  std::size_t rule = 0;
};

// The texts below `dir` within the budget, noting the files that one of
// `rules` picks as databases.
void collect_texts(const std::string& root, const std::string& dir, std::vector<TextArtifact>& texts,
                   std::uint64_t& budget, std::span<const DatabaseRule> rules, std::vector<FoundDatabase>& found) {
  std::vector<Entry> entries;
  if (!list_dir(dir, entries)) return;
  for (const Entry& e : entries) {
    if (S_ISREG(e.st.st_mode)) {
      std::string rel = rel_path(root, e.path);
      if (rel == "metadata.json" || rel == "terminal.log") continue;
      for (std::size_t i = 0; i < rules.size(); ++i) {
        if (rules[i].matches != nullptr && rules[i].matches(rel)) {
          found.push_back(FoundDatabase{rel, e.path, i});
          break;
        }
      }
      std::optional<std::string> t;
      if (provider_transcript_family(rel)) {
        t = read_complete_text(e.path);
      } else {
        auto size = static_cast<std::uint64_t>(e.st.st_size);
        if (size > kFileWindow || budget == 0 || size > budget) continue;
        t = read_text_window(e.path, std::min(budget, kFileWindow));
        if (t) budget -= std::min<std::uint64_t>(budget, t->size());
      }
      if (!t) continue;
      texts.push_back(TextArtifact{std::move(rel), std::move(*t)});
    } else if (S_ISDIR(e.st.st_mode)) {
      if (skip_dir(rel_path(root, e.path))) continue;
      collect_texts(root, e.path, texts, budget, rules, found);
    }
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

void collect_context_artifacts_from(const std::string& root, const std::string& dir,
                                    std::vector<ContextArtifact>& out) {
  std::vector<Entry> entries;
  if (!list_dir(dir, entries)) return;
  for (const Entry& e : entries) {
    std::string rel = rel_path(root, e.path);
    if (S_ISDIR(e.st.st_mode)) {
      if (!skip_dir(rel)) collect_context_artifacts_from(root, e.path, out);
      continue;
    }
    if (!S_ISREG(e.st.st_mode)) continue;
    auto kind = context_kind(rel);
    if (!kind) continue;
    ContextArtifact a;
    a.kind = std::string(*kind);
    a.source = context_source(rel);
    a.title = context_title(e.path);
    a.size_bytes = static_cast<std::uint64_t>(e.st.st_size);
    a.path = std::move(rel);
    out.push_back(std::move(a));
  }
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
    std::optional<std::string> t =
        provider_transcript_family(path) ? read_complete_text(input) : read_text_window(input, kFileWindow);
    if (t) run.texts.push_back(TextArtifact{path, std::move(*t)});
    run.metadata = json::Value::object();
    run.metadata["runId"] = file_stem(input);
    return run;
  }
  std::string manifest = read_text_window(join(input, "metadata.json"), kFileWindow).value_or("");
  if (auto v = json::parse_value(manifest)) run.metadata = std::move(*v);
  run.terminal = read_text_window(join(input, "terminal.log"), kFileWindow).value_or("");
  std::uint64_t budget = kTextBudget;
  std::vector<FoundDatabase> found;
  collect_texts(input, input, run.texts, budget, databases, found);
  sort_and_dedupe(run.texts);
  std::sort(found.begin(), found.end(), [](const FoundDatabase& a, const FoundDatabase& b) { return a.rel < b.rel; });
  for (const FoundDatabase& f : found) {
    if (!run.databases.empty() && run.databases.back().path == f.rel) continue;
    if (auto rows = read_sqlite_rows(f.path, databases[f.rule].queries)) {
      run.databases.push_back(DatabaseArtifact{f.rel, std::move(*rows)});
    }
  }
  collect_context_artifacts_from(input, input, run.context_artifacts);
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
