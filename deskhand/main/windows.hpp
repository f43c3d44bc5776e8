// Window listing, window descriptions, selection by identifier and capture.
#pragma once

#include <cstddef>
#include <vector>

#include <nlohmann/json.hpp>

#include "main/result.hpp"
#include "platform/platform.hpp"

namespace deskhand {

inline constexpr std::size_t kMaxListedWindows = 100;
inline constexpr std::size_t kMaxTitleCharacters = 300;
inline constexpr double kMaxCaptureSide = 1600;           // pixels
inline constexpr std::size_t kMaxPngBytes = 3 * 1048576;  // 3,145,728

// A window the caller may work with: layer 0, wider and taller than 1 point,
// with an owning application.
bool is_eligible(const Window& window);

// The eligible windows in the order the platform listed them.
std::vector<Window> eligible_windows(const std::vector<Window>& windows);

// Lists the shareable content (every window, awaited within the callback
// deadline).
Result<std::vector<Window>> list_shareable_content(Platform& platform);

// Lists the shareable content and keeps the eligible windows.
Result<std::vector<Window>> list_eligible_windows(Platform& platform);

// The window description: "windowId", "pid", "app", "bundleId", "title" (its
// first 300 characters; empty without a title), "x", "y", "width", "height".
// Only for eligible windows (which have an owning application).
nlohmann::json describe(const Window& window);

// The "windows" reply: the descriptions of the first 100 eligible windows.
nlohmann::json windows_reply(const std::vector<Window>& eligible);

// The eligible window named by the request's "windowId" (the first one with
// that identifier).
Result<Window> select_window(const nlohmann::json& request, const std::vector<Window>& eligible);

// The capture configuration for a frame: the longer side at most 1600
// pixels, never enlarged; no cursor; no shadow; not clipped to the display.
CaptureConfiguration capture_configuration(const Rect& frame);

// Captures the window (awaited within the callback deadline) and replies with
// its description plus "image" (the PNG in base64), "pixelWidth" and
// "pixelHeight".
Result<nlohmann::json> capture(Platform& platform, const Window& window);

}  // namespace deskhand
