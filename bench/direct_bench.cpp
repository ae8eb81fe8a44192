// A direct cut and a direct join of a large file, against `cp` of the same
// file: a direct job only copies packets, so its cost should stay within a
// small factor of copying the bytes it writes.
//
//   direct_bench [MEDIA_DIR] [RUNS]
//
// Source (made on first run): 1280x720 25 fps H.264 with B-frames + AAC,
// 120 s at about 24 Mbit/s. Every run writes into MEDIA_DIR/out, on the same
// file system as the source; the input stays in the page cache after a
// warm-up read, so the figures compare writing work, not reading the disk.
// CPU seconds are reported beside wall time: they hold still on a busy machine.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"

using namespace bench;

namespace {

// Flushes one file's dirty pages; both the copy and the jobs pay it equally.
bool SyncFile(const fs::path& p)
{
    const int fd = ::open(p.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

struct Timing {
    std::string name;
    std::vector<double> write_s;  // until the operation returned
    std::vector<double> sync_s;   // until its output was on disk as well
    std::vector<double> cpu_s;    // user + system, the fsync left out
    uintmax_t bytes = 0;
    std::string output;
    bool ok = true;
};

// One operation `runs` times. `op` returns the file it wrote, empty on failure.
Timing Measure(const std::string& name, int runs, const std::function<std::string()>& op,
               const std::function<void()>& clean)
{
    Timing t;
    t.name = name;
    for (int i = 0; i < runs && t.ok; ++i) {
        clean();
        ::sync();  // the previous run's write-back must not land in this one
        const double cpu_start = CpuSeconds();
        const auto start = Clock::now();
        const std::string out = op();
        const auto written = Clock::now();
        const double cpu = CpuSeconds() - cpu_start;
        if (out.empty() || !SyncFile(out)) {
            t.ok = false;
            break;
        }
        t.write_s.push_back(Seconds(written - start));
        t.sync_s.push_back(Seconds(Clock::now() - start));
        t.cpu_s.push_back(cpu);
        t.bytes = fs::file_size(out);
        t.output = out;
    }
    return t;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "bench_media");
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    fs::create_directories(dir);
    const fs::path source = dir / "h264_aac_720p_120s.mp4";
    if (!MakeMedia(source,
                   "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=120"
                   " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=120"
                   " -vf noise=alls=8:allf=t -c:v libx264 -preset ultrafast -bf 2 -g 50"
                   " -b:v 24M -maxrate 24M -bufsize 24M -pix_fmt yuv420p -c:a aac -b:a 128k"))
        return 1;
    PrintMachineLoad();  // before this bench adds its own
    const fs::path out_dir = dir / "out";
    fs::create_directories(out_dir);
    const std::string src = source.string();
    const uintmax_t src_bytes = fs::file_size(source);

    std::system(("cat " + Quoted(source) + " > /dev/null").c_str());  // warm the page cache

    const fs::path copy_path = out_dir / "copy.mp4";
    const fs::path cut_path = out_dir / "cut.mp4";
    const fs::path join_path = out_dir / "joined.mp4";
    av_log_set_level(AV_LOG_ERROR);

    std::vector<Timing> rows;
    rows.push_back(Measure(
        "cp (whole file)", runs,
        [&] {
            const std::string cmd = "cp " + Quoted(source) + " " + Quoted(copy_path);
            return std::system(cmd.c_str()) == 0 ? copy_path.string() : std::string();
        },
        [&] { RemoveFile(copy_path); }));

    EncodingChoice cut_choice = DefaultCutChoice("source rate");
    cut_choice.direct = true;
    rows.push_back(Measure(
        "direct cut 00:00:10-00:01:50", runs,
        [&] {
            const JobRun r = RunCut(src, "00:00:10.000", "00:01:50.000", out_dir, "cut", cut_choice);
            if (!r.ok)
                std::fprintf(stderr, "cut: %s\n", r.problem.c_str());
            return r.ok ? r.output : std::string();
        },
        [&] { RemoveFile(cut_path); }));

    EncodingChoice join_choice = DefaultJoinChoice();
    join_choice.direct = true;  // no format chosen: packets are copied
    rows.push_back(Measure(
        "direct join (file + itself)", runs,
        [&] {
            const JobRun r = RunJoin({src, src}, out_dir, "joined", join_choice);
            if (!r.ok)
                std::fprintf(stderr, "join: %s\n", r.problem.c_str());
            return r.ok ? r.output : std::string();
        },
        [&] { RemoveFile(join_path); }));
    RemoveFile(copy_path);

    std::printf("\nsource: %s, %.1f MB, %.1f s\n", src.c_str(), static_cast<double>(src_bytes) / 1e6,
                ProbedSeconds(src));
    std::printf("median of %d runs; 'vs cp' = time / (cp's time scaled to the bytes written);\n"
                "wall time until the operation returned, +fsync until its file was on disk, "
                "cpu = user + system of the operation\n\n", runs);
    std::printf("%-28s %8s %7s %7s %7s %7s %7s %7s %7s\n", "operation", "written", "wall", "MB/s", "vs cp",
                "+fsync", "vs cp", "cpu", "vs cp");
    std::printf("%-28s %8s %7s %7s %7s %7s %7s %7s %7s\n", "", "MB", "s", "", "", "s", "+fsync", "s", "cpu");
    const Timing& cp = rows[0];
    if (!cp.ok) {
        std::fprintf(stderr, "cp failed\n");
        return 1;
    }
    const double cp_write = Median(cp.write_s), cp_sync = Median(cp.sync_s), cp_cpu = Median(cp.cpu_s);
    int failures = 0;
    for (const Timing& t : rows) {
        if (!t.ok) {
            std::printf("%-28s FAILED\n", t.name.c_str());
            ++failures;
            continue;
        }
        const double scale = static_cast<double>(t.bytes) / static_cast<double>(cp.bytes);
        const double w = Median(t.write_s), s = Median(t.sync_s), c = Median(t.cpu_s);
        std::printf("%-28s %8.1f %7.3f %7.1f %7.2f %7.3f %7.2f %7.3f %7.2f\n", t.name.c_str(),
                    static_cast<double>(t.bytes) / 1e6, w, static_cast<double>(t.bytes) / 1e6 / w,
                    w / (cp_write * scale), s, s / (cp_sync * scale), c, c / (cp_cpu * scale));
    }
    std::printf("\noutputs kept for checking:\n");
    for (size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].ok)
            std::printf("  %s  (%.2f s long)\n", rows[i].output.c_str(), ProbedSeconds(rows[i].output));
    }
    return failures == 0 ? 0 : 1;
}
