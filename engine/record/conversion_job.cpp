// SPDX-License-Identifier: GPL-3.0-or-later
#include "conversion_job.h"

#include <cstdlib>
#include <cstring>

ConversionJob* g_pJob = nullptr;

namespace {
char g_emptyPath[1] = "";
}

void InitConversionJob(ConversionJob* job)
{
    job->probe_path = g_emptyPath;
    job->video_stream_index = -1;
    job->current_input = -1;
    job->progress_percent = 0;
    job->cancel_requested = 0;
    // Not asked for, but lets a launch release the previous job's paths.
    job->input_paths = nullptr;
    job->output_paths = nullptr;
    job->input_count = 0;
    job->output_fd = -1;
    job->output_error = 0;
    job->exact_cut = 0;
    job->separate_outputs = 0;
    job->part_chapters = 0;
}

char** AllocPathArray(int n)
{
    if (n <= 0)
        return nullptr;
    char** paths = static_cast<char**>(std::calloc(static_cast<size_t>(n), sizeof(char*)));
    if (!paths)
        return nullptr;
    for (int i = 0; i < n; ++i)
        paths[i] = static_cast<char*>(std::calloc(256, 1));
    return paths;
}

void FreePathArray(char** paths, int n)
{
    if (!paths)
        return;
    for (int i = 0; i < n; ++i)
        std::free(paths[i]);
    std::free(paths);
}

char* CopyPathText(const char* text)
{
    const size_t len = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(len + 1));
    if (copy)
        std::memcpy(copy, text, len + 1);
    return copy;
}

namespace {
std::atomic<ProgressObserver> g_progressObserver{nullptr};
}

void SetProgressObserver(ProgressObserver observer) { g_progressObserver = observer; }

void NotifyProgressObserver(const ConversionJob* job)
{
    if (const ProgressObserver observer = g_progressObserver.load())
        observer(job);
}

void FreeConversionJob(ConversionJob** job)
{
    if (!*job)
        return;
    FreePathArray((*job)->input_paths, (*job)->input_count);
    FreePathArray((*job)->output_paths, (*job)->input_count);
    delete *job;
    *job = nullptr;
}
