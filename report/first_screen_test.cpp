#include "first_screen.hpp"

#include <gtest/gtest.h>

namespace report {
namespace {

TEST(ParseTimestamp, ReadsIsoTimesInUtcAndWithOffsets) {
  const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"1970-01-01T00:00:01.5Z", 1500},
      {"1970-01-02 00:00:00", 86400000},
      {"2026-01-01T10:00:03.500Z", 1767261603500},
      {"2026-01-01T12:00:00+02:00", 1767261600000},
      {"2026-01-01T08:30:00-01:30", 1767261600000},
      {"2026-02-30T00:00:00Z", std::nullopt},
      {"2026-01-01", std::nullopt},
      {"2026-01-01T10:00:00Zjunk", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const auto& [text, ms] : cases) EXPECT_EQ(parse_timestamp(text), ms) << text;
}

TEST(DurationText, ReadsAsPeopleSayIt) {
  EXPECT_EQ(duration_text(840), "840 ms");
  EXPECT_EQ(duration_text(4200), "4.20 s");
  EXPECT_EQ(duration_text(12500), "12.5 s");
  EXPECT_EQ(duration_text(185000), "3 min 5 s");
  EXPECT_EQ(duration_text(7620000), "2 h 7 min");
  EXPECT_EQ(utc_text(1767261603500), "2026-01-01 10:00:03 UTC");
}

TEST(SourceFile, DropsTheLineNumber) {
  EXPECT_EQ(source_file("home/a.jsonl:12"), "home/a.jsonl");
  EXPECT_EQ(source_file("opencode.db/ses_1"), "opencode.db/ses_1");
  EXPECT_EQ(source_file("c:\\x:y"), "c:\\x:y");
}

std::string screen(std::string_view json) {
  static simdjson::dom::parser parser;
  simdjson::padded_string padded(json);
  return first_screen_html(parser.parse(padded).value());
}

TEST(FirstScreen, HeadsWithTheTitleElseTheFirstPrompt) {
  EXPECT_NE(screen(R"({"state":{"title":"Fix <b>","userTurns":[{"prompt":"p"}]}})").find(">Fix &lt;b&gt;</h1>"),
            std::string::npos);
  EXPECT_NE(screen(R"({"state":{"userTurns":[{"prompt":"","startMessagePosition":0},{"prompt":"second"}]}})")
                .find(">second</h1>"),
            std::string::npos);
  EXPECT_NE(screen(R"({})").find(">Untitled run</h1>"), std::string::npos);
}

TEST(FirstScreen, OutcomeTimesCountsAndTheFinalReplyOfTheMainConversation) {
  std::string html = screen(R"({"state":{"activity":{"state":"failed","reason":"manifest failed"},
    "userTurns":[{"position":0,"startMessagePosition":0,"prompt":"go"}],
    "messages":[{"position":0,"role":"user","text":"go","timestamp":"2026-01-01T10:00:00Z","source":"main.jsonl:1"},
      {"position":1,"role":"assistant","text":"**Done** here","source":"main.jsonl:4"},
      {"position":2,"role":"assistant","text":"sub reply","timestamp":"2026-01-01T10:02:05Z","source":"agents/agent-abcdef12.jsonl:3"}],
    "toolCalls":[{"position":0,"isError":true,"source":"main.jsonl:2"},{"position":1,"isError":false,"source":"main.jsonl:3"}],
    "subAgents":[{"id":"abcdef12","source":"main.jsonl:3"}]}})");
  // The second turn holds only the sub-agent's reply: it is not a turn of the conversation.
  std::string two_turns = screen(R"({"state":{"userTurns":[
      {"position":0,"startMessagePosition":0,"messagePositions":[0,1],"toolCallPositions":[0]},
      {"position":1,"startMessagePosition":2,"messagePositions":[2],"toolCallPositions":[]}],
    "messages":[{"position":0,"role":"user","source":"main.jsonl:1"},{"position":1,"role":"assistant","source":"main.jsonl:4"},
      {"position":2,"role":"assistant","source":"agents/agent-abcdef12.jsonl:3"}],
    "toolCalls":[{"position":0,"source":"main.jsonl:2"}],"subAgents":[{"id":"abcdef12","source":"main.jsonl:3"}]}})");
  EXPECT_NE(two_turns.find("data-count=\"turns\"><b>1</b> turn<"), std::string::npos);
  EXPECT_NE(html.find(">Failed</span>"), std::string::npos);
  EXPECT_NE(html.find(">manifest failed</span>"), std::string::npos);
  EXPECT_NE(html.find("Started <time datetime=\"2026-01-01 10:00:00 UTC\">"), std::string::npos);
  EXPECT_NE(html.find("took <b>2 min 5 s</b>"), std::string::npos);
  EXPECT_NE(html.find("data-count=\"toolCalls\"><b>2</b> tool calls"), std::string::npos);
  EXPECT_NE(html.find("id=\"failed-count\""), std::string::npos);
  EXPECT_NE(html.find("data-count=\"failedCalls\" href=\"#timeline\" id=\"failed-count\" title=\"next failed call (key "
                      "f)\"><b>1</b> failed"),
            std::string::npos);
  EXPECT_NE(html.find("md-src\">**Done** here</div>"), std::string::npos);
  EXPECT_EQ(html.find("sub reply"), std::string::npos);
}

