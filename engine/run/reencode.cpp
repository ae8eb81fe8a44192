// SPDX-License-Identifier: GPL-3.0-or-later
// Re-encoding's shared clock: where each input starts on the output's
// timeline, where a cut starts and ends, and how an input's picture and
// sound end together. The paths themselves are reencode_video.cpp and
// reencode_audio.cpp.
#include "reencode.h"

#include <algorithm>
#include <cmath>

#include "media_time.h"
#include "reencode_state.h"

namespace {

// Before a cut's start every picture is decoded from this far on, so that the
// one on screen at the start point is at hand.
constexpr int64_t kDecodeAllBeforeStartUs = 500000;

}  // namespace

Reencoder::State::State(const JobPlan& plan, const JobReports& r)
    : targets(plan.encode), join(plan.join), reports(r), encoded(MakePacket())
{
    for (const InputPlan& input : plan.inputs)
        span_s.push_back(input.span_s);
}

Reencoder::State::~State() { ResetSoundShape(); }

void Reencoder::State::SetOrigin(int64_t us) { origin_us = us; }

// An input's picture and sound end together: the last picture keeps its own
// duration and stays on screen until the sound ends; an input without
// pictures shows black, one without sound is silent.
bool Reencoder::State::MakeUpShorterStream(InputRun& run)
{
    if (venc) {
        int64_t end_slot = picture_end_slot;
        if (aenc)
            end_slot = std::max(end_slot, av_rescale_q(AudioPosition(), AVRational{1, aenc->sample_rate}, video_tb));
        if (!run.in.VideoStream() && !join)
            end_slot = -1;  // a cut of sound alone stays without pictures
        if (!ExtendPictures(end_slot))
            return false;
    }
    if (aenc) {
        const int64_t video_end = av_rescale_q(next_video_pts, video_tb, AVRational{1, aenc->sample_rate});
        if (AudioPosition() < video_end && !PadSilence(video_end - AudioPosition()))
            return false;
    }
    return true;
}

Reencoder::Reencoder(const JobPlan& plan, const JobReports& reports) : state_(new State(plan, reports)) {}

Reencoder::~Reencoder() = default;

bool Reencoder::SetUpVideo(JobOutput& out, InputRun& run, AVStream* out_stream)
{
    state_->out = &out;
    return state_->venc ? true : state_->OpenVideoEncoder(run, out_stream);
}

bool Reencoder::SetUpAudio(JobOutput& out, InputRun&, AVStream* out_stream)
{
    state_->out = &out;
    return state_->aenc ? true : state_->OpenAudioEncoder(out_stream);
}

bool Reencoder::BeginInput(JobOutput& out, InputRun& run)
{
    State& s = *state_;
    s.out = &out;
    s.ResetSoundShape();
    s.decoded = MakeFrame();
    s.origin_us = AV_NOPTS_VALUE;
    s.audio_first_us = AV_NOPTS_VALUE;
    s.skip_samples = 0;
    s.sound_aligned = false;
    s.video_reached_end = s.audio_reached_end = false;
    s.pictures_decoded = 0;
    s.BeginVideo(run);
    // A cut starts at its start point, not at the key frame decoding starts from.
    s.start_us = !s.join && run.cut_start_s > 0
                     ? OnFileClock(MicrosecondsOfSeconds(run.cut_start_s), run.in.format.get())
                     : AV_NOPTS_VALUE;
    // Each input starts where everything handed to the encoders ends.
    s.offset_us = std::max(s.VideoFedMicroseconds(), s.AudioFedMicroseconds());
    s.input_video_start = s.venc ? av_rescale_q(s.offset_us, AV_TIME_BASE_Q, s.video_tb) : 0;
    s.next_video_pts = std::max(s.next_video_pts, s.input_video_start);
    s.input_audio_start = s.aenc ? av_rescale_q(s.offset_us, AV_TIME_BASE_Q, AVRational{1, s.aenc->sample_rate}) : 0;
    if (s.aenc && s.AudioPosition() < s.input_audio_start && !s.PadSilence(s.input_audio_start - s.AudioPosition()))
        return false;

    const double span = run.index >= 0 && static_cast<size_t>(run.index) < s.span_s.size() ? s.span_s[run.index] : 0;
    s.span_pictures = s.join || !s.venc ? -1 : std::llround(std::max(span, 0.0) / av_q2d(s.video_tb));
    s.span_samples = s.join || !s.aenc ? -1 : std::llround(std::max(span, 0.0) * s.aenc->sample_rate);
    if (!run.in.VideoStream() || !s.venc)
        s.video_reached_end = true;
    if (!run.in.AudioStream() || !s.aenc || !run.in.audio_decoder_open)
        s.audio_reached_end = true;
    return s.decoded && s.before_start;
}

bool Reencoder::VideoPacket(JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    State& s = *state_;
    s.out = &out;
    if (!s.venc)
        return true;
    AVCodecContext* dec = run.in.video_dec.get();
    // Pictures well before a cut's start that no other picture refers to
    // need not be decoded at all.
    const AVStream* st = run.in.VideoStream();
    const bool long_before_start = s.start_us != AV_NOPTS_VALUE && s.origin_us == AV_NOPTS_VALUE &&
                                   pkt->pts != AV_NOPTS_VALUE &&
                                   av_rescale_q(pkt->pts, st->time_base, AV_TIME_BASE_Q) < s.start_us - kDecodeAllBeforeStartUs;
    dec->skip_frame = long_before_start ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    avcodec_send_packet(dec, pkt);  // a damaged packet is skipped
    return s.ReceivePictures(run) && s.WriteVideoPackets();
}

bool Reencoder::AudioPacket(JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    State& s = *state_;
    s.out = &out;
    if (s.venc && !s.WriteVideoPackets())
        return false;
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

int64_t Reencoder::InputOriginMicroseconds() const { return state_->origin_us; }

int64_t Reencoder::InputOffsetMicroseconds() const { return state_->offset_us; }

bool Reencoder::EndInput(JobOutput& out, InputRun& run)
{
    State& s = *state_;
    s.out = &out;
    bool ok = true;
    if (s.venc && run.in.video_dec) {
        avcodec_send_packet(run.in.video_dec.get(), nullptr);
        ok = s.ReceivePictures(run);
        // A start point past the last picture: that picture is the cut's.
        if (ok && s.origin_us == AV_NOPTS_VALUE && s.before_start->buf[0]) {
            s.SetOrigin(s.start_us);
            ok = s.AlignQueuedSound() && s.PlacePicture(s.before_start.get(), s.input_video_start);
        }
        // Video that never gave a single picture cannot be converted.
        if (s.pictures_decoded == 0)
            ok = false;
    }
    if (s.aenc && run.in.audio_decoder_open) {
        avcodec_send_packet(run.in.audio_dec.get(), nullptr);
        ok = s.ReceiveSamples(run) && ok;
        if (!s.audio_reached_end)
            ok = s.FlushResampler() && ok;
        if (s.origin_us == AV_NOPTS_VALUE && s.audio_first_us != AV_NOPTS_VALUE)
            s.SetOrigin(s.audio_first_us);
        ok = s.AlignQueuedSound() && s.EncodeQueuedFrames(false) && ok;
    }
    ok = ok && s.MakeUpShorterStream(run);
    s.ResetSoundShape();
    s.before_start.reset();
    return ok;
}

bool Reencoder::FinishJob(JobOutput& out)
{
    State& s = *state_;
    s.out = &out;
    bool ok = true;
    if (s.aenc)
        ok = s.FinishAudio() && ok;
    if (s.venc)
        ok = s.FinishVideo() && ok;
    return ok;
}
