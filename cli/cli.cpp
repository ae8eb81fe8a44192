// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion_job.h"
#include "library_log.h"
#include "job_reading.h"
#include "job_setup.h"
#include "media_input.h"
#include "preview.h"
#include "probe.h"
#include "tracks.h"
#include "worker.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What the cut settings offer for "keep the source's rate".
const char kKeepSourceRate[] = "source rate";

const char kUsage[] =
    "usage:\n"
    "  morvane-cli probe FILE...\n"
    "  morvane-cli cut FILE --start HH:MM:SS.mmm --end HH:MM:SS.mmm --out FOLDER [--title T] [--exact | ENCODING]\n"
    "  morvane-cli cut FILE --span START-END [--span START-END...] [--separate] --out FOLDER [--title T]\n"
    "      [--exact | ENCODING]\n"
    "  morvane-cli join FILE FILE... --out FOLDER [--title T] [ENCODING]\n"
    "  morvane-cli preview FILE SECONDS OUT.jpg\n"
    "  morvane-cli --help | --version\n"
    "--exact: a direct cut that starts and ends exactly at the points given, re-encoding\n"
    "  only the pictures around them (H.264, HEVC, MPEG-4 Part 2; others cut at key pictures)\n"
    "--span: spans written one after the other into one file, in the order given; with\n"
    "  --separate each into a file of its own (TITLE-1, TITLE-2, ...)\n"
    "ENCODING (re-encode; without it packets are copied):\n"
    "  --format N (0-6) [--video-rate \"3000 kbps\"] [--size 320*240] [--fps \"25.0 fps\"]\n"
    "  [--audio-rate \"128 kbps\"] [--sample-rate \"44100 Hz\"]\n"
    "formats:\n";

// Ctrl-C, a terminal hang-up and a polite kill all stop the running job the
// same way, so its output is finished and playable. A signal after the job
// has run through changes nothing.
volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<std::atomic<uint8_t>*> g_runningJobCancel{nullptr};
static_assert(std::atomic<std::atomic<uint8_t>*>::is_always_lock_free, "used from a signal handler");

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

// A name as the terminal should show it: control characters (a newline or
// an escape sequence in a file name) are written out, not obeyed.
std::string Shown(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// Installed when a job starts; kept until the record is freed.
std::unique_ptr<StopSignalHandlers> g_stopSignalHandlers;

int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvane-cli: %s\n", message.c_str());
    return 1;
}

void PrintUsage(FILE* to)
{
    std::fputs(kUsage, to);
    for (int i = 0; i < kFormatCount; ++i)
        std::fprintf(to, "  %d  %s\n", i, FormatTable[i].text);
}

int Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

std::string ProbeMessage(int code)
{
    switch (code) {
    case kProbeOpenFailed: return "not a media file the program can open";
    case kProbeNoStreamInfo: return "the file's streams cannot be read";
    case kProbeNoVideoDecoder: return "no decoder for the file's video";
    case kProbeVideoDecoderFailed: return "the file's video decoder does not open";
    case kProbeNoSuchFile: return "no such file";
    case kProbeUnreadable: return "the file cannot be read (no permission)";
    case kProbeNotAFile: return "not a regular file (folders, pipes and devices other than disks cannot be read)";
    default: return "unknown problem";
    }
}

// The one record, allocated and set up the way the window does it.
ConversionJob* TheJob()
{
    if (!g_pJob) {
        g_pJob = new ConversionJob();
        InitConversionJob(g_pJob);
    }
    return g_pJob;
}

// A cut or join launched next keeps the file open (ProbeKeeps::FileOpen):
// its job reads the file first and takes the probe's open file.
int ProbeInto(ConversionJob* job, const std::string& path, ProbeKeeps keeps = ProbeKeeps::Nothing)
{
    job->probe_path = const_cast<char*>(path.c_str());
    const int rc = ProbeMedia(job, keeps);
    job->probe_path = const_cast<char*>("");
    return rc;
}

