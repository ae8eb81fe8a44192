// SPDX-License-Identifier: GPL-3.0-or-later
// How a job's inputs reach the output, chosen once per job from its plan: a
// copy of the packets or a re-encoding. The worker's steps are the same for
// both; what differs at each step is here, so the worker tests no mode.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "job_outcome.h"
#include "job_output.h"
#include "job_plan.h"

// What the end of a cut asks of the packet just read.
enum class CutEnd {
    NotYet,     // write it
    SkipThis,   // the cut is complete, but more sound may still follow
    WriteLast,  // the cut is complete; this sound still belongs to it
    Stop,       // the cut is complete
};

class InputRoute {
public:
    virtual ~InputRoute() = default;

    // The route of each main stream: Copy or Reencode.
    virtual RouteKind MainKind() const = 0;
    virtual int DecoderThreads() const = 0;
    virtual const AVOutputFormat* OutputFormat(const AVFormatContext* in, const char* output_path) const = 0;
    // A fresh output's muxer was made.
    virtual void StartOutput(JobOutput& out) = 0;
    // The output streams this input feeds, added or checked.
    virtual bool SetUpStreams(JobOutput& out, InputRun& run) = 0;
    // Why an input whose streams the written output cannot take fails.
    virtual FailureReason RefusalOfLaterInput() const = 0;
    // Right after the header, once per output.
    virtual void HeaderWritten(JobOutput& out, const InputRun& run) = 0;
    // Where this input starts in the output.
    virtual int64_t StartOffset(const JobOutput& out) const = 0;
    virtual bool BeginInput(JobOutput& out, InputRun& run) = 0;
    // A cut's packet: has the cut got all it needs?
    virtual CutEnd AtCutEnd(const JobOutput& out, InputRun& run, const AVPacket* pkt) = 0;
    // After the input's last packet; false when the input fails.
    virtual bool EndInput(JobOutput& out, InputRun& run) = 0;
    // Seconds of this input that reached the output.
    virtual double WrittenSeconds(const JobOutput& out, const InputRun& run) const = 0;
    virtual bool WroteNothing(const JobOutput& out, const InputRun& run, int64_t packets_before) const = 0;
    // The input has a picture, but not one of it reached the output.
    virtual bool LostThePicture(const JobOutput& out, const InputRun& run, int64_t pictures_before) const = 0;
};

// The route of a job's copied or re-encoded inputs (an exact cut runs apart).
// `plan` outlives the route.
std::unique_ptr<InputRoute> MakeInputRoute(const JobPlan& plan, const JobReports& reports);
std::unique_ptr<InputRoute> MakeCopyRoute(const JobPlan& plan, const JobReports& reports);
std::unique_ptr<InputRoute> MakeReencodeRoute(const JobPlan& plan, const JobReports& reports);

// The route of every stream of a set-up input: its main streams take
// `main_kind`, the other tracks kept are copied (or converted, when they
// have a decoder), the rest dropped with the reason the job reported.
std::vector<StreamRoute> RoutesOfStreams(const InputRun& run, RouteKind main_kind,
                                         const std::vector<DroppedTrack>& dropped);
