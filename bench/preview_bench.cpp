// SPDX-License-Identifier: GPL-3.0-or-later
// Latency of one preview request, as a slider drag issues them: open, seek,
// decode one picture, scale, write the JPEG. Source: 1920x1080 H.264 with a
// 10 s GOP and B-frames, the slow case for a seek that lands on key frames.
//
//   preview_bench [MEDIA_DIR] [REQUESTS]
#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "conversion_job.h"
#include "media_input.h"
#include "preview.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

void Report(const char* what, const std::vector<double>& ms)
{
    std::printf("%-34s n=%-4zu median %7.2f ms  p90 %7.2f ms  min %7.2f  max %7.2f\n", what, ms.size(),
                Percentile(ms, 0.5), Percentile(ms, 0.9), *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()));
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? argv[1] : "bench_media";
    const int requests = argc > 2 ? std::atoi(argv[2]) : 120;
    fs::create_directories(dir);
    const fs::path source = dir / "h264_1080p_gop250.mp4";
    if (!fs::exists(source)) {
        std::printf("making %s ...\n", source.c_str());
        const std::string cmd =
            "ffmpeg -hide_banner -loglevel error -nostdin -y"
            " -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60"
            " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=60"
            " -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p"
            " -c:a aac -b:a 128k '" + (dir / "tmp.mp4").string() + "' && mv '" + (dir / "tmp.mp4").string() +
            "' '" + source.string() + "'";
        if (std::system(cmd.c_str()) != 0) {
            std::fprintf(stderr, "could not make the source with ffmpeg\n");
            return 1;
        }
    }

    std::unique_ptr<ConversionJob> job(new ConversionJob());
    InitConversionJob(job.get());
    std::string path = source.string();
    std::wstring snapshot = (dir / "image.jpg").wstring();
    job->probe_path = path.data();
    job->snapshot_path = snapshot.data();
    const double duration_s = 60.0;

    // Positions spread over the whole file in an order a drag could produce,
    // never two requests at the same spot.
    std::vector<double> positions;
    for (int i = 0; i < requests; ++i)
        positions.push_back(std::fmod(i * 7.31 + 0.5, duration_s - 0.5));

    DecodePreviewFrame(job.get());  // warm the file cache
    std::vector<double> whole;
    int failures = 0;
    for (double t : positions) {
        job->current_input = 0;
        job->start_s[0] = t;
        const auto start = Clock::now();
        failures += DecodePreviewFrame(job.get()) ? 0 : 1;
        whole.push_back(Ms(Clock::now() - start));
    }

    // The fixed costs inside a request, for reading the figure above.
    std::vector<double> open;
    for (int i = 0; i < requests; ++i) {
        MediaInputOptions options;
        options.decoder_threads = 2;
        options.thread_type = FF_THREAD_SLICE;
        options.open_audio = false;
        MediaInput in;
        const auto start = Clock::now();
        OpenMediaInput(path.c_str(), in, options);
        in = MediaInput{};
        open.push_back(Ms(Clock::now() - start));
    }
    FramePtr picture = MakeFrame();
    picture->format = AV_PIX_FMT_RGB24;
    picture->width = kSnapshotWidth;
    picture->height = kSnapshotHeight;
    av_frame_get_buffer(picture.get(), 1);
    std::fill(picture->data[0], picture->data[0] + 230400, 128);
    std::vector<double> jpeg;
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        WriteSnapshotJpeg(snapshot.c_str(), picture.get());
        jpeg.push_back(Ms(Clock::now() - start));
    }

    std::printf("source: %s (1920x1080 H.264, 60 s, GOP 250, B-frames 3)\n", path.c_str());
    Report("preview request (whole)", whole);
    Report("  of which: open + stream info", open);
    Report("  of which: JPEG write (flat)", jpeg);
    std::printf("failed requests: %d of %d\n", failures, requests);
    return failures == 0 ? 0 : 1;
}
