// SPDX-License-Identifier: GPL-3.0-or-later
#include "held_length.h"

#include <algorithm>
#include <cstring>

#include "container_rules.h"
#include "media_input.h"

namespace {

double ToSeconds(int64_t ts, AVRational tb, const AVStream* st)
{
    const int64_t origin = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    return (ts - origin) * av_q2d(tb);
}

// An MP4 or MOV index lists every packet with its place in the file, read
// from the header: the last one that lies wholly inside the file is the end.
// (Other demuxers' indexes hold only what was read so far.)
double IndexedEnd(AVStream* st, int64_t file_size, bool* has_index)
{
    const int count = avformat_index_get_entries_count(st);
    *has_index = count > 0;
    double end = 0;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e && e->pos + e->size <= file_size)
            end = std::max(end, ToSeconds(e->timestamp, st->time_base, st));
    }
    return end;
}

// Positions `fmt` at its last stretch. AVI counts its packets' times from
// where its reading started: after a byte seek they would start again at
// zero. Its index, read at the open, leads a time seek to its last seconds
// instead; without one (a file cut short loses it) nothing is measured.
bool SeekToTail(AVFormatContext* fmt, const AVFormatContext* facts, int64_t file_size)
{
    constexpr int64_t kTailBytes = 1 << 20;
    constexpr int64_t kTailUs = 5 * AV_TIME_BASE;
    if (TimesByPlace(fmt)) {
        if (facts->duration <= 0)
            return false;
        const int64_t start = facts->start_time != AV_NOPTS_VALUE ? facts->start_time : 0;
        const int64_t at = start + std::max<int64_t>(0, facts->duration - kTailUs);
        return avformat_seek_file(fmt, -1, INT64_MIN, at, at, 0) >= 0;
    }
    if (fmt->iformat->flags & AVFMT_NO_BYTE_SEEK)
        return false;
    return avformat_seek_file(fmt, -1, INT64_MIN, std::max<int64_t>(0, file_size - kTailBytes), INT64_MAX,
                              AVSEEK_FLAG_BYTE) >= 0;
}

// Elsewhere the file's last stretch is read: the latest packet end found
// there. `facts` is the same file opened fully: its streams' time bases and
// starts, and its length.
double TailEnd(AVFormatContext* fmt, const AVFormatContext* facts, int64_t file_size, int video, int audio)
{
    constexpr int kMaxPackets = 4000;
    if (!SeekToTail(fmt, facts, file_size))
        return 0;
    AVPacket* pkt = av_packet_alloc();
    double end = 0;
    for (int n = 0; pkt && n < kMaxPackets && av_read_frame(fmt, pkt) >= 0; ++n) {
        if (pkt->stream_index == video || pkt->stream_index == audio) {
            const AVStream* st = facts->streams[pkt->stream_index];
            const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (ts != AV_NOPTS_VALUE)
                end = std::max(end, ToSeconds(av_rescale_q(ts + std::max<int64_t>(pkt->duration, 0),
                                                     fmt->streams[pkt->stream_index]->time_base, st->time_base),
                                        st->time_base, st));
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return end;
}

}  // namespace

namespace {

// From an MP4 or MOV index where the file has one; `*file_size` is set, 0
// when the file's size is unknown.
double IndexedHeldSeconds(const MediaInput& in, int64_t* file_size, bool* indexed)
{
    AVFormatContext* fmt = in.format.get();
    *file_size = fmt->pb ? avio_size(fmt->pb) : -1;
    *indexed = false;
    if (*file_size <= 0)
        return 0;
    double end = 0;
    const bool full_index = std::strncmp(fmt->iformat->name, "mov,", 4) == 0;
    for (AVStream* st : {in.VideoStream(), in.AudioStream()}) {
        bool has_index = false;
        if (st && full_index)
            end = std::max(end, IndexedEnd(st, *file_size, &has_index));
        *indexed = *indexed || has_index;
    }
    return end;
}

}  // namespace

double MeasuredHeldSeconds(const MediaInput& in, const char* path)
{
    int64_t file_size = 0;
    bool indexed = false;
    const double end = IndexedHeldSeconds(in, &file_size, &indexed);
    if (file_size <= 0 || (indexed && end > 0))
        return end;
    // A byte seek would leave the job's own reader where some demuxers
    // cannot find their way back (Matroska without cues): read a second one.
    AVFormatContext* raw = nullptr;
    if (OpenLocalFormat(&raw, path) != 0)
        return 0;
    InputContextPtr tail(raw);
    if (raw->nb_streams != in.format->nb_streams)
        return 0;
    return TailEnd(raw, in.format.get(), file_size, in.video_index, in.audio_index);
}

double MeasuredHeldSecondsOfClosingInput(const MediaInput& in)
{
    int64_t file_size = 0;
    bool indexed = false;
    const double end = IndexedHeldSeconds(in, &file_size, &indexed);
    if (file_size <= 0 || (indexed && end > 0))
        return end;
    return TailEnd(in.format.get(), in.format.get(), file_size, in.video_index, in.audio_index);
}
