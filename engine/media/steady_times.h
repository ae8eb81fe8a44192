// SPDX-License-Identifier: GPL-3.0-or-later
// Reading packets with damaged times mended. One corrupted time in a
// transport stream (a picture stamped 20 hours ahead) would otherwise make
// a cut run to the file's end, a copy declare hours it does not hold and a
// re-encoded join pad silence up to it.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "av_handles.h"

// A time further than this from its stream's neighbours is damage when the
// stream comes back to where it was; a stream that stays on its new line
// made a real jump (files joined end to end, a recorder's restart).
constexpr int64_t kMaxTimeJumpUs = 5'000'000;

// As av_read_frame, but a sound or picture packet whose time jumps more than
// kMaxTimeJumpUs from the packets before it, while a packet of its stream
// soon after is back near them, is given the time its neighbours imply:
// decoding time after the one before, presentation time as far after it as
// the one before was. Other packets, and times that stay, pass as read.
class SteadyTimeReader {
public:
    explicit SteadyTimeReader(AVFormatContext* format);
    int Read(AVPacket* pkt);
    int MendedPackets() const { return mended_; }

private:
    struct StreamLine {
        int64_t dts = AV_NOPTS_VALUE;  // of the last packet passed on
        int64_t pts = AV_NOPTS_VALUE;
        int64_t duration = 0;
    };

    int ReadOneAhead();
    bool Checked(int stream) const;
    bool FarFrom(int64_t time, int64_t line, int stream) const;
    bool Jumps(const AVPacket* pkt) const;
    bool ComesBack(const AVPacket* pkt);
    void Mend(AVPacket* pkt);
    void Follow(const AVPacket* pkt);

    AVFormatContext* format_;
    std::vector<StreamLine> lines_;
    std::deque<PacketPtr> ahead_;
    int end_ = 0;  // how reading ended, 0 while it goes on
    int mended_ = 0;
};
