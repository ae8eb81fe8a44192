// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_input.h"

#include <algorithm>

#include "conversion_job.h"
#include "direct_copy.h"
#include "exact_cut.h"
#include "held_length.h"
#include "input_facts.h"
#include "job_file.h"
#include "media_time.h"
#include "picture_times.h"
#include "probe.h"
#include "reencode.h"
#include "stream_copy.h"
#include "tracks.h"

namespace {

// A step that failed because the output could not take what it wrote
// (a full disk) failed for that, whatever else it says.
FailureReason ReasonOfFailedStep(const JobOutput& out, FailureReason otherwise)
{
    return out.WriteFailed() ? FailureReason::WriteFailed : otherwise;
}

// What the window shows of the file being worked on.
void RecordInputFacts(ConversionJob* job, InputRun& run)
{
    MediaInput& in = run.in;
    job->video_stream_index = in.video_index;
    job->duration_us = in.format->duration;
    if (AVStream* vs = in.VideoStream()) {
        job->source_height = in.video_dec->height;
        job->source_width = in.video_dec->width;
        RecordSourceRate(job, ApplyFrameRateRule(vs));
    }
    job->initial_start_us = 0;
    job->initial_end_us = job->duration_us;
}

bool CreateOutput(ConversionJob* job, JobOutput& out, const AVOutputFormat* format, int index)
{
    AVFormatContext* ctx = out.file ? NewJobMuxer(format, job->output_paths[index], &job->cancel_requested) : nullptr;
    if (!ctx)
        return false;
    out.ctx.reset(ctx);
    return true;
}

// Writes the header into the job's own file. On failure the caller discards
// the output, so a later input of a join can start it afresh.
bool OpenOutputFile(JobOutput& out, int* av_error)
{
    AVFormatContext* ctx = out.ctx.get();
    if (ctx->nb_streams == 0 || !WriteHeaderInto(ctx, out.file.get(), av_error))
        return false;
    out.header_written = true;
    return true;
}

// Drops the draft output; the file keeps its name, emptied.
void DiscardOutput(JobOutput& out)
{
    std::unique_ptr<OutputFile> file = std::move(out.file);
    out = JobOutput{};
    if (file)
        file->Rewind();
    out.file = std::move(file);
}

void UpdateWrittenTimes(ConversionJob* job, const JobOutput& out)
{
    if (out.audio)
        job->audio_written_s = out.audio_clock.Seconds(out.audio);
    if (out.video)
        job->video_written_s = out.video_clock.Seconds(out.video);
}

void UpdateProgress(ConversionJob* job, const InputRun& run, const InputPlan& input)
{
    const double written = std::max(job->audio_written_s - run.audio_before_s, job->video_written_s - run.video_before_s);
    const double span = input.progress_span_s;
    const double percent = span > 0 ? written * 100 / span : 100;
    job->progress_percent = static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
    NotifyProgressObserver(job);
}

// A file whose index promises more than it holds (a download cut short) or
// that fails to read is not reported as done, whatever could be saved of it.
bool EndedBeforeItsLength(const JobRun& jr, const JobOutput& out, const InputRun& run, const InputPlan& input)
{
    constexpr double kToleranceS = 1.0;
    if (run.read_result < 0 && run.read_result != AVERROR_EOF)
        return true;
    const double held_s = HeldSeconds(run.in);
    const double span_s = input.span_s;
    // The header promises the span, but the file was found to end before it.
    const double measured_s = run.measured_held_s;
    if (!input.whole_file && measured_s > 0 && held_s > measured_s + kToleranceS &&
        measured_s < run.cut_start_s + span_s - kToleranceS)
        return true;
    if (held_s <= 0 || run.cut_complete)
        return false;
    const double written_s = jr.route->WrittenSeconds(out, run);
    double expected_s = held_s;
    if (!input.whole_file)
        expected_s = std::min(span_s, expected_s - run.cut_start_s);
    return written_s < expected_s - kToleranceS;
}

// Where the file's last packet ends, as the launch or the start's check
// measured it; 0 when unknown.
double MeasuredEndSeconds(const JobRun& jr, const InputRun& run)
{
    if (run.measured_held_s > 0)
        return run.measured_held_s;
    const InputFacts* facts = UnchangedLaunchFacts(jr.plan.inputs[run.index]);
    return facts ? facts->measured_held_s : 0;
}

// What a span should hold, in seconds: its length, or less where the file
// ends before it.
double ExpectedSpanSeconds(const JobRun& jr, const InputRun& run)
{
    double end_s = HeldSeconds(run.in);
    if (const double measured_s = MeasuredEndSeconds(jr, run); measured_s > 0)
        end_s = std::min(end_s, measured_s);
    return std::min(jr.plan.inputs[run.index].span_s, end_s - run.cut_start_s);
}

// A span whose pictures are missing or misplaced in the file, though the
// file goes on past it: an MP4 index entry pointing nowhere ends the reading
// mid-span, a damaged cluster makes the seek land a key picture early and
// the span get two pictures. Judged against what the span should hold, with
// room for a picture or two at its ends and for the file's real end.
bool DamagedWithinTheCut(const JobRun& jr, const JobOutput& out, const InputRun& run, const InputPlan& input,
                         int64_t pictures_before, int64_t picture_ticks_before)
{
    constexpr double kFileEndToleranceS = 1.0;
    constexpr double kMinShortfallS = 0.5;
    constexpr double kMinPictureShare = 0.5;
    if (input.whole_file)
        return false;
    const double expected_s = ExpectedSpanSeconds(jr, run);
    if (expected_s <= kMinShortfallS)
        return false;
    // The reading ended mid-span, well before where the file's packets end
    // (a file that breaks off there is cut short instead).
    const double written_s = jr.route->WrittenSeconds(out, run);
    const double end_s = MeasuredEndSeconds(jr, run);
    if (!run.cut_complete && written_s < expected_s - kMinShortfallS &&
        run.cut_start_s + written_s < end_s - kFileEndToleranceS)
        return true;
    // Copied pictures cover the span by their own durations (a variable
    // rate's long pictures too); a span mostly left out does not.
    if (jr.route->MainKind() != RouteKind::Copy || !out.video || run.in.video_index < 0 ||
        out.video_packets_written == pictures_before)
        return false;
    const double covered_s = (out.video_ticks_written - picture_ticks_before) * av_q2d(out.video->time_base);
    return covered_s < expected_s * kMinPictureShare;
}

// One packet along its stream's route. A lost sound packet is not worth
// failing the input for; a picture the output refuses is.
FailureReason WriteAlongRoute(JobOutput& out, InputRun& run, const StreamRoute& route, AVPacket* pkt)
{
    if (route.kind == RouteKind::Drop)
        return FailureReason::None;
    if (route.role == StreamRole::Other) {
        CopyExtraPacket(out, run, pkt);  // converts it where its route says so
        return FailureReason::None;
    }
    const bool picture = route.role == StreamRole::Picture;
    if (route.kind == RouteKind::Reencode) {
        if (!picture)
            out.reencoder->AudioPacket(out, run, pkt);
        else if (!out.reencoder->VideoPacket(out, run, pkt))
            return ReasonOfFailedStep(out, FailureReason::NotMedia);
        FollowReencodedOrigin(out, run, out.reencoder->InputOriginMicroseconds());
        return FailureReason::None;
    }
    if (!picture) {
        CopyAudioPacket(out, run, pkt);
        return FailureReason::None;
    }
    if (const int rc = CopyVideoPacket(out, run, pkt); rc < 0) {
        run.av_error = rc;
        return FailureReason::NotAccepted;
    }
    WriteWaitingExtras(out, run);  // the origin may be known now
    return FailureReason::None;
}

const StreamRoute& RouteOf(const InputPlan& input, int stream)
{
    static const StreamRoute kUnknown;  // a stream that appeared after set-up: dropped
    return stream >= 0 && static_cast<size_t>(stream) < input.routes.size() ? input.routes[stream] : kUnknown;
}

void RunPacketLoop(JobRun& jr, JobOutput& out, InputRun& run, const InputPlan& input)
{
    ConversionJob* job = jr.job;
    PacketPtr packet = MakePacket();
    AVPacket* pkt = packet.get();
    PictureTimeReader reader(run.in.format.get(), run.in.video_index);
    while (pkt && (run.read_result = reader.Read(pkt)) >= 0) {
        if (Cancelled(job) || out.WriteFailed()) {
            av_packet_unref(pkt);
            break;
        }
        UpdateWrittenTimes(job, out);
        const CutEnd end = input.whole_file ? CutEnd::NotYet : jr.route->AtCutEnd(out, run, pkt);
        if (end == CutEnd::Stop) {
            av_packet_unref(pkt);
            break;
        }
        if (end == CutEnd::SkipThis || (pkt->flags & AV_PKT_FLAG_CORRUPT)) {
            av_packet_unref(pkt);  // a corrupt packet: decoders would show garbage
            continue;
        }
        UpdateProgress(job, run, input);
        const FailureReason why = WriteAlongRoute(out, run, RouteOf(input, pkt->stream_index), pkt);
        av_packet_unref(pkt);
        if (why != FailureReason::None) {
            MarkFailed(job, run, why);
            break;
        }
    }
}

// A cut starting at or past what the streams hold: the seek would land on
// the last key frame and copy pictures from before the span.
bool StartsPastItsEnd(const InputPlan& input, InputRun& run, double start_s)
{
    const double held_s = HeldSeconds(run.in);
    if (held_s > 0 && start_s >= held_s)
        return true;
    // The header may promise more than the file holds (a download stopped
    // early): what is really there decides, as the launch measured it. The
    // seek to the start follows.
    const InputFacts* facts = UnchangedLaunchFacts(input);
    run.measured_held_s = start_s <= 0 ? 0
                          : facts      ? facts->measured_held_s
                                       : MeasuredHeldSeconds(run.in, input.path.c_str());
    return run.measured_held_s > 0 && start_s >= run.measured_held_s;
}

// The span before it kept the file open for this input, which seeks to its
// start before it reads (a span from the file's start is read from a fresh
// open, as the kept one's position is wherever that span ended).
bool TakeKeptSpanInput(JobRun& jr, InputRun& run, const MediaInputOptions& options)
{
    MediaInput kept = std::move(jr.next_span_input);
    jr.next_span_input = MediaInput{};
    const InputPlan& input = jr.plan.inputs[run.index];
    if (!kept.format || input.exact || input.whole_file || input.span.start_us <= 0)
        return false;
    if (AdaptMediaInput(kept, options) != kProbeOk)
        return false;
    run.in = std::move(kept);
    return true;
}

// A copied span that read its file without fault leaves it open for the
// next span when that is of the same file: a copy never decodes, so nothing
// but the reading position carries over, and the next span seeks.
void KeepForNextSpan(JobRun& jr, InputRun& run)
{
    const size_t next = static_cast<size_t>(run.index) + 1;
    const bool read_cleanly = run.read_result >= 0 || run.read_result == AVERROR_EOF;
    if (jr.route->MainKind() != RouteKind::Copy || run.failed || !read_cleanly || !run.in.format ||
        next >= jr.plan.inputs.size() || jr.plan.inputs[next].path != jr.plan.inputs[run.index].path)
        return;
    jr.next_span_input = std::move(run.in);
    run.in = MediaInput{};
}

// A fresh output for input `run.index`, or the one earlier inputs write.
FailureReason PrepareOutput(JobRun& jr, JobOutput& out, InputRun& run)
{
    ConversionJob* job = jr.job;
    const int l = run.index;
    job->output_format = jr.route->OutputFormat(run.in.format.get(), job->output_paths[l]);
    if (!job->output_format)
        return FailureReason::NotAccepted;
    if (out.ctx)
        return FailureReason::None;
    const int index = jr.plan.separate_outputs ? l : 0;
    if (!CreateOutput(job, out, job->output_format, index))
        return out.file ? FailureReason::NotAccepted : FailureReason::WriteFailed;
    jr.route->StartOutput(out);
    // What the output container can hold of them, whatever the mode.
    CopyContainerFacts(out.ctx.get(), run.in.format.get());
    ReserveChapters(out.ctx.get(), jr.plan, job->current_input.load());
    return FailureReason::None;
}

// The input's streams set up in the output, and each stream's route
// decided. Until its header is written the output is only this input's
// draft: a failure drops it, and the next input starts the output afresh.
FailureReason SetUpInputStreams(JobRun& jr, JobOutput& out, InputRun& run, InputPlan& input)
{
    const bool first_header = !out.header_written;
    if (!jr.route->SetUpStreams(out, run) || (!out.header_written && !OpenOutputFile(out, &run.av_error))) {
        const bool refused_later = out.header_written;
        if (!out.header_written)
            DiscardOutput(out);
        return refused_later ? jr.route->RefusalOfLaterInput() : FailureReason::NotAccepted;
    }
    if (first_header)
        jr.route->HeaderWritten(out, run);
    input.routes = RoutesOfStreams(run, jr.route->MainKind(), jr.job->dropped_tracks);
    return FailureReason::None;
}

// Where this input starts in the output, and how it meets the input before.
void PlaceInput(const JobRun& jr, const JobOutput& out, InputRun& run, const InputPlan& input)
{
    jr.job->input_start_s = ContainerStartSeconds(run.in.format.get());
    run.offset_us = jr.route->StartOffset(out);
    run.continues_output = out.video_clock.last_dts != AV_NOPTS_VALUE;
    run.trim_sound_to_picture = jr.plan.inputs_meet_at_seams && out.video && out.audio && run.in.video_index >= 0;
    run.video_before_s = out.video ? out.video_clock.Seconds(out.video) : 0;
    run.audio_before_s = out.audio ? out.audio_clock.Seconds(out.audio) : 0;
    run.cut_start_s = SecondsOfMicroseconds(input.span.start_us);
    run.cut_length_us = input.span.LengthMicroseconds();
}

// What the input's run left in the output, judged once its loop is over.
FailureReason JudgeInput(const JobRun& jr, const JobOutput& out, const InputRun& run, const InputPlan& input,
                         int64_t packets_before, int64_t pictures_before, int64_t picture_ticks_before)
{
    if (jr.route->WroteNothing(out, run, packets_before))
        return input.whole_file ? FailureReason::CutShort : FailureReason::NothingInSpan;
    if (jr.route->LostThePicture(out, run, pictures_before))
        return FailureReason::PictureLost;
    if (EndedBeforeItsLength(jr, out, run, input))
        return FailureReason::CutShort;
    if (DamagedWithinTheCut(jr, out, run, input, pictures_before, picture_ticks_before))
        return FailureReason::DamagedWithin;
    return FailureReason::None;
}

// One input, opened, steps from there to releasing it. Failures mark the
// input and return at once; the output stays open for the next input.
void ProcessInput(JobRun& jr, JobOutput& out, InputRun& run, InputPlan& input)
{
    ConversionJob* job = jr.job;
    RecordInputFacts(job, run);
    FailureReason why = PrepareOutput(jr, out, run);
    if (why == FailureReason::None)
        why = SetUpInputStreams(jr, out, run, input);
    if (why != FailureReason::None)
        return MarkFailed(job, run, why);

    PlaceInput(jr, out, run, input);
    if (!input.whole_file && StartsPastItsEnd(input, run, run.cut_start_s))
        return MarkFailed(job, run, FailureReason::NothingInSpan);
    if (input.span.start_us > 0) {
        if (jr.route->MainKind() == RouteKind::Copy)
            ReadPacketsAsStored(run.in.format.get());  // takes effect from the seek on
        job->seek_by_bytes = SeekToCutStart(run.in.format.get(), input.span.start_us) == SeekMethod::Bytes;
    }
    if (!jr.route->BeginInput(out, run))
        return MarkFailed(job, run, ReasonOfFailedStep(out, FailureReason::NotMedia));

    const int64_t packets_before = out.packets_written;
    const int64_t pictures_before = out.video_packets_written;
    const int64_t picture_ticks_before = out.video_ticks_written;
    RunPacketLoop(jr, out, run, input);
    if (run.read_result < 0 && run.read_result != AVERROR_EOF && run.av_error == 0)
        run.av_error = run.read_result;  // why the reading broke off
    const bool ended = jr.route->EndInput(out, run);
    run.waiting.clear();
    UpdateWrittenTimes(job, out);
    // A packet that failed the input has its reason already; what follows
    // may name a better one (the disk filled up).
    if (!ended || out.WriteFailed())
        return MarkFailed(job, run, ReasonOfFailedStep(out, FailureReason::NotMedia));
    if (Cancelled(job))
        return;
    why = JudgeInput(jr, out, run, input, packets_before, pictures_before, picture_ticks_before);
    if (why != FailureReason::None)
        MarkFailed(job, run, why);
}

}  // namespace

