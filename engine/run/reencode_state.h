// SPDX-License-Identifier: GPL-3.0-or-later
// What the re-encoding paths share: the job-wide encoders, the picture
// encoder thread, and the per-input clock that places pictures and sound on
// the output's timeline. Only reencode*.cpp include this.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "av_handles.h"
#include "job_output.h"
#include "job_plan.h"
#include "reencode.h"


// Scales, turns upright and encodes pictures on its own thread, so that the
// worker thread can go on demuxing and decoding meanwhile. A small bounded
// queue keeps memory flat: the worker waits when the encoder falls behind.
// Encoded packets wait here until the worker writes them to the muxer.
class PictureEncoder {
public:
    PictureEncoder() = default;
    ~PictureEncoder();
    PictureEncoder(const PictureEncoder&) = delete;
    PictureEncoder& operator=(const PictureEncoder&) = delete;

    bool Start(AVCodecContext* enc);
    // Encodes `frame` (referenced, not copied) at output slots first..last,
    // turned by `quarter_turns` clockwise; a null frame repeats the last
    // picture. Waits while the queue is full. False once encoding failed.
    bool Submit(const AVFrame* frame, int64_t first, int64_t last, int quarter_turns);
    // Waits until every queued picture is encoded; `drain` then empties the
    // encoder itself (end of job).
    bool Flush(bool drain);
    // Moves the packets encoded so far, in the encoder's time base.
    void TakePackets(std::deque<PacketPtr>* out);
    bool HasPicture() const { return has_picture_; }

private:
    struct Task {
        FramePtr frame;
        int64_t first = 0;
        int64_t last = -1;
        int quarter_turns = 0;
        bool drain = false;
    };
    static constexpr size_t kMaxQueued = 3;

    void Run();
    bool Encode(Task& task);
    bool Scale(const AVFrame* src, int quarter_turns);
    bool Send(const AVFrame* frame);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    std::deque<PacketPtr> packets_;
    bool busy_ = false;
    bool stop_ = false;
    bool failed_ = false;
    bool has_picture_ = false;  // worker's view: a picture was submitted
    std::thread thread_;

    // Touched by the encoder thread only.
    AVCodecContext* enc_ = nullptr;
    ScalerPtr scaler_;
    FramePtr last_;  // the last picture, scaled and upright
};

// The format a resampler was built for.
struct SoundShape {
    AVChannelLayout layout{};
    int rate = 0;
    int format = -1;
};

struct Reencoder::State {
    State(const JobPlan& plan, const JobReports& reports);
    ~State();

    EncodeTargets targets;     // fps 0 becomes the first input's rate
    bool join;
    std::vector<double> span_s;  // each cut's length
    JobReports reports;
    JobOutput* out = nullptr;

    // ---- for the whole job
    CodecContextPtr venc;  // used by the picture thread once started
    AVRational video_tb{1, 25};
    AVRational output_sar{1, 1};
    PictureEncoder pictures;  // after venc: stopped before the encoder is freed
    FramePtr black;           // an empty picture for inputs without any
    CodecContextPtr aenc;
    FramePtr audio_frame;  // one encoder frame of samples
    AudioFifoPtr fifo;     // samples in the encoder's format, not yet encoded
    PacketPtr encoded;
    int64_t next_video_pts = 0;  // next free output slot, in video_tb
    // Where the next sample handed to the audio encoder plays in the output.
    // It starts after the encoder's priming where the container cannot hide
    // the priming (only MP4's edit list can): timestamps then start at 0, so
    // no muxer shifts the other streams by the priming (AVI by a whole
    // picture, ASF away from its chapters).
    int64_t audio_samples = 0;
    int64_t priming = 0;  // samples of the encoder's own the output plays first

    // ---- for one input
    ResamplerPtr resampler;
    SoundShape resampler_in;  // what the current conversion expects
    bool shape_known = false;
    FramePtr decoded;
    FramePtr before_start;  // the last picture before a cut's start point
    int quarter_turns = 0;  // clockwise turns that bring the input upright
    AVRational input_sar{1, 1};  // the input's pixel aspect, as a player shows it
    int64_t input_video_start = 0;  // next_video_pts when the input began
    int64_t input_audio_start = 0;  // audio position (samples) when it began
    int64_t offset_us = 0;          // where the input starts in the output
    int64_t start_us = AV_NOPTS_VALUE;  // a cut's start point, on the input's clock
    int64_t origin_us = AV_NOPTS_VALUE;
    int64_t audio_first_us = AV_NOPTS_VALUE;  // first decoded sound
    int64_t skip_samples = 0;     // sound still to drop before the origin
    bool sound_aligned = false;   // the input's sound was placed against its origin
    int64_t picture_end_slot = -1;  // where this input's last picture ends
    bool input_has_picture = false;  // this input placed a picture
    bool video_reached_end = false;
    bool audio_reached_end = false;
    int pictures_decoded = 0;
    int64_t span_pictures = -1;  // a cut: pictures the span holds
    int64_t span_samples = -1;   // a cut: samples the span holds

    int64_t AudioPosition() const { return audio_samples + (fifo ? av_audio_fifo_size(fifo.get()) : 0); }
    int64_t VideoFedMicroseconds() const
    {
        return venc ? av_rescale_q(next_video_pts, video_tb, AV_TIME_BASE_Q) : 0;
    }
    // The priming alone is no sound of an input yet.
    int64_t AudioFedMicroseconds() const
    {
        return aenc && AudioPosition() > priming
                   ? av_rescale_q(AudioPosition(), AVRational{1, aenc->sample_rate}, AV_TIME_BASE_Q)
                   : 0;
    }
    int64_t SpanEndSlot() const
    {
        return span_pictures >= 0 ? input_video_start + span_pictures : INT64_MAX;
    }

    // Shared clock (reencode.cpp).
    void SetOrigin(int64_t us);
    bool AlignQueuedSound();
    bool MakeUpShorterStream(InputRun& run);

    // Video path (reencode_video.cpp).
    bool OpenVideoEncoder(InputRun& run, AVStream* out_st);
    void BeginVideo(InputRun& run);
    bool ReceivePictures(InputRun& run);
    int64_t HeldPictureOrigin(int64_t first_us) const;
    bool EmitPicture(InputRun& run, AVFrame* frame);
    bool PlacePicture(const AVFrame* frame, int64_t slot);
    bool SubmitSlots(const AVFrame* frame, int64_t first, int64_t last);
    bool ExtendPictures(int64_t end_slot);
    bool WriteVideoPackets();
    bool FinishVideo();

    // Sound path (reencode_audio.cpp).
    bool OpenAudioEncoder(AVStream* out_st);
    void ResetSoundShape();
    bool ReceiveSamples(InputRun& run);
    bool QueueSamples(InputRun& run, AVFrame* frame);
    bool ConvertSamples(const AVFrame* frame);
    bool FlushResampler();
    bool MatchResampler(const AVFrame* frame);
    bool QueueConverted(uint8_t** planes, int n);
    bool EncodeQueuedFrames(bool pad_last);
    bool EncodeAudio(const AVFrame* frame);
    bool PadSilence(int64_t samples);
    bool FinishAudio();
};
