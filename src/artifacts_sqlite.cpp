#include "artifacts_sqlite.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "posix_file.hpp"
#include "text.hpp"

namespace tl {

namespace {

// ---- a read-only file layer over SQLite's own ------------------------------
//
// Every database is opened through this layer, whatever the mode: it opens
// files read-only and never creates one, refuses every write, truncation and
// deletion, and opens no temporary files. For a log without its index it
// keeps the shared-memory index in this process's memory, where SQLite
// rebuilds it from the log, instead of creating an -shm file.

constexpr const char* kVfsName = "tracelens-readonly";

struct ReadonlyFile {
  sqlite3_file base;
  sqlite3_file* real = nullptr;  // the default layer's file, stored after this one
  bool memory_shm = false;
  std::vector<std::unique_ptr<char[]>> shm_regions;
};

constexpr int kRealOffset = static_cast<int>((sizeof(ReadonlyFile) + 15) / 16 * 16);

sqlite3_vfs* g_real_vfs = nullptr;

ReadonlyFile* self(sqlite3_file* f) { return reinterpret_cast<ReadonlyFile*>(f); }
sqlite3_file* real(sqlite3_file* f) { return self(f)->real; }

int file_close(sqlite3_file* f) {
  ReadonlyFile* file = self(f);
  int rc = SQLITE_OK;
  if (file->real->pMethods != nullptr) rc = file->real->pMethods->xClose(file->real);
  file->~ReadonlyFile();
  return rc;
}

int file_read(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
  return real(f)->pMethods->xRead(real(f), buf, amount, offset);
}

int file_write(sqlite3_file*, const void*, int, sqlite3_int64) { return SQLITE_READONLY; }
int file_truncate(sqlite3_file*, sqlite3_int64) { return SQLITE_READONLY; }
int file_sync(sqlite3_file*, int) { return SQLITE_OK; }
int file_size(sqlite3_file* f, sqlite3_int64* size) { return real(f)->pMethods->xFileSize(real(f), size); }
int file_lock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int file_unlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int file_check_reserved(sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); }

int file_control(sqlite3_file* f, int op, void* arg) {
  // A size hint would grow the file.
  if (op == SQLITE_FCNTL_SIZE_HINT) return SQLITE_OK;
  return real(f)->pMethods->xFileControl(real(f), op, arg);
}

int file_sector_size(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int file_device(sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); }

int shm_map(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  ReadonlyFile* file = self(f);
  if (!file->memory_shm) return file->real->pMethods->xShmMap(file->real, region, size, extend, out);
  if (region < 0 || size <= 0) return SQLITE_IOERR_SHMMAP;
  auto index = static_cast<std::size_t>(region);
  if (index >= file->shm_regions.size()) {
    if (extend == 0) {
      *out = nullptr;
      return SQLITE_OK;
    }
    while (file->shm_regions.size() <= index) {
      file->shm_regions.push_back(std::make_unique<char[]>(static_cast<std::size_t>(size)));
    }
  }
  *out = file->shm_regions[index].get();
  return SQLITE_OK;
}

// One connection uses an in-memory index, so every lock on it is granted.
int shm_lock(sqlite3_file* f, int offset, int n, int flags) {
  ReadonlyFile* file = self(f);
  if (!file->memory_shm) return file->real->pMethods->xShmLock(file->real, offset, n, flags);
  return SQLITE_OK;
}

void shm_barrier(sqlite3_file* f) {
  ReadonlyFile* file = self(f);
  if (!file->memory_shm) {
    file->real->pMethods->xShmBarrier(file->real);
    return;
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

// The -shm file is never deleted.
int shm_unmap(sqlite3_file* f, int) {
  ReadonlyFile* file = self(f);
  if (!file->memory_shm) return file->real->pMethods->xShmUnmap(file->real, 0);
  file->shm_regions.clear();
  return SQLITE_OK;
}

// Version 2: the shared-memory methods, but no memory-mapped reads.
const sqlite3_io_methods kIoMethods = {
    2,         file_close,  file_read,           file_write,   file_truncate,    file_sync,   file_size,
    file_lock, file_unlock, file_check_reserved, file_control, file_sector_size, file_device, shm_map,
    shm_lock,  shm_barrier, shm_unmap,           nullptr,      nullptr,
};

int vfs_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
  f->pMethods = nullptr;
  // Only the database, its log and its rollback journal are ever opened;
  // temporary files are refused.
  constexpr int kAllowed = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_WAL | SQLITE_OPEN_MAIN_JOURNAL;
  if (name == nullptr || (flags & kAllowed) == 0) return SQLITE_CANTOPEN;
  auto* file = new (f) ReadonlyFile();
  file->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + kRealOffset);
  file->real->pMethods = nullptr;
  const int real_flags =
      (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE | SQLITE_OPEN_DELETEONCLOSE)) |
      SQLITE_OPEN_READONLY;
  int rc = g_real_vfs->xOpen(g_real_vfs, name, file->real, real_flags, out_flags);
  if (rc != SQLITE_OK) {
    if (file->real->pMethods != nullptr) file->real->pMethods->xClose(file->real);
    file->~ReadonlyFile();
    return rc;
  }
  file->memory_shm = (flags & SQLITE_OPEN_MAIN_DB) != 0 && sqlite3_uri_boolean(name, "readonly_shm", 0) == 0;
  if (out_flags != nullptr) *out_flags = (*out_flags & ~SQLITE_OPEN_READWRITE) | SQLITE_OPEN_READONLY;
  f->pMethods = &kIoMethods;
  return SQLITE_OK;
}

