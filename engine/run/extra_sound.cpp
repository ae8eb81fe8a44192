// SPDX-License-Identifier: GPL-3.0-or-later
#include "extra_sound.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container_rules.h"
#include "tracks.h"

namespace {

bool IsReencodedSound(const ExtraTrack& t) { return t.kind == AVMEDIA_TYPE_AUDIO && t.encoder && t.fifo; }

// Encoder frames from the queue; at the end also the last, shorter one.
bool EncodeQueued(JobOutput& out, ExtraTrack& t, bool last)
{
    AVCodecContext* enc = t.encoder.get();
    const int frame_size = enc->frame_size > 0 ? enc->frame_size : 1024;
    FramePtr frame = MakeFrame();
    PacketPtr pkt = MakePacket();
    if (!frame || !pkt)
        return false;
    while (av_audio_fifo_size(t.fifo.get()) >= frame_size || (last && av_audio_fifo_size(t.fifo.get()) > 0)) {
        const int queued = av_audio_fifo_size(t.fifo.get());
        const bool small_last = enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
        frame->nb_samples = queued >= frame_size || !small_last ? frame_size : queued;
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        const int n = std::min(queued, frame->nb_samples);
        av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, enc->ch_layout.nb_channels, enc->sample_fmt);
        if (av_audio_fifo_read(t.fifo.get(), reinterpret_cast<void**>(frame->extended_data), n) != n)
            return false;
        frame->pts = av_rescale_q(t.samples - queued, AVRational{1, enc->sample_rate}, enc->time_base);
        if (avcodec_send_frame(enc, frame.get()) < 0)
            return false;
        av_frame_unref(frame.get());
        int rc;
        while ((rc = avcodec_receive_packet(enc, pkt.get())) >= 0) {
            av_packet_rescale_ts(pkt.get(), enc->time_base, t.stream->time_base);
            WriteOutputPacket(out, pkt.get(), t.stream, t.clock);
            av_packet_unref(pkt.get());
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            return false;
    }
    return true;
}

bool QueueSilence(JobOutput& out, ExtraTrack& t, int64_t samples)
{
    const AVCodecContext* enc = t.encoder.get();
    const int chunk = 1024;
    uint8_t** data = nullptr;
    if (av_samples_alloc_array_and_samples(&data, nullptr, enc->ch_layout.nb_channels, chunk, enc->sample_fmt, 0) < 0)
        return false;
    av_samples_set_silence(data, 0, chunk, enc->ch_layout.nb_channels, enc->sample_fmt);
    bool ok = true;
    while (ok && samples > 0) {
        const int n = static_cast<int>(std::min<int64_t>(samples, chunk));
        ok = av_audio_fifo_write(t.fifo.get(), reinterpret_cast<void**>(data), n) == n;
        t.samples += n;
        samples -= n;
        ok = ok && EncodeQueued(out, t, false);
    }
    av_freep(&data[0]);
    av_freep(&data);
    return ok;
}

}  // namespace

bool AddReencodedSound(const EncodeTargets& targets, AVFormatContext* ctx, const AVStream* in_st, ExtraTrack* track)
{
    const AVCodec* codec = avcodec_find_encoder(AVCodecID(targets.audio_codec_id));
    CodecContextPtr enc(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!enc || targets.sample_rate <= 0 || targets.channels <= 0)
        return false;
    // The main sound's settings, as the settings dialog chose them.
    enc->bit_rate = targets.audio_codec_id == AV_CODEC_ID_AAC ? std::max(targets.audio_bit_rate, 128000) : targets.audio_bit_rate;
    enc->sample_rate = targets.sample_rate;
    av_channel_layout_default(&enc->ch_layout, targets.channels);
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc->time_base = AVRational{1, enc->sample_rate};
    if (NeedsGlobalHeader(ctx->oformat))
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return false;
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (!st || avcodec_parameters_from_context(st->codecpar, enc.get()) < 0)
        return false;
    st->id = static_cast<int>(ctx->nb_streams) - 1;
    st->time_base = enc->time_base;
    // The MP4 family plays every default sound track at once: there the main
    // sound stays the one played. Others keep the flag as the file has it.
    st->disposition = in_st->disposition;
    if (IsMp4Family(ctx->oformat))
        st->disposition &= ~AV_DISPOSITION_DEFAULT;
    for (const char* key : {"language", "title"})
        if (const AVDictionaryEntry* e = av_dict_get(in_st->metadata, key, nullptr, 0))
            av_dict_set(&st->metadata, key, e->value, 0);
    track->fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 4096));
    if (!track->fifo)
        return false;
    track->stream = st;
    track->kind = AVMEDIA_TYPE_AUDIO;
    track->samples = PlayedPriming(ctx->oformat, enc.get());  // plays first, as the main sound's
    MoveOutputLater(ctx, PrimingShiftMicroseconds(ctx->oformat, enc.get()));
    track->encoder = std::move(enc);
    return true;
}

