// SPDX-License-Identifier: GPL-3.0-or-later
// An encoder set up to continue a source video stream: same codec, profile,
// level, picture size, pixel format, aspect ratio, colours and field order.
// Only the pictures around a cut's ends pass through it: it aims at the
// source's quality at about the source's rate, never below a quality floor.
#pragma once

#include <string>

#include "av_handles.h"

struct MatchingEncoderSetup {
    const AVStream* source = nullptr;
    const AVFrame* first_frame = nullptr;  // the first decoded picture: pixel format, fields
    int parameter_set_id = 0;              // H.264: SPS/PPS id apart from the source's
    bool global_header = false;            // parameter sets in extradata, not in the packets
    int64_t source_bit_rate = 0;           // bits a second the source spends around the cut; 0 unknown
};

// Whether this build can encode `codec` for an exact cut, and for which pixel
// formats: false names the reason in `why`.
bool MatchingEncoderAvailable(const AVCodecParameters* par, std::string* why);

// Opens the encoder; null on failure. Its time base is the one frames must be
// stamped in (`EncoderTimeBase`).
CodecContextPtr OpenMatchingEncoder(const MatchingEncoderSetup& setup);
AVRational EncoderTimeBase(const AVStream* source);
