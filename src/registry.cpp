#include "registry.hpp"

#include "harness.hpp"
#include "providers/parser.hpp"

namespace tl {

namespace {

bool parse_number(std::string_view s, std::uint64_t& out) {
  if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (out > (UINT64_MAX - d) / 10) return false;
    out = out * 10 + d;
  }
  return true;
}

bool valid_identifier_chars(std::string_view id) {
  if (id.empty()) return false;
  for (char c : id) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool all_digits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::vector<std::string> split_dots(std::string_view s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = s.find('.', start);
    out.emplace_back(s.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return out;
}

std::string label_number(std::uint64_t n) { return std::to_string(n); }

}  // namespace

std::optional<SemVer> parse_semver(std::string_view text) {
  SemVer v;
  std::string_view core = text;
  std::string_view build, pre;
  if (auto plus = core.find('+'); plus != std::string_view::npos) {
    build = core.substr(plus + 1);
    core = core.substr(0, plus);
    if (build.empty()) return std::nullopt;
  }
  if (auto dash = core.find('-'); dash != std::string_view::npos) {
    pre = core.substr(dash + 1);
    core = core.substr(0, dash);
    if (pre.empty()) return std::nullopt;
  }
  auto parts = split_dots(core);
  if (parts.size() != 3) return std::nullopt;
  if (!parse_number(parts[0], v.major) || !parse_number(parts[1], v.minor) || !parse_number(parts[2], v.patch)) {
    return std::nullopt;
  }
  if (!pre.empty()) {
    for (auto& id : split_dots(pre)) {
      if (!valid_identifier_chars(id)) return std::nullopt;
      if (all_digits(id) && id.size() > 1 && id[0] == '0') return std::nullopt;
      v.pre.push_back(id);
    }
  }
  if (!build.empty()) {
    for (auto& id : split_dots(build)) {
      if (!valid_identifier_chars(id)) return std::nullopt;
      v.build.push_back(id);
    }
  }
  return v;
}

std::string normalize_version(std::string_view version) {
  while (!version.empty() && version[0] == 'v') version.remove_prefix(1);
  std::size_t n = 0;
  while (n < version.size()) {
    char c = version[n];
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
    if (!ok) break;
    ++n;
  }
  return std::string(version.substr(0, n));
}

std::vector<SemVer> known_versions(std::string_view family) {
  std::vector<SemVer> out;
  const HarnessDefinition* harness = find_harness(family);
  if (harness == nullptr) return out;
  for (std::string_view t : harness->known_versions) {
    if (auto v = parse_semver(t)) out.push_back(*v);
  }
  return out;
}

bool is_registered(std::string_view harness) { return find_harness(harness) != nullptr; }

std::optional<Resolved> resolve_version(std::string_view harness, std::string_view version) {
  const HarnessDefinition* definition = find_harness(harness);
  if (definition == nullptr) return std::nullopt;
  auto requested = parse_semver(normalize_version(version));
  if (!requested) return Resolved{"family", ParserResolution::FamilyFallback};
  auto known = known_versions(harness);
  for (const auto& k : known) {
    if (k == *requested) {
      return Resolved{label_number(k.major) + "::" + label_number(k.minor) + "::" + label_number(k.patch),
                      ParserResolution::Exact};
    }
  }
  for (const auto& k : known) {
    if (k.major == requested->major && k.minor == requested->minor) {
      return Resolved{label_number(k.major) + "::" + label_number(k.minor) + "::x", ParserResolution::PatchCompatible};
    }
  }
  for (const auto& k : known) {
    if (k.major == requested->major) {
      return Resolved{label_number(k.major) + "::x::x", ParserResolution::MinorCompatible};
    }
  }
  if (definition->any_version_falls_back) return Resolved{"family", ParserResolution::FamilyFallback};
  return std::nullopt;
}

namespace {

ParserOutput missing_document(const Args& args) {
  std::string message = "no parser family registered for harness '" + args.harness + "' version '" + args.version + "'";
  ParserOutput out;
  out.parser.name = args.harness + "Parser::missing";
  out.parser.family = args.harness;
  out.parser.version = std::string(kParserVersion);
  out.parser.status = ParserStatus::Missing;
  out.parser.lineage = parser_lineage(args.harness, "family");
  out.parser.resolution = std::nullopt;
  out.parser.requested_version = args.version;
  out.parser.matched_version = std::nullopt;
  out.run_id = nullptr;
  out.harness = args.harness;
  out.harness_version = args.version;
  out.scenario = nullptr;
  out.parsed_at = now_millis();
  out.state = empty_state();
  out.state.activity.reason = message;
  out.state.snapshots = json::Value::array();
  out.error = message;
  return out;
}

}  // namespace

ParserOutput parse_with_registry(const Args& args) {
  auto resolved = resolve_version(args.harness, args.version);
  if (!resolved) return missing_document(args);
  const HarnessDefinition& harness = *find_harness(args.harness);
  auto parser = harness.make_parser(harness, std::move(resolved->label), resolved->resolution);
  return parser->parse(args);
}

}  // namespace tl
