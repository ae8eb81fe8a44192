// SPDX-License-Identifier: GPL-3.0-or-later
// The re-encoding route: every input decoded and fed to the job's encoders.
#include "extra_sound.h"
#include "input_facts.h"
#include "input_route.h"
#include "media_time.h"
#include "container_rules.h"
#include "reencode.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

// Opened as every input is: files only, and a stop ends a blocked read.
int OpenLaterInput(const InputPlan& input, const JobReports& reports, MediaInput& in)
{
    MediaInputOptions options;
    options.open_audio = false;
    options.interrupt = CancelCallback(reports.cancel);
    return OpenMediaInput(input.path.c_str(), in, options);
}

// The first input from `from` on that has a stream of `type`, or -1.
int FirstInputWith(const JobPlan& plan, const JobReports& reports, int from, AVMediaType type)
{
    for (int l = from; l < static_cast<int>(plan.inputs.size()) && !reports.Cancelled(); ++l) {
        if (const InputFacts* facts = UnchangedLaunchFacts(plan.inputs[l])) {
            if (facts->Readable() && (type == AVMEDIA_TYPE_VIDEO ? facts->video : facts->audio).codec_id != 0)
                return l;
            continue;
        }
        MediaInput in;
        if (OpenLaterInput(plan.inputs[l], reports, in) == kProbeOk &&
            (type == AVMEDIA_TYPE_VIDEO ? in.video_index : in.audio_index) >= 0)
            return l;
    }
    return -1;
}

int64_t MicrosecondsOf(double seconds) { return static_cast<int64_t>(seconds * 1e6); }

class ReencodeRoute : public InputRoute {
public:
    ReencodeRoute(const JobPlan& plan, const JobReports& reports) : plan_(plan), reports_(reports) {}

    RouteKind MainKind() const override { return RouteKind::Reencode; }
    int DecoderThreads() const override { return ReencodeDecoderThreads(); }
    const AVOutputFormat* OutputFormat(const AVFormatContext*, const char* output_path) const override
    {
        return ReencodeOutputFormat(output_path);
    }
    void StartOutput(JobOutput& out) override { out.reencoder = std::make_unique<Reencoder>(plan_, reports_); }
    bool SetUpStreams(JobOutput& out, InputRun& run) override;
    FailureReason RefusalOfLaterInput() const override { return FailureReason::NotAccepted; }
    void HeaderWritten(JobOutput&, const InputRun&) override {}
    int64_t StartOffset(const JobOutput& out) const override { return out.EndMicroseconds(); }
    bool BeginInput(JobOutput& out, InputRun& run) override
    {
        if (!out.reencoder->BeginInput(out, run))
            return false;
        StartReencodedTracks(run, out.reencoder->InputOffsetMicroseconds());
        return true;
    }
    CutEnd AtCutEnd(const JobOutput& out, InputRun& run, const AVPacket*) override
    {
        if (!out.reencoder->SpanReached(run))
            return CutEnd::NotYet;
        run.cut_complete = true;
        return CutEnd::Stop;
    }
    bool EndInput(JobOutput& out, InputRun& run) override;
    double WrittenSeconds(const JobOutput& out, const InputRun& run) const override
    {
        return out.reencoder->InputSeconds(run);
    }
    bool WroteNothing(const JobOutput& out, const InputRun& run, int64_t) const override
    {
        return !out.reencoder || out.reencoder->InputSeconds(run) <= 0;
    }
    // Every picture decoded is encoded again: none can be lost to the copy.
    bool LostThePicture(const JobOutput&, const InputRun&, int64_t) const override { return false; }

private:
    bool SetUpStream(JobOutput& out, InputRun& run, const AVStream* in_st, AVStream** out_st, bool video);
    bool SetUpStreamsOfLaterInputs(JobOutput& out, InputRun& run);

    const JobPlan& plan_;
    JobReports reports_;
};

// An encoder behind a freshly added output stream, or a check that a later
// input can feed the open one.
bool ReencodeRoute::SetUpStream(JobOutput& out, InputRun& run, const AVStream* in_st, AVStream** out_st, bool video)
{
    if (!*out_st) {
        if (out.header_written)
            return false;  // the output was made without this kind of stream
        AVStream* st = avformat_new_stream(out.ctx.get(), nullptr);
        if (!st)
            return false;
        st->id = static_cast<int>(out.ctx->nb_streams) - 1;
        if (in_st)
            CopyStreamFacts(st, in_st);
        *out_st = st;
    }
    return video ? out.reencoder->SetUpVideo(out, run, *out_st) : out.reencoder->SetUpAudio(out, run, *out_st);
}

// A re-encoded join has a picture when any input has one and sound when any
// has it, whatever the first input lacks: the header fixes the streams.
bool ReencodeRoute::SetUpStreamsOfLaterInputs(JobOutput& out, InputRun& run)
{
    if (!plan_.join || out.header_written)
        return true;
    if (!out.video) {
        const int l = FirstInputWith(plan_, reports_, run.index + 1, AVMEDIA_TYPE_VIDEO);
        InputRun other;
        other.index = l;
        if (l >= 0 && (OpenLaterInput(plan_.inputs[l], reports_, other.in) != kProbeOk ||
                       !SetUpStream(out, other, other.in.VideoStream(), &out.video, true)))
            return false;
    }
    if (!out.audio && FirstInputWith(plan_, reports_, run.index + 1, AVMEDIA_TYPE_AUDIO) >= 0)
        return SetUpStream(out, run, nullptr, &out.audio, false);
    return true;
}

bool ReencodeRoute::SetUpStreams(JobOutput& out, InputRun& run)
{
    if (AVStream* vs = run.in.VideoStream()) {
        if (!SetUpStream(out, run, vs, &out.video, true))
            return false;
    }
    if (AVStream* as = run.in.AudioStream()) {
        if (!SetUpStream(out, run, as, &out.audio, false))
            return false;
    }
    return SetUpStreamsOfLaterInputs(out, run) && PlanReencodedTracks(plan_.encode, reports_.dropped_tracks, out, run);
}

// Drains the decoders, ends the input's other sound tracks with its picture,
// and keeps the chapters of what was encoded.
bool ReencodeRoute::EndInput(JobOutput& out, InputRun& run)
{
    Reencoder& enc = *out.reencoder;
    if (!enc.EndInput(out, run))
        return false;
    FollowReencodedOrigin(out, run, enc.InputOriginMicroseconds());
    const int64_t length_us = MicrosecondsOf(enc.InputSeconds(run));
    if (!EndExtraSoundInput(out, enc.InputOffsetMicroseconds() + length_us))
        return false;
    const int64_t from = enc.InputOriginMicroseconds();
    const int64_t offset = enc.InputOffsetMicroseconds();
    if (from == AV_NOPTS_VALUE)
        return true;
    if (!plan_.part_chapters) {
        CollectChapters(&out.chapters, run.in.format.get(), from, from + length_us, offset);
        return true;
    }
    const int64_t source_from = from - ContainerStartMicroseconds(run.in.format.get());
    return AddPartChapter(&out.chapters, offset, offset + length_us, source_from, source_from + length_us);
}

}  // namespace

std::unique_ptr<InputRoute> MakeReencodeRoute(const JobPlan& plan, const JobReports& reports)
{
    return std::make_unique<ReencodeRoute>(plan, reports);
}