bool Cancelled(const ConversionJob* job) { return job->cancel_requested.load() != 0; }

void MarkFailed(ConversionJob* job, InputRun& run, FailureReason reason)
{
    const bool stopped = Cancelled(job);
    if (stopped)
        reason = FailureReason::Stopped;
    const int av_error = stopped ? 0 : run.av_error;
    job->input_av_error[run.index] = av_error;
    job->input_reason[run.index] = reason;
    job->input_status[run.index] = kInputFailed;
    run.failed = true;
    const char* unit = !job->join_mode && job->input_count > 1 ? "span" : "input";
    av_log(nullptr, AV_LOG_ERROR, "%s %d: %s\n", unit, run.index + 1, FailureReasonWithCause(reason, av_error).c_str());
}

FailureReason ReasonOfOpen(int probe_code)
{
    return probe_code == kProbeNoSuchFile || probe_code == kProbeUnreadable || probe_code == kProbeNotAFile ||
                   probe_code == kProbeTooManyOpen
               ? FailureReason::Unreadable
               : FailureReason::NotMedia;
}

int OpenInput(JobRun& jr, InputRun& run, bool exact)
{
    MediaInputOptions options;
    options.decoder_threads = jr.route->DecoderThreads();
    options.open_audio = !exact;
    options.interrupt = CancelCallback(jr.reports.cancel);
    if (!exact && TakeKeptSpanInput(jr, run, options))
        return kProbeOk;
    return OpenPlannedInput(jr.plan.inputs[run.index], jr.reports.cancel, options, run.in);
}

void RunInput(JobRun& jr, JobOutput& out, InputRun& run, InputPlan& input)
{
    const bool exact = input.exact;
    const int opened = OpenInput(jr, run, exact);
    run.av_error = run.in.open_error;
    if (exact) {
        FailureReason why = FailureReason::None;
        if (!RunExactCut(jr.plan, run.index, jr.reports, std::move(run.in), std::move(out.file), &why))
            MarkFailed(jr.job, run, opened == kProbeOk ? why : ReasonOfOpen(opened));
    } else if (opened == kProbeOk) {
        ProcessInput(jr, out, run, input);
        KeepForNextSpan(jr, run);
    } else if (!Cancelled(jr.job)) {  // a stop during the open leaves the input pending
        MarkFailed(jr.job, run, ReasonOfOpen(opened));
    }
}
