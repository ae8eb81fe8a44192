// SPDX-License-Identifier: GPL-3.0-or-later
// What must match for a direct join, checked before the job starts: the
// packets of every file are copied into an output made for the first one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "input_facts.h"

enum class JoinDifference {
    None,
    Tracks,         // one has a picture or sound the other lacks
    VideoCodec,
    VideoSettings,  // profile, B-pictures, size or the decoder's parameter sets
    AudioCodec,     // codec, or its own set-up (profile)
    SampleRate,
    Channels,
};

// The first file of a direct join whose tracks differ from the first file's.
struct LayoutDifference {
    size_t file = 0;  // index into the paths
    int kind = 0;     // AVMediaType of the differing tracks
    int track = 0;    // 1-based track of that kind whose codec differs; 0: their number differs
    int count = 0, first_count = 0;
    std::string codec, first_codec;
};

struct JoinMismatch {
    int input = -1;  // index into the paths; -1 when all match
    JoinDifference how = JoinDifference::None;
    bool copy_possible = true;   // a container takes a copy of the first file's codecs
    bool tracks_differ = false;  // sound, subtitle or data tracks differ: `tracks` says how
    LayoutDifference tracks;
};

// One look at every file of a direct join, each opened once: whether the
// first can be copied at all, the first file from the second on that cannot
// be copied after the first and how it differs, and the first whose other
// tracks (kind, number and codec of every sound, subtitle and data track)
// differ. A file that cannot be opened is left to the job, which says why.
JoinMismatch CheckDirectJoinFiles(const std::vector<std::string>& paths);
// The same from the facts of each file, found before (no file is opened).
JoinMismatch CheckDirectJoinFiles(const std::vector<InputFacts>& files);

// False when all files have the same tracks; files that do not open are the worker's.
bool FindTrackLayoutDifference(const std::vector<std::string>& paths, LayoutDifference* diff);

// In plain English, for the command-line tool.
const char* JoinDifferenceText(JoinDifference how);
// "2 audio tracks, the first file has 1" and the like.
std::string DescribeLayoutDifference(const LayoutDifference& diff);
