// SPDX-License-Identifier: GPL-3.0-or-later
// Time to find every key picture of a 2-hour file, as the timeline does it
// after a file is loaded: an MP4 (the index lists every picture), the same
// stream in Matroska (cues) and in MPEG-TS (no index: every packet header).
//
//   key_frames_bench [MEDIA_DIR] [RUNS]
#include "bench_support.h"
#include "key_frames.h"

#include <atomic>

namespace {

struct Case {
    const char* name;
    const char* file;
    const char* ffmpeg_args;  // made from the MP4 unless empty
};

}  // namespace

int main(int argc, char** argv)
{
    const bench::fs::path media = argc > 1 ? argv[1] : "build/bench_media";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    bench::fs::create_directories(media);
    const bench::fs::path mp4 = media / "two_hours_160x90.mp4";
    // Two hours of 25 fps H.264 with a key picture every 2 s, and AAC sound.
    if (!bench::MakeMedia(mp4, "-f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi -i sine=sample_rate=22050 "
                               "-t 7200 -c:v libx264 -preset ultrafast -g 50 -keyint_min 50 -sc_threshold 0 "
                               "-b:v 40k -c:a aac -b:a 16k"))
        return 1;
    const Case cases[] = {
        {"MP4 (index)", "two_hours_160x90.mp4", nullptr},
        {"Matroska (cues)", "two_hours_160x90.mkv", "-c copy -f matroska"},
        {"MPEG-TS (packet headers)", "two_hours_160x90.ts", "-c copy -f mpegts"},
    };
    bench::PrintMachineLoad();
    for (const Case& c : cases) {
        const bench::fs::path path = media / c.file;
        if (c.ffmpeg_args && !bench::MakeMedia(path, "-i " + bench::Quoted(mp4) + " " + c.ffmpeg_args))
            return 1;
        std::vector<double> wall;
        size_t keys = 0;
        for (int i = 0; i < runs; ++i) {
            std::atomic<bool> cancel{false};
            std::vector<int64_t> times;
            const auto t0 = bench::Clock::now();
            const int rc = ScanKeyFrames(path.c_str(), cancel, &times);
            wall.push_back(bench::Seconds(bench::Clock::now() - t0));
            if (rc != 0) {
                std::fprintf(stderr, "scan of %s failed: %d\n", path.c_str(), rc);
                return 1;
            }
            keys = times.size();
        }
        std::printf("%-26s %6zu key pictures  median %.3f s  min %.3f s  (%d runs, %.0f MB)\n", c.name, keys,
                    bench::Median(wall), *std::min_element(wall.begin(), wall.end()), runs,
                    static_cast<double>(bench::fs::file_size(path)) / 1e6);
    }
    std::printf("goal: under 1 s for the 2-hour MP4\n");
    return 0;
}
