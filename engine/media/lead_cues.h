// SPDX-License-Identifier: GPL-3.0-or-later
// Subtitle cues on screen when a cut starts began before it: the seek to the
// cut's key picture reads on from there and never sees them. They are read
// in a reading of their own, from a while before the start.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "av_handles.h"

// How far back a cue may have begun and still be found.
constexpr int64_t kLeadCueLookBackUs = 30 * 1000000LL;

struct LeadCues {
    // In the order read, on their streams' clocks. A cue that carries its
    // length keeps its start (the track's placing clips it); one without
    // (a bitmap cue shown until the next one) is moved to the start itself.
    std::vector<PacketPtr> packets;
    std::vector<std::pair<int, int64_t>> read;  // stream and start of every cue read before the start

    // The reading of the cut itself met a cue read here already.
    bool Repeats(const AVPacket* pkt) const;
};

// A second reading of the file `opened` (opened by OpenLocalFormat) reads,
// with its stop callback; null when it cannot be opened again as it was.
InputContextPtr OpenAgain(const AVFormatContext* opened);

// The cues of `streams` of the file `opened` (opened by OpenLocalFormat)
// that are shown at `at_us` on its clock but began before it. Nothing when
// `at_us` is the file's start or the file cannot be read again.
LeadCues ReadLeadCues(const AVFormatContext* opened, const std::vector<int>& streams, int64_t at_us);
