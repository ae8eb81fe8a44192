// SPDX-License-Identifier: GPL-3.0-or-later
// The sound path of re-encoding: the audio encoder, the conversion of
// decoded sound to the encoder's format, and the queue that cuts it into
// encoder frames.
#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "container_rules.h"
#include "reencode_state.h"
#include "tracks.h"

namespace {

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
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;

    uint8_t** planes() const { return planes_; }
    void** data() const { return reinterpret_cast<void**>(planes_); }

private:
    uint8_t** planes_ = nullptr;
};

// Plane pointers `offset` samples into `planes` of the encoder's format.
std::vector<void*> PlanesAt(uint8_t** planes, int offset, const AVCodecContext* enc)
{
    const int channels = enc->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(enc->sample_fmt) != 0;
    const int step = av_get_bytes_per_sample(enc->sample_fmt) * (planar ? 1 : channels);
    std::vector<void*> shifted(planar ? channels : 1);
    for (size_t i = 0; i < shifted.size(); ++i)
        shifted[i] = planes[i] + static_cast<ptrdiff_t>(offset) * step;
    return shifted;
}

// A layout without channel order counts as the default for its count.
void FrameLayout(const AVFrame* frame, AVChannelLayout* layout)
{
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels == 0 ||
        av_channel_layout_copy(layout, &frame->ch_layout) < 0)
        av_channel_layout_default(layout, std::max(frame->ch_layout.nb_channels, 1));
}

}  // namespace

bool Reencoder::State::OpenAudioEncoder(AVStream* out_st)
{
    const int id = targets.audio_codec_id;
    const AVSampleFormat preferred = PreferredSampleFormat(id);
    const AVCodec* codec = preferred != AV_SAMPLE_FMT_NONE ? avcodec_find_encoder(AVCodecID(id)) : nullptr;
    if (!codec || targets.sample_rate <= 0 || targets.channels <= 0)
        return false;
    aenc.reset(avcodec_alloc_context3(codec));
    if (!aenc)
        return false;
    AVCodecContext* enc = aenc.get();
    enc->bit_rate = targets.audio_bit_rate;
    if (id == AV_CODEC_ID_AAC)
        enc->bit_rate = std::max<int64_t>(enc->bit_rate, 128000);
    enc->sample_rate = targets.sample_rate;
    av_channel_layout_default(&enc->ch_layout, targets.channels);
    enc->sample_fmt = SupportedSampleFormat(codec, preferred);
    enc->time_base = AVRational{1, enc->sample_rate};
    if (NeedsGlobalHeader(out->ctx->oformat))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc, codec, nullptr) < 0 ||
        avcodec_parameters_from_context(out_st->codecpar, enc) < 0)
        return false;
    out_st->time_base = enc->time_base;
    priming = PlayedPriming(out->ctx->oformat, enc);
    audio_samples = priming;
    MoveOutputLater(out->ctx.get(), PrimingShiftMicroseconds(out->ctx->oformat, enc));

    fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 4096));
    audio_frame = MakeFrame();
    if (!fifo || !audio_frame)
        return false;
    return true;
}

void Reencoder::State::ResetSoundShape()
{
    resampler.reset();
    av_channel_layout_uninit(&resampler_in.layout);
    resampler_in = SoundShape{};
    shape_known = false;
}

// Sound may change its format mid-stream (a broadcast switching from 5.1 to
// stereo at an ad break, another sample rate): each frame is checked against
// what the conversion was built for, and a new one is built on a change.
bool Reencoder::State::MatchResampler(const AVFrame* frame)
{
    SoundShape shape;
    FrameLayout(frame, &shape.layout);
    shape.rate = frame->sample_rate;
    shape.format = frame->format;
    if (shape_known && shape.rate == resampler_in.rate && shape.format == resampler_in.format &&
        av_channel_layout_compare(&shape.layout, &resampler_in.layout) == 0) {
        av_channel_layout_uninit(&shape.layout);
        return true;
    }
    // What the old conversion still holds belongs before the new sound.
    const bool flushed = !shape_known || FlushResampler();
    ResetSoundShape();
    resampler_in = shape;  // takes over the layout
    shape_known = true;
    AVCodecContext* enc = aenc.get();
    if (!flushed)
        return false;
    if (shape.rate == enc->sample_rate && shape.layout.nb_channels == enc->ch_layout.nb_channels &&
        shape.format == enc->sample_fmt)
        return true;  // already in the encoder's format
    SwrContext* swr = nullptr;
    const int rc = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                       &resampler_in.layout, AVSampleFormat(shape.format), shape.rate, 0, nullptr);
    resampler.reset(swr);
    return rc >= 0 && swr_init(swr) >= 0;
}

bool Reencoder::State::ConvertSamples(const AVFrame* frame)
{
    if (!resampler)
        return !frame || QueueConverted(frame->extended_data, frame->nb_samples);
    const int capacity = swr_get_out_samples(resampler.get(), frame ? frame->nb_samples : 0);
    if (capacity <= 0)
        return true;
    SampleBuffer converted(aenc->ch_layout.nb_channels, capacity, aenc->sample_fmt);
    if (!converted.planes())
        return false;
    const int n = swr_convert(resampler.get(), converted.planes(), capacity,
                              frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                              frame ? frame->nb_samples : 0);
    return n >= 0 && QueueConverted(converted.planes(), n);
}

// The samples the resampler holds back for its filter.
bool Reencoder::State::FlushResampler() { return !resampler || ConvertSamples(nullptr); }

