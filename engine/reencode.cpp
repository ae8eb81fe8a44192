#include "reencode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "conversion_job.h"
#include "job_output.h"

namespace {

// A timestamp jump longer than this (a broken stream) is left as a gap
// instead of being filled with copies of one picture.
constexpr int kMaxRepeatSeconds = 10;
// MPEG-4 part 2 stores the time base denominator in 16 bits.
constexpr int kMpeg4MaxTimeBaseDen = 65535;

struct FpsTimeBase {
    double fps;
    AVRational time_base;
};
const FpsTimeBase kFpsTimeBases[] = {
    {8, {1001, 8008}},    {10, {1001, 10010}},   {12, {1001, 12012}}, {14.985, {1001, 15000}},
    {15, {1001, 15015}},  {18, {1, 18}},         {20, {1001, 20020}}, {23.975, {1001, 24000}},
    {24, {1001, 24024}},  {25, {1001, 25025}},   {29.97, {1001, 30000}}, {30, {1001, 30030}},
    {50, {1, 50}},        {60, {1, 60}},
};

bool IsVideoEncoderOffered(int id)
{
    return id == AV_CODEC_ID_MPEG4 || id == AV_CODEC_ID_FLV1 || id == AV_CODEC_ID_WMV2 ||
           id == AV_CODEC_ID_H264;
}

AVSampleFormat PreferredSampleFormat(int id)
{
    switch (id) {
    case AV_CODEC_ID_AAC: return AV_SAMPLE_FMT_S16;
    case AV_CODEC_ID_MP3: return AV_SAMPLE_FMT_S32P;
    case AV_CODEC_ID_VORBIS:
    case AV_CODEC_ID_WMAV2: return AV_SAMPLE_FMT_FLTP;
    default: return AV_SAMPLE_FMT_NONE;  // not offered
    }
}

// The preferred format when the encoder takes it, else the encoder's own
// first choice (the native AAC encoder takes planar float only).
AVSampleFormat SupportedSampleFormat(const AVCodec* codec, AVSampleFormat preferred)
{
    if (!codec->sample_fmts)
        return preferred;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
        if (*f == preferred)
            return preferred;
    }
    return codec->sample_fmts[0];
}

// One frame of the target rate: from the chosen rate's table entry, or the
// input's base rate when the source's rate is kept.
AVRational VideoTimeBase(ConversionJob* job, const AVStream* in_st, int codec_id)
{
    AVRational tb{in_st->r_frame_rate.den, in_st->r_frame_rate.num};
    if (tb.num <= 0 || tb.den <= 0) {
        const AVRational avg = in_st->avg_frame_rate;
        tb = (avg.num > 0 && avg.den > 0) ? AVRational{avg.den, avg.num} : AVRational{1, 25};
    }
    if (job->target_fps == 0) {
        job->target_fps = static_cast<double>(tb.den / tb.num);
        if (codec_id == AV_CODEC_ID_MPEG4) {
            if (tb.num == 32768 && tb.den == 982057)
                tb = {100, 2997};
            else if (tb.num == 32768 && tb.den == 785645)
                tb = {1001, 24000};
        }
    }
    for (const FpsTimeBase& entry : kFpsTimeBases) {
        if (job->target_fps == entry.fps)
            tb = entry.time_base;
    }
    if (codec_id == AV_CODEC_ID_MPEG4 && tb.den > kMpeg4MaxTimeBaseDen)
        av_reduce(&tb.num, &tb.den, tb.num, tb.den, kMpeg4MaxTimeBaseDen);
    return tb;
}

void ApplyH264Settings(AVCodecContext* enc)
{
    enc->me_range = 16;
    enc->max_qdiff = 4;
    enc->qmin = 10;
    enc->qmax = 51;
    enc->qcompress = 0.6f;
    enc->keyint_min = 25;
}

// Samples in one layout and format, freed with their owner.
class SampleBuffer {
public:
    SampleBuffer(int channels, int samples, AVSampleFormat format)
    {
        if (samples > 0 &&
            av_samples_alloc_array_and_samples(&planes_, nullptr, channels, samples, format, 0) < 0)
            planes_ = nullptr;
    }
    ~SampleBuffer()
    {
        if (planes_)
            av_freep(&planes_[0]);
        av_freep(&planes_);
    }
    SampleBuffer(SampleBuffer&& other) noexcept : planes_(other.planes_) { other.planes_ = nullptr; }
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;

