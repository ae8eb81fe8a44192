// SPDX-License-Identifier: GPL-3.0-or-later
// A track of an input that the output could not take, as the job reports it.
#pragma once

#include <string>

enum class DropReason {
    ContainerRefuses,  // the output's container cannot hold this track
    NotReencoded,      // re-encoding keeps the main picture and sound only
    NoMatchingTrack,   // a later input of a join has a track the output lacks
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
// One line for a dropped track: "input 1, track 3 (subtitle dvd_subtitle, eng): ..."
std::string DescribeDroppedTrack(const DroppedTrack& track);
