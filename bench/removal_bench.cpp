// SPDX-License-Identifier: GPL-3.0-or-later
// Three breaks removed from a recording of about 1 GB, direct and exact, by
// the command-line tool, against `cp` of the same bytes and the ffmpeg
// program's stream copy of the whole file (-map 0 -c copy), timed in turn.
//
//   removal_bench MEDIA_DIR [RUNS] [MEGABYTES]
//
// The recording is made on first run from copies of one 30 s 1080p H.264
// piece joined by the ffmpeg program (-c copy), so it is long as well as
// large; the file is read once before the runs so every side meets it in the
// page cache. Peak memory is the largest resident size of each program: it
// should not grow with the file's length.
#include "bench_support.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace bench;

namespace {

struct Side {
    std::string name;
    std::string command;
    fs::path output;
    std::vector<double> wall, cpu, peak;
    bool ok = true;
};

// The piece: 30 s of noisy 1920x1080 25 fps H.264 with B-frames and AAC,
// about 5 Mbit/s, as a broadcast recording has.
bool MakePiece(const fs::path& piece)
{
    return MakeMedia(piece, "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=30"
                            " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30"
                            " -vf noise=alls=6:allf=t -c:v libx264 -preset ultrafast -bf 2 -g 50"
                            " -b:v 5M -maxrate 5M -bufsize 5M -pix_fmt yuv420p -c:a aac -b:a 128k");
}

// Copies of `piece` joined into `target` until it holds `megabytes`.
bool MakeRecording(const fs::path& piece, const fs::path& target, int megabytes, double* seconds)
{
    const double piece_mb = static_cast<double>(fs::file_size(piece)) / 1e6;
    const int copies = std::max(1, static_cast<int>(megabytes / piece_mb + 0.999));
    *seconds = copies * 30.0;
    if (fs::exists(target))
        return true;
    const fs::path list = target.string() + ".list";
    if (FILE* f = std::fopen(list.c_str(), "w")) {
        for (int i = 0; i < copies; ++i)
            std::fprintf(f, "file '%s'\n", piece.c_str());
        std::fclose(f);
    }
    return MakeMedia(target, "-f concat -safe 0 -i " + Quoted(list) + " -map 0 -c copy -f mp4");
}

std::string Clock(double s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%06.3f", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60) % 60, s - 60 * static_cast<int>(s / 60));
    return text;
}

// Three breaks of 2 to 3 minutes, spread over the recording.
std::string RemoveArgs(double length_s)
{
    std::string args;
    for (const double at : {0.2, 0.5, 0.8}) {
        const double from = length_s * at;
        args += " --remove " + Clock(from) + "-" + Clock(from + std::min(150.0, length_s * 0.05));
    }
    return args;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

void PrintSide(const Side& s, const Side& base)
{
    const double wall = Median(s.wall);
    std::printf("%-34s %7.2f s  cpu %6.2f s  peak %6.1f MB  %5.2fx (cpu %4.2fx) %s%s\n", s.name.c_str(), wall,
                Median(s.cpu), Median(s.peak), Ratio(wall, Median(base.wall)),
                Ratio(Median(s.cpu), Median(base.cpu)), base.name.c_str(), s.ok ? "" : "  (FAILED)");
}

// The goal in wall time: within 2x of cp, at most 0.7x of the ffmpeg copy.
void PrintGoal(const Side& s, const Side& cp, const Side& ffmpeg)
{
    const double to_cp = Ratio(Median(s.wall), Median(cp.wall));
    const double to_ffmpeg = Ratio(Median(s.wall), Median(ffmpeg.wall));
    std::printf("goal for the %s: <= 2.00x cp, <= 0.70x ffmpeg: %.2fx, %.2fx: %s\n", s.name.c_str(), to_cp, to_ffmpeg,
                to_cp <= 2.0 && to_ffmpeg <= 0.7 ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int megabytes = argc > 3 ? std::max(50, std::atoi(argv[3])) : 1000;
    fs::create_directories(dir);
    const fs::path piece = dir / "h264_aac_1080p_5M_30s.mp4";
    const fs::path recording = dir / ("recording_" + std::to_string(megabytes) + "MB.mp4");
    double length_s = 0;
    if (!MakePiece(piece) || !MakeRecording(piece, recording, megabytes, &length_s))
        return 1;
    const fs::path cli = CliPath();
    if (!fs::exists(cli)) {
        std::fprintf(stderr, "removal_bench: %s is not built\n", cli.c_str());
        return 1;
    }
    PrintMachineLoad();
    const fs::path out = dir / "removal_out";
    fs::remove_all(out);
    fs::create_directories(out);
    // Warms the page cache; a failure only makes the first timing colder.
    if (std::system(("cat " + Quoted(recording) + " > /dev/null").c_str()) != 0)
        std::fprintf(stderr, "could not read %s ahead\n", recording.c_str());
    ::sync();  // a recording just made is still being written back: not during the first run
    std::printf("recording: %.0f MB, %.0f s; three breaks removed\n",
                static_cast<double>(fs::file_size(recording)) / 1e6, length_s);

    const std::string removal = Quoted(cli) + " cut " + Quoted(recording) + RemoveArgs(length_s) + " --out " +
                                Quoted(out);
    const auto side = [](std::string name, std::string command, fs::path output) {
        Side s;
        s.name = std::move(name);
        s.command = std::move(command);
        s.output = std::move(output);
        return s;
    };
    std::vector<Side> sides = {
        side("cp of the file", "cp " + Quoted(recording) + " " + Quoted(out / "copy.mp4"), out / "copy.mp4"),
        side("ffmpeg -map 0 -c copy, whole file",
             "ffmpeg -nostdin -v error -y -i " + Quoted(recording) + " -map 0 -c copy " + Quoted(out / "ff.mp4"),
             out / "ff.mp4"),
        side("direct removal of three breaks", removal + " --title direct", out / "direct.mp4"),
        side("exact removal of three breaks", removal + " --exact --title exact", out / "exact.mp4"),
    };
    for (int r = 0; r < runs; ++r) {
        for (Side& s : sides) {
            // Every run starts with no output on disk: a gigabyte left by the run
            // before would make this one take its pages from memory the virtual
            // machine has handed back, several times slower to write (seen here).
            for (const Side& o : sides)
                RemoveFile(o.output);
            ::sync();  // the previous run's write-back must not land in this one
            const ProcessRun p = RunProcess(s.command);
            s.ok = s.ok && p.ok && fs::exists(s.output);
            s.wall.push_back(p.wall_s);
            s.cpu.push_back(p.cpu_s);
            s.peak.push_back(p.peak_mb);
        }
    }
    std::printf("medians of %d runs, each against cp and against ffmpeg's copy:\n", runs);
    for (const Side& s : sides)
        PrintSide(s, sides[0]);
    for (size_t k = 2; k < sides.size(); ++k)
        PrintSide(sides[k], sides[1]);
    for (size_t k = 2; k < sides.size(); ++k)
        PrintGoal(sides[k], sides[0], sides[1]);
    for (const Side& s : sides)
        RemoveFile(s.output);
    bool ok = true;
    for (const Side& s : sides)
        ok = ok && s.ok;
    return ok ? 0 : 1;
}
