// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A job written down to run later: what the user chose in a settings dialog,
// without the output file a launch creates. The batch cut and the queue keep
// their jobs this way; each is turned into a ConversionJob only when its
// turn comes, through the same launch a single job takes.

#include "job_setup.h"

#include <cstdint>
#include <string>
#include <vector>

struct ConversionJob;

enum class QueuedKind { Cut, Join };
enum class QueuedState { Queued, Running, Done, Failed, Stopped };

// Why a job did not end done.
enum class QueuedProblem {
    None,
    Unopened,     // `code`: the probe's code for `file`
    TooShort,     // `file` ends before a span starts
    NothingLeft,  // removing the spans leaves nothing of `file`
    Refused,      // `code`: the LaunchRefusal
    InputFailed,  // `code`: the FailureReason of `file`
    Stopped,      // the user stopped it
    Interrupted,  // the program ended while it ran
};

struct QueuedOutcome {
    QueuedProblem problem = QueuedProblem::None;
    int code = 0;
    std::string file;
};

struct QueuedJob {
    uint64_t id = 0;  // unique within its list: rows follow a job, not a place
    QueuedKind kind = QueuedKind::Cut;
    std::vector<std::string> files;  // a cut: one file; a join: in order
    std::vector<CutSpan> spans;      // a cut: at least one, ms of the file
    bool remove_spans = false;       // the spans mark what to cut away
    bool separate = false;           // a file a span
    EncodingChoice choice;
    OutputTarget target;
    QueuedState state = QueuedState::Queued;
    std::vector<std::string> outputs;  // what it left on disk
    QueuedOutcome outcome;
    bool cut_at_keys = false;  // exact asked for, but the file could only be cut at key pictures
};

// Looks at the job's files and fills `job` as the window's launch would,
// creating its output files (named in `outputs`); `decided` says how it will
// be cut. A file that ends before a span starts is refused as too short,
// before anything is created.
QueuedOutcome PrepareQueuedJob(const QueuedJob& queued, ConversionJob* job, std::vector<std::string>* outputs,
                               LaunchDecision* decided);

// What a record that has run through came to: done, stopped, or the first
// failed input with its reason.
QueuedOutcome OutcomeOfRun(const ConversionJob& job, QueuedState* state, std::vector<std::string>* kept);
