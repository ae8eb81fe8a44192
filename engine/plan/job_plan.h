// SPDX-License-Identifier: GPL-3.0-or-later
// What a job will do, as plain values: read once from the shared record at
// the worker's door, so the steps below never weigh the record's flags again.
#pragma once

#include <string>
#include <vector>

#include "dropped_track.h"
#include "media_time.h"

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
    MediaSpan span;           // the part a cut takes; empty in a join (the whole file)
    bool whole_file = false;  // a join's input: all of the file, however long
    bool exact = false;       // this input goes through the exact cut
    double progress_span_s = 0;  // the length its progress counts against
    // Per input stream, once the input is set up (an exact cut routes its
    // streams itself).
    std::vector<StreamRoute> routes;
};

struct JobPlan {
    JobMode mode = JobMode::Copy;
    bool join = false;
    bool separate_outputs = false;   // each span of a cut into a file of its own
    bool spans_in_one_file = false;  // several spans of a cut, one after the other
    // Inputs follow one another in one file and meet at seams: a join, or
    // spans in one file.
    bool inputs_meet_at_seams = false;
    std::vector<InputPlan> inputs;
};
