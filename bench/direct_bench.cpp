// SPDX-License-Identifier: GPL-3.0-or-later
// A direct cut and a direct join by the command-line tool, against the ffmpeg
// program doing the same stream copy in the same run.
//
//   direct_bench [MEDIA_DIR] [RUNS]
//
// Media (made on first run): 30 s of 1920x1080 25 fps H.264 with B-frames and
// AAC at about 12 Mbit/s, and three 10 s pieces of it for the join. The cut
// takes 18 s of the long file (ffmpeg: -ss 6 -t 18 -c copy); the join takes
// the three pieces (ffmpeg: the concat demuxer, -c copy). The same cut of a
// Matroska file with two sound tracks, two subtitle tracks, chapters and an
// attachment copies every track (ffmpeg: -map 0 -c copy). The operations run
// in interleaved rounds so that a busy machine slows both sides alike; the
// figures are medians. CPU seconds (user + system of the child) are printed
// beside wall time: they hold still when other work shares the machine. The
// same jobs also run inside this process (the engine alone, no poll wait).
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"

extern "C" {
#include <libavutil/log.h>
}

using namespace bench;

namespace {

struct Sample {
    double wall_s = 0;
    double cpu_s = 0;
    bool ok = false;
};

double ChildCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Sample RunTimed(const std::string& command, const fs::path& output)
{
    RemoveFile(output);
    ::sync();  // the previous run's write-back must not land in this one
    Sample s;
    const double cpu = ChildCpuSeconds();
    const auto start = Clock::now();
    s.ok = std::system((command + " > /dev/null 2>&1").c_str()) == 0 && fs::exists(output);
    s.wall_s = Seconds(Clock::now() - start);
    s.cpu_s = ChildCpuSeconds() - cpu;
    return s;
}

// The same job run inside this process, the worker joined rather than
// polled: what the command-line tool costs without its wait for the poll.
Sample RunInProcess(const std::function<JobRun()>& job, const fs::path& output)
{
    RemoveFile(output);
    ::sync();
    Sample s;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    s.ok = job().ok && fs::exists(output);
    s.wall_s = Seconds(Clock::now() - start);
    getrusage(RUSAGE_SELF, &after);
    const auto secs = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    s.cpu_s = secs(after) - secs(before);
    return s;
}

struct Row {
    std::string name;
    std::function<JobRun()> in_process;  // set: ours runs in this process
    std::string ours, theirs;  // commands
    fs::path our_output, their_output;
    std::vector<double> our_wall, their_wall, our_cpu, their_cpu;
    bool ok = true;
};

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(dir);
    const fs::path source = dir / "h264_aac_1080p_30s.mp4";
    if (!MakeMedia(source,
                   "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=30"
                   " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30"
                   " -vf noise=alls=6:allf=t -c:v libx264 -preset ultrafast -bf 2 -g 50"
                   " -b:v 12M -maxrate 12M -bufsize 12M -pix_fmt yuv420p -c:a aac -b:a 128k"))
        return 1;
    std::vector<fs::path> pieces;
    for (int i = 0; i < 3; ++i) {
        pieces.push_back(dir / ("h264_aac_1080p_piece" + std::to_string(i) + ".mp4"));
        if (!MakeMedia(pieces.back(), "-ss " + std::to_string(i * 10) + " -i " + Quoted(source) + " -t 10 -c copy"))
            return 1;
    }
    // A film ripped to Matroska: the same pictures, two sound tracks, two
    // subtitle tracks, chapters every 10 s and an attachment.
    const fs::path multi = dir / "multi_track_1080p_30s.mkv";
    if (!fs::exists(multi)) {
        const fs::path srt = dir / "multi.srt", meta = dir / "multi.chapters", font = dir / "multi.ttf";
        if (FILE* f = std::fopen(srt.c_str(), "w")) {
            for (int i = 0; i < 15; ++i)
                std::fprintf(f, "%d\n00:00:%02d,000 --> 00:00:%02d,500\nLine %d\n\n", i + 1, i * 2, i * 2 + 1, i + 1);
            std::fclose(f);
        }
        if (FILE* f = std::fopen(meta.c_str(), "w")) {
            std::fprintf(f, ";FFMETADATA1\n");
            for (int i = 0; i < 3; ++i)
                std::fprintf(f, "[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Part %d\n", i * 10000,
                             (i + 1) * 10000, i + 1);
            std::fclose(f);
        }
        if (FILE* f = std::fopen(font.c_str(), "w")) {
            std::fputs("stands in for a font", f);
            std::fclose(f);
        }
        if (!MakeMedia(multi, "-i " + Quoted(source) + " -f lavfi -i sine=frequency=880:sample_rate=48000:duration=30 -i " +
                                  Quoted(srt) + " -i " + Quoted(srt) + " -i " + Quoted(meta) +
                                  " -map 0:v -map 0:a -map 1:a -map 2 -map 3 -map_chapters 4 -c:v copy -c:a:0 ac3"
                                  " -c:a:1 aac -c:s:0 srt -c:s:1 ass -metadata:s:a:0 language=eng"
                                  " -metadata:s:a:1 language=deu -attach " + Quoted(font) +
                                  " -metadata:s:t mimetype=application/x-truetype-font -f matroska"))
            return 1;
    }
    const fs::path cli = CliPath();
    if (!fs::exists(cli)) {
        std::fprintf(stderr, "direct_bench: %s is not built\n", cli.c_str());
        return 1;
    }
    PrintMachineLoad();
    av_log_set_level(AV_LOG_ERROR);
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const fs::path list = out / "pieces.txt";
    if (FILE* f = std::fopen(list.c_str(), "w")) {
        for (const fs::path& p : pieces)
            std::fprintf(f, "file '%s'\n", p.c_str());
        std::fclose(f);
    }
    // Warms the page cache; a failure only makes the first timing colder.
    if (std::system(("cat " + Quoted(source) + " > /dev/null").c_str()) != 0)
        std::fprintf(stderr, "could not read %s ahead\n", source.c_str());

