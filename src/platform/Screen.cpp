#include "platform/Screen.h"

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex providerLock;

ScreenSizeProvider& Provider() {
    static ScreenSizeProvider provider;
    return provider;
}

}  // namespace

void SetScreenSizeProvider(ScreenSizeProvider provider) {
    std::lock_guard<std::mutex> hold(providerLock);
    Provider() = std::move(provider);
}

ScreenSize PrimaryScreenSize() {
    ScreenSizeProvider provider;
    {
        std::lock_guard<std::mutex> hold(providerLock);
        provider = Provider();
    }
    if (provider) {
        const ScreenSize size = provider();
        if (size.width > 0 && size.height > 0) {
            return size;
        }
    }
    return kFallbackScreenSize;
}

}  // namespace platform