// Every stream of the file, one line each, after the main facts.
void PrintTracks(const std::string& path)
{
    std::vector<TrackFacts> tracks;
    ListTracks(path.c_str(), &tracks);
    for (const TrackFacts& t : tracks)
        std::printf("stream=%d kind=%s codec=%s language=%s default=%d main=%d title=%s\n", t.index,
                    TrackKindName(t.kind), t.codec.c_str(), t.language.empty() ? "-" : Shown(t.language).c_str(),
                    t.is_default ? 1 : 0, t.main ? 1 : 0, Shown(t.title).c_str());
    std::printf("\n");
}

int RunProbe(const std::vector<std::string>& files)
{
    if (files.empty())
        return Usage("probe needs at least one file");
    ConversionJob* job = TheJob();
    int status = kExitOk;
    for (const std::string& path : files) {
        const int rc = ProbeInto(job, path);
        std::printf("file=%s\nresult=%d\n", Shown(path).c_str(), rc);
        if (rc < 0) {
            std::printf("error=%s\n\n", ProbeMessage(rc).c_str());
            status = kExitFailed;
            continue;
        }
        std::printf("duration_us=%lld\nwidth=%d\nheight=%d\nfps_num=%d\nfps_den=%d\n"
                    "video_codec=%s\nvideo_bit_rate=%d\naudio_codec=%s\naudio_bit_rate=%d\n"
                    "sample_rate=%d\nchannels=%d\n",
                    static_cast<long long>(job->duration_us), job->source_width, job->source_height,
                    job->source_fps_num, job->source_fps_den,
                    job->video_codec_id ? avcodec_get_name(AVCodecID(job->video_codec_id)) : "none",
                    job->video_bit_rate,
                    job->audio_codec_id ? avcodec_get_name(AVCodecID(job->audio_codec_id)) : "none",
                    job->audio_bit_rate, job->audio_sample_rate, job->audio_channels);
        PrintTracks(path);
    }
    return status;
}

struct Arguments {
    std::vector<std::string> files;
    std::map<std::string, std::string> options;
    bool exact = false;  // --exact, a flag without a value
    bool separate = false;  // --separate
    std::vector<std::string> spans;  // --span values, in the order given
};

const char* const kValueOptions[] = {"--start", "--end",  "--out",         "--title",
                                     "--format", "--video-rate", "--size", "--fps",
                                     "--audio-rate", "--sample-rate"};

bool ParseArguments(int argc, char** argv, int first, Arguments* args, std::string* problem)
{
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            args->files.push_back(a);
            continue;
        }
        if (a == "--exact" || a == "--separate") {
            (a == "--exact" ? args->exact : args->separate) = true;
            continue;
        }
        if (a == "--span") {
            if (i + 1 >= argc) {
                *problem = a + " needs a value";
                return false;
            }
            args->spans.push_back(argv[++i]);
            continue;
        }
        bool known = false;
        for (const char* o : kValueOptions)
            known = known || a == o;
        if (!known) {
            *problem = "unknown option " + a;
            return false;
        }
        if (i + 1 >= argc) {
            *problem = a + " needs a value";
            return false;
        }
        args->options[a] = argv[++i];
    }
    return true;
}

std::string Option(const Arguments& args, const char* name, const std::string& fallback = "")
{
    const auto it = args.options.find(name);
    return it == args.options.end() ? fallback : it->second;
}

