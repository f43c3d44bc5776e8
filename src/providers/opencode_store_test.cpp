#include "opencode_store.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../test_runs.hpp"

namespace tl {
namespace {

const std::string kRoot = "snapshots/after/home/.local/share/opencode/storage/";
const std::string kDb = "snapshots/after/home/.local/share/opencode/opencode.db";

std::string session_path(const std::string& id, const std::string& root = kRoot) {
  return root + "session/prj/" + id + ".json";
}
std::string message_path(const std::string& session, const std::string& id, const std::string& root = kRoot) {
  return root + "message/" + session + "/" + id + ".json";
}
std::string part_path(const std::string& message, const std::string& id, const std::string& root = kRoot) {
  return root + "part/" + message + "/" + id + ".json";
}

struct Read {
  std::vector<Message> messages;
  std::vector<ToolCall> calls;
  std::vector<TodoItem> todos;
  OpencodeStoreSummary summary;
  std::vector<std::string> others;  // paths handed on to the JSONL reader
};

Read read(const RunArtifacts& run) {
  std::vector<const TextArtifact*> transcripts;
  for (const TextArtifact& t : run.texts) transcripts.push_back(&t);
  Read r;
  std::vector<const TextArtifact*> others;
  LogReader logs;
  auto stores = collect_opencode_json_stores(run, logs, transcripts, others);
  for (const TextArtifact* t : others) r.others.push_back(t->path);
  r.summary = append_opencode_store(stores, run.databases, r.messages, r.calls, r.todos);
  return r;
}

// One database table: rows of values.
SqliteRows rows(std::size_t width, std::vector<SqliteValue> values) { return SqliteRows{width, std::move(values)}; }

DatabaseArtifact database(std::string path, SqliteRows sessions, SqliteRows messages, SqliteRows parts,
                          SqliteRows todos = rows(4, {})) {
  return DatabaseArtifact{std::move(path),
                          {std::move(sessions), std::move(messages), std::move(parts), std::move(todos)}};
}

std::vector<std::string> sources_of(const Read& r) {
  std::vector<std::string> out;
  for (const auto& m : r.messages) out.push_back("M " + m.source);
  for (const auto& c : r.calls) out.push_back("T " + c.source);
  for (const auto& t : r.todos) out.push_back("D " + t.source);
  return out;
}

// ---- where the store lives ----------------------------------------------------------

TEST(OpencodeStorePaths, TheFourKindsOfStoreFile) {
  const std::string part = kRoot + "part/msg_1/prt_2.json";
  const std::string todo = kRoot + "todo/ses_1.json";
  auto p = opencode_store_path(part);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->root, kRoot);
  EXPECT_EQ(p->kind, OpencodeStoreKind::Part);
  EXPECT_EQ(p->group, "msg_1");
  EXPECT_EQ(p->name, "prt_2");
  p = opencode_store_path(todo);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->kind, OpencodeStoreKind::Todo);
  EXPECT_EQ(p->name, "ses_1");
  EXPECT_EQ(opencode_store_path(kRoot + "session/prj/ses_1.json")->kind, OpencodeStoreKind::Session);
  EXPECT_EQ(opencode_store_path(kRoot + "message/ses_1/msg_1.json")->kind, OpencodeStoreKind::Message);
  for (std::string other : {kRoot + "session_diff/ses_1.json", kRoot + "project/p.json", kRoot + "session/ses_1.json",
                            kRoot + "todo/a/ses_1.json", kRoot + "part/m/x/p.json", kRoot + "part/m/p.jsonl",
                            kRoot + "migration", std::string("home/.local/share/opencode/sessions/s/m.json")}) {
    EXPECT_FALSE(opencode_store_path(other)) << other;
  }
}

TEST(OpencodeStorePaths, Databases) {
  for (std::string yes :
       {std::string("s/h/.local/share/opencode/opencode.db"), std::string("s/h/.local/share/opencode/opencode-beta.db"),
        std::string("s/h/.Local/Share/OpenCode/OpenCode.db")}) {
    EXPECT_TRUE(is_opencode_database(yes)) << yes;
  }
  for (std::string no :
       {std::string("s/h/.local/share/opencode/opencode-.db"), std::string("s/h/.local/share/opencode/opencode.db-wal"),
        std::string("s/h/.local/share/opencode/x/opencode.db"), std::string("s/h/opencode.db"),
        std::string("s/h/.local/share/opencode/other.db")}) {
    EXPECT_FALSE(is_opencode_database(no)) << no;
  }
}

