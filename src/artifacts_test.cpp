#include "artifacts.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tl {
namespace {

namespace fs = std::filesystem;

class RunDir : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tracelens-artifacts-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(root_ / "locked", fs::perms::owner_all, ec);
    fs::remove_all(root_, ec);
  }
  void write(const std::string& rel, const std::string& content) {
    fs::path p = root_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  std::string root() const { return root_.string(); }
  fs::path root_;
};

std::string pattern(std::size_t n) {
  std::string s(n, 'a');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

TEST_F(RunDir, ManifestTerminalAndTextsSortedByPath) {
  write("metadata.json", " {\"runId\":\"r1\",\"scenario\":{\"b\":1,\"a\":2}} \n");
  write("terminal.log", "> hi\n");
  write("screens/b.txt", "B");
  write("screens/a.txt", "A");
  write("snapshots/a/metadata.json", "{}");
  write("snapshots/a/terminal.log", "inner");
  RunArtifacts run = load_run(root());
  EXPECT_EQ(run.metadata["runId"], "r1");
  EXPECT_EQ(run.terminal, "> hi\n");
  std::vector<std::string> paths;
  for (const auto& t : run.texts) paths.push_back(t.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"screens/a.txt", "screens/b.txt", "snapshots/a/metadata.json",
                                             "snapshots/a/terminal.log"}));
}

TEST_F(RunDir, MissingOrBrokenManifestIsAnEmptyObject) {
  write("metadata.json", "{\"runId\":");
  EXPECT_EQ(load_run(root()).metadata, json::Value::object());
  RunArtifacts none = load_run((root_ / "does-not-exist").string());
  EXPECT_EQ(none.metadata, json::Value::object());
  EXPECT_TRUE(none.texts.empty());
  EXPECT_TRUE(none.terminal.empty());
  write("metadata.json", "[1,2]");
  EXPECT_TRUE(load_run(root()).metadata.is_array());
}

TEST_F(RunDir, TerminalWindowKeepsHeadAndTail) {
  std::string big = pattern(300000);
  write("terminal.log", big);
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.terminal.size(), 262144u);
  EXPECT_EQ(run.terminal.substr(0, 131071), big.substr(0, 131071));
  EXPECT_EQ(run.terminal[131071], '\n');
  EXPECT_EQ(run.terminal.substr(131072), big.substr(300000 - 131072));
}

TEST_F(RunDir, OversizeOrdinaryFilesAreLeftOutButHarnessLogsAreReadWhole) {
  write("screens/exact.txt", pattern(262144));
  write("terminal.log", pattern(262144));
  RunArtifacts exact = load_run(root());
  ASSERT_EQ(exact.texts.size(), 1u);  // a file of exactly the window is read whole
  EXPECT_EQ(exact.texts[0].text.size(), 262144u);
  EXPECT_EQ(exact.terminal, pattern(262144));
  fs::remove(root_ / "screens/exact.txt");
  write("screens/big.txt", pattern(300000));
  write("snapshots/x/home/.claude/projects/p/s.jsonl", pattern(300000));
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 1u);
  EXPECT_EQ(run.texts[0].path, "snapshots/x/home/.claude/projects/p/s.jsonl");
  LogReader scratch;
  EXPECT_EQ(log_text(run, run.texts[0], scratch).text.size(), 300000u);
}

