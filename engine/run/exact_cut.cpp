// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut as the worker and the launch ask for it.
#include "exact_cut.h"

#include "exact_cutter.h"

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

bool ExactSpanReencodedWhole(const std::vector<InputPlan>& inputs, int input, const JobReports& reports,
                             MediaInput* in, bool* keys_lack_headers)
{
    ExactCutter cutter(inputs, input, reports, std::move(*in), nullptr);
    const bool whole = cutter.ReencodesWholeSpan(keys_lack_headers);
    *in = cutter.TakeInput();
    return whole;
}

bool RunExactCut(const JobPlan& plan, int input, const JobReports& reports, MediaInput in,
                 std::unique_ptr<OutputFile> file, FailureReason* why)
{
    ExactCutter cutter(plan.inputs, input, reports, std::move(in), std::move(file));
    cutter.ChapterPerPart(plan.part_chapters);
    const bool ok = cutter.Run();
    *why = cutter.reason();
    return ok;
}

struct ExactSeries {
    ExactSeries(const JobPlan& plan, const JobReports& reports, MediaInput in, std::unique_ptr<OutputFile> file)
        : cutter(plan.inputs, 0, reports, std::move(in), std::move(file))
    {
    }
    ExactCutter cutter;
};

void ExactSeriesDeleter::operator()(ExactSeries* series) const { delete series; }

ExactSeriesPtr StartExactSeries(const JobPlan& plan, const JobReports& reports, MediaInput in,
                                std::unique_ptr<OutputFile> file)
{
    ExactSeriesPtr series(new ExactSeries(plan, reports, std::move(in), std::move(file)));
    series->cutter.ChapterPerPart(plan.part_chapters);
    series->cutter.StartSeries();  // what failed, each span's cut says
    return series;
}

bool CutExactSpan(ExactSeries* series, int input, FailureReason* why)
{
    return series->cutter.CutSpan(input, why);
}

FailureReason FinishExactSeries(ExactSeries* series, bool any_span_done)
{
    return series->cutter.FinishSeries(any_span_done);
}
