#pragma once

#include <functional>

namespace platform {

struct ScreenSize {
    int width = 0;
    int height = 0;
};

// Reports the primary screen's size in the units window positions use. The program
// installs one that asks the window system; tests install their own.
using ScreenSizeProvider = std::function<ScreenSize()>;

// When no provider is installed (or it reports a size that is not positive), the primary
// screen counts as 1920 x 1080, the most common desktop size, so that code without a
// window system still gets a plausible screen to clamp against.
constexpr ScreenSize kFallbackScreenSize{1920, 1080};

// Installs `provider` for every later call; an empty one restores the fallback.
void SetScreenSizeProvider(ScreenSizeProvider provider);

ScreenSize PrimaryScreenSize();

}  // namespace platform
