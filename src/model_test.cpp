#include "model.hpp"

#include <gtest/gtest.h>

#include "model_detail.hpp"

namespace tl {
namespace {

TEST(ModelEncoding, EmptyOutputWritesEveryListAndTheNullOptionals) {
  ParserOutput out;
  out.parser.name = "geminiParser::family";
  out.parser.family = "gemini";
  out.parser.lineage = {"Parser", "GeminiParser"};
  out.parser.requested_version = "1";
  out.harness = "gemini";
  out.harness_version = "1";
  out.parsed_at = 7;
  EXPECT_EQ(to_json(out),
            "{\"schemaVersion\":2,\"parser\":{\"name\":\"geminiParser::family\",\"family\":\"gemini\","
            "\"version\":\"0.2.0\",\"status\":\"succeeded\",\"lineage\":[\"Parser\",\"GeminiParser\"],"
            "\"resolution\":null,\"requestedVersion\":\"1\",\"matchedVersion\":null},\"runId\":null,"
            "\"harness\":\"gemini\",\"harnessVersion\":\"1\",\"scenario\":null,\"parsedAt\":7,\"state\":{"
            "\"activity\":{\"state\":\"unknown\",\"lastEventKind\":\"unknown\"},\"userTurns\":[],\"messages\":[],"
            "\"toolCalls\":[],\"todos\":[],\"subAgents\":[],\"approvals\":[],\"toolErrors\":[],"
            "\"contextArtifacts\":[],\"snapshots\":null},\"provenance\":[]}");
  out.error = "no parser";
  std::string with_error = to_json(out);
  EXPECT_TRUE(with_error.ends_with(",\"provenance\":[],\"error\":\"no parser\"}"));
}

TEST(ModelEncoding, OptionalFieldsLeftOutOnlyWhenEmpty) {
  ToolCall c;
  c.name = "Bash";
  c.source = "s:1";
  EXPECT_EQ(detail::record_json(c), "{\"position\":0,\"name\":\"Bash\",\"isError\":false,\"source\":\"s:1\"}");
  c.input = json::encode(json::Value(nullptr));
  c.result_text = "";
  c.tool_use_id = "t1";
  c.position = 3;
  EXPECT_EQ(detail::record_json(c),
            "{\"position\":3,\"toolUseId\":\"t1\",\"name\":\"Bash\",\"input\":null,\"resultText\":\"\","
            "\"isError\":false,\"source\":\"s:1\"}");
  ContextArtifact a{"AGENTS.md", "project_rule", "run", std::string(""), 12};
  EXPECT_EQ(detail::record_json(a),
            "{\"path\":\"AGENTS.md\",\"kind\":\"project_rule\",\"source\":\"run\",\"title\":\"\",\"sizeBytes\":12}");
}

TEST(ModelEncoding, RecordsInDeclaredOrder) {
  UserTurn t;
  t.position = 1;
  t.start_message_position = 4;
  t.prompt = "go";
  t.state = ActivityState::NeedsApproval;
  t.message_positions = {4, 5};
  t.tool_call_positions = {0};
  EXPECT_EQ(detail::record_json(t),
            "{\"position\":1,\"startMessagePosition\":4,\"prompt\":\"go\",\"state\":\"needs-approval\","
            "\"messagePositions\":[4,5],\"toolCallPositions\":[0],\"todoPositions\":[]}");
  Message m;
  m.role = "user";
  m.text = "tab\there\x01";
  m.source = "terminal.log:1";
  m.timestamp = std::string("T");  // assigning the literal trips a false -Wrestrict in g++ 12
  EXPECT_EQ(detail::record_json(m),
            "{\"position\":0,\"role\":\"user\",\"text\":\"tab\\there\\u0001\",\"timestamp\":\"T\","
            "\"source\":\"terminal.log:1\"}");
  SubAgent s{"a1", "title", "", ActivityState::Cancelled, "x:2"};
  EXPECT_EQ(detail::record_json(s),
            "{\"id\":\"a1\",\"title\":\"title\",\"prompt\":\"\",\"state\":\"cancelled\",\"source\":\"x:2\"}");
  EXPECT_EQ(detail::record_json(Approval{2, "Allow?", "waiting_or_recent", "terminal.log:3"}),
            "{\"position\":2,\"text\":\"Allow?\",\"state\":\"waiting_or_recent\",\"source\":\"terminal.log:3\"}");
  EXPECT_EQ(detail::record_json(TodoItem{1, std::string("t7"), "Ship", "done", "f:4"}),
            "{\"position\":1,\"id\":\"t7\",\"content\":\"Ship\",\"state\":\"done\",\"source\":\"f:4\"}");
  EXPECT_EQ(detail::record_json(ToolError{0, "error: x", "f:9"}),
            "{\"position\":0,\"text\":\"error: x\",\"source\":\"f:9\"}");
  EXPECT_EQ(detail::record_json(Provenance{"state.activity", "metadata.json"}),
            "{\"field\":\"state.activity\",\"path\":\"metadata.json\"}");
}

TEST(ModelEncoding, CopiedValuesKeepByteOrderedKeys) {
  ParserOutput doc;
  doc.state.snapshots = json::Value::parse(R"({"b":1,"a":[{"y":1,"x":2}]})");
  EXPECT_NE(to_json(doc).find("\"snapshots\":{\"a\":[{\"x\":2,\"y\":1}],\"b\":1}}"), std::string::npos);
}

TEST(ModelEncoding, StreamedDocumentEqualsTheInMemoryOne) {
  ParserOutput out;
  for (int i = 0; i < 5000; ++i) {
    Message m;
    m.position = static_cast<std::uint64_t>(i);
    m.role = "assistant";
    m.text = std::string(40, 'x');
    m.source = "f:" + std::to_string(i);
    out.state.messages.push_back(m);
  }
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  write_json(f, out);
  std::rewind(f);
  std::string streamed;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) streamed.append(buf, n);
  std::fclose(f);
  EXPECT_EQ(streamed, to_json(out) + "\n");
}

}  // namespace
}  // namespace tl
