// SPDX-License-Identifier: GPL-3.0-or-later
#include "dropped_track.h"

#include <algorithm>

extern "C" {
#include <libavutil/avutil.h>
}

const char* TrackKindName(int kind)
{
    const char* name = av_get_media_type_string(static_cast<AVMediaType>(kind));
    return name ? name : "unknown";
}

namespace {

// What a re-encode keeps, and that this track is not of it.
std::string NotReencodedText(int kind)
{
    const std::string kept = "re-encoding keeps the main picture and every sound and subtitle track, ";
    switch (kind) {
    case AVMEDIA_TYPE_ATTACHMENT: return kept + "no attachment";
    case AVMEDIA_TYPE_DATA: return kept + "no data or timecode track";
    case AVMEDIA_TYPE_VIDEO: return kept + "no further picture track";
    default: return kept + "nothing else";
    }
}

}  // namespace

std::string DescribeDroppedTrack(const DroppedTrack& t, bool name_input)
{
    std::string text = (name_input ? "input " + std::to_string(t.input + 1) + ", " : std::string()) + "track " +
                       std::to_string(t.stream) + " (" + TrackKindName(t.kind) + " " + t.codec +
                       (t.language.empty() ? "" : ", " + t.language) + "): ";
    switch (t.reason) {
    case DropReason::ContainerRefuses: return text + "the output's container cannot hold it";
    case DropReason::NotReencoded: return text + NotReencodedText(t.kind);
    case DropReason::NoMatchingTrack: return text + "the output has no track of its kind left to continue";
    case DropReason::TimecodeNotCopied:
        return text + "a timecode track cannot be copied into MP4 (its muxer makes one only from a start time)";
    }
    return text;
}

std::vector<DroppedTrack> TracksToName(const std::vector<DroppedTrack>& dropped, bool join)
{
    if (join)
        return dropped;
    std::vector<DroppedTrack> named;
    for (const DroppedTrack& t : dropped)
        if (std::none_of(named.begin(), named.end(), [&](const DroppedTrack& n) { return n.stream == t.stream; }))
            named.push_back(t);
    return named;
}
