// Verified focus and input: before any event is posted the selected window
// must still have the geometry the caller saw, its application must be in
// front, and Accessibility must show that window, and no other, as focused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand {

inline constexpr std::uint64_t kFocusPollNanoseconds = 50'000'000;
inline constexpr int kFocusChecks = 20;
inline constexpr double kFocusTolerance = 1;        // points; a difference this large fails
inline constexpr std::size_t kMaxTextUnits = 8000;  // UTF-16 code units
// A keyboard event carries at most 20 UTF-16 code units: the platform keeps
// no more of its Unicode string, silently.
inline constexpr std::size_t kMaxChunkUnits = 20;

// The virtual key code of a key name of the key table; none for any other
// name (names are case-sensitive).
std::optional<std::uint16_t> key_code_for(std::string_view name);

// The text that "type" posts, cut into chunks of at most 20 UTF-16 code
// units, in order; a chunk never ends between the two halves of a surrogate
// pair.
std::vector<std::u16string_view> text_chunks(std::u16string_view units);

// The focus procedure for the selected window: Accessibility trust, the
// caller's "target" geometry, activation of the application (through
// Accessibility when the system refuses it), the wait for it to come to the
// front, and the Accessibility checks of the focused window. Posts nothing.
Result<Done> focus_selected_window(Platform& platform, const nlohmann::json& request, const Window& selected);

// The actions, after the focus procedure. Each posts to the selected window's
// process only, and posts nothing when its arguments are wrong. A click is a
// left-mouse-down and a left-mouse-up, each with click state 1 and the
// window's identifier as the window under the pointer; "type" posts a
// key-down and a key-up (virtual key 0) per chunk of the text; "key" posts a
// key-down and a key-up of the named key.
Result<Done> click(Platform& platform, const nlohmann::json& request, const Window& selected);
Result<Done> type_text(Platform& platform, const nlohmann::json& request, const Window& selected);
Result<Done> press_key(Platform& platform, const nlohmann::json& request, const Window& selected);

// Focuses the selected window and performs the action; replies with
// "complete" true and "windowId". An action name other than "click", "type"
// and "key" fails with "Unknown Mac action" once the focus is verified.
Result<nlohmann::json> interact(Platform& platform, const std::string& action, const nlohmann::json& request,
                                const Window& selected);

}  // namespace deskhand
