#pragma once

// Lets worker threads hand calls to the UI thread: each hand-off wakes Qt's event loop,
// which then runs every waiting call.
void InstallQtSynchronize();