int vfs_delete(sqlite3_vfs*, const char*, int) { return SQLITE_IOERR_DELETE; }
int vfs_access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real_vfs->xAccess(g_real_vfs, name, flags, out);
}
int vfs_full_pathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return g_real_vfs->xFullPathname(g_real_vfs, name, n, out);
}
int vfs_randomness(sqlite3_vfs*, int n, char* out) { return g_real_vfs->xRandomness(g_real_vfs, n, out); }
int vfs_sleep(sqlite3_vfs*, int micros) { return g_real_vfs->xSleep(g_real_vfs, micros); }
int vfs_current_time(sqlite3_vfs*, double* out) { return g_real_vfs->xCurrentTime(g_real_vfs, out); }
int vfs_last_error(sqlite3_vfs*, int n, char* out) { return g_real_vfs->xGetLastError(g_real_vfs, n, out); }
int vfs_current_time64(sqlite3_vfs*, sqlite3_int64* out) { return g_real_vfs->xCurrentTimeInt64(g_real_vfs, out); }

// Run as root, SQLite's unix layer hands the log and index files to the
// owner of the database (fchown) and sets the mode of an empty one (fchmod),
// even when it opens them read-only. Both calls are made no-ops, so no file
// of a run changes owner, mode or change time, whoever reads it.
int keep_owner(int, uid_t, gid_t) { return 0; }
int keep_mode(int, mode_t) { return 0; }

bool disable_ownership_calls(sqlite3_vfs* vfs) {
  if (vfs->iVersion < 3 || vfs->xSetSystemCall == nullptr) return true;  // not the unix layer
  return vfs->xSetSystemCall(vfs, "fchown", reinterpret_cast<sqlite3_syscall_ptr>(&keep_owner)) == SQLITE_OK &&
         vfs->xSetSystemCall(vfs, "fchmod", reinterpret_cast<sqlite3_syscall_ptr>(&keep_mode)) == SQLITE_OK;
}

// Registers the layer once; false when SQLite has no default layer or its
// ownership calls cannot be turned off.
bool readonly_vfs_ready() {
  static const bool ready = [] {
    g_real_vfs = sqlite3_vfs_find(nullptr);
    if (g_real_vfs == nullptr || g_real_vfs->iVersion < 2) return false;
    if (!disable_ownership_calls(g_real_vfs)) return false;
    static sqlite3_vfs vfs{};
    vfs.iVersion = 2;
    vfs.szOsFile = kRealOffset + g_real_vfs->szOsFile;
    vfs.mxPathname = g_real_vfs->mxPathname;
    vfs.zName = kVfsName;
    vfs.xOpen = vfs_open;
    vfs.xDelete = vfs_delete;
    vfs.xAccess = vfs_access;
    vfs.xFullPathname = vfs_full_pathname;
    vfs.xRandomness = vfs_randomness;
    vfs.xSleep = vfs_sleep;
    vfs.xCurrentTime = vfs_current_time;
    vfs.xGetLastError = vfs_last_error;
    vfs.xCurrentTimeInt64 = vfs_current_time64;
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
  }();
  return ready;
}

// ---- the files beside the database -------------------------------------------