    const std::string ffmpeg = "ffmpeg -nostdin -hide_banner -v error -y ";
    std::string join_inputs;
    for (const fs::path& p : pieces)
        join_inputs += Quoted(p) + " ";
    std::vector<Row> rows(5);
    rows[0].name = "direct cut, 18 s of 1080p";
    rows[0].ours = Quoted(cli) + " cut " + Quoted(source) +
                   " --start 00:00:06.000 --end 00:00:24.000 --title cut --out " + Quoted(out);
    rows[0].our_output = out / "cut.mp4";
    rows[0].theirs = ffmpeg + "-ss 6 -i " + Quoted(source) + " -t 18 -c copy " + Quoted(out / "ffmpeg_cut.mp4");
    rows[0].their_output = out / "ffmpeg_cut.mp4";
    rows[1].name = "direct join, three 10 s files";
    rows[1].ours = Quoted(cli) + " join " + join_inputs + "--title joined --out " + Quoted(out);
    rows[1].our_output = out / "joined.mp4";
    rows[1].theirs = ffmpeg + "-f concat -safe 0 -i " + Quoted(list) + " -c copy " + Quoted(out / "ffmpeg_join.mp4");
    rows[1].their_output = out / "ffmpeg_join.mp4";
    rows[4].name = "direct cut, 18 s of multi-track mkv";
    rows[4].ours = Quoted(cli) + " cut " + Quoted(multi) +
                   " --start 00:00:06.000 --end 00:00:24.000 --title cut --out " + Quoted(out);
    rows[4].our_output = out / "cut.mkv";
    rows[4].theirs = ffmpeg + "-ss 6 -i " + Quoted(multi) + " -t 18 -map 0 -c copy " + Quoted(out / "ffmpeg_cut.mkv");
    rows[4].their_output = out / "ffmpeg_cut.mkv";
    EncodingChoice cut_choice = DefaultCutChoice("source rate");
    cut_choice.direct = true;
    EncodingChoice join_choice = DefaultJoinChoice();
    join_choice.direct = true;
    std::vector<std::string> piece_names;
    for (const fs::path& p : pieces)
        piece_names.push_back(p.string());
    for (int i = 0; i < 2; ++i) {
        rows[2 + i] = rows[i];
        rows[2 + i].name = rows[i].name + ", engine";
    }
    rows[2].in_process = [&] { return RunCut(source.string(), "00:00:06.000", "00:00:24.000", out, "cut", cut_choice); };
    rows[3].in_process = [&] { return RunJoin(piece_names, out, "joined", join_choice); };

    for (int r = 0; r < runs; ++r) {
        for (Row& row : rows) {
            // Alternate who goes first, so neither always meets a cold cache.
            const bool ours_first = r % 2 == 0;
            for (int side = 0; side < 2 && row.ok; ++side) {
                const bool ours = (side == 0) == ours_first;
                const Sample s = ours && row.in_process ? RunInProcess(row.in_process, row.our_output)
                                                        : RunTimed(ours ? row.ours : row.theirs,
                                                                   ours ? row.our_output : row.their_output);
                if (!s.ok) {
                    std::fprintf(stderr, "failed: %s\n", (ours ? row.ours : row.theirs).c_str());
                    row.ok = false;
                    break;
                }
                (ours ? row.our_wall : row.their_wall).push_back(s.wall_s);
                (ours ? row.our_cpu : row.their_cpu).push_back(s.cpu_s);
            }
        }
    }

    std::printf("\nmedian of %d interleaved runs; ratio = ours / ffmpeg's (goal: wall <= 0.70);\n"
                "'engine': the same job inside this process, the worker joined, not polled\n\n", runs);
    std::printf("%-40s %8s %8s %7s %8s %8s %7s\n", "operation", "wall", "ffmpeg", "ratio", "cpu", "ffmpeg",
                "ratio");
    std::printf("%-40s %8s %8s %7s %8s %8s %7s\n", "", "s", "s", "", "s", "s", "");
    int failures = 0;
    for (const Row& row : rows) {
        if (!row.ok) {
            std::printf("%-40s FAILED\n", row.name.c_str());
            ++failures;
            continue;
        }
        const double w = Median(row.our_wall), fw = Median(row.their_wall);
        const double c = Median(row.our_cpu), fc = Median(row.their_cpu);
        std::printf("%-40s %8.3f %8.3f %7.2f %8.3f %8.3f %7.2f\n", row.name.c_str(), w, fw, w / fw, c, fc, c / fc);
    }
    std::printf("\noutputs kept for checking:\n");
    for (const Row& row : rows) {
        if (row.ok)
            std::printf("  %s (%.2f s)  %s (%.2f s)\n", row.our_output.c_str(), ProbedSeconds(row.our_output.string()),
                        row.their_output.c_str(), ProbedSeconds(row.their_output.string()));
    }
    return failures == 0 ? 0 : 1;
}
