// SPDX-License-Identifier: GPL-3.0-or-later
// A track of an input that the output could not take, as the job reports it.
#pragma once

#include <string>
#include <vector>

enum class DropReason {
    ContainerRefuses,  // the output's container cannot hold this track
    NotReencoded,      // re-encoding keeps one picture track, the sound and the subtitles
    NoMatchingTrack,   // a later input of a join has a track the output lacks
    TimecodeNotCopied,  // MP4 holds a timecode track, but its muxer makes it only from a start time
};

struct DroppedTrack {
    int input = 0;   // index of the job's input
    int stream = 0;  // index of the stream in that input
    int kind = 0;    // AVMediaType
    std::string codec;
    std::string language;  // empty when the file names none
    DropReason reason = DropReason::ContainerRefuses;
};

// "video", "audio", "subtitle", "data", "attachment".
const char* TrackKindName(int kind);
// One line for a dropped track: "input 1, track 3 (subtitle dvd_subtitle, eng): ...";
// without `name_input` (the spans of one file) "track 3 (...): ...".
std::string DescribeDroppedTrack(const DroppedTrack& track, bool name_input = true);
// The tracks a job names as left out. The spans of one file (not a join)
// leave out the same tracks of that file: each is named once, by its first.
std::vector<DroppedTrack> TracksToName(const std::vector<DroppedTrack>& dropped, bool join);
