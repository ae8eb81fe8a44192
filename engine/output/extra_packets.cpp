// SPDX-License-Identifier: GPL-3.0-or-later
// The packets of the tracks besides the main ones: placed on the output's
// timeline, held until the origin or the picture is known, converted where
// the output keeps them in another format, the sound met at a seam.
#include "tracks.h"

#include <algorithm>
#include <cstring>

#include "direct_copy.h"
#include "extra_sound.h"
#include "media_time.h"

namespace {

// A transport stream reader takes a DVB subtitle for the rest of the one
// before it when both have the same time, and hands it on with its framing
// (data identifier, stream id, end marker), which no decoder reads: the
// framing comes off, as a transport stream's writer adds it again. Its
// parser starts out at time 0, so a cue at 0 is shown a tick later.
void KeepDvbCueReadable(AVPacket* pkt)
{
    if (pkt->size > 3 && pkt->data[0] == 0x20 && pkt->data[1] == 0x00 && pkt->data[pkt->size - 1] == 0xff) {
        pkt->data += 2;
        pkt->size -= 3;
    }
    if (pkt->pts == 0)
        pkt->pts = pkt->dts = 1;
}

// Past this many, packets of extra tracks read before the input's origin is
// known are no longer kept: nothing that far ahead of the picture is in a cut.
constexpr size_t kMaxWaitingExtra = 4096;

void ReleaseHeldExtra(JobOutput& out, InputRun& run, size_t slot, bool input_ended)
{
    ExtraTrack& t = out.extras[slot];
    std::deque<PacketPtr>& held = run.held_extra[slot];
    const AVRational tb = t.stream->time_base;
    while (!held.empty()) {
        AVPacket* p = held.front().get();
        const int64_t picture_end = out.PictureEnd();
        const AVRational vtb = out.video->time_base;
        if (av_compare_ts(p->pts + p->duration, tb, picture_end, vtb) > 0) {
            if (!input_ended)
                return;
            // The last packet stays when it brings the sound's end nearer to the picture's.
            if (av_compare_ts(p->pts + p->duration / 2, tb, picture_end, vtb) >= 0) {
                held.clear();
                return;
            }
        }
        WriteOutputPacket(out, p, t.stream, t.clock);
        held.pop_front();
    }
}

// Decodes a placed packet and encodes it again; the packet keeps its times.
bool ConvertSubtitle(AVCodecContext* dec, AVCodecContext* enc, AVRational tb, AVPacket* pkt)
{
    AVSubtitle sub{};
    int got = 0;
    if (avcodec_decode_subtitle2(dec, &sub, &got, pkt) < 0 || !got)
        return false;
    sub.pts = ToMicroseconds(pkt->pts, tb);
    sub.start_display_time = 0;
    sub.end_display_time = static_cast<uint32_t>(av_rescale_q(std::max<int64_t>(pkt->duration, 0), tb, {1, 1000}));
    constexpr int kMaxSize = 1 << 16;
    std::vector<uint8_t> buffer(kMaxSize);
    const int size = avcodec_encode_subtitle(enc, buffer.data(), kMaxSize, &sub);
    avsubtitle_free(&sub);
    if (size <= 0)
        return false;
    PacketPtr encoded = MakePacket();
    if (!encoded || av_new_packet(encoded.get(), size) < 0)
        return false;
    std::memcpy(encoded->data, buffer.data(), static_cast<size_t>(size));
    encoded->pts = encoded->dts = pkt->pts;
    encoded->duration = pkt->duration;
    encoded->stream_index = pkt->stream_index;
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, encoded.get());
    return true;
}