    uint8_t** planes() const { return planes_; }
    void** data() const { return reinterpret_cast<void**>(planes_); }

private:
    uint8_t** planes_ = nullptr;
};

}  // namespace

struct Reencoder::State {
    explicit State(ConversionJob* j) : job(j) {}

    ConversionJob* job;
    JobOutput* out = nullptr;

    // For the whole job.
    CodecContextPtr venc;
    CodecContextPtr aenc;
    FramePtr scaled;       // a picture in the encoder's size and format
    FramePtr audio_frame;  // one encoder frame of samples
    AudioFifoPtr fifo;     // samples in the encoder's format, not yet encoded
    PacketPtr encoded;
    int64_t next_video_pts = 0;  // in venc's time base
    int64_t audio_samples = 0;   // samples handed to the audio encoder

    // For one input.
    ScalerPtr scaler;
    ResamplerPtr resampler;
    FramePtr decoded;
    int64_t input_video_start = 0;  // next_video_pts when the input began
    int64_t input_audio_start = 0;  // audio position (samples) when it began
    int64_t offset_us = 0;           // where the input starts in the output
    int64_t origin_us = AV_NOPTS_VALUE;
    bool origin_from_video = false;
    int64_t audio_first_us = AV_NOPTS_VALUE;  // first decoded sound, held until the origin is known
    bool video_reached_end = false;
    bool audio_reached_end = false;
    int pictures_decoded = 0;
    int64_t span_pictures = -1;  // a cut: pictures the span holds
    int64_t span_samples = -1;   // a cut: samples the span holds

    // Samples queued or encoded, on the output's timeline.
    int64_t AudioPosition() const { return audio_samples + (fifo ? av_audio_fifo_size(fifo.get()) : 0); }
    int64_t VideoFedMicroseconds() const
    {
        return venc ? av_rescale_q(next_video_pts, venc->time_base, AV_TIME_BASE_Q) : 0;
    }
    int64_t AudioFedMicroseconds() const
    {
        return aenc ? av_rescale_q(AudioPosition(), AVRational{1, aenc->sample_rate}, AV_TIME_BASE_Q) : 0;
    }

    bool OpenVideoEncoder(InputRun& run, AVStream* out_st);
    bool OpenAudioEncoder(InputRun& run, AVStream* out_st);
    bool WriteEncoded(AVCodecContext* enc, AVStream* st, StreamClock& clock);
    bool EncodeVideo(const AVFrame* frame);
    bool EncodeAudio(const AVFrame* frame);
    bool EmitPicture(InputRun& run, AVFrame* frame);
    bool QueueSamples(InputRun& run, AVFrame* frame);
    bool EncodeQueuedFrames(bool pad_last);
    bool ReceivePictures(InputRun& run);
    bool ReceiveSamples(InputRun& run);
    void SetOrigin(int64_t us, bool from_video);
    bool AlignQueuedSound();
    bool PadSilence(int64_t samples);
    bool QueueConverted(uint8_t** planes, int n);
    SampleBuffer NewSamples(int n) const;
};

// ---------------------------------------------------------------- set-up