std::uint32_t big_endian32(std::string_view bytes, std::size_t at) {
  auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
  return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

bool is_regular_file(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// SQLite's lock bytes on unix: readers take a read lock on the pending
// byte and one byte of the shared range; a writer about to change the file
// holds a write lock on the pending byte or the whole shared range.
constexpr off_t kPendingByte = 0x40000000;
constexpr off_t kSharedFirst = kPendingByte + 2;
constexpr off_t kSharedSize = 510;

bool write_locked_elsewhere(int fd, off_t start, off_t length) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = length;
  return ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// "file:" and the path with every byte but unreserved ones and slashes
// percent-encoded, then the mode's parameters.
std::string file_uri(std::string_view path, SqliteOpenMode mode) {
  while (path.starts_with("//")) path.remove_prefix(1);  // "file://" would start an authority
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file:";
  uri.reserve(path.size() + 40);
  for (char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri.push_back(c);
    } else {
      const auto byte = static_cast<unsigned char>(c);
      uri.push_back('%');
      uri.push_back(kHex[byte >> 4]);
      uri.push_back(kHex[byte & 15]);
    }
  }
  switch (mode) {
    case SqliteOpenMode::Immutable:
      uri += "?mode=ro&immutable=1";
      break;
    case SqliteOpenMode::ReadonlyShm:
      uri += "?mode=ro&readonly_shm=1";
      break;
    case SqliteOpenMode::MemoryShm:
      uri += "?mode=ro";
      break;
  }
  return uri;
}

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

// A row longer than this is not an OpenCode record but a hostile file.
constexpr int kMaxValueBytes = 1 << 28;

std::string quoted_identifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

bool execute(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

SqliteValue value_of(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, column);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const void* bytes = sqlite3_column_type(stmt, column) == SQLITE_BLOB
                              ? sqlite3_column_blob(stmt, column)
                              : static_cast<const void*>(sqlite3_column_text(stmt, column));
      const int n = sqlite3_column_bytes(stmt, column);
      std::string text;
      if (bytes != nullptr && n > 0) text.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(n));
      text::repair_utf8_in_place(text);
      return text;
    }
  }
}

// Virtual machine steps one statement may take before it is stopped. A scan
// of a real store takes a few dozen steps a row, so this is far beyond any
// store a harness writes, and it bounds the time a hostile file can take.
constexpr std::uint64_t kStepBudget = 200'000'000;
constexpr int kStepsPerCheck = 1000;

// The steps the running statement has left; the progress handler stops the
// statement when they are used up.
struct StepBudget {
  std::uint64_t left = kStepBudget;
};

int spend_steps(void* budget) {
  auto* b = static_cast<StepBudget*>(budget);
  if (b->left < static_cast<std::uint64_t>(kStepsPerCheck)) return 1;
  b->left -= kStepsPerCheck;
  return 0;
}

// Reading only: queries, the reads of their columns, the read transaction
// and the two pragmas that describe a table. Every function call (none of
// the queries calls one) and every other action is denied.
int allow_reading(void*, int action, const char* first, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_TRANSACTION:
      return SQLITE_OK;
    case SQLITE_PRAGMA: {
      const std::string_view name = first != nullptr ? first : "";
      return name == "table_list" || name == "table_xinfo" ? SQLITE_OK : SQLITE_DENY;
    }
    default:
      return SQLITE_DENY;
  }
}

// How a table to read is made.
enum class TableKind { missing, stored, computed };

// A table whose rows SQLite would compute rather than read: a virtual table,
// or one where a column to read is generated (or hidden). A view, a missing
// table or a missing column counts as missing.
TableKind table_kind(sqlite3* db, const SqliteQuery& query) {
  const std::string table = quoted_identifier(query.table);
  std::string type;
  {
    Statement s;
    const std::string sql = "PRAGMA main.table_list(" + table + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s.stmt, nullptr) != SQLITE_OK) return TableKind::missing;
    while (sqlite3_step(s.stmt) == SQLITE_ROW) {
      const auto* schema = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, 0));
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, 1));
      const auto* kind = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, 2));
      if (schema != nullptr && name != nullptr && kind != nullptr && std::string_view(schema) == "main" &&
          std::string_view(name) == query.table) {
        type = kind;
      }
    }
  }
  if (type == "virtual") return TableKind::computed;
  if (type != "table") return TableKind::missing;
  // Column name and "hidden": 0 for a stored column, 1 for a hidden column
  // of a virtual table, 2 and 3 for generated columns.
  std::vector<std::pair<std::string, int>> columns;
  {
    Statement s;
    const std::string sql = "PRAGMA main.table_xinfo(" + table + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s.stmt, nullptr) != SQLITE_OK) return TableKind::missing;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.stmt, 1));
      if (name != nullptr) columns.emplace_back(name, sqlite3_column_int(s.stmt, 6));
    }
    if (rc != SQLITE_DONE) return TableKind::missing;
  }
  TableKind kind = TableKind::stored;
  for (std::string_view wanted : query.columns) {
    // Column names match without regard to ASCII case, as in SQL.
    auto same = [&](const std::pair<std::string, int>& c) {
      return sqlite3_stricmp(c.first.c_str(), std::string(wanted).c_str()) == 0;
    };
    auto found = std::find_if(columns.begin(), columns.end(), same);
    if (found == columns.end()) return TableKind::missing;
    if (found->second != 0) kind = TableKind::computed;
  }
  return kind;
}

