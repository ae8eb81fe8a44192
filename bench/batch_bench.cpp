// SPDX-License-Identifier: GPL-3.0-or-later
// The same direct cut of 20 short files: one run of `morvane-cli cut FILE...`
// against a shell loop running the ffmpeg program once a file
// (-ss START -i FILE -t LENGTH -c copy), the two timed in turn.
//
//   batch_bench MEDIA_DIR [RUNS]
#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr int kFiles = 20;
constexpr const char* kStart = "2";
constexpr const char* kEnd = "7";
constexpr const char* kLength = "5";

// Every file cut: as many outputs in `dir` as there are files.
bool AllWritten(const fs::path& dir)
{
    std::error_code ec;
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        n += entry.is_regular_file() && entry.file_size() > 0 ? 1 : 0;
    return n == kFiles;
}

void Empty(const fs::path& dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path media = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path dir = media / "batch";
    fs::create_directories(dir);
    // Short phone-like clips: 640x360 H.264 with AAC, 10 s, a key picture a second.
    std::vector<fs::path> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(dir / ("clip" + std::to_string(i + 1) + ".mp4"));
        if (!MakeMedia(files.back(), "-f lavfi -i testsrc2=size=640x360:rate=25:duration=10 -f lavfi -i "
                                     "sine=frequency=" + std::to_string(300 + 20 * i) +
                                         ":sample_rate=48000:duration=10 -c:v libx264 -preset veryfast -g 25 "
                                         "-pix_fmt yuv420p -c:a aac -b:a 96k -shortest"))
            return 1;
    }
    const fs::path ours_out = media / "batch_out_ours", theirs_out = media / "batch_out_ffmpeg";
    std::string list;
    for (const fs::path& f : files)
        list += " " + Quoted(f);
    const std::string ours = Quoted(CliPath()) + " cut" + list + " --start " + kStart + " --end " + kEnd +
                             " --out " + Quoted(ours_out);
    // One ffmpeg a file; the shell only loops (its own cost is in the figure, as a user's script pays it).
    const std::string theirs = std::string("sh -c 'out=$1; shift; for f in \"$@\"; do ffmpeg -nostdin -v error -ss ") +
                               kStart + " -i \"$f\" -t " + kLength +
                               " -c copy \"$out/$(basename \"$f\")\" || exit 1; done' sh " + Quoted(theirs_out) + list;

    PrintMachineLoad();
    std::printf("cut %s-%s s of %d files of 10 s (640x360 H.264, AAC), %d runs each, in turn\n", kStart, kEnd,
                kFiles, runs);
    std::vector<double> our_wall, their_wall, our_cpu, their_cpu, ratios;
    for (int r = 0; r < runs; ++r) {
        Empty(ours_out);
        Empty(theirs_out);
        const ProcessRun a = RunProcess(ours);
        const ProcessRun b = RunProcess(theirs);
        if (!a.ok || !b.ok || !AllWritten(ours_out) || !AllWritten(theirs_out)) {
            std::fprintf(stderr, "run %d failed (morvane-cli %s, ffmpeg loop %s)\n", r + 1, a.ok ? "ok" : "failed",
                         b.ok ? "ok" : "failed");
            return 1;
        }
        our_wall.push_back(a.wall_s);
        their_wall.push_back(b.wall_s);
        our_cpu.push_back(a.cpu_s);
        their_cpu.push_back(b.cpu_s);
        ratios.push_back(a.wall_s / b.wall_s);
        std::printf("  run %d: morvane-cli %.2f s wall (%.2f s CPU), ffmpeg loop %.2f s wall (%.2f s CPU)\n", r + 1,
                    a.wall_s, a.cpu_s, b.wall_s, b.cpu_s);
    }
    std::printf("median: morvane-cli %.2f s, ffmpeg loop %.2f s wall; ratio %.2f (pair by pair), CPU ratio %.2f\n",
                Median(our_wall), Median(their_wall), Median(ratios), Median(our_cpu) / Median(their_cpu));
    return 0;
}