// The settings dialog's choices: direct without --format, else the format's
// codecs with each unset value at the dialog's default.
bool ReadChoice(const Arguments& args, const EncodingChoice& defaults, EncodingChoice* choice,
                std::string* extension, std::string* problem)
{
    *choice = defaults;
    const std::string format = Option(args, "--format");
    choice->direct = format.empty();
    if (choice->direct)
        return true;
    char* end = nullptr;
    const long entry = std::strtol(format.c_str(), &end, 10);
    if (*end != '\0' || entry < 0 || entry >= kFormatCount) {
        *problem = "--format must be a number from 0 to 6";
        return false;
    }
    ApplyFormatEntry(static_cast<int>(entry), choice);
    *extension = FormatExtension(FormatTable[entry].text);
    if (args.options.count("--video-rate"))
        choice->video_bit_rate = ParseRateText(Option(args, "--video-rate"));
    if (args.options.count("--audio-rate"))
        choice->audio_bit_rate = ParseRateText(Option(args, "--audio-rate"));
    if (args.options.count("--sample-rate"))
        choice->sample_rate = ParseRateText(Option(args, "--sample-rate"));
    if (args.options.count("--fps"))
        choice->fps_name = Option(args, "--fps");
    if (args.options.count("--size") &&
        !ParseSizeText(Option(args, "--size"), &choice->width, &choice->height)) {
        *problem = "--size must look like 640*480";
        return false;
    }
    if (choice->video_bit_rate <= 0 || choice->audio_bit_rate <= 0 || choice->sample_rate <= 0) {
        *problem = "rates must look like \"3000 kbps\" or \"44100 Hz\"";
        return false;
    }
    return true;
}

bool CheckOutputFolder(const std::string& folder, std::string* problem)
{
    std::error_code ec;
    const auto path = std::filesystem::u8path(folder);
    if (!folder.empty() && std::filesystem::is_directory(path, ec))
        return true;
    if (!folder.empty() && std::filesystem::exists(path, ec))
        *problem = "the output folder is not a folder but a file: " + Shown(folder);
    else
        *problem = "the output folder does not exist: " + Shown(folder);
    return false;
}

std::string InputProblem(const std::string& path, int rc)
{
    return Shown(path) + ": " + ProbeMessage(rc);
}

// Why the output went wrong, when the engine knows.
std::string WriteProblem(int error, const std::string& output)
{
    if (error == ENOSPC || error == EDQUOT)
        return "the disk is full: " + Shown(output) + " could not be written completely and was deleted";
    return "writing " + Shown(output) + " failed: " + std::strerror(error);
}

const char* StatusWord(uint8_t status)
{
    return status == kInputDone ? "done" : status == kInputFailed ? "failed" : "pending";
}

// Runs the worker and returns the moment it ends; while it runs, progress
// is printed every 500 ms, as the window polls.
int RunJob(ConversionJob* job, bool join, const std::vector<std::string>& output_paths)
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
    int last_percent = -2;
    bool announced = false;
    while (end.wait_for(kProgressPeriod) != std::future_status::ready) {
        if (g_stopSignal && !announced) {
            std::fprintf(stderr, "cancelling...\n");
            announced = true;
        }
        const JobReading now = ReadJob(*job);
        const int percent = now.percent;
        const int current = now.current;
        if (percent != last_percent && current >= 0 && current < job->input_count) {
            std::printf("progress %s=%d/%d percent=%d\n", unit, current + 1, job->input_count, percent);
            std::fflush(stdout);
            last_percent = percent;
        }
    }
    g_runningJobCancel = nullptr;
    worker.join();

    const JobReading reading = ReadJob(*job);
    for (int i = 0; i < job->input_count; ++i)
        std::printf("%s %d %s %s\n", unit, i + 1, StatusWord(reading.inputs[i].status),
                    Shown(job->input_paths[i]).c_str());
    for (const DroppedTrack& t : job->dropped_tracks)
        std::fprintf(stderr, "morvane-cli: left out of the output: %s\n", Shown(DescribeDroppedTrack(t)).c_str());
    for (const std::string& path : reading.kept)
        std::printf("output=%s\n", Shown(path).c_str());
    const bool written = !reading.kept.empty();
    if (!written)
        std::printf("no output was written\n");
    if (reading.all_done)
        return kExitOk;
    const std::string said = TakeLibraryMessages();
    if (!said.empty())
        std::fprintf(stderr, "what the media libraries reported:\n%s", said.c_str());
    // Every failed input with its reason, then what it means for the output.
    for (int i = 0; i < job->input_count; ++i) {
        if (reading.inputs[i].status == kInputFailed)
            std::fprintf(stderr, "morvane-cli: %s %d (%s): %s\n", unit, i + 1, Shown(job->input_paths[i]).c_str(),
                         FailureReasonText(reading.inputs[i].reason));
    }
    const FailureReason first_reason = reading.FirstReason();
    if (reading.stop_asked)
        Fail(written ? "cancelled: the job was stopped; the output holds what was done so far"
                     : "cancelled: the job was stopped; no output was written");
    else if (reading.output_error != 0)
        Fail(WriteProblem(reading.output_error, output_path));
    else if (first_reason == FailureReason::OutputGone)
        Fail("the output " + Shown(output_path) + " was moved or deleted during the job");
    else
        Fail(std::string(job->input_count > 1 ? unit + (" " + std::to_string(reading.first_failed + 1)) + " failed: "
                                              : "the cut failed: ") +
             FailureReasonText(first_reason));
    return kExitFailed;
}

