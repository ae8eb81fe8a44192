// What must match for a direct join, checked before the job starts: the
// packets of every file are copied into an output made for the first one.
#pragma once

#include <string>
#include <vector>

enum class JoinDifference {
    None,
    Tracks,         // one has a picture or sound the other lacks
    VideoCodec,
    VideoSettings,  // profile, B-pictures, size or the decoder's parameter sets
    AudioCodec,     // codec, or its own set-up (profile)
    SampleRate,
    Channels,
};

struct JoinMismatch {
    int input = -1;  // index into the paths; -1 when all match
    JoinDifference how = JoinDifference::None;
};

// The first file from the second on that cannot be copied after the first,
// and how it differs. A file that cannot be opened is left to the job,
// which says why.
JoinMismatch FindDirectJoinMismatch(const std::vector<std::string>& paths);

// In plain English, for the command-line tool.
const char* JoinDifferenceText(JoinDifference how);
