// SPDX-License-Identifier: GPL-3.0-or-later
#include "steady_times.h"

#include <algorithm>
#include <cstdlib>

namespace {

// How far ahead a stream is looked at for its way back: a few damaged
// packets in a row are mended, a stream that stays away is not.
constexpr int kPacketsOfStreamAhead = 16;
// Bounds the look ahead when the stream's next packets are far in the file.
constexpr size_t kMaxPacketsAhead = 4096;

}  // namespace

SteadyTimeReader::SteadyTimeReader(AVFormatContext* format) : format_(format), lines_(format->nb_streams) {}

int SteadyTimeReader::ReadOneAhead()
{
    PacketPtr p = MakePacket();
    if (!p)
        return end_ = AVERROR(ENOMEM);
    if (const int rc = av_read_frame(format_, p.get()); rc < 0)
        return end_ = rc;
    ahead_.push_back(std::move(p));
    return 0;
}

int SteadyTimeReader::Read(AVPacket* pkt)
{
    if (ahead_.empty()) {
        if (end_ != 0)
            return end_;
        // Most packets keep to their line: they go straight to the caller,
        // without a packet of their own allocated and freed on the way.
        if (const int rc = av_read_frame(format_, pkt); rc < 0)
            return end_ = rc;
        if (!Checked(pkt->stream_index) || !Jumps(pkt)) {
            Follow(pkt);
            return 0;
        }
        PacketPtr jumped = MakePacket();
        if (!jumped) {
            av_packet_unref(pkt);
            return end_ = AVERROR(ENOMEM);
        }
        av_packet_move_ref(jumped.get(), pkt);
        ahead_.push_back(std::move(jumped));  // waits while the packets after it are looked at
    }
    AVPacket* p = ahead_.front().get();
    if (Checked(p->stream_index) && Jumps(p) && ComesBack(p))
        Mend(p);
    Follow(p);
    av_packet_move_ref(pkt, p);
    ahead_.pop_front();
    return 0;
}

bool SteadyTimeReader::Checked(int stream) const
{
    if (stream < 0 || static_cast<unsigned>(stream) >= format_->nb_streams ||
        static_cast<size_t>(stream) >= lines_.size())
        return false;
    const AVStream* st = format_->streams[stream];
    const AVMediaType type = st->codecpar->codec_type;
    return (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

bool SteadyTimeReader::FarFrom(int64_t time, int64_t line, int stream) const
{
    const int64_t allowed = av_rescale_q(kMaxTimeJumpUs, AV_TIME_BASE_Q, format_->streams[stream]->time_base);
    const int64_t distance = time > line ? time - line : line - time;
    return distance > allowed;
}

bool SteadyTimeReader::Jumps(const AVPacket* pkt) const
{
    const StreamLine& line = lines_[pkt->stream_index];
    const bool dts_far = line.dts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE &&
                         FarFrom(pkt->dts, line.dts + line.duration, pkt->stream_index);
    const bool pts_far =
        line.pts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE && FarFrom(pkt->pts, line.pts, pkt->stream_index);
    return dts_far || pts_far;
}

// True when a packet of the same stream soon after is back near the line the
// stream kept before `pkt`, or when none follows at all (a lone last packet
// makes no new line).
bool SteadyTimeReader::ComesBack(const AVPacket* pkt)
{
    int seen = 0;
    for (size_t i = 1; seen < kPacketsOfStreamAhead && i < kMaxPacketsAhead; ++i) {
        if (i >= ahead_.size() && (end_ != 0 || ReadOneAhead() < 0))
            return seen == 0;
        const AVPacket* next = ahead_[i].get();
        if (next->stream_index != pkt->stream_index)
            continue;
        if (!Jumps(next))
            return true;
        ++seen;
    }
    return false;
}

void SteadyTimeReader::Mend(AVPacket* pkt)
{
    const StreamLine& line = lines_[pkt->stream_index];
    const int64_t read_pts = pkt->pts;
    const int64_t step = pkt->duration > 0 ? pkt->duration : line.duration;
    if (line.dts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE &&
        FarFrom(pkt->dts, line.dts + line.duration, pkt->stream_index))
        pkt->dts = line.dts + step;
    if (pkt->pts != AV_NOPTS_VALUE && line.pts != AV_NOPTS_VALUE &&
        (FarFrom(pkt->pts, line.pts, pkt->stream_index) || pkt->pts < pkt->dts)) {
        const int64_t reorder = line.dts != AV_NOPTS_VALUE ? line.pts - line.dts : 0;
        pkt->pts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts + std::max<int64_t>(reorder, 0) : line.pts + step;
    }
    if (pkt->dts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE)
        pkt->dts = std::min(pkt->dts, pkt->pts);
    ++mended_;
    const AVRational tb = format_->streams[pkt->stream_index]->time_base;
    av_log(format_, AV_LOG_WARNING, "stream %d: a packet's time %.3f s away from its neighbours taken as damage\n",
           pkt->stream_index, read_pts == AV_NOPTS_VALUE ? 0.0 : (read_pts - pkt->pts) * av_q2d(tb));
}

void SteadyTimeReader::Follow(const AVPacket* pkt)
{
    if (!Checked(pkt->stream_index))
        return;
    StreamLine& line = lines_[pkt->stream_index];
    if (pkt->dts != AV_NOPTS_VALUE)
        line.dts = pkt->dts;
    if (pkt->pts != AV_NOPTS_VALUE)
        line.pts = pkt->pts;
    if (pkt->duration > 0)
        line.duration = pkt->duration;
}
