#include "media/MediaFacts.h"

#include "media/AvioSeek.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "media/Thumbnail.h"

namespace media {

const char* const kDash = "\u2013";

namespace {

using Clock = std::chrono::steady_clock;

// The formats a browser caches media in. Anything else is not looked into: playlists and
// concatenation formats would open other files or URLs, and image sequences are pictures.
constexpr char kFormats[] =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,flv,mp3,aac,ogg,wav,mpegts,mpeg,avi,asf,flac,ivf,"
    "caf,w64,m4v,h264,hevc";
// Below this a video's thumbnail is its first frame: a tenth of it is too close to it to
// be worth a seek.
constexpr std::int64_t kShortMs = 3000;
constexpr int kIoBufferSize = 32 * 1024;
// No single allocation of libav's for one entry needs more; a hostile header asking for
// more is refused where it asks.
constexpr std::size_t kMaxAllocation = 256u << 20;

// libav* report through a process-wide logger; nothing of it may reach the user's
// terminal or log, so it is silenced once for the process.
void Prepare() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_log_set_callback([](void*, int, const char*, va_list) {});
        av_max_alloc(kMaxAllocation);
    });
}

struct Watch {
    Clock::time_point deadline;
    const std::atomic<bool>* cancel;
    bool timedOut = false;
    bool cancelled = false;

    bool Expired() {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            cancelled = true;
        } else if (Clock::now() >= deadline) {
            timedOut = true;
        }
        return cancelled || timedOut;
    }
};

// The body as libavformat reads it. Every read and seek looks at the clock and the cancel
// flag first: libavformat's own interrupt callback is not consulted for a custom context's
// reads, and a body can be slow (a file on a stalled network mount) as well as big.
struct Io {
    Watch* watch;
    cache::BodyReader* reader;
    std::int64_t size;
    std::int64_t position = 0;
};

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* io = static_cast<Io*>(opaque);
    if (io->watch->Expired()) {
        return AVERROR_EXIT;
    }
    if (size <= 0 || io->position >= io->size) {
        return AVERROR_EOF;
    }
    const std::int64_t got = io->reader->ReadAt(static_cast<std::uint64_t>(io->position), buffer,
                                                static_cast<std::size_t>(size));
    if (got < 0) {
        return AVERROR(EIO);
    }
    if (got == 0) {
        return AVERROR_EOF;
    }
    io->position += got;
    return static_cast<int>(got);
}

std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* io = static_cast<Io*>(opaque);
    if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE) {
        return io->size;
    }
    if (io->watch->Expired()) {
        return AVERROR_EXIT;
    }
    const std::int64_t target = media::AvioSeekTarget(io->position, io->size, offset, whence);
    if (target >= 0) {
        io->position = target;
    }
    return target;
}

int Interrupt(void* opaque) {
    return static_cast<Watch*>(opaque)->Expired() ? 1 : 0;
}

// Other files and URLs named inside a body are never opened.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

struct CodecName {
    AVCodecID id;
    const char* name;
};

constexpr CodecName kCodecNames[] = {
    {AV_CODEC_ID_H264, "H.264"},
    {AV_CODEC_ID_HEVC, "HEVC"},
    {AV_CODEC_ID_VP8, "VP8"},
    {AV_CODEC_ID_VP9, "VP9"},
    {AV_CODEC_ID_AV1, "AV1"},
    {AV_CODEC_ID_MPEG4, "MPEG-4"},
    {AV_CODEC_ID_MPEG2VIDEO, "MPEG-2"},
    {AV_CODEC_ID_MPEG1VIDEO, "MPEG-1"},
    {AV_CODEC_ID_FLV1, "FLV1"},
    {AV_CODEC_ID_H263, "H.263"},
    {AV_CODEC_ID_VP6F, "VP6"},
    {AV_CODEC_ID_VP6, "VP6"},
    {AV_CODEC_ID_VP6A, "VP6"},
    {AV_CODEC_ID_THEORA, "Theora"},
    {AV_CODEC_ID_WMV1, "WMV"},
    {AV_CODEC_ID_WMV2, "WMV"},
    {AV_CODEC_ID_WMV3, "WMV"},
    {AV_CODEC_ID_VC1, "VC-1"},
    {AV_CODEC_ID_MJPEG, "MJPEG"},
    {AV_CODEC_ID_AAC, "AAC"},
    {AV_CODEC_ID_MP3, "MP3"},
    {AV_CODEC_ID_MP2, "MP2"},
    {AV_CODEC_ID_OPUS, "Opus"},
    {AV_CODEC_ID_VORBIS, "Vorbis"},
    {AV_CODEC_ID_FLAC, "FLAC"},
    {AV_CODEC_ID_AC3, "AC-3"},
    {AV_CODEC_ID_EAC3, "E-AC-3"},
    {AV_CODEC_ID_ALAC, "ALAC"},
    {AV_CODEC_ID_WMAV1, "WMA"},
    {AV_CODEC_ID_WMAV2, "WMA"},
    {AV_CODEC_ID_NELLYMOSER, "Nellymoser"},
    {AV_CODEC_ID_SPEEX, "Speex"},
};

