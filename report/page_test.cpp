#include "page.hpp"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <string>
#include <vector>

namespace report {
namespace {

struct Page {
  std::string html;
  std::string error;
};

Page build_page(std::string_view input) {
  Page page;
  page.error = write_page(std::string(input), [&page](std::string_view piece) { page.html += piece; });
  return page;
}

std::size_t occurrences(std::string_view text, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The text of the script element with the given id.
std::string_view block(std::string_view html, std::string_view id) {
  std::string open = "<script type=\"application/json\" id=\"" + std::string(id) + "\">";
  auto start = html.find(open);
  if (start == std::string_view::npos) return {};
  start += open.size();
  return html.substr(start, html.find("</script>", start) - start);
}

// The texts of the record parts of one list, in order.
std::vector<std::string_view> parts(std::string_view html, std::string_view list) {
  std::vector<std::string_view> out;
  std::string open =
      "<script type=\"application/json\" class=\"tracelens-records\" data-list=\"" + std::string(list) + "\">";
  for (auto at = html.find(open); at != std::string_view::npos; at = html.find(open, at + 1)) {
    auto start = at + open.size();
    out.push_back(html.substr(start, html.find("</script>", start) - start));
  }
  return out;
}

std::string canonical(std::string_view json) {
  simdjson::dom::parser parser;
  simdjson::padded_string padded(json);
  simdjson::dom::element value;
  EXPECT_EQ(parser.parse(padded).get(value), simdjson::SUCCESS) << json;
  return simdjson::to_string(value);
}

std::string title_of(std::string_view html) {
  auto start = html.find("<title>") + 7;
  return std::string(html.substr(start, html.find("</title>") - start));
}

TEST(BuildPage, RefusesWhatIsNotOneObject) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "empty"},
      {" \n\t", "empty"},
      {"[]", "an array"},
      {"\"x\"", "a string"},
      {"42", "a number"},
      {"null", "null"},
      {"true", "a boolean"},
      {"{", "not valid JSON"},
      {"{} {}", "not valid JSON"},
      {"{\"a\":1,}", "not valid JSON"},
      {"{\"a\":\"\x01\"}", "not valid JSON"},
  };
  for (const auto& [input, why] : cases) {
    Page page = build_page(input);
    EXPECT_NE(page.error.find(why), std::string::npos) << input << " -> " << page.error;
    EXPECT_TRUE(page.html.empty()) << input;
  }
}

TEST(BuildPage, HostileTextsStayInsideTheirElements) {
  std::string doc =
      "{\"runId\":\"r\",\"state\":{\"title\":\"</title><script>window.pwned=1</script>\","
      "\"messages\":[{\"text\":\"</script><script>window.pwned=1</script><!--\",\"role\":\"<img src=x>\"}]}}";
  Page page = build_page(doc);
  ASSERT_TRUE(page.error.empty()) << page.error;
  // The meta block, the document, its one part of messages and the page's own
  // script: nothing else ends a script element.
  EXPECT_EQ(occurrences(page.html, "</script"), 4u);
  EXPECT_EQ(occurrences(page.html, "<script"), 4u);
  EXPECT_EQ(title_of(page.html), "tracelens report \xC2\xB7 &lt;/title&gt;&lt;script&gt;window.pwned=1&lt;/script&gt;");
  std::string_view json = block(page.html, "tracelens-document");
  EXPECT_EQ(json.find('<'), std::string_view::npos);
  EXPECT_EQ(
      canonical(json),
      canonical("{\"runId\":\"r\",\"state\":{\"title\":\"</title><script>window.pwned=1</script>\",\"messages\":[]}}"));
  auto messages = parts(page.html, "messages");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].find('<'), std::string_view::npos);
  EXPECT_EQ(canonical(messages[0]),
            canonical("[{\"text\":\"</script><script>window.pwned=1</script><!--\",\"role\":\"<img src=x>\"}]"));
  // The first screen is in the page before any script: the title as text.
  EXPECT_LT(page.html.find("<h1 class=\"title\">&lt;/title&gt;&lt;script&gt;window.pwned=1&lt;/script&gt;</h1>"),
            page.html.find("<script"));
  EXPECT_EQ(canonical(block(page.html, "report-meta")),
            canonical("{\"inputBytes\":" + std::to_string(doc.size()) +
                      ",\"replacedUtf8Sequences\":0,\"byteOrderMark\":false}"));
}

