// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut as the worker and the launch ask for it.
#include "exact_cut.h"

#include "exact_cutter.h"
#include "job_file.h"

using exact_cutting::ClassifySource;
using exact_cutting::ExactCutter;

bool ExactCutPossible(const MediaInput& in, const char* path, std::string* why)
{
    if (!in.format || !in.VideoStream()) {
        *why = "the file has no picture to cut";
        return false;
    }
    CutCodec codec;
    return ClassifySource(in.format.get(), in.VideoStream(), path, &codec, why);
}

bool ExactCutPossible(const char* path, std::string* why)
{
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;  // the check looks at the picture alone
    OpenMediaInput(path, in, options);
    return ExactCutPossible(in, path, why);
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
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;
    options.interrupt = CancelCallback(job);
    if (OpenJobInput(job, input, options, in) != kProbeOk)
        return false;  // the cut itself reports what is wrong
    ExactCutter cutter(job, input, std::move(in), nullptr);
    const bool whole = cutter.ReencodesWholeSpan(keys_lack_headers);
    // The cut seeks to its span before reading: it goes on with this file.
    HoldJobInput(job, input, cutter.TakeInput());
    return whole;
}

bool RunExactCut(ConversionJob* job, int input, MediaInput in, std::unique_ptr<OutputFile> file,
                 FailureReason* why)
{
    ExactCutter cutter(job, input, std::move(in), std::move(file));
    const bool ok = cutter.Run();
    *why = cutter.reason();
    return ok;
}

struct ExactSeries {
    ExactSeries(ConversionJob* job, MediaInput in, std::unique_ptr<OutputFile> file)
        : cutter(job, 0, std::move(in), std::move(file))
    {
    }
    ExactCutter cutter;
};

void ExactSeriesDeleter::operator()(ExactSeries* series) const { delete series; }

ExactSeriesPtr StartExactSeries(ConversionJob* job, MediaInput in, std::unique_ptr<OutputFile> file)
{
    ExactSeriesPtr series(new ExactSeries(job, std::move(in), std::move(file)));
    series->cutter.StartSeries();  // what failed, each span's cut says
    return series;
}

bool CutExactSpan(ExactSeries* series, int input, FailureReason* why)
{
    return series->cutter.CutSpan(input, why);
}

FailureReason FinishExactSeries(ExactSeries* series) { return series->cutter.FinishSeries(); }
