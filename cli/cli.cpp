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
#include <getopt.h>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "break_detect.h"
#include "conversion_job.h"
#include "cut_list.h"
#include "key_frames.h"
#include "library_log.h"
#include "job_reading.h"
#include "job_setup.h"
#include "input_facts.h"
#include "job_door.h"
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
    "      [--exact | ENCODING] [--part-chapters]\n"
    "  morvane-cli cut FILE FILE... (--start ... | --span ...) --out FOLDER    the same cut of each file\n"
    "  morvane-cli cut FILE (--remove START-END... | --remove-from LIST | --spans-from LIST) [--separate]\n"
    "      --out FOLDER [--title T] [--exact | ENCODING] [--part-chapters]\n"
    "  morvane-cli join FILE FILE... --out FOLDER [--title T] [ENCODING]\n"
    "  morvane-cli detect [--edl] FILE\n"
    "  morvane-cli preview FILE SECONDS OUT.jpg\n"
    "  morvane-cli COMMAND --help    every option of one command and what it prints\n"
    "  morvane-cli --help | --version\n"
    "--exact: a direct cut that starts and ends exactly at the points given, re-encoding\n"
    "  only the pictures around them (H.264, HEVC, MPEG-2, VP9, AV1, MPEG-4 Part 2 but not with\n"
    "  packed B-frames, also in transport and program streams; others cut at key pictures)\n"
    "--span: spans written one after the other into one file, in the order given; with\n"
    "  --separate each into a file of its own (TITLE-1, TITLE-2, ...)\n"
    "--remove: spans to take out; what is left of the file is cut as spans are\n"
    "--spans-from/--remove-from: the spans from a list file (EDL, CSV, chapters, .spans)\n"
    "--part-chapters: spans in one file get a chapter each, named by the source times it holds\n"
    "  (\"00:01:02.000 \u2013 00:05:10.000\"), instead of the source's chapters (MKV, MP4, MOV, WMV)\n"
    "detect: finds black pictures, silence, scene changes and the breaks where black and\n"
    "  silence meet; --edl prints the breaks as a list for --remove-from\n"
    "ENCODING (re-encode; without it packets are copied):\n"
    "  --format N (0-6) [--video-rate \"3000 kbps\"] [--size 320*240] [--fps \"25.0 fps\"]\n"
    "  [--audio-rate \"128 kbps\"] [--sample-rate \"44100 Hz\"]\n"
    "-o FILE [--overwrite]: instead of --out and --title, the output's exact name; an existing\n"
    "  FILE is refused, or with --overwrite replaced once the new file is complete\n"
    "--json: probe, progress and result as JSON lines on standard output\n"
    "formats:\n";

// What every command's help ends with: the forms the values take and what
// the tool prints.
const char kCommandNotes[] =
    "Options may come before or after the files; \"--\" ends them (a file named \"--x.mp4\").\n"
    "\"--title=T\" is \"--title T\". An option given twice, or one the command does not take,\n"
    "is refused (exit status 2).\n"
    "TIME: [[hours:]minutes:]seconds[.mmm]: 75.5, 1:15.5 and 00:01:15.500 are the same time;\n"
    "  minutes and seconds after a colon are below 60; signs are refused.\n"
    "Exit status: 0 every input done, 1 an input failed or the job was refused, 2 a wrong command line.\n"
    "Names in text lines show control characters escaped (\\n, \\x1b); in JSON they are JSON strings.\n"
    "What the media libraries report is shown after a failed job; the window keeps it in library.log.\n";


// Which commands an option belongs to.
enum CommandBit : unsigned { kProbe = 1, kCut = 2, kJoin = 4, kPreview = 8, kDetect = 16 };
constexpr unsigned kJobCommands = kCut | kJoin;
constexpr unsigned kEveryCommand = kProbe | kCut | kJoin | kPreview | kDetect;

struct CommandSpec {
    const char* name;
    unsigned bit;
    const char* synopsis;  // after "morvane-cli "
    const char* about;
    const char* output;  // what it prints
};

// What a cut or join prints, as text and as --json.
#define MORVANE_JOB_OUTPUT                                                                                      \
    "prints:\n"                                                                                                 \
    "  progress input=N/COUNT percent=P    every 500 ms while it runs (span=N/COUNT for spans)\n"             \
    "  input N done|failed|stopped FILE    at the end, one line an input (span N ... for spans)\n"            \
    "  output=PATH                         each file written; \"no output was written\" when none\n"          \
    "  Why an input failed, tracks left out, and what the media libraries reported go to the error output.\n" \
    "  A stop (Ctrl-C, SIGTERM, SIGHUP, or standard output closed) keeps what was written so far.\n"          \
    "with --json, one object a line:\n"                                                                         \
    "  {\"progress\":{\"input\"|\"span\":N,\"of\":COUNT,\"percent\":P}}\n"                                       \
    "  {\"result\":{\"ok\":BOOL,\"stopped\":BOOL,\"error\":TEXT (when not ok),\n"                               \
    "    \"inputs\":[{\"input\"|\"span\":N,\"file\":PATH,\"status\":\"done\"|\"failed\"|\"stopped\",\"reason\":TEXT}],\n" \
    "    \"outputs\":[{\"file\":PATH,\"holds\":[N,...]}],\n"                                                     \
    "    \"dropped_tracks\":[{\"input\":N,\"stream\":S,\"kind\":K,\"codec\":C,\"language\":L,\"reason\":R,\"text\":TEXT}]}}\n" \
    "  A job refused before it starts prints {\"result\":{\"ok\":false,\"error\":TEXT,\"outputs\":[]}}.\n"

