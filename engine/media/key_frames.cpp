// SPDX-License-Identifier: GPL-3.0-or-later
#include "key_frames.h"

#include "av_handles.h"
#include "container_rules.h"
#include "media_input.h"
#include "media_time.h"
#include "picture_times.h"

#include <algorithm>
#include <string>

namespace {

int StopWhenCancelled(void* opaque)
{
    return static_cast<const std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

// An index that reaches this close to the stream's end lists the whole file
// (MP4 and AVI list every picture; a seek loads a Matroska file's cues).
bool IndexCoversStream(AVStream* st, int64_t duration_us)
{
    const int count = avformat_index_get_entries_count(st);
    if (count == 0)
        return false;
    // Without a length nothing tells a full index from the few entries a
    // seek leaves behind.
    if (duration_us <= 0)
        return false;
    const int64_t last_us = ToMicroseconds(avformat_index_get_entry(st, count - 1)->timestamp, st->time_base);
    const int64_t first_us = ToMicroseconds(avformat_index_get_entry(st, 0)->timestamp, st->time_base);
    const int64_t slack_us = std::max<int64_t>(10 * AV_TIME_BASE, duration_us / 10);
    return last_us - first_us >= duration_us - slack_us;
}

// The index holds decoding times; a key picture is shown later by the
// stream's reorder delay, which the first key packet tells.
int64_t PresentationDelay(AVFormatContext* format, int video, const std::atomic<bool>& cancel)
{
    PacketPtr pkt = MakePacket();
    for (int n = 0; pkt && n < 1000 && !cancel && av_read_frame(format, pkt.get()) >= 0; ++n) {
        const bool key = pkt->stream_index == video && (pkt->flags & AV_PKT_FLAG_KEY);
        const int64_t delay = pkt->pts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE ? pkt->pts - pkt->dts : 0;
        av_packet_unref(pkt.get());
        if (key)
            return delay;
    }
    return 0;
}

void ReadIndex(AVFormatContext* format, int video, const std::atomic<bool>& cancel, std::vector<int64_t>* times_us)
{
    AVStream* st = format->streams[video];
    const int count = avformat_index_get_entries_count(st);
    const int64_t delay = PresentationDelay(format, video, cancel);
    for (int i = 0; i < count && !cancel; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(st, i);
        if (entry->flags & AVINDEX_KEYFRAME)
            times_us->push_back(ToMicroseconds(entry->timestamp + delay, st->time_base));
    }
}

void ReadPacketHeaders(AVFormatContext* format, int video, const std::atomic<bool>& cancel,
                       std::vector<int64_t>* times_us)
{
    // Only the picture's packets are wanted; the demuxer skips the rest unread where it can.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != video)
            format->streams[i]->discard = AVDISCARD_ALL;
    const AVStream* st = format->streams[video];
    PacketPtr pkt = MakePacket();
    PictureTimeReader reader(format, video);  // the times a seek enters them by
    while (pkt && !cancel && reader.Read(pkt.get()) >= 0) {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == video && (pkt->flags & AV_PKT_FLAG_KEY) && ts != AV_NOPTS_VALUE)
            times_us->push_back(ToMicroseconds(ts, st->time_base));
        av_packet_unref(pkt.get());
    }
}

// Whether an AVI's pictures are reordered is told by its first pictures
// alone, which the scan reads only for the codecs that may reorder them.
void LearnReorderOfAvi(AVFormatContext* format, const AVStream* st)
{
    const AVCodecID id = st->codecpar->codec_id;
    const bool may_reorder = id == AV_CODEC_ID_MPEG4 || id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO;
    if (may_reorder && TimesByPlace(format))
        avformat_find_stream_info(format, nullptr);
}

}  // namespace

int ScanKeyFrames(const char* path, const std::atomic<bool>& cancel, std::vector<int64_t>* times_us)
{
    times_us->clear();
    const AVIOInterruptCB interrupt{StopWhenCancelled, const_cast<std::atomic<bool>*>(&cancel)};
    InputContextPtr format;
    if (const int rc = OpenCheckedInput(path, interrupt, &format); rc != kProbeOk)
        return cancel ? kKeyFrameScanCancelled : rc;

    int video = -1, audio = -1;
    SelectStreams(format.get(), &video, &audio);
    if (video < 0)
        return kProbeNoVideoDecoder;
    AVStream* st = format->streams[video];
    LearnReorderOfAvi(format.get(), st);
    const int64_t duration_us = st->duration != AV_NOPTS_VALUE ? ToMicroseconds(st->duration, st->time_base)
                                                                : format->duration;
    // Matroska reads its cues at the first seek.
    if (avformat_index_get_entries_count(st) == 0)
        av_seek_frame(format.get(), video, 0, AVSEEK_FLAG_BACKWARD);
    // An index of decoding times says when a reordered key picture is shown
    // only where the packets store it too.
    if (IndexCoversStream(st, duration_us) && !ShownTimesOnlyByReading(format.get(), st)) {
        ReadIndex(format.get(), video, cancel, times_us);
    } else {
        ReadPacketHeaders(format.get(), video, cancel, times_us);
    }
    if (cancel) {
        times_us->clear();
        return kKeyFrameScanCancelled;
    }
    std::sort(times_us->begin(), times_us->end());
    times_us->erase(std::unique(times_us->begin(), times_us->end()), times_us->end());
    return kProbeOk;
}
