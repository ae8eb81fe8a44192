// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's door: the one reading of the shared record into a plan, and
// what the launch asks of the record's inputs before the job runs. Nothing
// below it takes the record.
#pragma once

#include <memory>

#include "job_plan.h"

struct ConversionJob;
struct InputFacts;
class OutputFile;

// Reads `job` once: each input's path and span in whole microseconds, and
// whether the exact cut applies to it (decided here, once, for the run).
JobPlan PlanJob(const ConversionJob* job);
// What the steps below the door report into: the record's own fields.
JobReports ReportsOf(ConversionJob* job);

// The file the launch reserved for output `index`, taken out of the record:
// the worker's from now on. Null (job->output_error says why) when there is none.
std::unique_ptr<OutputFile> TakeOutputFile(ConversionJob* job, int index);

// The launch's facts of input `input` of `job`, null when there are none or
// the file changed since.
const InputFacts* LaunchFactsOf(const ConversionJob* job, int input);

// Whether input `input` goes through the exact cut: from the facts the
// launch found (job->input_facts) while the file is unchanged.
bool ExactCutApplies(const ConversionJob* job, int input);

// Whether an exact cut of input `input` of `job` must re-encode its whole
// span: no picture inside it can start a copy (no key picture, or only
// open-GOP recovery points; or key pictures without the stream's headers:
// then `*keys_lack_headers`). Asked before the cut starts, so that the user
// knows it will take longer, and why; the file stays open for the cut.
bool ExactCutReencodesWholeSpan(ConversionJob* job, int input, bool* keys_lack_headers = nullptr);
