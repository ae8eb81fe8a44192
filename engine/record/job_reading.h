// SPDX-License-Identifier: GPL-3.0-or-later
// One reading of a job's record: what each input came to and why, how far
// the job has got and what it left on disk. The window's poll and the
// command-line tool both read a job through it, so they never disagree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion_job.h"

struct InputReading {
    uint8_t status = kInputPending;  // kInputPending, kInputDone or kInputFailed
    FailureReason reason = FailureReason::None;
    int av_error = 0;  // what the media libraries answered, beside the reason
    // What the output holds: a done input, or one the worker has moved past
    // while still pending (a stop ended it there; it is in up to the stop).
    bool in_output = false;
};

struct JobReading {
    int current = -1;  // current_input as read: the input the worker is on
    int percent = 0;   // of the current input
    std::vector<InputReading> inputs;  // one an input, in order
    int reached = 0;   // inputs before `current`: their status is final
    int finished = 0;  // of those, done or failed
    int done = 0;      // over every input
    int failed = 0;
    // Ended by a stop: failed because of it, or left pending once it was asked for.
    int stopped = 0;
    int first_failed = -1;  // the first failed input; -1 none
    bool ended = false;     // the worker has moved past every input, and there was one
    bool all_done = false;  // every input done, and there was one
    bool stop_asked = false;
    int output_error = 0;   // errno of the output's failed write; 0 none
    bool disk_full = false;
    std::vector<std::string> kept;  // the job's output files on disk, in order
    // Files reserved for outputs nothing was written to (spans a stop kept the
    // job from reaching) that are still there: removing them failed, as in a
    // folder made read-only meanwhile. Never a result.
    std::vector<std::string> left_empty;

    FailureReason FirstReason() const
    {
        return first_failed >= 0 ? inputs[first_failed].reason : FailureReason::None;
    }
    int FirstAvError() const { return first_failed >= 0 ? inputs[first_failed].av_error : 0; }
};

// Reads `job` once: each input's status before its reason, as the worker
// writes the reason first, so a failure is always read with its reason. Safe while the worker runs; the kept files
// are only meaningful once it has ended.
JobReading ReadJob(const ConversionJob& job);
