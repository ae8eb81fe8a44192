// SPDX-License-Identifier: GPL-3.0-or-later
// Three exact spans of 1080p H.264 in one job, into one file, against the
// same three spans as three exact cuts, one job each, in alternating rounds.
// The one job opens the file once and needs no join after it, so it should
// take no longer than the three cuts alone.
//
//   spans_bench [MEDIA_DIR] [RUNS]
//
// Source: the exact cut bench's (MakeExactSource: 1920x1080 25 fps H.264
// High with B-frames and AAC, 20 s, a key frame every 2 s); every span point
// lies between key frames.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace bench;

namespace {

const std::vector<CutSpan> kSpans = {{1300, 5700}, {7500, 12200}, {13100, 18900}};

JobRun RunSpans(const std::string& input, const fs::path& folder)
{
    const EncodingChoice choice = ExactCutChoice();
    JobRun run;
    ConversionJob* job = detail::NewRecord();
    const auto t0 = Clock::now();
    std::vector<std::string> outputs;
    if (detail::Probe(job, input) < 0)
        run.problem = "probe failed";
    else if (FillSpansJob(job, input, kSpans, OutputTarget{folder.string(), "spans", ""}, choice, false, &outputs) !=
             LaunchRefusal::None)
        run.problem = "spans refused";
    else
        detail::RunWorker(job, false, &run);
    run.seconds = Seconds(Clock::now() - t0);
    detail::FreeRecord(job);
    return run;
}

double RunCuts(const std::string& input, const fs::path& folder, bool* ok)
{
    const EncodingChoice choice = ExactCutChoice();
    double seconds = 0;
    *ok = true;
    for (const CutSpan& s : kSpans) {
        const JobRun run = RunCut(input, FormatTimeText(s.start_ms), FormatTimeText(s.end_ms), folder, "cut", choice);
        *ok = *ok && run.ok;
        seconds += run.seconds;
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    av_log_set_level(AV_LOG_ERROR);
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(dir);
    const fs::path src = MakeExactSource(dir);
    if (src.empty())
        return 1;
    PrintMachineLoad();
    std::vector<double> one_job, three_cuts;
    for (int i = 0; i < runs; ++i) {
        const fs::path folder = dir / "spans_out";
        fs::remove_all(folder);
        fs::create_directories(folder);
        const JobRun spans = RunSpans(src.string(), folder);
        bool cuts_ok = false;
        const double cuts = RunCuts(src.string(), folder, &cuts_ok);
        if (!spans.ok || !cuts_ok) {
            std::fprintf(stderr, "run %d failed (spans %s, cuts %s)\n", i + 1, spans.ok ? "ok" : spans.problem.c_str(),
                         cuts_ok ? "ok" : "FAILED");
            return 1;
        }
        std::printf("run %d: one job of three exact spans %.3f s; three exact cuts %.3f s\n", i + 1, spans.seconds,
                    cuts);
        one_job.push_back(spans.seconds);
        three_cuts.push_back(cuts);
    }
    std::printf("\nmedian of %d runs: one job %.3f s, three cuts %.3f s: %.2fx (goal <= 1.00x)\n", runs,
                Median(one_job), Median(three_cuts), Median(one_job) / Median(three_cuts));
    PrintMachineLoad();
    return 0;
}
