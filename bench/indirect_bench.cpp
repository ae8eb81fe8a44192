// SPDX-License-Identifier: GPL-3.0-or-later
// Encoding speed of an indirect cut: pictures written per second, and that
// speed as a ratio to only decoding the same span of the same input with the
// decoder set-up the worker uses (so the ratio is what re-encoding costs on
// top of reading the pictures). Then the same cut of 20 s of 1080p H.264 to
// 320x240 by the command-line tool side by side with the ffmpeg command line
// given the same codecs, size and rates (decoding with 2 threads, and with
// the threads ffmpeg picks itself), each run as a process: wall and CPU
// seconds, their ratio, and the peak memory of each.
//
//   indirect_bench [MEDIA_DIR] [RUNS]
//
// Source (made on first run): 1280x720 25 fps H.264 with B-frames + AAC,
// 20 s, a key frame every 2 s so the span 2 s - 18 s starts and ends on one
// and the decode-only pass and the cut read exactly the same pictures.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

extern "C" {
#include <libavutil/log.h>
}
#include "media_input.h"

using namespace bench;

namespace {

constexpr double kSpanStart = 2.0;
constexpr double kSpanEnd = 18.0;

struct DecodeCount {
    int frames = 0;
    int errors = 0;  // packets refused or pictures flagged corrupt
    bool opened = false;
};

// Decodes the video pictures that start in [from, to), opening the file as
// the worker does (its decoder threads, frame and slice threading).
DecodeCount DecodeVideo(const std::string& path, double from, double to)
{
    DecodeCount count;
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, ReencodeDecoderThreads()) != kProbeOk || !in.video_dec)
        return count;
    count.opened = true;
    AVFormatContext* fmt = in.format.get();
    AVCodecContext* dec = in.video_dec.get();
    const AVRational tb = in.VideoStream()->time_base;
    if (from > 0)
        av_seek_frame(fmt, -1, static_cast<int64_t>(from * AV_TIME_BASE), AVSEEK_FLAG_BACKWARD);
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    bool past_end = false;
    auto receive = [&] {
        while (avcodec_receive_frame(dec, frame.get()) >= 0) {
            const int64_t ts = frame->best_effort_timestamp;
            const double t = ts == AV_NOPTS_VALUE ? from : static_cast<double>(ts) * av_q2d(tb);
            if (t >= to)
                past_end = true;
            else if (t >= from - 1e-6)
                ++count.frames;
            if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
                ++count.errors;
            av_frame_unref(frame.get());
        }
    };
    while (!past_end && av_read_frame(fmt, pkt.get()) >= 0) {
        if (pkt->stream_index == in.video_index) {
            if (avcodec_send_packet(dec, pkt.get()) < 0)
                ++count.errors;
            receive();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec, nullptr);  // the pictures still held for reordering
    receive();
    return count;
}

// The ffmpeg command line doing what the indirect cut with `choice` does,
// decoding with `threads` threads (0: ffmpeg's own choice); it encodes with
// 2, as ours does.
std::string FfmpegCut(const std::string& src, double start, double length, const EncodingChoice& choice,
                      const std::string& output, int threads)
{
    const bool h264 = choice.video_codec_name.find("264") != std::string::npos;
    const std::string t = threads > 0 ? "-threads " + std::to_string(threads) : "";
    char cmd[2048];
    std::snprintf(cmd, sizeof cmd,
                  "ffmpeg -hide_banner -loglevel error -nostdin -y %s -ss %.3f -i '%s' -t %.3f"
                  " -map 0:v:0 -map 0:a:0 -s %dx%d -c:v %s -b:v %d -g 12 %s %s"
                  " -c:a aac -b:a %d -ar %d -ac %d '%s'",
                  t.c_str(), start, src.c_str(), length, choice.width, choice.height, h264 ? "libx264" : "mpeg4",
                  choice.video_bit_rate,
                  h264 ? "-preset superfast -me_range 16 -qdiff 4 -qmin 10 -qmax 51 -qcomp 0.6 -keyint_min 25" : "",
                  threads > 0 ? t.c_str() : "-threads 2", std::max(choice.audio_bit_rate, 128000), choice.sample_rate,
                  choice.channels, output.c_str());
    return cmd;
}

