// SPDX-License-Identifier: GPL-3.0-or-later
#include "direct_copy.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "container_rules.h"
#include "media_time.h"
#include "mp3_entry.h"
#include "packed_pictures.h"

namespace {

// Audio read before the first video packet waits for it, so both streams of
// an input share one origin; past this many, the audio sets the origin.
constexpr size_t kMaxWaitingAudio = 512;
// A seam's gap wider than this many sound packets is left as it is.
constexpr int64_t kMaxSeamRepeats = 8;


// Start of a packet on its stream's timeline, decoding order first.
int64_t PacketStart(const AVPacket* pkt) { return pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts; }

bool HasContent(const StreamClock& clock) { return clock.last_dts != AV_NOPTS_VALUE; }

// Takes over `pkt`'s data into a packet of its own: one the run has written
// and kept for reuse where there is one, as sound held back at every packet
// of a span series would otherwise allocate and free one a packet.
PacketPtr TakePacket(InputRun& run, AVPacket* pkt)
{
    PacketPtr copy;
    if (!run.spare_packets.empty()) {
        copy = std::move(run.spare_packets.back());
        run.spare_packets.pop_back();
    } else {
        copy = MakePacket();
    }
    if (copy)
        av_packet_move_ref(copy.get(), pkt);
    return copy;
}

void KeepForReuse(InputRun& run, PacketPtr pkt)
{
    constexpr size_t kMaxSparePackets = 64;
    av_packet_unref(pkt.get());
    if (run.spare_packets.size() < kMaxSparePackets)
        run.spare_packets.push_back(std::move(pkt));
}

// Moves a packet from its input stream's timeline onto the output's: the
// input's origin lands at its offset. Rescales the duration too.
void ShiftToOutput(const InputRun& run, AVPacket* pkt, const AVStream* in_st, const AVStream* out_st)
{
    const AVRational in_tb = in_st->time_base;
    const AVRational out_tb = out_st->time_base;
    const int64_t origin = ToStreamTicks(run.origin_us, in_tb);
    const int64_t offset = ToStreamTicks(run.offset_us, out_tb);
    if (pkt->duration <= 0)
        pkt->duration = FallbackDuration(in_st);
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts = av_rescale_q(pkt->dts - origin, in_tb, out_tb) + offset;
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts = av_rescale_q(pkt->pts - origin, in_tb, out_tb) + offset;
    pkt->duration = av_rescale_q(pkt->duration, in_tb, out_tb);
}

// The hidden lead-in of a later input (pictures an edit list decodes but
// never shows) cannot stay hidden mid-stream: it is given the last ticks
// before the input's first shown picture, in its own presentation order, so
// that the decoder has its references and the picture is on screen for no
// time at all. False when the time base leaves no room for it.
bool WriteLeadIn(JobOutput& out, InputRun& run, const AVPacket* first_shown)
{
    const auto n = static_cast<int64_t>(run.lead_in.size());
    const int64_t shown_pts = ToStreamTicks(run.offset_us, out.video->time_base);
    const int64_t first_pts = shown_pts - n;
    const int64_t first_dts = std::min(first_pts, first_shown->dts - n);
    const bool room = n < first_shown->duration && first_dts > out.video_clock.last_dts;
    if (room) {
        std::vector<int64_t> order;
        for (const PacketPtr& p : run.lead_in)
            order.push_back(p->pts);
        std::sort(order.begin(), order.end());
        for (int64_t i = 0; i < n; ++i) {
            AVPacket* p = run.lead_in[i].get();
            const auto rank = std::lower_bound(order.begin(), order.end(), p->pts) - order.begin();
            p->pts = first_pts + rank;
            p->dts = std::min(first_dts + i, p->pts);
            p->duration = 1;
            WriteOutputPacket(out, p, out.video, out.video_clock);
        }
    }
    run.lead_in.clear();
    return room;
}

// Held-back sound of a join goes out once the picture has reached its end;
// at the input's end, each packet that brings the sound's end nearer to the
// picture's, the rest is dropped, and the last one kept waits as the
// output's sound tail for the next input to write or replace.
void ReleaseHeldAudio(JobOutput& out, InputRun& run, bool input_ended)
{
    const AVRational atb = out.audio->time_base;
    const AVRational vtb = out.video->time_base;
    if (input_ended) {
        const int64_t picture_end = out.PictureEnd();
        while (!run.held_audio.empty()) {
            const AVPacket* p = run.held_audio.back().get();
            if (av_compare_ts(p->pts + p->duration / 2, atb, picture_end, vtb) < 0)
                break;
            run.held_audio.pop_back();
        }
    }
    while (!run.held_audio.empty()) {
        AVPacket* p = run.held_audio.front().get();
        // The last packet within the picture stays held: it may be the tail.
        const AVPacket* next = run.held_audio.size() > 1 ? run.held_audio[1].get() : nullptr;
        if (!input_ended && (!next || av_compare_ts(next->pts + next->duration, atb, out.PictureEnd(), vtb) > 0))
            return;
        if (input_ended && run.held_audio.size() == 1) {
            WriteSoundTail(out);
            out.sound_tail = std::move(run.held_audio.front());
        } else {
            WriteOutputPacket(out, p, out.audio, out.audio_clock);
            KeepForReuse(run, std::move(run.held_audio.front()));
        }
        run.held_audio.pop_front();
    }
}

// A later input's sound packet that ends where its first picture starts
// (an encoder's priming) leads into it: the decoder needs it to play the
// packet after it as the source does. It takes the place of the sound
// tail, the input before's last packet, so that what follows meets the
// picture. `pkt` and `origin` are on the output's clock.
bool TakesPlaceOfSoundTail(const JobOutput& out, const AVPacket* pkt, int64_t origin)
{
    if (!out.sound_tail || pkt->pts == AV_NOPTS_VALUE || pkt->pts + pkt->duration > origin)
        return false;
    return 2 * (out.sound_tail->pts - pkt->pts) <= pkt->duration;
}

// Fills a gap at a seam with copies of the input's first sound packet (one
// that needs nothing before it to decode), ending where `first` starts.
void FillSeamGap(JobOutput& out, InputRun& run, const AVPacket* first, int64_t repeats)
{
    for (PacketPtr& copy : SeamFill(first, repeats)) {
        if (run.trim_sound_to_picture)
            run.held_audio.push_back(std::move(copy));
        else
            WriteOutputPacket(out, copy.get(), out.audio, out.audio_clock);
    }
}

// What a decoder plays of a copied sound packet: a whole frame of a codec
// with fixed frames. An edit list may have hidden the end of a file's last
// packet (its duration then counts only the shown part), but within a join's
// output nothing hides it: the seam's trim must count all of it, or every
// seam adds the hidden part.
void CountWholeFrame(const AVStream* st, AVPacket* pkt)
{
    const AVCodecParameters* par = st->codecpar;
    if (pkt->duration <= 0 || par->frame_size <= 0 || par->sample_rate <= 0)
        return;
    const int64_t frame = av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, st->time_base);
    pkt->duration = std::max(pkt->duration, frame);
}