std::string TitleOf(const std::string& path)
{
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int Refused(LaunchRefusal why, const ConversionJob* job = nullptr, const std::string& output = "")
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
    std::fprintf(stderr, "morvane-cli: refused: %s\n", text.c_str());
    return kExitFailed;
}

// What the launch decided that the user should know: a file an exact cut
// cannot handle is cut at key pictures.
void TellDecision(const LaunchDecision& decided)
{
    if (decided.exact_fell_back)
        std::fprintf(stderr, "morvane-cli: no exact cut for this file (%s): cutting at key pictures\n",
                     decided.exact_why.c_str());
    if (decided.exact_reencodes_whole)
        std::fprintf(stderr, "morvane-cli: no picture inside the cut can be copied (no key picture, or only "
                             "open-GOP recovery points): all of it is re-encoded, which takes longer\n");
}

// START-END, each a time as --start takes it.
bool ReadSpanText(const std::string& text, CutSpan* span)
{
    const size_t dash = text.find('-');
    return dash != std::string::npos && ReadTimeText(text.substr(0, dash), &span->start_ms) &&
           ReadTimeText(text.substr(dash + 1), &span->end_ms);
}

int RunSpans(const Arguments& args, const EncodingChoice& choice, const std::string& folder,
             const std::string& extension)
{
    std::vector<CutSpan> spans;
    for (const std::string& text : args.spans) {
        CutSpan span;
        if (!ReadSpanText(text, &span))
            return Usage("--span takes START-END, two times such as 00:01:02.500-00:01:10 or 62.5-70: " +
                         Shown(text));
        spans.push_back(span);
    }
    const std::string& input = args.files[0];
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input, ProbeKeeps::FileOpen);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    for (size_t i = 0; i < spans.size(); ++i) {
        if (spans[i].end_ms > spans[i].start_ms &&
            !CutSpanIsPossible(spans[i].start_ms, spans[i].end_ms, job->duration_us))
            return Fail("refused: span " + std::to_string(i + 1) + " starts at " + FormatTimeText(spans[i].start_ms) +
                        ", past the end of " + Shown(input) + " (" + FormatTimeText(job->duration_us / 1000) + ")");
        if (spans[i].end_ms <= spans[i].start_ms)
            return Fail("refused: span " + std::to_string(i + 1) + " is empty: its end must come after its start");
        const int other = FindOverlappingSpan(spans, spans[i], static_cast<int>(i));
        if (other >= 0)
            return Fail("refused: spans " + std::to_string(std::min<int>(i, other) + 1) + " and " +
                        std::to_string(std::max<int>(i, other) + 1) + " overlap; spans may not share time");
    }
    const OutputTarget target{folder, CleanFileTitle(Option(args, "--title", TitleOf(input))), extension};
    std::vector<std::string> outputs;
    LaunchDecision decided;
    const LaunchRefusal why =
        FillSpansJob(job, input, spans, target, choice, args.separate, &outputs, nullptr, &decided);
    if (why != LaunchRefusal::None)
        return Refused(why, job, outputs.empty() ? "" : outputs.back());
    TellDecision(decided);
    return RunJob(job, false, outputs);
}

