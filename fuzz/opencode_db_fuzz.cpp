// Turns arbitrary bytes into an OpenCode database, its write-ahead log and
// (when asked) its index, reads them as a run's loader would and builds the
// store's records. Besides crashes it traps when a read takes more than five
// seconds (SQLite retrying on a log it cannot use) or when the directory is
// not left as it was (a file created, changed or removed).
//
// Input: one flag byte (bit 0: write an index), the database's length and
// the log's length (four bytes each, little-endian), the database, the log,
// and the rest as the index.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "artifacts.hpp"
#include "artifacts_sqlite.hpp"
#include "model.hpp"
#include "providers/opencode_store.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path& store_dir() {
  static const fs::path dir = [] {
    fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path d = base / ("tracelens-db-fuzz-" + std::to_string(::getpid())) / "home/.local/share/opencode";
    fs::remove_all(d.parent_path().parent_path().parent_path());
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

std::uint32_t little_endian32(std::string_view s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4 && at + i < s.size(); ++i) {
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  }
  return v;
}

std::string_view take(std::string_view& rest, std::size_t n) {
  std::string_view out = rest.substr(0, std::min(n, rest.size()));
  rest.remove_prefix(out.size());
  return out;
}

void write(const fs::path& p, std::string_view bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::pair<std::string, std::int64_t>> state_of(const fs::path& dir) {
  std::map<std::string, std::pair<std::string, std::int64_t>> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) != 0) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    out[e.path().filename().string()] = {
        bytes.str(), static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  if (rest.size() < 9) return 0;
  const bool with_shm = (rest[0] & 1) != 0;
  const std::uint32_t db_length = little_endian32(rest, 1);
  const std::uint32_t wal_length = little_endian32(rest, 5);
  rest.remove_prefix(9);
  const std::string_view db = take(rest, db_length);
  const std::string_view wal = take(rest, wal_length);
  const std::string_view shm = rest;

  const fs::path& dir = store_dir();
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  const fs::path db_path = dir / "opencode.db";
  write(db_path, db);
  if (!wal.empty()) write(dir / "opencode.db-wal", wal);
  if (with_shm) write(dir / "opencode.db-shm", shm);
  const auto before = state_of(dir);

  const auto start = std::chrono::steady_clock::now();
  auto tables = tl::read_sqlite_rows(db_path.string(), tl::kOpencodeDatabases[0].queries);
  if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) __builtin_trap();
  if (state_of(dir) != before) __builtin_trap();

  if (tables) {
    std::vector<tl::DatabaseArtifact> databases{{"home/.local/share/opencode/opencode.db", std::move(*tables)}};
    std::vector<tl::Message> messages;
    std::vector<tl::ToolCall> calls;
    std::vector<tl::TodoItem> todos;
    tl::append_opencode_store({}, databases, messages, calls, todos);
  }
  return 0;
}