// A copied sound track meets its sound before the seam as the main one does,
// so that played straight through it stays with the picture. False: the
// packet is written already.
bool MeetSoundAtSeam(JobOutput& out, InputRun& run, int slot, AVPacket* pkt)
{
    ExtraTrack& t = out.extras[slot];
    if (run.extra_sound_shift.size() < out.extras.size())
        run.extra_sound_shift.resize(out.extras.size(), AV_NOPTS_VALUE);
    int64_t& shift = run.extra_sound_shift[slot];
    int64_t repeats = 0;
    if (!PlaceSoundAtSeam(t.clock, pkt, &shift, &repeats))
        return false;
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts += shift;
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts += shift;
    for (PacketPtr& copy : SeamFill(pkt, repeats)) {
        if (run.trim_sound_to_picture)
            run.held_extra[slot].push_back(std::move(copy));
        else
            WriteOutputPacket(out, copy.get(), t.stream, t.clock);
    }
    return true;
}

void WriteExtra(JobOutput& out, InputRun& run, AVPacket* pkt)
{
    const int slot = run.extra_slot[pkt->stream_index];
    ExtraTrack& t = out.extras[slot];
    const AVStream* in_st = run.in.format->streams[pkt->stream_index];
    const bool sound = t.kind == AVMEDIA_TYPE_AUDIO;
    // Copied sound ends where the copied picture does, as the main sound
    // does, which may be some reordered pictures past the cut's length.
    const bool ends_with_picture = sound && !t.encoder;
    const int64_t to_us =
        run.cut_length_us > 0 && !ends_with_picture ? run.origin_us + run.cut_length_us : INT64_MAX;
    // Re-encoded sound is placed to the sample: a muxer's clock may count
    // whole sound frames (AVI).
    const AVRational tb = sound && t.encoder ? t.encoder->time_base : t.stream->time_base;
    if (!PlaceExtraPacket(pkt, in_st, tb, run.origin_us, to_us, run.offset_us))
        return;
    // A further picture track can only start at a key picture.
    if (t.kind == AVMEDIA_TYPE_VIDEO) {
        if (run.extra_keyed.size() <= static_cast<size_t>(slot))
            run.extra_keyed.resize(out.extras.size());
        if (!run.extra_keyed[slot] && !(pkt->flags & AV_PKT_FLAG_KEY))
            return;
        run.extra_keyed[slot] = true;
    }
    // Past the cut's end only sound that the picture still covers is written.
    if (run.cut_complete &&
        (!sound || (out.video && av_compare_ts(pkt->pts, tb, out.video_clock.end, out.video->time_base) >= 0)))
        return;
    if (sound && t.encoder) {
        ReencodeExtraSound(out, run, slot, pkt);
        return;
    }
    if (t.encoder) {
        AVCodecContext* dec = run.extra_decoders[slot].get();
        if (!dec || !ConvertSubtitle(dec, t.encoder.get(), t.stream->time_base, pkt))
            return;
    }
    if (sound && !MeetSoundAtSeam(out, run, slot, pkt))
        return;
    if (sound && run.trim_sound_to_picture) {
        PacketPtr held = MakePacket();
        if (!held)
            return;
        av_packet_move_ref(held.get(), pkt);
        run.held_extra[slot].push_back(std::move(held));
        ReleaseHeldExtra(out, run, slot, false);
        return;
    }
    WriteOutputPacket(out, pkt, t.stream, t.clock);  // a lost packet of an extra track does not fail the input
}

// The cues on screen where the input starts in the output began before the
// reading of it did. A join takes whole files: nothing is on screen before.
void WriteLeadCues(JobOutput& out, InputRun& run)
{
    if (run.lead_cues_read)
        return;
    run.lead_cues_read = true;
    if (run.cut_length_us <= 0)
        return;
    std::vector<int> streams;
    for (size_t i = 0; i < run.extra_slot.size(); ++i)
        if (run.extra_slot[i] >= 0 && out.extras[run.extra_slot[i]].kind == AVMEDIA_TYPE_SUBTITLE)
            streams.push_back(static_cast<int>(i));
    run.lead_cues = ReadLeadCues(run.in.format.get(), streams, run.origin_us);
    for (PacketPtr& p : run.lead_cues.packets)
        WriteExtra(out, run, p.get());
    run.lead_cues.packets.clear();
}

}  // namespace

