// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline's exact picture on 1080p H.264 with 10 s groups (B-pictures,
// 25 fps): a step of one picture forward and back, a jump into the middle of
// a group, and the key picture a drag shows. One decoder is kept open, as the
// window keeps it. Beside each jump, the ffmpeg program decodes the same
// pictures from the same key picture: the time decoding alone takes, which a
// jump cannot beat.
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
    if (ms.empty())
        return;
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

// Wall and CPU milliseconds of one request, and the pictures it decoded.
struct Request {
    std::vector<double> wall, cpu, pictures;
};

template <class F>
void TimeRequest(Request* r, const PreviewDecoder& preview, F&& f)
{
    const double cpu = CpuSeconds();
    const long long decoded = preview.DecodedCount();
    r->wall.push_back(TimeMs(f));
    r->cpu.push_back((CpuSeconds() - cpu) * 1000.0);
    r->pictures.push_back(static_cast<double>(preview.DecodedCount() - decoded));
}

void ReportRequest(const char* what, const Request& r, double goal_ms)
{
    Report(what, r.wall, goal_ms);
    if (!r.wall.empty())
        std::printf("%-40s        cpu %7.1f ms  pictures decoded %.0f\n", "", Median(r.cpu), Median(r.pictures));
}

// The ffmpeg program decoding `seconds` of pictures from the key picture at
// `key_s` with two threads, its output thrown away; `extra` adds options.
ProcessRun DecodeByFfmpeg(const fs::path& source, double key_s, double seconds, const char* extra)
{
    char args[512];
    std::snprintf(args, sizeof args,
                  "ffmpeg -hide_banner -nostdin -threads 2 %s -ss %.3f -i %s -map 0:v -t %.3f -f null -", extra, key_s,
                  Quoted(source).c_str(), seconds);
    return RunProcess(args);
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
    std::vector<double> forward, back;
    int64_t at = 20500000;
    for (int i = 0; i < steps; ++i) {
        at += 40000;
        forward.push_back(TimeMs([&] { show(at); }));
    }
    for (int i = 0; i < steps && i < 90; ++i) {
        at -= 40000;
        back.push_back(TimeMs([&] { show(at); }));
    }
    // Jumps into the middle of one group from another: a seek, then decoding
    // half a group. Each beside the ffmpeg program decoding the same pictures,
    // all of them and only those others refer to, and one picture alone (its
    // start-up, which a kept decoder does not pay).
    Request jumps;
    std::vector<double> raw_wall, raw_cpu, ref_wall, ref_cpu, one_wall, one_cpu;
    for (int i = 0; i < 10; ++i) {
        const int64_t middle = (i % 5) * 10000000LL + 5000000LL + i * 40000LL;
        TimeRequest(&jumps, preview, [&] { show(middle); });
        const double key_s = (i % 5) * 10.0, span_s = (middle / 1e6) - key_s + 0.04;
        const ProcessRun all = DecodeByFfmpeg(source, key_s, span_s, "");
        const ProcessRun referred = DecodeByFfmpeg(source, key_s, span_s, "-skip_frame noref");
        const ProcessRun one = DecodeByFfmpeg(source, key_s, 0.04, "");
        all_ok = all.ok && referred.ok && one.ok && all_ok;
        raw_wall.push_back(all.wall_s * 1000);
        raw_cpu.push_back(all.cpu_s * 1000);
        ref_wall.push_back(referred.wall_s * 1000);
        ref_cpu.push_back(referred.cpu_s * 1000);
        one_wall.push_back(one.wall_s * 1000);
        one_cpu.push_back(one.cpu_s * 1000);
    }
    // The window's jump: the key picture before the time first, then the
    // exact picture decoded on from it (a decoder of its own, so the drags
    // below meet no key picture it showed).
    Request key_first, exact_after;
    PreviewDecoder window(kSnapshotWidth, kSnapshotHeight);
    all_ok = window.Open(source.c_str()) == kProbeOk && all_ok;
    for (int i = 0; i < 5; ++i) {
        const int64_t middle = i * 10000000LL + 5500000LL;
        TimeRequest(&key_first, window, [&] { all_ok = window.KeyPictureAt(middle, &picture) && all_ok; });
        TimeRequest(&exact_after, window, [&] { all_ok = window.PictureAt(middle, &picture) && all_ok; });
    }
    // Jumps forward within one group, from a shown picture: no key picture
    // between, so decoding goes on from the picture shown.
    Request within;
    for (int i = 0; i < 5; ++i) {
        const int64_t from = i * 10000000LL + 1000000LL;
        show(from);
        TimeRequest(&within, preview, [&] { show(from + 6000000LL); });
    }
    // A drag over five groups and back over them: the second pass meets key
    // pictures shown before.
    Request drag, drag_again;
    for (int i = 0; i < 10; ++i) {
        const int64_t middle = (i % 5) * 10000000LL + 7000000LL;
        TimeRequest(i < 5 ? &drag : &drag_again, preview,
                    [&] { all_ok = preview.KeyPictureAt(middle, &picture) && all_ok; });
    }
    Report("step one picture forward", forward, 30);
    Report("step one picture back (recent pictures)", back, 0);
    ReportRequest("jump into the middle of a 10 s group", jumps, 150);
    std::printf("%-40s wall %7.1f ms  cpu %7.1f ms\n", "  ffmpeg: decode every picture to it", Median(raw_wall),
                Median(raw_cpu));
    std::printf("%-40s wall %7.1f ms  cpu %7.1f ms\n", "  ffmpeg: only pictures referred to", Median(ref_wall),
                Median(ref_cpu));
    std::printf("%-40s wall %7.1f ms  cpu %7.1f ms\n", "  ffmpeg: one picture (its start-up)", Median(one_wall),
                Median(one_cpu));
    ReportRequest("jump, the key picture first", key_first, 0);
    ReportRequest("  then the exact picture from it", exact_after, 0);
    ReportRequest("jump 6 s forward within a group", within, 0);
    ReportRequest("drag: the key picture at or before", drag, 0);
    ReportRequest("drag again over the same groups", drag_again, 0);
    std::printf("pictures decoded in all: %lld\n", preview.DecodedCount());
    return all_ok ? 0 : 1;
}
