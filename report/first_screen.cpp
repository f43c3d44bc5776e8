#include "first_screen.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "html.hpp"

namespace report {

namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

constexpr std::size_t kHeadingChars = 300;
constexpr std::size_t kReplyChars = 4000;
constexpr std::size_t kQuestionChars = 1200;
constexpr std::size_t kMinIdForFileMatch = 6;  // shorter ids would match unrelated file names

std::string esc(std::string_view text) { return html::escape_text(text); }

std::string_view text_at(element e, std::string_view key) {
  std::string_view out;
  if (e.is_object() && e[key].get_string().get(out) == simdjson::SUCCESS) return out;
  return {};
}

bool has_member(element e, std::string_view key) {
  element v;
  return e.is_object() && e[key].get(v) == simdjson::SUCCESS;
}

// The objects of a list member; nothing when it is not a list.
std::vector<element> objects_at(element owner, std::string_view key) {
  std::vector<element> out;
  array list;
  if (!owner.is_object() || owner[key].get_array().get(list) != simdjson::SUCCESS) return out;
  for (element item : list) {
    if (item.is_object()) out.push_back(item);
  }
  return out;
}

std::optional<std::int64_t> number_at(element e, std::string_view key) {
  element v;
  if (!e.is_object() || e[key].get(v) != simdjson::SUCCESS) return std::nullopt;
  std::int64_t i;
  if (v.get_int64().get(i) == simdjson::SUCCESS) return i;
  double d;
  if (v.get_double().get(d) == simdjson::SUCCESS && d >= -9.0e15 && d <= 9.0e15) return static_cast<std::int64_t>(d);
  return std::nullopt;
}

std::string thousands(std::int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return n < 0 ? "-" + out : out;
}

std::string plural(std::int64_t n, std::string_view one, std::string_view many) {
  return thousands(n) + " " + std::string(n == 1 ? one : many);
}

bool digits_at(std::string_view s, std::size_t at, std::size_t n, int& out) {
  if (at + n > s.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

// Which sub-agent's own log a record's source lies in: its file is the
// sub-agent's source file (when that is not a file of the main
// conversation) or its file name holds the sub-agent's id.
struct Ownership {
  std::vector<std::string_view> main_files;
  std::vector<std::pair<std::string_view, std::string_view>> agents;  // id, source file
};

bool names_sub_agent(const Ownership& own, std::string_view file) {
  std::string_view name = file.substr(file.rfind('/') + 1);
  for (const auto& agent : own.agents) {
    if (agent.first.size() >= kMinIdForFileMatch && name.find(agent.first) != std::string_view::npos) return true;
  }
  return false;
}

// The files of the main conversation: where its turns start, unless a
// sub-agent's id names the file.
std::vector<std::string_view> main_files(const std::vector<element>& turns, const std::vector<element>& messages,
                                         const Ownership& own) {
  std::vector<std::int64_t> starts;
  for (element t : turns) {
    if (auto p = number_at(t, "startMessagePosition")) starts.push_back(*p);
  }
  std::sort(starts.begin(), starts.end());
  std::vector<std::string_view> files;
  for (element m : messages) {
    auto p = number_at(m, "position");
    if (!p || !std::binary_search(starts.begin(), starts.end(), *p)) continue;
    std::string_view file = source_file(text_at(m, "source"));
    if (file.empty() || names_sub_agent(own, file) || std::find(files.begin(), files.end(), file) != files.end())
      continue;
    files.push_back(file);
  }
  return files;
}

bool owned_by_sub_agent(const Ownership& own, std::string_view source) {
  std::string_view file = source_file(source);
  if (file.empty()) return false;
  std::string_view name = file.substr(file.rfind('/') + 1);
  for (const auto& [id, agent_file] : own.agents) {
    if (id.size() >= kMinIdForFileMatch && name.find(id) != std::string_view::npos) return true;
    if (file == agent_file) {
      bool main = false;
      for (std::string_view m : own.main_files) main = main || m == file;
      if (!main) return true;
    }
  }
  return false;
}

std::string fact(std::string_view label, std::string_view value_html) {
  return "<div class=\"fact\"><dt>" + std::string(label) + "</dt><dd>" + std::string(value_html) + "</dd></div>";
}

std::string json_text(element v) {
  std::string_view s;
  if (v.get_string().get(s) == simdjson::SUCCESS) return std::string(s);
  return simdjson::to_string(v);
}

std::string token_figures(element figures) {
  static constexpr std::pair<std::string_view, std::string_view> kTokens[] = {
      {"inputTokens", "input"},          {"outputTokens", "output"},
      {"cacheReadTokens", "cache read"}, {"cacheWriteTokens", "cache write"},
      {"reasoningTokens", "reasoning"},
  };
  std::string out;
  for (const auto& [key, label] : kTokens) {
    if (auto n = number_at(figures, key)) {
      out += "<span class=\"usage-figure\" data-usage=\"" + std::string(key) + "\"><b>" + thousands(*n) + "</b> " +
             std::string(label) + "</span>";
    }
  }
  return out;
}

std::string cost_text(element figures) {
  element v;
  double cost;
  if (!figures.is_object() || figures["costUsd"].get(v) != simdjson::SUCCESS ||
      v.get_double().get(cost) != simdjson::SUCCESS) {
    std::int64_t i;
    if (v.get_int64().get(i) != simdjson::SUCCESS) return {};
    cost = static_cast<double>(i);
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, cost < 1.0 ? "$%.4f" : "$%.2f", cost);
  return buffer;
}

std::string usage_html(element usage) {
  element total;
  if (!usage.is_object() || usage["total"].get(total) != simdjson::SUCCESS || !total.is_object()) return {};
  std::string out = "<div class=\"usage\" id=\"usage\"><span class=\"usage-label\">Tokens</span>";
  std::string figures = token_figures(total);
  out += figures.empty() ? "<span class=\"usage-figure\">not reported</span>" : figures;
  if (auto responses = number_at(total, "responses")) {
    out += "<span class=\"usage-figure\">" + plural(*responses, "response", "responses") + "</span>";
  }
  std::string cost = cost_text(total);
  std::size_t unpriced_count = 0;
  array names;
  if (usage["unpricedModels"].get_array().get(names) == simdjson::SUCCESS) unpriced_count = names.size();
  if (!cost.empty()) {
    out += "<span class=\"usage-figure usage-cost\" data-usage=\"costUsd\"><b>" + cost + "</b>" +
           (unpriced_count ? " at least" : "") + "</span>";
  }
  out += "</div>";
  return out;
}

// The details of the usage: per model, prices, unpriced models and notes.
std::string usage_details(element usage) {
  element total;
  if (!usage.is_object() || usage["total"].get(total) != simdjson::SUCCESS) return {};
  std::string out;
  for (element m : objects_at(usage, "models")) {
    std::string line = "<li><span class=\"mono\">" + esc(text_at(m, "model")) + "</span>";
    if (!text_at(m, "provider").empty()) line += " (" + esc(text_at(m, "provider")) + ")";
    line += ": " + token_figures(m);
    std::string cost = cost_text(m);
    if (!cost.empty()) line += " <span class=\"usage-figure\">" + cost + "</span>";
    std::string_view source = text_at(m, "costSource");
    if (source == "harness") line += " <span class=\"muted\">cost as the harness logged it</span>";
    if (source == "table") line += " <span class=\"muted\">cost from the price table</span>";
    if (source == "none") line += " <span class=\"muted\">no price known</span>";
    out += line + "</li>";
  }
  if (!out.empty()) out = "<ul class=\"usage-models\">" + out + "</ul>";
  element prices;
  if (usage["prices"].get(prices) == simdjson::SUCCESS && prices.is_object() && !text_at(prices, "name").empty()) {
    out += "<p class=\"muted\">Prices: " + esc(text_at(prices, "name")) + ", " + esc(text_at(prices, "date")) +
           (text_at(prices, "source").empty() ? "" : " (" + esc(text_at(prices, "source")) + ")") + "</p>";
  }
  array names;
  if (usage["unpricedModels"].get_array().get(names) == simdjson::SUCCESS && names.size() > 0) {
    std::string list;
    for (element n : names) list += (list.empty() ? "" : ", ") + esc(json_text(n));
    out += "<p class=\"muted\">No price for " + list + ": the cost is a lower bound.</p>";
  }
  array notes;
  if (usage["notes"].get_array().get(notes) == simdjson::SUCCESS) {
    for (element n : notes) out += "<p class=\"muted\">" + esc(json_text(n)) + "</p>";
  }
  return out;
}

// The turns of the main conversation: a turn whose records all lie in
// sub-agents' own logs (and that lists no todo) is a sub-agent's, not one.
std::int64_t conversation_turns(const std::vector<element>& turns, const std::vector<element>& messages,
                                const std::vector<element>& calls, const Ownership& own) {
  std::unordered_map<std::int64_t, std::string_view> message_source, call_source;
  for (element m : messages) {
    if (auto p = number_at(m, "position")) message_source.emplace(*p, text_at(m, "source"));
  }
  for (element c : calls) {
    if (auto p = number_at(c, "position")) call_source.emplace(*p, text_at(c, "source"));
  }
  std::int64_t n = 0;
  for (element t : turns) {
    std::size_t records = 0, owned = 0;
    auto tally = [&](std::string_view key, const std::unordered_map<std::int64_t, std::string_view>& sources) {
      array list;
      if (t[key].get_array().get(list) != simdjson::SUCCESS) return;
      for (element p : list) {
        std::int64_t position;
        if (p.get_int64().get(position) != simdjson::SUCCESS) continue;
        auto it = sources.find(position);
        if (it == sources.end()) continue;
        ++records;
        if (owned_by_sub_agent(own, it->second)) ++owned;
      }
    };
    tally("messagePositions", message_source);
    tally("toolCallPositions", call_source);
    array todos;
    bool has_todos = t["todoPositions"].get_array().get(todos) == simdjson::SUCCESS && todos.size() > 0;
    if (records > 0 && owned == records && !has_todos) continue;
    ++n;
  }
  return n;
}

}  // namespace

std::optional<std::int64_t> parse_timestamp(std::string_view s) {
  int year, month, day, hour, minute, second;
  if (!digits_at(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits_at(s, 5, 2, month) || s[7] != '-' ||
      !digits_at(s, 8, 2, day) || (s[10] != 'T' && s[10] != ' ' && s[10] != 't') || !digits_at(s, 11, 2, hour) ||
      s[13] != ':' || !digits_at(s, 14, 2, minute) || s[16] != ':' || !digits_at(s, 17, 2, second)) {
    return std::nullopt;
  }
  std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                   std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  std::size_t at = 19;
  std::int64_t millis = 0;
  if (at < s.size() && s[at] == '.') {
    std::int64_t scale = 100;
    std::size_t digits = 0;
    for (++at; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, ++digits) {
      millis += (s[at] - '0') * scale;
      scale /= 10;
    }
    if (digits == 0) return std::nullopt;
  }
  std::int64_t offset_minutes = 0;
  if (at < s.size()) {
    int oh, om;
    if ((s[at] == 'Z' || s[at] == 'z') && at + 1 == s.size()) {
      // UTC
    } else if ((s[at] == '+' || s[at] == '-') && digits_at(s, at + 1, 2, oh) && at + 6 == s.size() &&
               s[at + 3] == ':' && digits_at(s, at + 4, 2, om)) {
      offset_minutes = (s[at] == '-' ? -1 : 1) * (oh * 60 + om);
    } else {
      return std::nullopt;
    }
  }
  std::int64_t days = std::chrono::sys_days{date}.time_since_epoch().count();
  return ((days * 24 + hour) * 60 + minute - offset_minutes) * 60000 + second * 1000 + millis;
}

std::string duration_text(std::int64_t ms) {
  char buffer[64];
  if (ms < 1000) return std::to_string(ms) + " ms";
  double s = static_cast<double>(ms) / 1000.0;
  if (s < 60) {
    std::snprintf(buffer, sizeof buffer, s < 10 ? "%.2f s" : "%.1f s", s);
    return buffer;
  }
  std::int64_t whole = ms / 1000;
  std::int64_t minutes = whole / 60;
  if (minutes < 60) return std::to_string(minutes) + " min " + std::to_string(whole % 60) + " s";
  return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string utc_text(std::int64_t ms) {
  std::int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  std::int64_t rest = ms - days * 86400000;
  std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02lld:%02lld:%02lld UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long long>(rest / 3600000), static_cast<long long>(rest / 60000 % 60),
                static_cast<long long>(rest / 1000 % 60));
  return buffer;
}

std::string outcome_words(std::string_view state) {
  if (state == "running") return "Still running";
  if (state == "needs-approval") return "Waiting for approval";
  if (state == "finished") return "Finished";
  if (state == "failed") return "Failed";
  if (state == "cancelled") return "Cancelled";
  if (state == "unknown") return "Outcome unknown";
  if (state.empty()) return "No outcome recorded";
  return std::string(state);
}

std::string_view source_file(std::string_view source) {
  auto colon = source.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == source.size()) return source;
  for (std::size_t i = colon + 1; i < source.size(); ++i) {
    if (source[i] < '0' || source[i] > '9') return source;
  }
  return source.substr(0, colon);
}

std::string first_screen_html(element doc) {
  element state;
  bool has_state = doc["state"].get(state) == simdjson::SUCCESS && state.is_object();
  element activity;
  bool has_activity = has_state && state["activity"].get(activity) == simdjson::SUCCESS && activity.is_object();

  std::vector<element> turns, messages, calls, sub_agents, approvals;
  if (has_state) {
    turns = objects_at(state, "userTurns");
    messages = objects_at(state, "messages");
    calls = objects_at(state, "toolCalls");
    sub_agents = objects_at(state, "subAgents");
    approvals = objects_at(state, "approvals");
  }

  Ownership own;
  for (element a : sub_agents) own.agents.emplace_back(text_at(a, "id"), source_file(text_at(a, "source")));
  own.main_files = main_files(turns, messages, own);

  // The heading: the title, else the first prompt of the main conversation.
  std::string heading(has_state ? text_at(state, "title") : std::string_view{});
  bool titled = !heading.empty();
  if (!titled) {
    for (element t : turns) {
      std::string_view prompt = text_at(t, "prompt");
      if (!prompt.empty()) {
        heading = prompt;
        break;
      }
    }
  }
  if (!titled && heading.empty()) {
    for (element m : messages) {
      if (text_at(m, "role") == "user" && !text_at(m, "text").empty()) {
        heading = text_at(m, "text");
        break;
      }
    }
  }

  // When it ran: the earliest and latest time of any message or call.
  std::optional<std::int64_t> first, last;
  auto see = [&](std::string_view text) {
    if (auto t = parse_timestamp(text)) {
      if (!first || *t < *first) first = t;
      if (!last || *t > *last) last = t;
    }
  };
  for (element m : messages) see(text_at(m, "timestamp"));
  std::int64_t failed = 0;
  for (element c : calls) {
    see(text_at(c, "startedAt"));
    see(text_at(c, "endedAt"));
    bool is_error = false;
    if (c["isError"].get_bool().get(is_error) == simdjson::SUCCESS && is_error) ++failed;
  }

  std::string out = "<header class=\"top\" id=\"top\">";
  out +=
      "<div class=\"brand\"><span class=\"logo\" aria-hidden=\"true\">\xE2\x97\x88</span><span>tracelens report</span>";
  std::string harness(text_at(doc, "harness"));
  if (!harness.empty())
    out +=
        "<span class=\"brand-harness\">" + esc(harness + " " + std::string(text_at(doc, "harnessVersion"))) + "</span>";
  out += "</div>";
  if (heading.empty()) {
    out += "<h1 class=\"title untitled\">Untitled run</h1>";
  } else {
    out += std::string("<h1 class=\"title") + (titled ? "" : " from-prompt") + "\"" +
           (titled ? "" : " title=\"the run has no title; this is its first prompt\"") + ">" +
           esc(html::shorten(heading, kHeadingChars)) + "</h1>";
  }

  std::string_view s = has_activity ? text_at(activity, "state") : std::string_view{};
  static constexpr std::string_view kStates[] = {"running", "needs-approval", "finished",
                                                 "failed",  "cancelled",      "unknown"};
  bool known = false;
  for (std::string_view k : kStates) known = known || k == s;
  out += "<div class=\"activity\" id=\"outcome\"><span class=\"badge state-" + std::string(known ? s : "other") +
         "\" title=\"activity state " + esc(s) + "\">" + esc(outcome_words(s)) + "</span><div class=\"activity-why\">";
  std::string_view reason = has_activity ? text_at(activity, "reason") : std::string_view{};
  out += "<span class=\"reason\">" + esc(reason.empty() ? "No reason given." : reason) + "</span>";
  out += "<span class=\"run-time\">";
  if (first) {
    out += "Started <time datetime=\"" + esc(utc_text(*first)) + "\">" + esc(utc_text(*first)) + "</time>";
    if (*last > *first) out += " \xC2\xB7 took <b>" + esc(duration_text(*last - *first)) + "</b>";
  } else {
    out += "No times recorded";
  }
  out += "</span></div></div>";

  // A waiting run: the question and the call that waits for it.
  if (s == "needs-approval") {
    std::string_view source = text_at(activity, "source");
    std::string question;
    std::optional<std::int64_t> waiting;
    for (element c : calls) {
      if (!source.empty() && text_at(c, "source") == source) {
        waiting = number_at(c, "position");
        element input;
        array questions;
        if (c["input"].get(input) == simdjson::SUCCESS && input.is_object() &&
            input["questions"].get_array().get(questions) == simdjson::SUCCESS) {
          for (element q : questions) {
            if (!text_at(q, "question").empty())
              question += (question.empty() ? "" : "\n") + std::string(text_at(q, "question"));
          }
        }
      }
    }
    if (question.empty() && !approvals.empty()) question = text_at(approvals.back(), "text");
    if (!waiting) {
      for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (!has_member(*it, "resultText")) {
          waiting = number_at(*it, "position");
          break;
        }
      }
    }
    out += "<div class=\"waiting\" id=\"waiting\"><span class=\"io-label\">The run asks</span>";
    out += "<p class=\"waiting-question\">" +
           esc(question.empty() ? "(the question was not recorded)" : html::shorten(question, kQuestionChars)) + "</p>";
    if (waiting) {
      out += "<a class=\"waiting-call\" href=\"#call-" + std::to_string(*waiting) + "\">Go to the waiting call #" +
             std::to_string(*waiting) + "</a>";
    }
    out += "</div>";
  }

  if (has_member(doc, "error")) {
    element e = doc["error"].value_unsafe();
    out += "<div class=\"doc-error\">Parser error: " + esc(json_text(e)) + "</div>";
  }

  // Counts; a failed-call count is a link the page makes jump to the next failed call.
  struct Count {
    std::string_view key, one, many;
    std::int64_t n;
  };
  auto size_of = [&](std::string_view key) {
    return has_state ? static_cast<std::int64_t>(objects_at(state, key).size()) : 0;
  };
  const Count counts[] = {
      {"turns", "turn", "turns", conversation_turns(turns, messages, calls, own)},
      {"messages", "message", "messages", static_cast<std::int64_t>(messages.size())},
      {"toolCalls", "tool call", "tool calls", static_cast<std::int64_t>(calls.size())},
      {"failedCalls", "failed", "failed", failed},
      {"subAgents", "sub-agent", "sub-agents", static_cast<std::int64_t>(sub_agents.size())},
      {"todos", "todo", "todos", size_of("todos")},
      {"approvals", "approval", "approvals", static_cast<std::int64_t>(approvals.size())},
      {"toolErrors", "tool error", "tool errors", size_of("toolErrors")},
      {"contextArtifacts", "context file", "context files", size_of("contextArtifacts")},
  };
  out += "<div class=\"summary\" id=\"summary\">";
  for (const Count& c : counts) {
    bool bad = c.key == "failedCalls" && c.n > 0;
    std::string body = "<b>" + thousands(c.n) + "</b> " + std::string(c.n == 1 ? c.one : c.many);
    if (bad) {
      out +=
          "<a class=\"count bad\" data-count=\"failedCalls\" href=\"#timeline\" id=\"failed-count\" "
          "title=\"next failed call (key f)\">" +
          body + "</a>";
    } else {
      out += "<span class=\"count\" data-count=\"" + std::string(c.key) + "\">" + body + "</span>";
    }
  }
  out += "</div>";

  element usage;
  bool has_usage = doc.is_object() && doc["usage"].get(usage) == simdjson::SUCCESS && usage.is_object();
  if (has_usage) out += usage_html(usage);

  // The final assistant reply of the main conversation.
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    std::string_view text = text_at(*it, "text");
    if (text_at(*it, "role") != "assistant" || text.find_first_not_of(" \t\r\n") == std::string_view::npos ||
        owned_by_sub_agent(own, text_at(*it, "source"))) {
      continue;
    }
    auto position = number_at(*it, "position");
    out += "<section class=\"final\" id=\"final-reply\"><div class=\"io-label\">Final reply";
    if (position) {
      out += " <a class=\"final-link\" href=\"#message-" + std::to_string(*position) + "\">message #" +
             std::to_string(*position) + "</a>";
    }
    out += "</div><div class=\"final-text md-src\">" + esc(html::shorten(text, kReplyChars)) + "</div></section>";
    break;
  }

