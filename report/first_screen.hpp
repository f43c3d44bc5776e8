// The first screen of a report page, written as static HTML so that it shows
// before the browser has read the rest of the document.
#pragma once

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace report {

// Milliseconds since 1970-01-01T00:00:00Z of an ISO 8601 date and time
// ("2026-01-01T10:00:00Z", with optional fraction, "Z" or a "+hh:mm" offset,
// a space for the "T"; no zone reads as UTC); nothing for any other text.
std::optional<std::int64_t> parse_timestamp(std::string_view text);

// A duration as people read it: "840 ms", "4.20 s", "12.5 s", "3 min 5 s", "2 h 7 min".
std::string duration_text(std::int64_t ms);

// Milliseconds as "YYYY-MM-DD HH:MM:SS UTC".
std::string utc_text(std::int64_t ms);

// An activity state in words ("needs-approval" -> "Waiting for approval");
// an unknown value is shown as it is.
std::string outcome_words(std::string_view state);

// The file part of a source ("home/a.jsonl:12" -> "home/a.jsonl"); the whole
// text when it does not end in a colon and a line number.
std::string_view source_file(std::string_view source);

// The header of the page for the document `doc` (a JSON object): the
// heading, the outcome, start, duration, counts, the question a waiting run
// asks, the final assistant reply, token usage when the document has it,
// and the parser's details folded away. Every text of the document is
// escaped.
std::string first_screen_html(simdjson::dom::element doc);

}  // namespace report