const CommandSpec kCommands[] = {
    {"probe", kProbe, "probe [--json] FILE...", "Prints what the program reads from each file.\n",
     "prints, for each file:\n"
     "  file=PATH, result=0 (negative: error=TEXT), duration_us (unknown when the file does not say),\n"
     "  width, height, fps_num, fps_den, video_codec, video_bit_rate, audio_codec, audio_bit_rate,\n"
     "  sample_rate, channels (key=value lines),\n"
     "  stream=N kind=K codec=C language=L default=0|1 main=0|1 title=T (one line a stream), an empty line.\n"
     "  main=1 marks the picture and sound a job measures by.\n"
     "with --json, one object a file holding the same keys (an unknown duration_us is null), and\n"
     "  \"streams\":[{\"stream\",\"kind\",\"codec\",\"language\",\"default\",\"main\",\"title\"}].\n"},
    {"cut", kCut,
     "cut FILE... (--start TIME --end TIME | --span START-END... | --spans-from LIST | --remove START-END...\n"
     "      | --remove-from LIST) (--out FOLDER [--title T] | -o FILE) [--exact | ENCODING] [--separate]\n"
     "      [--part-chapters] [--overwrite] [--json]",
     "Cuts a file: from --start to --end, or each --span in the order given, or what is left after\n"
     "taking out each --remove span (one file, or a file a part with --separate). Given several files, makes\n"
     "the same cut of each, one job after the other, each into its own file (its title, or TITLE-1,\n"
     "TITLE-2, ...): \"file N/COUNT FILE\" before each file's lines ({\"file\":{\"file\":N,\"of\":COUNT,\"path\":..}}),\n"
     "\"files done=D failed=F not_started=S\" at the end ({\"files\":{...}}); exit status 0 only when all are done.\n"
     "A direct cut starts each part at a key picture; with --remove it says where each part runs.\n"
     "A LIST is an EDL (\"start end action\", as detectors write it), CSV (\"start,end,name\"),\n"
     "FFmpeg chapter metadata (;FFMETADATA1), chapter text (\"00:01:02 Title\") or a .spans file.\n",
     MORVANE_JOB_OUTPUT},
    {"join", kJoin, "join FILE FILE... (--out FOLDER [--title T] | -o FILE) [ENCODING] [--overwrite] [--json]",
     "Joins the files, whole and one after the other, into one file.\n", MORVANE_JOB_OUTPUT},
    {"preview", kPreview, "preview [--overwrite] [--json] FILE SECONDS OUT.jpg",
     "Writes the picture at SECONDS from the file's start as a 320x240 JPEG; an existing OUT.jpg\n"
     "is refused without --overwrite.\n",
     "prints snapshot=OUT.jpg; with --json {\"result\":{\"ok\":true,\"snapshot\":PATH}}.\n"},
    {"detect", kDetect, "detect [--edl] [--json] FILE",
     "Scans one file for black pictures, silence and scene changes; where black and silence meet\n"
     "is the usual edge of an advertising break, and such places close together frame a break.\n",
     "prints (times from the file's start, HH:MM:SS.mmm):\n"
     "  black=START-END, silence=START-END, scene=TIME, meeting=START-END (black with silence),\n"
     "  break=START-END (one line each, in that order).\n"
     "with --edl, only the breaks, as an EDL (\"start end 0\", seconds) for cut --remove-from.\n"
     "with --json {\"result\":{\"ok\":true,\"breaks\":[[S,E]...],\"meetings\":[...],\"black\":[...],\n"
     "  \"silence\":[...],\"scenes\":[T...]}} in seconds.\n"},
};

// Every option of every command: adding one is one line here. `letter` is
// its short form (0 none), `value` the name of its value (nullptr: a flag).
struct OptionSpec {
    const char* name;
    char letter;
    const char* value;
    unsigned commands;
    bool repeatable;
    const char* help;
};

const OptionSpec kOptions[] = {
    {"start", 0, "TIME", kCut, false, "where the cut starts"},
    {"end", 0, "TIME", kCut, false, "where the cut ends"},
    {"span", 0, "START-END", kCut, true,
     "a span to cut (instead of --start/--end); give it again for more, written in the order given"},
    {"separate", 0, nullptr, kCut, false, "each span into a file of its own: TITLE-1, TITLE-2, ..."},
    {"remove", 0, "START-END", kCut, true,
     "a span to take out; the parts left are cut as spans (give it again for more)"},
    {"spans-from", 0, "LIST", kCut, false, "the spans to cut, from a list file"},
    {"remove-from", 0, "LIST", kCut, false, "the spans to take out, from a list file (a detector's EDL)"},
    {"part-chapters", 0, nullptr, kCut, false,
     "spans in one file: a chapter each, named by its source times, instead of the source's chapters"},
    {"edl", 0, nullptr, kDetect, false, "print only the breaks found, as an EDL of what to remove"},
    {"exact", 0, nullptr, kCut, false,
     "a direct cut exactly at the points given, re-encoding only the pictures around them"},
    {"out", 0, "FOLDER", kJobCommands, false, "the folder the new file goes into, named TITLE.ext, TITLE(0).ext, ..."},
    {"title", 0, "T", kJobCommands, false, "the new file's title (default: the input's, or \"joined\")"},
    {"output", 'o', "FILE", kJobCommands, false,
     "the new file's exact name (its extension the one the job writes); an existing file is refused"},
    {"overwrite", 0, nullptr, kJobCommands | kPreview, false,
     "replace an existing -o FILE (or OUT.jpg), only once the new one is complete"},
    {"format", 0, "N", kJobCommands, false, "re-encode into format N (0-6, below); without it packets are copied"},
    {"video-rate", 0, "\"3000 kbps\"", kJobCommands, false, "video bit rate (with --format)"},
    {"size", 0, "320*240", kJobCommands, false, "picture size (with --format)"},
    {"fps", 0, "\"25.0 fps\"", kJobCommands, false, "frame rate (with --format)"},
    {"audio-rate", 0, "\"128 kbps\"", kJobCommands, false, "sound bit rate (with --format)"},
    {"sample-rate", 0, "\"44100 Hz\"", kJobCommands, false, "sound sample rate (with --format)"},
    {"json", 0, nullptr, kEveryCommand, false, "JSON lines on standard output instead of text lines"},
    {"help", 'h', nullptr, kEveryCommand, false, "this command's help"},
};

