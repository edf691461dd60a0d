#include "player/Mplayer.h"

#include <algorithm>
#include <cstdio>

#include "cache/MediaType.h"
#include "cache/Rebuild.h"
#include "cache/Stream.h"
#include "join/StreamJoin.h"
#include "platform/Thread.h"
#include "platform/WritableFile.h"
#include "player/PlayerReport.h"
#include "player/ThreadMplayerControl.h"
#include "player/ThreadMplayerWait.h"

MPlayer mplayer;

namespace {

// "0x%x": lower-case hexadecimal without leading zeros.
std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// "%d": signed decimal.
std::string Decimal(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

// A relative name starting with "-" would be read as an option by the player.
std::string AsFileArgument(const std::string& file) {
    return !file.empty() && file[0] == '-' ? "./" + file : file;
}

}  // namespace

int MPlayer::Init(std::int32_t parentWindow, std::uint32_t key, const std::string& path) {
    parentWnd = parentWindow;
    colorKey = key;
    if (!platform::ExecutableExists(path)) {
        return -1;
    }
    instance = path;
    return 0;
}

int MPlayer::Play(const std::string& file) {
    return PlayFrom(file, 0);
}

int MPlayer::Play(const cache::Entry& entry) {
    if (entry.storage == cache::Storage::Pieces) {
        // The player needs a file it can seek in: the ranges are put together first.
        return PlayTemporary(
            cache::ExtensionForType(entry.contentType),
            [&entry](const std::string& target, std::string& error, const KeepGoing& keepGoing) {
                error = "The cached pieces of this file could not be put together to play.";
                // The rebuild runs whole: a cancel meanwhile counts at its end.
                return keepGoing(0, 1) && cache::RebuildPieces(entry, target) && keepGoing(1, 1);
            });
    }
    if (entry.storage == cache::Storage::Stream && entry.stream) {
        const cache::Stream& stream = *entry.stream;
        if (stream.protection == cache::Protection::Drm) {
            return Refuse(
                "This stream is protected (DRM): its pictures cannot be played outside the "
                "browser that fetched its keys.");
        }
        // Segments joined into one file the player can seek in, its sound beside its
        // picture.
        return PlayTemporary(
            join::JoinedExtension(stream, join::Purpose::Play),
            [&stream](const std::string& target, std::string& error, const KeepGoing& keepGoing) {
                std::string why;
                const bool joined =
                    join::JoinStream(stream, join::Purpose::Play, target, why, keepGoing);
                error = "The cached segments of this stream could not be joined to play: " + why;
                return joined;
            });
    }
    // A Firefox entry plays as it is: the metadata after the body does the player no harm.
    return PlayFrom(entry.file, entry.storage == cache::Storage::Span ? entry.bodyOffset : 0);
}

int MPlayer::PlayTemporary(const std::string& extension,
                           const std::function<bool(const std::string& target, std::string& error,
                                                    const KeepGoing& keepGoing)>& write) {
    const std::string path = cache::NewTemporaryBodyPath(extension);
    if (path.empty()) {
        return Refuse("There is no private temporary folder to put the file together in.");
    }
    std::string error;
    preparationCancelled = false;
    std::atomic<bool> givenUp{false};  // by the user, through what runs the preparation
    const Preparation prepare = [&](const KeepGoing& keepGoing) {
        return write(path, error, [&](std::uint64_t done, std::uint64_t total) {
            if (!keepGoing(done, total)) {
                givenUp = true;
            }
            return !givenUp && !preparationCancelled;
        });
    };
    const KeepGoing always = [](std::uint64_t, std::uint64_t) { return true; };
    const bool written = RunPreparation ? RunPreparation(prepare) : prepare(always);
    const bool cancelled = givenUp || preparationCancelled || shuttingDown;
    preparationCancelled = false;
    if (!written || cancelled) {
        platform::RemoveFile(path);
        // A cancel is the user's own choice, not a failure to report.
        return Refuse(cancelled ? std::string() : error);
    }
    const int result = PlayFrom(path, 0);
    if (result == 0) {
        temporaryBody = path;
    } else {
        platform::RemoveFile(path);
    }
    return result;
}

int MPlayer::Refuse(const std::string& reason) {
    failureLine = reason;
    if (OnStop) {
        OnStop();
    }
    return -2;
}

void MPlayer::DropTemporaryBody() {
    if (!temporaryBody.empty()) {
        // A player still holding it open keeps reading it; the name goes now.
        platform::RemoveFile(temporaryBody);
        temporaryBody.clear();
    }
}

int MPlayer::PlayFrom(const std::string& file, std::uint64_t bodyOffset) {
    const std::string key = Hex(colorKey);
    const std::string window = Decimal(parentWnd);

    // The text is what the user sees; the process gets the same parts as separate
    // arguments, so no character of either path can end an argument or start an option.
    commandLine.clear();
    commandLine += "\"" + instance + "\" ";
    // -zoom lets every video output scale the picture to the window, the plain X11 one
    // included (it is what virtual machines, remote desktops and Xvfb fall back to).
    commandLine += "-slave -identify -colorkey " + key + " -quiet -keepaspect -zoom ";
    commandLine += "-wid " + window + " ";
    arguments = {instance, "-slave",      "-identify", "-colorkey", key,
                 "-quiet", "-keepaspect", "-zoom",     "-wid",      window};
    if (bodyOffset > 0) {
        // A body behind its entry's header and key: the player skips to it.
        const std::string offset = std::to_string(bodyOffset);
        commandLine += "-sb " + offset + " ";
        arguments.push_back("-sb");
        arguments.push_back(offset);
    }
    commandLine += "\"" + file + "\" ";
    arguments.push_back(AsFileArgument(file));

    failureLine.clear();
    const int result = StartProcess(commandLine, arguments);
    if (result != 0) {
        failureLine = instance.empty() ? "The player could not be started: no mplayer was found."
                                       : "The player could not be started: " + instance;
        if (OnStop) {
            OnStop();
        }
    }
    return result;
}

bool MPlayer::IsRunning() const {
    return hProcess && hStdInWrite != platform::kNoPipe;
}

void MPlayer::ReleaseReplacedPlayer() {
    if (threadWait != nullptr || threadControl != nullptr) {
        // Play over a player that was never stopped: it is abandoned like Stop(false).
        Stop(false);
    }
    if (hProcess) {
        // Its exit, whenever it comes, no longer concerns us: the wait thread reaps it and
        // the reader closes its own pipe end.
        platform::ClosePipe(hStdInWrite);
        hStdInWrite = platform::kNoPipe;
        hStdOutRead = platform::kNoPipe;
        hProcess.reset();
    }
}

int MPlayer::StartProcess(const std::string& line, const std::vector<std::string>& argv) {
    (void)line;  // the text is for people; the process is started from the same parts
    ReleaseReplacedPlayer();
    DropTemporaryBody();

    platform::PipeEnd outputWrite = platform::kNoPipe;
    if (!platform::CreatePipe(hStdOutRead, outputWrite)) {
        hStdOutRead = platform::kNoPipe;
        return -1;
    }
    platform::PipeEnd inputRead = platform::kNoPipe;
    // A player that stops reading (paused by a signal, blocked opening a fifo) must never
    // hold the user interface thread in a write.
    if (!platform::CreatePipe(inputRead, hStdInWrite, true)) {
        platform::ClosePipe(hStdOutRead);
        platform::ClosePipe(outputWrite);
        hStdOutRead = platform::kNoPipe;
        hStdInWrite = platform::kNoPipe;
        return -1;
    }

    platform::ProcessHandle process =
        platform::SpawnProcess(argv, inputRead, outputWrite, hStdOutRead);
    // Only the player may hold its ends: our copies would keep its output pipe open after
    // it has gone.
    platform::ClosePipe(inputRead);
    platform::ClosePipe(outputWrite);
    if (!process) {
        platform::ClosePipe(hStdOutRead);
        platform::ClosePipe(hStdInWrite);
        hStdOutRead = platform::kNoPipe;
        hStdInWrite = platform::kNoPipe;
        return -2;
    }
    hProcess = process;

    report = std::make_shared<PlayerReport>();
    started = std::chrono::steady_clock::now();
    stopRequested = false;
    // The callbacks name their own process, so a late word of an older player is told
    // apart.
    threadWait = new ThreadMplayerWait(
        process, [this, process] { OnProcessExit(process); }, report);
    threadControl = new ThreadMplayerControl(
        hStdOutRead, report, [this, process](const PlayerReport::News& news) {
            if (process != hProcess) {
                return;
            }
            if (news.kind == PlayerReport::News::kAudioOnly && OnAudioOnly) {
                OnAudioOnly();
            } else if (news.kind == PlayerReport::News::kPictureSize && OnPictureSize) {
                OnPictureSize(news.width, news.height);
            }
        });
    return 0;
}

int MPlayer::SendCommand(const std::string& command) {
    if (!IsRunning()) {
        return -1;
    }
    const std::string text = command + "\n";
    // A line goes into the pipe whole or not at all: half a line would run into the next.
    if (text.size() > platform::kPipeAtomicWrite) {
        return -2;
    }
    return platform::WritePipe(hStdInWrite, text.data(), text.size()) ? 0 : -2;
}

int MPlayer::Pause() {
    return IsRunning() ? SendCommand("pause") : -1;
}

int MPlayer::FrameStep() {
    return IsRunning() ? SendCommand("frame_step") : -1;
}

int MPlayer::Seek(int seconds) {
    return IsRunning() ? SendCommand("seek " + Decimal(seconds)) : -1;
}

int MPlayer::Osd() {
    return SendCommand("osd");
}

int MPlayer::ChangeVolume(int step) {
    return SendCommand("volume " + Decimal(step));
}

int MPlayer::Stop(bool notify) {
    preparationCancelled = true;  // a file being put together for a play is not wanted
    if (!IsRunning()) {
        return -1;
    }
    stopRequested = true;
    if (threadWait != nullptr && !notify) {
        threadWait->callbackEnabled = false;
    }
    AskToQuit();
    if (threadControl != nullptr) {
        threadControl->Terminate();
        threadControl = nullptr;
    }
    if (threadWait != nullptr) {
        threadWait->Terminate();
        threadWait = nullptr;
        platform::SleepMilliseconds(100);
    }
    return 0;
}

// A player stopped by a signal (SIGSTOP, or a debugger's stop) would read the line only
// once something continues it, and the bounded waits of shutdown would run out first.
void MPlayer::AskToQuit() {
    (void)SendCommand("quit");
    if (hProcess) {
        (void)hProcess->Continue();
    }
}

void MPlayer::OnProcessExit(const platform::ProcessHandle& exited) {
    if (exited != hProcess) {
        return;  // an older player that a newer Play has replaced
    }
    hProcess.reset();
    DropTemporaryBody();
    hStdOutRead = platform::kNoPipe;  // the reader closes it when it stops
    platform::ClosePipe(hStdInWrite);
    hStdInWrite = platform::kNoPipe;
    threadWait = nullptr;
    if (threadControl != nullptr) {
        threadControl->Terminate();
        threadControl = nullptr;
    }
    failureLine = QuickFailure();
    if (OnStop && !shuttingDown) {
        OnStop();
    }
}

std::string MPlayer::QuickFailure() const {
    if (!report || stopRequested || std::chrono::steady_clock::now() - started > kQuickEnd ||
        report->Played()) {
        return {};
    }
    std::string line = report->ErrorLine();
    if (line.empty() && !report->PlaybackStarted()) {
        // The player often gives up on a file it cannot read without a word of why.
        line = "The player found nothing it could play in the file.";
    }
    return line;
}

bool MPlayer::Shutdown(std::chrono::milliseconds bound) {
    shuttingDown = true;
    preparationCancelled = true;
    if (IsRunning()) {
        AskToQuit();
        if (threadControl != nullptr) {
            threadControl->Terminate();
            threadControl = nullptr;
        }
        threadWait = nullptr;  // its callback still releases the handles, without OnStop
    }
    bool finished = platform::WaitForThreads(bound);
    if (!finished) {
        platform::SignalLiveChildren(false);
        finished = platform::WaitForThreads(bound);
    }
    if (!finished) {
        platform::SignalLiveChildren(true);
        finished = platform::WaitForThreads(bound);
    }
    DropTemporaryBody();
    // With every player and thread gone no late exit can arrive, so the controller may
    // serve again; otherwise it stays silent.
    shuttingDown = !finished;
    return finished;
}

int MPlayer::QueryTime(bool length) {
    if (!IsRunning()) {
        return -1;
    }
    // "pausing_keep_force": a paused player answers and stays paused. Each query is
    // counted before it goes, so that its answer is known as ours however fast it comes.
    const auto ask = [this](PlayerReport::Query query, const char* line) {
        report->Asked(query, 1);
        if (SendCommand(line) == 0) {
            return true;
        }
        report->Asked(query, -1);
        return false;
    };
    if (!ask(PlayerReport::Query::kPosition, "pausing_keep_force get_time_pos")) {
        return -2;
    }
    if (length && !ask(PlayerReport::Query::kLength, "pausing_keep_force get_time_length")) {
        return -2;
    }
    return 0;
}

PlayerReport::Clock MPlayer::Time() const {
    return report ? report->Time() : PlayerReport::Clock{};
}

int MPlayer::SeekTo(double seconds) {
    char text[64];
    // Type 2: absolute seconds.
    std::snprintf(text, sizeof text, "pausing_keep seek %.1f 2", std::max(0.0, seconds));
    return SendCommand(text);
}

bool MPlayer::ReachedEnd() const {
    return report && report->ReachedEnd();
}