namespace {

// A conversion from `frame`'s sound to the encoder's, kept for the input.
bool MatchResampler(ResamplerPtr& swr, AVCodecContext* enc, AVFrame* frame)
{
    if (swr)
        return true;
    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &frame->ch_layout,
                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
        swr_init(raw) < 0) {
        swr_free(&raw);
        return false;
    }
    swr.reset(raw);
    return true;
}

// Queues `n` converted samples but the first `skip`.
void QueueConverted(ExtraTrack& t, uint8_t** data, int n, int skip)
{
    if (n - skip <= 0)
        return;
    const AVCodecContext* enc = t.encoder.get();
    const bool planar = av_sample_fmt_is_planar(enc->sample_fmt);
    const int step = av_get_bytes_per_sample(enc->sample_fmt) * (planar ? 1 : enc->ch_layout.nb_channels);
    std::vector<void*> planes(planar ? enc->ch_layout.nb_channels : 1);
    for (size_t c = 0; c < planes.size(); ++c)
        planes[c] = data[c] + static_cast<ptrdiff_t>(skip) * step;
    if (av_audio_fifo_write(t.fifo.get(), planes.data(), n - skip) == n - skip)
        t.samples += n - skip;
}

}  // namespace

void ReencodeExtraSound(JobOutput& out, InputRun& run, size_t slot, AVPacket* pkt)
{
    ExtraTrack& t = out.extras[slot];
    AVCodecContext* dec = run.extra_decoders[slot].get();
    AVCodecContext* enc = t.encoder.get();
    const AVRational rate{1, enc->sample_rate};
    // Where the packet's sound belongs in the output, in samples.
    int64_t at = av_rescale_q(pkt->pts, enc->time_base, rate);
    if (!dec || avcodec_send_packet(dec, pkt) < 0)
        return;
    FramePtr frame = MakeFrame();
    while (frame && avcodec_receive_frame(dec, frame.get()) >= 0) {
        ResamplerPtr& swr = run.extra_resamplers[slot];
        const bool input_begins = !swr;  // nothing of this input's sound queued yet
        if (!MatchResampler(swr, enc, frame.get()))
            return;
        const int capacity = swr_get_out_samples(swr.get(), frame->nb_samples);
        uint8_t** data = nullptr;
        if (capacity <= 0 ||
            av_samples_alloc_array_and_samples(&data, nullptr, enc->ch_layout.nb_channels, capacity, enc->sample_fmt, 0) < 0)
            return;
        const int n = std::max(swr_convert(swr.get(), data, capacity, const_cast<const uint8_t**>(frame->extended_data),
                                           frame->nb_samples),
                               0);
        // The input's first sound goes where its time says. After it the
        // sound runs on sample by sample: packet times rounded to the
        // container's clock and the resampler's own delay put each packet a
        // few samples off, and following them dropped or doubled that much
        // at every packet. Only a real gap is silence, and sound overlapping
        // by as much is dropped.
        const int64_t off = at - t.samples;
        const int64_t tolerance = input_begins ? 0 : enc->sample_rate / 50;
        if (off > tolerance)
            QueueSilence(out, t, off);
        const int skip = off < -tolerance ? static_cast<int>(std::min<int64_t>(-off, n)) : 0;
        QueueConverted(t, data, n, skip);
        if (input_begins && n > 0 && skip == n)
            swr.reset();  // all of it before the input's start: the next frame begins it
        at = std::llabs(off) <= tolerance ? t.samples : at + n;
        av_freep(&data[0]);
        av_freep(&data);
        av_frame_unref(frame.get());
        EncodeQueued(out, t, false);
    }
}

bool EndExtraSoundInput(JobOutput& out, int64_t end_us)
{
    for (ExtraTrack& t : out.extras) {
        if (!IsReencodedSound(t))
            continue;
        const int64_t end = av_rescale_q(end_us, AV_TIME_BASE_Q, AVRational{1, t.encoder->sample_rate});
        if (end > t.samples && !QueueSilence(out, t, end - t.samples))
            return false;
    }
    return true;
}

bool FinishExtraSound(JobOutput& out)
{
    bool ok = true;
    for (ExtraTrack& t : out.extras) {
        if (!IsReencodedSound(t))
            continue;
        ok = EncodeQueued(out, t, true) && ok;
        if (avcodec_send_frame(t.encoder.get(), nullptr) < 0)
            return false;
        PacketPtr pkt = MakePacket();
        while (pkt && avcodec_receive_packet(t.encoder.get(), pkt.get()) >= 0) {
            av_packet_rescale_ts(pkt.get(), t.encoder->time_base, t.stream->time_base);
            WriteOutputPacket(out, pkt.get(), t.stream, t.clock);
            av_packet_unref(pkt.get());
        }
    }
    return ok;
}
