// SPDX-License-Identifier: GPL-3.0-or-later
// What a job will do, as plain values: read once from the shared record at
// the worker's door, so the steps below never weigh the record's flags again.
#pragma once

#include <string>
#include <vector>

#include "media_time.h"

// How a job writes its pictures: copied, copied with re-encoded ends (an
// exact cut), or all re-encoded.
enum class JobMode { Copy, Exact, Reencode };

struct InputPlan {
    std::string path;
    MediaSpan span;      // the part a cut takes; empty in a join (the whole file)
    bool exact = false;  // this input goes through the exact cut
};

struct JobPlan {
    JobMode mode = JobMode::Copy;
    bool join = false;
    bool separate_outputs = false;   // each span of a cut into a file of its own
    bool spans_in_one_file = false;  // several spans of a cut, one after the other
    std::vector<InputPlan> inputs;
};
