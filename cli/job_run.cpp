// SPDX-License-Identifier: GPL-3.0-or-later
// One job run to its end: its stop by a signal, its progress, its result.
#include "commands.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "conversion_job.h"
#include "job_door.h"
#include "job_reading.h"
#include "library_log.h"
#include "tracks.h"
#include "worker.h"

namespace cli {

// Ctrl-C, a terminal hang-up and a polite kill all stop the running job the
// same way, so its output is finished and playable. A signal after the job
// has run through changes nothing.
volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<std::atomic<uint8_t>*> g_runningJobCancel{nullptr};
static_assert(std::atomic<std::atomic<uint8_t>*>::is_always_lock_free, "used from a signal handler");

namespace {

void OnStopSignal(int signal)
{
    g_stopSignal = signal;
    if (std::atomic<uint8_t>* cancel = g_runningJobCancel.load())
        cancel->store(1);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

class StopSignalHandlers {
public:
    StopSignalHandlers()
    {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kStopSignals); ++i)
            sigaction(kStopSignals[i], &action, &previous_[i]);
    }
    ~StopSignalHandlers()
    {
        for (size_t i = 0; i < std::size(kStopSignals); ++i)
            sigaction(kStopSignals[i], &previous_[i], nullptr);
    }
    StopSignalHandlers(const StopSignalHandlers&) = delete;
    StopSignalHandlers& operator=(const StopSignalHandlers&) = delete;

private:
    struct sigaction previous_[std::size(kStopSignals)] {};
};

// Installed when a job starts; kept until the record is freed.
std::unique_ptr<StopSignalHandlers> g_stopSignalHandlers;

}  // namespace

void RestoreStopSignals() { g_stopSignalHandlers.reset(); }

ConversionJob* TheJob()
{
    if (!g_pJob) {
        g_pJob = new ConversionJob();
        InitConversionJob(g_pJob);
    }
    return g_pJob;
}

void FreeTheJob()
{
    FreeConversionJob(&g_pJob);
}

int ProbeInto(ConversionJob* job, const std::string& path, ProbeKeeps keeps)
{
    job->probe_path = const_cast<char*>(path.c_str());
    const int rc = ProbeMedia(job, keeps);
    job->probe_path = const_cast<char*>("");
    return rc;
}

