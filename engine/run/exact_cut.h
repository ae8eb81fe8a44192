// SPDX-License-Identifier: GPL-3.0-or-later
// Exact start and end for direct cuts: the pictures between the start point
// and the first key picture of the span, and between the last key picture
// and the end point, are re-encoded with the source's codec and parameters;
// every packet between them is copied as it is. The sound is copied from the
// packet that covers the start point.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "job_outcome.h"
#include "job_plan.h"

class OutputFile;
struct MediaInput;

// Whether `path` can be cut exactly into a file of the same container; when
// not, `why` says so in a few words and the cut falls back to key pictures.
// `in` is `path` already open; the other form opens it.
bool ExactCutPossible(const MediaInput& in, const char* path, std::string* why);
bool ExactCutPossible(const char* path, std::string* why);

// Whether an exact cut of `inputs[input]`, opened as `*in`, must re-encode
// its whole span: no picture inside it can start a copy (no key picture, or
// only open-GOP recovery points; or key pictures without the stream's
// headers, which MPEG-4 Part 2 in MP4 keeps apart: then
// `*keys_lack_headers`). `*in` is given back, read wherever the look left it.
bool ExactSpanReencodedWhole(const std::vector<InputPlan>& inputs, int input, const JobReports& reports,
                             MediaInput* in, bool* keys_lack_headers = nullptr);

// Cuts `plan.inputs[input]`, opened as `in`, into `file`, the job's output,
// reporting progress across the three parts, and closes the file. False when
// the input failed, `why` then says why: the file is deleted. A cancelled cut
// keeps what it wrote and is not a failure.
bool RunExactCut(const JobPlan& plan, int input, const JobReports& reports, MediaInput in,
                 std::unique_ptr<OutputFile> file, FailureReason* why);

// Every span of a job (its inputs, all of one file) cut exactly into one
// file, one after the other, with one set of codec parameters: started once
// (every span scanned and planned, the file's header written), cut span by
// span in order, finished once.
struct ExactSeries;
struct ExactSeriesDeleter {
    void operator()(ExactSeries* series) const;
};
using ExactSeriesPtr = std::unique_ptr<ExactSeries, ExactSeriesDeleter>;
// `in` is the file, opened once for every span.
ExactSeriesPtr StartExactSeries(const JobPlan& plan, const JobReports& reports, MediaInput in,
                                std::unique_ptr<OutputFile> file);
// False when span `input` failed (`why` says why); a span that failed before
// writing leaves the others be, one that broke off half written fails the file.
// A stop returns true with what was written kept.
bool CutExactSpan(ExactSeries* series, int input, FailureReason* why);
// Closes the file, or deletes it when no span is done (`any_span_done`
// false). Returns why the file is no result, None when it is one or every
// span failed for its own reason.
FailureReason FinishExactSeries(ExactSeries* series, bool any_span_done);
