// SPDX-License-Identifier: GPL-3.0-or-later
// Positioning an input so that reading starts at a key frame at or before a
// point in time: a cut that began after its start point would lose pictures
// the user asked for.
#pragma once

#include <cstdint>

struct AVFormatContext;

enum class SeekMethod { None, Time, Bytes };

// Seeks `format` so that the first key frame of `stream_index` read next has
// a presentation time at or before `target_us` (AV_TIME_BASE units on the
// container's own timeline, start time included). By time wherever the
// demuxer can (its index, or the generic timestamp search on MPEG-TS/PS);
// otherwise by the byte position proportional to the target, stepping back
// until the key frame found is early enough. A stream index of -1 checks the
// first packet of any stream. Returns how the input was positioned; None when
// it could not be (reading then starts at the file's beginning).
SeekMethod SeekAtOrBefore(AVFormatContext* format, int stream_index, int64_t target_us);