bool Reencoder::State::OpenVideoEncoder(InputRun& run, AVStream* out_st)
{
    const int id = job->video_codec_id;
    const AVCodec* codec = IsVideoEncoderOffered(id) ? avcodec_find_encoder(AVCodecID(id)) : nullptr;
    if (!codec || job->target_width <= 0 || job->target_height <= 0)
        return false;
    venc.reset(avcodec_alloc_context3(codec));
    if (!venc)
        return false;
    AVCodecContext* enc = venc.get();
    const AVCodecContext* dec = run.in.video_dec.get();
    enc->bit_rate = job->video_bit_rate > 0 ? job->video_bit_rate : 3000000;
    enc->width = job->target_width;
    enc->height = job->target_height;
    enc->time_base = VideoTimeBase(job, run.in.VideoStream(), id);
    enc->framerate = av_inv_q(enc->time_base);
    enc->gop_size = dec->gop_size;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->sample_aspect_ratio = AVRational{1, 1};
    if (out->ctx->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (id == AV_CODEC_ID_H264) {
        ApplyH264Settings(enc);
        av_opt_set(enc->priv_data, "preset", "superfast", 0);
    }
    AVDictionary* raw = nullptr;
    av_dict_set(&raw, "threads", "2", 0);
    DictionaryPtr options(raw);
    job->encoder_options = raw;
    const int rc = avcodec_open2(enc, codec, &raw);
    options.release();
    options.reset(raw);  // open may have replaced the dictionary
    job->encoder_options = nullptr;
    if (rc < 0 || avcodec_parameters_from_context(out_st->codecpar, enc) < 0)
        return false;
    out_st->time_base = enc->time_base;
    out_st->avg_frame_rate = enc->framerate;
    out_st->r_frame_rate = enc->framerate;

    scaled = MakeFrame();
    if (!scaled)
        return false;
    scaled->format = enc->pix_fmt;
    scaled->width = enc->width;
    scaled->height = enc->height;
    if (av_frame_get_buffer(scaled.get(), 0) < 0)
        return false;
    job->video_enc_ctx = enc;
    job->video_encoder = codec;
    job->scaled_frame = scaled.get();
    return true;
}

bool Reencoder::State::OpenAudioEncoder(InputRun&, AVStream* out_st)
{
    const int id = job->audio_codec_id;
    const AVSampleFormat preferred = PreferredSampleFormat(id);
    const AVCodec* codec = preferred != AV_SAMPLE_FMT_NONE ? avcodec_find_encoder(AVCodecID(id)) : nullptr;
    if (!codec || job->audio_sample_rate <= 0 || job->audio_channels <= 0)
        return false;
    aenc.reset(avcodec_alloc_context3(codec));
    if (!aenc)
        return false;
    AVCodecContext* enc = aenc.get();
    enc->bit_rate = job->audio_bit_rate;
    if (id == AV_CODEC_ID_AAC)
        enc->bit_rate = std::max<int64_t>(enc->bit_rate, 128000);
    enc->sample_rate = job->audio_sample_rate;
    av_channel_layout_default(&enc->ch_layout, job->audio_channels);
    enc->sample_fmt = SupportedSampleFormat(codec, preferred);
    enc->time_base = AVRational{1, enc->sample_rate};
    const char* name = out->ctx->oformat->name;
    if ((out->ctx->oformat->flags & AVFMT_GLOBALHEADER) || !std::strcmp(name, "mp4") ||
        !std::strcmp(name, "mov") || !std::strcmp(name, "3gp"))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0 ||
        avcodec_parameters_from_context(out_st->codecpar, enc) < 0)
        return false;
    out_st->time_base = enc->time_base;

    fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 4096));
    audio_frame = MakeFrame();
    if (!fifo || !audio_frame)
        return false;
    job->audio_enc_ctx = enc;
    job->audio_encoder = codec;
    job->audio_fifo[0] = fifo.get();
    return true;
}

Reencoder::Reencoder(ConversionJob* job) : state_(new State(job)) { state_->encoded = MakePacket(); }

Reencoder::~Reencoder()
{
    ConversionJob* job = state_->job;
    job->video_enc_ctx = nullptr;
    job->audio_enc_ctx = nullptr;
    job->scaled_frame = nullptr;
    job->audio_fifo[0] = nullptr;
}

bool Reencoder::SetUpVideo(JobOutput& out, InputRun& run, AVStream* out_stream)
{
    state_->out = &out;
    return state_->venc ? true : state_->OpenVideoEncoder(run, out_stream);
}

bool Reencoder::SetUpAudio(JobOutput& out, InputRun& run, AVStream* out_stream)
{
    state_->out = &out;
    return state_->aenc ? true : state_->OpenAudioEncoder(run, out_stream);
}

