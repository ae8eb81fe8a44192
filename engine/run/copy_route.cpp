// SPDX-License-Identifier: GPL-3.0-or-later
// The direct route: every input's packets copied onto the output's timeline.
#include <algorithm>

#include "container_rules.h"
#include "direct_copy.h"
#include "input_route.h"
#include "media_time.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

// One output stream for a main stream: added while the header is still to
// be written, otherwise the existing one must be able to take the input.
bool SetUpCopiedStream(JobOutput& out, const AVStream* in_st, AVStream** out_st)
{
    if (*out_st)
        return CanContinueStream((*out_st)->codecpar, in_st->codecpar);
    if (out.header_written)
        return false;  // the output was made without this kind of stream
    *out_st = AddCopiedStream(out.ctx.get(), in_st);
    return *out_st != nullptr;
}

bool SetUpMainStream(JobOutput& out, InputRun& run, bool video)
{
    return video ? SetUpCopiedStream(out, run.in.VideoStream(), &out.video)
                 : SetUpCopiedStream(out, run.in.AudioStream(), &out.audio);
}

// The cover pictures: one packet each, right after the header.
void WriteAttachedPicturesOf(JobOutput& out, const InputRun& run)
{
    std::vector<int> in_streams;
    std::vector<AVStream*> out_streams;
    for (size_t i = 0; i < run.extra_slot.size(); ++i) {
        if (run.extra_slot[i] >= 0) {
            in_streams.push_back(static_cast<int>(i));
            out_streams.push_back(out.extras[run.extra_slot[i]].stream);
        }
    }
    WriteAttachedPictures(out.ctx.get(), run.in.format.get(), in_streams, out_streams);
}

bool IsExtraSound(const JobOutput& out, const InputRun& run, int stream)
{
    if (stream < 0 || static_cast<size_t>(stream) >= run.extra_slot.size() || run.extra_slot[stream] < 0)
        return false;
    return out.extras[run.extra_slot[stream]].kind == AVMEDIA_TYPE_AUDIO;
}

// The written time of the output's sound since this input began.
double SoundWrittenSeconds(const JobOutput& out, const InputRun& run)
{
    return out.audio ? out.audio_clock.Seconds(out.audio) - run.audio_before_s : -run.audio_before_s;
}

class CopyRoute : public InputRoute {
public:
    CopyRoute(const JobPlan& plan, const JobReports& reports) : plan_(plan), reports_(reports) {}

    RouteKind MainKind() const override { return RouteKind::Copy; }
    // A copy never decodes: a one-thread decoder opens without a thread pool.
    int DecoderThreads() const override { return 1; }
    // A copy keeps the input's own format under its own extension.
    const AVOutputFormat* OutputFormat(const AVFormatContext* in, const char* output_path) const override
    {
        return DirectOutputFormat(in, output_path);
    }
    void StartOutput(JobOutput&) override {}
    // Every track the output can hold, decided here once.
    bool SetUpStreams(JobOutput& out, InputRun& run) override
    {
        return PlanTracks(reports_.dropped_tracks, out, run, SetUpMainStream);
    }
    FailureReason RefusalOfLaterInput() const override
    {
        return plan_.join ? FailureReason::DiffersFromFirst : FailureReason::NotAccepted;
    }
    void HeaderWritten(JobOutput& out, const InputRun& run) override { WriteAttachedPicturesOf(out, run); }
    int64_t StartOffset(const JobOutput& out) const override { return out.SeamMicroseconds(); }
    bool BeginInput(JobOutput&, InputRun&) override { return true; }
    CutEnd AtCutEnd(const JobOutput& out, InputRun& run, const AVPacket* pkt) override;
    bool EndInput(JobOutput& out, InputRun& run) override;
    double WrittenSeconds(const JobOutput& out, const InputRun& run) const override
    {
        return (out.EndMicroseconds() - run.offset_us) / 1e6;
    }
    bool WroteNothing(const JobOutput& out, const InputRun&, int64_t packets_before) const override
    {
        return out.packets_written == packets_before;
    }
    // Its key pictures are damaged or cut off: sound alone is not the file's content.
    bool LostThePicture(const JobOutput& out, const InputRun& run, int64_t pictures_before) const override
    {
        return run.in.video_index >= 0 && out.video && out.video_packets_written == pictures_before;
    }

private:
    bool SpanWritten(const JobOutput& out, InputRun& run, const AVPacket* pkt) const;

