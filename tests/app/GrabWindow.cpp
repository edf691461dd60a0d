// grab_window WINDOW [PPM]: reads what the screen shows of a window (its children, such as
// the player's video, included) and prints one line:
//
//   X Y WIDTH HEIGHT BACKGROUND LIGHT HASH TOP LEFT
//
// the window's position on the screen and size, the share of pixels in the program's
// background colour 0x010101 and the share of light pixels (all channels above 200), both
// in thousandths, a hash of all pixels, so that two grabs can be compared, and how many
// pixels of the background colour come first down the middle column and along the middle
// row (the bars above and beside a picture kept at its aspect). With PPM,
// the picture is also written there. WINDOW is a window id (decimal or 0x hexadecimal).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: grab_window WINDOW [PPM]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "grab_window: no display\n");
        return 2;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        std::fprintf(stderr, "grab_window: no window %s\n", argv[1]);
        return 1;
    }
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child);
    const int width = attributes.width;
    const int height = attributes.height;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        std::fprintf(stderr, "grab_window: the window cannot be read\n");
        return 1;
    }
    std::FILE* ppm = argc == 3 ? std::fopen(argv[2], "wb") : nullptr;
    if (ppm != nullptr) {
        std::fprintf(ppm, "P6\n%d %d\n255\n", width, height);
    }
    const auto isBackground = [&](int column, int row) {
        return (XGetPixel(image, column, row) & 0xffffff) == 0x010101;
    };
    int top = 0, left = 0;
    while (top < height && isBackground(width / 2, top)) {
        ++top;
    }
    while (left < width && isBackground(left, height / 2)) {
        ++left;
    }
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    long background = 0, light = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            const unsigned char rgb[3] = {static_cast<unsigned char>((pixel >> 16) & 0xff),
                                          static_cast<unsigned char>((pixel >> 8) & 0xff),
                                          static_cast<unsigned char>(pixel & 0xff)};
            background += (pixel & 0xffffff) == 0x010101;
            light += rgb[0] > 200 && rgb[1] > 200 && rgb[2] > 200;
            for (unsigned char byte : rgb) {
                hash = (hash ^ byte) * 1099511628211ull;
            }
            if (ppm != nullptr) {
                std::fwrite(rgb, 1, 3, ppm);
            }
        }
    }
    if (ppm != nullptr) {
        std::fclose(ppm);
    }
    const long total = static_cast<long>(width) * height;
    std::printf("%d %d %d %d %ld %ld %016llx %d %d\n", x, y, width, height,
                total > 0 ? background * 1000 / total : 0, total > 0 ? light * 1000 / total : 0,
                static_cast<unsigned long long>(hash), top, left);
    XDestroyImage(image);
    XCloseDisplay(display);
    return 0;
}