TEST(OpencodeStoreFiles, OnlyFilesOfTheStoresShapeAreTakenFromTheJsonlReader) {
  auto run = testing::run_with({
      {session_path("ses_1"), "{\n  \"id\": \"ses_1\",\n  \"title\": \"T\"\n}\n"},
      {part_path("msg_1", "prt_1"), R"({"id":"prt_1","type":"tool","tool":"bash","state":{"status":"pending"}})"},
      {kRoot + "todo/ses_1.json", "[]"},
      // Not of the store's shape: transcripts as before.
      {message_path("ses_1", "log"), "{\"role\":\"user\",\"content\":\"hi\"}\n"},
      {message_path("ses_1", "two"), "{\"id\":\"a\"}\n{\"id\":\"b\"}\n"},
      {kRoot + "todo/ses_2.json", "{\"id\":\"x\"}"},
      {part_path("msg_1", "broken"), "{\"id\":"},
      {kRoot + "session_diff/ses_1.json", "[]"},
      {"snapshots/after/home/.local/share/opencode/sessions/s.jsonl", "{\"role\":\"user\",\"content\":\"hi\"}\n"},
  });
  Read r = read(run);
  EXPECT_EQ(r.others, (std::vector<std::string>{message_path("ses_1", "log"), message_path("ses_1", "two"),
                                                kRoot + "todo/ses_2.json", part_path("msg_1", "broken"),
                                                kRoot + "session_diff/ses_1.json",
                                                "snapshots/after/home/.local/share/opencode/sessions/s.jsonl"}));
  EXPECT_EQ(r.summary.title, "T");
}

// ---- messages ------------------------------------------------------------------------

TEST(OpencodeStoreMessages, UserAndAssistantTextsFromTheirParts) {
  auto run = testing::run_with({
      {session_path("ses_1"), R"({"id":"ses_1","time":{"created":100}})"},
      {message_path("ses_1", "msg_a"), R"({"id":"msg_a","role":"user","time":{"created":1796648534958}})"},
      {part_path("msg_a", "prt_2"), R"({"type":"text","text":"second\t part"})"},
      {part_path("msg_a", "prt_1"), R"({"type":"text","text":"  first <system-reminder>x</system-reminder>"})"},
      {part_path("msg_a", "prt_3"), R"({"type":"text","text":"added by the harness","synthetic":true})"},
      {part_path("msg_a", "prt_4"), R"({"type":"text","text":"ignored","ignored":true})"},
      {part_path("msg_a", "prt_5"), R"({"type":"file","text":"not text"})"},
      {message_path("ses_1", "msg_b"), R"({"id":"msg_b","role":"assistant","time":{"created":1796648534959}})"},
      {part_path("msg_b", "prt_1"), R"({"type":"reasoning","text":"thinking"})"},
      {part_path("msg_b", "prt_2"), R"({"type":"text","text":"Done.","synthetic":true})"},
      {part_path("msg_b", "prt_3"), R"({"type":"text","text":"Bye."})"},
  });
  Read r = read(run);
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[0].role, "user");
  EXPECT_EQ(r.messages[0].text, "first second part");
  EXPECT_EQ(r.messages[0].id, "msg_a");
  EXPECT_EQ(r.messages[0].timestamp, "2026-12-07T13:02:14.958Z");
  EXPECT_EQ(r.messages[0].source, session_path("ses_1") + ":1");
  EXPECT_EQ(r.messages[0].position, 0u);
  EXPECT_EQ(r.messages[1].role, "assistant");
  EXPECT_EQ(r.messages[1].text, "Done. Bye.");
  EXPECT_EQ(r.messages[1].timestamp, "2026-12-07T13:02:14.959Z");
  EXPECT_EQ(r.messages[1].source, session_path("ses_1") + ":2");
  EXPECT_EQ(r.messages[1].position, 1u);
}

