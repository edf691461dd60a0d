#include "join/StreamJoin.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "cache/StreamAssembly.h"
#include "media/AvioSeek.h"
#include "platform/WritableFile.h"

namespace join {

namespace {

using cache::Container;
using cache::TrackKind;

// Copies by concatenation go through this much at a time: large enough for the disk, not
// the buffer, to set the pace.
constexpr std::size_t kCopyChunk = 4u << 20;
constexpr int kReadBuffer = 256 * 1024;
constexpr int kWriteBuffer = 1 << 20;
// A timestamp further than this from zero is garbage, whatever the time base; keeping to
// it also keeps every sum below far from overflowing.
constexpr double kMaxSeconds = 1e7;
// A jump ahead longer than this, where the stream's own length is not known, is not a
// gap of missing segments but a new timeline.
constexpr double kMaxGapSeconds = 3600;
// How often, in packets, the remux reports progress and asks whether to go on.
constexpr unsigned kProgressEvery = 256;
// Formats a track whose container the manifest does not name may be read as. Playlists
// and concatenation formats are left out: they would open other files or addresses.
constexpr char kWriteError[] = "The file could not be written (is the disk full?).";
constexpr char kFormats[] = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,mpegts,mp3,aac,flv,ogg";

// libav* report through a process-wide logger: nothing of it may reach the terminal.
void Quiet() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_log_set_callback([](void*, int, const char*, va_list) {});
    });
}

bool Concatenates(const cache::Stream& stream, Purpose purpose) {
    if (purpose != Purpose::Play || stream.tracks.size() != 1) {
        return false;
    }
    const cache::StreamTrack& track = stream.tracks.front();
    return track.container == Container::MpegTs ||
           (track.container == Container::Fmp4 && track.init.has_value());
}

// ---- The container a remux writes ------------------------------------------------

enum class Box { Mp4, WebM, Matroska };

const char* ExtensionOf(Box box) {
    return box == Box::Mp4 ? "mp4" : box == Box::WebM ? "webm" : "mkv";
}

const char* MuxerOf(Box box) {
    return box == Box::Mp4 ? "mp4" : box == Box::WebM ? "webm" : "matroska";
}

Box BoxFor(const std::vector<AVCodecID>& codecs) {
    static constexpr AVCodecID kMp4[] = {AV_CODEC_ID_H264,  AV_CODEC_ID_HEVC, AV_CODEC_ID_AV1,
                                         AV_CODEC_ID_MPEG4, AV_CODEC_ID_AAC,  AV_CODEC_ID_MP3,
                                         AV_CODEC_ID_OPUS,  AV_CODEC_ID_AC3,  AV_CODEC_ID_EAC3,
                                         AV_CODEC_ID_FLAC,  AV_CODEC_ID_ALAC};
    static constexpr AVCodecID kWebM[] = {AV_CODEC_ID_VP8, AV_CODEC_ID_VP9, AV_CODEC_ID_AV1,
                                          AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS};
    auto allIn = [&](const auto& set) {
        return !codecs.empty() && std::all_of(codecs.begin(), codecs.end(), [&](AVCodecID id) {
            return std::find(std::begin(set), std::end(set), id) != std::end(set);
        });
    };
    return allIn(kMp4) ? Box::Mp4 : allIn(kWebM) ? Box::WebM : Box::Matroska;
}

