#include "main/windows.hpp"

#include <algorithm>
#include <cmath>

#include "main/awaiting.hpp"
#include "main/base64.hpp"
#include "main/request.hpp"
#include "main/text.hpp"

namespace deskhand {

using nlohmann::json;

bool is_eligible(const Window& window) {
  return window.layer == 0 && window.frame.width > 1 && window.frame.height > 1 && window.owner.has_value();
}

std::vector<Window> eligible_windows(const std::vector<Window>& windows) {
  std::vector<Window> out;
  for (const Window& window : windows) {
    if (is_eligible(window)) out.push_back(window);
  }
  return out;
}

Result<std::vector<Window>> list_shareable_content(Platform& platform) {
  return await_report(platform, *platform.start_shareable_content(), "the window listing");
}

Result<std::vector<Window>> list_eligible_windows(Platform& platform) {
  auto listed = list_shareable_content(platform);
  if (!listed) return listed.failure();
  return eligible_windows(*listed);
}

json describe(const Window& window) {
  const OwningApplication owner = window.owner.value_or(OwningApplication{});
  return json{
      {"windowId", window.window_id},
      {"pid", owner.pid},
      {"app", owner.name},
      {"bundleId", owner.bundle_id},
      {"title", window.title ? prefix_scalars(*window.title, kMaxTitleCharacters) : std::string()},
      {"x", window.frame.x},
      {"y", window.frame.y},
      {"width", window.frame.width},
      {"height", window.frame.height},
  };
}

json windows_reply(const std::vector<Window>& eligible) {
  json list = json::array();
  for (std::size_t i = 0; i < eligible.size() && i < kMaxListedWindows; ++i) {
    list.push_back(describe(eligible[i]));
  }
  return json{{"windows", std::move(list)}};
}

Result<Window> select_window(const json& request, const std::vector<Window>& eligible) {
  const auto id = exact_uint32(member(request, "windowId"));
  if (id) {
    for (const Window& window : eligible) {
      if (window.window_id == *id) return window;
    }
  }
  return fail("The selected window is unavailable. List windows again.");
}

namespace {

// The integer part of a side scaled for capture, at least 1 pixel.
std::size_t scaled_side(double side, double scale) {
  const double scaled = side * scale;
  // The scale keeps every side at or below 1600; the bound only guards
  // against frames that are not finite numbers.
  if (!(scaled >= 1)) return 1;
  return static_cast<std::size_t>(std::min(scaled, kMaxCaptureSide));
}

}  // namespace

CaptureConfiguration capture_configuration(const Rect& frame) {
  const double scale = std::min(kMaxCaptureSide / std::max(frame.width, frame.height), 1.0);
  CaptureConfiguration configuration;
  configuration.width = scaled_side(frame.width, scale);
  configuration.height = scaled_side(frame.height, scale);
  configuration.shows_cursor = false;
  configuration.ignore_shadows_single_window = true;
  configuration.ignore_global_clip_single_window = true;
  return configuration;
}

Result<json> capture(Platform& platform, const Window& window) {
  auto captured = await_report(platform, *platform.start_capture_image(window, capture_configuration(window.frame)),
                               "the window capture");
  if (!captured) return captured.failure();
  const CapturedImage image = platform.encode_png(*captured);
  if (!image.png || image.png->empty() || image.png->size() > kMaxPngBytes) {
    return fail("Window screenshot exceeds 3 MB; resize the window and try again.");
  }
  json reply = describe(window);
  reply["image"] = base64_encode(*image.png);
  reply["pixelWidth"] = image.pixel_width;
  reply["pixelHeight"] = image.pixel_height;
  return reply;
}

}  // namespace deskhand
