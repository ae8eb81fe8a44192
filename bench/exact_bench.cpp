// SPDX-License-Identifier: GPL-3.0-or-later
// An exact direct cut of 14 s of 1080p H.264 against re-encoding the same
// span at the source's size with libx264 "veryfast", both in this run, in
// alternating rounds. Only the pictures around the two cut points pass
// through an encoder, so the exact cut should take at most 0.2 of the time.
//
//   exact_bench [MEDIA_DIR] [RUNS]
//
// Source (made on first run): 1920x1080 25 fps H.264 High with B-frames and
// AAC, 20 s, a key frame every 2 s; the span 3.3 s - 17.3 s lies between key
// frames at both ends.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

extern "C" {
#include <libavutil/log.h>
}
#include "media_input.h"

extern "C" {
#include <libavutil/opt.h>
}

using namespace bench;

namespace {

constexpr double kFrom = 3.3;
constexpr double kTo = 17.3;

struct Timed {
    bool ok = false;
    int frames = 0;
    double wall = 0, cpu = 0;
};

// Decodes [kFrom, kTo) as the worker's decoders are set up and encodes every
// picture with libx264 veryfast; the packets are counted, not written.
Timed ReencodeSpan(const std::string& path)
{
    Timed t;
    const auto wall0 = Clock::now();
    const double cpu0 = CpuSeconds();
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 2) != kProbeOk)
        return t;
    AVCodecContext* dec = in.video_dec.get();
    const AVStream* st = in.VideoStream();
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    CodecContextPtr enc(x264 ? avcodec_alloc_context3(x264) : nullptr);
    if (!enc)
        return t;
    enc->width = dec->width;
    enc->height = dec->height;
    enc->pix_fmt = dec->pix_fmt;
    enc->time_base = st->time_base;
    enc->framerate = st->avg_frame_rate;
    av_opt_set(enc->priv_data, "preset", "veryfast", 0);
    if (avcodec_open2(enc.get(), x264, nullptr) < 0)
        return t;
    av_seek_frame(in.format.get(), -1, static_cast<int64_t>(kFrom * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
    PacketPtr pkt = MakePacket(), out = MakePacket();
    FramePtr frame = MakeFrame();
    bool past = false;
    const auto drain_encoder = [&] {
        while (avcodec_receive_packet(enc.get(), out.get()) >= 0)
            av_packet_unref(out.get());
    };
    const auto receive = [&] {
        while (avcodec_receive_frame(dec, frame.get()) >= 0) {
            const double s = frame->best_effort_timestamp * av_q2d(st->time_base);
            past = past || s >= kTo;
            if (s >= kFrom - 1e-6 && s < kTo - 1e-6) {
                frame->pict_type = AV_PICTURE_TYPE_NONE;
                avcodec_send_frame(enc.get(), frame.get());
                ++t.frames;
                drain_encoder();
            }
            av_frame_unref(frame.get());
        }
    };
    while (!past && av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == in.video_index && avcodec_send_packet(dec, pkt.get()) >= 0)
            receive();
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec, nullptr);
    receive();
    avcodec_send_frame(enc.get(), nullptr);
    drain_encoder();
    t.ok = t.frames > 0;
    t.wall = Seconds(Clock::now() - wall0);
    t.cpu = CpuSeconds() - cpu0;
    return t;
}

Timed ExactCut(const std::string& path, const fs::path& folder)
{
    const EncodingChoice choice = ExactCutChoice();
    RemoveFile(folder / "exact.mp4");
    const double cpu0 = CpuSeconds();
    const JobRun run = RunCut(path, "00:00:03.300", "00:00:17.300", folder, "exact", choice);
    Timed t;
    t.cpu = CpuSeconds() - cpu0;
    t.wall = run.seconds;
    t.ok = run.ok;
    return t;
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
    const fs::path folder = dir / "exact_out";
    fs::create_directories(folder);
    PrintMachineLoad();
    std::vector<double> exact_wall, exact_cpu, full_wall, full_cpu;
    for (int i = 0; i < runs; ++i) {
        const Timed e = ExactCut(src.string(), folder);
        const Timed f = ReencodeSpan(src.string());
        if (!e.ok || !f.ok) {
            std::fprintf(stderr, "run %d failed (exact %s, re-encode %s)\n", i + 1, e.ok ? "ok" : "FAILED",
                         f.ok ? "ok" : "FAILED");
            return 1;
        }
        std::printf("run %d: exact cut %.3f s wall %.3f s cpu; libx264 veryfast re-encode of %d pictures "
                    "%.3f s wall %.3f s cpu\n", i + 1, e.wall, e.cpu, f.frames, f.wall, f.cpu);
        exact_wall.push_back(e.wall);
        exact_cpu.push_back(e.cpu);
        full_wall.push_back(f.wall);
        full_cpu.push_back(f.cpu);
    }
    const double wall_ratio = Median(exact_wall) / Median(full_wall);
    const double cpu_ratio = Median(exact_cpu) / Median(full_cpu);
    std::printf("\nsource: %s, span 00:00:03.300-00:00:17.300, median of %d runs\n", src.c_str(), runs);
    std::printf("exact cut / re-encode: %.2fx wall, %.2fx cpu (goal <= 0.20x)\n", wall_ratio, cpu_ratio);
    PrintMachineLoad();
    return 0;
}
