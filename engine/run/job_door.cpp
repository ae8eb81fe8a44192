// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_door.h"

#include <algorithm>

#include "conversion_job.h"
#include "exact_cut.h"
#include "job_file.h"
#include "media_input.h"

namespace {

EncodeTargets EncodeTargetsOf(const ConversionJob* job)
{
    EncodeTargets t;
    t.video_codec_id = job->video_codec_id;
    t.audio_codec_id = job->audio_codec_id;
    t.video_bit_rate = job->video_bit_rate;
    t.width = job->target_width;
    t.height = job->target_height;
    t.fps = job->target_fps;
    t.audio_bit_rate = job->audio_bit_rate;
    t.sample_rate = job->audio_sample_rate;
    t.channels = job->audio_channels;
    return t;
}

// Every input's plan but the exact cut's decision.
std::vector<InputPlan> InputsOf(const ConversionJob* job)
{
    const bool join = job->join_mode != 0;
    const int count = std::clamp(job->input_count, 0, kMaxJobInputs);
    std::vector<InputPlan> inputs(count);
    for (int i = 0; i < count; ++i) {
        InputPlan& in = inputs[i];
        in.path = job->input_paths && job->input_paths[i] ? job->input_paths[i] : "";
        in.output_path = job->output_paths && job->output_paths[i] ? job->output_paths[i] : "";
        in.whole_file = join;
        if (!join)
            in.span = MediaSpanOfSeconds(job->start_s[i], job->end_s[i]);
        // A join's progress runs over the whole of it.
        in.progress_span_s = join ? job->join_total_s : job->span_s[i];
        in.span_s = job->span_s[i];
        if (static_cast<size_t>(i) < job->input_facts.size())
            in.launch_facts = &job->input_facts[i];
    }
    return inputs;
}

// Keeps `in`, input `input` of `job` looked into by the launch, open for
// the worker: the job's next read of that file takes it. Only a reader that
// seeks before it reads may take it (an exact cut), as its read position is
// wherever the look left it; dropped when the launch has no facts of the file.
void HoldJobInput(ConversionJob* job, int input, MediaInput in)
{
    if (!in.format || !LaunchFactsOf(job, input))
        return;
    // Spans are inputs of one file: whichever the worker reads first takes it.
    auto held = std::make_shared<HeldInput>(std::make_unique<MediaInput>(std::move(in)), &job->cancel_requested);
    for (InputFacts& facts : job->input_facts)
        if (facts.path == job->input_facts[input].path)
            facts.held = held;
}

}  // namespace

JobPlan PlanJob(const ConversionJob* job)
{
    JobPlan plan;
    plan.join = job->join_mode != 0;
    plan.separate_outputs = job->separate_outputs != 0;
    plan.spans_in_one_file = SpansInOneFile(job);
    plan.inputs_meet_at_seams = plan.join || plan.spans_in_one_file;
    plan.part_chapters = job->part_chapters != 0 && !plan.join && !plan.separate_outputs;
    plan.inputs = InputsOf(job);
    for (size_t i = 0; i < plan.inputs.size(); ++i)
        plan.inputs[i].exact = ExactCutApplies(job, static_cast<int>(i));
    const bool exact = !plan.inputs.empty() && plan.inputs[0].exact;
    plan.encode = EncodeTargetsOf(job);
    plan.mode = job->reencode ? JobMode::Reencode : exact ? JobMode::Exact : JobMode::Copy;
    return plan;
}

JobReports ReportsOf(ConversionJob* job)
{
    JobReports reports;
    reports.dropped_tracks = &job->dropped_tracks;
    reports.cancel = &job->cancel_requested;
    reports.progress_percent = &job->progress_percent;
    reports.output_error = &job->output_error;
    reports.progress_changed = [job] { NotifyProgressObserver(job); };
    return reports;
}

std::unique_ptr<OutputFile> TakeOutputFile(ConversionJob* job, int index)
{
    int fd = -1;
    if (index == 0) {
        fd = job->output_fd;
        job->output_fd = -1;
    } else if (static_cast<size_t>(index - 1) < job->later_output_fds.size()) {
        fd = job->later_output_fds[index - 1];
        job->later_output_fds[index - 1] = -1;
    }
    int error = 0;
    std::unique_ptr<OutputFile> file = OutputFileOf(fd, job->output_paths ? job->output_paths[index] : nullptr, &error);
    if (error != 0)
        job->output_error = error;
    return file;
}

const InputFacts* LaunchFactsOf(const ConversionJob* job, int input)
{
    if (input < 0 || static_cast<size_t>(input) >= job->input_facts.size() || !job->input_paths ||
        !FactsStillHold(job->input_facts[input], job->input_paths[input]))
        return nullptr;
    return &job->input_facts[input];
}

bool ExactCutApplies(const ConversionJob* job, int input)
{
    if (!job->exact_cut || job->join_mode || job->reencode)
        return false;
    // The launch looked at the file; only a file changed since is looked at again.
    if (const InputFacts* facts = LaunchFactsOf(job, input))
        return facts->exact_cut_possible;
    std::string why;
    return ExactCutPossible(job->input_paths[input], &why);
}

bool ExactCutReencodesWholeSpan(ConversionJob* job, int input, bool* keys_lack_headers)
{
    const std::vector<InputPlan> inputs = InputsOf(job);
    if (input < 0 || static_cast<size_t>(input) >= inputs.size())
        return false;
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;
    options.interrupt = CancelCallback(&job->cancel_requested);
    if (OpenPlannedInput(inputs[input], &job->cancel_requested, options, in) != kProbeOk)
        return false;  // the cut itself reports what is wrong
    const bool whole = ExactSpanReencodedWhole(inputs, input, ReportsOf(job), &in, keys_lack_headers);
    // The cut seeks to its span before reading: it goes on with this file.
    HoldJobInput(job, input, std::move(in));
    return whole;
}
