#include "text.hpp"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <string>
#include <vector>

namespace tl::text {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8Repair, ValidTextIsUnchanged) {
  EXPECT_EQ(repair_utf8("plain ascii"), "plain ascii");
  EXPECT_EQ(repair_utf8("r\xC3\xA9sum\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x99\x82"),
            "r\xC3\xA9sum\xC3\xA9 \xE6\x9D\xB1 \xF0\x9F\x99\x82");
}

TEST(Utf8Repair, EachMaximalInvalidSubpartBecomesOneReplacement) {
  EXPECT_EQ(repair_utf8("a\xFF"
                        "b"),
            "a" + kFffd + "b");
  // A lead byte and one valid continuation of a 3-byte sequence, then ASCII:
  // one replacement for the truncated sequence.
  EXPECT_EQ(repair_utf8("\xE6\x9D"
                        "x"),
            kFffd + "x");
  // Surrogates encoded in UTF-8 are invalid: ED A0 is not a valid prefix.
  EXPECT_EQ(repair_utf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);
  // Overlong encoding of "/".
  EXPECT_EQ(repair_utf8("\xC0\xAF"), kFffd + kFffd);
  // A sequence cut by the end of the text.
  EXPECT_EQ(repair_utf8("ok\xF0\x9F\x99"), "ok" + kFffd);
}

TEST(Utf8Repair, ValidityAtEveryOffsetOfALongText) {
  // Invalid or multi-byte sequences before, inside and after the 64-byte and
  // 16-byte blocks that the ASCII scan skips.
  for (std::size_t at = 0; at < 150; ++at) {
    std::string text(150, 'a');
    EXPECT_TRUE(is_valid_utf8(text.substr(0, at) + "\xF0\x9F\x99\x82" + text.substr(at))) << at;
    EXPECT_FALSE(is_valid_utf8(text.substr(0, at) + "\xFF" + text.substr(at))) << at;
    EXPECT_FALSE(is_valid_utf8(text.substr(0, at) + "\xE6\x9D")) << at;
  }
  EXPECT_TRUE(is_valid_utf8(""));
}

TEST(Whitespace, FollowsTheUnicodeProperty) {
  for (char32_t c = 0; c < 0x110000; ++c) {
    EXPECT_EQ(is_space(c), static_cast<bool>(u_isUWhiteSpace(static_cast<UChar32>(c))))
        << std::hex << static_cast<std::uint32_t>(c);
  }
  EXPECT_TRUE(is_space(0x85));
  EXPECT_TRUE(is_space(0x3000));
  EXPECT_FALSE(is_space(0x200B));  // zero width space is not White_Space
  EXPECT_EQ(trim("\xE3\x80\x80 a b\t\xC2\xA0"), "a b");
  EXPECT_EQ(trim_start("\n x "), "x ");
  EXPECT_EQ(trim_end(" x \r\n"), " x");
  EXPECT_TRUE(is_blank(" \t\xE2\x80\xA8"));
}

TEST(CaseMapping, FullUnicodeMappings) {
  EXPECT_EQ(to_lower("HeLLo"), "hello");
  EXPECT_EQ(to_lower("\xC3\x84RGER"), "\xC3\xA4rger");
  // Capital I with dot above lowers to i and a combining dot.
  EXPECT_EQ(to_lower("\xC4\xB0"), "i\xCC\x87");
  // German sharp s uppers to SS.
  EXPECT_EQ(to_upper("\xC3\x9F"), "SS");
  EXPECT_EQ(ascii_lower("\xC3\x84"
                        "Bc"),
            "\xC3\x84"
            "bc");
}

TEST(CaseMapping, LowerContainsMatchesTheLoweredText) {
  EXPECT_TRUE(lower_contains("Press ESC To Interrupt", "esc to interrupt"));
  EXPECT_FALSE(lower_contains("Press ESC", "esc to"));
  // The Kelvin sign lowers to an ASCII k.
  EXPECT_TRUE(lower_contains("wor\xE2\x84\xAAing", "working"));
  EXPECT_TRUE(lower_starts_with("ERROR: x", "error:"));
  EXPECT_FALSE(lower_starts_with("ERR", "error:"));
  // Long haystacks exercise the block scan; the match sits at every offset.
  std::string hay(100, 'x');
  for (std::size_t at = 0; at + 5 <= hay.size(); ++at) {
    std::string h = hay;
    h.replace(at, 5, "NeEdL");
    EXPECT_EQ(ifind_ascii(h, "needl"), at);
  }
  EXPECT_EQ(ifind_ascii(hay, "needl"), std::string_view::npos);
  // A candidate that matches the first, middle and last bytes only is passed
  // over for a match in a later block; a search from past a match finds the next.
  std::string decoy = hay;
  decoy.replace(3, 5, "nAeBl").replace(50, 5, "NEEDL").replace(90, 5, "needl");
  EXPECT_EQ(ifind_ascii(decoy, "needl"), 50u);
  EXPECT_EQ(ifind_ascii(decoy, "needl", 51), 90u);
  // Folding 0x20 must not confuse "@" with "`" in confirmed matches.
  EXPECT_EQ(ifind_ascii(std::string(40, '`') + "@a", "@a"), 40u);
}

