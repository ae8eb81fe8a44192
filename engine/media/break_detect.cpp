// SPDX-License-Identifier: GPL-3.0-or-later
#include "break_detect.h"

#include "av_handles.h"
#include "filter_library.h"
#include "media_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

struct GraphDeleter {
    void operator()(AVFilterGraph* g) const { Filters()->graph_free(&g); }  // made by the loaded library
};
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphDeleter>;
struct InOutDeleter {
    void operator()(AVFilterInOut* io) const { Filters()->inout_free(&io); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutDeleter>;

int StopWhenCancelled(void* opaque)
{
    return static_cast<const std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

// One filter chain from a source to a sink, built for one kind of frame.
struct FilterChain {
    GraphPtr graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    int width = 0, height = 0, format = -1;

    bool Build(const char* source_name, const std::string& source_args, const char* sink_name,
               const std::string& chain)
    {
        const FilterLibrary* f = Filters();
        graph.reset(f ? f->graph_alloc() : nullptr);
        if (!graph)
            return false;
        graph->nb_threads = 2;
        if (f->graph_create_filter(&source, f->get_by_name(source_name), "in", source_args.c_str(), nullptr,
                                   graph.get()) < 0 ||
            f->graph_create_filter(&sink, f->get_by_name(sink_name), "out", nullptr, nullptr, graph.get()) < 0)
            return false;
        InOutPtr outputs(f->inout_alloc()), inputs(f->inout_alloc());
        if (!outputs || !inputs)
            return false;
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink;
        AVFilterInOut* in_raw = inputs.release();
        AVFilterInOut* out_raw = outputs.release();
        const int parsed = f->graph_parse_ptr(graph.get(), chain.c_str(), &in_raw, &out_raw, nullptr);
        f->inout_free(&in_raw);
        f->inout_free(&out_raw);
        return parsed >= 0 && f->graph_config(graph.get(), nullptr) >= 0;
    }
};

std::string Number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

// A decoder made cheap for looking at: every picture (edges must be
// picture-exact), but at a reduced size where the codec can decode one,
// without the loop filter (it only smooths edges between blocks), threaded.
CodecContextPtr OpenLookingDecoder(const AVStream* st, int picture_height)
{
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return nullptr;
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return nullptr;
    ctx->pkt_timebase = st->time_base;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        ctx->thread_count = 2;
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        ctx->skip_loop_filter = AVDISCARD_ALL;
        int lowres = 0;
        while (lowres < codec->max_lowres && (st->codecpar->height >> (lowres + 1)) >= picture_height)
            ++lowres;
        ctx->lowres = lowres;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return nullptr;
    return ctx;
}

class Scanner {
public:
    Scanner(const DetectSettings& settings, const std::atomic<bool>& cancel, std::atomic<int>* percent)
        : settings_(settings), cancel_(cancel), percent_(percent)
    {
    }
    int Run(const char* path, DetectedPoints* points);

private:
    int Open(const char* path);
    bool BuildVideoChain(const AVFrame* frame);
    bool BuildAudioChain(const AVFrame* frame);
    bool Decode(AVCodecContext* dec, const AVPacket* pkt, bool video);
    bool Filter(AVFrame* frame, bool video);
    void ReadVideoMarks(const AVFrame* frame);
    void ReadAudioMarks(const AVFrame* frame);
    void CloseOpenIntervals();
    int64_t Us(int64_t ts, AVRational tb) const { return av_rescale_q(ts, tb, AV_TIME_BASE_Q) - origin_us_; }
    void Progress(int64_t us);

    const DetectSettings& settings_;
    const std::atomic<bool>& cancel_;
    std::atomic<int>* percent_;
    InputContextPtr format_;
    CodecContextPtr video_dec_, audio_dec_;
    int video_ = -1, audio_ = -1;
    int64_t origin_us_ = 0, length_us_ = 0;
    FilterChain video_chain_, audio_chain_;
    FramePtr decoded_ = MakeFrame(), filtered_ = MakeFrame();
    DetectedPoints found_;
    int64_t black_from_ = -1, silence_from_ = -1;
    int64_t video_end_us_ = 0, audio_end_us_ = 0;
};

int Scanner::Open(const char* path)
{
    const AVIOInterruptCB interrupt{StopWhenCancelled, const_cast<std::atomic<bool>*>(&cancel_)};
    if (const int rc = OpenCheckedInput(path, interrupt, &format_); rc != kProbeOk)
        return cancel_ ? kDetectCancelled : rc;
    if (avformat_find_stream_info(format_.get(), nullptr) < 0)
        return cancel_ ? kDetectCancelled : kProbeNoStreamInfo;
    SelectStreams(format_.get(), &video_, &audio_);
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (static_cast<int>(i) != video_ && static_cast<int>(i) != audio_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    if (video_ >= 0 && !(video_dec_ = OpenLookingDecoder(format_->streams[video_], settings_.picture_height)))
        return kProbeVideoDecoderFailed;
    if (audio_ >= 0)
        audio_dec_ = OpenLookingDecoder(format_->streams[audio_], settings_.picture_height);
    if (!video_dec_ && !audio_dec_)
        return kProbeNoVideoDecoder;
    origin_us_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    length_us_ = std::max<int64_t>(format_->duration, 0);
    return kProbeOk;
}

bool Scanner::BuildVideoChain(const AVFrame* frame)
{
    const AVStream* st = format_->streams[video_];
    const AVRational sar = frame->sample_aspect_ratio.num ? frame->sample_aspect_ratio : AVRational{1, 1};
    const std::string args = "video_size=" + std::to_string(frame->width) + "x" + std::to_string(frame->height) +
                             ":pix_fmt=" + std::to_string(frame->format) + ":time_base=" +
                             std::to_string(st->time_base.num) + "/" + std::to_string(st->time_base.den) +
                             ":pixel_aspect=" + std::to_string(sar.num) + "/" + std::to_string(sar.den);
    // Black and scene changes read the brightness alone; small pictures do.
    const int height = std::min(frame->height, settings_.picture_height);
    std::string chain = "scale=w=-2:h=" + std::to_string(height) + ":flags=fast_bilinear,format=gray,"
                        "blackdetect=d=0:pic_th=" + Number(settings_.black_picture_ratio) +
                        ":pix_th=" + Number(settings_.black_pixel_level);
    if (settings_.scenes)
        chain += ",scdet=threshold=" + Number(settings_.scene_threshold);
    video_chain_ = FilterChain{};
    video_chain_.width = frame->width;
    video_chain_.height = frame->height;
    video_chain_.format = frame->format;
    return video_chain_.Build("buffer", args, "buffersink", chain);
}

bool Scanner::BuildAudioChain(const AVFrame* frame)
{
    const AVStream* st = format_->streams[audio_];
    char layout[128] = "";
    std::string args = "time_base=" + std::to_string(st->time_base.num) + "/" + std::to_string(st->time_base.den) +
                       ":sample_rate=" + std::to_string(frame->sample_rate) +
                       ":sample_fmt=" + av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        av_channel_layout_describe(&frame->ch_layout, layout, sizeof layout) > 0)
        args += std::string(":channel_layout=") + layout;
    else
        args += ":channels=" + std::to_string(frame->ch_layout.nb_channels);
    audio_chain_ = FilterChain{};
    audio_chain_.width = frame->sample_rate;
    audio_chain_.height = frame->ch_layout.nb_channels;
    audio_chain_.format = frame->format;
    return audio_chain_.Build("abuffer", args, "abuffersink",
                              "silencedetect=n=" + Number(settings_.silence_db) + "dB:d=" +
                                  Number(settings_.silence_min_s));
}

void Scanner::ReadVideoMarks(const AVFrame* frame)
{
    const AVRational tb = format_->streams[video_]->time_base;
    const int64_t at = Us(frame->pts, tb);
    // The filter marks the first black picture and the first picture after.
    if (av_dict_get(frame->metadata, "lavfi.black_start", nullptr, 0))
        black_from_ = at;
    if (av_dict_get(frame->metadata, "lavfi.black_end", nullptr, 0) && black_from_ >= 0) {
        found_.black.push_back({black_from_, at});
        black_from_ = -1;
    }
    if (av_dict_get(frame->metadata, "lavfi.scd.time", nullptr, 0))
        found_.scene_changes_us.push_back(at);
    const AVRational rate = format_->streams[video_]->avg_frame_rate;
    const int64_t duration = frame->pkt_duration > 0 ? frame->pkt_duration
                             : rate.num > 0      ? av_rescale_q(1, av_inv_q(rate), tb)
                                                 : 0;
    video_end_us_ = std::max(video_end_us_, Us(frame->pts + duration, tb));
}

void Scanner::ReadAudioMarks(const AVFrame* frame)
{
    const AVRational tb = format_->streams[audio_]->time_base;
    // The filter gives its times as seconds of the stream's clock.
    const auto seconds_us = [this](const AVDictionaryEntry* e) {
        return static_cast<int64_t>(std::llround(std::strtod(e->value, nullptr) * 1e6)) - origin_us_;
    };
    if (const AVDictionaryEntry* e = av_dict_get(frame->metadata, "lavfi.silence_start", nullptr, 0))
        silence_from_ = std::max<int64_t>(seconds_us(e), 0);
    if (const AVDictionaryEntry* e = av_dict_get(frame->metadata, "lavfi.silence_end", nullptr, 0)) {
        if (silence_from_ >= 0)
            found_.silence.push_back({silence_from_, seconds_us(e)});
        silence_from_ = -1;
    }
    audio_end_us_ = std::max(audio_end_us_, Us(frame->pts + av_rescale_q(frame->nb_samples,
                                                                           AVRational{1, frame->sample_rate}, tb),
                                               tb));
}

bool Scanner::Filter(AVFrame* frame, bool video)
{
    FilterChain& chain = video ? video_chain_ : audio_chain_;
    if (frame) {
        const bool same = video ? frame->width == chain.width && frame->height == chain.height
                                : frame->sample_rate == chain.width && frame->ch_layout.nb_channels == chain.height;
        // A picture or sound of another kind mid-file gets a chain of its own.
        if ((!chain.graph || !same || frame->format != chain.format) &&
            !(video ? BuildVideoChain(frame) : BuildAudioChain(frame)))
            return false;
    } else if (!chain.graph) {
        return true;
    }
    const FilterLibrary* f = Filters();  // loaded: the chain was built
    if (f->buffersrc_add_frame_flags(chain.source, frame, 0) < 0)
        return false;
    int got;
    while ((got = f->buffersink_get_frame(chain.sink, filtered_.get())) >= 0) {
        if (filtered_->pts != AV_NOPTS_VALUE)
            video ? ReadVideoMarks(filtered_.get()) : ReadAudioMarks(filtered_.get());
        av_frame_unref(filtered_.get());
    }
    return got == AVERROR(EAGAIN) || got == AVERROR_EOF;
}

bool Scanner::Decode(AVCodecContext* dec, const AVPacket* pkt, bool video)
{
    // A damaged packet is passed over, as a player would.
    if (avcodec_send_packet(dec, pkt) < 0 && pkt)
        return true;
    int got;
    while ((got = avcodec_receive_frame(dec, decoded_.get())) >= 0) {
        decoded_->pts = decoded_->best_effort_timestamp;
        const bool ok = decoded_->pts == AV_NOPTS_VALUE || Filter(decoded_.get(), video);
        av_frame_unref(decoded_.get());
        if (!ok)
            return false;
    }
    return got == AVERROR(EAGAIN) || got == AVERROR_EOF || got == AVERROR_INVALIDDATA;
}

void Scanner::Progress(int64_t us)
{
    if (percent_ && length_us_ > 0)
        *percent_ = static_cast<int>(std::clamp<int64_t>(us * 100 / length_us_, 0, 99));
}

// Black or silence lasting to the end of the file ends with it.
void Scanner::CloseOpenIntervals()
{
    if (black_from_ >= 0 && video_end_us_ > black_from_)
        found_.black.push_back({black_from_, video_end_us_});
    if (silence_from_ >= 0 && audio_end_us_ > silence_from_)
        found_.silence.push_back({silence_from_, audio_end_us_});
    black_from_ = silence_from_ = -1;
}

int Scanner::Run(const char* path, DetectedPoints* points)
{
    const int opened = Open(path);
    if (opened != kProbeOk)
        return opened;
    PacketPtr pkt = MakePacket();
    if (!pkt || !decoded_ || !filtered_)
        return kProbeOpenFailed;
    while (!cancel_ && av_read_frame(format_.get(), pkt.get()) >= 0) {
        const bool video = pkt->stream_index == video_ && video_dec_;
        const bool audio = pkt->stream_index == audio_ && audio_dec_;
        const AVRational tb = format_->streams[pkt->stream_index]->time_base;
        if (video && pkt->pts != AV_NOPTS_VALUE)
            Progress(Us(pkt->pts, tb));
        const bool ok = !(video || audio) || Decode(video ? video_dec_.get() : audio_dec_.get(), pkt.get(), video);
        av_packet_unref(pkt.get());
        if (!ok)
            return kDetectFilterFailed;
    }
    if (cancel_)
        return kDetectCancelled;
    if ((video_dec_ && (!Decode(video_dec_.get(), nullptr, true) || !Filter(nullptr, true))) ||
        (audio_dec_ && (!Decode(audio_dec_.get(), nullptr, false) || !Filter(nullptr, false))))
        return kDetectFilterFailed;
    CloseOpenIntervals();
    found_.has_video = video_dec_ != nullptr;
    found_.has_audio = audio_dec_ != nullptr;
    const int64_t min_black = std::llround(settings_.black_min_s * 1e6);
    found_.black.erase(std::remove_if(found_.black.begin(), found_.black.end(),
                                      [&](const TimeInterval& b) { return b.end_us - b.start_us < min_black; }),
                       found_.black.end());
    FindBreaks(settings_, &found_);
    *points = std::move(found_);
    if (percent_)
        *percent_ = 100;
    return kProbeOk;
}

int64_t Overlap(const TimeInterval& a, const TimeInterval& b)
{
    return std::min(a.end_us, b.end_us) - std::max(a.start_us, b.start_us);
}

}  // namespace

void FindBreaks(const DetectSettings& settings, DetectedPoints* points)
{
    points->meetings.clear();
    points->breaks.clear();
    // A black stretch is a meeting when the sound is silent under most of
    // it; its edges are the black's, which are exact to the picture.
    for (const TimeInterval& black : points->black) {
        const int64_t needed = std::min<int64_t>((black.end_us - black.start_us) / 2, 100000);
        for (const TimeInterval& quiet : points->silence)
            if (Overlap(black, quiet) >= std::max<int64_t>(needed, 1)) {
                points->meetings.push_back(black);
                break;
            }
    }
    const int64_t gap = std::llround(settings.break_gap_s * 1e6);
    for (size_t i = 0; i < points->meetings.size();) {
        size_t last = i;
        while (last + 1 < points->meetings.size() &&
               points->meetings[last + 1].start_us - points->meetings[last].end_us <= gap)
            ++last;
        if (last > i)
            points->breaks.push_back({points->meetings[i].start_us, points->meetings[last].end_us});
        i = last + 1;
    }
}

std::vector<int64_t> DetectedPoints::FoundPoints() const
{
    std::vector<int64_t> all = scene_changes_us;
    for (const TimeInterval& m : meetings) {
        all.push_back(m.start_us);
        all.push_back(m.end_us);
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

int DetectCutPoints(const char* path, const DetectSettings& settings, const std::atomic<bool>& cancel,
                    std::atomic<int>* percent, DetectedPoints* points)
{
    Scanner scanner(settings, cancel, percent);
    return scanner.Run(path, points);
}
