// SPDX-License-Identifier: GPL-3.0-or-later
// One input of a job, from its open to the judgement of what it wrote: the
// steps the worker takes for each input in turn.
#pragma once

#include <memory>

#include "input_route.h"
#include "job_outcome.h"
#include "job_output.h"
#include "job_plan.h"
#include "media_input.h"

struct ConversionJob;

// One job as it runs: the record it reports into, its plan, and the route
// its copied or re-encoded inputs take.
struct JobRun {
    ConversionJob* job;
    JobPlan plan;
    JobReports reports;
    std::unique_ptr<InputRoute> route;
    // The file a copied span has just read, kept open for the next span of
    // it: opening a long recording again reads and indexes all its samples.
    MediaInput next_span_input;
};

bool Cancelled(const ConversionJob* job);

// The reason goes first: a reader that sees the status also sees why. A
// failure while the job is being stopped is the stop.
void MarkFailed(ConversionJob* job, InputRun& run, FailureReason reason);

FailureReason ReasonOfOpen(int probe_code);

// Opens input `run.index`, the job's one open of it, or takes the one the
// probe or the span before kept open for it. An exact cut reads only the
// picture's decoder.
int OpenInput(JobRun& jr, InputRun& run, bool exact);

// Opens the input once and hands it to the path that runs it: an exact cut
// in a loop of its own that writes and closes the job's file itself (and
// deletes it when the input did not open), else the copy or re-encode.
void RunInput(JobRun& jr, JobOutput& out, InputRun& run, InputPlan& input);
