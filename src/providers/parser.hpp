// The parser interface, the generic parse every parser shares, and the
// family parsers built by the registry.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../artifacts.hpp"
#include "../cli.hpp"
#include "../model.hpp"

namespace tl {

// One parser per run. The operations are listed in the order of the
// interface's dispatch table; every one has a default that a family parser
// may replace.
class Parser {
 public:
  Parser(std::string family, std::string label, ParserResolution resolution)
      : family_(std::move(family)), label_(std::move(label)), resolution_(resolution) {}
  virtual ~Parser() = default;

  virtual std::string_view family() const { return family_; }
  virtual std::string label() const { return label_; }
  virtual ParserResolution resolution() const { return resolution_; }
  // The generic parse; no parser replaces it.
  ParserOutput parse(const Args& args) const;
  virtual RunArtifacts prepare_artifacts(RunArtifacts run) const { return run; }
  virtual Activity classify_activity(const RunArtifacts& run, const std::vector<Message>& messages,
                                     const std::vector<Approval>& approvals, const std::vector<ToolError>& tool_errors,
                                     const std::vector<ToolCall>& tool_calls) const;
  virtual void enrich(const RunArtifacts& run, std::vector<Message>& messages, std::vector<ToolCall>& tool_calls,
                      std::vector<TodoItem>& todos) const;
  virtual std::vector<SubAgent> sub_agents(const RunArtifacts& run) const;
  virtual std::optional<std::string> title(const RunArtifacts& run) const;
  virtual std::vector<Provenance> provenance() const;
  virtual json::Value snapshots(const RunArtifacts& run) const;
  virtual std::string parser_name() const;
  virtual std::vector<std::string> lineage() const;

 protected:
  std::string family_;
  std::string label_;
  ParserResolution resolution_;
};

// Used for gemini: every operation is the default.
class FamilyParser : public Parser {
 public:
  using Parser::Parser;
};

// Identifies the run a hook was given: a parser object serves one parse, so
// what one hook read from the run can be kept for a later hook, as long as
// that hook is given the same run (same object, same list of texts).
struct RunIdentity {
  const RunArtifacts* run = nullptr;
  const TextArtifact* texts = nullptr;
  std::size_t text_count = 0;
  friend bool operator==(const RunIdentity&, const RunIdentity&) = default;
};

inline RunIdentity identity_of(const RunArtifacts& run) { return {&run, run.texts.data(), run.texts.size()}; }

// Builds the parser of a registered harness.
std::unique_ptr<Parser> make_parser(std::string_view harness, const std::string& label, ParserResolution resolution);

std::vector<std::string> parser_lineage(std::string_view family, std::string_view label);

// Defaults, callable by parsers that extend them.
std::vector<SubAgent> default_sub_agents(std::string_view family, const RunArtifacts& run);
json::Value default_snapshots(const RunArtifacts& run);
std::vector<Provenance> default_provenance();

}  // namespace tl