// Packed B-pictures ride in the packet of the picture decoded before them
// and come out of the decoder at the placeholder after it. A copy can leave
// out neither the leading pictures of the key picture it enters at (one
// rides in the key picture's own packet) nor the placeholders that bring
// them out (every picture after would come out a packet late, garbled): it
// keeps every packet, and the decoder skips the leading pictures, whose
// references are not there.
bool KeepsEveryPacket(const AVStream* vs)
{
    return HasPackedPictures(vs->codecpar);
}

// The key picture entered at carries its leading pictures along: it keeps
// its place before theirs.
bool EntryCarriesLeadingPictures(const AVStream* vs, const AVPacket* key)
{
    return KeepsEveryPacket(vs) && CarriesPackedPicture(key);
}

// A picture decoded after the key picture the input is entered at but shown
// before it (the leading pictures of an open GOP) refers to pictures before
// the key, which are not there: decoded it is garbage, and it would be shown
// before the input's start, in the middle of the picture before a seam.
bool IsLeadingPicture(const InputRun& run, const AVPacket* pkt)
{
    return run.first_key_pts != AV_NOPTS_VALUE && pkt->pts != AV_NOPTS_VALUE && pkt->pts < run.first_key_pts &&
           !KeepsEveryPacket(run.in.VideoStream());
}

// A later input's first picture may be decoded at a time already taken: its
// decoding time made room for leading pictures, which are left out. It is
// decoded a whole frame after the last picture written, as far as its own
// presentation time allows: a program stream's reader rebuilds picture times
// from decoding times, and a tick apart would give two pictures one time.
void FollowWrittenPictures(const JobOutput& out, AVPacket* pkt)
{
    const int64_t last = out.video_clock.last_dts;
    if (last == AV_NOPTS_VALUE || pkt->dts == AV_NOPTS_VALUE || pkt->dts > last || pkt->pts == AV_NOPTS_VALUE)
        return;
    pkt->dts = std::max(pkt->dts, std::min(last + pkt->duration, pkt->pts));
}