// The command-line tool and the ffmpeg program, each a process started and
// waited for, in alternating rounds.
int CompareWithCommandLine(const fs::path& dir, int runs)
{
    const fs::path source = dir / "h264_aac_1080p_24s.mp4";
    if (!MakeMedia(source,
                   "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=24"
                   " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=24"
                   " -c:v libx264 -preset veryfast -bf 3 -g 250 -b:v 8M -pix_fmt yuv420p"
                   " -c:a aac -b:a 128k -ac 2"))
        return 1;
    const fs::path out_dir = dir / "out";
    fs::create_directories(out_dir);
    const std::string src = source.string();
    const std::string cli = Quoted(CliPath());
    struct Side {
        std::vector<double> wall_s, cpu_s, peak_mb;
        bool ok = true;
        void Add(const ProcessRun& r)
        {
            ok = ok && r.ok;
            wall_s.push_back(r.wall_s);
            cpu_s.push_back(r.cpu_s);
            peak_mb.push_back(r.peak_mb);
        }
    };
    struct Row {
        int format;
        EncodingChoice choice;
        Side ours, theirs, theirs_auto;
    };
    std::vector<Row> rows;
    for (int format : {0, 1}) {
        Row r;
        r.format = format;
        r.choice = DefaultCutChoice("source rate");
        r.choice.direct = false;
        ApplyFormatEntry(format, &r.choice);
        r.choice.width = 320;
        r.choice.height = 240;
        rows.push_back(r);
    }
    for (int i = 0; i < runs; ++i) {
        for (Row& r : rows) {
            const std::string title = "vs_ffmpeg_f" + std::to_string(r.format);
            RemoveFile(out_dir / (title + ".mp4"));
            r.ours.Add(RunProcess(cli + " cut " + Quoted(src) + " --start 2 --end 22 --format " +
                                  std::to_string(r.format) + " --size 320*240 --title " + title + " --out " +
                                  Quoted(out_dir)));
            const std::string theirs = (out_dir / (title + "_ffmpeg.mp4")).string();
            r.theirs.Add(RunProcess(FfmpegCut(src, 2, 20, r.choice, theirs, 2)));
            r.theirs_auto.Add(RunProcess(FfmpegCut(src, 2, 20, r.choice, theirs, 0)));
        }
    }
    std::printf("\n20 s of 1920x1080 H.264 cut to 320x240 (source rate), median of %d rounds, each program a process\n"
                "(ours: %d decoding threads; ffmpeg: -threads 2, and ffmpeg's own choice)\n",
                runs, ReencodeDecoderThreads());
    std::printf("%-32s %7s %7s %6s %7s %6s %7s %7s %6s %6s %6s\n", "format", "wall", "ffmpeg", "ratio", "auto",
                "ratio", "cpu", "ffmpeg", "ratio", "MB", "ffmpeg");
    int failures = 0;
    for (const Row& r : rows) {
        if (!r.ours.ok || !r.theirs.ok || !r.theirs_auto.ok) {
            std::printf("%-32s FAILED (%s)\n", FormatTable[r.format].text, r.ours.ok ? "ffmpeg" : "ours");
            ++failures;
            continue;
        }
        const double ow = Median(r.ours.wall_s), tw = Median(r.theirs.wall_s), aw = Median(r.theirs_auto.wall_s);
        const double oc = Median(r.ours.cpu_s), tc = Median(r.theirs.cpu_s);
        std::printf("%-32s %7.3f %7.3f %6.2f %7.3f %6.2f %7.3f %7.3f %6.2f %6.1f %6.1f\n", FormatTable[r.format].text,
                    ow, tw, ow / tw, aw, ow / aw, oc, tc, oc / tc, Median(r.ours.peak_mb), Median(r.theirs.peak_mb));
    }
    return failures;
}

