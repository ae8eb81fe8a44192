// SPDX-License-Identifier: GPL-3.0-or-later
// The file a job writes, from the launch's reservation to the end: taken
// over by the worker, a muxer on it, its header, and at the end kept whole or
// deleted. The worker's copy and re-encoding and the exact cut all use it.
#pragma once

#include <memory>

#include <atomic>

#include "job_outcome.h"
#include "output_file.h"

struct AVFormatContext;
struct AVOutputFormat;

// The file the launch reserved for `path` (its descriptor `fd`), or, for a
// job filled some other way (fd < 0), one created here under its exact name
// and only if that name is free. Null, with errno in `*error`, when there is none.
std::unique_ptr<OutputFile> OutputFileOf(int fd, const char* path, int* error);

// A muxer of `format` for `path` that a stop of the job (`cancel` set)
// interrupts; null on failure.
AVFormatContext* NewJobMuxer(const AVOutputFormat* format, const char* path, const std::atomic<uint8_t>* cancel);

// Writes the header of `ctx` into the job's own file; `av_error`, when
// given, gets the muxer's answer to a header it refused.
bool WriteHeaderInto(AVFormatContext* ctx, OutputFile* file, int* av_error = nullptr);

// Flushes and closes the file when `keep`; otherwise, or when that fails, it
// is deleted: a half-written file never stays looking like a result. True
// when kept whole; else `why` says what went wrong with the file itself
// (WriteFailed, OutputGone; None when it was only not kept), with the errno
// in `*output_error`.
bool FinishJobFile(OutputFile* file, bool keep, FailureReason* why, std::atomic<int32_t>* output_error);
