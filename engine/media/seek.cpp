// SPDX-License-Identifier: GPL-3.0-or-later
#include "seek.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

#include "av_handles.h"
#include "media_time.h"

namespace {

// How far to look past a seek for the first key frame before giving up on
// the position: a group of pictures longer than this is not expected.
constexpr int kMaxPacketsToKeyFrame = 4000;
constexpr int kMaxStepsBack = 12;

struct KeyFrameFound {
    bool found = false;
    int64_t pts_us = AV_NOPTS_VALUE;
};

// Reads from the current position to the first key frame of `stream_index`
// (or the first packet of any stream for -1) and reports its time.
KeyFrameFound ReadFirstKeyFrame(AVFormatContext* format, int stream_index)
{
    KeyFrameFound result;
    PacketPtr pkt = MakePacket();
    if (!pkt)
        return result;
    for (int n = 0; n < kMaxPacketsToKeyFrame && av_read_frame(format, pkt.get()) >= 0; ++n) {
        const bool ours = stream_index < 0 || pkt->stream_index == stream_index;
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ours && (stream_index < 0 || (pkt->flags & AV_PKT_FLAG_KEY)) && ts != AV_NOPTS_VALUE) {
            const AVStream* st = format->streams[pkt->stream_index];
            result.found = true;
            result.pts_us = ToMicroseconds(ts, st->time_base);
            av_packet_unref(pkt.get());
            break;
        }
        av_packet_unref(pkt.get());
    }
    return result;
}

bool SeekByTime(AVFormatContext* format, int64_t at_us)
{
    return av_seek_frame(format, -1, at_us, AVSEEK_FLAG_BACKWARD) >= 0;
}

// The byte position in proportion to the time: the only way into files whose
// demuxer can neither look up nor search timestamps.
bool SeekByBytes(AVFormatContext* format, int64_t at_us)
{
    const int64_t size = format->pb ? avio_size(format->pb) : -1;
    const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    if (size <= 0 || format->duration <= 0)
        return false;
    const double fraction = static_cast<double>(at_us - start) / static_cast<double>(format->duration);
    const int64_t pos = fraction <= 0 ? 0 : static_cast<int64_t>(fraction * static_cast<double>(size));
    return av_seek_frame(format, -1, pos, AVSEEK_FLAG_BYTE) >= 0;
}

// The file's first packets. A time seek to the start time itself is not
// enough: the start time is the earliest presentation time, and a key
// picture's decoding time (reordered pictures, a transport stream whose sound
// starts first) can lie before it, so a search by decoding time lands just
// past that picture. A second before the start finds the first packet.
bool SeekToFileStart(SeekMethod method, AVFormatContext* format, int64_t start_us)
{
    if (method == SeekMethod::Time &&
        av_seek_frame(format, -1, start_us - AV_TIME_BASE, AVSEEK_FLAG_BACKWARD) >= 0)
        return true;
    return av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

bool SeekBy(SeekMethod method, AVFormatContext* format, int64_t at_us)
{
    return method == SeekMethod::Time ? SeekByTime(format, at_us) : SeekByBytes(format, at_us);
}

// Tries one method, stepping back while the first key frame lands after the
// target. Leaves the input positioned at the accepted seek; `*key_us` is the
// key frame found there.
bool SeekWith(SeekMethod method, AVFormatContext* format, int stream_index, int64_t target_us,
              int64_t* key_us = nullptr)
{
    const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    int64_t step_us = AV_TIME_BASE / 2;
    int64_t at_us = target_us;
    for (int i = 0; i < kMaxStepsBack; ++i) {
        if (!SeekBy(method, format, at_us))
            return false;
        const KeyFrameFound key = ReadFirstKeyFrame(format, stream_index);
        const bool at_file_start = at_us <= start;
        if (key_us)
            *key_us = key.pts_us;
        if (key.found && key.pts_us <= target_us)
            return SeekBy(method, format, at_us);  // the same position, read again
        if (at_file_start)
            return SeekToFileStart(method, format, start);
        // Past the target, or nothing found: further back, farther each time.
        const int64_t past = key.found ? key.pts_us - target_us : 0;
        at_us = std::max(start, at_us - std::max(step_us, past));
        step_us *= 2;
    }
    return false;
}

// A backward seek may land far before the key frame at or before the target:
// an ASF index of whole seconds lands a second early and more, a whole group
// of pictures more than the cut asked for. A seek without the flag lands at
// the index entry nearest the target: taken, and left positioned there, when
// its key frame is not after the target and is later than `found_us`.
bool SeekNearer(AVFormatContext* format, int stream_index, int64_t target_us, int64_t found_us)
{
    if (found_us == AV_NOPTS_VALUE || av_seek_frame(format, -1, target_us, 0) < 0)
        return false;
    const KeyFrameFound nearer = ReadFirstKeyFrame(format, stream_index);
    if (!nearer.found || nearer.pts_us > target_us || nearer.pts_us <= found_us)
        return false;
    return av_seek_frame(format, -1, target_us, 0) >= 0;
}

}  // namespace

SeekMethod SeekAtOrBefore(AVFormatContext* format, int stream_index, int64_t target_us)
{
    // Formats with discontinuous timestamps have no index, but the library's
    // generic search reads timestamps near byte positions where it can.
    int64_t found_us = AV_NOPTS_VALUE;
    if (SeekWith(SeekMethod::Time, format, stream_index, target_us, &found_us)) {
        if (!SeekNearer(format, stream_index, target_us, found_us))
            SeekWith(SeekMethod::Time, format, stream_index, target_us);  // back to the landing found
        return SeekMethod::Time;
    }
    if (SeekWith(SeekMethod::Bytes, format, stream_index, target_us))
        return SeekMethod::Bytes;
    av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);  // from the beginning: early enough
    return SeekMethod::None;
}
