#pragma once

#include <QRect>
#include <cstdint>

// A connection of the test's own to the X server, as another client sees our windows.
// Kept apart from the Qt code: Xlib's macros clash with Qt's and GoogleTest's names.
class XView {
  public:
    XView();
    ~XView();
    XView(const XView&) = delete;
    XView& operator=(const XView&) = delete;

    bool Connected() const { return display != nullptr; }
    bool Exists(std::uintptr_t window);
    // `window` is `ancestor` or lies inside it.
    bool Inside(std::uintptr_t window, std::uintptr_t ancestor);
    // `state` (a name such as "_NET_WM_STATE_ABOVE") is in the window's _NET_WM_STATE.
    bool HasState(std::uintptr_t window, const char* state);
    bool WindowManagerRuns();
    // A hash of what the screen shows of `window` in `area` (window coordinates).
    std::uint64_t Picture(std::uintptr_t window, const QRect& area);

    // Sends the window manager's _NET_WM_PING, numbered `stamp`, to `window`.
    void SendPing(std::uintptr_t window, unsigned long stamp);
    // True once the answer to ping `stamp` has come back to the root window.
    bool PingAnswered(unsigned long stamp);

  private:
    void* display;
    bool watchingRoot = false;
    unsigned long lastAnswer = 0;
};