// An H.264 input entered at a key picture that is not an IDR (an open
// GOP's recovery point) would go on with the numbering of pictures that are
// not copied: it starts as an IDR, its pictures renumbered from it.
void StartAfreshAtEntry(InputRun& run, const AVPacket* key)
{
    const AVCodecParameters* par = run.in.VideoStream()->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264)
        return;
    run.h264_entry = std::make_unique<H264EntryRewriter>(par);
    // Consecutive IDRs need different ids: spans alternate theirs.
    if (!run.h264_entry->Begin(key, 2 + run.index % 2))
        run.h264_entry.reset();
}

// A picture after the entry that is not copied.
int LeaveOut(InputRun& run, const AVPacket* pkt)
{
    if (run.h264_entry)
        run.h264_entry->Skip(pkt);
    return 0;
}

// WMA's packets carry the start of the next packet's first frame (a bit
// reservoir): a decoder entering at a packet loses that frame. The packet
// before the one that leads into the picture goes along, timed before it,
// so that a player decodes it and drops it; where the container plays every
// sound packet it keeps, it would only put the sound early.
int64_t LeadInPackets(const AVStream* st, const AVOutputFormat* format)
{
    const AVCodecID id = st->codecpar->codec_id;
    const bool reservoir = id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2;
    return reservoir && !TimesByPlace(format) ? 1 : 0;
}

// An input's first sound packet must decode without the ones before it:
// neither the start of a cut nor a seam (where the decoder would take the
// input before's last packets for them) gives it those. An MP3 frame that
// reaches back for them is rewritten to hold them.
void EnterSound(const InputRun& run, const AVStream* as, AVPacket* pkt, int64_t read_pts)
{
    if (as->codecpar->codec_id != AV_CODEC_ID_MP3 || Mp3BytesReachedBack(pkt->data, pkt->size) <= 0)
        return;
    MakeMp3FrameSelfContained(pkt, ReadMp3MainDataBefore(run.in.format.get(), as->index, read_pts));
}

int WriteAudioPacket(JobOutput& out, InputRun& run, AVPacket* pkt)
{
    const AVStream* as = run.in.AudioStream();
    if (pkt->duration <= 0)
        pkt->duration = FallbackDuration(as);
    CountWholeFrame(as, pkt);
    // Sound from before this input's first picture is dropped, but for the
    // packets that lead into it (decoders need them to start cleanly).
    const int64_t origin = ToStreamTicks(run.origin_us, as->time_base);
    const int64_t lead_in = LeadInPackets(as, out.ctx->oformat) * pkt->duration;
    if (pkt->pts != AV_NOPTS_VALUE && pkt->pts + pkt->duration + lead_in < origin)
        return 0;
    // Where sound is timed by its place, a packet kept plays at the origin:
    // the one that starts nearest to it goes first.
    if (TimesByPlace(out.ctx->oformat) && pkt->pts != AV_NOPTS_VALUE && 2 * (origin - pkt->pts) > pkt->duration)
        return 0;
    const bool first = run.audio_shift == AV_NOPTS_VALUE;
    const int sample_rate = as->codecpar->sample_rate;
    const bool priming = sample_rate > 0 &&
                         SkipsMostOfPacket(pkt, av_rescale_q(pkt->duration, as->time_base, AVRational{1, sample_rate}));
    const int64_t read_pts = pkt->pts;
    ShiftToOutput(run, pkt, as, out.audio);
    const bool replaces_tail =
        first && lead_in == 0 && TakesPlaceOfSoundTail(out, pkt, ToStreamTicks(run.offset_us, out.audio->time_base));
    if (replaces_tail)
        out.sound_tail.reset();
    else if (first && WriteSoundTail(out) < 0)
        return -1;
    if (priming && !replaces_tail)
        return 0;  // encoder priming: silence that would push the sound late
    int64_t repeats = 0;
    if (!PlaceSoundAtSeam(out.audio_clock, pkt, &run.audio_shift, &repeats))
        return 0;
    if (first)
        EnterSound(run, as, pkt, read_pts);
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts += run.audio_shift;
    if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts += run.audio_shift;
    FillSeamGap(out, run, pkt, repeats);
    if (run.trim_sound_to_picture) {
        if (PacketPtr held = TakePacket(run, pkt))
            run.held_audio.push_back(std::move(held));
        ReleaseHeldAudio(out, run, false);
        return 0;
    }
    return WriteOutputPacket(out, pkt, out.audio, out.audio_clock);
}

