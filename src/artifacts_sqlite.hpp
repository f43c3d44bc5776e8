// Reading rows out of an SQLite database that a harness left in a run,
// strictly read-only: nothing in the run directory (the database, its -wal
// and -shm files) or anywhere else is created, changed or deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tl {

// One table to read: these columns of every row, in the order given.
struct SqliteQuery {
  std::string_view table;
  std::span<const std::string_view> columns;
};

// A value as the database holds it: null, integer, float or text (a blob is
// read as text; invalid UTF-8 is repaired).
using SqliteValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// The rows of one query, row after row, `width` values each.
struct SqliteRows {
  std::size_t width = 0;
  std::vector<SqliteValue> values;

  std::size_t size() const { return width == 0 ? 0 : values.size() / width; }
  const SqliteValue& at(std::size_t row, std::size_t column) const { return values[row * width + column]; }
};

// A database found in a run and the rows read out of it, one entry of
// `tables` per query asked for.
struct DatabaseArtifact {
  std::string path;  // relative to the run directory, with forward slashes
  std::vector<SqliteRows> tables;
};

// Which files of a run are databases and what is read out of them.
struct DatabaseRule {
  bool (*matches)(std::string_view path) = nullptr;  // on the relative path
  std::span<const SqliteQuery> queries;
};

// How a database is opened, decided by the files beside it.
enum class SqliteOpenMode {
  // No write-ahead log content: the database file alone, opened immutable.
  Immutable,
  // A log and its shared-memory index: read through the index without
  // writing to it.
  ReadonlyShm,
  // A log without its index: the index is rebuilt in memory from the log.
  MemoryShm,
};

// The first 32 bytes of a -wal file and its length: true when it is a
// write-ahead log that holds at least one whole frame (the magic number and
// format version are SQLite's, the page size a power of two from 512 to
// 65536).
bool wal_has_content(std::string_view header, std::uint64_t length);

// The open mode for the database at `path`, from its -wal and -shm files.
SqliteOpenMode sqlite_open_mode(const std::string& path);

// True when another process holds a lock on the database that keeps readers
// out (SQLite's pending or exclusive lock).
bool sqlite_locked_by_other_process(const std::string& path);

// Every query's rows, read in one read transaction. Nothing when the file is
// not a readable SQLite database, is locked by another process, any table or
// column is missing (a view counts as missing), or a statement runs beyond
// its budget of steps. A table whose rows SQLite would compute (a virtual
// table, or a generated column among those asked for) is never evaluated:
// its query gives no rows.
std::optional<std::vector<SqliteRows>> read_sqlite_rows(const std::string& path, std::span<const SqliteQuery> queries);

}  // namespace tl