// A log read a window at a time gives, piece after piece, exactly the text
// that reading it whole gives, each piece whole lines numbered from where
// the last one stopped: at every window size, with lines longer than the
// window, carriage returns, invalid UTF-8, a missing last line feed, and a
// last line that a hole cuts.
TEST_F(RunDir, ALogReadByWindowsGivesTheWholeTextInWholeLines) {
  const std::string log = "snapshots/x/home/.gemini/tmp/w/chats/s.jsonl";
  std::string long_text;  // many windows after the first, lines of every length
  for (int i = 0; i < 3000; ++i)
    long_text += "{\"n\":\"" + std::string(static_cast<std::size_t>(i % 41), 'n') + "\"}\n";
  const std::string texts[] = {
      long_text,
      "",
      "\n\n",
      "{\"a\":1}\n{\"b\":2}\n",
      "{\"a\":1}\r\n\r\n{\"long\":\"" + std::string(40, 'x') + "\"}\r\n{\"c\":\"\xff\xc3\"}\n\xe2\x82",
      "no line feed at all, and longer than the window",
  };
  // One reader serves every reading, as it serves log after log in a parse:
  // nothing of a longer text read before shows in a shorter one.
  LogReader scratch;
  for (const std::string& content : texts) {
    for (bool hole : {false, true}) {
      write(log, content);
      if (hole) fs::resize_file(root_ / log, (1ull << 20) + content.size());
      RunArtifacts run = load_run(root());
      ASSERT_EQ(run.texts.size(), 1u);
      LogReader whole_buffer;
      const std::string whole = log_text(run, run.texts[0], whole_buffer).text;
      for (std::size_t window : {1000u, 1u, 2u, 3u, 7u, 16u}) {
        std::string joined;
        std::uint64_t expected_line = 1;
        for_each_log_piece(
            run, run.texts[0], scratch,
            [&](const TextArtifact& piece, std::uint64_t first_line) {
              EXPECT_EQ(piece.path, log);
              EXPECT_EQ(first_line, expected_line) << window;
              EXPECT_TRUE(joined.empty() || joined.back() == '\n') << window;
              joined += piece.text;
              expected_line += static_cast<std::uint64_t>(std::count(piece.text.begin(), piece.text.end(), '\n'));
              return true;
            },
            window);
        EXPECT_EQ(joined, whole) << "window " << window << " hole " << hole << " text " << content;
      }
    }
  }
  // The first piece holds at least the start that the binary test reads;
  // the reader may stop after any piece.
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += std::string(99, 'x') + "\n";
  write(log, lines);
  RunArtifacts run = load_run(root());
  std::vector<std::size_t> sizes;
  for_each_log_piece(
      run, run.texts[0], scratch,
      [&](const TextArtifact& piece, std::uint64_t) {
        sizes.push_back(piece.text.size());
        return sizes.size() < 2;
      },
      1000);
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_GE(sizes[0], 8192u);
  EXPECT_EQ(sizes[1] % 100, 0u);  // whole lines
}

// A log whose preparation needs it whole is read a window at a time, as read,
// when the preparation's test of its first window says it leaves the log as
// it is; otherwise it comes whole and prepared, and whoever watches the
// reading sees it once.
TEST_F(RunDir, AWholeLogPreparationThatLeavesTheLogAloneLetsItBeReadByWindows) {
  struct Seen : LogWatcher {
    std::string text;
    void begin(const TextArtifact&) override {}
    void piece(const TextArtifact& piece, std::uint64_t) override { text += piece.text; }
    void line(std::uint64_t, std::string_view, const json::Element*) override { ADD_FAILURE() << "no lines here"; }
    void end(bool) override {}
  };
  const std::string log = "snapshots/x/home/.codex/sessions/s.jsonl";
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += std::string(99, 'x') + "\n";
  for (const std::string& start : {std::string("keep"), std::string("cut!")}) {
    write(log, start + lines);
    RunArtifacts run = load_run(root());
    ASSERT_EQ(run.texts.size(), 1u);
    run.prepare_log = [](TextArtifact& t) { t.text += "prepared"; };
    run.needs_whole_log = [](const TextArtifact& first) { return first.text.starts_with("cut"); };
    Seen seen;
    LogReader reader{{}, &seen};
    std::vector<std::string> pieces;
    for_each_log_piece(
        run, run.texts[0], reader,
        [&](const TextArtifact& piece, std::uint64_t) {
          pieces.push_back(piece.text);
          return true;
        },
        1000);
    if (start == "keep") {
      EXPECT_GT(pieces.size(), 1u);
      EXPECT_EQ(seen.text, start + lines);
    } else {
      ASSERT_EQ(pieces.size(), 1u);
      EXPECT_EQ(pieces[0], start + lines + "prepared");
      EXPECT_EQ(seen.text, pieces[0]);
    }
  }
}

