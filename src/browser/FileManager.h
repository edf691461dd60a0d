#pragma once

#include <QString>
#include <string>

class QObject;

// A file:// URL for a local path given by its exact bytes: every byte outside the
// unreserved set is percent-encoded, so names that are not valid UTF-8 survive.
QString LocalFileUrl(const std::string& path);

// Asks the desktop's file manager to show `path` selected, through the freedesktop
// org.freedesktop.FileManager1.ShowItems call on the session bus. The call is
// asynchronous so a slow-starting file manager never freezes the window; when no file
// manager answers, the file's folder is opened with xdg-open instead. `context` owns the
// pending call: destroying it drops the answer (and the fallback).
void ShowInFileManager(const std::string& path, QObject* context);

// Opens the folder that holds `path` with xdg-open, started directly (no shell) with the
// folder as a file:// URL, which can never be mistaken for an option.
void OpenContainingFolder(const std::string& path);