// The codec an RFC 6381 name ("avc1.64001f", "mp4a.40.2", "opus") stands for.
AVCodecID CodecNamed(std::string_view name) {
    struct Name {
        std::string_view prefix;
        AVCodecID id;
    };
    // Longer prefixes first where one begins another.
    static constexpr Name kNames[] = {
        {"avc1", AV_CODEC_ID_H264},      {"avc3", AV_CODEC_ID_H264},
        {"hvc1", AV_CODEC_ID_HEVC},      {"hev1", AV_CODEC_ID_HEVC},
        {"av01", AV_CODEC_ID_AV1},       {"vp09", AV_CODEC_ID_VP9},
        {"vp9", AV_CODEC_ID_VP9},        {"vp08", AV_CODEC_ID_VP8},
        {"vp8", AV_CODEC_ID_VP8},        {"mp4v.20", AV_CODEC_ID_MPEG4},
        {"mp4a.40.34", AV_CODEC_ID_MP3}, {"mp4a.69", AV_CODEC_ID_MP3},
        {"mp4a.6b", AV_CODEC_ID_MP3},    {"mp4a.40", AV_CODEC_ID_AAC},
        {"mp4a.66", AV_CODEC_ID_AAC},    {"mp4a.67", AV_CODEC_ID_AAC},
        {"mp4a.a5", AV_CODEC_ID_AC3},    {"ac-3", AV_CODEC_ID_AC3},
        {"mp4a.a6", AV_CODEC_ID_EAC3},   {"ec-3", AV_CODEC_ID_EAC3},
        {"opus", AV_CODEC_ID_OPUS},      {"vorbis", AV_CODEC_ID_VORBIS},
        {"flac", AV_CODEC_ID_FLAC},      {"alac", AV_CODEC_ID_ALAC},
    };
    for (const Name& n : kNames) {
        if (name.substr(0, n.prefix.size()) == n.prefix &&
            (name.size() == n.prefix.size() || name[n.prefix.size()] == '.')) {
            return n.id;
        }
    }
    return AV_CODEC_ID_NONE;
}

// The codecs the manifest names for every track; false where one names none or one we
// do not know.
bool NamedCodecs(const cache::Stream& stream, std::vector<AVCodecID>& codecs) {
    for (const cache::StreamTrack& track : stream.tracks) {
        if (track.codecs.empty()) {
            return false;
        }
        std::string lower;
        for (char c : track.codecs) {
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::string_view rest = lower;
        while (!rest.empty()) {
            const std::size_t comma = std::min(rest.find(','), rest.size());
            std::string_view name = rest.substr(0, comma);
            rest.remove_prefix(std::min(comma + 1, rest.size()));
            while (!name.empty() && name.front() == ' ') {
                name.remove_prefix(1);
            }
            while (!name.empty() && name.back() == ' ') {
                name.remove_suffix(1);
            }
            const AVCodecID id = CodecNamed(name);
            if (id == AV_CODEC_ID_NONE) {
                return false;
            }
            codecs.push_back(id);
        }
    }
    return !codecs.empty();
}

// ---- One track read by libavformat -----------------------------------------------

struct Input {
    std::unique_ptr<cache::BodyReader> reader;
    std::int64_t size = 0;
    std::int64_t position = 0;
    std::int64_t furthest = 0;
    bool readFailed = false;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    std::vector<int> outputOf;   // per stream of the input: the output stream, or -1
    AVPacket* packet = nullptr;  // the next one to write, while `ready`
    bool ready = false;

    Input() = default;
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;
    ~Input() {
        avformat_close_input(&format);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        av_packet_free(&packet);
    }
};

int ReadTrack(void* opaque, std::uint8_t* buffer, int size) {
    auto* in = static_cast<Input*>(opaque);
    if (size <= 0 || in->position >= in->size) {
        return AVERROR_EOF;
    }
    const std::int64_t got = in->reader->ReadAt(static_cast<std::uint64_t>(in->position), buffer,
                                                static_cast<std::size_t>(size));
    if (got < 0) {
        in->readFailed = true;
        return AVERROR(EIO);
    }
    if (got == 0) {
        return AVERROR_EOF;
    }
    in->position += got;
    in->furthest = std::max(in->furthest, in->position);
    return static_cast<int>(got);
}

// A seek in a track read or the file written, both of which know their position and
// size. Offsets come from the data: the target must stay in [0, INT64_MAX].
template <class Io>
std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* io = static_cast<Io*>(opaque);
    const std::int64_t target = media::AvioSeekTarget(io->position, io->size, offset, whence);
    if (target >= 0 && (whence & ~AVSEEK_FORCE) != AVSEEK_SIZE) {
        io->position = target;
    }
    return target;
}

// Other files and addresses named inside a track are never opened.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

const char* TrackName(TrackKind kind) {
    return kind == TrackKind::Video ? "video" : kind == TrackKind::Audio ? "sound" : "stream";
}