bool Reencoder::BeginInput(JobOutput& out, InputRun& run)
{
    State& s = *state_;
    s.out = &out;
    s.scaler.reset();
    s.resampler.reset();
    s.decoded = MakeFrame();
    s.origin_us = AV_NOPTS_VALUE;
    s.audio_first_us = AV_NOPTS_VALUE;
    s.video_reached_end = s.audio_reached_end = false;
    s.pictures_decoded = 0;
    // Each input starts where everything handed to the encoders ends.
    s.offset_us = std::max(s.VideoFedMicroseconds(), s.AudioFedMicroseconds());
    s.input_video_start = s.venc ? av_rescale_q(s.offset_us, AV_TIME_BASE_Q, s.venc->time_base) : 0;
    s.next_video_pts = std::max(s.next_video_pts, s.input_video_start);
    s.input_audio_start = s.aenc ? av_rescale_q(s.offset_us, AV_TIME_BASE_Q, AVRational{1, s.aenc->sample_rate}) : 0;
    if (s.aenc && s.AudioPosition() < s.input_audio_start && !s.PadSilence(s.input_audio_start - s.AudioPosition()))
        return false;

    const ConversionJob* job = s.job;
    const double span = job->span_s[run.index];
    s.span_pictures = job->join_mode || !s.venc ? -1 : std::llround(std::max(span, 0.0) / av_q2d(s.venc->time_base));
    s.span_samples = job->join_mode || !s.aenc ? -1 : std::llround(std::max(span, 0.0) * s.aenc->sample_rate);
    if (!run.in.VideoStream() || !s.venc)
        s.video_reached_end = true;
    if (!run.in.AudioStream() || !s.aenc || !run.in.audio_decoder_open)
        s.audio_reached_end = true;

    const AVCodecContext* dec = run.in.audio_dec.get();
    if (s.aenc && dec && run.in.audio_decoder_open) {
        const AVCodecContext* enc = s.aenc.get();
        AVChannelLayout in_layout{};
        if (dec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || dec->ch_layout.nb_channels == 0)
            av_channel_layout_default(&in_layout, std::max(dec->ch_layout.nb_channels, 1));
        else
            av_channel_layout_copy(&in_layout, &dec->ch_layout);
        const bool differs = dec->sample_rate != enc->sample_rate ||
                             in_layout.nb_channels != enc->ch_layout.nb_channels ||
                             dec->sample_fmt != enc->sample_fmt;
        if (differs) {
            SwrContext* swr = nullptr;
            AVChannelLayout out_layout{};
            av_channel_layout_copy(&out_layout, &enc->ch_layout);
            const int rc = swr_alloc_set_opts2(&swr, &out_layout, enc->sample_fmt, enc->sample_rate,
                                               &in_layout, dec->sample_fmt, dec->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&out_layout);
            s.resampler.reset(swr);
            if (rc < 0 || swr_init(swr) < 0) {
                av_channel_layout_uninit(&in_layout);
                return false;
            }
        }
        av_channel_layout_uninit(&in_layout);
    }
    s.job->resampler = s.resampler.get();
    return s.decoded != nullptr;
}

// ---------------------------------------------------------------- writing

bool Reencoder::State::WriteEncoded(AVCodecContext* enc, AVStream* st, StreamClock& clock)
{
    AVPacket* pkt = encoded.get();
    for (;;) {
        const int rc = avcodec_receive_packet(enc, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return false;
        av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
        if (WriteOutputPacket(*out, pkt, st, clock) < 0)
            return false;
    }
}

bool Reencoder::State::EncodeVideo(const AVFrame* frame)
{
    if (avcodec_send_frame(venc.get(), frame) < 0 && frame)
        return false;
    return WriteEncoded(venc.get(), out->video, out->video_clock);
}

bool Reencoder::State::EncodeAudio(const AVFrame* frame)
{
    if (avcodec_send_frame(aenc.get(), frame) < 0 && frame)
        return false;
    return WriteEncoded(aenc.get(), out->audio, out->audio_clock);
}

// ---------------------------------------------------------------- video

void Reencoder::State::SetOrigin(int64_t us, bool from_video)
{
    origin_us = us;
    origin_from_video = from_video;
}

// A decoded picture goes to every output frame slot its time covers: the
// same rate gives one slot each, a lower target rate drops pictures, a
// higher one repeats them.
bool Reencoder::State::EmitPicture(InputRun& run, AVFrame* frame)
{
    const AVStream* st = run.in.VideoStream();
    const int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        return true;
    const int64_t us = av_rescale_q(ts, st->time_base, AV_TIME_BASE_Q);
    if (origin_us == AV_NOPTS_VALUE) {
        SetOrigin(us, true);
        if (!AlignQueuedSound())
            return false;
    }
    const AVRational tb = venc->time_base;
    const int64_t relative = av_rescale_q(us - origin_us, AV_TIME_BASE_Q, tb);
    if (relative < 0)
        return true;  // before the input's first picture (reordered leftovers)
    if (span_pictures >= 0 && relative >= span_pictures) {
        video_reached_end = true;
        return true;
    }
    int64_t slot = input_video_start + relative;
    const int64_t max_repeat = kMaxRepeatSeconds * tb.den / std::max(tb.num, 1);
    if (slot - next_video_pts > max_repeat)
        next_video_pts = slot;
    if (slot < next_video_pts)
        return true;

    AVCodecContext* enc = venc.get();
    scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height,
                                      AVPixelFormat(frame->format), enc->width, enc->height,
                                      enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
    job->scaler = scaler.get();
    if (!scaler || av_frame_make_writable(scaled.get()) < 0)
        return false;
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, scaled->data, scaled->linesize);
    for (; next_video_pts <= slot; ++next_video_pts) {
        if (span_pictures >= 0 && next_video_pts >= input_video_start + span_pictures)
            break;
        scaled->pts = next_video_pts;
        if (!EncodeVideo(scaled.get()))
            return false;
    }
    return true;
}

