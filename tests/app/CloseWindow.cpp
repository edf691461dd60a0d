// close_window NAME: asks every top-level window titled NAME to close, the way a window
// manager's close button does (WM_DELETE_WINDOW), so the program runs its normal close.
// Exits 0 when at least one window was asked, 1 when none was found.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: close_window NAME\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "close_window: no display\n");
        return 2;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    int asked = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
                if (std::strcmp(name, argv[1]) == 0) {
                    XEvent event;
                    std::memset(&event, 0, sizeof event);
                    event.xclient.type = ClientMessage;
                    event.xclient.window = children[i];
                    event.xclient.message_type = protocols;
                    event.xclient.format = 32;
                    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
                    event.xclient.data.l[1] = CurrentTime;
                    XSendEvent(display, children[i], False, NoEventMask, &event);
                    ++asked;
                }
                XFree(name);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    XSync(display, False);
    XCloseDisplay(display);
    return asked > 0 ? 0 : 1;
}
