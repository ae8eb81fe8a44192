#include "cli.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion_job.h"
#include "job_setup.h"
#include "preview.h"
#include "probe.h"
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
    "  morvane-cli cut FILE --start HH:MM:SS.mmm --end HH:MM:SS.mmm --out FOLDER [--title T] [ENCODING]\n"
    "  morvane-cli join FILE FILE... --out FOLDER [--title T] [ENCODING]\n"
    "  morvane-cli preview FILE SECONDS OUT.jpg\n"
    "ENCODING (re-encode; without it packets are copied):\n"
    "  --format N (0-6) [--video-rate \"3000 kbps\"] [--size 320*240] [--fps \"25.0 fps\"]\n"
    "  [--audio-rate \"128 kbps\"] [--sample-rate \"44100 Hz\"]\n"
    "formats:\n";

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

int Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    for (int i = 0; i < kFormatCount; ++i)
        std::fprintf(stderr, "  %d  %s\n", i, FormatTable[i].text);
    return kExitUsage;
}

std::string ProbeMessage(int code)
{
    switch (code) {
    case -1: return "not a media file the program can open";
    case -2: return "the file's streams cannot be read";
    case -4: return "no decoder for the file's video";
    case -5: return "the file's video decoder does not open";
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

int ProbeInto(ConversionJob* job, const std::string& path)
{
    job->probe_path = const_cast<char*>(path.c_str());
    const int rc = ProbeMedia(job);
    job->probe_path = const_cast<char*>("");
    return rc;
}

int RunProbe(const std::vector<std::string>& files)
{
    if (files.empty())
        return Usage("probe needs at least one file");
    ConversionJob* job = TheJob();
    int status = kExitOk;
    for (const std::string& path : files) {
        const int rc = ProbeInto(job, path);
        std::printf("file=%s\nresult=%d\n", path.c_str(), rc);
        if (rc < 0) {
            std::printf("error=%s\n\n", ProbeMessage(rc).c_str());
            status = kExitFailed;
            continue;
        }
        std::printf("duration_us=%lld\nwidth=%d\nheight=%d\nfps_num=%d\nfps_den=%d\n"
                    "video_codec=%s\nvideo_bit_rate=%d\naudio_codec=%s\naudio_bit_rate=%d\n"
                    "sample_rate=%d\nchannels=%d\n\n",
                    static_cast<long long>(job->duration_us), job->source_width, job->source_height,
                    job->source_fps_num, job->source_fps_den,
                    job->video_codec_id ? avcodec_get_name(AVCodecID(job->video_codec_id)) : "none",
                    job->video_bit_rate,
                    job->audio_codec_id ? avcodec_get_name(AVCodecID(job->audio_codec_id)) : "none",
                    job->audio_bit_rate, job->audio_sample_rate, job->audio_channels);
    }
    return status;
}

struct Arguments {
    std::vector<std::string> files;
    std::map<std::string, std::string> options;
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
    if (folder.empty() || !std::filesystem::is_directory(std::filesystem::u8path(folder), ec)) {
        *problem = "the output folder does not exist: " + folder;
        return false;
    }
    return true;
}

const char* StatusWord(uint8_t status)
{
    return status == kInputDone ? "done" : status == kInputFailed ? "failed" : "pending";
}

// Runs the worker and polls the record every 500 ms, as the window does.
int RunJob(ConversionJob* job, bool join, const std::string& output_path)
{
    MarkJobStarting(job, join);
    g_interrupted = 0;
    auto previous = std::signal(SIGINT, OnInterrupt);
    std::thread worker = StartConversionWorker(job);
    int last_percent = -2;
    while (job->current_input < job->input_count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (g_interrupted && !job->cancel_requested) {
            std::fprintf(stderr, "cancelling...\n");
            job->cancel_requested = 1;
        }
        if (job->cancel_requested)
            break;  // the worker ends at its next check
        const int percent = job->progress_percent;
        const int current = job->current_input;
        if (percent != last_percent && current >= 0 && current < job->input_count) {
            std::printf("progress input=%d/%d percent=%d\n", current + 1, job->input_count, percent);
            std::fflush(stdout);
            last_percent = percent;
        }
    }
    worker.join();
    std::signal(SIGINT, previous);

    bool all_done = true;
    for (int i = 0; i < job->input_count; ++i) {
        const uint8_t s = job->input_status[i];
        std::printf("input %d %s %s\n", i + 1, StatusWord(s), job->input_paths[i]);
        all_done = all_done && s == kInputDone;
    }
    if (FileExists(output_path))
        std::printf("output=%s\n", output_path.c_str());
    else
        std::printf("no output was written\n");
    if (job->cancel_requested)
        std::fprintf(stderr, "morvane-cli: cancelled; the output holds what was done so far\n");
    else if (!all_done)
        std::fprintf(stderr, "morvane-cli: some inputs failed (unreadable file, unsupported "
                             "settings or an output that cannot be written)\n");
    return all_done && !job->cancel_requested ? kExitOk : kExitFailed;
}

std::string TitleOf(const std::string& path)
{
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int Refused(LaunchRefusal why)
{
    const char* text = "";
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
    case LaunchRefusal::None: break;
    }
    std::fprintf(stderr, "morvane-cli: refused: %s\n", text);
    return kExitFailed;
}

int RunCut(const Arguments& args)
{
    if (args.files.size() != 1)
        return Usage("cut takes exactly one file");
    if (!args.options.count("--start") || !args.options.count("--end") || !args.options.count("--out"))
        return Usage("cut needs --start, --end and --out");
    EncodingChoice choice;
    std::string extension, problem;
    if (!ReadChoice(args, DefaultCutChoice(kKeepSourceRate), &choice, &extension, &problem))
        return Usage(problem);
    const std::string folder = Option(args, "--out");
    if (!CheckOutputFolder(folder, &problem)) {
        std::fprintf(stderr, "morvane-cli: %s\n", problem.c_str());
        return kExitFailed;
    }
    const std::string& input = args.files[0];
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input);
    if (rc < 0) {
        std::fprintf(stderr, "morvane-cli: %s: %s\n", input.c_str(), ProbeMessage(rc).c_str());
        return kExitFailed;
    }
    const OutputTarget target{folder, CleanFileTitle(Option(args, "--title", TitleOf(input))), extension};
    std::string output;
    const LaunchRefusal why = FillCutJob(job, input, Option(args, "--start"), Option(args, "--end"),
                                         target, choice, &output);
    if (why != LaunchRefusal::None)
        return Refused(why);
    return RunJob(job, false, output);
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
        const int rc = ProbeInto(job, path);
        if (rc < 0 || job->initial_end_us < 0) {
            std::fprintf(stderr, "morvane-cli: %s: %s\n", path.c_str(),
                         rc < 0 ? ProbeMessage(rc).c_str() : "its length is unknown");
            return kExitFailed;
        }
        rows.push_back(MakeJoinRow(path, *job));
    }
    const OutputTarget target{folder, CleanFileTitle(Option(args, "--title", "joined")), extension};
    std::string output;
    const LaunchRefusal why = FillJoinJob(job, rows, target, choice, &output);
    if (why != LaunchRefusal::None)
        return Refused(why);
    return RunJob(job, true, output);
}