TEST(OpencodeStoreMessages, MessagesWithoutTextYieldNothingAndTakeNoRank) {
  auto run = testing::run_with({
      {session_path("ses_1"), R"({"id":"ses_1"})"},
      {message_path("ses_1", "msg_1"), R"({"role":"user","time":{"created":1}})"},
      {part_path("msg_1", "p"), R"({"type":"text","text":"<local-command-stdout>ok</local-command-stdout>"})"},
      {message_path("ses_1", "msg_2"), R"({"role":"user","time":{"created":2}})"},
      {part_path("msg_2", "p"), R"({"type":"text","text":"only the harness","synthetic":true})"},
      {message_path("ses_1", "msg_3"), R"({"role":"assistant","time":{"created":3}})"},
      {part_path("msg_3", "p1"), R"({"type":"text","text":"   "})"},
      {part_path("msg_3", "p2"), R"({"type":"tool","callID":"c1","tool":"bash","state":{"status":"pending"}})"},
      {message_path("ses_1", "msg_4"), R"({"role":"system","time":{"created":4}})"},
      {part_path("msg_4", "p"), R"({"type":"text","text":"a system text"})"},
      {message_path("ses_1", "msg_5"), R"({"role":"assistant","time":{"created":5}})"},
      {part_path("msg_5", "p"), R"({"type":"text","text":"answer"})"},
  });
  Read r = read(run);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, "answer");
  EXPECT_EQ(r.messages[0].id, "msg_5");  // the file name when the object has no id
  EXPECT_EQ(sources_of(r),
            (std::vector<std::string>{"M " + session_path("ses_1") + ":2", "T " + session_path("ses_1") + ":1"}));
}

TEST(OpencodeStoreMessages, SessionsMessagesAndPartsInTheirOrder) {
  // Sessions by creation time, then id; messages the same; parts by id.
  auto run = testing::run_with({
      {session_path("ses_b"), R"({"id":"ses_b","time":{"created":5}})"},
      {session_path("ses_a"), R"({"id":"ses_a","time":{"created":5}})"},
      {session_path("ses_c"), R"({"id":"ses_c","time":{"created":1}})"},
      {message_path("ses_a", "m2"), R"({"role":"assistant","time":{"created":7}})"},
      {message_path("ses_a", "m1"), R"({"role":"assistant","time":{"created":9}})"},
      {message_path("ses_a", "m0"), R"({"role":"assistant","time":{"created":7}})"},
      {part_path("m0", "b"), R"({"type":"text","text":"a0-b"})"},
      {part_path("m0", "a"), R"({"type":"text","text":"a0-a"})"},
      {part_path("m1", "a"), R"({"type":"text","text":"a1"})"},
      {part_path("m2", "a"), R"({"type":"text","text":"a2"})"},
      {message_path("ses_b", "m3"), R"({"role":"assistant","time":{"created":1}})"},
      {part_path("m3", "a"), R"({"type":"text","text":"b"})"},
      {message_path("ses_c", "m4"), R"({"role":"assistant","time":{"created":1}})"},
      {part_path("m4", "a"), R"({"type":"text","text":"c"})"},
  });
  Read r = read(run);
  std::vector<std::string> texts;
  for (const auto& m : r.messages) texts.push_back(m.text + "@" + m.source.substr(kRoot.size()));
  EXPECT_EQ(texts, (std::vector<std::string>{"c@session/prj/ses_c.json:1", "a0-a a0-b@session/prj/ses_a.json:1",
                                             "a2@session/prj/ses_a.json:2", "a1@session/prj/ses_a.json:3",
                                             "b@session/prj/ses_b.json:1"}));
}

// ---- tool calls --------------------------------------------------------------------------