bool Reencoder::State::ReceivePictures(InputRun& run)
{
    AVCodecContext* dec = run.in.video_dec.get();
    for (;;) {
        const int rc = avcodec_receive_frame(dec, decoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return true;  // a picture that does not decode is skipped
        ++pictures_decoded;
        const bool ok = EmitPicture(run, decoded.get());
        av_frame_unref(decoded.get());
        if (!ok)
            return false;
    }
}

// ---------------------------------------------------------------- audio

SampleBuffer Reencoder::State::NewSamples(int n) const
{
    return SampleBuffer(aenc->ch_layout.nb_channels, n, aenc->sample_fmt);
}

bool Reencoder::State::PadSilence(int64_t samples)
{
    if (samples <= 0)
        return true;
    const int n = static_cast<int>(samples);
    SampleBuffer silence = NewSamples(n);
    if (!silence.planes())
        return false;
    av_samples_set_silence(silence.planes(), 0, n, aenc->ch_layout.nb_channels, aenc->sample_fmt);
    return av_audio_fifo_write(fifo.get(), silence.data(), n) == n;
}

// Sound decoded before the first picture waits in the queue; once the
// picture fixes the input's origin, sound from before it is dropped and a
// late start is preceded by silence, so both begin together.
bool Reencoder::State::AlignQueuedSound()
{
    if (!aenc || audio_first_us == AV_NOPTS_VALUE)
        return true;
    const AVRational sample_tb{1, aenc->sample_rate};
    const int64_t lead = av_rescale_q(audio_first_us - origin_us, AV_TIME_BASE_Q, sample_tb);
    const int held = av_audio_fifo_size(fifo.get()) - static_cast<int>(input_audio_start - audio_samples);
    if (lead > 0 && held > 0) {
        SampleBuffer sound = NewSamples(held);
        if (!sound.planes())
            return false;
        av_audio_fifo_read(fifo.get(), sound.data(), held);
        if (!PadSilence(lead) || av_audio_fifo_write(fifo.get(), sound.data(), held) != held)
            return false;
    } else if (lead < 0) {
        av_audio_fifo_drain(fifo.get(), static_cast<int>(std::min<int64_t>(-lead, std::max(held, 0))));
    }
    return EncodeQueuedFrames(false);
}

// Appends converted samples; a cut keeps no more than its span.
bool Reencoder::State::QueueConverted(uint8_t** planes, int n)
{
    if (span_samples >= 0 && origin_us != AV_NOPTS_VALUE) {
        const int64_t room = input_audio_start + span_samples - AudioPosition();
        if (room <= n) {
            audio_reached_end = true;
            n = static_cast<int>(std::max<int64_t>(room, 0));
        }
    }
    return n <= 0 || av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planes), n) == n;
}

bool Reencoder::State::QueueSamples(InputRun& run, AVFrame* frame)
{
    if (frame && audio_first_us == AV_NOPTS_VALUE && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        audio_first_us = av_rescale_q(frame->best_effort_timestamp, run.in.AudioStream()->time_base, AV_TIME_BASE_Q);
        if (origin_us == AV_NOPTS_VALUE && (!run.in.VideoStream() || !venc))
            SetOrigin(audio_first_us, false);
    }
    bool ok = true;
    if (resampler) {
        const int capacity = swr_get_out_samples(resampler.get(), frame ? frame->nb_samples : 0);
        if (capacity <= 0)
            return true;
        SampleBuffer converted = NewSamples(capacity);
        if (!converted.planes())
            return false;
        const int n = swr_convert(resampler.get(), converted.planes(), capacity,
                                  frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                  frame ? frame->nb_samples : 0);
        ok = n >= 0 && QueueConverted(converted.planes(), n);
    } else if (frame) {
        ok = QueueConverted(frame->extended_data, frame->nb_samples);
    }
    // Until the picture fixes the origin, sound only queues.
    return ok && (origin_us == AV_NOPTS_VALUE || EncodeQueuedFrames(false));
}

