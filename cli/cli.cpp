// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: every command and option, their help, and the tool's entry.
#include "cli.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <iterator>

#include "commands.h"
#include "job_setup.h"
#include "library_log.h"

namespace cli {

namespace {

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
    "  only the pictures around them (H.264, HEVC, MPEG-2, VP9, AV1, MPEG-4 Part 2 with packed\n"
    "  B-frames too, also in transport and program streams; others cut at key pictures)\n"
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

const CommandSpec* FindCommand(const std::string& name)
{
    for (const CommandSpec& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void PrintUsage(FILE* to)
{
    std::fputs(kUsage, to);
    for (int i = 0; i < kFormatCount; ++i)
        std::fprintf(to, "  %d  %s\n", i, FormatTable[i].text);
    std::fputs(kCommandNotes, to);
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

}  // namespace

}  // namespace cli

int RunCli(int argc, char** argv)
{
    using namespace cli;
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
    RestoreStopSignals();
    FreeTheJob();
    return status;
}