TEST(OpencodeStoreTools, ToolPartsBecomeCalls) {
  const std::string long_output(900, 'x');
  auto run = testing::run_with({
      {session_path("ses_1"), R"({"id":"ses_1"})"},
      {message_path("ses_1", "m"), R"({"role":"assistant"})"},
      {part_path("m", "p1"), R"({"type":"tool","callID":"c1","tool":"bash","state":{"status":"completed",
          "input":{"command":"ls"},"output":"a\r\nb\n","metadata":{"exit":0},"time":{"start":0,"end":1500}}})"},
      {part_path("m", "p2"), R"({"type":"tool","callID":"c2","tool":"read","state":{"status":"error",
          "input":{"filePath":"/x"},"error":"Error: ENOENT","time":{"start":2000,"end":2001}}})"},
      {part_path("m", "p3"), R"({"type":"tool","callID":"c3","tool":"bash","state":{"status":"completed",
          "input":{},"output":"sh: nope: not found","metadata":{"exit":127}}})"},
      {part_path("m", "p4"), R"({"type":"tool","callID":"c4","tool":"bash","state":{"status":"running",
          "input":{"command":"sleep 9"},"output":"partial","time":{"start":3000}}})"},
      {part_path("m", "p5"), R"({"type":"tool","tool":"task","state":{"status":"pending"}})"},
      {part_path("m", "p6"), R"({"type":"tool","callID":"c6","tool":"bash","state":{"status":"completed",
          "output":")" + long_output +
                                 R"(","metadata":{"exit":"1"}}})"},
  });
  Read r = read(run);
  ASSERT_EQ(r.calls.size(), 6u);
  const ToolCall& ok = r.calls[0];
  EXPECT_EQ(ok.tool_use_id, "c1");
  EXPECT_EQ(ok.name, "bash");
  EXPECT_EQ(ok.input->text, R"({"command":"ls"})");
  EXPECT_EQ(ok.result_text, "a\nb");
  EXPECT_FALSE(ok.is_error);
  EXPECT_EQ(ok.started_at, "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(ok.ended_at, "1970-01-01T00:00:01.500Z");
  EXPECT_EQ(ok.source, session_path("ses_1") + ":1");
  EXPECT_EQ(ok.position, 0u);
  EXPECT_EQ(r.calls[1].result_text, "Error: ENOENT");
  EXPECT_TRUE(r.calls[1].is_error);
  EXPECT_EQ(r.calls[2].result_text, "sh: nope: not found");
  EXPECT_TRUE(r.calls[2].is_error);                 // a shell that exited 127, stored as completed
  EXPECT_EQ(r.calls[3].result_text, std::nullopt);  // still running
  EXPECT_EQ(r.calls[3].started_at, "1970-01-01T00:00:03.000Z");
  EXPECT_EQ(r.calls[3].ended_at, std::nullopt);
  EXPECT_EQ(r.calls[4].tool_use_id, std::nullopt);
  EXPECT_EQ(r.calls[4].input, std::nullopt);
  EXPECT_EQ(r.calls[4].source, session_path("ses_1") + ":5");
  EXPECT_EQ(r.calls[5].result_text, std::string(800, 'x') + "\xE2\x80\xA6");
  EXPECT_FALSE(r.calls[5].is_error);  // an exit status that is not an integer
}

// ---- todos ------------------------------------------------------------------------------

TEST(OpencodeStoreTodos, TheFinalListAfterTheMessages) {
  auto run = testing::run_with({
      {session_path("ses_1"), R"({"id":"ses_1"})"},
      {message_path("ses_1", "m"), R"({"role":"user"})"},
      {part_path("m", "p"), R"({"type":"text","text":"go"})"},
      {kRoot + "todo/ses_1.json", R"([{"id":"1","content":" Write  it ","status":"in_progress","priority":"high"},
          {"id":"2","content":"Test it","status":"pending"},{"id":"3","content":"Drop it","status":"cancelled"},
          {"id":"4","content":"","status":"completed"},{"id":"5","content":"Ship it","status":"completed"}])"},
  });
  Read r = read(run);
  ASSERT_EQ(r.todos.size(), 3u);
  EXPECT_EQ(r.todos[0].content, "Write it");
  EXPECT_EQ(r.todos[0].state, "current");
  EXPECT_EQ(r.todos[0].id, std::nullopt);
  EXPECT_EQ(r.todos[0].source, session_path("ses_1") + ":2");
  EXPECT_EQ(r.todos[1].state, "pending");
  EXPECT_EQ(r.todos[2].content, "Ship it");
  EXPECT_EQ(r.todos[2].state, "done");
  EXPECT_EQ(r.todos[2].source, session_path("ses_1") + ":4");
  EXPECT_EQ(r.todos[2].position, 2u);
}

