// SPDX-License-Identifier: GPL-3.0-or-later
#include "job_output.h"

#include <algorithm>
#include <cstring>

#include "container_rules.h"
#include "media_time.h"

int64_t JobOutput::EndMicroseconds() const
{
    int64_t end = 0;
    if (video)
        end = std::max(end, ToMicroseconds(video_clock.end, video->time_base));
    if (audio)
        end = std::max(end, ToMicroseconds(audio_clock.end, audio->time_base));
    return end;
}

int64_t JobOutput::SeamMicroseconds() const
{
    if (video && video_clock.last_dts != AV_NOPTS_VALUE)
        return ToMicroseconds(PictureEnd(), video->time_base);
    return EndMicroseconds();
}

int64_t JobOutput::PictureEnd() const
{
    const bool by_place = ctx && TimesByPlace(ctx->oformat) && video_clock.last_dts != AV_NOPTS_VALUE;
    return by_place ? video_clock.next_dts : video_clock.end;
}

int64_t JobOutput::MuxerShiftMicroseconds() const
{
    const AVFormatContext* c = ctx.get();
    if (!c || c->avoid_negative_ts == 0 || (c->oformat->flags & (AVFMT_TS_NEGATIVE | AVFMT_NOTIMESTAMPS)))
        return 0;
    // Matroska stores presentation times and keeps those from going negative.
    const bool by_pts = std::strcmp(c->oformat->name, "matroska") == 0 || std::strcmp(c->oformat->name, "webm") == 0;
    int64_t first = INT64_MAX;
    const auto consider = [&](const StreamClock& clock, const AVStream* st) {
        const int64_t ts = by_pts ? clock.first_pts : clock.first_dts;
        if (st && ts != AV_NOPTS_VALUE)
            first = std::min(first, ToMicroseconds(ts, st->time_base));
    };
    consider(video_clock, video);
    consider(audio_clock, audio);
    for (const ExtraTrack& t : extras)
        consider(t.clock, t.stream);
    if (first == INT64_MAX)
        return 0;
    return std::max<int64_t>(0, -(first + c->output_ts_offset));
}

int WriteOutputPacket(JobOutput& out, AVPacket* pkt, AVStream* out_st, StreamClock& clock)
{
    if (pkt->dts == AV_NOPTS_VALUE)
        pkt->dts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : clock.end;
    if (pkt->pts == AV_NOPTS_VALUE)
        pkt->pts = pkt->dts;
    // Muxers refuse a stream whose decoding times do not grow.
    if (clock.last_dts != AV_NOPTS_VALUE && pkt->dts <= clock.last_dts)
        pkt->dts = clock.last_dts + 1;
    if (pkt->pts < pkt->dts)
        pkt->pts = pkt->dts;
    if (clock.first_dts == AV_NOPTS_VALUE) {
        clock.first_dts = pkt->dts;
        clock.first_pts = pkt->pts;
    }
    clock.last_dts = pkt->dts;
    clock.next_dts = pkt->dts + std::max<int64_t>(pkt->duration, 0);
    clock.end = std::max(clock.end, pkt->pts + std::max<int64_t>(pkt->duration, 0));
    pkt->stream_index = out_st->index;
    pkt->pos = -1;
    const int64_t duration = std::max<int64_t>(pkt->duration, 0);  // the muxer takes the packet
    const int rc = av_interleaved_write_frame(out.ctx.get(), pkt);
    if (rc >= 0) {
        ++out.packets_written;
        if (out_st == out.video) {
            ++out.video_packets_written;
            out.video_ticks_written += duration;
        }
    }
    return rc;
}

int WriteSoundTail(JobOutput& out)
{
    PacketPtr tail = std::move(out.sound_tail);
    return tail ? WriteOutputPacket(out, tail.get(), out.audio, out.audio_clock) : 0;
}