// The query's rows. A table whose rows would be computed is left out (no
// rows); a missing table or column, an error, or a statement that runs out
// of steps fails the query.
bool read_query(sqlite3* db, const SqliteQuery& query, StepBudget& budget, SqliteRows& rows) {
  if (query.columns.empty()) return false;
  budget.left = kStepBudget;
  rows.width = query.columns.size();
  switch (table_kind(db, query)) {
    case TableKind::missing:
      return false;
    case TableKind::computed:
      return true;
    case TableKind::stored:
      break;
  }
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < query.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += quoted_identifier(query.columns[i]);
  }
  sql += " FROM main." + quoted_identifier(query.table);
  budget.left = kStepBudget;
  Statement s;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s.stmt, nullptr) != SQLITE_OK) return false;
  const int width = static_cast<int>(rows.width);
  while (true) {
    const int rc = sqlite3_step(s.stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    for (int c = 0; c < width; ++c) rows.values.push_back(value_of(s.stmt, c));
  }
}

}  // namespace

bool wal_has_content(std::string_view header, std::uint64_t length) {
  if (header.size() < 32) return false;
  const std::uint32_t magic = big_endian32(header, 0);
  if (magic != 0x377f0682 && magic != 0x377f0683) return false;
  if (big_endian32(header, 4) != 3007000) return false;
  const std::uint32_t page_size = big_endian32(header, 8);
  if (page_size < 512 || page_size > 65536 || (page_size & (page_size - 1)) != 0) return false;
  // The header and one frame: a frame header of 24 bytes and a page.
  return length >= 32 + 24 + static_cast<std::uint64_t>(page_size);
}

SqliteOpenMode sqlite_open_mode(const std::string& path) {
  Fd wal;
  std::uint64_t length = 0;
  if (!open_regular(path + "-wal", wal, length, /*follow_links=*/false)) return SqliteOpenMode::Immutable;
  char header[32];
  std::uint64_t got = 0;
  if (!read_up_to(wal.fd, header, sizeof header, got) || !wal_has_content(std::string_view(header, got), length)) {
    return SqliteOpenMode::Immutable;
  }
  return is_regular_file(path + "-shm") ? SqliteOpenMode::ReadonlyShm : SqliteOpenMode::MemoryShm;
}

bool sqlite_locked_by_other_process(const std::string& path) {
  Fd f;
  std::uint64_t length = 0;
  if (!open_regular(path, f, length, /*follow_links=*/false)) return false;
  return write_locked_elsewhere(f.fd, kPendingByte, 1) || write_locked_elsewhere(f.fd, kSharedFirst, kSharedSize);
}

std::optional<std::vector<SqliteRows>> read_sqlite_rows(const std::string& path, std::span<const SqliteQuery> queries) {
  if (!readonly_vfs_ready() || !is_regular_file(path)) return std::nullopt;
  const SqliteOpenMode mode = sqlite_open_mode(path);
  // An immutable open takes no locks, so a writer's lock is looked for here.
  if (mode == SqliteOpenMode::Immutable && sqlite_locked_by_other_process(path)) return std::nullopt;
  StepBudget budget;  // outlives the connection that counts on it
  Connection c;
  const std::string uri = file_uri(path, mode);
  if (sqlite3_open_v2(uri.c_str(), &c.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, kVfsName) !=
      SQLITE_OK) {
    return std::nullopt;
  }
  // A busy database fails at once instead of being waited for; closing never
  // checkpoints; the schema cannot run unsafe functions.
  sqlite3_busy_timeout(c.db, 0);
  sqlite3_db_config(c.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_db_config(c.db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(c.db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_limit(c.db, SQLITE_LIMIT_LENGTH, kMaxValueBytes);
  if (!execute(c.db, "PRAGMA temp_store = MEMORY") || !execute(c.db, "PRAGMA query_only = 1")) return std::nullopt;
  // From here on every statement is bounded in steps and may only read.
  sqlite3_progress_handler(c.db, kStepsPerCheck, spend_steps, &budget);
  if (sqlite3_set_authorizer(c.db, allow_reading, nullptr) != SQLITE_OK || !execute(c.db, "BEGIN")) {
    return std::nullopt;
  }
  std::vector<SqliteRows> out(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    if (!read_query(c.db, queries[i], budget, out[i])) return std::nullopt;
  }
  execute(c.db, "COMMIT");
  return out;
}

}  // namespace tl