// ---- sub-agents and title ---------------------------------------------------------------

TEST(OpencodeStoreSessions, ChildSessionsAreSubAgentsAndTheEarliestRootNamesTheRun) {
  auto run = testing::run_with({
      {session_path("ses_late"), R"({"id":"ses_late","title":"Later root","time":{"created":50}})"},
      {session_path("ses_root"), R"({"id":"ses_root","time":{"created":10}})"},  // no title
      {session_path("ses_k1"), R"({"id":"ses_k1","parentID":"ses_root","title":"Cancelled","time":{"created":1}})"},
      {session_path("ses_k2"), R"({"id":"ses_k2","parentID":"ses_root","title":"Failed","time":{"created":2}})"},
      {session_path("ses_k3"), R"({"id":"ses_k3","parentID":"ses_root","title":"Open","time":{"created":3}})"},
      {session_path("ses_k4"), R"({"id":"ses_k4","parentID":"ses_root","title":"Done","time":{"created":4}})"},
      {session_path("ses_k5"), R"({"id":"ses_k5","parentID":"ses_root","time":{"created":5}})"},
      {message_path("ses_k1", "m1"), R"({"role":"user","time":{"created":1}})"},
      {part_path("m1", "p"), R"({"type":"text","text":"first ask"})"},
      {message_path("ses_k1", "m2"), R"({"role":"user","time":{"created":2}})"},
      {part_path("m2", "p"), R"({"type":"text","text":"second ask"})"},
      {message_path("ses_k1", "m3"), R"({"role":"assistant","time":{"created":3,"completed":4},
          "error":{"name":"MessageAbortedError"}})"},
      {message_path("ses_k2", "m4"), R"({"role":"assistant","time":{"created":1,"completed":2},
          "error":{"name":"APIError"}})"},
      {message_path("ses_k3", "m5"), R"({"role":"assistant","time":{"created":1,"completed":2}})"},
      {message_path("ses_k3", "m6"), R"({"role":"assistant","time":{"created":3}})"},
      {message_path("ses_k4", "m7"), R"({"role":"assistant","time":{"created":1},"error":{"name":"APIError"}})"},
      {message_path("ses_k4", "m8"), R"({"role":"assistant","time":{"created":2,"completed":3}})"},
  });
  Read r = read(run);
  EXPECT_EQ(r.summary.title, std::nullopt);  // the earliest root session has none
  ASSERT_EQ(r.summary.sub_agents.size(), 5u);
  const SubAgent& k1 = r.summary.sub_agents[0];
  EXPECT_EQ(k1.id, "ses_k1");
  EXPECT_EQ(k1.title, "Cancelled");
  EXPECT_EQ(k1.prompt, "first ask");
  EXPECT_EQ(k1.state, ActivityState::Cancelled);
  EXPECT_EQ(k1.source, session_path("ses_k1"));
  EXPECT_EQ(r.summary.sub_agents[1].state, ActivityState::Failed);
  EXPECT_EQ(r.summary.sub_agents[2].state, ActivityState::Running);  // its last answer is not complete
  EXPECT_EQ(r.summary.sub_agents[3].state, ActivityState::Finished);
  EXPECT_EQ(r.summary.sub_agents[4].state, ActivityState::Running);  // no answer yet
  EXPECT_EQ(r.summary.sub_agents[4].title, "");
  EXPECT_EQ(r.summary.sub_agents[4].prompt, "");

  auto titled = testing::run_with({{session_path("ses_b"), R"({"id":"ses_b","title":"B","time":{"created":2}})"},
                                   {session_path("ses_a"), R"({"id":"ses_a","title":"A","time":{"created":2}})"}});
  EXPECT_EQ(read(titled).summary.title, "A");
}

// ---- the database and reading each session once -------------------------------------

DatabaseArtifact sample_database(std::string path, std::string session, std::string text) {
  return database(std::move(path), rows(4, {session, std::monostate{}, std::string("DB title"), std::int64_t{7}}),
                  rows(4, {std::string("msg_1"), session, std::int64_t{1000}, std::string(R"({"role":"user"})")}),
                  rows(3, {std::string("prt_1"), std::string("msg_1"),
                           std::string(R"({"type":"text","text":")" + text + R"("})")}));
}