int RunPreview(const Arguments& args)
{
    if (args.files.size() != 3)
        return Usage("preview takes FILE SECONDS OUT.jpg");
    ConversionJob* job = TheJob();
    const std::string& input = args.files[0];
    const int rc = ProbeInto(job, input);
    if (rc < 0) {
        std::fprintf(stderr, "morvane-cli: %s: %s\n", input.c_str(), ProbeMessage(rc).c_str());
        return kExitFailed;
    }
    if (job->video_stream_index < 0) {
        std::fprintf(stderr, "morvane-cli: %s has no picture to preview\n", input.c_str());
        return kExitFailed;
    }
    std::wstring snapshot(args.files[2].begin(), args.files[2].end());
    if (std::mbstowcs(nullptr, args.files[2].c_str(), 0) != static_cast<size_t>(-1)) {
        snapshot.resize(std::mbstowcs(nullptr, args.files[2].c_str(), 0));
        std::mbstowcs(snapshot.data(), args.files[2].c_str(), snapshot.size());
    }
    job->probe_path = const_cast<char*>(input.c_str());
    job->snapshot_path = snapshot.data();
    job->current_input = 0;
    job->start_s[0] = std::strtod(args.files[1].c_str(), nullptr);
    std::error_code ec;
    std::filesystem::remove(std::filesystem::u8path(args.files[2]), ec);
    DecodePreviewFrame(job);
    job->probe_path = const_cast<char*>("");
    job->snapshot_path = nullptr;
    if (!FileExists(args.files[2])) {
        std::fprintf(stderr, "morvane-cli: no picture was written to %s\n", args.files[2].c_str());
        return kExitFailed;
    }
    std::printf("snapshot=%s\n", args.files[2].c_str());
    return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    av_log_set_level(AV_LOG_ERROR);  // the libraries' chatter is not for users
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))
        return Usage(argc < 2 ? "no command given" : "");
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
    if (g_pJob) {
        FreePathArray(g_pJob->input_paths, g_pJob->input_count);
        FreePathArray(g_pJob->output_paths, g_pJob->input_count);
        delete g_pJob;
        g_pJob = nullptr;
    }
    return status;
}
