// SPDX-License-Identifier: GPL-3.0-or-later
// The one record the window, the progress dialog and the media engine share.
#pragma once

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "dropped_track.h"
#include "input_facts.h"
#include "job_outcome.h"

// The window includes this record: it names FFmpeg's types, never their headers.
struct AVOutputFormat;

constexpr int kVideoBufferSize = 1835008;

// A plain record: allocated, then set up by InitConversionJob. What the
// engine has open is held by its own RAII owners, never here.
//
// The fields that cross threads are atomics with exactly one writer at a
// time: progress_percent, input_status, input_reason, current_input and output_error
// (worker -> UI) and cancel_requested (UI -> worker).
struct ConversionJob {
    // Engine working state.
    const AVOutputFormat* output_format;
    int32_t video_codec_id;  // AVCodecID
    int32_t audio_codec_id;  // AVCodecID
    int32_t video_stream_index;
    double input_start_s;
    double audio_written_s;
    double video_written_s;
    int32_t seek_by_bytes;

    // Exchanged between the UI and the engine.
    std::atomic<uint8_t> cancel_requested;
    uint8_t join_mode;  // 0 cut, 1 join
    uint8_t reencode;   // 0 direct, 1 indirect
    char* probe_path;
    char** input_paths;
    char** output_paths;
    wchar_t* snapshot_path;
    std::atomic<uint8_t> input_status[kMaxJobInputs + 1];
    std::atomic<FailureReason> input_reason[kMaxJobInputs + 1];
    // What the media libraries answered when the input failed (an AVERROR
    // code, 0 when none was involved), written with the reason.
    std::atomic<int32_t> input_av_error[kMaxJobInputs + 1];
    double start_s[kMaxJobInputs];
    double end_s[kMaxJobInputs];
    double span_s[kMaxJobInputs];
    int32_t join_total_s;
    std::atomic<int32_t> progress_percent;
    int64_t initial_start_us;
    int64_t initial_end_us;
    int64_t duration_us;
    int32_t video_bit_rate;
    int32_t target_height;
    int32_t source_height;
    int32_t target_width;
    int32_t source_width;
    double target_fps;
    double source_fps;
    int32_t source_fps_den;
    int32_t source_fps_num;
    int32_t audio_bit_rate;
    int32_t audio_sample_rate;
    int32_t audio_channels;
    std::atomic<int32_t> current_input;
    int32_t display_count;
    int32_t input_count;
    // The output file the launch created exclusively (-1: none); the worker
    // takes it over and closes it.
    int32_t output_fd;
    // Why the output could not be written, as an errno value (ENOSPC: the
    // disk is full); 0 when nothing went wrong.
    std::atomic<int32_t> output_error;
    // Direct cuts only: re-encode the pictures around the cut points so the
    // output starts and ends exactly there (1), or cut at key pictures (0).
    uint8_t exact_cut;
    // A cut of several spans (each an input of the same file): each span in
    // a file of its own (1), or all in output 0, one after the other (0).
    uint8_t separate_outputs;
    // Spans in one file: one chapter per span, named by its source times,
    // instead of the source's chapters (1).
    uint8_t part_chapters;
    // Separate outputs: the files the launch created for outputs 1 on
    // ([i - 1] for output i), -1 once the worker has taken one over.
    std::vector<int32_t> later_output_fds;
    // Tracks the job left out, in the order met; written by the worker, read
    // once the job has run through.
    std::vector<DroppedTrack> dropped_tracks;
    // What the last probe found of probe_path, for a launch to reuse.
    InputFacts probe_facts;
    // What the launch knows of each input ([i] for input i), found by one
    // look at each file: the checks before the job and the worker use these
    // instead of opening the file again.
    std::vector<InputFacts> input_facts;
};

// Spans of one cut written one after the other into one file.
inline bool SpansInOneFile(const ConversionJob* job)
{
    return !job->join_mode && job->input_count > 1 && !job->separate_outputs;
}
// The output input `input` is written to.
inline int OutputIndexOf(const ConversionJob* job, int input)
{
    return job->separate_outputs ? input : 0;
}

static_assert(std::atomic<int32_t>::is_always_lock_free, "exchanged fields must be lock-free");
static_assert(std::atomic<uint8_t>::is_always_lock_free, "exchanged fields must be lock-free");
static_assert(std::atomic<FailureReason>::is_always_lock_free, "exchanged fields must be lock-free");

// The process-wide record: allocated by the first Add, freed when the main
// window closes.
extern ConversionJob* g_pJob;

void InitConversionJob(ConversionJob* job);
// Frees `*job` with its path arrays and sets it to null; a null record is left as is.
void FreeConversionJob(ConversionJob** job);

// Called on the worker's thread after every progress update, e.g. by a test
// that holds the worker at a known point. None by default.
using ProgressObserver = void (*)(const ConversionJob* job);
void SetProgressObserver(ProgressObserver observer);
void NotifyProgressObserver(const ConversionJob* job);

// n pointers, each to a zeroed 256-byte buffer. Release with FreePathArray.
char** AllocPathArray(int n);
void FreePathArray(char** paths, int n);

// A heap copy of `text` of exactly its length (plus NUL); replaces a slot of a
// path array, so paths have no length limit.
char* CopyPathText(const char* text);
