// The playback report over whatever the player prints, one line per '\n' of the input:
// the error line it keeps must be one of the lines given and one it calls an error, the
// first of them; "no video" is announced once at most, and only for a line that says so; a
// picture size comes only from the video output's line, and is never absurd.
// The cache label over any path below a place: it never comes out empty.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "cache/CacheDiscovery.h"
#include "player/PlayerReport.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = fuzz::SplitFields(data, size, 2);
    const std::string_view path = fields[0];
    std::string_view output = fields[1];

    PlayerReport report;
    std::string firstError;
    int announced = 0;
    bool saysNoVideo = false;
    while (!output.empty()) {
        const std::size_t lf = output.find('\n');
        const std::string line(output.substr(0, lf));
        output.remove_prefix(lf == std::string_view::npos ? output.size() : lf + 1);
        if (line.rfind("Video: no video", 0) == 0) {
            saysNoVideo = true;
        } else if (firstError.empty() && line.rfind("Starting playback...", 0) != 0 &&
                   PlayerReport::IsErrorLine(line)) {
            firstError = line;
        }
        PlayerReport::Query query = PlayerReport::Query::kPosition;
        double seconds = 0;
        if (PlayerReport::AnswerOf(line, query, seconds)) {
            Check(line.rfind("ANS_", 0) == 0 && seconds >= 0 && seconds <= 366.0 * 24 * 3600,
                  "an answer only from an answer line, and a time a file can have",
                  {{"line", line}});
            report.Asked(query, 1);
            Check(report.TakeAnswer(line), "an answer asked for is taken", {{"line", line}});
            continue;  // taken answers never reach the log, nor the rest of the report
        }
        Check(!report.TakeAnswer(line), "only answers are taken", {{"line", line}});
        const PlayerReport::News news = report.Take(line);
        announced += news.kind == PlayerReport::News::kAudioOnly ? 1 : 0;
        if (news.kind == PlayerReport::News::kPictureSize) {
            Check(line.rfind("VO: [", 0) == 0 && news.width > 0 && news.height > 0 &&
                      news.width <= 65536 && news.height <= 65536,
                  "a picture size only from the video output's line, and a sane one",
                  {{"line", line}});
        }
    }
    report.Finish();
    Check(report.ErrorLine() == firstError, "the first error line is kept",
          {{"kept", report.ErrorLine()}, {"expected", firstError}});
    Check(announced == (saysNoVideo ? 1 : 0), "no video is announced once, and only then",
          {{"output", fields[1]}});
    Check(report.AudioOnly() == saysNoVideo, "the report knows the file has no video",
          {{"output", fields[1]}});

    for (const auto format : {cache::Format::Chromium, cache::Format::Firefox}) {
        const std::string label = cache::CacheLabel(format, std::string(path), "snap");
        Check(!label.empty(), "a cache always has a name", {{"path", path}});
    }
    return 0;
}
