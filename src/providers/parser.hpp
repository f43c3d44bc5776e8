// The parser interface, the generic parse every parser shares, and the
// family parsers built by the registry.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../args.hpp"
#include "../artifacts.hpp"
#include "../model.hpp"
#include "../usage.hpp"

namespace tl {

// What one parse carries from hook to hook: `enrich` reads the harness's own
// logs once and keeps here what the later hooks (`classify_activity`,
// `sub_agents`, `title`, `snapshots`) need, so that no hook reads the logs
// again. The generic parse makes one context per parse with the parser's
// `new_context` and hands it to every hook; a parser that keeps nothing uses
// this empty base.
struct ParseContext {
  virtual ~ParseContext() = default;
  // True when the document reports token usage: a parser whose `enrich`
  // collects what the usage needs as it reads its logs does so only then.
  bool usage = false;
};

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
  virtual Activity classify_activity(const RunArtifacts& run, const ParseContext& context,
                                     const std::vector<Message>& messages, const std::vector<Approval>& approvals,
                                     const std::vector<ToolError>& tool_errors,
                                     const std::vector<ToolCall>& tool_calls) const;
  virtual void enrich(const RunArtifacts& run, ParseContext& context, LogReader& logs, std::vector<Message>& messages,
                      std::vector<ToolCall>& tool_calls, std::vector<TodoItem>& todos) const;
  virtual std::vector<SubAgent> sub_agents(const RunArtifacts& run, const ParseContext& context) const;
  // The run's token usage for --usage. By default the harness's usage reader
  // reads the logs for it; a parser whose `enrich` collected it on its one
  // pass hands that over.
  virtual UsageReading usage(const RunArtifacts& run, ParseContext& context, const std::vector<Message>& messages,
                             const std::vector<SubAgent>& sub_agents) const;
  virtual std::optional<std::string> title(const RunArtifacts& run, const ParseContext& context) const;
  virtual std::vector<Provenance> provenance() const;
  virtual json::Value snapshots(const RunArtifacts& run, const ParseContext& context) const;
  virtual std::string parser_name() const;
  virtual std::vector<std::string> lineage() const;

  // The context of one parse, handed to the hooks above.
  virtual std::unique_ptr<ParseContext> new_context() const { return std::make_unique<ParseContext>(); }

 protected:
  std::string family_;
  std::string label_;
  ParserResolution resolution_;
};

// Base of a parser whose hooks share a context of type `Context`: the
// generic parse hands each parser the context that parser made, so its hooks
// may take it as their own type.
template <typename Context>
class ParserWithContext : public Parser {
 public:
  using Parser::Parser;
  std::unique_ptr<ParseContext> new_context() const final { return std::make_unique<Context>(); }

 protected:
  static Context& own(ParseContext& context) { return static_cast<Context&>(context); }
  static const Context& own(const ParseContext& context) { return static_cast<const Context&>(context); }
};

// A family without a parser of its own: every operation is the default.
class FamilyParser : public Parser {
 public:
  using Parser::Parser;
};

std::vector<std::string> parser_lineage(std::string_view family, std::string_view label);

// Defaults, callable by parsers that extend them.
std::vector<SubAgent> default_sub_agents(std::string_view family, const RunArtifacts& run);
// Whether the list holds a sub-agent with this id already.
bool lists_sub_agent(const std::vector<SubAgent>& agents, std::string_view id);
json::Value default_snapshots(const RunArtifacts& run);
// The snapshots with a harness's own list added under `key`: into them when
// they are an object, else beside them, which move under "manifest". An empty
// list adds nothing.
json::Value merge_snapshots(json::Value snapshots, std::string_view key, json::Value list);
std::vector<Provenance> default_provenance();

}  // namespace tl
