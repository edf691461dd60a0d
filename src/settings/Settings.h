#pragma once

#include <cstdint>
#include <string>

// Every persistent option of the program, kept in one INI file. A plain value: the
// settings dialog edits a copy and assigns it back.
struct Settings {
    std::int32_t appPositionX = 30;
    std::int32_t appPositionY = 30;
    std::int32_t appHeight = 300;
    std::int32_t appWidth = 350;
    bool maximized = false;
    bool alwaysOnTop = true;
    bool exitFullScreenOnStop = false;
    bool logToFile = false;
    std::uint32_t maxUiLogLines = 1000;
    // The cache list shows thumbnails rather than details.
    bool browserThumbnails = false;

    struct _Mplayer {
        std::string instance;
        bool operator==(const _Mplayer&) const = default;
    } Mplayer;

    struct _Opera {
        std::string cacheDir;
        std::int32_t minimalFileSize = 300;
        bool useOnlyG_XXXX = true;
        bool operator==(const _Opera&) const = default;
    } Opera;

    // The player executable used when the file names none.
    static constexpr const char* kDefaultInstance = "mplayer";

    // Fills the record from the file at `path`; what cannot be read keeps its default.
    // The window bounds are clamped to the primary screen. Returns false only when the
    // file layer failed outright.
    bool Read(const std::string& path);

    // Writes every key to the file at `path` in one atomic replacement, keeping everything
    // else in it. A text with a line break is refused: its key keeps what the file held,
    // the other keys are written. Returns false when a key was refused or the file could
    // not be replaced (then it is left as it was).
    bool Write(const std::string& path) const;

    bool operator==(const Settings&) const = default;
};
