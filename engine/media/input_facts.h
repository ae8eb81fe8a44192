// SPDX-License-Identifier: GPL-3.0-or-later
// What one look at an input file found, kept as plain values so the launch's
// checks and the worker use it instead of opening the file again.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct MediaInput;

// The probe's open file, kept for a job that runs straight after the probe
// (the command-line tool): the worker reads it instead of opening the file
// again. Copies of the facts share it; the first to take it has it.
class HeldInput {
public:
    // `cancel_opaque`: the stop flag of the job whose stop interrupts the
    // file's reads.
    HeldInput(std::unique_ptr<MediaInput> in, const void* cancel_opaque);
    ~HeldInput();
    HeldInput(const HeldInput&) = delete;
    HeldInput& operator=(const HeldInput&) = delete;

    // The open file, once; null after that, or for a job other than the
    // one whose stop it answers to.
    std::unique_ptr<MediaInput> Take(const void* cancel_opaque);

private:
    std::mutex lock_;
    std::unique_ptr<MediaInput> in_;
    const void* cancel_opaque_;
};

// What a direct join compares of a main stream; codec_id 0: no such stream.
struct StreamParams {
    int codec_id = 0;
    int profile = 0;
    int video_delay = 0;
    int width = 0, height = 0;
    int sample_rate = 0, channels = 0;
    std::vector<uint8_t> extradata;
};

struct InputFacts {
    std::string path;  // empty: nothing was looked at
    // The file as it was looked at: the facts hold only while it is unchanged.
    int64_t file_size = -1;
    int64_t modified_ns = 0;
    // A rewrite in place keeps the inode, and may keep the size and restore
    // the modification time; only the change time always moves.
    int64_t changed_ns = 0;
    uint64_t inode = 0;
    int probe_result = -1;  // kProbeOk when the facts below were read

    StreamParams video, audio;
    int64_t duration_us = 0;  // the container's
    int64_t start_us = 0;     // where the container's clock starts (ContainerStartMicroseconds)
    int width = 0, height = 0;  // of the opened picture decoder
    int fps_num = 0, fps_den = 0;  // the base rate, as the probe reports it
    double measured_held_s = 0;  // the end of the last packet the file holds; 0 unknown
    bool direct_copy_possible = true;  // a container of its own extension takes a copy
    bool exact_cut_possible = false;
    std::string exact_cut_why;  // why not, in a few words
    std::vector<std::vector<int>> layout;  // ExtraTrackLayout
    int chapter_count = 0;
    std::shared_ptr<HeldInput> held;  // set only when the probe was asked to keep the file open

    bool Readable() const;  // the file opened and its streams were read
};

// A file time of stat() in nanoseconds.
int64_t NanosecondsOf(const struct timespec& time);

// True when `facts` were read from `path` as it still is (a stat, no open).
bool FactsStillHold(const InputFacts& facts, const std::string& path);

struct InputPlan;
struct MediaInputOptions;
// The facts the launch found of a planned input, null when there are none
// or the file changed since.
const InputFacts* UnchangedLaunchFacts(const InputPlan& input);

// A planned input as OpenMediaInput with `options` opens it: the file kept
// open for it (by the probe or the launch, for the job whose stop is
// `cancel`) when there is one, else opened now. Returns one of the probe codes.
int OpenPlannedInput(const InputPlan& input, const void* cancel, const MediaInputOptions& options, MediaInput& in);