TEST(OpencodeStoreDatabase, RowsBecomeRecordsAndBadRowsAreLeftOut) {
  RunArtifacts run;
  run.databases.push_back(database(
      kDb,
      rows(4, {std::string("ses_1"), std::monostate{}, std::string("Title"), std::int64_t{5},  //
               std::string("ses_2"), std::string("ses_1"), std::string("Child"), std::int64_t{6}, std::int64_t{3},
               std::monostate{}, std::string("no id"), std::int64_t{1}}),
      rows(4, {std::string("msg_2"), std::string("ses_1"), std::int64_t{2000}, std::string(R"({"role":"assistant"})"),
               std::string("msg_1"), std::string("ses_1"), std::int64_t{1000}, std::string(R"({"role":"user"})"),
               std::string("msg_x"), std::string("ses_1"), std::int64_t{1500}, std::string("not json"),
               std::string("msg_y"), std::string("ses_1"), std::int64_t{1600}, std::string("[1]"),
               std::string("msg_3"), std::string("ses_2"), std::int64_t{3000}, std::string(R"({"role":"user"})")}),
      rows(3,
           {std::string("prt_b"), std::string("msg_2"), std::string(R"({"type":"text","text":"answer"})"),
            std::string("prt_a"), std::string("msg_2"),
            std::string(R"({"type":"tool","callID":"c","tool":"bash","state":{"status":"completed","output":"ok"}})"),
            std::string("prt_1"), std::string("msg_1"), std::string(R"({"type":"text","text":"ask"})"),
            std::string("prt_2"), std::string("msg_1"), std::string("{oops"), std::string("prt_3"),
            std::string("msg_3"), std::string(R"({"type":"text","text":"child ask"})")}),
      rows(4, {std::string("ses_1"), std::string("Second"), std::string("pending"), std::int64_t{1},
               std::string("ses_1"), std::string("First"), std::string("completed"), std::int64_t{0}})));
  Read r = read(run);
  std::vector<std::string> texts;
  for (const auto& m : r.messages) texts.push_back(m.role + ":" + m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"user:ask", "assistant:answer", "user:child ask"}));
  EXPECT_EQ(r.messages[0].timestamp, "1970-01-01T00:00:01.000Z");
  EXPECT_EQ(sources_of(r),
            (std::vector<std::string>{"M " + kDb + "/ses_1:1", "M " + kDb + "/ses_1:2", "M " + kDb + "/ses_2:1",
                                      "T " + kDb + "/ses_1:3", "D " + kDb + "/ses_1:4", "D " + kDb + "/ses_1:5"}));
  EXPECT_EQ(r.todos[0].content, "First");
  EXPECT_EQ(r.summary.title, "Title");
  ASSERT_EQ(r.summary.sub_agents.size(), 1u);
  EXPECT_EQ(r.summary.sub_agents[0].source, kDb + "/ses_2");
  EXPECT_TRUE(r.summary.database_messages);
}

TEST(OpencodeStoreDatabase, ASessionIsReadOnceFromTheFirstStoreThatHoldsIt) {
  const std::string before = "snapshots/before/home/.local/share/opencode/storage/";
  const std::string db2 = "snapshots/before/home/.local/share/opencode/opencode-beta.db";
  auto run = testing::run_with({
      // ses_1 in two JSON stores and a database; ses_2 in two JSON stores; ses_3 in two databases.
      {session_path("ses_1", before), R"({"id":"ses_1","time":{"created":1}})"},
      {session_path("ses_2", before), R"({"id":"ses_2","time":{"created":2}})"},
      {message_path("ses_2", "m", before), R"({"role":"user"})"},
      {part_path("m", "p", before), R"({"type":"text","text":"from before"})"},
      {session_path("ses_1"), R"({"id":"ses_1","time":{"created":1}})"},
      {session_path("ses_2"), R"({"id":"ses_2","time":{"created":2}})"},
      {message_path("ses_2", "m"), R"({"role":"user"})"},
      {part_path("m", "p"), R"({"type":"text","text":"from after"})"},
  });
  run.databases.push_back(sample_database(kDb, "ses_3", "db after"));
  run.databases.push_back(sample_database(db2, "ses_1", "db before"));
  run.databases.push_back(sample_database(db2 + "x", "ses_3", "second database"));
  Read r = read(run);
  std::vector<std::string> texts;
  for (const auto& m : r.messages) texts.push_back(m.text + "@" + m.source);
  // ses_2 was made first; ses_1 and ses_3 (the databases' creation times) at the same time.
  EXPECT_EQ(texts, (std::vector<std::string>{"from after@" + session_path("ses_2") + ":1",
                                             "db before@" + db2 + "/ses_1:1", "db after@" + kDb + "/ses_3:1"}));
}