int RunCut(const Arguments& args)
{
    if (args.files.size() != 1)
        return Usage("cut takes exactly one file");
    const bool spans = !args.spans.empty();
    if (spans && (args.options.count("--start") || args.options.count("--end")))
        return Usage("--span and --start/--end do not go together: give every span with --span");
    if (!spans && args.separate)
        return Usage("--separate goes with --span");
    if ((!spans && (!args.options.count("--start") || !args.options.count("--end"))) || !args.options.count("--out"))
        return Usage("cut needs --start and --end (or --span), and --out");
    EncodingChoice choice;
    std::string extension, problem;
    if (!ReadChoice(args, DefaultCutChoice(kKeepSourceRate), &choice, &extension, &problem))
        return Usage(problem);
    if (args.exact && !choice.direct)
        return Usage("--exact is a way of cutting directly; it does not go with --format");
    choice.exact = args.exact;
    const std::string folder = Option(args, "--out");
    if (!CheckOutputFolder(folder, &problem)) {
        std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
        return kExitFailed;
    }
    if (spans)
        return RunSpans(args, choice, folder, extension);
    const std::string& input = args.files[0];
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input, ProbeKeeps::FileOpen);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    int64_t start_ms = 0, end_ms = 0;
    if (!ReadTimeText(Option(args, "--start"), &start_ms) || !ReadTimeText(Option(args, "--end"), &end_ms))
        return Refused(LaunchRefusal::BadTime);
    if (end_ms > start_ms && !CutSpanIsPossible(start_ms, end_ms, job->duration_us))
        return Fail("refused: the cut starts at " + FormatTimeText(start_ms) + ", past the end of " +
                    Shown(input) + " (" + FormatTimeText(job->duration_us / 1000) + ")");
    const OutputTarget target{folder, CleanFileTitle(Option(args, "--title", TitleOf(input))), extension};
    std::string output;
    LaunchDecision decided;
    const LaunchRefusal why = FillCutJob(job, input, Option(args, "--start"), Option(args, "--end"),
                                         target, choice, &output, nullptr, &decided);
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    TellDecision(decided);
    return RunJob(job, false, {output});
}

int RunJoin(const Arguments& args)
{
    if (!args.options.count("--out"))
        return Usage("join needs --out");
    EncodingChoice choice;
    std::string extension, problem;
    if (!ReadChoice(args, DefaultJoinChoice(), &choice, &extension, &problem))
        return Usage(problem);
    if (args.files.size() < 2)
        return Refused(LaunchRefusal::TooFewInputs);
    if (args.files.size() > static_cast<size_t>(kMaxJobInputs))
        return Refused(LaunchRefusal::TooManyInputs);
    const std::string folder = Option(args, "--out");
    if (!CheckOutputFolder(folder, &problem)) {
        std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
        return kExitFailed;
    }
    ConversionJob* job = TheJob();
    std::vector<JoinRow> rows;
    for (const std::string& path : args.files) {
        const int rc = ProbeInto(job, path, ProbeKeeps::FileOpen);
        if (rc < 0)
            return Fail(InputProblem(path, rc));
        if (job->initial_end_us < 0)
            return Fail(Shown(path) + ": its length is unknown");
        rows.push_back(MakeJoinRow(path, *job));
    }
    const OutputTarget target{folder, CleanFileTitle(Option(args, "--title", "joined")), extension};
    std::string output;
    JoinMismatch mismatch;
    const LaunchRefusal why = FillJoinJob(job, rows, target, choice, &output, &mismatch);
    const LayoutDifference& diff = mismatch.tracks;
    if (why == LaunchRefusal::TrackLayoutDiffers && mismatch.tracks_differ)
        return Fail("refused: the tracks of " + Shown(args.files[diff.file]) + " differ from the first file's (" +
                    DescribeLayoutDifference(diff) + "); a direct join cannot continue them: re-encode with --format");
    if (why == LaunchRefusal::DiffersFromFirst) {
        std::fprintf(stderr, "morvane-cli: refused: input %d (%s) cannot be joined directly to the first file: %s; "
                     "re-encode with --format instead\n",
                     mismatch.input + 1, Shown(args.files[mismatch.input]).c_str(), JoinDifferenceText(mismatch.how));
        return kExitFailed;
    }
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    return RunJob(job, true, {output});
}

