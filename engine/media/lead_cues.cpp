// SPDX-License-Identifier: GPL-3.0-or-later
#include "lead_cues.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "media_input.h"
#include "media_time.h"
#include "seek.h"

namespace {

// Packets are interleaved by time, but not to the tick: past this much
// beyond the start no cue before it is still to come.
constexpr int64_t kInterleaveSlackUs = 2 * 1000000LL;

bool Wanted(const std::vector<int>& streams, int index)
{
    return std::find(streams.begin(), streams.end(), index) != streams.end();
}

int64_t StartOf(const AVPacket* pkt) { return pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts; }

// Every stream but the cues and one stream that shows how far the reading
// has come is skipped.
int KeepOnlyCuesAndClock(AVFormatContext* format, const std::vector<int>& streams)
{
    int clock = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        const bool cue = Wanted(streams, index);
        if (!cue && clock < 0 && format->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT)
            clock = index;
        format->streams[i]->discard = cue || index == clock ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    return clock;
}

}  // namespace

InputContextPtr OpenAgain(const AVFormatContext* opened)
{
    constexpr char kPrefix[] = "file:";
    if (!opened->url || std::strncmp(opened->url, kPrefix, sizeof kPrefix - 1) != 0)
        return nullptr;
    const std::string path = opened->url + sizeof kPrefix - 1;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return nullptr;
    raw->interrupt_callback = opened->interrupt_callback;
    if (OpenLocalFormat(&raw, path.c_str()) != 0)
        return nullptr;  // `raw` was freed
    InputContextPtr again(raw);
    // The same demuxer on the same bytes: the same streams, in the same order.
    if (raw->nb_streams != opened->nb_streams)
        return nullptr;
    return again;
}

bool LeadCues::Repeats(const AVPacket* pkt) const
{
    const std::pair<int, int64_t> key(pkt->stream_index, StartOf(pkt));
    return std::find(read.begin(), read.end(), key) != read.end();
}

LeadCues ReadLeadCues(const AVFormatContext* opened, const std::vector<int>& streams, int64_t at_us)
{
    LeadCues cues;
    const bool known = std::all_of(streams.begin(), streams.end(),
                                   [&](int s) { return s >= 0 && static_cast<unsigned>(s) < opened->nb_streams; });
    if (streams.empty() || !known || at_us <= ContainerStartMicroseconds(opened))
        return cues;
    InputContextPtr again = OpenAgain(opened);
    if (!again)
        return cues;
    AVFormatContext* format = again.get();
    const int clock = KeepOnlyCuesAndClock(format, streams);
    SeekAtOrBefore(format, -1, std::max(ContainerStartMicroseconds(format), at_us - kLeadCueLookBackUs));
    // Per stream: cues that carry their length and are still shown, and the
    // latest one that does not (it is shown until the next).
    std::vector<PacketPtr> lasting;
    std::vector<PacketPtr> latest(format->nb_streams);
    std::vector<bool> reached(format->nb_streams, false);
    PacketPtr pkt = MakePacket();
    while (pkt && av_read_frame(format, pkt.get()) >= 0) {
        const int index = pkt->stream_index;
        const AVRational tb = format->streams[index]->time_base;
        const int64_t start = StartOf(pkt.get());
        if (start == AV_NOPTS_VALUE || !Wanted(streams, index)) {
            const bool past = index == clock && start != AV_NOPTS_VALUE &&
                              ToMicroseconds(start, tb) > at_us + kInterleaveSlackUs;
            av_packet_unref(pkt.get());
            if (past)
                break;
            continue;
        }
        const int64_t at = ToStreamTicks(at_us, tb);
        if (start >= at) {
            reached[index] = true;
            av_packet_unref(pkt.get());
            if (std::all_of(streams.begin(), streams.end(), [&](int s) { return reached[s]; }))
                break;
            continue;
        }
        cues.read.emplace_back(index, start);
        if (pkt->duration > 0) {
            if (start + pkt->duration > at)
                lasting.push_back(std::move(pkt));
        } else {
            latest[index] = std::move(pkt);
        }
        pkt = MakePacket();
    }
    for (PacketPtr& p : lasting)
        cues.packets.push_back(std::move(p));
    for (size_t i = 0; i < latest.size(); ++i) {
        if (!latest[i])
            continue;
        latest[i]->pts = latest[i]->dts = ToStreamTicks(at_us, format->streams[i]->time_base);
        cues.packets.push_back(std::move(latest[i]));
    }
    return cues;
}
