// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline's exact picture on 1080p H.264 with 10 s groups (B-pictures,
// 25 fps): a step of one picture forward and back, a jump into the middle of
// a group, and the key picture a drag shows. One decoder is kept open, as the
// window keeps it.
//
//   preview_step_bench [MEDIA_DIR] [STEPS]
#include "bench_support.h"

#include "media_input.h"
#include "preview.h"
#include "preview_decoder.h"

#include <cstdlib>

using namespace bench;

namespace {

void Report(const char* what, const std::vector<double>& ms, double goal_ms)
{
    std::printf("%-40s n=%-4zu median %7.1f ms  max %7.1f ms", what, ms.size(), Median(ms),
                *std::max_element(ms.begin(), ms.end()));
    if (goal_ms > 0)
        std::printf("   (goal: under %.0f ms)", goal_ms);
    std::printf("\n");
}

template <class F>
double TimeMs(F&& f)
{
    const auto start = Clock::now();
    f();
    return Seconds(Clock::now() - start) * 1000.0;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? argv[1] : "bench_media";
    const int steps = argc > 2 ? std::atoi(argv[2]) : 100;
    fs::create_directories(dir);
    const fs::path source = dir / "h264_1080p_gop10s.mp4";
    if (!MakeMedia(source, "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 "
                           "-c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "
                           "-pix_fmt yuv420p"))
        return 1;
    PrintMachineLoad();
    PreviewDecoder preview(kSnapshotWidth, kSnapshotHeight);
    if (preview.Open(source.c_str()) != kProbeOk) {
        std::fprintf(stderr, "cannot open %s\n", source.c_str());
        return 1;
    }
    PreviewPicture picture;
    bool all_ok = true;
    const auto show = [&](int64_t us) { all_ok = preview.PictureAt(us, &picture) && all_ok; };

    // Steps forward from 20.5 s (the middle of a group), then back over them.
    show(20500000);
    std::vector<double> forward, back, jump, drag;
    int64_t at = 20500000;
    for (int i = 0; i < steps; ++i) {
        at += 40000;
        forward.push_back(TimeMs([&] { show(at); }));
    }
    for (int i = 0; i < steps && i < 90; ++i) {
        at -= 40000;
        back.push_back(TimeMs([&] { show(at); }));
    }
    // Jumps into the middle of one group from another: a seek, then decoding half a group.
    for (int i = 0; i < 10; ++i) {
        const int64_t middle = (i % 5) * 10000000LL + 5000000LL + i * 40000LL;
        jump.push_back(TimeMs([&] { show(middle); }));
    }
    for (int i = 0; i < 10; ++i) {
        const int64_t middle = (i % 5) * 10000000LL + 7000000LL;
        drag.push_back(TimeMs([&] { all_ok = preview.KeyPictureAt(middle, &picture) && all_ok; }));
    }
    Report("step one picture forward", forward, 30);
    Report("step one picture back (recent pictures)", back, 0);
    Report("jump into the middle of a 10 s group", jump, 150);
    Report("drag: the key picture at or before", drag, 0);
    std::printf("pictures decoded in all: %lld\n", preview.DecodedCount());
    return all_ok ? 0 : 1;
}