TEST(FirstScreen, EveryFileWhereATurnStartsIsTheConversations) {
  // The sub-agent's source lies in the second session's transcript, where a
  // turn starts: that transcript stays the conversation's.
  std::string html = screen(R"({"state":{"userTurns":[
      {"position":0,"startMessagePosition":0,"messagePositions":[0,1]},
      {"position":1,"startMessagePosition":2,"messagePositions":[2,3]}],
    "messages":[{"position":0,"role":"user","text":"a","source":"s1.jsonl:1"},
      {"position":1,"role":"assistant","text":"first","source":"s1.jsonl:2"},
      {"position":2,"role":"user","text":"b","source":"s2.jsonl:1"},
      {"position":3,"role":"assistant","text":"second session reply","source":"s2.jsonl:6"}],
    "subAgents":[{"id":"toolu_9","source":"s2.jsonl:5"}]}})");
  EXPECT_NE(html.find("md-src\">second session reply</div>"), std::string::npos);
  EXPECT_NE(html.find("data-count=\"turns\"><b>2</b> turns<"), std::string::npos);
}

TEST(FirstScreen, AWaitingRunShowsTheQuestionAndTheWaitingCall) {
  std::string html = screen(R"({"state":{"activity":{"state":"needs-approval","source":"a.jsonl:7"},
    "toolCalls":[{"position":3,"name":"AskUserQuestion","source":"a.jsonl:7",
      "input":{"questions":[{"question":"Deploy <now>?"}]}}]}})");
  EXPECT_NE(html.find(">Waiting for approval</span>"), std::string::npos);
  EXPECT_NE(html.find("waiting-question\">Deploy &lt;now&gt;?</p>"), std::string::npos);
  EXPECT_NE(html.find("href=\"#call-3\""), std::string::npos);
  std::string from_approval = screen(R"({"state":{"activity":{"state":"needs-approval","source":"terminal.log:9"},
    "approvals":[{"text":"Do you want to run rm?","state":"waiting_or_recent"}],
    "toolCalls":[{"position":0,"resultText":"ok"},{"position":1}]}})");
  EXPECT_NE(from_approval.find("waiting-question\">Do you want to run rm?</p>"), std::string::npos);
  EXPECT_NE(from_approval.find("href=\"#call-1\""), std::string::npos);
}

TEST(FirstScreen, UsageTotalsOnlyWhenTheDocumentHasThem) {
  EXPECT_EQ(screen(R"({"state":{}})").find("id=\"usage\""), std::string::npos);
  std::string html = screen(R"({"usage":{"total":{"responses":3,"inputTokens":12000,"outputTokens":450,"costUsd":0.25},
    "models":[],"turns":[],"subAgents":[],"prices":{"name":"t","date":"2026-01-01","source":"s"},
    "unpricedModels":["m<x>"],"notes":[]}})");
  EXPECT_NE(html.find("data-usage=\"inputTokens\"><b>12,000</b> input"), std::string::npos);
  EXPECT_NE(html.find("data-usage=\"outputTokens\"><b>450</b> output"), std::string::npos);
  EXPECT_EQ(html.find("cacheReadTokens"), std::string::npos);
  EXPECT_NE(html.find("<b>$0.2500</b> at least"), std::string::npos);
  EXPECT_NE(html.find("No price for m&lt;x&gt;"), std::string::npos);
}

}  // namespace
}  // namespace report
