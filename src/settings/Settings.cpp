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
    // Stops at the first failure; what was written before it stays written.
    return ini.WriteInteger(kMainSection, "AppWidth", appWidth) &&
           ini.WriteInteger(kMainSection, "AppHeight", appHeight) &&
           ini.WriteInteger(kMainSection, "AppPositionX", appPositionX) &&
           ini.WriteInteger(kMainSection, "AppPositionY", appPositionY) &&
           ini.WriteBool(kMainSection, "Maximized", maximized) &&
           ini.WriteBool(kMainSection, "AlwaysOnTop", alwaysOnTop) &&
           ini.WriteBool(kMainSection, "ExitFullScreenOnStop", exitFullScreenOnStop) &&
           ini.WriteBool(kLoggingSection, "LogToFile", logToFile) &&
           ini.WriteInteger(kLoggingSection, "MaxUiLogLines",
                            static_cast<std::int32_t>(maxUiLogLines)) &&
           ini.WriteString(kMplayerSection, "Instance", Mplayer.instance) &&
           ini.WriteString(kOperaSection, "CacheDir", Opera.cacheDir) &&
           ini.WriteInteger(kOperaSection, "MinimalFileSize", Opera.minimalFileSize) &&
           ini.WriteBool(kOperaSection, "UseOnlyG_XXXX", Opera.useOnlyG_XXXX);
}
