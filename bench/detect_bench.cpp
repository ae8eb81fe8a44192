// SPDX-License-Identifier: GPL-3.0-or-later
// Time to scan a recording for black, silence and scene changes, per hour
// of recording, against the ffmpeg program finding black and silence alone
// (`ffmpeg -i FILE -vf blackdetect -af silencedetect -f null -`): a 1080i
// MPEG-2 transport stream with AC-3 and a 1080p H.264 one with AAC, two
// minutes each (made on first run; the ratio is what counts).
//
//   detect_bench [MEDIA_DIR] [RUNS]
#include "bench_support.h"
#include "break_detect.h"

#include <atomic>

namespace {

struct Case {
    const char* name;
    const char* file;
    const char* ffmpeg_args;
};

constexpr double kSeconds = 120;

// One programme minute, a break of 30 s framed by black and silence, the
// programme again.
const std::string kSource =
    "-f lavfi -i \"testsrc2=s=1920x1080:r=25:d=60,format=yuv420p[a];color=black:s=1920x1080:r=25:d=1[b];"
    "smptebars=s=1920x1080:r=25:d=28,format=yuv420p[c];color=black:s=1920x1080:r=25:d=1[d];"
    "testsrc2=s=1920x1080:r=25:d=30,format=yuv420p[e];[a][b][c][d][e]concat=n=5,format=yuv420p\" "
    "-f lavfi -i \"sine=f=440:r=48000:d=60[a];anullsrc=r=48000:cl=mono,atrim=end=1[b];sine=f=1000:r=48000:d=28[c];"
    "anullsrc=r=48000:cl=mono,atrim=end=1[d];sine=f=440:r=48000:d=30[e];[a][b][c][d][e]concat=n=5:v=0:a=1,"
    "aformat=channel_layouts=stereo,asetnsamples=n=1536:p=0\" ";

}  // namespace

int main(int argc, char** argv)
{
    const bench::fs::path media = argc > 1 ? argv[1] : "build/bench_media";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    bench::fs::create_directories(media);
    const Case cases[] = {
        {"1080i MPEG-2 + AC-3 (TS)", "breaks_1080i_mpeg2.ts",
         "-c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 12M -maxrate 15M -bufsize 4M -g 12 -bf 2 "
         "-c:a ac3 -b:a 192k -f mpegts"},
        {"1080p H.264 + AAC (TS)", "breaks_1080p_h264.ts",
         "-c:v libx264 -preset veryfast -b:v 6M -g 50 -c:a aac -b:a 128k -f mpegts"},
    };
    bench::PrintMachineLoad();
    for (const Case& c : cases) {
        const bench::fs::path path = media / c.file;
        if (!bench::MakeMedia(path, kSource + c.ffmpeg_args))
            return 1;
        std::vector<double> ours, ours_cpu, theirs, theirs_cpu;
        size_t breaks = 0;
        for (int i = 0; i < runs; ++i) {
            std::atomic<bool> cancel{false};
            DetectedPoints points;
            const double cpu0 = bench::CpuSeconds();
            const auto t0 = bench::Clock::now();
            if (DetectCutPoints(path.c_str(), DetectSettings{}, cancel, nullptr, &points) != 0) {
                std::fprintf(stderr, "scan of %s failed\n", path.c_str());
                return 1;
            }
            ours.push_back(bench::Seconds(bench::Clock::now() - t0));
            ours_cpu.push_back(bench::CpuSeconds() - cpu0);
            breaks = points.breaks.size();
            const bench::ProcessRun ff = bench::RunProcess(
                "ffmpeg -nostdin -hide_banner -i " + bench::Quoted(path) +
                " -vf blackdetect=d=0.1 -af silencedetect=d=0.1 -f null -");
            if (!ff.ok) {
                std::fprintf(stderr, "ffmpeg could not scan %s\n", path.c_str());
                return 1;
            }
            theirs.push_back(ff.wall_s);
            theirs_cpu.push_back(ff.cpu_s);
        }
        const double per_hour = 3600 / kSeconds;
        std::printf("%-26s %zu break(s)  scan %.2f s (cpu %.2f s) = %.1f min per hour, %.3f of the length\n"
                    "%-26s ffmpeg blackdetect+silencedetect %.2f s (cpu %.2f s)  ratio ours/ffmpeg %.2f wall\n",
                    c.name, breaks, bench::Median(ours), bench::Median(ours_cpu),
                    bench::Median(ours) * per_hour / 60, bench::Median(ours) / kSeconds, "",
                    bench::Median(theirs), bench::Median(theirs_cpu), bench::Median(ours) / bench::Median(theirs));
    }
    return 0;
}
