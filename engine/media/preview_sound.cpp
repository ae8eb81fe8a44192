// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview_sound.h"

#include "media_input.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Sound is decoded from this far before the time asked for, so the packet
// holding that time is read whole whatever the demuxer's index says.
constexpr int64_t kSeekLeadUs = 200000;
// A track that starts later than this after the time asked for is not
// waited for with silence beyond it: playing stops being useful long before.
constexpr int64_t kMaxLeadSilenceUs = 60000000;

}  // namespace

PreviewSound::PreviewSound(int out_rate, int out_channels)
    : out_rate_(std::max(1, out_rate)), out_channels_(std::clamp(out_channels, 1, 8)), packet_(MakePacket()),
      frame_(MakeFrame())
{
}

PreviewSound::~PreviewSound() { av_channel_layout_uninit(&resampler_layout_); }

int PreviewSound::Open(const char* path)
{
    dec_.reset();
    format_.reset();
    resampler_.reset();
    if (!packet_ || !frame_)
        return kProbeOpenFailed;
    InputContextPtr format;
    const int opened = OpenCheckedInput(path, {nullptr, nullptr}, &format);
    if (opened != kProbeOk)
        return opened;
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return kProbeNoStreamInfo;
    int video = -1, audio = -1;
    SelectStreams(format.get(), &video, &audio);
    if (audio < 0)
        return kProbeOk;  // pictures only
    CodecContextPtr dec = OpenStreamDecoder(format->streams[audio]);
    if (!dec)
        return kProbeOk;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != audio)
            format->streams[i]->discard = AVDISCARD_ALL;
    stream_ = audio;
    time_base_ = format->streams[audio]->time_base;
    origin_us_ = std::llround(ContainerStartSeconds(format.get()) * 1e6);
    dec_ = std::move(dec);
    format_ = std::move(format);
    return SeekTo(0) ? kProbeOk : kProbeOpenFailed;
}

