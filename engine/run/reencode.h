// SPDX-License-Identifier: GPL-3.0-or-later
// Indirect mode: decode every packet and encode it again to the job's
// targets. The encoders live for the whole job (a join feeds them all its
// inputs, and they are drained once at the end); pictures are scaled and
// encoded on a thread of their own while the worker decodes on; the
// resampler lives for one input and follows the sound's format.
#pragma once

#include <memory>

#include "job_plan.h"

struct JobOutput;
struct InputRun;
struct AVPacket;
struct AVStream;

class Reencoder {
public:
    Reencoder(const JobPlan& plan, const JobReports& reports);
    ~Reencoder();
    Reencoder(const Reencoder&) = delete;
    Reencoder& operator=(const Reencoder&) = delete;

    // Configure and open the encoder behind a freshly added output stream
    // (first input), or check that a later input can feed the open one.
    bool SetUpVideo(JobOutput& out, InputRun& run, AVStream* out_stream);
    bool SetUpAudio(JobOutput& out, InputRun& run, AVStream* out_stream);

    // Before an input's packet loop, e.g. scaler and resampler.
    bool BeginInput(JobOutput& out, InputRun& run);
    // False when writing failed: the input fails and its loop ends.
    bool VideoPacket(JobOutput& out, InputRun& run, const AVPacket* pkt);
    bool AudioPacket(JobOutput& out, InputRun& run, const AVPacket* pkt);
    // A cut has all its pictures and sound.
    bool SpanReached(const InputRun& run) const;
    // Seconds of this input handed to the encoders so far.
    double InputSeconds(const InputRun& run) const;
    // The input's time that became the input's start in the output, and
    // that start (microseconds); AV_NOPTS_VALUE before the first picture or sound.
    int64_t InputOriginMicroseconds() const;
    int64_t InputOffsetMicroseconds() const;
    // After the loop: drain the decoders and the sample queue.
    bool EndInput(JobOutput& out, InputRun& run);
    // After the last input, before the trailer: drain the encoders.
    bool FinishJob(JobOutput& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};
