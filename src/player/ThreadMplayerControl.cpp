#include "player/ThreadMplayerControl.h"

#include "log/Log.h"
#include "platform/Synchronize.h"

ThreadMplayerControl::ThreadMplayerControl(platform::PipeEnd pipe,
                                           std::shared_ptr<PlayerReport> playbackReport,
                                           std::function<void(const PlayerReport::News&)> news)
    : hPipe(pipe),
      report(std::move(playbackReport)),
      onNews(std::move(news)),
      lines(CLog::kMaxMessageLength) {
    Start();
}

ThreadMplayerControl::~ThreadMplayerControl() {
    platform::ClosePipe(hPipe);
}

void ThreadMplayerControl::Execute() {
    const OutputLines::LineSink log = [this](const std::string& line) {
        // The answers to our own time queries, several a second, are no news for the log.
        if (report && report->TakeAnswer(line)) {
            return;
        }
        CLog::Instance()->Log("%s", line.c_str());
        if (!report) {
            return;
        }
        const PlayerReport::News news = report->Take(line);
        if (news.kind != PlayerReport::News::kNothing && onNews) {
            platform::Synchronize([&] { onNews(news); });
        }
    };
    for (;;) {
        const long count = platform::ReadPipe(hPipe, buffer, kBufferSize);
        if (count <= 0) {
            if (report) {
                report->Finish();
            }
            // The pipe is drained and every writer has gone (or the read failed). Stopping
            // only here, never right after a read that brought data, means that the last
            // words of a player that has ended (often the reason it ended) still reach the
            // log.
            if (Terminated()) {
                return;
            }
            platform::SleepMilliseconds(1);
            continue;
        }
        lines.Feed(std::string_view(buffer, static_cast<std::size_t>(count)), log);
    }
}