TEST(BuildPage, RepairsInvalidUtf8AndDropsAByteOrderMark) {
  std::string doc = "\xEF\xBB\xBF{\"harness\":\"a\xFF\xC0z\"}";
  Page page = build_page(doc);
  ASSERT_TRUE(page.error.empty()) << page.error;
  EXPECT_TRUE(simdjson::validate_utf8(page.html.data(), page.html.size()));
  EXPECT_EQ(canonical(block(page.html, "tracelens-document")),
            canonical("{\"harness\":\"a\xEF\xBF\xBD\xEF\xBF\xBDz\"}"));
  EXPECT_EQ(canonical(block(page.html, "report-meta")),
            canonical("{\"inputBytes\":" + std::to_string(doc.size()) +
                      ",\"replacedUtf8Sequences\":2,\"byteOrderMark\":true}"));
  EXPECT_EQ(title_of(page.html), "tracelens report \xC2\xB7 a\xEF\xBF\xBD\xEF\xBF\xBDz");
}

TEST(BuildPage, LargeListsTravelInPartsInOrder) {
  // 3,000 messages of about 200 bytes and 2 calls: the messages fill three
  // parts of at least 256 KiB but the last, the calls one.
  std::string doc = "{\"state\":{\"messages\":[";
  std::string filler(180, 'x');
  for (int i = 0; i < 3000; ++i)
    doc += (i ? "," : "") + std::string("{\"position\":") + std::to_string(i) + ",\"text\":\"" + filler + "\"}";
  doc += "],\"toolCalls\":[{\"position\":0},{\"position\":1}],\"todos\":[{\"position\":0}]},\"harness\":\"h\"}";
  Page page = build_page(doc);
  ASSERT_TRUE(page.error.empty()) << page.error;
  EXPECT_EQ(canonical(block(page.html, "tracelens-document")),
            canonical("{\"state\":{\"messages\":[],\"toolCalls\":[],\"todos\":[{\"position\":0}]},\"harness\":\"h\"}"));
  auto messages = parts(page.html, "messages");
  ASSERT_EQ(messages.size(), 3u);
  std::string joined;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    std::string_view p = messages[i];
    if (i + 1 < messages.size()) {
      EXPECT_GE(p.size(), 262144u);
    }
    joined += (joined.empty() ? "" : ",") + std::string(p.substr(1, p.size() - 2));
  }
  std::string all = "[";
  for (int i = 0; i < 3000; ++i)
    all += (i ? "," : "") + std::string("{\"position\":") + std::to_string(i) + ",\"text\":\"" + filler + "\"}";
  EXPECT_EQ(canonical("[" + joined + "]"), canonical(all + "]"));
  auto calls = parts(page.html, "toolCalls");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(canonical(calls[0]), canonical("[{\"position\":0},{\"position\":1}]"));
}

TEST(BuildPage, TitleFallsBackFromTitleToPromptToRunIdToHarness) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"{\"state\":{\"title\":\"T\"},\"runId\":\"R\",\"harness\":\"H\"}", "tracelens report \xC2\xB7 T"},
      {"{\"state\":{\"title\":\"\"},\"runId\":\"R\",\"harness\":\"H\"}", "tracelens report \xC2\xB7 R"},
      {"{\"state\":{\"userTurns\":[{\"prompt\":\"P <b>\"}]},\"runId\":\"R\"}", "tracelens report \xC2\xB7 P &lt;b&gt;"},
      {"{\"runId\":{\"b\":1},\"harness\":\"H\"}", "tracelens report \xC2\xB7 {&quot;b&quot;:1}"},
      {"{\"runId\":null,\"harness\":\"H\"}", "tracelens report \xC2\xB7 H"},
      {"{}", "tracelens report"},
  };
  for (const auto& [doc, title] : cases) {
    EXPECT_EQ(title_of(build_page(doc).html), title) << doc;
  }
}

}  // namespace
}  // namespace report
