#include "cli.hpp"

#include <gtest/gtest.h>

#include <cstdio>

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

TEST(Cli, UsageIsASwitchAndPricesAFile) {
  auto plain = parse_args_from({"parse-run", "--input", "d", "--harness", "pi", "--version", "1"});
  ASSERT_TRUE(std::holds_alternative<Args>(plain));
  EXPECT_FALSE(std::get<Args>(plain).usage);
  for (auto args :
       {std::vector<std::string>{"parse-run", "--usage", "--input", "d", "--harness", "pi", "--version", "1"},
        std::vector<std::string>{"parse-run", "--input", "d", "--harness", "pi", "--version", "1", "--usage"}}) {
    auto r = parse_args_from(args);
    ASSERT_TRUE(std::holds_alternative<Args>(r));
    ASSERT_TRUE(std::get<Args>(r).usage);
    EXPECT_EQ(std::get<Args>(r).usage->info.name, "genai-prices");
  }
  const std::string file = ::testing::TempDir() + "cli_test_prices.json";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(R"({"name": "mine", "date": "2026-02-03", "source": "me", "models": []})", f);
  std::fclose(f);
  auto own =
      parse_args_from({"parse-run", "--input", "d", "--harness", "pi", "--version", "1", "--prices", file, "--usage"});
  ASSERT_TRUE(std::holds_alternative<Args>(own));
  EXPECT_EQ(std::get<Args>(own).usage->info.name, "mine");
  // A bad file fails whether or not usage is asked for, in one line.
  auto bad = parse_args_from(
      {"parse-run", "--input", "d", "--harness", "pi", "--version", "1", "--prices", "/nonexistent/a\nb.json"});
  ASSERT_TRUE(std::holds_alternative<CliError>(bad));
  EXPECT_EQ(std::get<CliError>(bad).message, "bad price file /nonexistent/a?b.json: cannot be read");
  EXPECT_EQ(std::get<CliError>(bad).code, 2);
}

}  // namespace
}  // namespace tl
