#pragma once

#include "app/FormMain.h"

// The program's five windows, created in their fixed order: main window, settings dialog,
// about box, log window, media browser panel. Each is reachable through its global.
void CreateProgramWindows(const AppFiles& files);

// After the event loop: no player outlives the program, no worker thread outlives the
// windows, and the log window outlives every thread that could still log into it. Then
// the windows go and their globals are cleared. True when nothing was left running.
bool DestroyProgramWindows();