int WriteWaitingAudio(JobOutput& out, InputRun& run)
{
    int rc = 0;
    while (!run.waiting.empty()) {
        PacketPtr pkt = std::move(run.waiting.front());
        run.waiting.pop_front();
        if (rc >= 0)  // after a failure the rest is only released
            rc = WriteAudioPacket(out, run, pkt.get());
    }
    return rc;
}

// Where pictures are timed by their place, the key picture entered at is
// decoded at the input's start and shown the decoder's delay later, as in
// the source: the input's origin is that much before the picture's shown
// time, or its sound would play early.
int64_t FirstShownByPlace(const JobOutput& out, const AVStream* vs, const AVPacket* key, int64_t first)
{
    if (!TimesByPlace(out.ctx->oformat) || key->dts == AV_NOPTS_VALUE || key->pts == AV_NOPTS_VALUE)
        return first;
    if (EntryCarriesLeadingPictures(vs, key))
        return key->dts;
    return std::max(key->dts, first - vs->codecpar->video_delay * key->duration);
}

// Where pictures are timed by their place, the key picture an input is
// entered at keeps its place right before the picture decoded after it: the
// places of its leading pictures, left out, would otherwise stay as empty
// frames and every picture after them be shown that much late.
void DecodeEntryBeforeItsFollower(const JobOutput& out, const AVStream* vs, AVPacket* pkt)
{
    if (!TimesByPlace(out.ctx->oformat) || pkt->pts == AV_NOPTS_VALUE || pkt->dts == AV_NOPTS_VALUE ||
        EntryCarriesLeadingPictures(vs, pkt))
        return;
    pkt->dts = std::max(pkt->dts, pkt->pts - vs->codecpar->video_delay * pkt->duration);
}

}  // namespace

int64_t FallbackDuration(const AVStream* st)
{
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        // The base rate where it is one a stream can have (a 90000/1 is not).
        const bool base_plausible = st->r_frame_rate.num > 0 && av_q2d(st->r_frame_rate) <= kMaxPlausibleFps;
        const AVRational rate = base_plausible ? st->r_frame_rate : PlausibleFrameRate(st);
        return rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), st->time_base) : 0;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->frame_size > 0 && par->sample_rate > 0)
        return av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, st->time_base);
    return 0;
}

bool PlaceSoundAtSeam(const StreamClock& written, const AVPacket* pkt, int64_t* shift, int64_t* repeats)
{
    *repeats = 0;
    if (*shift != AV_NOPTS_VALUE)
        return true;
    if (!HasContent(written) || pkt->pts == AV_NOPTS_VALUE || pkt->duration <= 0) {
        *shift = 0;
        return true;
    }
    const int64_t end = written.end;
    if (2 * (end - pkt->pts) > pkt->duration)  // more than half of it is written already
        return false;
    const int64_t gap = std::max<int64_t>(0, pkt->pts - end);
    *repeats = std::min<int64_t>((2 * gap + pkt->duration) / (2 * pkt->duration), kMaxSeamRepeats);
    *shift = end + *repeats * pkt->duration - pkt->pts;
    return true;
}

std::vector<PacketPtr> SeamFill(const AVPacket* first, int64_t repeats)
{
    std::vector<PacketPtr> fill;
    for (int64_t i = repeats; i > 0; --i) {
        PacketPtr copy = MakePacket();
        if (!copy || av_packet_ref(copy.get(), first) < 0)
            break;
        copy->pts -= i * first->duration;
        copy->dts -= i * first->duration;
        fill.push_back(std::move(copy));
    }
    return fill;
}