// Session logs are read when a step reads them, through one reused buffer,
// and prepared as they are read; a log that starts binary is left out.
TEST_F(RunDir, SessionLogsAreReadWhenReadAndPreparedEachTime) {
  write("snapshots/x/home/.claude/projects/p/a.jsonl", "{\"a\":1}\n");
  write("snapshots/x/home/.claude/projects/p/b.jsonl", "{\"b\":2}\n");
  write("snapshots/x/home/.claude/projects/p/c.jsonl", std::string("{\"c\0", 5));
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 2u);
  EXPECT_EQ(run.texts[0].text, "");
  LogReader scratch;
  EXPECT_EQ(log_text(run, run.texts[0], scratch).text, "{\"a\":1}\n");
  EXPECT_EQ(log_text(run, run.texts[1], scratch).path, "snapshots/x/home/.claude/projects/p/b.jsonl");
  EXPECT_EQ(scratch.buffer.text, "{\"b\":2}\n");
  run.prepare_log = [](TextArtifact& log) { log.text += "!"; };
  EXPECT_EQ(log_text(run, run.texts[0], scratch).text, "{\"a\":1}\n!");
  EXPECT_EQ(log_text(run, run.texts[0], scratch).text, "{\"a\":1}\n!");  // read afresh, prepared once
  // A log removed since loading reads as empty.
  fs::remove(root_ / "snapshots/x/home/.claude/projects/p/b.jsonl");
  run.prepare_log = nullptr;
  EXPECT_EQ(log_text(run, run.texts[1], scratch).text, "");
  // A text held in memory is handed back as it is.
  TextArtifact held{"screens/s.txt", "held"};
  EXPECT_EQ(&log_text(run, held, scratch), &held);
}

TEST_F(RunDir, ASparseLogIsReadUpToItsHoleInWholeLines) {
  const std::string log = "snapshots/x/home/.claude/projects/p/s.jsonl";
  write(log, "{\"a\":1}\n{\"b\":");  // the second line is cut by the hole
  fs::resize_file(root_ / log, 1ull << 36);
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 1u);
  LogReader scratch;
  EXPECT_EQ(log_text(run, run.texts[0], scratch).text, "{\"a\":1}\n");
  // A log without a hole is read to its end, the last line too.
  write(log, "{\"a\":1}\n{\"b\":");
  RunArtifacts plain = load_run(root());
  ASSERT_EQ(plain.texts.size(), 1u);
  EXPECT_EQ(log_text(plain, plain.texts[0], scratch).text, "{\"a\":1}\n{\"b\":");
}

TEST_F(RunDir, EmptyFilesHoldNoBufferOfTheirOwn) {
  for (int i = 0; i < 100; ++i) write("screens/e" + std::to_string(i) + ".txt", "");
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 100u);
  for (const TextArtifact& t : run.texts) {
    EXPECT_EQ(t.text, "");
    EXPECT_LE(t.text.capacity(), 256u) << t.path;  // the padding, not a reading buffer
  }
}

TEST_F(RunDir, BinaryFilesAndNulProbe) {
  write("screens/bin.txt", std::string("ab\0cd", 5));
  std::string late = pattern(9000);
  late[8500] = '\0';  // beyond the 8,192-byte probe
  write("screens/late.txt", late);
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 1u);
  EXPECT_EQ(run.texts[0].path, "screens/late.txt");
}

TEST_F(RunDir, InvalidUtf8IsRepaired) {
  write("screens/x.txt",
        "a\xFF"
        "b");
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 1u);
  EXPECT_EQ(run.texts[0].text,
            "a\xEF\xBF\xBD"
            "b");
}

TEST_F(RunDir, BudgetStopsOrdinaryFilesButLaterSmallOnesStillFit) {
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f/%03d.txt", i);
    write(name, std::string(250000, 'x'));
  }
  write("g/small.txt", std::string(1000, 'y'));
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 269u);  // 268 large ones, then the small one
  EXPECT_EQ(run.texts[267].path, "f/267.txt");
  EXPECT_EQ(run.texts[268].path, "g/small.txt");
}