constexpr int kOptionCount = static_cast<int>(std::size(kOptions));

struct Arguments {
    const CommandSpec* command = nullptr;
    std::vector<std::string> files;  // every argument that is not an option, in order
    std::map<std::string, std::vector<std::string>> given;  // option -> its values ("" for a flag)

    bool Has(const char* name) const { return given.count(name) > 0; }
    std::string Value(const char* name, const std::string& fallback = "") const
    {
        const auto it = given.find(name);
        return it == given.end() ? fallback : it->second.front();
    }
    std::vector<std::string> Values(const char* name) const
    {
        const auto it = given.find(name);
        return it == given.end() ? std::vector<std::string>{} : it->second;
    }
};

const CommandSpec* FindCommand(const std::string& name)
{
    for (const CommandSpec& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

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

// Standard output carries text lines, or with --json one JSON object a
// line. A reader that closes its end (`| head -1`) stops a running job as
// Ctrl-C does; what is left to say then goes to the error output.
struct StandardOutput {
    bool json = false;
    bool gone = false;
    int error = 0;  // errno of the write that failed
};
StandardOutput g_stdout;

bool Say(const std::string& line)
{
    if (g_stdout.gone)
        return false;
    errno = 0;
    if (std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0)
        return true;
    g_stdout.gone = true;
    g_stdout.error = errno;
    if (std::atomic<uint8_t>* cancel = g_runningJobCancel.load())
        cancel->store(1);
    return false;
}

// A line of the result: where the user still sees it.
void SayResult(const std::string& line)
{
    if (!Say(line))
        std::fprintf(stderr, "morvane-cli: %s\n", line.c_str());
}

// Names are kept as they are (UTF-8); a byte that is not UTF-8 becomes U+FFFD.
std::string JsonLine(const nlohmann::json& object)
{
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A job that never ran: with --json its result says why.
int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvane-cli: %s\n", message.c_str());
    if (g_stdout.json)
        SayResult(JsonLine({{"result", {{"ok", false}, {"error", message}, {"outputs", nlohmann::json::array()}}}}));
    return kExitFailed;
}

void PrintUsage(FILE* to)
{
    std::fputs(kUsage, to);
    for (int i = 0; i < kFormatCount; ++i)
        std::fprintf(to, "  %d  %s\n", i, FormatTable[i].text);
    std::fputs(kCommandNotes, to);
}

// A wrong command line: the problem in one line, and where the help is.
const CommandSpec* g_command = nullptr;  // the command being run

int Usage(const std::string& problem)
{
    const CommandSpec* command = g_command;
    std::fprintf(stderr, "morvane-cli: %s (see morvane-cli %s--help)\n", problem.c_str(),
                 command ? (std::string(command->name) + " ").c_str() : "");
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
    case kProbeNotSingleMedia: return "a playlist or list of other files, not a single media file";
    case kProbeTooManyOpen: return "too many files are open (the limit on open files was reached), not a fault of the file";
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

// Files of a join kept open from the probe to the job.
constexpr size_t kJoinInputsKeptOpen = 2;

// A cut or join launched next keeps the file open (ProbeKeeps::FileOpen):
// its job reads the file first and takes the probe's open file.
int ProbeInto(ConversionJob* job, const std::string& path, ProbeKeeps keeps = ProbeKeeps::Nothing)
{
    job->probe_path = const_cast<char*>(path.c_str());
    const int rc = ProbeMedia(job, keeps);
    job->probe_path = const_cast<char*>("");
    return rc;
}

nlohmann::json ProbeJson(const std::string& path, int rc, const ConversionJob& job)
{
    nlohmann::json facts = {{"file", path}, {"result", rc}};
    if (rc < 0) {
        facts["error"] = ProbeMessage(rc);
        return facts;
    }
    const auto codec = [](int id) { return id ? avcodec_get_name(AVCodecID(id)) : "none"; };
    // A file that does not say how long it is (an ASF written to a pipe) has no duration: null, not a number.
    const nlohmann::json duration = job.duration_us >= 0 ? nlohmann::json(job.duration_us) : nlohmann::json(nullptr);
    facts.update({{"duration_us", duration}, {"width", job.source_width}, {"height", job.source_height},
                  {"fps_num", job.source_fps_num}, {"fps_den", job.source_fps_den},
                  {"video_codec", codec(job.video_codec_id)}, {"video_bit_rate", job.video_bit_rate},
                  {"audio_codec", codec(job.audio_codec_id)}, {"audio_bit_rate", job.audio_bit_rate},
                  {"sample_rate", job.audio_sample_rate}, {"channels", job.audio_channels}});
    std::vector<TrackFacts> tracks;
    ListTracks(path.c_str(), &tracks);
    facts["streams"] = nlohmann::json::array();
    for (const TrackFacts& t : tracks)
        facts["streams"].push_back({{"stream", t.index}, {"kind", TrackKindName(t.kind)}, {"codec", t.codec},
                                    {"language", t.language}, {"default", t.is_default}, {"main", t.main},
                                    {"title", t.title}});
    return facts;
}

// The same facts as key=value lines, then a line a stream (the file's first
// stream as 0) and an empty line.
void SayProbeText(const nlohmann::json& facts)
{
    const std::string keys[] = {"duration_us", "width", "height", "fps_num", "fps_den", "video_codec",
                                "video_bit_rate", "audio_codec", "audio_bit_rate", "sample_rate", "channels"};
    Say("file=" + Shown(facts["file"].get<std::string>()));
    Say("result=" + std::to_string(facts["result"].get<int>()));
    if (facts.contains("error")) {
        Say("error=" + facts["error"].get<std::string>());
        Say("");
        return;
    }
    for (const std::string& key : keys)
        Say(key + "=" + (facts[key].is_string() ? facts[key].get<std::string>()
                         : facts[key].is_null() ? "unknown"
                                                : facts[key].dump()));
    for (const nlohmann::json& t : facts["streams"]) {
        const std::string language = t["language"];
        Say("stream=" + t["stream"].dump() + " kind=" + t["kind"].get<std::string>() + " codec=" +
            t["codec"].get<std::string>() + " language=" + (language.empty() ? "-" : Shown(language)) +
            " default=" + (t["default"] ? "1" : "0") + " main=" + (t["main"] ? "1" : "0") +
            " title=" + Shown(t["title"].get<std::string>()));
    }
    Say("");
}

int RunProbe(const Arguments& args)
{
    if (args.files.empty())
        return Usage("probe needs at least one file");
    ConversionJob* job = TheJob();
    int status = kExitOk;
    for (const std::string& path : args.files) {
        const int rc = ProbeInto(job, path);
        if (rc < 0)
            status = kExitFailed;
        const nlohmann::json facts = ProbeJson(path, rc, *job);
        if (g_stdout.json)
            Say(JsonLine(facts));
        else
            SayProbeText(facts);
    }
    return status;
}

std::string OptionText(const OptionSpec& o) { return std::string("--") + o.name; }

// getopt_long returns the letter for an option that has one, else this.
constexpr int kFirstLongOnly = 256;

int OptionIndexOf(int returned)
{
    if (returned >= kFirstLongOnly)
        return returned - kFirstLongOnly;
    for (int i = 0; i < kOptionCount; ++i)
        if (kOptions[i].letter == returned)
            return i;
    return -1;
}

// The argument getopt_long just refused, said the way the user wrote it.
std::string RefusedOption(char** argv, int returned_optopt, bool missing_value)
{
    const int index = returned_optopt ? OptionIndexOf(returned_optopt) : -1;
    if (index >= 0 && returned_optopt < kFirstLongOnly && missing_value)
        return std::string("-") + kOptions[index].letter + " needs a value";
    if (index >= 0)
        return OptionText(kOptions[index]) + (missing_value ? " needs a value" : " takes no value");
    const std::string text = argv[optind - 1];
    if (text.rfind("--", 0) == 0)
        return "unknown option " + Shown(text.substr(0, text.find('=')));
    return "unknown option " + Shown(text);
}

// The long option getopt_long has just returned, as written: the element
// before the value when the value was the next element.
std::string WrittenOption(const OptionSpec& o, char** vector)
{
    const bool value_apart = o.value && optarg == vector[optind - 1];
    const std::string text = vector[optind - (value_apart ? 2 : 1)];
    return text.substr(0, text.find('='));
}

// getopt_long takes any unambiguous prefix; a script's "--sta" would break
// the day another option starts so, so only whole names are taken.
bool WrittenInFull(const OptionSpec& o, char** vector) { return WrittenOption(o, vector) == OptionText(o); }

// Reads the options of `args->command` from argv[first..]: "--name value",
// "--name=value", "-o FILE", "-oFILE", and "--" ending the options. An option
// of another command, or one given twice that is not meant to be, is refused
// with the reason in `problem`.
bool ParseArguments(int argc, char** argv, int first, Arguments* args, std::string* problem)
{
    std::vector<option> longs;
    std::string letters = ":";  // ':' first: a missing value is told apart
    for (int i = 0; i < kOptionCount; ++i) {
        const OptionSpec& o = kOptions[i];
        const int returned = o.letter ? o.letter : kFirstLongOnly + i;
        longs.push_back({o.name, o.value ? required_argument : no_argument, nullptr, returned});
        if (o.letter)
            letters += std::string(1, o.letter) + (o.value ? ":" : "");
    }
    longs.push_back({nullptr, 0, nullptr, 0});
    // getopt_long sees argv[first - 1] as the program's name.
    const int count = argc - first + 1;
    char** vector = argv + first - 1;
    optind = 0;  // a fresh scan, also when called again in one process
    opterr = 0;
    int returned;
    int long_index = -1;
    while ((returned = getopt_long(count, vector, letters.c_str(), longs.data(), &long_index)) != -1) {
        if (returned == '?' || returned == ':') {
            *problem = RefusedOption(vector, optopt, returned == ':');
            return false;
        }
        const OptionSpec& o = kOptions[OptionIndexOf(returned)];
        const bool written_long = long_index >= 0;
        long_index = -1;
        if (written_long && !WrittenInFull(o, vector)) {
            *problem = "unknown option " + Shown(WrittenOption(o, vector)) + " (options are not abbreviated)";
            return false;
        }
        if (!(o.commands & args->command->bit)) {
            *problem = (written_long ? OptionText(o) : std::string("-") + o.letter) +
                       " does not apply to " + args->command->name;
            return false;
        }
        std::vector<std::string>& values = args->given[o.name];
        if (!values.empty() && !o.repeatable) {
            *problem = OptionText(o) + " given twice";
            return false;
        }
        values.push_back(o.value ? optarg : "");
    }
    for (int i = optind; i < count; ++i)
        args->files.push_back(vector[i]);
    return true;
}

// One command's help: its synopsis, what it does, every option it takes.
void PrintCommandHelp(const CommandSpec& command, FILE* to)
{
    std::fprintf(to, "usage: morvane-cli %s\n%s", command.synopsis, command.about);
    std::fprintf(to, "options:\n");
    for (const OptionSpec& o : kOptions) {
        if (!(o.commands & command.bit))
            continue;
        std::string left = o.letter ? std::string("-") + o.letter + ", " : "    ";
        left += OptionText(o) + (o.value ? std::string(" ") + o.value : "");
        std::fprintf(to, "  %-28s %s\n", left.c_str(), o.help);
    }
    if (command.bit & kJobCommands) {
        std::fprintf(to, "formats (--format N):\n");
        for (int i = 0; i < kFormatCount; ++i)
            std::fprintf(to, "  %d  %s\n", i, FormatTable[i].text);
    }
    std::fputs(command.output, to);
    std::fputs(kCommandNotes, to);
}

// The settings dialog's choices: direct without --format, else the format's
// codecs with each unset value at the dialog's default.
bool ReadChoice(const Arguments& args, const EncodingChoice& defaults, EncodingChoice* choice,
                std::string* extension, std::string* problem)
{
    *choice = defaults;
    const std::string format = args.Value("format");
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
    if (args.Has("video-rate"))
        choice->video_bit_rate = ParseRateText(args.Value("video-rate"));
    if (args.Has("audio-rate"))
        choice->audio_bit_rate = ParseRateText(args.Value("audio-rate"));
    if (args.Has("sample-rate"))
        choice->sample_rate = ParseRateText(args.Value("sample-rate"));
    if (args.Has("fps"))
        choice->fps_name = args.Value("fps");
    if (args.Has("size") &&
        !ParseSizeText(args.Value("size"), &choice->width, &choice->height)) {
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

// The name -o gave, reported for the job's one output; with --overwrite
// the output is written beside it and takes the name once complete.
struct Replacing {
    std::string target;  // empty without -o
    bool replace = false;
};

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

// Runs the worker and returns the moment it ends; while it runs, progress
// is printed every 500 ms, as the window polls.
int RunJob(ConversionJob* job, bool join, const std::vector<std::string>& output_paths,
           const Replacing& replacing = {})
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
    return Fail("refused: " + text);
}

// What the launch decided that the user should know: a file an exact cut
// cannot handle is cut at key pictures.
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

// START-END, each a time as --start takes it.
bool ReadSpanText(const std::string& text, CutSpan* span)
{
    const size_t dash = text.find('-');
    return dash != std::string::npos && ReadTimeText(text.substr(0, dash), &span->start_ms) &&
           ReadTimeText(text.substr(dash + 1), &span->end_ms);
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

// -o with --out, --title or --separate, or --overwrite without -o, is a
// wrong command line; so is a job without any place for its output.
bool CheckOutputOptions(const Arguments& args, std::string* problem)
{
    if (args.Has("output") && (args.Has("out") || args.Has("title")))
        *problem = "-o names the output file itself; it does not go with --out or --title";
    else if (args.Has("output") && args.Has("separate"))
        *problem = "-o names one file, but --separate writes one a span: use --out (and --title)";
    else if (args.Has("overwrite") && !args.Has("output"))
        *problem = "--overwrite goes with -o FILE (--out never overwrites: it numbers the name)";
    else if (!args.Has("output") && !args.Has("out"))
        *problem = std::string(args.command->name) + " needs --out FOLDER or -o FILE";
    return problem->empty();
}

bool Exists(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// Where the job writes: --out's folder and title (never overwriting), or
// exactly -o's file, whose extension must be the one the job writes (a
// direct job keeps its input's). Returns kExitOk, or the status of the
// refusal it reported.
int ChooseTarget(const Arguments& args, const std::vector<std::string>& inputs, const std::string& written_ext,
                 const std::string& format_ext, const std::string& title_wanted, OutputTarget* target,
                 Replacing* replacing)
{
    std::string problem;
    if (!args.Has("output")) {
        const std::string folder = args.Value("out");
        if (!CheckOutputFolder(folder, &problem))
            return Fail(problem);
        std::string title = CleanFileTitle(title_wanted);
        // An empty title would write a hidden ".mp4": the input's name, or "joined".
        if (title.empty())
            title = inputs.size() == 1 ? CleanFileTitle(TitleOf(inputs[0])) : "joined";
        *target = {folder, title, format_ext};
        return kExitOk;
    }
    const std::string name = args.Value("output");
    const std::string file = FileNameOf(name);
    if (file.size() <= written_ext.size() || file.compare(file.size() - written_ext.size(), std::string::npos,
                                                          written_ext) != 0 || written_ext.empty())
        return Fail("refused: this job writes a " + (written_ext.empty() ? std::string("file without extension")
                                                                         : written_ext + " file") +
                    " (a direct job keeps its input's container; --format chooses another), so -o " + Shown(name) +
                    " cannot name it");
    const std::filesystem::path path = std::filesystem::u8path(name);
    const std::string folder = path.has_parent_path() ? path.parent_path().u8string() : ".";
    if (!CheckOutputFolder(folder, &problem))
        return Fail(problem);
    for (const std::string& input : inputs)
        if (SameFile(input, name))
            return Fail("refused: -o " + Shown(name) + " is an input of the job");
    std::string title = file.substr(0, file.size() - written_ext.size());
    if (Exists(path)) {
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec))
            return Fail("refused: -o " + Shown(name) + " is a folder");
        if (!args.Has("overwrite"))
            return Fail("refused: " + Shown(name) + " exists; add --overwrite to replace it once the new file is complete");
        title = "." + title + ".partial";
        replacing->replace = true;
    }
    replacing->target = name;
    *target = {folder, title, format_ext};
    return kExitOk;
}

// The file the launch created is the one -o named (a file of that name can
// appear between the check and the launch).
bool CreatedAsNamed(ConversionJob* job, const OutputTarget& target, const Replacing& replacing,
                    const std::string& written_ext, const std::string& created)
{
    if (replacing.target.empty() || replacing.replace || created == target.folder + "/" + target.file_title + written_ext)
        return true;
    ReleaseReservedOutput(job);
    return false;
}

// The spans of list file `path` after those given on the command line.
bool AddListedSpans(const std::string& path, int64_t length_ms, std::vector<CutSpan>* spans)
{
    CutList list;
    CutListError error;
    if (!ReadCutListFile(path, length_ms, &list, &error)) {
        Fail("the list " + Shown(path) + " cannot be used: " + error.Text());
        return false;
    }
    for (const CutSpan& s : SpansOfList(list))
        spans->push_back(s);
    return true;
}

// What is left of the file once `spans` are taken out, into `spans`.
bool KeepWhatIsNotRemoved(const ConversionJob* job, const std::string& input, std::vector<CutSpan>* spans)
{
    std::vector<CutSpan> kept;
    std::string why;
    // A part shorter than a picture would hold nothing.
    const int64_t picture_ms = job->source_fps > 0 ? static_cast<int64_t>(std::ceil(1000 / job->source_fps)) : 40;
    if (!KeptPartsAfterRemoving(*spans, job->duration_us / 1000, picture_ms, &kept, &why)) {
        Fail("refused: " + why + " (" + Shown(input) + ")");
        return false;
    }
    *spans = std::move(kept);
    return true;
}

// A direct cut starts each part at the key picture at or before it: say
// where each part of a removal really runs. The file's clock start is the
// probe's: opening the file again for it would read its whole index again.
void TellKeptParts(const ConversionJob* job, const std::string& input, const std::vector<CutSpan>& parts)
{
    std::vector<int64_t> keys_us;
    std::atomic<bool> cancel{false};
    const InputFacts* facts = LaunchFactsOf(job, 0);
    if (!facts || !facts->Readable() || ScanKeyFrames(input.c_str(), cancel, &keys_us) != kProbeOk)
        return;
    const int64_t origin_us = facts->start_us;
    std::vector<int64_t> keys_ms;
    for (const int64_t us : keys_us)
        keys_ms.push_back((us - origin_us + 999) / 1000);
    for (size_t i = 0; i < parts.size(); ++i) {
        const CutSpan real = PartAtKeyPictures(parts[i], keys_ms);
        std::fprintf(stderr, "morvane-cli: part %zu runs %s-%s (from the key picture at or before %s)\n", i + 1,
                     FormatTimeText(real.start_ms).c_str(), FormatTimeText(real.end_ms).c_str(),
                     FormatTimeText(parts[i].start_ms).c_str());
    }
}

int RunSpans(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
             const std::string& input, const std::string& title)
{
    const bool removing = args.Has("remove") || args.Has("remove-from");
    std::vector<CutSpan> spans;
    for (const std::string& text : args.Values(removing ? "remove" : "span")) {
        CutSpan span;
        if (!ReadSpanText(text, &span))
            return Usage(std::string(removing ? "--remove" : "--span") +
                         " takes START-END, two times such as 00:01:02.500-00:01:10 or 62.5-70: " + Shown(text));
        spans.push_back(span);
    }
    const std::string written_ext = choice.direct ? FileExtensionWithDot(input) : extension;
    OutputTarget target;
    Replacing replacing;
    const int chosen = ChooseTarget(args, {input}, written_ext, extension, title, &target, &replacing);
    if (chosen != kExitOk)
        return chosen;
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input, ProbeKeeps::FileOpen);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    const std::string list = args.Value(removing ? "remove-from" : "spans-from");
    if (!list.empty() && !AddListedSpans(list, job->duration_us / 1000, &spans))
        return kExitFailed;
    if (removing && !KeepWhatIsNotRemoved(job, input, &spans))
        return kExitFailed;
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
    std::vector<std::string> outputs;
    LaunchDecision decided;
    const LaunchRefusal why =
        FillSpansJob(job, input, spans, target, choice, args.Has("separate"), &outputs, nullptr, &decided);
    if (why == LaunchRefusal::TooManyInputs)
        return Fail("refused: a cut takes at most " + std::to_string(kMaxJobInputs) + " spans");
    if (why != LaunchRefusal::None)
        return Refused(why, job, outputs.empty() ? "" : outputs.back());
    if (!CreatedAsNamed(job, target, replacing, written_ext, outputs.front()))
        return Fail("refused: " + Shown(replacing.target) + " appeared meanwhile; it was left as it was");
    TellDecision(decided);
    if (removing && decided.mode == JobMode::Copy)
        TellKeptParts(job, input, spans);
    return RunJob(job, false, outputs, replacing);
}

int CutFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
            const std::string& input, const std::string& title);

void FreeTheJob()
{
    FreeConversionJob(&g_pJob);
}

// The same cut of each file, one job after the other, each into an output
// of its own (the file's title, or TITLE-1, TITLE-2, ... with --title). A
// file that fails leaves the others to go on; a stop ends the batch.
int CutEachFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension)
{
    const int count = static_cast<int>(args.files.size());
    int done = 0, failed = 0;
    for (int i = 0; i < count && !g_stopSignal && !g_stdout.gone; ++i) {
        const std::string& input = args.files[i];
        Say(g_stdout.json ? JsonLine({{"file", {{"file", i + 1}, {"of", count}, {"path", input}}}})
                          : "file " + std::to_string(i + 1) + "/" + std::to_string(count) + " " + Shown(input));
        const std::string title = args.Has("title") ? SpanFileTitle(args.Value("title"), i, count) : TitleOf(input);
        (CutFile(args, choice, extension, input, title) == kExitOk ? done : failed) += 1;
        FreeTheJob();
    }
    const int not_started = count - done - failed;
    SayResult(g_stdout.json ? JsonLine({{"files", {{"done", done}, {"failed", failed}, {"not_started", not_started}}}})
                            : "files done=" + std::to_string(done) + " failed=" + std::to_string(failed) +
                                  " not_started=" + std::to_string(not_started));
    return done == count ? kExitOk : kExitFailed;
}

int RunCut(const Arguments& args)
{
    if (args.files.empty())
        return Usage("cut needs a file");
    if (args.files.size() > 1 && args.Has("output"))
        return Usage("-o names one file, but a cut of several files writes one each: use --out (and --title)");
    const bool keeping = args.Has("span") || args.Has("spans-from");
    const bool removing = args.Has("remove") || args.Has("remove-from");
    const bool spans = keeping || removing;
    if (keeping && removing)
        return Usage("spans to keep (--span, --spans-from) and to remove (--remove, --remove-from) do not go together");
    if (spans && (args.Has("start") || args.Has("end")))
        return Usage("spans and --start/--end do not go together: give every span as a span");
    if (!spans && args.Has("separate"))
        return Usage("--separate goes with --span or --remove");
    if (args.Has("part-chapters") && (!spans || args.Has("separate")))
        return Usage("--part-chapters names the parts of one file: it goes with --span or --remove, without --separate");
    if (!spans && (!args.Has("start") || !args.Has("end")))
        return Usage("cut needs --start and --end (or --span or --remove), and --out or -o");
    EncodingChoice choice;
    std::string extension, problem;
    if (!CheckOutputOptions(args, &problem) || !ReadChoice(args, DefaultCutChoice(kKeepSourceRate), &choice, &extension, &problem))
        return Usage(problem);
    if (args.Has("exact") && !choice.direct)
        return Usage("--exact is a way of cutting directly; it does not go with --format");
    choice.exact = args.Has("exact");
    choice.part_chapters = args.Has("part-chapters");
    if (args.files.size() > 1)
        return CutEachFile(args, choice, extension);
    return CutFile(args, choice, extension, args.files[0], args.Value("title", TitleOf(args.files[0])));
}

int CutFile(const Arguments& args, const EncodingChoice& choice, const std::string& extension,
            const std::string& input, const std::string& title)
{
    if (args.Has("span") || args.Has("spans-from") || args.Has("remove") || args.Has("remove-from"))
        return RunSpans(args, choice, extension, input, title);
    const std::string written_ext = choice.direct ? FileExtensionWithDot(input) : extension;
    OutputTarget target;
    Replacing replacing;
    const int chosen = ChooseTarget(args, {input}, written_ext, extension, title, &target, &replacing);
    if (chosen != kExitOk)
        return chosen;
    ConversionJob* job = TheJob();
    const int rc = ProbeInto(job, input, ProbeKeeps::FileOpen);
    if (rc < 0)
        return Fail(InputProblem(input, rc));
    int64_t start_ms = 0, end_ms = 0;
    if (!ReadTimeText(args.Value("start"), &start_ms) || !ReadTimeText(args.Value("end"), &end_ms))
        return Refused(LaunchRefusal::BadTime);
    if (end_ms > start_ms && !CutSpanIsPossible(start_ms, end_ms, job->duration_us))
        return Fail("refused: the cut starts at " + FormatTimeText(start_ms) + ", past the end of " +
                    Shown(input) + " (" + FormatTimeText(job->duration_us / 1000) + ")");
    std::string output;
    LaunchDecision decided;
    const LaunchRefusal why = FillCutJob(job, input, args.Value("start"), args.Value("end"),
                                         target, choice, &output, nullptr, &decided);
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    if (!CreatedAsNamed(job, target, replacing, written_ext, output))
        return Fail("refused: " + Shown(replacing.target) + " appeared meanwhile; it was left as it was");
    TellDecision(decided);
    return RunJob(job, false, {output}, replacing);
}

int RunJoin(const Arguments& args)
{
    EncodingChoice choice;
    std::string extension, problem;
    if (!CheckOutputOptions(args, &problem) || !ReadChoice(args, DefaultJoinChoice(), &choice, &extension, &problem))
        return Usage(problem);
    if (args.files.size() < 2)
        return Refused(LaunchRefusal::TooFewInputs);
    if (args.files.size() > static_cast<size_t>(kMaxJobInputs))
        return Refused(LaunchRefusal::TooManyInputs);
    const std::string written_ext = choice.direct ? FileExtensionWithDot(args.files[0]) : extension;
    OutputTarget target;
    Replacing replacing;
    const int chosen =
        ChooseTarget(args, args.files, written_ext, extension, args.Value("title", "joined"), &target, &replacing);
    if (chosen != kExitOk)
        return chosen;
    ConversionJob* job = TheJob();
    std::vector<JoinRow> rows;
    for (const std::string& path : args.files) {
        // The first files stay open for the job to read at once; the others
        // are opened again when it reaches them (each holds a descriptor and
        // a few MB), checked then to be the file probed.
        const bool keep_open = rows.size() < kJoinInputsKeptOpen;
        const int rc = ProbeInto(job, path, keep_open ? ProbeKeeps::FileOpen : ProbeKeeps::Nothing);
        if (rc < 0)
            return Fail(InputProblem(path, rc));
        if (job->initial_end_us < 0)
            return Fail(Shown(path) + ": its length is unknown");
        rows.push_back(MakeJoinRow(path, *job));
    }
    std::string output;
    JoinMismatch mismatch;
    const LaunchRefusal why = FillJoinJob(job, rows, target, choice, &output, &mismatch);
    const LayoutDifference& diff = mismatch.tracks;
    if (why == LaunchRefusal::TrackLayoutDiffers && mismatch.tracks_differ)
        return Fail("refused: the tracks of " + Shown(args.files[diff.file]) + " differ from the first file's (" +
                    DescribeLayoutDifference(diff) + "); a direct join cannot continue them: re-encode with --format");
    if (why == LaunchRefusal::DiffersFromFirst)
        return Fail("refused: input " + std::to_string(mismatch.input + 1) + " (" + Shown(args.files[mismatch.input]) +
                    ") cannot be joined directly to the first file: " + JoinDifferenceText(mismatch.how) +
                    "; re-encode with --format instead");
    if (why != LaunchRefusal::None)
        return Refused(why, job, output);
    if (!CreatedAsNamed(job, target, replacing, written_ext, output))
        return Fail("refused: " + Shown(replacing.target) + " appeared meanwhile; it was left as it was");
    return RunJob(job, true, {output}, replacing);
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
    if (Exists(std::filesystem::u8path(out)) && !args.Has("overwrite"))
        return Fail("refused: " + Shown(out) + " exists; add --overwrite to replace it");
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
    SayResult(g_stdout.json ? JsonLine({{"result", {{"ok", true}, {"snapshot", out}}}}) : "snapshot=" + Shown(out));
    return kExitOk;
}

nlohmann::json SecondsPairs(const std::vector<TimeInterval>& intervals)
{
    nlohmann::json list = nlohmann::json::array();
    for (const TimeInterval& t : intervals)
        list.push_back({t.start_us / 1e6, t.end_us / 1e6});
    return list;
}

std::string IntervalText(const TimeInterval& t)
{
    return FormatTimeText((t.start_us + 500) / 1000) + "-" + FormatTimeText((t.end_us + 500) / 1000);
}

int RunDetect(const Arguments& args)
{
    if (args.files.size() != 1)
        return Usage("detect takes exactly one file");
    if (args.Has("edl") && args.Has("json"))
        return Usage("--edl and --json do not go together");
    const std::string& input = args.files[0];
    std::atomic<bool> cancel{false};
    // Ctrl-C stops the scan as it stops a job.
    static std::atomic<std::atomic<bool>*> s_cancel{nullptr};
    s_cancel = &cancel;
    struct sigaction action {}, previous {};
    action.sa_handler = [](int) {
        if (std::atomic<bool>* c = s_cancel.load())
            c->store(true);
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
    DetectedPoints points;
    const int rc = DetectCutPoints(input.c_str(), DetectSettings{}, cancel, nullptr, &points);
    sigaction(SIGINT, &previous, nullptr);
    s_cancel = nullptr;
    if (rc == kDetectCancelled)
        return Fail("stopped");
    if (rc != kProbeOk)
        return Fail(rc == kDetectFilterFailed ? Shown(input) + ": the scan's filters failed" : InputProblem(input, rc));
    if (args.Has("edl")) {
        CutList list;
        for (const TimeInterval& b : points.breaks)
            list.entries.push_back({(b.start_us + 500) / 1000, (b.end_us + 500) / 1000, ""});
        const std::string text = WriteCutList(list, CutListFormat::Edl);
        if (!text.empty() && std::fputs(text.c_str(), stdout) < 0)
            return kExitFailed;
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    }
    if (g_stdout.json) {
        nlohmann::json scenes = nlohmann::json::array();
        for (const int64_t t : points.scene_changes_us)
            scenes.push_back(t / 1e6);
        SayResult(JsonLine({{"result",
                             {{"ok", true},
                              {"file", input},
                              {"breaks", SecondsPairs(points.breaks)},
                              {"meetings", SecondsPairs(points.meetings)},
                              {"black", SecondsPairs(points.black)},
                              {"silence", SecondsPairs(points.silence)},
                              {"scenes", scenes}}}}));
        return kExitOk;
    }
    const std::pair<const char*, const std::vector<TimeInterval>*> kinds[] = {
        {"black", &points.black}, {"silence", &points.silence}};
    for (const auto& [name, list] : kinds)
        for (const TimeInterval& t : *list)
            Say(std::string(name) + "=" + IntervalText(t));
    for (const int64_t t : points.scene_changes_us)
        Say("scene=" + FormatTimeText((t + 500) / 1000));
    for (const TimeInterval& t : points.meetings)
        Say("meeting=" + IntervalText(t));
    for (const TimeInterval& t : points.breaks)
        Say("break=" + IntervalText(t));
    return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    KeepLibraryMessages();  // shown only when a job fails
    if (argc < 2) {
        std::fprintf(stderr, "morvane-cli: no command given\n");
        PrintUsage(stderr);
        return kExitUsage;
    }
    // Asked for, the usage is the answer: on standard output, with success.
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("morvane-cli %s\n", MORVANE_VERSION);
        return kExitOk;
    }
    Arguments args;
    args.command = FindCommand(argv[1]);
    if (!args.command)
        return Usage("unknown command " + Shown(argv[1]) + "; the commands are probe, cut, join, preview and detect");
    g_command = args.command;
    // A reader that goes away is seen as a failed write, not as death.
    std::signal(SIGPIPE, SIG_IGN);
    std::string problem;
    if (!ParseArguments(argc, argv, 2, &args, &problem))
        return Usage(problem);
    if (args.Has("help")) {
        PrintCommandHelp(*args.command, stdout);
        return kExitOk;
    }
    g_stdout.json = args.Has("json");
    int status = kExitUsage;
    switch (args.command->bit) {
    case kProbe: status = RunProbe(args); break;
    case kCut: status = RunCut(args); break;
    case kJoin: status = RunJoin(args); break;
    case kPreview: status = RunPreview(args); break;
    case kDetect: status = RunDetect(args); break;
    }
    g_stopSignalHandlers.reset();  // a signal after the job ran through changed nothing
    FreeTheJob();
    return status;
}
