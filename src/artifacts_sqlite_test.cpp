#include "artifacts_sqlite.hpp"

#include "artifacts.hpp"
#include "test_runs.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tl {
namespace {

namespace fs = std::filesystem;

using testing::DirState;
using testing::state_of;

void exec(sqlite3* db, const char* sql) {
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
}

constexpr std::string_view kColumns[] = {"id", "n"};
constexpr SqliteQuery kQuery[] = {{"t", kColumns}};

// The ids read by kQuery, or "none".
std::string ids(const std::optional<std::vector<SqliteRows>>& rows) {
  if (!rows) return "none";
  std::string out;
  for (std::size_t r = 0; r < (*rows)[0].size(); ++r) out += std::get<std::string>((*rows)[0].at(r, 0));
  return out;
}

class SqliteDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tracelens-sqlite-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "src");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A database in WAL mode whose rows a and b are in the database file and
  // row c only in its log, copied (database, and the log and index where
  // asked) into `name` while the writer still has it open.
  std::string wal_database(const std::string& name, bool with_wal, bool with_shm) {
    const fs::path src = root_ / "src" / "x.db";
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(src.c_str(), &db), SQLITE_OK);
    exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA synchronous=OFF;");
    exec(db, "CREATE TABLE t(id TEXT, n INTEGER); INSERT INTO t VALUES('a', 1), ('b', 2);");
    exec(db, "PRAGMA wal_checkpoint(TRUNCATE);");
    exec(db, "INSERT INTO t VALUES('c', 3);");
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    fs::copy_file(src, dir / "x.db");
    if (with_wal) fs::copy_file(src.string() + "-wal", dir / "x.db-wal");
    if (with_shm) fs::copy_file(src.string() + "-shm", dir / "x.db-shm");
    sqlite3_close(db);
    fs::remove_all(root_ / "src");
    fs::create_directories(root_ / "src");
    return (dir / "x.db").string();
  }

  // A database in rollback-journal mode made by `sql`.
  std::string plain_database(const std::string& name, const char* sql) {
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((dir / "x.db").c_str(), &db), SQLITE_OK);
    exec(db, sql);
    sqlite3_close(db);
    return (dir / "x.db").string();
  }

  void write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }

  fs::path root_;
};

// ---- the log header --------------------------------------------------------------

std::string wal_header(std::uint32_t magic, std::uint32_t version, std::uint32_t page_size) {
  std::string h(32, '\0');
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xff);
  };
  put(0, magic);
  put(4, version);
  put(8, page_size);
  return h;
}

TEST(WalHeader, ContentNeedsAValidHeaderAndOneWholeFrame) {
  struct Case {
    std::string header;
    std::uint64_t length;
    bool content;
  } cases[] = {
      {wal_header(0x377f0682, 3007000, 4096), 32 + 24 + 4096, true},
      {wal_header(0x377f0683, 3007000, 512), 32 + 24 + 512, true},
      {wal_header(0x377f0682, 3007000, 65536), 32 + 24 + 65536, true},
      {wal_header(0x377f0682, 3007000, 4096), 32, false},              // the header alone
      {wal_header(0x377f0682, 3007000, 4096), 32 + 24 + 4095, false},  // a cut frame
      {wal_header(0x377f0684, 3007000, 4096), 100000, false},          // magic
      {wal_header(0, 0, 0), 100000, false},
      {wal_header(0x377f0682, 3007001, 4096), 100000, false},  // format version
      {wal_header(0x377f0682, 3007000, 256), 100000, false},   // page sizes
      {wal_header(0x377f0682, 3007000, 131072), 200000, false},
      {wal_header(0x377f0682, 3007000, 1000), 100000, false},
      {wal_header(0x377f0682, 3007000, 4096).substr(0, 31), 100000, false},
  };
  for (const Case& c : cases) EXPECT_EQ(wal_has_content(c.header, c.length), c.content) << c.length;
}

// ---- the three ways to open, each leaving the directory as it was ------------------

TEST_F(SqliteDir, EachLayoutReadsItsCommittedRowsAndWritesNothing) {
  struct Case {
    const char* name;
    bool wal, shm;
    SqliteOpenMode mode;
    const char* rows;
  } cases[] = {
      {"wal-and-shm", true, true, SqliteOpenMode::ReadonlyShm, "abc"},
      {"wal-only", true, false, SqliteOpenMode::MemoryShm, "abc"},
      {"database-only", false, false, SqliteOpenMode::Immutable, "ab"},
      {"shm-only", false, true, SqliteOpenMode::Immutable, "ab"},
  };
  for (const Case& c : cases) {
    const std::string db = wal_database(c.name, c.wal, c.shm);
    const DirState before = state_of(root_ / c.name);
    EXPECT_EQ(sqlite_open_mode(db), c.mode) << c.name;
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), c.rows) << c.name;
    EXPECT_EQ(state_of(root_ / c.name), before) << c.name;
  }
}