int CopyVideoPacket(JobOutput& out, InputRun& run, AVPacket* pkt)
{
    const AVStream* vs = run.in.VideoStream();
    run.video_dts.Fill(pkt, vs, FallbackDuration(vs));
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (run.origin_us == AV_NOPTS_VALUE) {
        // Whatever precedes the first key frame cannot be decoded.
        if (!key || PacketStart(pkt) == AV_NOPTS_VALUE)
            return 0;
        // The first picture's presentation time: with reordered pictures the
        // decoding time runs ahead of it, and taking that instead would leave
        // a gap of the reorder delay at every seam of a join. An edit list's
        // hidden lead-in starts before the first picture shown: that one is
        // where the stream starts.
        int64_t first = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : PacketStart(pkt);
        if (HasDiscardFlag(pkt) && vs->start_time != AV_NOPTS_VALUE && vs->start_time > first)
            first = vs->start_time;
        first = FirstShownByPlace(out, vs, pkt, first);
        run.origin_us = ToMicroseconds(first, vs->time_base);
        run.first_key_pts = pkt->pts;
        StartAfreshAtEntry(run, pkt);
        WriteWaitingAudio(out, run);
    } else if (IsLeadingPicture(run, pkt)) {
        return LeaveOut(run, pkt);
    }
    // On an output's first input, pictures before the origin keep times
    // before 0, which containers with edit lists keep hidden.
    const bool hidden = HasDiscardFlag(pkt) && pkt->pts != AV_NOPTS_VALUE &&
                        ToMicroseconds(pkt->pts, vs->time_base) < run.origin_us;
    if (hidden && run.continues_output) {
        if (PacketPtr held = TakePacket(run, pkt))
            run.lead_in.push_back(std::move(held));
        return 0;
    }
    if (run.skip_to_key && !key)
        return LeaveOut(run, pkt);
    run.skip_to_key = false;
    const bool entry = key && pkt->pts != AV_NOPTS_VALUE && pkt->pts == run.first_key_pts;
    ShiftToOutput(run, pkt, vs, out.video);
    for (PacketPtr& p : run.lead_in)
        ShiftToOutput(run, p.get(), vs, out.video);
    if (!run.lead_in.empty() && !WriteLeadIn(out, run, pkt) && !key) {
        run.skip_to_key = true;  // its references are gone: wait for the next key frame
        return 0;
    }
    if (entry)
        DecodeEntryBeforeItsFollower(out, vs, pkt);
    if (entry && run.continues_output)
        FollowWrittenPictures(out, pkt);
    if (run.h264_entry && run.h264_entry->Active())
        run.h264_entry->Rewrite(pkt);
    const int rc = WriteOutputPacket(out, pkt, out.video, out.video_clock);
    if (out.audio)
        ReleaseHeldAudio(out, run, false);
    return rc;
}

int CopyAudioPacket(JobOutput& out, InputRun& run, AVPacket* pkt)
{
    const AVStream* as = run.in.AudioStream();
    run.audio_dts.Fill(pkt, as, FallbackDuration(as));
    if (run.origin_us == AV_NOPTS_VALUE) {
        const bool video_sets_origin = run.in.video_index >= 0 && out.video;
        if (video_sets_origin && run.waiting.size() < kMaxWaitingAudio) {
            PacketPtr copy = MakePacket();
            if (copy && av_packet_ref(copy.get(), pkt) >= 0)
                run.waiting.push_back(std::move(copy));
            return 0;
        }
        const AVPacket* first = run.waiting.empty() ? pkt : run.waiting.front().get();
        if (PacketStart(first) == AV_NOPTS_VALUE)
            return 0;
        run.origin_us = ToMicroseconds(PacketStart(first), as->time_base);
        WriteWaitingAudio(out, run);
    }
    return WriteAudioPacket(out, run, pkt);
}

bool ShownBeforeWrittenEnd(const JobOutput& out, const InputRun& run, const AVPacket* pkt)
{
    if (pkt->pts == AV_NOPTS_VALUE || run.origin_us == AV_NOPTS_VALUE || !out.video)
        return false;
    const AVRational in_tb = run.in.VideoStream()->time_base;
    const AVRational out_tb = out.video->time_base;
    const int64_t origin = ToStreamTicks(run.origin_us, in_tb);
    const int64_t offset = ToStreamTicks(run.offset_us, out_tb);
    return av_rescale_q(pkt->pts - origin, in_tb, out_tb) + offset < out.video_clock.end;
}

void FinishDirectInput(JobOutput& out, InputRun& run)
{
    // Audio that never saw a video packet (a cut of a file whose video ends
    // early) still belongs to the output.
    if (!run.waiting.empty() && run.origin_us == AV_NOPTS_VALUE) {
        run.origin_us = ToMicroseconds(PacketStart(run.waiting.front().get()), run.in.AudioStream()->time_base);
        WriteWaitingAudio(out, run);
    }
    run.waiting.clear();
    run.lead_in.clear();
    if (out.audio && out.video)
        ReleaseHeldAudio(out, run, true);
    run.held_audio.clear();
}