bool PlaceExtraPacket(AVPacket* pkt, const AVStream* in_st, AVRational out_tb, int64_t from_us, int64_t to_us,
                      int64_t offset_us)
{
    const AVRational tb = in_st->time_base;
    int64_t start = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (start == AV_NOPTS_VALUE)
        return false;
    if (pkt->duration <= 0)
        pkt->duration = FallbackDuration(in_st);
    const int64_t from = ToStreamTicks(from_us, tb);
    const int64_t to = to_us == INT64_MAX ? INT64_MAX : ToStreamTicks(to_us, tb);
    const int64_t end = start + std::max<int64_t>(pkt->duration, 0);
    if (start >= to)
        return false;
    if (in_st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO || in_st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        // The packet that leads into the start stays, as with the main sound.
        if (end <= from && !(pkt->duration <= 0 && start >= from))
            return false;
    } else {
        // Subtitles and data last: one shown across the start is kept from
        // the start on, one shown across the end ends there.
        if (pkt->duration > 0 ? end <= from : start < from)
            return false;
        if (start < from) {
            pkt->duration = end - from;
            start = from;
        }
        if (to != INT64_MAX && pkt->duration > 0 && start + pkt->duration > to)
            pkt->duration = to - start;
        pkt->pts = start;
        pkt->dts = start;
    }
    const int64_t offset = ToStreamTicks(offset_us, out_tb);
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts = av_rescale_q(pkt->pts - from, tb, out_tb) + offset;
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts = av_rescale_q(pkt->dts - from, tb, out_tb) + offset;
    pkt->duration = av_rescale_q(pkt->duration, tb, out_tb);
    if (in_st->codecpar->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
        KeepDvbCueReadable(pkt);
    return true;
}

void StartReencodedTracks(InputRun& run, int64_t offset_us)
{
    run.origin_us = AV_NOPTS_VALUE;  // the picture's, once the encoders know it
    run.offset_us = offset_us;
}

void WriteWaitingExtras(JobOutput& out, InputRun& run)
{
    if (run.origin_us == AV_NOPTS_VALUE)
        return;
    WriteLeadCues(out, run);
    while (!run.waiting_extra.empty()) {
        PacketPtr pkt = std::move(run.waiting_extra.front());
        run.waiting_extra.pop_front();
        if (!run.lead_cues.Repeats(pkt.get()))
            WriteExtra(out, run, pkt.get());
    }
}

void FollowReencodedOrigin(JobOutput& out, InputRun& run, int64_t origin_us)
{
    if (run.origin_us != AV_NOPTS_VALUE || origin_us == AV_NOPTS_VALUE)
        return;
    run.origin_us = origin_us;
    WriteWaitingExtras(out, run);
}

void CopyExtraPacket(JobOutput& out, InputRun& run, AVPacket* pkt)
{
    const int i = pkt->stream_index;
    if (i < 0 || static_cast<size_t>(i) >= run.extra_slot.size() || run.extra_slot[i] < 0)
        return;
    if (IsAttachedPicture(run.in.format->streams[i]))
        return;  // its one picture went out with the header
    if (run.origin_us == AV_NOPTS_VALUE) {
        PacketPtr copy = MakePacket();
        if (copy && run.waiting_extra.size() < kMaxWaitingExtra && av_packet_ref(copy.get(), pkt) >= 0)
            run.waiting_extra.push_back(std::move(copy));
        return;
    }
    WriteWaitingExtras(out, run);
    if (!run.lead_cues.Repeats(pkt))
        WriteExtra(out, run, pkt);
}

void FinishExtraTracks(JobOutput& out, InputRun& run)
{
    WriteWaitingExtras(out, run);
    run.waiting_extra.clear();
    for (size_t slot = 0; slot < run.held_extra.size() && slot < out.extras.size(); ++slot) {
        if (out.video)
            ReleaseHeldExtra(out, run, slot, true);
        run.held_extra[slot].clear();
    }
}