    const JobPlan& plan_;
    JobReports reports_;
};

// The cut has its length when the pictures written reach it in presentation
// time, or on its audio clock when it has no video at all. The decoding
// clock would not do: with reordered pictures it starts behind the first
// picture shown, and the cut would run that many pictures past its length.
// Pictures written by then may be shown after ones still to come: the cut
// ends at the first picture read that is shown after everything written, so
// no picture is left out between them.
bool CopyRoute::SpanWritten(const JobOutput& out, InputRun& run, const AVPacket* pkt) const
{
    // A later span of one file counts from where the span before it ended.
    const double span = plan_.inputs[run.index].span_s;
    if (!out.video || run.in.video_index < 0)
        return span <= SoundWrittenSeconds(out, run);
    const int64_t shown_us = ToMicroseconds(out.video_clock.end, out.video->time_base) - run.offset_us;
    if (static_cast<int64_t>(span * 1e6) > shown_us)
        return false;
    if (pkt->stream_index == run.in.video_index)
        run.pictures_missing = ShownBeforeWrittenEnd(out, run, pkt);
    return !run.pictures_missing;
}

// When the cut's picture has reached its length, the sound read in the same
// stretch of the file still belongs to it: without it the cut would end
// silent by the container's interleaving distance.
bool SoundStillCatchingUp(const JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    constexpr int kMaxPicturesPastCut = 100;
    if (!out.audio || !out.video || run.in.audio_index < 0 || run.in.video_index < 0)
        return false;
    const double picture_end = out.video_clock.EndSeconds(out.video);
    // Every copied sound track, as far as this input gave it any.
    bool behind = out.audio_clock.EndSeconds(out.audio) < picture_end;
    for (const ExtraTrack& t : out.extras)
        behind = behind || (t.kind == AVMEDIA_TYPE_AUDIO && !t.encoder && t.clock.last_dts != AV_NOPTS_VALUE &&
                            t.clock.EndSeconds(t.stream) < picture_end);
    if (!behind)
        return false;
    if (pkt->stream_index == run.in.audio_index || IsExtraSound(out, run, pkt->stream_index))
        return true;
    return ++run.pictures_past_cut < kMaxPicturesPastCut;  // the sound may simply end early
}

CutEnd CopyRoute::AtCutEnd(const JobOutput& out, InputRun& run, const AVPacket* pkt)
{
    if (!SpanWritten(out, run, pkt))
        return CutEnd::NotYet;
    const bool more_sound = SoundStillCatchingUp(out, run, pkt);
    const bool is_sound = pkt->stream_index == run.in.audio_index || IsExtraSound(out, run, pkt->stream_index);
    run.cut_complete = true;
    if (!more_sound)
        return CutEnd::Stop;
    return is_sound ? CutEnd::WriteLast : CutEnd::SkipThis;
}

bool CopyRoute::EndInput(JobOutput& out, InputRun& run)
{
    FinishDirectInput(out, run);
    FinishExtraTracks(out, run);
    if (run.origin_us == AV_NOPTS_VALUE)
        return true;
    const int64_t length_us = out.SeamMicroseconds() - run.offset_us;
    if (!plan_.part_chapters) {
        CollectChapters(&out.chapters, run.in.format.get(), run.origin_us, run.origin_us + length_us, run.offset_us);
        return true;
    }
    // The part's chapter starts at its key picture, which sound kept from
    // before it may precede.
    int64_t picture_us = run.origin_us;
    if (const AVStream* vs = run.in.VideoStream(); vs && run.first_key_pts != AV_NOPTS_VALUE)
        picture_us = std::max(picture_us, ToMicroseconds(run.first_key_pts, vs->time_base));
    const int64_t clock = ContainerStartMicroseconds(run.in.format.get());
    const int64_t start = run.offset_us + picture_us - run.origin_us;
    return AddPartChapter(&out.chapters, start, run.offset_us + length_us, picture_us - clock,
                          run.origin_us + length_us - clock);
}

}  // namespace

std::unique_ptr<InputRoute> MakeCopyRoute(const JobPlan& plan, const JobReports& reports)
{
    return std::make_unique<CopyRoute>(plan, reports);
}