TEST_F(SqliteDir, ALogWithoutContentIsIgnored) {
  for (const char* name : {"header-only", "bad-magic", "bad-page-size"}) {
    const std::string db = wal_database(name, true, true);
    std::string wal = state_of(root_ / name)["x.db-wal"].first;
    if (std::string(name) == "header-only") wal.resize(32);
    if (std::string(name) == "bad-magic") wal[0] = 0;
    if (std::string(name) == "bad-page-size") wal[10] = 0x11;
    write(db + "-wal", wal);
    const DirState before = state_of(root_ / name);
    EXPECT_EQ(sqlite_open_mode(db), SqliteOpenMode::Immutable) << name;
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), "ab") << name;
    EXPECT_EQ(state_of(root_ / name), before) << name;
  }
}

TEST_F(SqliteDir, FramesThatFailTheirChecksumsAreNotCommitted) {
  for (bool shm : {true, false}) {
    const std::string name = shm ? "with-shm" : "without-shm";
    const std::string db = wal_database(name, true, shm);
    std::string wal = state_of(root_ / name)["x.db-wal"].first;
    for (std::size_t i = 32 + 24; i < wal.size(); i += 7) wal[i] = static_cast<char>(wal[i] ^ 0x5a);
    write(db + "-wal", wal);
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), "ab") << name;
  }
}

// ---- values -------------------------------------------------------------------------

TEST_F(SqliteDir, ValuesKeepTheirTypesAndTextIsRepaired) {
  const std::string db = plain_database(
      "values", "CREATE TABLE v(a, b, c, d, e); INSERT INTO v VALUES(42, 1.5, NULL, 'h\xC3\xA9', x'61ff62');");
  static constexpr std::string_view kAll[] = {"e", "d", "c", "b", "a"};
  static constexpr std::string_view kFirst[] = {"a"};
  static constexpr SqliteQuery kQueries[] = {{"v", kAll}, {"v", kFirst}};
  auto rows = read_sqlite_rows(db, kQueries);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 2u);
  const SqliteRows& r = (*rows)[0];
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(std::get<std::string>(r.at(0, 0)),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(std::get<std::string>(r.at(0, 1)), "h\xC3\xA9");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(r.at(0, 2)));
  EXPECT_EQ(std::get<double>(r.at(0, 3)), 1.5);
  EXPECT_EQ(std::get<std::int64_t>(r.at(0, 4)), 42);
  EXPECT_EQ(std::get<std::int64_t>((*rows)[1].at(0, 0)), 42);
}

// ---- computed tables: never evaluated ---------------------------------------------

TEST_F(SqliteDir, ATableWhoseReadColumnIsComputedIsLeftOutUnevaluated) {
  // Evaluating the generated column would fail: its value is far beyond the
  // length a value may have, so a read that evaluated it would give nothing.
  constexpr std::string_view kOther[] = {"k"};
  const SqliteQuery queries[] = {{"t", kColumns}, {"u", kOther}};
  struct Case {
    const char* name;
    const char* table_t;
    const char* rows;  // of t; u is always read
  } cases[] = {
      {"stored", "CREATE TABLE t(id TEXT, n INTEGER)", "ab"},
      {"unread-generated", "CREATE TABLE t(id TEXT, n INTEGER, g AS (zeroblob(2000000000)))", "ab"},
      {"virtual-generated", "CREATE TABLE t(id TEXT, raw INTEGER, n AS (length(zeroblob(2000000000))) VIRTUAL)", ""},
      {"stored-generated", "CREATE TABLE t(id TEXT, raw INTEGER, n AS (raw + 1) STORED)", ""},
  };
  for (const Case& c : cases) {
    // The rows go in first; then t is declared as the case has it, as a
    // hostile file can be written.
    const std::string sql = std::string(
                                "CREATE TABLE t(id TEXT, n INTEGER); INSERT INTO t(id) VALUES('a'), ('b');"
                                "CREATE TABLE u(k TEXT); INSERT INTO u VALUES('z');"
                                "PRAGMA writable_schema=ON; UPDATE sqlite_master SET sql = '") +
                            c.table_t + "' WHERE name = 't';";
    const std::string db = plain_database(c.name, sql.c_str());
    auto rows = read_sqlite_rows(db, queries);
    ASSERT_TRUE(rows) << c.name;
    EXPECT_EQ(ids(rows), c.rows) << c.name;
    ASSERT_EQ((*rows)[1].size(), 1u) << c.name;
    EXPECT_EQ(std::get<std::string>((*rows)[1].at(0, 0)), "z") << c.name;
  }
}

// ---- bad input: nothing from it ----------------------------------------------------