bool PreviewSound::SeekTo(int64_t time_us)
{
    if (!dec_)
        return false;
    pending_.clear();
    pending_read_ = 0;
    position_ = av_rescale(std::max<int64_t>(time_us, 0), out_rate_, 1000000);
    aligned_ = false;
    drop_frames_ = 0;
    draining_ = false;
    ended_ = false;
    // From before the track's first packet at its start: the decoder then
    // sees the packets that prime it, whose sound it leaves out.
    const int64_t lead_from = time_us - kSeekLeadUs;
    bool sought = false;
    for (const int64_t from_us : {lead_from, std::max<int64_t>(lead_from, 0)}) {
        const int64_t target = av_rescale_q(from_us + origin_us_, AV_TIME_BASE_Q, time_base_);
        sought = av_seek_frame(format_.get(), stream_, target, AVSEEK_FLAG_BACKWARD) >= 0 ||
                 av_seek_frame(format_.get(), stream_, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
        if (sought)
            break;
    }
    if (!sought && av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
        return false;
    avcodec_flush_buffers(dec_.get());
    resampler_.reset();  // its buffered samples belong to the old place
    return true;
}

int64_t PreviewSound::PositionUs() const { return av_rescale(position_, 1000000, out_rate_); }

int PreviewSound::Read(int16_t* out, int frames)
{
    int written = 0;
    while (dec_ && written < frames) {
        if (pending_read_ >= pending_.size() && !DecodeMore())
            break;
        const size_t available = (pending_.size() - pending_read_) / out_channels_;
        const size_t take = std::min<size_t>(available, static_cast<size_t>(frames - written));
        std::memcpy(out + static_cast<size_t>(written) * out_channels_, pending_.data() + pending_read_,
                    take * out_channels_ * sizeof(int16_t));
        pending_read_ += take * out_channels_;
        written += static_cast<int>(take);
    }
    position_ += written;
    return written;
}

bool PreviewSound::DecodeMore()
{
    pending_.clear();
    pending_read_ = 0;
    while (pending_.empty() && !ended_) {
        if (ReceiveFrames())
            continue;
        if (draining_) {
            ended_ = true;
            break;
        }
        bool sent = false;
        while (!sent && av_read_frame(format_.get(), packet_.get()) >= 0) {
            if (packet_->stream_index == stream_) {
                avcodec_send_packet(dec_.get(), packet_.get());  // a damaged packet is left out
                sent = true;
            }
            av_packet_unref(packet_.get());
        }
        if (!sent) {
            avcodec_send_packet(dec_.get(), nullptr);
            draining_ = true;
        }
    }
    return !pending_.empty();
}

// Every frame the decoder holds now, resampled into pending_; true when any came.
bool PreviewSound::ReceiveFrames()
{
    bool any = false;
    while (avcodec_receive_frame(dec_.get(), frame_.get()) >= 0) {
        any = true;
        if (!aligned_) {
            const int64_t pts = frame_->best_effort_timestamp;
            const int64_t frame_us =
                pts == AV_NOPTS_VALUE ? PositionUs() : av_rescale_q(pts, time_base_, AV_TIME_BASE_Q) - origin_us_;
            AlignFirstFrame(frame_us);
        }
        Resample(frame_.get());
        av_frame_unref(frame_.get());
    }
    return any;
}

void PreviewSound::AlignFirstFrame(int64_t frame_us)
{
    aligned_ = true;
    const int64_t position_us = PositionUs();
    const int64_t lead_us = std::min(frame_us - position_us, kMaxLeadSilenceUs);
    if (lead_us > 0)
        pending_.assign(static_cast<size_t>(av_rescale(lead_us, out_rate_, 1000000)) * out_channels_, 0);
    else
        drop_frames_ = av_rescale(-lead_us, out_rate_, 1000000);
}

bool PreviewSound::BuildResampler(const AVFrame* frame)
{
    if (resampler_ && resampler_rate_ == frame->sample_rate && resampler_format_ == frame->format &&
        av_channel_layout_compare(&resampler_layout_, const_cast<AVChannelLayout*>(&frame->ch_layout)) == 0)
        return true;
    resampler_.reset();
    AVChannelLayout out_layout{};
    av_channel_layout_default(&out_layout, out_channels_);
    SwrContext* swr = nullptr;
    const int made = swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, out_rate_, const_cast<AVChannelLayout*>(&frame->ch_layout),
                                         static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out_layout);
    ResamplerPtr owned(swr);
    if (made < 0 || swr_init(owned.get()) < 0)
        return false;
    resampler_ = std::move(owned);
    av_channel_layout_uninit(&resampler_layout_);
    av_channel_layout_copy(&resampler_layout_, &frame->ch_layout);
    resampler_rate_ = frame->sample_rate;
    resampler_format_ = frame->format;
    return true;
}

bool PreviewSound::Resample(const AVFrame* frame)
{
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || !BuildResampler(frame))
        return false;
    const int room = swr_get_out_samples(resampler_.get(), frame->nb_samples);
    if (room <= 0)
        return true;
    const size_t before = pending_.size();
    pending_.resize(before + static_cast<size_t>(room) * out_channels_);
    uint8_t* out = reinterpret_cast<uint8_t*>(pending_.data() + before);
    const int made = swr_convert(resampler_.get(), &out, room, const_cast<const uint8_t**>(frame->extended_data),
                                 frame->nb_samples);
    pending_.resize(before + static_cast<size_t>(std::max(made, 0)) * out_channels_);
    if (drop_frames_ > 0) {
        const size_t made_frames = (pending_.size() - before) / out_channels_;
        const size_t dropped = std::min<size_t>(made_frames, static_cast<size_t>(drop_frames_));
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(before),
                       pending_.begin() + static_cast<std::ptrdiff_t>(before + dropped * out_channels_));
        drop_frames_ -= static_cast<int64_t>(dropped);
    }
    return made >= 0;
}
