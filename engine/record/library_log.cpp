// SPDX-License-Identifier: GPL-3.0-or-later
#include "library_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr size_t kMaxKeptLines = 200;
// The log file is capped: past this size it becomes <name>.1 (replacing the
// one before) and a new file starts, so at most twice this is kept.
constexpr long kLogFileCap = 1 << 20;

struct KeptMessages {
    std::mutex mutex;
    std::deque<std::string> lines;
    std::string partial;  // a line the libraries are still writing
    FILE* file = nullptr;
    std::string path;
    long size = 0;  // of the file, as written so far
};

FILE* OpenLog(KeptMessages& kept)
{
    kept.file = std::fopen(kept.path.c_str(), "ae");
    kept.size = 0;
    if (kept.file && std::fseek(kept.file, 0, SEEK_END) == 0)
        kept.size = std::ftell(kept.file);
    return kept.file;
}

void WriteToLog(KeptMessages& kept, const char* text)
{
    if (kept.size >= kLogFileCap) {
        std::fclose(kept.file);
        std::rename(kept.path.c_str(), (kept.path + ".1").c_str());
        if (!OpenLog(kept))
            return;
    }
    std::fputs(text, kept.file);
    std::fflush(kept.file);
    kept.size += static_cast<long>(std::strlen(text));
}

KeptMessages& Kept()
{
    static KeptMessages kept;
    return kept;
}

void KeepMessage(void* avcl, int level, const char* format, va_list args)
{
    if (level > AV_LOG_WARNING)
        return;
    thread_local int print_prefix = 1;
    char text[1024];
    av_log_format_line2(avcl, level, format, args, text, sizeof text, &print_prefix);
    KeptMessages& kept = Kept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (kept.file)
        WriteToLog(kept, text);
    kept.partial += text;
    size_t newline;
    while ((newline = kept.partial.find('\n')) != std::string::npos) {
        kept.lines.push_back(kept.partial.substr(0, newline + 1));
        kept.partial.erase(0, newline + 1);
        if (kept.lines.size() > kMaxKeptLines)
            kept.lines.pop_front();
    }
}

}  // namespace

void KeepLibraryMessages(const std::string& log_path)
{
    KeptMessages& kept = Kept();
    {
        std::lock_guard<std::mutex> lock(kept.mutex);
        if (!log_path.empty() && !kept.file) {
            kept.path = log_path;
            OpenLog(kept);
        }
    }
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(KeepMessage);
}

std::string TakeLibraryMessages()
{
    KeptMessages& kept = Kept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    std::string text;
    for (const std::string& line : kept.lines)
        text += line;
    text += kept.partial;
    kept.lines.clear();
    kept.partial.clear();
    return text;
}