// The search for either of two needles finds the first place that one of
// the two single searches finds, wherever the needles stand: in any letter
// case, near block ends, at the text's end where only the shorter fits, and
// behind near misses that match a needle's first and last bytes only.
TEST(CaseMapping, EitherNeedleIsTheFirstOfTheTwo) {
  const std::string a = "rate_limit";
  const std::string b = "apierror";
  const std::string_view pieces[] = {"RATE_LIMIT", "ApiError",   "rXXXXXXXXt", "aXXXXXXr",
                                     "x",          "..........", "\"",         "ape"};
  std::uint32_t seed = 11;
  for (int round = 0; round < 2000; ++round) {
    std::string hay;
    const int count = round % 14;
    for (int i = 0; i < count; ++i) {
      seed = seed * 1664525u + 1013904223u;
      hay += pieces[(seed >> 8) % std::size(pieces)];
    }
    for (std::size_t from : {std::size_t{0}, std::size_t{1}, hay.size() / 2, hay.size()}) {
      const std::size_t expected = std::min(ifind_ascii(hay, a, from), ifind_ascii(hay, b, from));
      ASSERT_EQ(ifind_either_ascii(hay, a, b, from), expected) << hay << " from " << from;
    }
  }
}

TEST(Lines, SplitAtLineFeedsDroppingOneCarriageReturn) {
  auto split = [](std::string_view t) {
    std::vector<std::string> out;
    LineReader r(t);
    std::string_view line;
    while (r.next(line)) out.emplace_back(line);
    return out;
  };
  EXPECT_EQ(split("a\r\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(split("a\r\r\nb\r"), (std::vector<std::string>{"a\r", "b\r"}));
  EXPECT_EQ(split(""), std::vector<std::string>{});
  EXPECT_EQ(split("\n"), std::vector<std::string>{""});
  LineReader r("x\ny\n");
  std::string_view line;
  r.next(line);
  r.next(line);
  EXPECT_EQ(r.number(), 2u);
  EXPECT_FALSE(r.next(line));
}

TEST(TruncateReadable, CutsAndNormalisesLineBreaks) {
  EXPECT_EQ(truncate_readable("  hello world", 5), "hello\xE2\x80\xA6");
  EXPECT_EQ(truncate_readable("hello   ", 5), "hello");
  EXPECT_EQ(truncate_readable("a\r\nb", 10), "a\nb");
  EXPECT_EQ(truncate_readable("a\rb", 10), "a\nb");
  EXPECT_EQ(truncate_readable("abc", 0), "\xE2\x80\xA6");
  EXPECT_EQ(truncate_readable("   ", 10), "");
  EXPECT_EQ(truncate_readable("", 10), "");
  // A CRLF pair counts as one character.
  EXPECT_EQ(truncate_readable("a\r\nbc", 2), "a\n\xE2\x80\xA6");
  // Characters, not bytes.
  EXPECT_EQ(truncate_readable("\xE6\x9D\xB1\xE4\xBA\xAC!", 2), "\xE6\x9D\xB1\xE4\xBA\xAC\xE2\x80\xA6");
}

TEST(TruncateReadable, LeadingWhitespaceWindowOf64) {
  std::string spaces64(64, ' ');
  EXPECT_EQ(truncate_readable(spaces64, 10), "");
  EXPECT_EQ(truncate_readable(spaces64 + "x", 10), "x");
  EXPECT_EQ(truncate_readable(spaces64 + "  x", 10), "\xE2\x80\xA6");
  EXPECT_EQ(truncate_readable(std::string(63, ' ') + " x", 10), "x");
}

TEST(TruncateReadable, TrailingRemainderRule) {
  // What is left after the cut: whitespace of at most 64 characters is
  // dropped, anything longer or visible gives the ellipsis.
  EXPECT_EQ(truncate_readable("ab " + std::string(63, ' '), 2), "ab");
  EXPECT_EQ(truncate_readable("ab" + std::string(65, ' '), 2), "ab\xE2\x80\xA6");
  EXPECT_EQ(truncate_readable("ab \n x", 3), "ab \xE2\x80\xA6");
}

TEST(Compact, CollapsesWhitespaceAndCuts) {
  EXPECT_EQ(compact("a    \n b", 10), "a b");
  EXPECT_EQ(compact("abcdef", 3), "abc\xE2\x80\xA6");
  EXPECT_EQ(compact(" \t\n", 3), "");
  EXPECT_EQ(compact("abc def", 4), "abc \xE2\x80\xA6");
  EXPECT_EQ(compact("abc", 3), "abc");
  EXPECT_EQ(compact("\xE6\x9D\xB1 \xE4\xBA\xAC", 2), "\xE6\x9D\xB1 \xE2\x80\xA6");
  EXPECT_EQ(collapse_spaces("  a\xE3\x80\x80"
                            "b  "),
            "a b");
}

// compact, character by character as its rules say: every whitespace run
// is one space (none at either end), and the text is cut after max_chars
// characters with an ellipsis when a visible character would follow.
std::string compact_by_characters(std::string_view s, std::size_t max_chars) {
  std::string out;
  std::size_t count = 0;
  bool pending_space = false;
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t start = pos;
    if (is_space(decode(s, pos))) {
      pending_space = count > 0;
      continue;
    }
    if (pending_space) {
      if (count == max_chars) return out + "\xE2\x80\xA6";
      out.push_back(' ');
      ++count;
      pending_space = false;
    }
    if (count == max_chars) return out + "\xE2\x80\xA6";
    out.append(s.substr(start, pos - start));
    ++count;
  }
  return out;
}

TEST(Compact, AgreesWithTheCharacterByCharacterRules) {
  // Visible ASCII (alone and as words between single spaces), ASCII
  // controls, whitespace (ASCII and Unicode), other characters of two to
  // four bytes, invalid and cut sequences.
  const std::string_view pieces[] = {"a",
                                     "Zq",
                                     " ",
                                     "\t\n",
                                     "\x01",
                                     "\x7F",
                                     "\xC3\xA9",
                                     "\xE6\x9D\xB1",
                                     "\xF0\x9F\x99\x82",
                                     "\xC2\xA0",
                                     "\xE3\x80\x80",
                                     "\xE2\x80\x83",
                                     "\xC2\x85",
                                     "\xFF",
                                     "\xC3",
                                     "\xE2\x80",
                                     "abcdefghijklmnopqrstuvwxyz0123456789",
                                     "lorem ipsum dolor sit amet, consectetur adipiscing elit",
                                     "x  y "};
  std::uint32_t seed = 7;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const std::uint32_t n = next() % 12;
    for (std::uint32_t k = 0; k < n; ++k) text += pieces[(next() >> 8) % std::size(pieces)];
    for (std::size_t max_chars : {0u, 1u, 2u, 3u, 7u, 40u}) {
      ASSERT_EQ(compact(text, max_chars), compact_by_characters(text, max_chars)) << max_chars << " [" << text << "]";
    }
  }
}

