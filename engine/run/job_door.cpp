// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_door.h"

#include <algorithm>

#include "conversion_job.h"
#include "exact_cut.h"

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
        in.exact = ExactCutApplies(job, i);
    }
    const bool exact = !plan.inputs.empty() && plan.inputs[0].exact;
    plan.mode = job->reencode ? JobMode::Reencode : exact ? JobMode::Exact : JobMode::Copy;
    return plan;
}