TEST_F(RunDir, SkippedDirectoriesAndLinks) {
  write("node_modules/a.txt", "top level is walked");
  write("snapshots/h/home/proj/node_modules/b.txt", "skipped");
  write("snapshots/h/home/proj/targets/c.txt", "skipped by substring");
  write("snapshots/h/home/proj/src/d.txt", "kept");
  fs::create_directory_symlink(root_, root_ / "loop");
  fs::create_symlink(root_ / "snapshots/h/home/proj/src/d.txt", root_ / "link.txt");
  ASSERT_EQ(::mkfifo((root_ / "fifo").c_str(), 0600), 0);
  RunArtifacts run = load_run(root());
  std::vector<std::string> paths;
  for (const auto& t : run.texts) paths.push_back(t.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"node_modules/a.txt", "snapshots/h/home/proj/src/d.txt"}));
}

TEST_F(RunDir, UnreadableDirectoryIsLeftOut) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  write("locked/a.txt", "x");
  write("open/b.txt", "y");
  fs::permissions(root_ / "locked", fs::perms::none);
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.texts.size(), 1u);
  EXPECT_EQ(run.texts[0].path, "open/b.txt");
}

TEST_F(RunDir, SingleFileMode) {
  write("logs/session.v2.jsonl", "{\"role\":\"user\",\"content\":\"hi\"}\n");
  std::string file = (root_ / "logs/session.v2.jsonl").string();
  RunArtifacts run = load_run(file);
  ASSERT_EQ(run.texts.size(), 1u);
  EXPECT_EQ(run.texts[0].path, file);
  EXPECT_TRUE(run.terminal.empty());
  EXPECT_TRUE(run.context_artifacts.empty());
  EXPECT_EQ(run.metadata, json::Value::parse("{\"runId\":\"session.v2\"}"));
}

TEST(Artifacts, SkipDirPatterns) {
  EXPECT_FALSE(skip_dir("node_modules"));
  EXPECT_TRUE(skip_dir("a/node_modules"));
  EXPECT_TRUE(skip_dir("a/cached"));
  EXPECT_TRUE(skip_dir("a/.git/objects"));
  EXPECT_FALSE(skip_dir("a/.git"));
  EXPECT_TRUE(skip_dir("h/.claude/statsig"));
  EXPECT_FALSE(skip_dir("a/Target"));
}

TEST(Artifacts, RelPathByWholeComponents) {
  EXPECT_EQ(rel_path("/r/run", "/r/run/screens/a.txt"), "screens/a.txt");
  EXPECT_EQ(rel_path("/r/run/", "/r/run/screens/a.txt"), "screens/a.txt");
  EXPECT_EQ(rel_path("/r/run", "/r/running/a.txt"), "/r/running/a.txt");
  EXPECT_EQ(rel_path("/r", "/r/a\\b\xFF"), "a/b\xEF\xBF\xBD");
}

TEST(Artifacts, ProviderTranscriptFamily) {
  EXPECT_EQ(provider_transcript_family("s/h/.Claude/Projects/x/Y.JSONL"), "claude");
  EXPECT_FALSE(provider_transcript_family("s/h/.claude/projects/x/y.json"));
  EXPECT_EQ(provider_transcript_family("s/h/.local/share/opencode/storage/session/a.json"), "opencode");
  EXPECT_EQ(provider_transcript_family("s/h/.local/share/opencode/sessions/a.jsonl"), "opencode");
  EXPECT_EQ(provider_transcript_family("s/h/.codex/sessions/2026/01/02/rollout-1.jsonl"), "codex");
  EXPECT_EQ(provider_transcript_family("s/h/.cursor/projects/p/agent-transcripts/t.jsonl"), "cursor");
  EXPECT_EQ(provider_transcript_family("s/h/.pi/agent/sessions/x/s.jsonl"), "pi");
  EXPECT_EQ(provider_transcript_family("s/h/.omp/agent/sessions/x/s.jsonl"), "omp");
  // Gemini chats: .json (up to 0.38) and .jsonl under tmp/<project>/chats/,
  // sub-agent chats one folder further down.
  EXPECT_EQ(provider_transcript_family("s/h/.gemini/tmp/chats/s.jsonl"), "gemini");
  EXPECT_EQ(provider_transcript_family("s/h/.gemini/tmp/p/chats/session-1.json"), "gemini");
  EXPECT_EQ(provider_transcript_family("s/h/.Gemini/TMP/p/Chats/parent/agent.JSONL"), "gemini");
  EXPECT_FALSE(provider_transcript_family("s/h/.gemini/tmp/p/logs.json"));
  EXPECT_FALSE(provider_transcript_family("s/h/.gemini/chats/s.jsonl"));
  EXPECT_FALSE(provider_transcript_family("s/h/.gemini/tmp/p/chats/s.json.bak"));
  // A path starting with the directory has no leading slash to match.
  EXPECT_FALSE(provider_transcript_family(".claude/projects/x/y.jsonl"));
}

