// SPDX-License-Identifier: GPL-3.0-or-later
#include "seek.h"

#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

#include "av_handles.h"
#include "media_time.h"
#include "picture_times.h"

namespace {

// How far to look past a seek for the first key frame before giving up on
// the position: a group of pictures longer than this is not expected.
constexpr int kMaxPacketsToKeyFrame = 4000;
constexpr int kMaxStepsBack = 12;

struct KeyFrameFound {
    bool found = false;
    int64_t pts_us = AV_NOPTS_VALUE;
};

// A key picture is entered for the time it is shown, which AVI does not
// store: where the stream reorders its pictures, it is read one reference
// picture ahead to learn it (PictureTimeReader), and a placeholder that
// packed B-pictures leave behind is no key picture.
PictureTimeReader ShownTimeReader(AVFormatContext* format, int stream_index)
{
    const bool video = stream_index >= 0 && format->streams[stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    return PictureTimeReader(format, video ? stream_index : -1);
}

// Reads from the current position to the first key frame of `stream_index`
// (or the first packet of any stream for -1) and reports its time.
KeyFrameFound ReadFirstKeyFrame(AVFormatContext* format, int stream_index)
{
    KeyFrameFound result;
    PacketPtr pkt = MakePacket();
    if (!pkt)
        return result;
    PictureTimeReader reader = ShownTimeReader(format, stream_index);
    for (int n = 0; n < kMaxPacketsToKeyFrame && reader.Read(pkt.get()) >= 0; ++n) {
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
// An index refuses a time before its first entry (AVI): the start itself
// is that entry, and a byte seek would leave AVI's times counting from
// zero wherever it lands.
bool SeekToFileStart(SeekMethod method, AVFormatContext* format, int64_t start_us)
{
    if (method == SeekMethod::Time &&
        (av_seek_frame(format, -1, start_us - AV_TIME_BASE, AVSEEK_FLAG_BACKWARD) >= 0 ||
         av_seek_frame(format, -1, start_us, AVSEEK_FLAG_BACKWARD) >= 0))
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

struct KeyPicture {
    int64_t ts = AV_NOPTS_VALUE;        // shown, the stream's time base
    int64_t index_ts = AV_NOPTS_VALUE;  // as the demuxer's index times it
    int64_t pos = -1;
};

// The last key frame of `stream_index` at or before `target_us`, read from
// the current position on.
KeyPicture LastKeyUpTo(AVFormatContext* format, int stream_index, int64_t target_us)
{
    KeyPicture last;
    PacketPtr pkt = MakePacket();
    if (!pkt || stream_index < 0)
        return last;
    const AVStream* st = format->streams[stream_index];
    const AVRational tb = st->time_base;
    // Where only reading tells when a picture is shown (AVI), the index
    // holds decoding times, and a seek to a shown time would land past it.
    const bool index_decodes = ShownTimesOnlyByReading(format, st);
    PictureTimeReader reader = ShownTimeReader(format, stream_index);
    for (int n = 0; n < kMaxPacketsToKeyFrame && reader.Read(pkt.get()) >= 0; ++n) {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        const bool ours = pkt->stream_index == stream_index && ts != AV_NOPTS_VALUE;
        const bool past = ours && ToMicroseconds(ts, tb) > target_us;
        if (ours && !past && (pkt->flags & AV_PKT_FLAG_KEY))
            last = {ts, index_decodes && pkt->dts != AV_NOPTS_VALUE ? pkt->dts : ts, pkt->pos};
        av_packet_unref(pkt.get());
        if (past)
            break;
    }
    return last;
}

// Lists a key picture in the demuxer's index unless it is there already
// (AVI lists every one, with its size, which an entry written over loses).
bool ListKeyPicture(AVStream* st, const KeyPicture& key)
{
    const int at = av_index_search_timestamp(st, key.index_ts, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* e = at >= 0 ? avformat_index_get_entry(st, at) : nullptr;
    if (e && e->timestamp == key.index_ts && (e->flags & AVINDEX_KEYFRAME))
        return true;
    return av_add_index_entry(st, key.pos, key.index_ts, 0, 0, AVINDEX_KEYFRAME) >= 0;
}

// An index coarser than the key frames lands before the last one at or
// before the target: ASF's lists one packet a second, so a seek to 2.4 s
// lands on the key frame of 1.32 s when the next is at 2.32 s, and a cut
// would copy a second too much. The key frame read on from the landing is
// added to the demuxer's index and the seek repeated; a demuxer that does
// not seek by its index keeps the landing. Leaves the input positioned at
// the landing taken. Transport and program streams have no index: their
// search by timestamps lands where it can.
void SeekToLastKey(AVFormatContext* format, int stream_index, int64_t target_us, int64_t landing_key_us)
{
    if (stream_index < 0 || landing_key_us == AV_NOPTS_VALUE || (format->iformat->flags & AVFMT_TS_DISCONT))
        return;
    AVStream* st = format->streams[stream_index];
    const KeyPicture last = LastKeyUpTo(format, stream_index, target_us);
    const bool later = last.ts != AV_NOPTS_VALUE && ToMicroseconds(last.ts, st->time_base) > landing_key_us;
    if (later && last.pos >= 0 && ListKeyPicture(st, last) &&
        av_seek_frame(format, stream_index, last.index_ts, AVSEEK_FLAG_BACKWARD) >= 0) {
        const KeyFrameFound found = ReadFirstKeyFrame(format, stream_index);
        if (found.found && found.pts_us == ToMicroseconds(last.ts, st->time_base) &&
            av_seek_frame(format, stream_index, last.index_ts, AVSEEK_FLAG_BACKWARD) >= 0)
            return;
    }
    SeekWith(SeekMethod::Time, format, stream_index, target_us);  // back to the landing found
}

}  // namespace

SeekMethod SeekAtOrBefore(AVFormatContext* format, int stream_index, int64_t target_us)
{
    // Formats with discontinuous timestamps have no index, but the library's
    // generic search reads timestamps near byte positions where it can.
    int64_t found_us = AV_NOPTS_VALUE;
    if (SeekWith(SeekMethod::Time, format, stream_index, target_us, &found_us)) {
        SeekToLastKey(format, stream_index, target_us, found_us);
        return SeekMethod::Time;
    }
    if (SeekWith(SeekMethod::Bytes, format, stream_index, target_us))
        return SeekMethod::Bytes;
    av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);  // from the beginning: early enough
    return SeekMethod::None;
}
