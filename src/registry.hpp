// Choice of the parser by harness name and version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "args.hpp"
#include "model.hpp"

namespace tl {

// A semantic version (major.minor.patch with optional pre-release and build).
struct SemVer {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t patch = 0;
  std::vector<std::string> pre;
  std::vector<std::string> build;
  friend bool operator==(const SemVer&, const SemVer&) = default;
};

// Strict Semantic Versioning 2.0.0; leading zeros and components beyond 64
// bits are errors.
std::optional<SemVer> parse_semver(std::string_view text);

// Leading lowercase "v"s removed, then the longest prefix of ASCII letters,
// digits, "." and "-".
std::string normalize_version(std::string_view version);

std::vector<SemVer> known_versions(std::string_view family);

struct Resolved {
  std::string label;
  ParserResolution resolution;
};

// The label and resolution for a registered harness, or nothing when no
// parser serves the version.
std::optional<Resolved> resolve_version(std::string_view harness, std::string_view version);

bool is_registered(std::string_view harness);

ParserOutput parse_with_registry(const Args& args);

}  // namespace tl