// Feeds the encoder exactly its frame size; only the very last frame of a
// job is padded with silence.
bool Reencoder::State::EncodeQueuedFrames(bool pad_last)
{
    AVCodecContext* enc = aenc.get();
    const int frame_size = enc->frame_size > 0 ? enc->frame_size : 1024;
    for (;;) {
        const int queued = av_audio_fifo_size(fifo.get());
        if (queued == 0 || (queued < frame_size && !pad_last))
            return true;
        AVFrame* f = audio_frame.get();
        av_frame_unref(f);
        f->nb_samples = frame_size;
        f->format = enc->sample_fmt;
        f->sample_rate = enc->sample_rate;
        if (av_channel_layout_copy(&f->ch_layout, &enc->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
            return false;
        const int n = std::min(queued, frame_size);
        av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->extended_data), n);
        if (n < frame_size)
            av_samples_set_silence(f->extended_data, n, frame_size - n, enc->ch_layout.nb_channels, enc->sample_fmt);
        f->pts = audio_samples;
        audio_samples += frame_size;
        if (!EncodeAudio(f))
            return false;
    }
}

bool Reencoder::State::ReceiveSamples(InputRun& run)
{
    AVCodecContext* dec = run.in.audio_dec.get();
    for (;;) {
        const int rc = avcodec_receive_frame(dec, decoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF || rc < 0)
            return true;  // undecodable sound is skipped
        const bool ok = audio_reached_end || QueueSamples(run, decoded.get());
        av_frame_unref(decoded.get());
        if (!ok)
            return false;
    }
}

// ---------------------------------------------------------------- per packet

bool Reencoder::VideoPacket(JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    State& s = *state_;
    s.out = &out;
    if (!s.venc)
        return true;
    avcodec_send_packet(run.in.video_dec.get(), pkt);  // a damaged packet is skipped
    return s.ReceivePictures(run);
}

bool Reencoder::AudioPacket(JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    State& s = *state_;
    s.out = &out;
    if (!s.aenc || !run.in.audio_decoder_open || s.audio_reached_end)
        return true;
    avcodec_send_packet(run.in.audio_dec.get(), pkt);
    return s.ReceiveSamples(run);
}

bool Reencoder::SpanReached(const InputRun&) const
{
    return state_->video_reached_end && state_->audio_reached_end;
}

double Reencoder::InputSeconds(const InputRun&) const
{
    const State& s = *state_;
    return (std::max(s.VideoFedMicroseconds(), s.AudioFedMicroseconds()) - s.offset_us) / 1e6;
}

bool Reencoder::EndInput(JobOutput& out, InputRun& run)
{
    State& s = *state_;
    s.out = &out;
    bool ok = true;
    if (s.venc && run.in.video_dec) {
        avcodec_send_packet(run.in.video_dec.get(), nullptr);
        ok = s.ReceivePictures(run);
        // Video that never gave a single picture cannot be converted.
        if (s.pictures_decoded == 0)
            ok = false;
    }
    if (s.aenc && run.in.audio_decoder_open) {
        avcodec_send_packet(run.in.audio_dec.get(), nullptr);
        ok = s.ReceiveSamples(run) && ok;
        if (s.resampler && !s.audio_reached_end)
            ok = s.QueueSamples(run, nullptr) && ok;  // the resampler's delay
        if (s.origin_us == AV_NOPTS_VALUE && s.audio_first_us != AV_NOPTS_VALUE)
            s.SetOrigin(s.audio_first_us, false);
        ok = s.EncodeQueuedFrames(false) && ok;
    }
    // A cut's sound and picture end together: the shorter one is made up.
    if (ok && !s.job->join_mode && s.aenc && s.venc) {
        const int64_t video_end_samples = av_rescale_q(s.next_video_pts, s.venc->time_base, AVRational{1, s.aenc->sample_rate});
        if (s.AudioPosition() < video_end_samples)
            ok = s.PadSilence(video_end_samples - s.AudioPosition());
    }
    s.scaler.reset();
    s.resampler.reset();
    s.job->scaler = nullptr;
    s.job->resampler = nullptr;
    return ok;
}

bool Reencoder::FinishJob(JobOutput& out)
{
    State& s = *state_;
    s.out = &out;
    bool ok = true;
    if (s.aenc) {
        ok = s.EncodeQueuedFrames(true) && ok;
        ok = s.EncodeAudio(nullptr) && ok;
    }
    if (s.venc)
        ok = s.EncodeVideo(nullptr) && ok;
    return ok;
}