TEST_F(SqliteDir, BadDatabasesGiveNothing) {
  const std::string good = plain_database("good", "CREATE TABLE t(id TEXT, n INTEGER); INSERT INTO t VALUES('a', 1);");
  ASSERT_EQ(ids(read_sqlite_rows(good, kQuery)), "a");
  const std::string bytes = state_of(root_ / "good")["x.db"].first;
  std::string corrupt = bytes;
  for (std::size_t i = 4096; i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(i * 31);

  struct Case {
    const char* name;
    std::string content;
  } files[] = {
      {"text", "this is not a database\n"},  {"empty", ""},        {"truncated", bytes.substr(0, 1000)},
      {"header-only", bytes.substr(0, 100)}, {"corrupt", corrupt},
  };
  for (const Case& c : files) {
    fs::create_directories(root_ / c.name);
    write(root_ / c.name / "x.db", c.content);
    EXPECT_EQ(ids(read_sqlite_rows((root_ / c.name / "x.db").string(), kQuery)), "none") << c.name;
  }
  const char* schemas[] = {
      "CREATE TABLE other(id TEXT, n INTEGER);",                                // no table t
      "CREATE TABLE t(id TEXT);",                                               // no column n
      "CREATE TABLE u(id TEXT, n INTEGER); CREATE VIEW t AS SELECT * FROM u;",  // a view
  };
  int i = 0;
  for (const char* sql : schemas) {
    const std::string db = plain_database("schema" + std::to_string(i++), sql);
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), "none") << sql;
  }
  EXPECT_EQ(ids(read_sqlite_rows((root_ / "missing.db").string(), kQuery)), "none");
  EXPECT_EQ(ids(read_sqlite_rows(root_.string(), kQuery)), "none");  // a directory
}

// Another process holds SQLite's exclusive lock (a write lock on the pending
// byte and the shared range) until it is killed.
pid_t hold_exclusive_lock(const std::string& path) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0x40000000;
    lock.l_len = 512;
    const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    while (true) ::pause();
  }
  char ok = '0';
  if (::read(ready[0], &ok, 1) != 1) ok = '0';
  ::close(ready[0]);
  ::close(ready[1]);
  return ok == '1' ? child : -1;
}

TEST_F(SqliteDir, ADatabaseLockedByAnotherProcessGivesNothingAtOnce) {
  struct Case {
    const char* name;
    bool wal, shm;
  } cases[] = {{"wal-and-shm", true, true}, {"wal-only", true, false}, {"database-only", false, false}};
  for (const Case& c : cases) {
    const std::string db = wal_database(c.name, c.wal, c.shm);
    EXPECT_FALSE(sqlite_locked_by_other_process(db));
    const pid_t holder = hold_exclusive_lock(db);
    ASSERT_GT(holder, 0);
    EXPECT_TRUE(sqlite_locked_by_other_process(db)) << c.name;
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), "none") << c.name;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(ids(read_sqlite_rows(db, kQuery)), c.wal ? "abc" : "ab") << c.name;
  }
}

// ---- the loader ------------------------------------------------------------------------

TEST_F(SqliteDir, TheLoaderReadsTheDatabasesItsRulesPickWhileItWalksTheRun) {
  const fs::path run = root_ / "run";
  auto place = [&](const std::string& db, const std::string& rel) {
    fs::create_directories((run / rel).parent_path());
    fs::copy_file(db, run / rel);
  };
  place(plain_database("one", "CREATE TABLE t(id TEXT, n INTEGER); INSERT INTO t VALUES('one', 1);"),
        "snapshots/b/home/x.db");
  place(plain_database("two", "CREATE TABLE t(id TEXT, n INTEGER); INSERT INTO t VALUES('two', 2);"),
        "snapshots/a/home/x.db");
  place(root_ / "two" / "x.db", "snapshots/a/home/node_modules/x.db");  // a skipped directory
  place(root_ / "two" / "x.db", "snapshots/a/home/y.db");               // not picked
  fs::create_directories(run / "snapshots/a/bad");
  write(run / "snapshots/a/bad/x.db", "not a database");
  const DirState before = state_of(run);
  DatabaseRule rule;
  rule.matches = [](std::string_view rel) { return rel.ends_with("/x.db"); };
  rule.queries = kQuery;
  const DatabaseRule rules[] = {rule};
  RunArtifacts loaded = load_run(run.string(), rules);
  std::vector<std::string> found;
  for (const DatabaseArtifact& d : loaded.databases) {
    found.push_back(d.path + "=" + std::get<std::string>(d.tables.at(0).at(0, 0)));
  }
  EXPECT_EQ(found, (std::vector<std::string>{"snapshots/a/home/x.db=two", "snapshots/b/home/x.db=one"}));
  // The text file under a database's name is still a text.
  ASSERT_EQ(loaded.texts.size(), 1u);
  EXPECT_EQ(loaded.texts[0].path, "snapshots/a/bad/x.db");
  EXPECT_TRUE(load_run(run.string()).databases.empty());
  EXPECT_EQ(state_of(run), before);
}

}  // namespace
}  // namespace tl