TEST(OpencodeStoreDatabase, ADatabaseWithoutMessagesSaysSo) {
  RunArtifacts run;
  run.databases.push_back(database(kDb,
                                   rows(4, {std::string("ses_1"), std::monostate{}, std::string("T"), std::int64_t{1}}),
                                   rows(4, {}), rows(3, {})));
  run.databases.push_back(DatabaseArtifact{kDb + "2", {}});  // not the four tables: ignored
  Read r = read(run);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_FALSE(r.summary.database_messages);
  EXPECT_EQ(r.summary.title, "T");
}

TEST(OpencodeStoreTime, Rfc3339Millis) {
  EXPECT_EQ(rfc3339_millis(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(rfc3339_millis(951782400000), "2000-02-29T00:00:00.000Z");
  EXPECT_EQ(rfc3339_millis(1796648534958), "2026-12-07T13:02:14.958Z");
  EXPECT_EQ(rfc3339_millis(253402300799999), "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(rfc3339_millis(253402300800000), std::nullopt);
  EXPECT_EQ(rfc3339_millis(-1), std::nullopt);
}

// ---- the shared samples, read where they lie ----------------------------------------

namespace fs = std::filesystem;

TEST(OpencodeSharedSamples, ReadInPlaceAndLeftAsTheyWere) {
  const char* env = std::getenv("TRACELENS_REALDATA");
  const fs::path data = env != nullptr ? fs::path(env)
                                       : fs::path(__FILE__).parent_path().parent_path().parent_path().parent_path() /
                                             "shared" / "realdata";
  const fs::path samples = data / "opencode";
  if (!fs::exists(samples / "v1.19.5-sqlite" / "opencode.db")) GTEST_SKIP() << "no samples at " << samples;
  const auto before = testing::state_of(samples);

  // The database with its log and index, in place: three sessions, twelve
  // messages, 38 parts and two todos, most of them only in the log.
  auto tables = read_sqlite_rows((samples / "v1.19.5-sqlite" / "opencode.db").string(), kOpencodeDatabases[0].queries);
  ASSERT_TRUE(tables);
  ASSERT_EQ(tables->size(), 4u);
  EXPECT_EQ((*tables)[0].size(), 3u);
  EXPECT_EQ((*tables)[1].size(), 12u);
  EXPECT_EQ((*tables)[2].size(), 38u);
  EXPECT_EQ((*tables)[3].size(), 2u);
  RunArtifacts run;
  run.databases.push_back(DatabaseArtifact{kDb, std::move(*tables)});

  // The JSON store's files, under a home's path.
  const fs::path storage = samples / "v1.1.65-json-storage" / "storage";
  for (const auto& e : fs::recursive_directory_iterator(storage)) {
    if (!e.is_regular_file()) continue;
    if (auto text = read_complete_text(e.path().string())) {
      run.texts.push_back(TextArtifact{kRoot + fs::relative(e.path(), storage).string(), std::move(*text)});
    }
  }
  Read r = read(run);
  // Each store holds a prompt with six answers, a sub-agent's prompt with two
  // and a cancelled prompt with one: 24 messages; five calls and two todos
  // in each root session, one call in each sub-agent session.
  EXPECT_EQ(r.messages.size(), 24u);
  EXPECT_EQ(r.calls.size(), 12u);
  EXPECT_EQ(r.todos.size(), 4u);
  EXPECT_EQ(r.summary.sub_agents.size(), 2u);

  EXPECT_EQ(testing::state_of(samples), before);
}

}  // namespace
}  // namespace tl