std::string CodecDisplayName(AVCodecID id) {
    for (const CodecName& known : kCodecNames) {
        if (known.id == id) {
            return known.name;
        }
    }
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(id);
    if (descriptor == nullptr || descriptor->name == nullptr) {
        return "?";
    }
    std::string name = descriptor->name;
    if (name.rfind("pcm_", 0) == 0) {
        return "PCM";
    }
    if (name.rfind("adpcm_", 0) == 0) {
        return "ADPCM";
    }
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

// Owners of libav's objects, so that every way out frees them.
struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct IoCloser {
    void operator()(AVIOContext* context) const {
        if (context != nullptr) {
            av_freep(&context->buffer);
        }
        avio_context_free(&context);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameCloser {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketCloser {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleCloser {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using IoPtr = std::unique_ptr<AVIOContext, IoCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;
using PacketPtr = std::unique_ptr<AVPacket, PacketCloser>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleCloser>;

// One body opened as media.
class Session {
  public:
    Session(cache::BodyReader& reader, const Limits& limits)
        : limits_(limits),
          watch_{Clock::now() + limits.time, limits.cancel},
          io_{&watch_, &reader,
              static_cast<std::int64_t>(std::min<std::uint64_t>(reader.Size(), INT64_MAX))} {}

    Outcome Result() const {
        return watch_.cancelled ? Outcome::Cancelled
                                : (watch_.timedOut ? Outcome::TimedOut : Outcome::Done);
    }

    // Reads the streams; false when the body is not media we take.
    bool Open(Facts& facts) {
        Prepare();
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
        if (buffer == nullptr) {
            return false;
        }
        io_context_.reset(
            avio_alloc_context(buffer, kIoBufferSize, 0, &io_, ReadPacket, nullptr, Seek));
        if (!io_context_) {
            av_free(buffer);
            return false;
        }
        AVFormatContext* format = avformat_alloc_context();
        if (format == nullptr) {
            return false;
        }
        format->pb = io_context_.get();
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        format->interrupt_callback = {Interrupt, &watch_};
        format->probesize = limits_.probeBytes;
        format->max_analyze_duration = limits_.analyzeMicroseconds;
        format->max_streams = 32;
        format->io_open = RefuseOpen;
        format->format_whitelist = av_strdup(kFormats);
        format->protocol_whitelist = av_strdup("none");
        // On failure avformat_open_input frees the context itself.
        if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0) {
            return false;
        }
        format_.reset(format);
        // A weak guess (random bytes that happen to look like a frame of MP3) is no media.
        if (format_->probe_score < AVPROBE_SCORE_MAX / 4) {
            return false;
        }
        std::vector<AVDictionary*> options(format_->nb_streams, nullptr);
        for (AVDictionary*& entry : options) {
            av_dict_set(&entry, "threads", "1", 0);
        }
        const int found = avformat_find_stream_info(format_.get(), options.data());
        for (AVDictionary*& entry : options) {
            av_dict_free(&entry);
        }
        if (found < 0 || watch_.timedOut || watch_.cancelled) {
            return false;
        }
        return Describe(facts);
    }

    // Decodes one frame and makes the thumbnails of it.
    void Thumbnails(const Facts& facts, const std::vector<int>& sides,
                    const std::vector<PngText>& texts, std::vector<Thumbnail>& thumbnails) {
        FramePtr frame = DecodeFrame(facts);
        if (!frame || watch_.Expired()) {
            return;
        }
        for (const int side : sides) {
            Thumbnail thumbnail = Encode(*frame, side, texts);
            if (thumbnail.png.empty()) {
                thumbnails.clear();
                return;
            }
            thumbnails.push_back(std::move(thumbnail));
        }
    }

  private:
    const Limits& limits_;
    Watch watch_;
    Io io_;
    IoPtr io_context_;
    FormatPtr format_;
    int video_ = -1;

    bool Describe(Facts& facts) {
        int audio = -1;
        std::int64_t bestPixels = 0;
        for (unsigned i = 0; i < format_->nb_streams; ++i) {
            const AVStream* stream = format_->streams[i];
            const AVCodecParameters* par = stream->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
                (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 && par->width > 0 &&
                par->height > 0) {
                const std::int64_t pixels = std::int64_t{par->width} * par->height;
                if (pixels > bestPixels) {
                    bestPixels = pixels;
                    video_ = static_cast<int>(i);
                }
            } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && audio < 0 &&
                       par->codec_id != AV_CODEC_ID_NONE) {
                audio = static_cast<int>(i);
            }
        }
        if (video_ >= 0) {
            const AVCodecParameters* par = format_->streams[video_]->codecpar;
            if (par->width > limits_.maxSide || par->height > limits_.maxSide ||
                bestPixels > limits_.maxPixels) {
                video_ = -1;
                return false;  // no real picture is that big: a hostile header
            }
            facts.kind = Kind::Video;
            facts.width = par->width;
            facts.height = par->height;
            facts.videoCodec = CodecDisplayName(par->codec_id);
        } else if (audio >= 0) {
            facts.kind = Kind::AudioOnly;
        } else {
            return false;
        }
        if (audio >= 0) {
            facts.audioCodec = CodecDisplayName(format_->streams[audio]->codecpar->codec_id);
        }
        facts.durationMs = DurationMs(audio);
        return true;
    }

    std::int64_t DurationMs(int audio) const {
        if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
            return av_rescale(format_->duration, 1000, AV_TIME_BASE);
        }
        const int index = video_ >= 0 ? video_ : audio;
        const AVStream* stream = format_->streams[index];
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0 &&
            stream->time_base.num > 0 && stream->time_base.den > 0) {
            return av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
        }
        return -1;
    }

    FramePtr DecodeFrame(const Facts& facts) {
        if (video_ < 0) {
            return nullptr;
        }
        AVStream* stream = format_->streams[video_];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (codec == nullptr) {
            return nullptr;
        }
        CodecPtr decoder(avcodec_alloc_context3(codec));
        if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
            return nullptr;
        }
        decoder->thread_count = 1;
        decoder->max_pixels = limits_.maxPixels;
        decoder->pkt_timebase = stream->time_base;
        if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
            return nullptr;
        }
        if (facts.durationMs >= kShortMs) {
            // The key frame at or before a tenth of the way: decoding on from it to the
            // exact instant would cost a whole group of pictures for no better picture.
            const std::int64_t start =
                format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
            const std::int64_t target =
                start + av_rescale(facts.durationMs / 10, AV_TIME_BASE, 1000);
            if (avformat_seek_file(format_.get(), -1, INT64_MIN, target, target, 0) < 0) {
                avformat_seek_file(format_.get(), -1, INT64_MIN, start, start, 0);
            }
        }
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame) {
            return nullptr;
        }
        for (int packets = 0; packets < limits_.maxPackets && !watch_.Expired(); ++packets) {
            const int read = av_read_frame(format_.get(), packet.get());
            if (read < 0) {
                // The end (or a cut): what the decoder still holds comes out now.
                avcodec_send_packet(decoder.get(), nullptr);
                return avcodec_receive_frame(decoder.get(), frame.get()) == 0 ? std::move(frame)
                                                                              : nullptr;
            }
            const bool ours = packet->stream_index == video_;
            const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
            av_packet_unref(packet.get());
            if (!ours || (sent < 0 && sent != AVERROR(EAGAIN))) {
                continue;  // a damaged packet: the next one may decode
            }
            if (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
                return frame;
            }
        }
        return nullptr;
    }

    Thumbnail Encode(const AVFrame& frame, int side, const std::vector<PngText>& texts) {
        // The picture as shown: non-square pixels are stretched to their display shape.
        double shownWidth = frame.width;
        const AVRational aspect = frame.sample_aspect_ratio;
        if (aspect.num > 0 && aspect.den > 0) {
            shownWidth = shownWidth * aspect.num / aspect.den;
        }
        const double longer = std::max(shownWidth, static_cast<double>(frame.height));
        const double scale = std::min(1.0, side / longer);
        const int width = std::max(1, static_cast<int>(shownWidth * scale + 0.5));
        const int height = std::max(1, static_cast<int>(frame.height * scale + 0.5));

        ScalePtr scaler(sws_getContext(frame.width, frame.height,
                                       static_cast<AVPixelFormat>(frame.format), width, height,
                                       AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr));
        FramePtr rgb(av_frame_alloc());
        if (!scaler || !rgb) {
            return {};
        }
        rgb->format = AV_PIX_FMT_RGB24;
        rgb->width = width;
        rgb->height = height;
        if (av_frame_get_buffer(rgb.get(), 0) < 0 ||
            sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, rgb->data,
                      rgb->linesize) != height) {
            return {};
        }
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
        CodecPtr encoder(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
        if (!encoder) {
            return {};
        }
        encoder->width = width;
        encoder->height = height;
        encoder->pix_fmt = AV_PIX_FMT_RGB24;
        encoder->time_base = AVRational{1, 25};
        encoder->thread_count = 1;
        encoder->compression_level = 6;
        PacketPtr packet(av_packet_alloc());
        if (!packet || avcodec_open2(encoder.get(), codec, nullptr) < 0 ||
            avcodec_send_frame(encoder.get(), rgb.get()) < 0 ||
            avcodec_receive_packet(encoder.get(), packet.get()) < 0) {
            return {};
        }
        Thumbnail thumbnail;
        thumbnail.png = InsertPngTexts(std::string_view(reinterpret_cast<const char*>(packet->data),
                                                        static_cast<std::size_t>(packet->size)),
                                       texts);
        thumbnail.width = width;
        thumbnail.height = height;
        return thumbnail;
    }
};

