// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_door.h"

#include <algorithm>

#include "conversion_job.h"
#include "exact_cut.h"

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

}  // namespace

JobPlan PlanJob(const ConversionJob* job)
{
    JobPlan plan;
    plan.join = job->join_mode != 0;
    plan.separate_outputs = job->separate_outputs != 0;
    plan.spans_in_one_file = SpansInOneFile(job);
    plan.inputs_meet_at_seams = plan.join || plan.spans_in_one_file;
    const int count = std::clamp(job->input_count, 0, kMaxJobInputs);
    plan.inputs.resize(count);
    for (int i = 0; i < count; ++i) {
        InputPlan& in = plan.inputs[i];
        in.path = job->input_paths && job->input_paths[i] ? job->input_paths[i] : "";
        in.whole_file = plan.join;
        if (!plan.join)
            in.span = MediaSpanOfSeconds(job->start_s[i], job->end_s[i]);
        // A join's progress runs over the whole of it.
        in.progress_span_s = plan.join ? job->join_total_s : job->span_s[i];
        in.span_s = job->span_s[i];
        if (static_cast<size_t>(i) < job->input_facts.size())
            in.launch_facts = &job->input_facts[i];
        in.exact = ExactCutApplies(job, i);
    }
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
    return reports;
}
