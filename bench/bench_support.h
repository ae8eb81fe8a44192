// SPDX-License-Identifier: GPL-3.0-or-later
// What the benches share: timing, media made on first run with the ffmpeg
// command-line program, and cut / join jobs driven as the command-line tool
// drives them (one fresh record per job, probe, fill, start, wait).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "conversion_job.h"
#include "job_setup.h"
#include "probe.h"
#include "worker.h"

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// CPU seconds of this process and of its waited-for children: unlike wall
// time, barely moved by other work on a busy machine.
inline double CpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Other work on the machine skews every figure; say how busy it was.
inline void PrintMachineLoad()
{
    double one = -1, five = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf", &one, &five) != 2)
            one = five = -1;
        std::fclose(f);
    }
    if (one >= 0)
        std::printf("load average: %.2f (1 min), %.2f (5 min) on %u cores\n", one, five,
                    std::thread::hardware_concurrency());
}

inline std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// The command-line tool built beside the running bench.
inline fs::path CliPath()
{
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? fs::path(std::string(self, static_cast<size_t>(n))).parent_path() / "morvane-cli"
                 : fs::path("morvane-cli");
}

// One program run from its start to its exit, as a user waits for it.
struct ProcessRun {
    bool ok = false;  // exit status 0
    double wall_s = 0;
    double cpu_s = 0;  // user + system of the program
    double peak_mb = 0;
};

// Runs `command` (one program with its arguments, through sh, which hands
// over to it) with its output thrown away, and measures that program alone.
inline ProcessRun RunProcess(const std::string& command)
{
    ProcessRun r;
    const std::string line = "exec " + command + " > /dev/null 2>&1";
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage u{};
    if (pid < 0 || wait4(pid, &status, 0, &u) != pid)
        return r;
    r.wall_s = Seconds(Clock::now() - start);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.cpu_s = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
              static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    r.peak_mb = static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
    return r;
}

// Runs `ffmpeg_args` (everything between the common options and the output
// name) into `target` unless it exists; a temporary name keeps an
// interrupted run from leaving a half-written source behind.
inline bool MakeMedia(const fs::path& target, const std::string& ffmpeg_args)
{
    if (fs::exists(target))
        return true;
    std::printf("making %s with ffmpeg (first run only) ...\n", target.c_str());
    std::fflush(stdout);
    const fs::path tmp = target.string() + ".part.mp4";
    const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y " + ffmpeg_args + " " +
                            Quoted(tmp) + " && mv " + Quoted(tmp) + " " + Quoted(target);
    const auto start = Clock::now();
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "could not make %s with ffmpeg\n", target.c_str());
        return false;
    }
    std::printf("  made in %.1f s, %.1f MB\n", Seconds(Clock::now() - start),
                static_cast<double>(fs::file_size(target)) / 1e6);
    return true;
}

// The exact cut benches' source, made in `dir` on first run: 1920x1080
// 25 fps H.264 High with B-frames and AAC, 20 s, a key frame every 2 s.
// Empty when ffmpeg could not make it.
inline fs::path MakeExactSource(const fs::path& dir)
{
    const fs::path src = dir / "exact_1080p_20s.mp4";
    if (!MakeMedia(src, "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=20 "
                        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 "
                        "-c:v libx264 -preset veryfast -profile:v high -bf 2 -g 50 -keyint_min 50 "
                        "-sc_threshold 0 -pix_fmt yuv420p -c:a aac -b:a 128k -shortest"))
        return {};
    return src;
}

// A direct cut that re-encodes only the pictures around its cut points.
inline EncodingChoice ExactCutChoice()
{
    EncodingChoice choice = DefaultCutChoice("");
    choice.direct = true;
    choice.exact = true;
    return choice;
}

inline void RemoveFile(const fs::path& p)
{
    std::error_code ec;
    fs::remove(p, ec);
}

struct JobRun {
    bool ok = false;           // every input done
    std::string output;        // the file the job wrote
    double seconds = 0;        // probe to the worker's end
    std::string problem;
};

namespace detail {

inline ConversionJob* NewRecord()
{
    auto* job = new ConversionJob();
    InitConversionJob(job);
    return job;
}

inline void FreeRecord(ConversionJob* job)
{
    FreePathArray(job->input_paths, job->input_count);
    FreePathArray(job->output_paths, job->input_count);
    delete job;
}

inline int Probe(ConversionJob* job, const std::string& path)
{
    job->probe_path = const_cast<char*>(path.c_str());
    const int rc = ProbeMedia(job);
    job->probe_path = const_cast<char*>("");
    return rc;
}

// The worker is joined rather than polled: the time is the job's own, not
// rounded up to the window's 500 ms poll.
inline void RunWorker(ConversionJob* job, bool join, JobRun* run)
{
    MarkJobStarting(job, join);
    StartConversionWorker(job).join();
    run->ok = true;
    for (int i = 0; i < job->input_count; ++i)
        run->ok = run->ok && job->input_status[i] == kInputDone;
    if (!run->ok)
        run->problem = "an input failed";
}

}  // namespace detail

// `choice` as a settings dialog leaves it; `extension` is the chosen
// format's (ignored by a direct job, which keeps the input's container).
inline JobRun RunCut(const std::string& input, const std::string& start, const std::string& end,
                     const fs::path& folder, const std::string& title, const EncodingChoice& choice,
                     const std::string& extension = "")
{
    JobRun run;
    ConversionJob* job = detail::NewRecord();
    const auto t0 = Clock::now();
    if (detail::Probe(job, input) < 0) {
        run.problem = "probe failed";
    } else if (FillCutJob(job, input, start, end, OutputTarget{folder.string(), title, extension}, choice,
                          &run.output) != LaunchRefusal::None) {
        run.problem = "cut refused";
    } else {
        detail::RunWorker(job, false, &run);
    }
    run.seconds = Seconds(Clock::now() - t0);
    detail::FreeRecord(job);
    return run;
}

inline JobRun RunJoin(const std::vector<std::string>& inputs, const fs::path& folder, const std::string& title,
                      const EncodingChoice& choice, const std::string& extension = "")
{
    JobRun run;
    ConversionJob* job = detail::NewRecord();
    const auto t0 = Clock::now();
    std::vector<JoinRow> rows;
    for (const std::string& path : inputs) {
        if (detail::Probe(job, path) < 0 || job->initial_end_us < 0) {
            run.problem = "probe failed";
            break;
        }
        rows.push_back(MakeJoinRow(path, *job));
    }
    if (run.problem.empty()) {
        if (FillJoinJob(job, rows, OutputTarget{folder.string(), title, extension}, choice, &run.output) !=
            LaunchRefusal::None)
            run.problem = "join refused";
        else
            detail::RunWorker(job, true, &run);
    }
    run.seconds = Seconds(Clock::now() - t0);
    detail::FreeRecord(job);
    return run;
}

// Length of a file as the probe reports it, in seconds; negative on failure.
inline double ProbedSeconds(const std::string& path)
{
    ConversionJob* job = detail::NewRecord();
    const int rc = detail::Probe(job, path);
    const double s = rc < 0 ? -1.0 : static_cast<double>(job->duration_us) / 1e6;
    detail::FreeRecord(job);
    return s;
}

}  // namespace bench