// Whether libavformat knows enough of a stream from its header alone to write it into
// another container; where it does, the slow look into the first packets is skipped.
bool Described(const AVCodecParameters& p) {
    if (p.codec_id == AV_CODEC_ID_NONE) {
        return false;
    }
    if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
        return p.width > 0 && p.height > 0;
    }
    return p.sample_rate > 0 && p.ch_layout.nb_channels > 0;
}

// Opens `track` and picks the streams it contributes: its picture, its sound, or both
// for a muxed track.
bool OpenInput(const cache::StreamTrack& track, Input& in, std::string& error) {
    const std::string failed =
        std::string("The ") + TrackName(track.kind) + " track is in no format that can be read.";
    in.reader = cache::OpenTrack(track);
    if (!in.reader) {
        error = std::string("The ") + TrackName(track.kind) + " track could not be read.";
        return false;
    }
    in.size = static_cast<std::int64_t>(
        std::min<std::uint64_t>(in.reader->Size(), static_cast<std::uint64_t>(INT64_MAX)));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBuffer));
    in.io = buffer != nullptr
                ? avio_alloc_context(buffer, kReadBuffer, 0, &in, ReadTrack, nullptr, Seek<Input>)
                : nullptr;
    in.packet = av_packet_alloc();
    in.format = avformat_alloc_context();
    if (in.io == nullptr || in.packet == nullptr || in.format == nullptr) {
        if (in.io == nullptr) {
            av_free(buffer);
        }
        error = "Out of memory.";
        return false;
    }
    in.format->pb = in.io;
    in.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    in.format->io_open = RefuseOpen;
    const AVInputFormat* named = nullptr;
    switch (track.container) {
        case Container::MpegTs:
            named = av_find_input_format("mpegts");
            break;
        case Container::Fmp4:
            named = av_find_input_format("mov");
            break;
        case Container::WebM:
            named = av_find_input_format("matroska");
            break;
        default:
            in.format->format_whitelist = av_strdup(kFormats);
            break;
    }
    if (avformat_open_input(&in.format, nullptr, named, nullptr) < 0) {
        error = failed;
        return false;
    }
    const bool wantVideo = track.kind != TrackKind::Audio;
    const bool wantAudio = track.kind != TrackKind::Video;
    const int video =
        wantVideo ? av_find_best_stream(in.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
    const int audio =
        wantAudio ? av_find_best_stream(in.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
    auto described = [&](int index) {
        return index < 0 || Described(*in.format->streams[index]->codecpar);
    };
    if ((!described(video) || !described(audio) || (video < 0 && audio < 0)) &&
        avformat_find_stream_info(in.format, nullptr) < 0) {
        error = failed;
        return false;
    }
    in.outputOf.assign(in.format->nb_streams, -1);
    // Found again: the look into the packets may have found streams the header hid.
    for (const auto& [wanted, type] :
         {std::pair{wantVideo, AVMEDIA_TYPE_VIDEO}, std::pair{wantAudio, AVMEDIA_TYPE_AUDIO}}) {
        const int index = wanted ? av_find_best_stream(in.format, type, -1, -1, nullptr, 0) : -1;
        if (index >= 0 && Described(*in.format->streams[index]->codecpar)) {
            in.outputOf[static_cast<std::size_t>(index)] = 0;  // numbered when the output is made
        }
    }
    if (std::count(in.outputOf.begin(), in.outputOf.end(), 0) == 0) {
        error = std::string("The ") + TrackName(track.kind) + " track holds no " +
                (track.kind == TrackKind::Audio ? "sound." : "picture.");
        return false;
    }
    return true;
}

bool OpenInputs(const cache::Stream& stream, std::vector<std::unique_ptr<Input>>& inputs,
                std::string& error) {
    for (const cache::StreamTrack& track : stream.tracks) {
        inputs.push_back(std::make_unique<Input>());
        if (!OpenInput(track, *inputs.back(), error)) {
            return false;
        }
    }
    return true;
}

// ---- The joined file -------------------------------------------------------------

// The new file `target`, made only where nothing is there yet.
bool Create(const std::string& target, platform::WritableFile& file, std::string& error) {
    file = platform::WritableFile(target);
    if (!file.IsOpen()) {
        error = errno == EEXIST ? "The file already exists." : "The file could not be created.";
        return false;
    }
    return true;
}

struct Output {
    platform::WritableFile file;
    std::int64_t position = 0;
    std::int64_t size = 0;
    bool writeFailed = false;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        avformat_free_context(format);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

#if LIBAVFORMAT_VERSION_MAJOR < 61
using WriteBytes = std::uint8_t*;
#else
using WriteBytes = const std::uint8_t*;
#endif

int WriteJoined(void* opaque, WriteBytes bytes, int size) {
    auto* out = static_cast<Output*>(opaque);
    if (size < 0 || out->writeFailed ||
        !out->file.WriteAt(static_cast<std::uint64_t>(out->position), bytes,
                           static_cast<std::size_t>(size))) {
        out->writeFailed = true;
        return AVERROR(EIO);
    }
    out->position += size;
    out->size = std::max(out->size, out->position);
    return size;
}

// What one output stream has been given so far, in its input's time base.
struct Timeline {
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    double unit = 0;          // seconds per tick of the input's time base
    std::int64_t maxGap = 0;  // ticks
    std::int64_t offset = 0;  // added to the input's timestamps
    bool started = false;
    std::int64_t lastDts = 0;
    std::int64_t nextDts = 0;  // where the next packet starts when nothing is missing
    std::int64_t lastDuration = 0;
    std::int64_t lastOutDts = INT64_MIN;
};

bool Garbage(std::int64_t ticks, double unit) {
    return ticks != AV_NOPTS_VALUE && std::fabs(static_cast<double>(ticks) * unit) > kMaxSeconds;
}

// Puts `packet` on the stream's timeline: rising decode times, a jump back or too far
// ahead closed up so that the packet follows the one before. False for a packet whose
// times are garbage, which is dropped.
bool PlaceOnTimeline(AVPacket& packet, Timeline& line, std::int64_t origin) {
    if (Garbage(packet.dts, line.unit) || Garbage(packet.pts, line.unit)) {
        return false;
    }
    std::int64_t dts = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    if (dts == AV_NOPTS_VALUE) {
        dts = (line.started ? line.nextDts : origin) - line.offset;
    }
    // Presentation after decoding; a packet that says otherwise is shown when decoded.
    const std::int64_t reorder = packet.pts != AV_NOPTS_VALUE
                                     ? std::clamp<std::int64_t>(packet.pts - dts, 0, line.maxGap)
                                     : 0;
    std::int64_t at = dts + line.offset;
    const std::int64_t expected = line.started ? line.nextDts : origin;
    const bool behind = line.started ? at <= line.lastDts : at < origin - line.maxGap;
    if (behind || at > expected + line.maxGap) {
        line.offset += expected - at;
        at = expected;
    }
    std::int64_t duration = packet.duration;
    if (duration <= 0 || duration > line.maxGap) {
        duration = line.lastDuration;
    }
    line.lastDuration = duration;
    line.started = true;
    line.lastDts = at;
    line.nextDts = at + std::max<std::int64_t>(duration, 1);
    packet.dts = at;
    if (packet.pts != AV_NOPTS_VALUE) {
        packet.pts = at + reorder;
    }
    packet.duration = duration;
    return true;
}

// Into the output's time base, the joined file's start (`start` ticks of the input) at
// zero, still rising strictly: rounding must not make two packets share a decode time.
// MPEG-TS clocks start anywhere (1.4 s is usual); kept, an MP4 would open with as long a
// stretch of nothing and report it in its length.
void ToOutputTime(AVPacket& packet, Timeline& line, std::int64_t start) {
    packet.dts -= start;
    if (packet.pts != AV_NOPTS_VALUE) {
        packet.pts -= start;
    }
    av_packet_rescale_ts(&packet, line.in->time_base, line.out->time_base);
    if (packet.dts <= line.lastOutDts) {
        packet.dts = line.lastOutDts + 1;
    }
    if (packet.pts != AV_NOPTS_VALUE && packet.pts < packet.dts) {
        packet.pts = packet.dts;
    }
    line.lastOutDts = packet.dts;
    packet.pos = -1;
}

class Remux {
  public:
    Remux(const cache::Stream& stream, Purpose purpose, const JoinProgress& progress)
        : stream_(stream), purpose_(purpose), progress_(progress) {}

    bool Run(const std::string& target, std::string& error) {
        if (!OpenInputs(stream_, inputs_, error) || !OpenOutput(target, error)) {
            return false;
        }
        if (!Setup(error)) {
            return false;
        }
        if (!Pump(error)) {
            return false;
        }
        if (av_write_trailer(output_.format) < 0 || output_.writeFailed) {
            error = kWriteError;
            return false;
        }
        if (!output_.file.Close()) {
            error = kWriteError;
            return false;
        }
        if (progress_) {
            progress_(Total(), Total());
        }
        return true;
    }

    // Whether `target` was made by this join (and is to go when it fails).
    bool Created() const { return created_; }

  private:
    const cache::Stream& stream_;
    Purpose purpose_;
    const JoinProgress& progress_;
    std::vector<std::unique_ptr<Input>> inputs_;
    Output output_;
    std::vector<Timeline> lines_;
    std::int64_t origin_ = 0;  // microseconds: the earliest first packet of all tracks
    std::uint64_t written_ = 0;
    bool created_ = false;

    // The timeline of the stream whose packet `in` holds.
    Timeline& LineOf(const Input& in) {
        return lines_[static_cast<std::size_t>(
            in.outputOf[static_cast<std::size_t>(in.packet->stream_index)])];
    }

    std::uint64_t Total() const {
        std::uint64_t total = 0;
        for (const auto& in : inputs_) {
            total += static_cast<std::uint64_t>(in->size);
        }
        return total;
    }

    bool Continue() {
        if (!progress_) {
            return true;
        }
        std::uint64_t done = 0;
        for (const auto& in : inputs_) {
            done += static_cast<std::uint64_t>(in->furthest);
        }
        return progress_(done, Total());
    }

    bool OpenOutput(const std::string& target, std::string& error) {
        created_ = Create(target, output_.file, error);
        return created_;
    }

    Box ChosenBox() const {
        if (purpose_ == Purpose::Play) {
            return Box::Matroska;
        }
        std::vector<AVCodecID> codecs;
        for (const auto& in : inputs_) {
            for (std::size_t i = 0; i < in->outputOf.size(); ++i) {
                if (in->outputOf[i] >= 0) {
                    codecs.push_back(in->format->streams[i]->codecpar->codec_id);
                }
            }
        }
        return BoxFor(codecs);
    }

    bool Setup(std::string& error) {
        const Box box = ChosenBox();
        if (avformat_alloc_output_context2(&output_.format, nullptr, MuxerOf(box), nullptr) < 0) {
            error = "Out of memory.";
            return false;
        }
        auto* buffer = static_cast<unsigned char*>(av_malloc(kWriteBuffer));
        output_.io = buffer != nullptr ? avio_alloc_context(buffer, kWriteBuffer, 1, &output_,
                                                            nullptr, WriteJoined, Seek<Output>)
                                       : nullptr;
        if (output_.io == nullptr) {
            av_free(buffer);
            error = "Out of memory.";
            return false;
        }
        output_.format->pb = output_.io;
        output_.format->flags |= AVFMT_FLAG_CUSTOM_IO;
        const double length =
            stream_.length > 0 ? std::min(stream_.length, kMaxGapSeconds) : kMaxGapSeconds;
        for (auto& in : inputs_) {
            for (std::size_t i = 0; i < in->outputOf.size(); ++i) {
                if (in->outputOf[i] < 0) {
                    continue;
                }
                AVStream* from = in->format->streams[i];
                AVStream* to = avformat_new_stream(output_.format, nullptr);
                if (to == nullptr || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0) {
                    error = "Out of memory.";
                    return false;
                }
                to->codecpar->codec_tag = 0;
                to->time_base = from->time_base;
                in->outputOf[i] = static_cast<int>(lines_.size());
                Timeline line;
                line.in = from;
                line.out = to;
                line.unit = av_q2d(from->time_base);
                if (!(line.unit > 0) || line.unit > 1) {
                    error = "The stream's timing cannot be read.";
                    return false;
                }
                line.maxGap = static_cast<std::int64_t>(length / line.unit);
                lines_.push_back(line);
            }
        }
        if (avformat_write_header(output_.format, nullptr) < 0) {
            error = output_.writeFailed ? kWriteError
                                        : std::string("The stream's codecs cannot be put into ") +
                                              ExtensionOf(box) + ".";
            return false;
        }
        return true;
    }

    // Reads the next packet of a chosen stream of `in`; false at its end. Damaged data is
    // stepped over while the reading moves on.
    bool Pull(Input& in) {
        std::int64_t stuckAt = -1;
        for (;;) {
            const int result = av_read_frame(in.format, in.packet);
            if (result < 0) {
                const std::int64_t at = avio_tell(in.io);
                if (result == AVERROR_EOF || in.readFailed || at == stuckAt || at >= in.size) {
                    return false;
                }
                stuckAt = at;
                continue;
            }
            const auto index = static_cast<std::size_t>(in.packet->stream_index);
            if (index < in.outputOf.size() && in.outputOf[index] >= 0 && in.packet->size > 0) {
                return true;
            }
            av_packet_unref(in.packet);
        }
    }

    std::int64_t Micro(const Input& in) {
        const Timeline& line = LineOf(in);
        return av_rescale_q(in.packet->dts, line.in->time_base, AV_TIME_BASE_Q);
    }

    // The next packet of `in`, on its timeline; false at the end of `in`.
    bool Next(Input& in) {
        while (Pull(in)) {
            Timeline& line = LineOf(in);
            const std::int64_t origin = av_rescale_q(origin_, AV_TIME_BASE_Q, line.in->time_base);
            if (PlaceOnTimeline(*in.packet, line, origin)) {
                return true;
            }
            av_packet_unref(in.packet);
        }
        return false;
    }

    bool Pump(std::string& error) {
        // The first packet of every track sets where the joined file starts.
        bool first = true;
        for (auto& in : inputs_) {
            while (Pull(*in)) {
                const auto& line = LineOf(*in);
                const std::int64_t dts =
                    in->packet->dts != AV_NOPTS_VALUE ? in->packet->dts : in->packet->pts;
                if (dts != AV_NOPTS_VALUE && !Garbage(dts, line.unit)) {
                    const std::int64_t micro =
                        av_rescale_q(dts, line.in->time_base, AV_TIME_BASE_Q);
                    origin_ = first ? micro : std::min(origin_, micro);
                    first = false;
                    break;
                }
                av_packet_unref(in->packet);
            }
        }
        for (auto& in : inputs_) {
            if (in->packet->size > 0) {
                Timeline& line = LineOf(*in);
                in->ready = PlaceOnTimeline(
                    *in->packet, line, av_rescale_q(origin_, AV_TIME_BASE_Q, line.in->time_base));
                if (!in->ready) {
                    av_packet_unref(in->packet);
                    in->ready = Next(*in);
                }
            }
        }
        for (unsigned count = 0;; ++count) {
            Input* earliest = nullptr;
            for (auto& in : inputs_) {
                if (in->ready && (earliest == nullptr || Micro(*in) < Micro(*earliest))) {
                    earliest = in.get();
                }
            }
            if (earliest == nullptr) {
                break;
            }
            if (earliest->readFailed) {
                error = "The cache changed while the stream was read.";
                return false;
            }
            Timeline& line = LineOf(*earliest);
            ToOutputTime(*earliest->packet, line,
                         av_rescale_q(origin_, AV_TIME_BASE_Q, line.in->time_base));
            earliest->packet->stream_index = line.out->index;
            const int result = av_interleaved_write_frame(output_.format, earliest->packet);
            if (output_.writeFailed) {
                error = kWriteError;
                return false;
            }
            // A packet the muxer refuses is dropped; the ones after it may still do.
            written_ += result >= 0 ? 1 : 0;
            av_packet_unref(earliest->packet);
            earliest->ready = Next(*earliest);
            if (count % kProgressEvery == 0 && !Continue()) {
                error = "Cancelled.";
                return false;
            }
        }
        for (auto& in : inputs_) {
            if (in->readFailed) {
                error = "The cache changed while the stream was read.";
                return false;
            }
        }
        if (written_ == 0) {
            error = "None of the stream's pictures or sound could be read.";
            return false;
        }
        return true;
    }
};

bool Concatenate(const cache::StreamTrack& track, const std::string& target, std::string& error,
                 const JoinProgress& progress) {
    std::unique_ptr<cache::BodyReader> reader = cache::OpenTrack(track);
    if (!reader) {
        error = "The stream's segments could not be read.";
        return false;
    }
    platform::WritableFile out;
    if (!Create(target, out, error)) {
        return false;
    }
    const std::uint64_t total = reader->Size();
    auto buffer = std::make_unique_for_overwrite<char[]>(kCopyChunk);
    std::uint64_t done = 0;
    bool cancelled = false;
    while (done < total && !cancelled) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, total - done));
        const std::int64_t got = reader->ReadAt(done, buffer.get(), wanted);
        if (got <= 0) {
            error = "The cache changed while the stream was read.";
            break;
        }
        if (!out.WriteAt(done, buffer.get(), static_cast<std::size_t>(got))) {
            error = kWriteError;
            break;
        }
        done += static_cast<std::uint64_t>(got);
        if (progress && !progress(done, total)) {
            error = "Cancelled.";
            cancelled = true;
        }
    }
    if (!out.Close() && done == total && !cancelled) {
        error = kWriteError;
        cancelled = true;
    }
    if (done != total || cancelled) {
        platform::RemoveFile(target);
        return false;
    }
    return true;
}

}  // namespace