TEST(Artifacts, ContextKinds) {
  EXPECT_EQ(context_kind("snapshots/s1/work/AGENTS.md"), "project_rule");
  EXPECT_EQ(context_kind("snapshots/s1/work/docs/Claude.MD"), "project_rule");
  EXPECT_EQ(context_kind("work/.cursor/rules/style.mdc"), "project_rule");
  EXPECT_EQ(context_kind("snapshots/s1/home/.claude/skills/review/SKILL.md"), "skill");
  EXPECT_EQ(context_kind("snapshots/s1/home/.codex/mcp_servers.json"), "mcp_config");
  EXPECT_EQ(context_kind("snapshots/s1/work/.mcp.json"), "mcp_config");
  EXPECT_EQ(context_kind("snapshots/s1/home/.claude/settings.json"), "harness_config");
  EXPECT_EQ(context_kind("snapshots/s1/home/.codexrc/config.toml"), "harness_config");
  EXPECT_EQ(context_kind("snapshots/s1/home/.claude/projects/p/abc.jsonl"), "session_log");
  EXPECT_EQ(context_kind("snapshots/s1/home/.gemini/tmp/h/chats/s.json"), std::nullopt);
  EXPECT_EQ(context_kind("snapshots/s1/home/.gemini/tmp/h/sessions/s.json"), "session_log");
  EXPECT_EQ(context_kind("snapshots/s1/home/.claude/notes.txt"), std::nullopt);
  EXPECT_EQ(context_kind("snapshots/s1/work/README.md"), std::nullopt);
}

TEST_F(RunDir, ContextArtifactsWithTitlesSourcesAndSizes) {
  write("snapshots/s1/work/AGENTS.md", "\n  \n# Project guide\nbody\n");
  write("snapshots/s1/home/.claude/settings.json", "{\"a\":1}");
  write("snapshots/s1/home/.claude/CLAUDE.md", "###\ntext");
  write("snapshots/s1/home/.claude/skills/x/empty.md", "   \n\n");
  write("snapshots/s1/home/.claude/skills/x/bin.md", std::string("\0\1", 2));
  write("work/.cursor/rules/style.mdc", "  ##  Style  " + std::string(200, 'z') + "\n");
  write("snapshots/s1/home/.claude/statsig/x/rules/r.md", "skipped dir");
  RunArtifacts run = load_run(root());
  ASSERT_EQ(run.context_artifacts.size(), 6u);
  const auto& a = run.context_artifacts;
  EXPECT_EQ(a[0].path, "snapshots/s1/home/.claude/CLAUDE.md");
  EXPECT_EQ(a[0].kind, "project_rule");
  EXPECT_EQ(a[0].title, std::string(""));
  EXPECT_EQ(a[1].path, "snapshots/s1/home/.claude/settings.json");
  EXPECT_EQ(a[1].kind, "harness_config");
  EXPECT_EQ(a[1].source, "s1");
  EXPECT_EQ(a[1].title, "{\"a\":1}");
  EXPECT_EQ(a[1].size_bytes, 7u);
  EXPECT_EQ(a[2].path, "snapshots/s1/home/.claude/skills/x/bin.md");
  EXPECT_FALSE(a[2].title);
  EXPECT_EQ(a[3].path, "snapshots/s1/home/.claude/skills/x/empty.md");
  EXPECT_FALSE(a[3].title);
  EXPECT_EQ(a[4].path, "snapshots/s1/work/AGENTS.md");
  EXPECT_EQ(a[4].title, "Project guide");
  EXPECT_EQ(a[5].path, "work/.cursor/rules/style.mdc");
  EXPECT_EQ(a[5].source, "run");
  EXPECT_EQ(a[5].title, "Style  " + std::string(113, 'z'));
}

}  // namespace
}  // namespace tl
