// SPDX-License-Identifier: GPL-3.0-or-later
#include "media_input.h"

#include "job_outcome.h"
#include "media_time.h"
#include "seek.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <string>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/cpu.h>
}

namespace {

// The stream a player starts with: the first one the file marks as default,
// else the last of its kind. A cover picture is exposed as a one-packet video
// stream; cutting it instead of the movie would be nonsense.
int MainStreamOf(const AVFormatContext* format, AVMediaType type)
{
    int last = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (st->codecpar->codec_type != type || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (st->disposition & AV_DISPOSITION_DEFAULT)
            return static_cast<int>(i);
        last = static_cast<int>(i);
    }
    return last;
}

}  // namespace

void SelectStreams(const AVFormatContext* format, int* video_index, int* audio_index)
{
    *video_index = MainStreamOf(format, AVMEDIA_TYPE_VIDEO);
    *audio_index = MainStreamOf(format, AVMEDIA_TYPE_AUDIO);
}

namespace {

CodecContextPtr ContextForStream(const AVStream* st, const AVCodec* codec)
{
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return nullptr;
    ctx->pkt_timebase = st->time_base;
    return ctx;
}

}  // namespace

CodecContextPtr OpenStreamDecoder(const AVStream* st, int threads)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    CodecContextPtr dec = codec ? ContextForStream(st, codec) : nullptr;
    if (!dec)
        return nullptr;
    dec->thread_count = threads;
    return avcodec_open2(dec.get(), codec, nullptr) < 0 ? nullptr : std::move(dec);
}

namespace {

int OpenVideoDecoder(MediaInput& in, int threads, int thread_type)
{
    AVStream* st = in.VideoStream();
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return kProbeNoVideoDecoder;
    in.video_dec = ContextForStream(st, codec);
    if (!in.video_dec)
        return kProbeVideoDecoderFailed;
    in.video_dec->thread_count = threads;
    in.video_dec->thread_type = thread_type;
    if (avcodec_open2(in.video_dec.get(), codec, nullptr) < 0) {
        in.video_dec.reset();
        return kProbeVideoDecoderFailed;
    }
    return kProbeOk;
}

// A missing or failing audio decoder is not an error: the context still
// carries the stream's facts, and direct mode copies the packets anyway.
void OpenAudioDecoder(MediaInput& in)
{
    AVStream* st = in.AudioStream();
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    in.audio_dec = ContextForStream(st, codec);
    if (in.audio_dec && codec)
        in.audio_decoder_open = avcodec_open2(in.audio_dec.get(), codec, nullptr) >= 0;
}

}  // namespace

int ReencodeDecoderThreads() { return std::clamp(av_cpu_count() + 1, 2, 8); }

int OpenPreviewInput(const char* path, MediaInput& in, int thread_type)
{
    MediaInputOptions options;
    options.decoder_threads = 2;
    options.thread_type = thread_type;
    options.open_audio = false;
    return OpenMediaInput(path, in, options);
}

int OpenMediaInput(const char* path, MediaInput& in, int decoder_threads)
{
    MediaInputOptions options;
    options.decoder_threads = decoder_threads;
    return OpenMediaInput(path, in, options);
}

namespace {

int InterruptWhenFlagSet(void* opaque)
{
    return opaque && static_cast<const std::atomic<uint8_t>*>(opaque)->load() != 0 ? 1 : 0;
}

}  // namespace

AVIOInterruptCB CancelCallback(const std::atomic<uint8_t>* cancel)
{
    return {InterruptWhenFlagSet, const_cast<std::atomic<uint8_t>*>(cancel)};
}

