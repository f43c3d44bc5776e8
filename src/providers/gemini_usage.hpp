// Token usage of Gemini CLI chats, for `--usage`.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../json.hpp"
#include "../usage.hpp"

namespace tl {

// Reads the usage of Gemini CLI chats as they are read: a JSONL chat line by
// line between begin_chat and end_chat, a chat read whole at once; `finish`
// gives the reading once the sub-agents that own some chats are known.
class GeminiUsageReader {
 public:
  GeminiUsageReader();
  ~GeminiUsageReader();
  GeminiUsageReader(GeminiUsageReader&&) noexcept;
  GeminiUsageReader& operator=(GeminiUsageReader&&) noexcept;

  void begin_chat(std::string_view path);
  // One line of the chat: its number and parsed value (null when the line
  // is not one JSON value).
  void line(std::uint64_t number, const json::Element* parsed);
  void end_chat();
  // A chat's whole text, written as one object or as JSONL.
  void whole_chat(const TextArtifact& chat, json::DocParser& parser);
  UsageReading finish(const std::vector<SubAgent>& sub_agents);

 private:
  struct Chat;
  struct ChatOwner {
    std::string path;
    std::optional<std::string> session_id;
  };
  UsageReading reading_;
  std::unique_ptr<Chat> chat_;  // the chat being read
  std::vector<ChatOwner> chats_;
  std::vector<std::size_t> chat_of_;  // each response's chat, in chats_
};

}  // namespace tl
