#pragma once

#include <QIcon>

// The control bar's button images, drawn as vector shapes at whatever size and scale the
// button asks for, so they stay crisp on any screen.
namespace ControlIcons {

enum class Glyph { Play, PauseStill, Stop, Settings, Minimize, Fullscreen, Close, Previous, Next };

QIcon Make(Glyph glyph);

}  // namespace ControlIcons
