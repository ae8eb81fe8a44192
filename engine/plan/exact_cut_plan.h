// SPDX-License-Identifier: GPL-3.0-or-later
// The plan of an exact cut, made from facts of the video packets around the
// span alone (no file): which run of packets is copied as it is, which
// pictures before and after it are re-encoded, and how their times fit.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

// The codecs an exact cut re-encodes. All but H.264 may drop the leading
// pictures of the first copied key picture (they belong to the group before,
// and are re-encoded instead): HEVC's RASL pictures, the B-pictures of an
// open MPEG-2 or MPEG-4 group. An H.264 copy starts at an IDR picture.
enum class CutCodec { H264, Hevc, Mpeg4, Mpeg2, Vp9, Av1 };

// One video packet read from a key picture before the span on, decoding order.
struct PacketFacts {
    int64_t pts = AV_NOPTS_VALUE;
    int64_t dts = AV_NOPTS_VALUE;
    int64_t duration = 0;
    bool key = false;
    bool clean = false;  // a copy may begin here: no reference to earlier pictures
    int size = 0;
};

struct CutPlan {
    int64_t start = 0, end = 0;  // [start, end) on the video stream's clock
    int64_t first_pts = 0;       // the span's first picture
    int64_t origin_pts = 0;      // becomes 0 in the output: the first picture, or sound before it
    int64_t end_pts = 0;         // end of the last picture
    int64_t frame_duration = 1;
    int copy_begin = -1, copy_end = -1;  // scanned indices, decoding order
    std::vector<bool> dropped;           // leading pictures of the first copied key picture
    int64_t copy_min = 0, copy_max = 0;
    int64_t copy_first_dts = 0;  // the first copied picture's decoding time, as written
    int head_feed_end = -1;  // the last packet the head's decoder needs
    int tail_from = -1;      // where the tail's decoder starts
    int head_count = 0, copy_count = 0, tail_count = 0;
    int64_t head_dts_shift = 0;
    bool HasCopy() const { return copy_begin >= 0; }
};

// Fills `plan` (start and end set by the caller, on the video stream's clock)
// from the packets of `scan`; `reached_eof` says the list ends with the file.
// False when no picture lies in the span.
bool MakeCutPlan(const std::vector<PacketFacts>& scan, bool reached_eof, CutCodec codec, CutPlan* plan);
