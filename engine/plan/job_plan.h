// SPDX-License-Identifier: GPL-3.0-or-later
// What a job will do, as plain values: read once from the shared record at
// the worker's door, so the steps below never weigh the record's flags again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dropped_track.h"
#include "media_time.h"

struct InputFacts;

// How a job writes its pictures: copied, copied with re-encoded ends (an
// exact cut), or all re-encoded.
enum class JobMode { Copy, Exact, Reencode };

// What becomes of one stream of an input, decided once when the input's
// output streams are set up; the packet loop only follows it.
enum class RouteKind {
    Drop,       // nothing of it reaches the output (see StreamRoute::reason)
    Copy,       // its packets as they are
    Reencode,   // decoded and encoded again
};
// The part a stream plays: the picture and sound a job measures by, or
// another track.
enum class StreamRole { Picture, Sound, Other };

struct StreamRoute {
    RouteKind kind = RouteKind::Drop;
    StreamRole role = StreamRole::Other;
    DropReason reason = DropReason::ContainerRefuses;  // a dropped stream's, as reported
};

struct InputPlan {
    std::string path;
    std::string output_path;  // the file it is written to
    MediaSpan span;           // the part a cut takes; empty in a join (the whole file)
    bool whole_file = false;  // a join's input: all of the file, however long
    bool exact = false;       // this input goes through the exact cut
    double progress_span_s = 0;  // the length its progress counts against
    double span_s = 0;           // a cut's length, as the launch measured it
    // What the launch found of the file; good only while the file is
    // unchanged (UnchangedLaunchFacts). Null: nothing was found.
    const InputFacts* launch_facts = nullptr;
    // Per input stream, once the input is set up (an exact cut routes its
    // streams itself).
    std::vector<StreamRoute> routes;
};

// What a re-encoding writes: the codecs and their settings as chosen.
struct EncodeTargets {
    int video_codec_id = 0;  // AVCodecID
    int audio_codec_id = 0;  // AVCodecID
    int video_bit_rate = 0;
    int width = 0, height = 0;
    double fps = 0;  // 0: the source's own rate
    int audio_bit_rate = 0;
    int sample_rate = 0;
    int channels = 0;
};

// What the steps below the door report into besides the output file: the
// tracks left out (read once the job has run through), how far the current
// input has got, why the output could not be written, and the user's stop.
struct JobReports {
    std::vector<DroppedTrack>* dropped_tracks = nullptr;
    const std::atomic<uint8_t>* cancel = nullptr;
    std::atomic<int32_t>* progress_percent = nullptr;
    std::atomic<int32_t>* output_error = nullptr;  // errno of a failed write
    std::function<void()> progress_changed;         // after each progress update
    bool Cancelled() const { return cancel && cancel->load() != 0; }
    // `notify`: a step of the work, not a reset at an input's start or end.
    void Progress(int32_t percent, bool notify = true) const
    {
        if (progress_percent)
            *progress_percent = percent;
        if (notify && progress_changed)
            progress_changed();
    }
    void OutputError(int32_t error) const
    {
        if (output_error)
            *output_error = error;
    }
};

struct JobPlan {
    JobMode mode = JobMode::Copy;
    bool join = false;
    bool separate_outputs = false;   // each span of a cut into a file of its own
    bool spans_in_one_file = false;  // several spans of a cut, one after the other
    // Inputs follow one another in one file and meet at seams: a join, or
    // spans in one file.
    bool inputs_meet_at_seams = false;
    // Spans of one cut in one file: a chapter for each, named by the source
    // times it holds, in place of the source's chapters.
    bool part_chapters = false;
    std::vector<InputPlan> inputs;
    EncodeTargets encode;  // a re-encoding's
};