// Appends converted samples, after those still to be dropped before the
// origin; a cut keeps no more than its span.
bool Reencoder::State::QueueConverted(uint8_t** planes, int n)
{
    const int skipped = static_cast<int>(std::min<int64_t>(skip_samples, n));
    skip_samples -= skipped;
    n -= skipped;
    if (span_samples >= 0 && origin_us != AV_NOPTS_VALUE) {
        const int64_t room = input_audio_start + span_samples - AudioPosition();
        if (room <= n) {
            audio_reached_end = true;
            n = static_cast<int>(std::max<int64_t>(room, 0));
        }
    }
    if (n <= 0)
        return true;
    std::vector<void*> from = PlanesAt(planes, skipped, aenc.get());
    return av_audio_fifo_write(fifo.get(), from.data(), n) == n;
}

bool Reencoder::State::QueueSamples(InputRun& run, AVFrame* frame)
{
    bool first_sound = false;
    if (audio_first_us == AV_NOPTS_VALUE && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        audio_first_us = av_rescale_q(frame->best_effort_timestamp, run.in.AudioStream()->time_base, AV_TIME_BASE_Q);
        first_sound = true;
    }
    if (frame->sample_rate <= 0 || frame->format < 0 || frame->nb_samples <= 0)
        return true;  // nothing that could be converted
    if (!MatchResampler(frame) || !ConvertSamples(frame))
        return false;
    if (first_sound && origin_us == AV_NOPTS_VALUE && (!run.in.VideoStream() || !venc))
        SetOrigin(start_us != AV_NOPTS_VALUE ? std::max(start_us, audio_first_us) : audio_first_us);
    // Until the picture fixes the origin, sound only queues.
    return origin_us == AV_NOPTS_VALUE || (AlignQueuedSound() && EncodeQueuedFrames(false));
}

// Sound decoded before the origin was known waits in the queue; once it is
// known, sound from before the origin is dropped and a late start is
// preceded by silence, so both begin together.
bool Reencoder::State::AlignQueuedSound()
{
    if (!aenc || sound_aligned || origin_us == AV_NOPTS_VALUE || audio_first_us == AV_NOPTS_VALUE)
        return true;
    sound_aligned = true;
    const int queued = av_audio_fifo_size(fifo.get());
    // The queue starts with what is left of the previous input.
    const int earlier = static_cast<int>(std::clamp<int64_t>(input_audio_start - audio_samples, 0, queued));
    // Where the input's first sound plays, against where the queue puts it
    // (past the input's start by the encoder's priming at the job's start).
    const int64_t ahead = audio_samples + earlier - input_audio_start;
    const int64_t lead =
        av_rescale_q(audio_first_us - origin_us, AV_TIME_BASE_Q, AVRational{1, aenc->sample_rate}) - ahead;
    const int held = queued - earlier;
    if (lead == 0 || held == 0) {
        if (lead < 0)
            skip_samples = -lead;
        return lead <= 0 || PadSilence(lead);
    }
    SampleBuffer all(aenc->ch_layout.nb_channels, queued, aenc->sample_fmt);
    if (!all.planes() || av_audio_fifo_read(fifo.get(), all.data(), queued) != queued)
        return false;
    if (earlier > 0 && av_audio_fifo_write(fifo.get(), all.data(), earlier) != earlier)
        return false;
    if (lead > 0 && !PadSilence(lead))
        return false;
    const int dropped = lead < 0 ? static_cast<int>(std::min<int64_t>(-lead, held)) : 0;
    skip_samples = lead < 0 ? -lead - dropped : 0;
    const int kept = held - dropped;
    std::vector<void*> rest = PlanesAt(all.planes(), earlier + dropped, aenc.get());
    return kept <= 0 || av_audio_fifo_write(fifo.get(), rest.data(), kept) == kept;
}

// Silence goes through the queue one encoder frame at a time, so a long gap
// costs no more memory than a short one.
bool Reencoder::State::PadSilence(int64_t samples)
{
    if (samples <= 0)
        return true;
    const AVCodecContext* enc = aenc.get();
    const int chunk = enc->frame_size > 0 ? enc->frame_size : 1024;
    SampleBuffer silence(enc->ch_layout.nb_channels, chunk, enc->sample_fmt);
    if (!silence.planes())
        return false;
    av_samples_set_silence(silence.planes(), 0, chunk, enc->ch_layout.nb_channels, enc->sample_fmt);
    while (samples > 0 && !reports.Cancelled()) {
        const int n = static_cast<int>(std::min<int64_t>(samples, chunk));
        if (av_audio_fifo_write(fifo.get(), silence.data(), n) != n || !EncodeQueuedFrames(false))
            return false;
        samples -= n;
    }
    return true;
}

bool Reencoder::State::EncodeAudio(const AVFrame* frame)
{
    AVCodecContext* enc = aenc.get();
    if (avcodec_send_frame(enc, frame) < 0 && frame)
        return false;
    AVPacket* pkt = encoded.get();
    for (;;) {
        const int rc = avcodec_receive_packet(enc, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return false;
        av_packet_rescale_ts(pkt, enc->time_base, out->audio->time_base);
        if (WriteOutputPacket(*out, pkt, out->audio, out->audio_clock) < 0)
            return false;
    }
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

bool Reencoder::State::FinishAudio()
{
    const bool ok = EncodeQueuedFrames(true);
    return EncodeAudio(nullptr) && ok;
}