namespace {

// Why the output went wrong, when the engine knows, and whether the file is still there.
std::string WriteProblem(int error, const std::string& output)
{
    std::error_code ec;
    const bool kept = std::filesystem::exists(std::filesystem::u8path(output), ec);
    const std::string fate = kept ? "; it was kept with what was written" : " and was deleted";
    if (error == ENOSPC || error == EDQUOT)
        return "the disk is full: " + Shown(output) + " could not be written completely" + fate;
    return "writing " + Shown(output) + " failed: " + std::strerror(error) + fate;
}

// An input a stop kept the worker from reaching is stopped, not pending.
const char* StatusWord(const JobReading& reading, int input)
{
    const uint8_t status = reading.inputs[input].status;
    if (status == kInputDone || status == kInputFailed)
        return status == kInputDone ? "done" : "failed";
    return reading.stop_asked ? "stopped" : "pending";
}

const char* DropReasonWord(DropReason why)
{
    switch (why) {
    case DropReason::ContainerRefuses: return "container_refuses";
    case DropReason::NotReencoded: return "not_reencoded";
    case DropReason::NoMatchingTrack: return "no_matching_track";
    case DropReason::TimecodeNotCopied: return "timecode_not_copied";
    }
    return "";
}

// The job's outputs on disk, each with the inputs (or spans) it holds,
// counted from 1; a finished --overwrite output under the name it replaced.
nlohmann::json OutputsJson(const ConversionJob& job, const JobReading& reading, const Replacing& replacing,
                           const std::string& written)
{
    nlohmann::json outputs = nlohmann::json::array();
    for (const std::string& path : reading.kept) {
        nlohmann::json holds = nlohmann::json::array();
        for (int i = 0; i < job.input_count; ++i)
            if (reading.inputs[i].in_output && job.output_paths[i] && path == job.output_paths[i])
                holds.push_back(i + 1);
        outputs.push_back({{"file", !replacing.target.empty() && path == written ? replacing.target : path},
                           {"holds", holds}});
    }
    return outputs;
}

nlohmann::json ResultJson(const ConversionJob& job, const JobReading& reading, const char* unit,
                          const nlohmann::json& outputs, const std::string& error)
{
    nlohmann::json inputs = nlohmann::json::array();
    for (int i = 0; i < job.input_count; ++i) {
        nlohmann::json input = {{unit, i + 1}, {"file", job.input_paths[i]},
                                {"status", StatusWord(reading, i)}};
        if (reading.inputs[i].status == kInputFailed)
            input["reason"] = FailureReasonWithCause(reading.inputs[i].reason, reading.inputs[i].av_error);
        inputs.push_back(input);
    }
    nlohmann::json dropped = nlohmann::json::array();
    for (const DroppedTrack& t : TracksToName(job.dropped_tracks, job.join_mode))
        dropped.push_back({{"input", t.input + 1}, {"stream", t.stream}, {"kind", TrackKindName(t.kind)},
                           {"codec", t.codec}, {"language", t.language}, {"reason", DropReasonWord(t.reason)},
                           {"text", DescribeDroppedTrack(t, job.join_mode || job.input_count <= 1)}});
    nlohmann::json result = {{"ok", error.empty()}, {"stopped", reading.stop_asked}, {"inputs", inputs},
                             {"outputs", outputs}, {"dropped_tracks", dropped}};
    if (!error.empty())
        result["error"] = error;
    return {{"result", result}};
}

// What went wrong, in one sentence; empty when every input is done.
std::string JobProblem(const ConversionJob& job, const JobReading& reading, const char* unit,
                       const std::string& output_path, bool written)
{
    if (reading.all_done)
        return "";
    if (reading.stop_asked && g_stdout.gone)
        return written ? "stopped: standard output was closed; the output holds what was done so far"
                       : "stopped: standard output was closed; no output was written";
    if (reading.stop_asked)
        return written ? "cancelled: the job was stopped; the output holds what was done so far"
                       : "cancelled: the job was stopped; no output was written";
    if (reading.output_error != 0) {
        // Spans into files of their own: the file of the span that failed.
        const int failed = reading.first_failed;
        const bool own = failed >= 0 && job.output_paths && job.output_paths[failed];
        return WriteProblem(reading.output_error, own ? job.output_paths[failed] : output_path);
    }
    const FailureReason first_reason = reading.FirstReason();
    if (first_reason == FailureReason::OutputGone)
        return "the output " + Shown(output_path) + " was moved or deleted during the job";
    return std::string(job.input_count > 1 ? unit + (" " + std::to_string(reading.first_failed + 1)) + " failed: "
                                           : "the cut failed: ") +
           FailureReasonWithCause(first_reason, reading.FirstAvError());
}

// An --overwrite job's end: its complete output takes the name it replaces;
// anything less is removed and the old file stays as it was.
std::string FinishReplacing(const Replacing& replacing, const std::string& written, JobReading* reading)
{
    std::error_code ec;
    if (reading->all_done && std::rename(written.c_str(), replacing.target.c_str()) == 0)
        return "";
    const std::string why = reading->all_done ? std::string("it could not be replaced: ") + std::strerror(errno)
                                              : "the new file was not complete";
    std::filesystem::remove(std::filesystem::u8path(written), ec);
    reading->kept.clear();
    reading->all_done = false;
    return Shown(replacing.target) + " was left as it was (" + why + ")";
}

}  // namespace