// Only files and disks are read: opening a FIFO would wait for a writer with
// no way to cancel, and a folder or terminal is never a video.
int CheckInputKind(const char* path)
{
    struct stat st {};
    if (stat(path, &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kProbeNoSuchFile : kProbeOpenFailed;
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return kProbeNotAFile;
    return access(path, R_OK) == 0 ? kProbeOk : kProbeUnreadable;
}

namespace {
std::atomic<long long> g_mediaFileOpens{0};
}

long long MediaFileOpenCount() { return g_mediaFileOpens.load(); }

bool IsSingleMediaDemuxer(const AVInputFormat* format)
{
    // Each reads other files or addresses named inside the file.
    static const char* const kReadsOthers[] = {
        "concat", "dash", "hls", "imf", "image2", "sdp", "rtsp", "rtp", "sap", "vobsub",
        "webm_dash_manifest", "ffmetadata",
    };
    if (!format || (format->flags & AVFMT_NOFILE))
        return false;  // reads no file of its own: a pattern or a device
    for (const char* name : kReadsOthers)
        if (std::strcmp(format->name, name) == 0)
            return false;
    return true;
}

namespace {

void AllowOnlyFiles(AVDictionary** options) { av_dict_set(options, "protocol_whitelist", "file", 0); }

// The library's own guess of the demuxer, made from the file's first bytes
// exactly as avformat_open_input would make it.
int GuessDemuxer(const std::string& url, const AVIOInterruptCB& interrupt, const AVInputFormat** format)
{
    AVDictionary* options = nullptr;
    AllowOnlyFiles(&options);
    AVIOContext* pb = nullptr;
    int rc = avio_open2(&pb, url.c_str(), AVIO_FLAG_READ, &interrupt, &options);
    av_dict_free(&options);
    if (rc < 0)
        return rc;
    rc = av_probe_input_buffer2(pb, format, url.c_str(), nullptr, 0, 0);
    avio_closep(&pb);
    return rc < 0 ? rc : 0;
}

// The demuxer may open the file it was given and nothing else: a playlist's
// entries, a FIFO or device among them, or another address are refused.
int OpenOnlyTheFileItself(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
{
    if (!s->url || std::strcmp(url, s->url) != 0 || (flags & AVIO_FLAG_WRITE))
        return AVERROR(EPERM);
    AVDictionary* local = nullptr;
    AVDictionary** used = options ? options : &local;
    AllowOnlyFiles(used);
    const int rc = avio_open2(pb, url, flags, &s->interrupt_callback, used);
    av_dict_free(&local);
    return rc;
}

}  // namespace

int OpenLocalFormat(AVFormatContext** ctx, const char* path)
{
    ++g_mediaFileOpens;
    const std::string url = std::string("file:") + path;
    if (!*ctx && !(*ctx = avformat_alloc_context()))
        return AVERROR(ENOMEM);
    const AVInputFormat* format = nullptr;
    int rc = GuessDemuxer(url, (*ctx)->interrupt_callback, &format);
    if (rc == 0 && !IsSingleMediaDemuxer(format))
        rc = kNotSingleMediaError;
    if (rc != 0) {
        avformat_free_context(*ctx);
        *ctx = nullptr;
        return rc;
    }
    (*ctx)->io_open = OpenOnlyTheFileItself;
    AVDictionary* options = nullptr;
    AllowOnlyFiles(&options);
    rc = avformat_open_input(ctx, url.c_str(), format, &options);
    av_dict_free(&options);
    return rc;
}

int OpenCheckedInput(const char* path, AVIOInterruptCB interrupt, InputContextPtr* format, int* av_error)
{
    format->reset();
    const int kind = CheckInputKind(path);
    if (kind != kProbeOk)
        return kind;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return kProbeOpenFailed;
    raw->interrupt_callback = interrupt;
    if (const int rc = OpenLocalFormat(&raw, path); rc != 0) {
        if (av_error && rc != kNotSingleMediaError)
            *av_error = rc;
        if (rc == AVERROR(EMFILE) || rc == AVERROR(ENFILE))
            return kProbeTooManyOpen;
        return rc == kNotSingleMediaError ? kProbeNotSingleMedia : kProbeOpenFailed;  // `raw` was freed
    }
    format->reset(raw);
    return kProbeOk;
}

namespace {

// Matroska's duration is where the segment's clock ends, counted from its
// zero: a file whose clock starts late runs that much less. Everything else
// measures a file from its first timestamp, and so does the engine.
void CountLengthFromStart(AVFormatContext* format)
{
    const bool ends_on_own_clock = std::strncmp(format->iformat->name, "matroska", 8) == 0;
    if (ends_on_own_clock && format->start_time > 0 && format->duration > format->start_time)
        format->duration -= format->start_time;
}

}  // namespace

int OpenMediaInput(const char* path, MediaInput& in, const MediaInputOptions& options)
{
    in = MediaInput{};
    if (const int rc = OpenCheckedInput(path, options.interrupt, &in.format, &in.open_error); rc != kProbeOk)
        return rc;
    AVFormatContext* raw = in.format.get();
    if (const int rc = avformat_find_stream_info(raw, nullptr); rc < 0) {
        in = MediaInput{};
        in.open_error = rc;
        return kProbeNoStreamInfo;
    }
    CountLengthFromStart(raw);
    SelectStreams(raw, &in.video_index, &in.audio_index);
    if (in.video_index >= 0)
        DropImplausibleFrameRates(in.VideoStream());
    if (in.video_index >= 0) {
        const int rc = OpenVideoDecoder(in, options.decoder_threads, options.thread_type);
        if (rc != kProbeOk) {
            in = MediaInput{};
            return rc;
        }
    }
    if (in.audio_index >= 0 && options.open_audio)
        OpenAudioDecoder(in);
    return kProbeOk;
}

int AdaptMediaInput(MediaInput& in, const MediaInputOptions& options)
{
    in.format->interrupt_callback = options.interrupt;
    const AVCodecContext* dec = in.video_dec.get();
    if (dec && (dec->thread_count != options.decoder_threads || dec->thread_type != options.thread_type)) {
        const int rc = OpenVideoDecoder(in, options.decoder_threads, options.thread_type);
        if (rc != kProbeOk)
            return rc;
    }
    if (!options.open_audio) {
        in.audio_dec.reset();
        in.audio_decoder_open = false;
    }
    return kProbeOk;
}

namespace {

bool IsPlausibleFrameRate(AVRational rate)
{
    return rate.num > 0 && rate.den > 0 && av_q2d(rate) <= kMaxPlausibleFps;
}

}  // namespace

AVRational PlausibleFrameRate(const AVStream* st)
{
    if (IsPlausibleFrameRate(st->avg_frame_rate))
        return st->avg_frame_rate;
    if (IsPlausibleFrameRate(st->r_frame_rate))
        return st->r_frame_rate;
    return AVRational{0, 1};
}

void DropImplausibleFrameRates(AVStream* st)
{
    if (!IsPlausibleFrameRate(st->avg_frame_rate))
        st->avg_frame_rate = AVRational{0, 1};
    if (st->r_frame_rate.num > 0 && !IsPlausibleFrameRate(st->r_frame_rate) && st->avg_frame_rate.num > 0)
        st->r_frame_rate = st->avg_frame_rate;
}

SourceRate ApplyFrameRateRule(AVStream* stream)
{
    SourceRate r;
    AVRational& rate = stream->r_frame_rate;
    if (rate.den != 0)
        r.fps = static_cast<double>(rate.num / rate.den);
    if (r.fps > 1000) {
        rate.den = 1001;
        r.fps = static_cast<double>(rate.num / 1001);
    }
    r.den = rate.den;
    r.num = rate.num;
    return r;
}

double HeldSeconds(const MediaInput& in)
{
    double held = 0;
    for (const AVStream* st : {in.VideoStream(), in.AudioStream()}) {
        if (st && st->duration != AV_NOPTS_VALUE && st->duration > 0)
            held = std::max(held, st->duration * av_q2d(st->time_base));
    }
    if (held > 0 || in.format->duration <= 0)
        return held;
    return in.format->duration / 1e6;
}

double ContainerStartSeconds(const AVFormatContext* format)
{
    if (format->start_time == AV_NOPTS_VALUE)
        return 0.0;
    return static_cast<double>(format->start_time) / 1000000.0;
}

namespace {

// Codecs whose packets the MP4 demuxer either parses for headers only
// (H.264) or not at all: none is split or joined by a parser.
bool StoredWholeInMp4(const AVCodecParameters* par)
{
    switch (par->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC;
    case AVMEDIA_TYPE_AUDIO:
        return par->codec_id == AV_CODEC_ID_AAC;
    default:
        return true;  // subtitles, data and attachments are never parsed
    }
}

}  // namespace

bool ReadPacketsAsStored(AVFormatContext* format)
{
    if (!format->iformat || std::strncmp(format->iformat->name, "mov,", 4) != 0)
        return false;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (!StoredWholeInMp4(format->streams[i]->codecpar))
            return false;
    format->flags |= AVFMT_FLAG_NOPARSE;
    return true;
}

SeekMethod SeekToCutStart(AVFormatContext* format, int64_t start_us)
{
    int stream = -1;
    int audio = -1;
    SelectStreams(format, &stream, &audio);
    if (stream < 0)
        stream = audio;
    // Every method works on the container's own timeline.
    return SeekAtOrBefore(format, stream, OnFileClock(start_us, format));
}

