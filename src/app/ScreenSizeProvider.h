#pragma once

// Lets the settings clamp the window bounds to the real primary screen.
void InstallScreenSizeProvider();
