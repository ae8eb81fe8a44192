// SPDX-License-Identifier: GPL-3.0-or-later
// The sound of the in-window play: the file's main sound track decoded from
// a time on, as interleaved signed 16-bit samples at the rate and channel
// count the sound output takes, so the output needs no conversion of its own.
#pragma once

#include "av_handles.h"

#include <cstdint>
#include <vector>

class PreviewSound {
public:
    PreviewSound(int out_rate, int out_channels);
    ~PreviewSound();
    PreviewSound(const PreviewSound&) = delete;
    PreviewSound& operator=(const PreviewSound&) = delete;

    // Opens the main sound of `path`; a probe code (kProbeOk when it has
    // sound that decodes). A file without sound is no error for a caller
    // that plays its pictures alone: HasSound() tells.
    int Open(const char* path);
    bool HasSound() const { return dec_ != nullptr; }
    int Rate() const { return out_rate_; }
    int Channels() const { return out_channels_; }

    // The next sample read is the one heard at `time_us` from the file's
    // origin (its container start, as the preview counts); silence fills
    // any time before the track's first sound.
    bool SeekTo(int64_t time_us);
    // Up to `frames` sample frames (frames * Channels() values) into `out`;
    // the number written, 0 at the end of the track.
    int Read(int16_t* out, int frames);
    // When the next sample read is heard, from the file's origin.
    int64_t PositionUs() const;

private:
    // Decodes on until `pending_` holds samples; false at the end.
    bool DecodeMore();
    bool ReceiveFrames();
    bool Resample(const AVFrame* frame);
    bool BuildResampler(const AVFrame* frame);
    // The first samples of a frame that starts at `frame_us` line up with
    // the position asked for: silence before it, or samples dropped.
    void AlignFirstFrame(int64_t frame_us);

    int out_rate_, out_channels_;
    InputContextPtr format_;
    CodecContextPtr dec_;
    ResamplerPtr resampler_;
    AVChannelLayout resampler_layout_{};
    int resampler_rate_ = 0, resampler_format_ = -1;
    PacketPtr packet_;
    FramePtr frame_;
    int stream_ = -1;
    AVRational time_base_{1, 1};
    int64_t origin_us_ = 0;

    std::vector<int16_t> pending_;  // decoded, not yet read
    size_t pending_read_ = 0;       // values of pending_ already read
    int64_t position_ = 0;          // sample frames from the origin to the next one read
    int64_t drop_frames_ = 0;       // decoded before the position asked for
    bool aligned_ = false;          // the first frame after a seek was lined up
    bool draining_ = false;
    bool ended_ = false;
};
