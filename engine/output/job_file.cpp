// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_file.h"

#include <cerrno>

#include <fcntl.h>

#include "container_rules.h"
#include "media_input.h"

std::unique_ptr<OutputFile> OutputFileOf(int fd, const char* path, int* error)
{
    if (!path)
        return nullptr;
    if (fd < 0)
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    return std::make_unique<OutputFile>(fd, path);
}

AVFormatContext* NewJobMuxer(const AVOutputFormat* format, const char* path, const std::atomic<uint8_t>* cancel)
{
    AVFormatContext* ctx = nullptr;
    if (avformat_alloc_output_context2(&ctx, format, nullptr, path) < 0 || !ctx)
        return nullptr;
    ctx->interrupt_callback = CancelCallback(cancel);
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

bool FinishJobFile(OutputFile* file, bool keep, FailureReason* why, std::atomic<int32_t>* output_error)
{
    *why = FailureReason::None;
    const bool flushed = keep && file->Flush();
    if (file->error() != 0)
        *output_error = file->error();
    if (!flushed) {
        if (file->error() != 0)
            *why = FailureReason::WriteFailed;
        file->Delete();
        return false;
    }
    if (!file->Close()) {
        *why = file->moved() ? FailureReason::OutputGone : FailureReason::WriteFailed;
        if (!file->moved())
            *output_error = file->error();  // written, but not known to be whole
        return false;
    }
    return true;
}
