#include "cli.hpp"

#include <cstdio>
#include <optional>

#include "model.hpp"
#include "registry.hpp"
#include "text.hpp"
#include "usage.hpp"

namespace tl {

std::variant<Args, CliError> parse_args_from(const std::vector<std::string>& args) {
  if (args.empty()) return CliError{"missing command"};
  if (args[0] != "parse-run") return CliError{"unknown command: " + args[0]};
  std::optional<std::string> input, harness, version, prices;
  bool usage = false;
  std::size_t i = 1;
  while (i < args.size()) {
    const std::string& flag = args[i++];
    // The one flag without a value.
    if (flag == "--usage") {
      usage = true;
      continue;
    }
    // The value is taken before the flag is looked at, so an unknown flag in
    // last position reports its missing value.
    if (i >= args.size()) return CliError{"missing value for " + flag};
    const std::string& value = args[i++];
    if (flag == "--input") {
      input = value;
    } else if (flag == "--harness") {
      harness = value;
    } else if (flag == "--version") {
      version = value;
    } else if (flag == "--prices") {
      prices = value;
    } else {
      return CliError{"unknown flag: " + flag};
    }
  }
  if (!input) return CliError{"missing --input"};
  if (!harness) return CliError{"missing --harness"};
  if (!version) return CliError{"missing --version"};
  Args out{*input, *harness, *version, std::nullopt};
  // A price file is checked whether or not usage is asked for.
  std::optional<PriceTable> table;
  if (prices) {
    std::string error;
    table = load_price_file(*prices, error);
    if (!table) {
      // One line whatever the path holds.
      std::string shown = *prices;
      for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
      }
      return CliError{"bad price file " + shown + ": " + error};
    }
  }
  if (usage) out.usage = table ? std::move(*table) : bundled_price_table();
  return out;
}

std::variant<std::monostate, CliError> run_cli(const std::vector<std::string>& args) {
  auto parsed = parse_args_from(args);
  if (auto* err = std::get_if<CliError>(&parsed)) return *err;
  // The input stays a path of raw bytes; harness and version are written
  // into the document, so bytes that are not UTF-8 are replaced there.
  Args a = std::get<Args>(std::move(parsed));
  a.harness = text::repair_utf8(a.harness);
  a.version = text::repair_utf8(a.version);
  // The document is encoded straight to standard output; encoding cannot
  // fail, and the run directory has been read in full before the first byte.
  ParserOutput doc = parse_with_registry(a);
  write_json(stdout, doc);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return CliError{"cannot write the document", 1};
  return std::monostate{};
}

std::string terminal_safe(std::string_view message) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string text = text::repair_utf8(message);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080 to U+009F: the C1 controls, which terminals act on too.
      const auto low = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out.push_back(kHex[low >> 4]);
      out.push_back(kHex[low & 15]);
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace tl