std::string JoinedExtension(const cache::Stream& stream, Purpose purpose) {
    if (Concatenates(stream, purpose)) {
        return stream.tracks.front().container == Container::MpegTs ? "ts" : "mp4";
    }
    if (purpose == Purpose::Play) {
        return ExtensionOf(Box::Matroska);
    }
    std::vector<AVCodecID> codecs;
    if (!NamedCodecs(stream, codecs)) {
        // The manifest does not say: the tracks' headers do.
        Quiet();
        codecs.clear();
        std::vector<std::unique_ptr<Input>> inputs;
        std::string error;
        if (OpenInputs(stream, inputs, error)) {
            for (const auto& in : inputs) {
                for (std::size_t i = 0; i < in->outputOf.size(); ++i) {
                    if (in->outputOf[i] >= 0) {
                        codecs.push_back(in->format->streams[i]->codecpar->codec_id);
                    }
                }
            }
        }
    }
    return ExtensionOf(BoxFor(codecs));
}

bool JoinStream(const cache::Stream& stream, Purpose purpose, const std::string& target,
                std::string& error, const JoinProgress& progress) {
    error.clear();
    if (stream.protection == cache::Protection::Drm) {
        error = "The stream is protected against copying.";
        return false;
    }
    // A missing segment reads as a gap; a track none of whose segments can still be opened
    // (the browser cleared its cache since the scan) would join into nothing but zeros.
    const auto gone = [](const cache::StreamTrack& t) {
        return std::none_of(t.pieces.begin(), t.pieces.end(), [](const cache::StreamPiece& p) {
            return cache::OpenBody(p.body) != nullptr;
        });
    };
    const bool empty =
        stream.tracks.empty() || std::any_of(stream.tracks.begin(), stream.tracks.end(), gone);
    if (empty) {
        error = "None of the stream's segments is in the cache.";
        return false;
    }
    if (Concatenates(stream, purpose)) {
        return Concatenate(stream.tracks.front(), target, error, progress);
    }
    Quiet();
    Remux remux(stream, purpose, progress);
    const bool ok = remux.Run(target, error);
    if (!ok && remux.Created()) {
        platform::RemoveFile(target);
    }
    return ok;
}

}  // namespace join