bool IsJpegName(const std::string& path)
{
    std::string ext = FileExtensionWithDot(FileNameOf(path));
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".jpg" || ext == ".jpeg";
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const auto pa = std::filesystem::u8path(a), pb = std::filesystem::u8path(b);
    if (std::filesystem::equivalent(pa, pb, ec))
        return true;
    return std::filesystem::absolute(pa, ec).lexically_normal() == std::filesystem::absolute(pb, ec).lexically_normal();
}

// SECONDS: a finite number of seconds from the file's start, nothing else.
bool ParseSeconds(const std::string& text, double* seconds)
{
    char* end = nullptr;
    errno = 0;
    *seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && errno == 0 && std::isfinite(*seconds) && *seconds >= 0;
}

int RunPreview(const Arguments& args)
{
    if (args.files.size() != 3)
        return Usage("preview takes FILE SECONDS OUT.jpg");
    const std::string& input = args.files[0];
    const std::string& out = args.files[2];
    double seconds = 0;
    if (!ParseSeconds(args.files[1], &seconds))
        return Usage("SECONDS must be a number of seconds, 0 or more: " + Shown(args.files[1]));
    if (!IsJpegName(out))
        return Fail("refused: the snapshot is written as JPEG, so its name must end in .jpg or .jpeg: " +
                    Shown(out));
    if (SameFile(input, out))
        return Fail("refused: the snapshot would replace its own input " + Shown(input));
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    if (job->video_stream_index < 0)
        return Fail(Shown(input) + " has no picture to preview");
    // The name's own bytes, whatever the locale says they mean.
    std::wstring snapshot = BytesToWide(out);
    job->probe_path = const_cast<char*>(input.c_str());
    job->snapshot_path = snapshot.data();
    job->current_input = 0;
    job->start_s[0] = seconds;
    const bool written = DecodePreviewFrame(job);
    job->probe_path = const_cast<char*>("");
    job->snapshot_path = nullptr;
    if (!written)
        return Fail("no picture was written to " + Shown(out));
    std::printf("snapshot=%s\n", Shown(out).c_str());
    return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    KeepLibraryMessages();  // shown only when a job fails
    if (argc < 2)
        return Usage("no command given");
    // Asked for, the usage is the answer: on standard output, with success.
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("morvane-cli %s\n", MORVANE_VERSION);
        return kExitOk;
    }
    const std::string command = argv[1];
    Arguments args;
    std::string problem;
    if (!ParseArguments(argc, argv, 2, &args, &problem))
        return Usage(problem);
    int status;
    if (command == "probe")
        status = RunProbe(args.files);
    else if (command == "cut")
        status = RunCut(args);
    else if (command == "join")
        status = RunJoin(args);
    else if (command == "preview")
        status = RunPreview(args);
    else
        return Usage("unknown command " + command);
    g_stopSignalHandlers.reset();  // a signal after the job ran through changed nothing
    if (g_pJob) {
        FreePathArray(g_pJob->input_paths, g_pJob->input_count);
        FreePathArray(g_pJob->output_paths, g_pJob->input_count);
        delete g_pJob;
        g_pJob = nullptr;
    }
    return status;
}