TEST(Chars, CountAndTakeScalarValues) {
  EXPECT_EQ(char_count("a\xC3\xA9\xF0\x9F\x99\x82"), 3u);
  EXPECT_EQ(take_chars("a\xC3\xA9\xF0\x9F\x99\x82", 2), "a\xC3\xA9");
  EXPECT_EQ(take_chars("ab", 5), "ab");
  EXPECT_EQ(source_of("x/y.jsonl", 12), "x/y.jsonl:12");
}

TEST(LineCounter, LinesOfIncreasingOffsets) {
  LineCounter lines("a\nb\n\nc");
  EXPECT_EQ(lines.line_at(0), 1u);
  EXPECT_EQ(lines.line_at(2), 2u);
  EXPECT_EQ(lines.line_at(5), 4u);
  EXPECT_EQ(lines.line_at(99), 4u);
}

TEST(FileStem, LastComponentWithoutItsLastExtension) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"chats/session-1.jsonl", "session-1"},
      {"a.d/archive.tar.gz", "archive.tar"},
      {"home/.hidden", ".hidden"},
      {"plain", "plain"},
      {"dir/", ""},
      {"x.", "x"},
  };
  for (const auto& [path, stem] : cases) EXPECT_EQ(file_stem(path), stem) << path;
}

TEST(TextSearch, AgreesWithThePlainSearchEverywhere) {
  // Texts of many lengths with the needle (and near misses) at every place
  // around the sixteen- and sixty-four-byte blocks.
  const std::string needle = "usage\":";
  for (std::size_t size = 0; size < 150; ++size) {
    for (std::size_t at = 0; at + needle.size() <= size; at += 7) {
      std::string text(size, 'x');
      for (std::size_t k = 0; k < size; k += 5) text[k] = k % 2 ? 'u' : ':';
      text.replace(at, needle.size(), needle);
      if (at + 2 * needle.size() + 3 <= size) text.replace(size - needle.size(), needle.size(), needle);
      const std::string_view t = text;
      ASSERT_EQ(text::find(t, needle), t.find(needle)) << size << " " << at;
      ASSERT_EQ(text::find_last(t, needle), t.rfind(needle)) << size << " " << at;
      ASSERT_TRUE(text::contains(t, needle));
    }
    const std::string plain(size, 'u');
    ASSERT_EQ(text::find_last(plain, needle), std::string_view::npos);
    ASSERT_FALSE(text::contains(plain, needle));
  }
}

}  // namespace
}  // namespace tl::text
