#include "settings/Settings.h"

#include "platform/Screen.h"
#include "settings/IniFile.h"

namespace {

constexpr const char* kMainSection = "frmMain";
constexpr const char* kLoggingSection = "Logging";
constexpr const char* kMplayerSection = "Mplayer";
constexpr const char* kOperaSection = "Opera";

constexpr std::int32_t kMinWidth = 250;
constexpr std::int32_t kMinHeight = 200;
// A window may overhang the screen by this much (its frame) and still be kept.
constexpr std::int64_t kOverhang = 20;

// A size outside [minimum, screen + overhang] falls back to the minimum, not the default.
std::int32_t ClampSize(std::int32_t size, std::int32_t minimum, int screen) {
    return (size < minimum || size > screen + kOverhang) ? minimum : size;
}

// Off the top-left corner moves to 0; past the far edge moves back by the overshoot. The
// second rule wins, so a window wider than the screen ends at a negative position.
std::int32_t ClampPosition(std::int32_t position, std::int32_t size, int screen) {
    std::int64_t clamped = position < 0 ? 0 : position;
    if (clamped + size > screen) {
        clamped = static_cast<std::int64_t>(screen) - size;
    }
    return static_cast<std::int32_t>(clamped);
}

}  // namespace

bool Settings::Read(const std::string& path) {
    IniFile ini(path);
    const platform::ScreenSize screen = platform::PrimaryScreenSize();

    appWidth = ClampSize(ini.ReadInteger(kMainSection, "AppWidth", 350), kMinWidth, screen.width);
    appHeight =
        ClampSize(ini.ReadInteger(kMainSection, "AppHeight", 300), kMinHeight, screen.height);
    appPositionX = ini.ReadInteger(kMainSection, "AppPositionX", 30);
    appPositionY = ini.ReadInteger(kMainSection, "AppPositionY", 30);
    appPositionX = ClampPosition(appPositionX, appWidth, screen.width);
    appPositionY = ClampPosition(appPositionY, appHeight, screen.height);

    maximized = ini.ReadBool(kMainSection, "Maximized", false);
    alwaysOnTop = ini.ReadBool(kMainSection, "AlwaysOnTop", true);
    exitFullScreenOnStop = ini.ReadBool(kMainSection, "ExitFullScreenOnStop", false);
    browserThumbnails = ini.ReadBool(kMainSection, "BrowserThumbnails", false);
    logToFile = ini.ReadBool(kLoggingSection, "LogToFile", false);
    // Stored through the signed reader: the same 32 bits that WriteInteger wrote.
    maxUiLogLines =
        static_cast<std::uint32_t>(ini.ReadInteger(kLoggingSection, "MaxUiLogLines", 1000));
    Mplayer.instance = ini.ReadString(kMplayerSection, "Instance", kDefaultInstance);
    Opera.cacheDir = ini.ReadString(kOperaSection, "CacheDir", "");
    Opera.minimalFileSize = ini.ReadInteger(kOperaSection, "MinimalFileSize", 300);
    Opera.useOnlyG_XXXX = ini.ReadBool(kOperaSection, "UseOnlyG_XXXX", true);
    return !ini.ReadFailed();
}

bool Settings::Write(const std::string& path) const {
    IniFile ini(path);
    const auto integer = IniFile::IntegerText;
    const auto boolean = IniFile::BoolText;
    // One replacement of the file for the whole record: a reader (or a crash) never meets
    // half of it, and a large file is rewritten once, not once per key.
    return ini.WriteValues({
        {kMainSection, "AppWidth", integer(appWidth)},
        {kMainSection, "AppHeight", integer(appHeight)},
        {kMainSection, "AppPositionX", integer(appPositionX)},
        {kMainSection, "AppPositionY", integer(appPositionY)},
        {kMainSection, "Maximized", boolean(maximized)},
        {kMainSection, "AlwaysOnTop", boolean(alwaysOnTop)},
        {kMainSection, "ExitFullScreenOnStop", boolean(exitFullScreenOnStop)},
        {kMainSection, "BrowserThumbnails", boolean(browserThumbnails)},
        {kLoggingSection, "LogToFile", boolean(logToFile)},
        {kLoggingSection, "MaxUiLogLines", integer(static_cast<std::int32_t>(maxUiLogLines))},
        {kMplayerSection, "Instance", Mplayer.instance},
        {kOperaSection, "CacheDir", Opera.cacheDir},
        {kOperaSection, "MinimalFileSize", integer(Opera.minimalFileSize)},
        {kOperaSection, "UseOnlyG_XXXX", boolean(Opera.useOnlyG_XXXX)},
    });
}
