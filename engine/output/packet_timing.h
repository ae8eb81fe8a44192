// SPDX-License-Identifier: GPL-3.0-or-later
// What the demuxer says about a packet's time, read the way decoders read it:
// decoding times it left out, packets it marks to be discarded, samples to
// be skipped.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

// Fills the decoding times a demuxer leaves out (Matroska with B-frames gives
// its first packets a presentation time only). The first one is the first
// presentation time less the stream's reorder delay in frames; each later one
// follows the previous packet by its duration. A packet's presentation time
// is never changed. One per input stream.
class DecodeTimeFiller {
public:
    // `frame_duration`: one frame in the stream's time base, for packets
    // without a duration of their own.
    void Fill(AVPacket* pkt, const AVStream* st, int64_t frame_duration);

private:
    int64_t next_dts_ = AV_NOPTS_VALUE;
};

// The demuxer marks the packet to be decoded but not shown or heard (an edit
// list's hidden lead-in).
bool HasDiscardFlag(const AVPacket* pkt);
// Its skip-samples side data drop at least half of the packet's
// `samples` (encoder priming or padding): better left out than heard.
bool SkipsMostOfPacket(const AVPacket* pkt, int64_t samples);
