// Builders of small runs for the parsers' unit tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "../artifacts.hpp"
#include "../json.hpp"

namespace tl::testing {

// The lines, each ended by a line feed.
inline std::string lines_of(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (auto l : lines) {
    out.append(l);
    out.push_back('\n');
  }
  return out;
}

// A run holding just these texts (path, contents), padded as loading pads them.
inline RunArtifacts run_with(std::initializer_list<std::pair<std::string, std::string>> files) {
  RunArtifacts run;
  for (const auto& [path, text] : files) {
    TextArtifact t{path, text};
    json::pad(t.text);
    run.texts.push_back(std::move(t));
  }
  return run;
}

}  // namespace tl::testing
