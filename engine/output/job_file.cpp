// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_file.h"

#include <cerrno>

#include <fcntl.h>

#include "container_rules.h"
#include "media_input.h"

std::unique_ptr<OutputFile> TakeOutputFile(ConversionJob* job, int index)
{
    int fd = -1;
    if (index == 0) {
        fd = job->output_fd;
        job->output_fd = -1;
    } else if (static_cast<size_t>(index - 1) < job->later_output_fds.size()) {
        fd = job->later_output_fds[index - 1];
        job->later_output_fds[index - 1] = -1;
    }
    const char* path = job->output_paths ? job->output_paths[index] : nullptr;
    if (!path)
        return nullptr;
    if (fd < 0)
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        job->output_error = errno;
        return nullptr;
    }
    return std::make_unique<OutputFile>(fd, path);
}

AVFormatContext* NewJobMuxer(ConversionJob* job, const AVOutputFormat* format, const char* path)
{
    AVFormatContext* ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, format, nullptr, path) < 0 || !ctx)
        return nullptr;
    ctx->interrupt_callback = CancelCallback(job);
    // Written in whole buffers, not one system call per packet: nothing
    // reads the file before the job ends, and a job that fails deletes it.
    ctx->flush_packets = 0;
    return ctx;
}

bool WriteHeaderInto(AVFormatContext* ctx, OutputFile* file, int* av_error)
{
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVDictionary** meta = &ctx->streams[i]->metadata;
        if (const AVDictionaryEntry* e = av_dict_get(*meta, "language", nullptr, 0))
            av_dict_set(meta, "language", ContainerLanguage(ctx->oformat, e->value).c_str(), 0);
    }
    if (!(ctx->oformat->flags & AVFMT_NOFILE)) {
        ctx->pb = file ? file->OpenWriter() : nullptr;
        if (!ctx->pb)
            return false;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    const int rc = avformat_write_header(ctx, nullptr);
    if (rc < 0 && av_error)
        *av_error = rc;
    return rc >= 0;
}

bool FinishJobFile(ConversionJob* job, OutputFile* file, bool keep, FailureReason* why)
{
    *why = FailureReason::None;
    const bool flushed = keep && file->Flush();
    if (file->error() != 0)
        job->output_error = file->error();
    if (!flushed) {
        if (file->error() != 0)
            *why = FailureReason::WriteFailed;
        file->Delete();
        return false;
    }
    if (!file->Close()) {
        *why = file->moved() ? FailureReason::OutputGone : FailureReason::WriteFailed;
        if (!file->moved())
            job->output_error = file->error();  // written, but not known to be whole
        return false;
    }
    return true;
}
