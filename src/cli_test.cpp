#include "cli.hpp"

#include <gtest/gtest.h>

namespace tl {
namespace {

std::string error_of(std::vector<std::string> args) {
  auto r = parse_args_from(args);
  if (auto* e = std::get_if<CliError>(&r)) {
    EXPECT_EQ(e->code, 2);
    return e->message;
  }
  return "<ok>";
}

TEST(Cli, MessagesAreMadeSafeForTheTerminal) {
  EXPECT_EQ(terminal_safe("unknown flag: --\x1b[2J\x07"), "unknown flag: --\\x1B[2J\\x07");
  EXPECT_EQ(terminal_safe("tab\tdel\x7f"), "tab\\x09del\\x7F");
  EXPECT_EQ(terminal_safe("csi \xC2\x9B nbsp \xC2\xA0 caf\xC3\xA9"), "csi \\u009B nbsp \xC2\xA0 caf\xC3\xA9");
  EXPECT_EQ(terminal_safe("bad \xFF"), "bad \xEF\xBF\xBD");
}

TEST(Cli, ErrorTableInOrderOfDetection) {
  EXPECT_EQ(error_of({}), "missing command");
  EXPECT_EQ(error_of({"PARSE-RUN"}), "unknown command: PARSE-RUN");
  EXPECT_EQ(error_of({"parse-run", "--input"}), "missing value for --input");
  EXPECT_EQ(error_of({"parse-run", "--nope"}), "missing value for --nope");
  EXPECT_EQ(error_of({"parse-run", "--nope", "v"}), "unknown flag: --nope");
  EXPECT_EQ(error_of({"parse-run", "--input=dir"}), "missing value for --input=dir");
  EXPECT_EQ(error_of({"parse-run", "--input=dir", "x"}), "unknown flag: --input=dir");
  EXPECT_EQ(error_of({"parse-run"}), "missing --input");
  EXPECT_EQ(error_of({"parse-run", "--harness", "pi", "--version", "1"}), "missing --input");
  EXPECT_EQ(error_of({"parse-run", "--input", "d", "--version", "1"}), "missing --harness");
  EXPECT_EQ(error_of({"parse-run", "--input", "d", "--harness", "pi"}), "missing --version");
}

TEST(Cli, ValuesAreVerbatimAndTheLastFlagWins) {
  auto r = parse_args_from({"parse-run", "--input", "a", "--input", "b", "--harness", "--version", "--version", ""});
  // "--harness" takes "--version" as its value; then "--version" takes "".
  ASSERT_TRUE(std::holds_alternative<Args>(r));
  const Args& a = std::get<Args>(r);
  EXPECT_EQ(a.input, "b");
  EXPECT_EQ(a.harness, "--version");
  EXPECT_EQ(a.version, "");
}

}  // namespace
}  // namespace tl
