// SPDX-License-Identifier: GPL-3.0-or-later
#include "worker.h"

#include "container_rules.h"
#include "conversion_job.h"
#include "exact_cut.h"
#include "extra_sound.h"
#include "job_door.h"
#include "job_file.h"
#include "job_input.h"
#include "job_output.h"
#include "job_setup.h"
#include "media_input.h"
#include "reencode.h"
#include "track_enabling.h"
#include "tracks.h"

namespace {

void ResetPerInputState(ConversionJob* job)
{
    job->video_stream_index = -1;
    job->input_start_s = 0;
    job->audio_written_s = 0;
    job->video_written_s = 0;
}

// Whether an input of [first, last] is done; `cut_short_counts`: a file
// found cut short counts too, with what it still held.
bool AnyInputDone(const ConversionJob* job, int first, int last, bool cut_short_counts = false)
{
    for (int i = first; i <= last && i < job->input_count && i <= kMaxJobInputs; ++i)
        if (job->input_status[i] == kInputDone ||
            (cut_short_counts && job->input_status[i] == kInputFailed &&
             job->input_reason[i] == FailureReason::CutShort))
            return true;
    return false;
}

// Drains the encoders and writes the trailer. A file that holds nothing, or
// whose end could not be written (a full disk leaves an MP4 without its
// index), cannot play: it is deleted rather than left looking like a result.
// Returns why the output is not a result, None when it is (or there is none).
FailureReason FinishOutput(ConversionJob* job, const JobPlan& plan, JobOutput& out, int first, int last)
{
    // A job none of whose inputs is done has no result: nothing of it stays,
    // but for what a cut-short file still held, which is all there is of it.
    const bool wanted = AnyInputDone(job, first, last, true) || Cancelled(job);
    bool ok = out.header_written && wanted;
    if (out.header_written) {
        if (WriteSoundTail(out) < 0)
            ok = false;
        if (out.reencoder && (!FinishExtraSound(out) || !out.reencoder->FinishJob(out)))
            ok = false;
        if (plan.part_chapters)
            EndPartChapters(&out.chapters, out.EndMicroseconds(), out.MuxerShiftMicroseconds());
        if ((ChaptersAtTrailer(out.ctx->oformat) && !PutChapters(out.ctx.get(), out.chapters)) ||
            av_write_trailer(out.ctx.get()) < 0)
            ok = false;
        // Unreadable boxes leave the flag as the muxer set it; a failed write shows in the file's error.
        if (ok)
            KeepUnmarkedSubtitlesOff(out.ctx.get(), out.file.get());
    }
    const bool wrote_packets = out.packets_written > 0;
    std::unique_ptr<OutputFile> file = std::move(out.file);
    out = JobOutput{};  // frees the muxer; the writer is the file's
    FailureReason why = FailureReason::None;
    if (!file || FinishJobFile(file.get(), ok && wrote_packets, &why, &job->output_error))
        return FailureReason::None;
    if (!wanted)
        return FailureReason::None;  // every input has its own reason already
    if (why != FailureReason::None)
        return why;  // a write failed, or the file is gone
    return job->output_error != 0 || !wrote_packets ? FailureReason::WriteFailed : FailureReason::NotAccepted;
}

// The output is gone, or can take nothing more: no input is done.
void FailInputsFrom(ConversionJob* job, int first)
{
    for (int i = first; i < job->input_count && i <= kMaxJobInputs; ++i) {
        job->input_reason[i] = FailureReason::WriteFailed;
        job->input_status[i] = kInputFailed;
    }
}

void FailDoneInputs(ConversionJob* job, FailureReason reason, int first, int last)
{
    for (int i = first; i <= last && i < job->input_count && i <= kMaxJobInputs; ++i)
        if (job->input_status[i] == kInputDone) {
            job->input_reason[i] = reason;
            job->input_status[i] = kInputFailed;
        }
}

}  // namespace

void ConversionWorker(ConversionJob* job)
{
    for (int i = 0; i < job->input_count && i <= kMaxJobInputs; ++i) {
        job->input_reason[i] = FailureReason::None;
        job->input_av_error[i] = 0;
        job->input_status[i] = kInputPending;
    }
    job->progress_percent = 0;
    job->current_input = 0;
    if (job->input_count <= 0)
        return;
    JobRun jr{job, PlanJob(job), ReportsOf(job), nullptr, MediaInput{}};
    jr.route = MakeInputRoute(jr.plan, jr.reports);
    JobPlan& plan = jr.plan;

    JobOutput out;
    out.file = TakeOutputFile(job, 0);
    bool finished = false;
    const bool separate = plan.separate_outputs;
    // Exact spans into one file: one cutter over every span.
    // The file is opened once for all of them.
    ExactSeriesPtr series;
    int series_opened = kProbeOk;
    if (plan.spans_in_one_file && plan.inputs[0].exact) {
        InputRun first;
        first.index = 0;
        series_opened = OpenInput(jr, first, true);
        series = StartExactSeries(plan, jr.reports, std::move(first.in), std::move(out.file));
    }
    const auto finish = [&](int first, int last) {
        const FailureReason why =
            series ? FinishExactSeries(series.get(), AnyInputDone(job, first, last)) : FinishOutput(job, plan, out, first, last);
        if (why != FailureReason::None)
            FailDoneInputs(job, why, first, last);
    };
    while (job->current_input < job->input_count) {
        ResetPerInputState(job);
        if (Cancelled(job))
            break;  // the output is still finished below
        InputRun run;
        run.index = job->current_input;
        if (run.index >= static_cast<int>(plan.inputs.size()))
            break;  // more inputs than the record holds
        if (separate && run.index > 0)
            out.file = TakeOutputFile(job, run.index);
        if (series) {
            FailureReason why = FailureReason::None;
            if (!CutExactSpan(series.get(), run.index, &why))
                MarkFailed(job, run, series_opened == kProbeOk ? why : ReasonOfOpen(series_opened));
        } else {
            RunInput(jr, out, run, plan.inputs[run.index]);
        }
        if (!Cancelled(job) && !run.failed)
            job->input_status[run.index] = kInputDone;
        const bool write_failed = out.WriteFailed();
        if (write_failed)
            FailInputsFrom(job, run.index + 1);  // nothing more fits
        const int first = separate ? run.index : 0;
        if (run.index == job->input_count - 1 || write_failed || separate) {
            finish(first, run.index);
            finished = run.index == job->input_count - 1 || write_failed;
        }
        // The next input starts at 0 %, before the window can read it as
        // current; the last input, and a stopped one, keep how far they got.
        if (!Cancelled(job) && !write_failed && run.index + 1 < job->input_count)
            job->progress_percent = 0;
        job->current_input = write_failed ? job->input_count : run.index + 1;
    }
    if (!finished && !separate)  // after a cancel
        finish(0, job->input_count - 1);
    // Separate spans never reached (a stop, a full disk): their files were
    // only reserved.
    ReleaseReservedOutput(job);
}

std::thread StartConversionWorker(ConversionJob* job) { return std::thread(ConversionWorker, job); }
