// SPDX-License-Identifier: GPL-3.0-or-later
#include "dropped_track.h"

extern "C" {
#include <libavutil/avutil.h>
}

const char* TrackKindName(int kind)
{
    const char* name = av_get_media_type_string(static_cast<AVMediaType>(kind));
    return name ? name : "unknown";
}

std::string DescribeDroppedTrack(const DroppedTrack& t)
{
    std::string text = "input " + std::to_string(t.input + 1) + ", track " + std::to_string(t.stream) + " (" +
                       TrackKindName(t.kind) + " " + t.codec + (t.language.empty() ? "" : ", " + t.language) + "): ";
    switch (t.reason) {
    case DropReason::ContainerRefuses: return text + "the output's container cannot hold it";
    case DropReason::NotReencoded: return text + "re-encoding keeps only the main picture and sound";
    case DropReason::NoMatchingTrack: return text + "the output has no track of its kind left to continue";
    }
    return text;
}