struct Config {
    int format;
    int width;
    int height;
};

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(dir);
    const fs::path source = dir / "h264_aac_720p_20s_gop50.mp4";
    if (!MakeMedia(source,
                   "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=20"
                   " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20"
                   " -c:v libx264 -preset veryfast -bf 3 -g 50 -keyint_min 50 -sc_threshold 0"
                   " -b:v 4M -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2"))
        return 1;
    PrintMachineLoad();  // before this bench adds its own
    av_log_set_level(AV_LOG_ERROR);
    const int compared = CompareWithCommandLine(dir, runs);
    const fs::path out_dir = dir / "out";
    fs::create_directories(out_dir);
    const std::string src = source.string();
    av_log_set_level(AV_LOG_ERROR);

    struct Row {
        Config config;
        std::string size, title, extension;
        EncodingChoice choice;
        std::vector<double> wall_s, cpu_s;
        JobRun last;
    };
    std::vector<Row> rows;
    for (const Config& c : {Config{0, 1280, 720}, Config{1, 1280, 720}, Config{0, 320, 240},
                            Config{1, 320, 240}}) {
        Row r;
        r.config = c;
        r.size = std::to_string(c.width) + "*" + std::to_string(c.height);
        r.title = "indirect_f" + std::to_string(c.format) + "_" + std::to_string(c.width);
        r.extension = FormatExtension(FormatTable[c.format].text);
        r.choice = DefaultCutChoice("source rate");
        r.choice.direct = false;
        ApplyFormatEntry(c.format, &r.choice);
        r.choice.width = c.width;
        r.choice.height = c.height;
        r.last.ok = true;
        rows.push_back(r);
    }

    // Rounds of the decode-only pass and every cut, so that a change in the
    // machine's load hits both sides of a ratio alike.
    DecodeCount decoded = DecodeVideo(src, kSpanStart, kSpanEnd);  // warms the file cache
    if (!decoded.opened || decoded.frames == 0) {
        std::fprintf(stderr, "could not decode %s\n", src.c_str());
        return 1;
    }
    std::vector<double> decode_wall, decode_cpu;
    for (int i = 0; i < runs; ++i) {
        double cpu = CpuSeconds();
        auto start = Clock::now();
        decoded = DecodeVideo(src, kSpanStart, kSpanEnd);
        decode_wall.push_back(Seconds(Clock::now() - start));
        decode_cpu.push_back(CpuSeconds() - cpu);
        for (Row& r : rows) {
            if (!r.last.ok)
                continue;
            RemoveFile(out_dir / (r.title + r.extension));
            cpu = CpuSeconds();
            r.last = RunCut(src, "00:00:02.000", "00:00:18.000", out_dir, r.title, r.choice, r.extension);
            r.wall_s.push_back(r.last.seconds);
            r.cpu_s.push_back(CpuSeconds() - cpu);
        }
    }
    const double decode_fps = decoded.frames / Median(decode_wall);
    const double decode_cpu_fps = decoded.frames / Median(decode_cpu);

    std::printf("\nsource: %s, span 00:00:02-00:00:18 (%d pictures), median of %d runs\n", src.c_str(),
                decoded.frames, runs);
    std::printf("decode only: %.3f s wall, %.1f pictures/s; %.3f s cpu, %.1f pictures per cpu-second%s\n\n",
                Median(decode_wall), decode_fps, Median(decode_cpu), decode_cpu_fps,
                decoded.errors ? "  (decode errors!)" : "");
    std::printf("%-33s %-8s %6s %7s %8s %7s %7s %7s %8s  %s\n", "indirect cut to", "size", "frames", "wall s",
                "frames/s", "vs dec", "cpu s", "vs dec", "realtime", "output check");
    std::printf("%-33s %-8s %6s %7s %8s %7s %7s %7s %8s\n", "", "", "", "", "", "(wall)", "", "(cpu)", "x");

    int failures = 0;
    for (const Row& r : rows) {
        const char* name = FormatTable[r.config.format].text;
        if (!r.last.ok) {
            std::printf("%-33s %-8s FAILED (%s)\n", name, r.size.c_str(), r.last.problem.c_str());
            ++failures;
            continue;
        }
        // Count the pictures by decoding the output: that also checks it plays.
        const DecodeCount written = DecodeVideo(r.last.output, 0, INFINITY);
        const double wall = Median(r.wall_s), cpu = Median(r.cpu_s);
        const double fps = written.frames / wall;
        char check[96];
        std::snprintf(check, sizeof check, "%s, %.2f s long", written.errors ? "DECODE ERRORS" : "decodes",
                      ProbedSeconds(r.last.output));
        failures += written.errors || written.frames == 0;
        std::printf("%-33s %-8s %6d %7.3f %8.1f %7.2f %7.3f %7.2f %8.2f  %s\n", name, r.size.c_str(),
                    written.frames, wall, fps, fps / decode_fps, cpu, written.frames / cpu / decode_cpu_fps,
                    (kSpanEnd - kSpanStart) / wall, check);
    }
    std::printf("\nwall = probe to the worker's end (video and audio); cpu = user + system of the same;\n"
                "outputs kept in %s\n", out_dir.c_str());
    return failures == 0 && compared == 0 ? 0 : 1;
}
