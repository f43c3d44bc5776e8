#include "registry.hpp"

#include <gtest/gtest.h>

#include "providers/parser.hpp"

namespace tl {
namespace {

TEST(SemVer, StrictParsing) {
  auto v = parse_semver("2.1.217-beta.1+build.5");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->major, 2u);
  EXPECT_EQ(v->patch, 217u);
  EXPECT_EQ(v->pre, (std::vector<std::string>{"beta", "1"}));
  EXPECT_EQ(v->build, (std::vector<std::string>{"build", "5"}));
  EXPECT_TRUE(parse_semver("18446744073709551615.0.0"));
  EXPECT_FALSE(parse_semver("18446744073709551616.0.0"));
  EXPECT_FALSE(parse_semver("01.2.3"));
  EXPECT_FALSE(parse_semver("1.2"));
  EXPECT_FALSE(parse_semver("1.2.3.4"));
  EXPECT_FALSE(parse_semver("1.2.3-"));
  EXPECT_FALSE(parse_semver("1.2.3-01"));
  EXPECT_TRUE(parse_semver("1.2.3-0a"));
  EXPECT_FALSE(parse_semver("1.2.3-a..b"));
  EXPECT_FALSE(parse_semver(""));
  EXPECT_FALSE(parse_semver("word"));
}

TEST(SemVer, Normalisation) {
  EXPECT_EQ(normalize_version("vv2.1.217"), "2.1.217");
  EXPECT_EQ(normalize_version("V2.1.217"), "V2.1.217");
  EXPECT_EQ(normalize_version("2.1.217+build"), "2.1.217");
  EXPECT_EQ(normalize_version("2.1.217 (Claude Code)"), "2.1.217");
  EXPECT_EQ(normalize_version("2.1.217-beta\xC3\xA9"), "2.1.217-beta");
}

struct ResolveCase {
  const char* harness;
  const char* version;
  const char* label;  // nullptr: no parser
  ParserResolution resolution;
};

TEST(Registry, ResolutionTable) {
  const ResolveCase cases[] = {
      {"claude", "2.1.217", "2::1::217", ParserResolution::Exact},
      {"claude", "v2.1.217", "2::1::217", ParserResolution::Exact},
      {"claude", "2.1.217+local", "2::1::217", ParserResolution::Exact},
      {"claude", "2.1.217-beta", "2::1::x", ParserResolution::PatchCompatible},
      {"claude", "2.1.200", "2::1::x", ParserResolution::PatchCompatible},
      {"claude", "2.1.999", "2::1::x", ParserResolution::PatchCompatible},
      {"claude", "2.7.0", "2::x::x", ParserResolution::MinorCompatible},
      {"claude", "3.0.0", nullptr, ParserResolution::FamilyFallback},
      {"claude", "1.0.128", "1::0::128", ParserResolution::Exact},
      {"claude", "1.0.51", "1::0::x", ParserResolution::PatchCompatible},
      {"claude", "1.2.0", "1::x::x", ParserResolution::MinorCompatible},
      {"claude", "latest", "family", ParserResolution::FamilyFallback},
      {"claude", "2.1", "family", ParserResolution::FamilyFallback},
      {"claude", "", "family", ParserResolution::FamilyFallback},
      {"claude", "99999999999999999999.0.0", "family", ParserResolution::FamilyFallback},
      {"codex", "0.140.0", "0::x::x", ParserResolution::MinorCompatible},
      {"codex", "0.155.0", "0::155::0", ParserResolution::Exact},
      {"codex", "1.0.0", nullptr, ParserResolution::FamilyFallback},
      {"omp", "15.10.12", "15::10::12", ParserResolution::Exact},
      {"omp", "15.11.4", "15::11::x", ParserResolution::PatchCompatible},
      {"omp", "18.2.3", "18::2::3", ParserResolution::Exact},
      {"omp", "18.4.0", "18::x::x", ParserResolution::MinorCompatible},
      {"omp", "17.0.0", nullptr, ParserResolution::FamilyFallback},
      {"pi", "0.73.9", "0::73::x", ParserResolution::PatchCompatible},
      {"opencode", "1.17.2", "1::17::x", ParserResolution::PatchCompatible},
      {"opencode", "1.2.0", "1::x::x", ParserResolution::MinorCompatible},
      {"cursor", "1.7.0", "family", ParserResolution::FamilyFallback},
      {"gemini", "0.40.0", "family", ParserResolution::FamilyFallback},
      {"gemini", "nightly", "family", ParserResolution::FamilyFallback},
      {"Claude", "2.1.217", nullptr, ParserResolution::FamilyFallback},
      {"unknown", "1.0.0", nullptr, ParserResolution::FamilyFallback},
  };
  for (const auto& c : cases) {
    auto r = resolve_version(c.harness, c.version);
    if (c.label == nullptr) {
      EXPECT_FALSE(r) << c.harness << " " << c.version;
      continue;
    }
    ASSERT_TRUE(r) << c.harness << " " << c.version;
    EXPECT_EQ(r->label, c.label) << c.harness << " " << c.version;
    EXPECT_EQ(r->resolution, c.resolution) << c.harness << " " << c.version;
  }
}

TEST(Registry, Lineage) {
  EXPECT_EQ(parser_lineage("claude", "2::1::217"),
            (std::vector<std::string>{"Parser", "ClaudeParser", "ClaudeParser2", "ClaudeParser2::1",
                                      "ClaudeParser2::1::217"}));
  EXPECT_EQ(parser_lineage("codex", "0::x::x"), (std::vector<std::string>{"Parser", "CodexParser", "CodexParser0"}));
  EXPECT_EQ(parser_lineage("claude", "2::1::x"),
            (std::vector<std::string>{"Parser", "ClaudeParser", "ClaudeParser2", "ClaudeParser2::1"}));
  EXPECT_EQ(parser_lineage("gemini", "family"), (std::vector<std::string>{"Parser", "GeminiParser"}));
  EXPECT_EQ(parser_lineage("pi", "0::73::1").at(1), "PiParser");
  EXPECT_EQ(parser_lineage("omp", "family"), (std::vector<std::string>{"Parser", "OMPParser"}));
  EXPECT_EQ(parser_lineage("opencode", "1::x::x"),
            (std::vector<std::string>{"Parser", "OpenCodeParser", "OpenCodeParser1"}));
  EXPECT_EQ(parser_lineage("", "family"), (std::vector<std::string>{"Parser", "FamilyParser"}));
  EXPECT_EQ(parser_lineage("unknown-x", "family"), (std::vector<std::string>{"Parser", "Unknown-xParser"}));
  EXPECT_EQ(parser_lineage("\xC3\x9F"
                           "x",
                           "family"),
            (std::vector<std::string>{"Parser", "SSxParser"}));
  // An empty label is one empty part: it is not "family".
  EXPECT_EQ(parser_lineage("claude", ""), (std::vector<std::string>{"Parser", "ClaudeParser", "ClaudeParser"}));
  // The third part counts even when the second is "x".
  EXPECT_EQ(parser_lineage("claude", "2::x::5"),
            (std::vector<std::string>{"Parser", "ClaudeParser", "ClaudeParser2", "ClaudeParser2::x::5"}));
}

TEST(Registry, FailurePathDocument) {
  Args args{"/nonexistent", "Claude", "2.1.217"};
  ParserOutput out = parse_with_registry(args);
  const std::string message = "no parser family registered for harness 'Claude' version '2.1.217'";
  EXPECT_EQ(out.parser.name, "ClaudeParser::missing");
  EXPECT_EQ(out.parser.family, "Claude");
  EXPECT_EQ(out.parser.status, ParserStatus::Missing);
  EXPECT_EQ(out.parser.lineage, (std::vector<std::string>{"Parser", "ClaudeParser"}));
  EXPECT_FALSE(out.parser.resolution);
  EXPECT_FALSE(out.parser.matched_version);
  EXPECT_EQ(out.error, message);
  EXPECT_EQ(out.state.activity.reason, message);
  EXPECT_FALSE(out.state.activity.source);
  EXPECT_EQ(out.state.snapshots, json::Value::array());
  EXPECT_TRUE(out.run_id.is_null());
  EXPECT_GT(out.parsed_at, 0u);
  ParserOutput codex = parse_with_registry(Args{"/nonexistent", "codex", "v9.0.0 beta"});
  EXPECT_EQ(codex.error, "no parser family registered for harness 'codex' version 'v9.0.0 beta'");
}

}  // namespace
}  // namespace tl