  // What the parser says about itself, folded.
  element parser;
  bool has_parser = doc.is_object() && doc["parser"].get(parser) == simdjson::SUCCESS && parser.is_object();
  out += "<details class=\"doc-details\"><summary>Parser and document details</summary><dl class=\"facts\">";
  std::string_view last_event = has_activity ? text_at(activity, "lastEventKind") : std::string_view{};
  out += fact("activity", esc(s.empty() ? "\xE2\x80\x94" : std::string(s)) +
                              (last_event.empty() ? "" : " (last event " + esc(last_event) + ")"));
  std::string_view evidence = has_activity ? text_at(activity, "source") : std::string_view{};
  out += fact("evidence", "<span class=\"mono\">" + esc(evidence.empty() ? "\xE2\x80\x94" : evidence) + "</span>");
  out += fact("harness",
              esc(harness.empty() ? "\xE2\x80\x94" : harness + " " + std::string(text_at(doc, "harnessVersion"))));
  out += fact("parser", "<span class=\"mono\">" + esc(has_parser ? text_at(parser, "name") : "") + "</span>");
  out += fact("status", esc(has_parser ? text_at(parser, "status") : ""));
  std::string resolution = "none";
  element r;
  if (has_parser && parser["resolution"].get(r) == simdjson::SUCCESS && !r.is_null()) resolution = json_text(r);
  if (has_parser && !text_at(parser, "matchedVersion").empty())
    resolution += " \xE2\x86\x92 " + std::string(text_at(parser, "matchedVersion"));
  out += fact("resolution", esc(resolution));
  element run_id;
  out += fact("run id", "<span class=\"mono\">" +
                            esc(doc["runId"].get(run_id) == simdjson::SUCCESS && !run_id.is_null() ? json_text(run_id)
                                                                                                   : "\xE2\x80\x94") +
                            "</span>");
  element scenario;
  out += fact("scenario",
              esc(doc["scenario"].get(scenario) == simdjson::SUCCESS && !scenario.is_null() ? json_text(scenario)
                                                                                            : "\xE2\x80\x94"));
  auto parsed_at = number_at(doc, "parsedAt");
  out += fact("parsed", esc(parsed_at ? utc_text(*parsed_at) : "\xE2\x80\x94"));
  element schema;
  out +=
      fact("schema", esc(doc["schemaVersion"].get(schema) == simdjson::SUCCESS ? json_text(schema) : "\xE2\x80\x94"));
  out += "</dl>";
  if (has_usage) out += usage_details(usage);
  out += "</details>";

  out += "<nav class=\"jump\" aria-label=\"sections\">";
  static constexpr std::pair<std::string_view, std::string_view> kLinks[] = {
      {"timeline", "Timeline"},       {"sub-agents", "Sub-agents"}, {"approvals", "Approvals"},
      {"tool-errors", "Tool errors"}, {"context", "Context files"}, {"snapshots", "Snapshots"},
      {"provenance", "Provenance"},
  };
  for (const auto& [id, label] : kLinks) out += "<a href=\"#" + std::string(id) + "\">" + std::string(label) + "</a>";
  out += "</nav></header>";
  return out;
}

}  // namespace report
