// SPDX-License-Identifier: GPL-3.0-or-later
// What the tool's files share: the command line as read, the record of the
// one job, and the ways the tool speaks to the user.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "job_setup.h"
#include "probe.h"

struct ConversionJob;
struct LaunchDecision;

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

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

// The running job's stop: a signal, or standard output closed.
extern volatile std::sig_atomic_t g_stopSignal;
extern std::atomic<std::atomic<uint8_t>*> g_runningJobCancel;
// Back to the handlers the process had: a signal after the job ran through
// changes nothing.
void RestoreStopSignals();

// Standard output carries text lines, or with --json one JSON object a
// line. A reader that closes its end (`| head -1`) stops a running job as
// Ctrl-C does; what is left to say then goes to the error output.
struct StandardOutput {
    bool json = false;
    bool gone = false;
    int error = 0;  // errno of the write that failed
};
extern StandardOutput g_stdout;
extern const CommandSpec* g_command;  // the command being run

// A name as the terminal should show it: control characters (a newline or
// an escape sequence in a file name) are written out, not obeyed.
std::string Shown(const std::string& text);
bool Say(const std::string& line);
// A line of the result: where the user still sees it.
void SayResult(const std::string& line);
// Names are kept as they are (UTF-8); a byte that is not UTF-8 becomes U+FFFD.
std::string JsonLine(const nlohmann::json& object);
// A job that never ran: with --json its result says why.
int Fail(const std::string& message);
// A wrong command line: the problem in one line, and where the help is.
int Usage(const std::string& problem);
std::string ProbeMessage(int code);
std::string InputProblem(const std::string& path, int rc);

// The one record, allocated and set up the way the window does it.
ConversionJob* TheJob();
void FreeTheJob();
// A cut or join launched next keeps the file open (ProbeKeeps::FileOpen):
// its job reads the file first and takes the probe's open file.
int ProbeInto(ConversionJob* job, const std::string& path, ProbeKeeps keeps = ProbeKeeps::Nothing);

// The name -o gave, reported for the job's one output; with --overwrite
// the output is written beside it and takes the name once complete.
struct Replacing {
    std::string target;  // empty without -o
    bool replace = false;
};

// Runs the worker and returns the moment it ends; while it runs, progress
// is printed every 500 ms, as the window polls.
int RunJob(ConversionJob* job, bool join, const std::vector<std::string>& output_paths,
           const Replacing& replacing = {});
int Refused(LaunchRefusal why, const ConversionJob* job = nullptr, const std::string& output = "");
// What the launch decided that the user should know: a file an exact cut
// cannot handle is cut at key pictures.
void TellDecision(const LaunchDecision& decided);

std::string TitleOf(const std::string& path);
bool SameFile(const std::string& a, const std::string& b);
bool Exists(const std::filesystem::path& path);
// -o with --out, --title or --separate, or --overwrite without -o, is a
// wrong command line; so is a job without any place for its output.
bool CheckOutputOptions(const Arguments& args, std::string* problem);
// Where the job writes: --out's folder and title (never overwriting), or
// exactly -o's file, whose extension must be the one the job writes (a
// direct job keeps its input's). Returns kExitOk, or the status of the
// refusal it reported.
int ChooseTarget(const Arguments& args, const std::vector<std::string>& inputs, const std::string& written_ext,
                 const std::string& format_ext, const std::string& title_wanted, OutputTarget* target,
                 Replacing* replacing);
// The file the launch created is the one -o named (a file of that name can
// appear between the check and the launch).
bool CreatedAsNamed(ConversionJob* job, const OutputTarget& target, const Replacing& replacing,
                    const std::string& written_ext, const std::string& created);

int RunProbe(const Arguments& args);
int RunCut(const Arguments& args);
int RunJoin(const Arguments& args);
int RunPreview(const Arguments& args);
int RunDetect(const Arguments& args);

}  // namespace cli
