#pragma once

#include "settings/Settings.h"

class QWidget;

// The main window's part in keeping its settings: where it starts and what it leaves
// behind. Shared by whichever widget is the main window.

// Lets the settings clamp window bounds to the real primary screen.
void InstallScreenSizeProvider();

// Size first, then position, then (when asked) the maximized state, which takes effect at
// the next show.
void PlaceWindow(QWidget& window, const Settings& settings);

// What closing records: never maximized, and the window's bounds unless it is maximized
// (then the bounds stored on entering full screen, or read at start, stay).
void StoreWindowBounds(const QWidget& window, Settings& settings);

// Points the logger at the log file when logging to a file is on, else at none.
void ChooseLogFile(const Settings& settings);
