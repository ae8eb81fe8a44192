// SPDX-License-Identifier: GPL-3.0-or-later
#include "packet_timing.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

void DecodeTimeFiller::Fill(AVPacket* pkt, const AVStream* st, int64_t frame_duration)
{
    const int64_t duration = pkt->duration > 0 ? pkt->duration : frame_duration;
    if (pkt->dts == AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE) {
        int64_t dts = next_dts_;
        if (dts == AV_NOPTS_VALUE) {
            const int delay = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? st->codecpar->video_delay : 0;
            dts = pkt->pts - delay * frame_duration;
        }
        pkt->dts = dts < pkt->pts ? dts : pkt->pts;  // a picture is never shown before it is decoded
    }
    if (pkt->dts != AV_NOPTS_VALUE)
        next_dts_ = pkt->dts + (duration > 0 ? duration : 1);
}

bool HasDiscardFlag(const AVPacket* pkt) { return (pkt->flags & AV_PKT_FLAG_DISCARD) != 0; }

bool SkipsMostOfPacket(const AVPacket* pkt, int64_t samples)
{
    size_t size = 0;
    const uint8_t* skip = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!skip || size < 8 || samples <= 0)
        return false;
    const int64_t skipped = static_cast<int64_t>(AV_RL32(skip)) + AV_RL32(skip + 4);
    return skipped * 2 >= samples;
}
