// Turns arbitrary bytes into a run directory (manifest, terminal capture,
// screen capture, a session log of every harness at its recognised path and
// OpenCode's store files) and runs the generic parse of every parser over it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli.hpp"
#include "model.hpp"
#include "providers/parser.hpp"
#include "registry.hpp"
#include "text.hpp"

namespace {

namespace fs = std::filesystem;

// Where each piece of the input goes, in order.
constexpr const char* kFiles[] = {
    "metadata.json",
    "terminal.log",
    "screens/001.txt",
    "snapshots/s/home/.claude/projects/p/session.jsonl",
    "snapshots/s/home/.claude/todos/session.json",
    "snapshots/s/home/.codex/sessions/2026/01/02/rollout-1.jsonl",
    "snapshots/s/home/.codex/sessions/2026/01/02/rollout-2.jsonl",
    "snapshots/s/home/.cursor/projects/p/agent-transcripts/t.jsonl",
    "snapshots/s/home/.pi/agent/sessions/p/s.jsonl",
    "snapshots/s/home/.omp/agent/sessions/p/s.jsonl",
    "snapshots/s/home/.local/share/opencode/storage/session/s.json",
    "snapshots/s/home/.local/share/opencode/log/run.log",
    "snapshots/s/work/AGENTS.md",
    // OpenCode's JSON store and database.
    "snapshots/s/home/.local/share/opencode/storage/session/p/ses_1.json",
    "snapshots/s/home/.local/share/opencode/storage/message/ses_1/msg_1.json",
    "snapshots/s/home/.local/share/opencode/storage/part/msg_1/prt_1.json",
    "snapshots/s/home/.local/share/opencode/storage/part/msg_1/prt_2.json",
    "snapshots/s/home/.local/share/opencode/storage/todo/ses_1.json",
    "snapshots/s/home/.local/share/opencode/opencode.db",
    "snapshots/s/home/.gemini/tmp/p/chats/session-1.jsonl",
    "snapshots/s/home/.gemini/tmp/p/chats/session-0.json",
    "snapshots/s/home/.gemini/tmp/p/chats/s1/agent.jsonl",
    // An omp sub-agent's session in the folder named after the main session,
    // and a program source in a harness home.
    "snapshots/s/home/.omp/agent/sessions/p/s/Worker.jsonl",
    "snapshots/s/home/.pi/agent/extensions/todo.ts",
};

const fs::path& run_dir() {
  static const fs::path dir = [] {
    fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path d = base / ("tracelens-run-fuzz-" + std::to_string(::getpid()));
    fs::remove_all(d);
    for (const char* f : kFiles) fs::create_directories((d / f).parent_path());
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Pieces are separated by the byte 0x1E (record separator).
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const fs::path& dir = run_dir();
  std::size_t pos = 0;
  for (const char* f : kFiles) {
    std::size_t end = pos <= input.size() ? input.find('\x1e', pos) : std::string_view::npos;
    std::string_view piece =
        pos <= input.size() ? input.substr(pos, end == std::string_view::npos ? end : end - pos) : std::string_view();
    std::ofstream(dir / f, std::ios::binary | std::ios::trunc)
        .write(piece.data(), static_cast<std::streamsize>(piece.size()));
    pos = end == std::string_view::npos ? input.size() + 1 : end + 1;
  }
  struct Family {
    const char* harness;
    const char* version;
  };
  for (Family fam : {Family{"claude", "2.1.217"}, Family{"claude", "1.0.128"}, Family{"codex", "0.155.0"},
                     Family{"cursor", "1.0.0"}, Family{"opencode", "1.17.3"}, Family{"pi", "0.73.1"},
                     Family{"omp", "15.11.0"}, Family{"omp", "18.2.3"}, Family{"gemini", "0.40.0"}}) {
    tl::Args args{dir.string(), fam.harness, fam.version};
    tl::ParserOutput out = tl::parse_with_registry(args);
    std::string json = tl::to_json(out);
    if (!tl::text::is_valid_utf8(json)) __builtin_trap();  // the document must stay valid UTF-8
  }
  return 0;
}
