// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_reading.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

#include "job_setup.h"

JobReading ReadJob(const ConversionJob& job)
{
    JobReading r;
    r.current = job.current_input;
    r.percent = job.progress_percent;
    r.stop_asked = job.cancel_requested != 0;
    r.output_error = job.output_error;
    r.disk_full = r.output_error == ENOSPC || r.output_error == EDQUOT;

    const int count = std::clamp(job.input_count, 0, kMaxJobInputs + 1);
    r.inputs.resize(count);
    r.reached = std::clamp(r.current, 0, count);
    for (int i = 0; i < count; ++i) {
        InputReading& in = r.inputs[i];
        in.status = job.input_status[i];
        in.reason = job.input_reason[i];
        in.av_error = job.input_av_error[i];
        in.in_output = in.status == kInputDone || (i < r.current && in.status == kInputPending);
        const bool failed = in.status == kInputFailed;
        r.done += in.status == kInputDone ? 1 : 0;
        r.failed += failed ? 1 : 0;
        r.stopped += (failed && in.reason == FailureReason::Stopped) ||
                             (r.stop_asked && in.status == kInputPending) ? 1 : 0;
        if (i < r.reached && (failed || in.status == kInputDone))
            ++r.finished;
        if (failed && r.first_failed < 0)
            r.first_failed = i;
    }
    // Read after the index: a done input has run through, though its last
    // percent may not have been written yet (or was reset for the next).
    if (r.current >= 0 && r.current < count && r.inputs[r.current].status == kInputDone)
        r.percent = 100;
    r.all_done = count > 0 && r.done == count;
    r.ended = count > 0 && r.current >= count;

    const int outputs = job.separate_outputs ? job.input_count : 1;
    for (int o = 0; o < outputs && job.output_paths; ++o) {
        struct stat st {};
        const char* path = job.output_paths[o];
        if (!path || !FileExists(path))
            continue;
        // The launch's reservation of a span never reached is empty; what a
        // job wrote never is (a header at least).
        const bool reserved_only = stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
        (reserved_only ? r.left_empty : r.kept).emplace_back(path);
    }
    return r;
}
