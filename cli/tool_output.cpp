// SPDX-License-Identifier: GPL-3.0-or-later
// What the tool says: text or JSON lines on standard output, problems on the
// error output.
#include "commands.h"

#include <cerrno>
#include <cstdio>

#include "media_input.h"

namespace cli {

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

void SayResult(const std::string& line)
{
    if (!Say(line))
        std::fprintf(stderr, "morvane-cli: %s\n", line.c_str());
}

std::string JsonLine(const nlohmann::json& object)
{
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvane-cli: %s\n", message.c_str());
    if (g_stdout.json)
        SayResult(JsonLine({{"result", {{"ok", false}, {"error", message}, {"outputs", nlohmann::json::array()}}}}));
    return kExitFailed;
}

const CommandSpec* g_command = nullptr;

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

std::string InputProblem(const std::string& path, int rc)
{
    return Shown(path) + ": " + ProbeMessage(rc);
}

}  // namespace cli
