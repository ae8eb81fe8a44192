// SPDX-License-Identifier: GPL-3.0-or-later
// Entering an MP3 stream mid-way. A Layer III frame's data may begin in the
// frames before it (the bit reservoir, up to 511 bytes back): a decoder
// given a frame without them plays it silent, and the next ones too while
// they still reach back. A copy that starts at such a frame rewrites it as
// one that holds its own data, in a frame long enough for it, so that it
// decodes alone, in any container, with nothing before it to hide.
#pragma once

#include <cstdint>
#include <vector>

#include "av_handles.h"

// How many bytes of earlier frames the first frame of `data` reaches back
// for; -1 when it is not an MPEG audio Layer III frame.
int Mp3BytesReachedBack(const uint8_t* data, int size);

// The main data of every whole frame in `data`, one after the other: what
// frames after them reach back into.
std::vector<uint8_t> Mp3MainData(const uint8_t* data, int size);

// Rewrites the first frame of `pkt` to hold the bytes it reaches back for,
// the last ones of `before` (the main data of the frames before it). False,
// leaving `pkt` as it is, when `before` holds too few or no frame of the
// same kind is long enough.
bool MakeMp3FrameSelfContained(AVPacket* pkt, const std::vector<uint8_t>& before);

// The main data of the frames of `stream` before the packet at `pts` (its
// time base) of the file `opened`, read in a reading of its own: the seek
// to a cut's key picture reads on from there.
std::vector<uint8_t> ReadMp3MainDataBefore(const AVFormatContext* opened, int stream, int64_t pts);
