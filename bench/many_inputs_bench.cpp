// SPDX-License-Identifier: GPL-3.0-or-later
// Peak memory of a direct join by the number of its files: 10, 100 and 999
// copies of one small clip, joined by one run of morvane-cli each, beside the
// ffmpeg program's concat demuxer joining the same 999. Memory should not
// grow with the number of files.
//
//   many_inputs_bench MEDIA_DIR
#include "bench_support.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace bench;

int main(int argc, char** argv)
{
    const fs::path media = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const fs::path dir = media / "many_inputs";
    fs::create_directories(dir);
    const fs::path clip = dir / "clip.mp4";
    if (!MakeMedia(clip, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -f lavfi -i "
                         "sine=sample_rate=48000:duration=1 -c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p "
                         "-c:a aac -b:a 64k -shortest"))
        return 1;
    constexpr int kMost = 999;
    std::vector<fs::path> files;
    std::ofstream concat(dir / "list.txt");
    for (int i = 0; i < kMost; ++i) {
        files.push_back(dir / ("f" + std::to_string(i + 1) + ".mp4"));
        std::error_code ec;
        if (!fs::exists(files.back()))
            fs::copy_file(clip, files.back(), ec);
        concat << "file '" << files.back().string() << "'\n";
    }
    concat.close();
    PrintMachineLoad();
    std::printf("direct join of N copies of a 1 s clip (320x240 H.264, AAC), one run each\n");
    for (const int n : {10, 100, kMost}) {
        std::string list;
        for (int i = 0; i < n; ++i)
            list += " " + Quoted(files[i]);
        const fs::path out = dir / ("joined" + std::to_string(n) + ".mp4");
        fs::remove(out);
        const ProcessRun r = RunProcess(Quoted(CliPath()) + " join" + list + " -o " + Quoted(out));
        std::printf("  %4d files: morvane-cli %s, %.2f s wall, peak %.1f MB\n", n, r.ok ? "ok" : "FAILED", r.wall_s,
                    r.peak_mb);
        if (!r.ok)
            return 1;
    }
    const fs::path theirs = dir / "joined_ffmpeg.mp4";
    fs::remove(theirs);
    const ProcessRun t = RunProcess("ffmpeg -nostdin -v error -f concat -safe 0 -i " + Quoted(dir / "list.txt") +
                                    " -c copy " + Quoted(theirs));
    std::printf("  %4d files: ffmpeg concat demuxer %s, %.2f s wall, peak %.1f MB\n", kMost, t.ok ? "ok" : "FAILED",
                t.wall_s, t.peak_mb);
    return 0;
}