Facts Read(cache::BodyReader& reader, const Limits& limits, const std::vector<int>* sides,
           const std::vector<PngText>* texts, std::vector<Thumbnail>* thumbnails,
           Outcome* outcome) {
    Facts facts;
    Session session(reader, limits);
    if (!session.Open(facts)) {
        facts = Facts{};
    } else if (sides != nullptr && facts.kind == Kind::Video) {
        session.Thumbnails(facts, *sides, *texts, *thumbnails);
    }
    const Outcome result = session.Result();
    if (result != Outcome::Done) {
        // Whatever was found before the limit hit is not to be trusted as complete.
        if (thumbnails != nullptr) {
            thumbnails->clear();
        }
        if (result == Outcome::Cancelled || facts.kind == Kind::NotMedia) {
            facts = Facts{};
        }
    }
    if (outcome != nullptr) {
        *outcome = result;
    }
    return facts;
}

}  // namespace

Facts ReadFacts(cache::BodyReader& reader, const Limits& limits, Outcome* outcome) {
    return Read(reader, limits, nullptr, nullptr, nullptr, outcome);
}

Facts ReadFactsAndThumbnails(cache::BodyReader& reader, const Limits& limits,
                             const std::vector<int>& sides, const std::vector<PngText>& texts,
                             std::vector<Thumbnail>& thumbnails, Outcome* outcome) {
    thumbnails.clear();
    return Read(reader, limits, &sides, &texts, &thumbnails, outcome);
}

std::string LengthText(const Facts& facts) {
    if (facts.kind == Kind::NotMedia || facts.durationMs < 0) {
        return kDash;
    }
    const std::int64_t seconds = (facts.durationMs + 500) / 1000;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    }
    return text;
}

std::string PictureText(const Facts& facts) {
    switch (facts.kind) {
        case Kind::Video:
            return std::to_string(facts.width) + "x" + std::to_string(facts.height) + " " +
                   facts.videoCodec;
        case Kind::AudioOnly:
            return "audio only";
        case Kind::NotMedia:
            break;
    }
    return kDash;
}

}  // namespace media