int RunJob(ConversionJob* job, bool join, const std::vector<std::string>& output_paths,
           const Replacing& replacing)
{
    const std::string& output_path = output_paths.front();
    // Spans of one file are counted as spans, not as inputs.
    const char* unit = !join && job->input_count > 1 ? "span" : "input";
    constexpr auto kProgressPeriod = std::chrono::milliseconds(500);
    MarkJobStarting(job, join);
    std::promise<void> ended;
    std::future<void> end = ended.get_future();
    g_runningJobCancel = &job->cancel_requested;
    if (!g_stopSignalHandlers)
        g_stopSignalHandlers = std::make_unique<StopSignalHandlers>();
    std::thread worker([job, &ended] {
        ConversionWorker(job);
        ended.set_value();
    });
    int last_percent = -2, last_current = -2;
    bool announced = false;
    while (end.wait_for(kProgressPeriod) != std::future_status::ready) {
        if ((g_stopSignal || g_stdout.gone) && !announced) {
            std::fprintf(stderr, g_stdout.gone ? "standard output was closed: stopping...\n" : "cancelling...\n");
            announced = true;
        }
        const JobReading now = ReadJob(*job);
        const int percent = now.percent;
        const int current = now.current;
        if ((percent != last_percent || current != last_current) && current >= 0 && current < job->input_count) {
            Say(g_stdout.json ? JsonLine({{"progress", {{unit, current + 1}, {"of", job->input_count},
                                                        {"percent", percent}}}})
                              : "progress " + std::string(unit) + "=" + std::to_string(current + 1) + "/" +
                                    std::to_string(job->input_count) + " percent=" + std::to_string(percent));
            last_percent = percent;
            last_current = current;
        }
    }
    g_runningJobCancel = nullptr;
    worker.join();

    JobReading reading = ReadJob(*job);
    std::string replaced;
    if (replacing.replace)
        replaced = FinishReplacing(replacing, output_path, &reading);
    const bool written = !reading.kept.empty();
    std::string problem = JobProblem(*job, reading, unit, output_path, written);
    if (problem.empty() && !replaced.empty())
        problem = replaced;
    const nlohmann::json outputs = OutputsJson(*job, reading, replacing, output_path);
    if (g_stdout.json) {
        SayResult(JsonLine(ResultJson(*job, reading, unit, outputs, problem)));
    } else {
        for (int i = 0; i < job->input_count; ++i)
            SayResult(std::string(unit) + " " + std::to_string(i + 1) + " " + StatusWord(reading, i) +
                      " " + Shown(job->input_paths[i]));
        for (const nlohmann::json& output : outputs)
            SayResult("output=" + Shown(output["file"].get<std::string>()));
        if (!written)
            SayResult("no output was written");
    }
    for (const DroppedTrack& t : TracksToName(job->dropped_tracks, job->join_mode))
        std::fprintf(stderr, "morvane-cli: left out of the output: %s\n",
                     Shown(DescribeDroppedTrack(t, job->join_mode || job->input_count <= 1)).c_str());
    for (const std::string& path : reading.left_empty)
        std::fprintf(stderr, "morvane-cli: %s was reserved for an output nothing was written to, and could not be "
                             "removed: it is empty\n", Shown(path).c_str());
    if (problem.empty())
        return kExitOk;
    const std::string said = TakeLibraryMessages();
    if (!said.empty())
        std::fprintf(stderr, "what the media libraries reported:\n%s", said.c_str());
    // Every failed input with its reason, then what it means for the output.
    for (int i = 0; i < job->input_count; ++i) {
        if (reading.inputs[i].status == kInputFailed)
            std::fprintf(stderr, "morvane-cli: %s %d (%s): %s\n", unit, i + 1, Shown(job->input_paths[i]).c_str(),
                         FailureReasonWithCause(reading.inputs[i].reason, reading.inputs[i].av_error).c_str());
    }
    if (!replaced.empty() && problem != replaced)
        std::fprintf(stderr, "morvane-cli: %s\n", replaced.c_str());
    std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
    return kExitFailed;
}

int Refused(LaunchRefusal why, const ConversionJob* job, const std::string& output)
{
    std::string text;
    switch (why) {
    case LaunchRefusal::TooFewInputs: text = "a join needs at least two files"; break;
    case LaunchRefusal::TooManyInputs: text = "a join takes at most 999 files"; break;
    case LaunchRefusal::NotSameKind:
        text = "a direct join needs files of one kind (same extension and picture size); "
               "re-encode with --format instead";
        break;
    case LaunchRefusal::NoFileExtension:
        text = "a direct job keeps the input's container, but the file name has no extension";
        break;
    case LaunchRefusal::NeedsReencoding:
        text = "no container can hold a direct copy of this file's codecs; it can be cut only by "
               "re-encoding (--format)";
        break;
    case LaunchRefusal::EmptySpan: text = "the cut is empty: its end must come after its start"; break;
    case LaunchRefusal::BadTime:
        text = "--start and --end must be times such as 01:02:03.500 or 75.5 (no signs, minutes and seconds "
               "below 60)";
        break;
    case LaunchRefusal::OutputNotCreated:
        text = "cannot create " + Shown(output) + ": " + std::strerror(job ? job->output_error.load() : EIO);
        break;
    case LaunchRefusal::TrackLayoutDiffers:
        text = "a direct join needs files with the same tracks; re-encode with --format instead";
        break;
    case LaunchRefusal::DiffersFromFirst: text = "the files differ in what a direct join copies"; break;
    case LaunchRefusal::SpansOverlap: text = "two spans share time: spans may not overlap"; break;
    case LaunchRefusal::None: break;
    }
    return Fail("refused: " + text);
}

void TellDecision(const LaunchDecision& decided)
{
    if (decided.exact_fell_back)
        std::fprintf(stderr, "morvane-cli: no exact cut for this file (%s): cutting at key pictures\n",
                     decided.exact_why.c_str());
    if (decided.exact_reencodes_whole)
        std::fprintf(stderr, "morvane-cli: no picture inside the cut can be copied (%s): all of it is re-encoded, "
                             "which takes longer\n",
                     decided.exact_keys_lack_headers
                         ? "its key pictures do not carry the stream's headers a copy must start with, as "
                           "MPEG-4 Part 2 in MP4 keeps them apart"
                         : "no key picture, or only open-GOP recovery points");
    if (decided.part_chapters_unkept)
        std::fprintf(stderr, "morvane-cli: a %s file holds no chapters: --part-chapters is left out\n",
                     decided.container.c_str());
}

}  // namespace cli
