#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/CacheEntry.h"
#include "platform/Process.h"
#include "player/PlayerReport.h"

class ThreadMplayerWait;
class ThreadMplayerControl;

// Drives one external player process at a time in slave mode: starts it with its video in
// our window, writes slave commands to its standard input and reports the end of playback
// through OnStop. Every operation runs on the user interface thread.
//
// Results: 0 success; -1 no player runs, the instance file is missing (Init) or a pipe
// could not be made (start); -2 the write to the player failed, or the process could not
// be started. Slave lines never wait: a line the player's input pipe has no room for
// (the player has stopped reading) is dropped whole with -2, as is a line longer than
// the pipe can take in one piece.
class MPlayer {
  public:
    MPlayer() = default;
    MPlayer(const MPlayer&) = delete;
    MPlayer& operator=(const MPlayer&) = delete;

    int Init(std::int32_t parentWindow, std::uint32_t key, const std::string& path);
    int Play(const std::string& file);
    // Plays a cached body where it lies: a file as it is; a body inside its entry file
    // from its offset (`-sb`); a pieced body rebuilt into a private temporary file that
    // is removed when its playback ends.
    int Play(const cache::Entry& entry);
    int Pause();
    int FrameStep();
    int Seek(int seconds);
    int Osd();
    int ChangeVolume(int step);
    int Stop(bool notify);
    int SendCommand(const std::string& command);

    // Asks the player where playback is and, with `length`, how long the file is. The
    // queries leave a paused player paused; their answers come back through Time() a
    // moment later and never reach the log.
    int QueryTime(bool length);
    // Where the answers so far put playback; all zero before the first.
    PlayerReport::Clock Time() const;
    // Jumps to `seconds` from the start; a paused player stays paused.
    int SeekTo(double seconds);
    // The last playback reached the end of its file (rather than being stopped or failing).
    bool ReachedEnd() const;

    // At program end, after the event loop: asks a running player to quit, waits at most
    // `bound` for every player and worker thread to finish, then terminates the players
    // that are left (SIGTERM, then SIGKILL, each followed by another bounded wait).
    // OnStop does not fire for these players. True when nothing is left running; the
    // controller can then play again (tests shut down between cases).
    bool Shutdown(std::chrono::milliseconds bound);

    // The command line of the last Play, exactly as it was built.
    const std::string& CommandLine() const { return commandLine; }

    // The argument vector of the last Play: the same parts as the command line.
    const std::vector<std::string>& Arguments() const { return arguments; }

    // Work that puts a file together before it can play (pieces rebuilt, a stream's
    // segments joined); it stops early, and fails, once `keepGoing` says false.
    using KeepGoing = std::function<bool(std::uint64_t done, std::uint64_t total)>;
    using Preparation = std::function<bool(const KeepGoing& keepGoing)>;
    // Runs a preparation to its end and returns its result. The window installs one that
    // runs it on a thread of its own while the window keeps answering, and offers a
    // cancel when it takes long; without one it runs right here.
    std::function<bool(const Preparation&)> RunPreparation;

    // Fired on the user interface thread when playback has stopped or failed to start.
    std::function<void()> OnStop;

    // Fired on the user interface thread when the file playing turns out to have sound
    // only: the player draws nothing into the window then.
    std::function<void()> OnAudioOnly;

    // Fired on the user interface thread when the player has set up its video output: the
    // picture's size as it is meant to be seen. The player fills whatever window it draws
    // into, so keeping the aspect is the window's part.
    std::function<void(int width, int height)> OnPictureSize;

    // Why the last playback ended early, for the user: the player's own line (its "File
    // not found" or the like) when it gave up within kQuickEnd of its start without being
    // asked to stop and before the file played, or why it could not be started. Empty
    // otherwise. Set before OnStop fires, cleared by the next Play.
    const std::string& FailureLine() const { return failureLine; }
    static constexpr std::chrono::seconds kQuickEnd{5};

  private:
    int PlayFrom(const std::string& file, std::uint64_t bodyOffset);
    // Plays a file that `write` makes in the private temporary folder, removed at stop.
    // A Stop or Shutdown while it is written cancels the play without a failure line.
    int PlayTemporary(const std::string& extension,
                      const std::function<bool(const std::string& target, std::string& error,
                                               const KeepGoing& keepGoing)>& write);
    // Gives up on a play before any player starts: `reason` is the failure line.
    int Refuse(const std::string& reason);
    void DropTemporaryBody();
    int StartProcess(const std::string& line, const std::vector<std::string>& argv);
    void OnProcessExit(const platform::ProcessHandle& exited);
    bool IsRunning() const;
    void ReleaseReplacedPlayer();
    std::string QuickFailure() const;
    void AskToQuit();

    std::int32_t parentWnd = 0;
    std::uint32_t colorKey = 0;
    platform::ProcessHandle hProcess;
    // A copy for the reader thread, which owns and closes it.
    platform::PipeEnd hStdOutRead = platform::kNoPipe;
    platform::PipeEnd hStdInWrite = platform::kNoPipe;
    std::string instance;
    ThreadMplayerWait* threadWait = nullptr;
    ThreadMplayerControl* threadControl = nullptr;

    std::string commandLine;
    std::vector<std::string> arguments;
    bool shuttingDown = false;
    // The rebuilt body the current player plays, if any; ours to remove.
    std::string temporaryBody;

    std::shared_ptr<PlayerReport> report;
    std::chrono::steady_clock::time_point started;
    bool stopRequested = false;
    // Set on this thread by Stop and Shutdown, read by a preparation's thread.
    std::atomic<bool> preparationCancelled{false};
    std::string failureLine;
};

// The program's one player controller.
extern MPlayer mplayer;
