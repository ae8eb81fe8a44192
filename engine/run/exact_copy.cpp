// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut's output and its one pass over the span: the copied packets
// between the re-encoded ends, the sound and the other tracks moved with the
// picture, and the progress across the three parts.
#include "exact_cutter.h"

#include <algorithm>
#include <cstring>

#include "container_rules.h"
#include "job_file.h"
#include "media_time.h"
#include "packed_pictures.h"
#include "picture_times.h"
#include "tracks.h"

namespace exact_cutting {

namespace {

// Re-encoding one picture costs about this many copied packets: the weight of
// the re-encoded parts in the progress.
constexpr int kEncodeWeight = 12;

// Where parameter sets go into a packet: after its access unit delimiter,
// which must stay the first unit.
size_t ParameterSetPlace(CutCodec codec, const AVPacket* pkt, int length_size)
{
    std::vector<CodedUnit> obus;
    if (codec == CutCodec::Av1 && SplitAv1Units(pkt->data, static_cast<size_t>(pkt->size), &obus) && !obus.empty() &&
        Av1UnitType(obus[0]) == kAv1TemporalDelimiter)
        return obus[0].size;
    if (length_size != kStartCodes || (codec != CutCodec::H264 && codec != CutCodec::Hevc))
        return 0;
    const std::vector<CodedUnit> units = SplitStartCodeUnits(pkt->data, static_cast<size_t>(pkt->size));
    const bool delimited = !units.empty() && (codec == CutCodec::H264 ? H264UnitType(units[0]) == kH264Aud
                                                                       : HevcUnitType(units[0]) == kHevcAud);
    if (!delimited)
        return 0;
    return units.size() > 1 ? static_cast<size_t>(units[1].data - pkt->data) - 3 : static_cast<size_t>(pkt->size);
}

bool AppendToPacket(AVPacket* pkt, const Bytes& extra)
{
    const int old_size = pkt->size;
    if (av_grow_packet(pkt, static_cast<int>(extra.size())) < 0)
        return false;
    std::memcpy(pkt->data + old_size, extra.data(), extra.size());
    return true;
}

// The clock a sound track's span is measured on: its own, or its samples
// where its own counts whole packets (AVI), too coarse to place a span's
// first packet within half of one.
AVRational SoundClock(const AVStream* st)
{
    const int rate = st->codecpar->sample_rate;
    const bool coarse = rate > 0 && av_cmp_q(st->time_base, AVRational{1, rate}) > 0;
    return coarse ? AVRational{1, rate} : st->time_base;
}

}  // namespace

bool ExactCutter::OpenOutput()
{
    const char* path = inputs_[input_].output_path.c_str();
    const AVOutputFormat* format = DirectOutputFormat(in_.format.get(), path);
    AVFormatContext* ctx = format ? NewJobMuxer(format, path, reports_.cancel) : nullptr;
    if (!ctx)
        return false;
    out_.reset(ctx);
    ctx->max_interleave_delta = 0;  // the re-encoded head is written late: wait for it
    trims_sound_ = IsMp4Family(ctx->oformat);  // its track timing can hide a sound lead-in
    sound_by_place_ = TimesByPlace(ctx->oformat);
    // The streams and the container's facts travel as in any direct copy.
    out_video_ = AddCopiedStream(ctx, vst_);
    if (!out_video_ || (unpack_ && !UseUnpackedHeaders()) || (ast_ && !(out_audio_ = AddCopiedStream(ctx, ast_))))
        return false;
    CopyContainerFacts(ctx, in_.format.get());
    if (ast_)
        sounds_.push_back({ast_, out_audio_});
    extra_in_ = CopiableExtraTracks(reports_.dropped_tracks, input_, in_.format.get(), ctx->oformat);
    for (const int i : extra_in_) {
        extra_out_.push_back(AddExtraStream(ctx, in_.format->streams[i]));
        if (!extra_out_.back())
            return false;
        if (in_.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            sounds_.push_back({in_.format->streams[i], extra_out_.back()});
    }
    // The spans are known exactly, so the chapters can go with the header.
    if (!PutChapters(ctx, SeriesChapters()) || !OpenEncoders())
        return false;
    if (series_ && SetsInRecord()) {
        // Later spans may re-encode a part the first does not: its sets go
        // into the record now, and every span's encoder must match them.
        for (const PlannedSpan& span : spans_) {
            const int counts[2] = {span.plan.head_count, span.plan.tail_count};
            for (int p = 0; p < 2; ++p)
                if (span.planned && counts[p] > 0 && part_sets_[p].empty() && !OpenPartEncoder(p))
                    return false;
        }
    }
    if (!PutParameterSetRecord())
        return false;
    if (!WriteHeaderInto(ctx, file_.get()))  // the job's own file
        return false;
    header_written_ = true;
    WriteAttachedPictures(ctx, in_.format.get(), extra_in_, extra_out_);
    return true;
}

// The pictures are written unpacked: the output's headers must not say
// they are packed, or a decoder would look for two pictures in a packet.
bool ExactCutter::UseUnpackedHeaders()
{
    PackedPictureUnpacker unpacker;
    if (!unpacker.Open(vst_))
        return false;
    const AVCodecParameters* unpacked = unpacker.Parameters();
    return ReplaceExtradata(out_video_->codecpar, unpacked->extradata,
                            static_cast<size_t>(std::max(unpacked->extradata_size, 0)));
}

void ExactCutter::Progress()
{
    const int total = (plan_.head_count + plan_.tail_count) * kEncodeWeight + plan_.copy_count;
    const int done = (head_.encoded + tail_.encoded) * kEncodeWeight + copied_;
    reports_.Progress(total > 0 ? std::min(100, done * 100 / total) : 100);
}

// The source's parameter sets in front of the first copied picture of a
// span, where a re-encoded part replaced them (HEVC writes its own under the
// same ids) or where the stream carries them in band and the picture lacks
// them (a decoder may start with the output's first picture).
bool ExactCutter::NeedsSourceSets(const AVPacket* pkt) const
{
    if (codec_ == CutCodec::Hevc && length_size_ != kStartCodes)
        return source_sets_replaced_;
    const bool in_band = codec_ == CutCodec::Mpeg2 || codec_ == CutCodec::Av1 ||
                         (length_size_ == kStartCodes && (codec_ == CutCodec::H264 || codec_ == CutCodec::Hevc));
    return in_band && !source_units_.empty() && !CarriesParameterSets(codec_, pkt, length_size_);
}

// The packet's own units stay as they were.
bool ExactCutter::PrependSourceParameterSets(AVPacket* pkt)
{
    Bytes sets;
    for (const Bytes& u : source_units_) {
        const int type = u.empty() ? -1 : (u[0] >> 1) & 0x3f;
        if (codec_ == CutCodec::Mpeg2) {
            sets.insert(sets.end(), {0, 0, 1});
            sets.insert(sets.end(), u.begin(), u.end());
        } else if (codec_ == CutCodec::Av1) {
            sets.insert(sets.end(), u.begin(), u.end());
        } else if (codec_ == CutCodec::H264 || (type >= kHevcVps && type <= kHevcVps + 2)) {
            AppendLengthUnit(sets, u.data(), u.size(), length_size_);
        }
    }
    const size_t at = ParameterSetPlace(codec_, pkt, length_size_);
    Bytes data(pkt->data, pkt->data + at);
    data.insert(data.end(), sets.begin(), sets.end());
    data.insert(data.end(), pkt->data + at, pkt->data + pkt->size);
    PacketPtr joined = MakePacket();
    if (!joined || av_new_packet(joined.get(), static_cast<int>(data.size())) < 0 ||
        av_packet_copy_props(joined.get(), pkt) < 0)
        return false;
    std::memcpy(joined->data, data.data(), data.size());
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, joined.get());
    return true;
}

bool ExactCutter::WriteVideo(AVPacket* pkt)
{
    if (pkt->dts <= last_video_dts_)
        return false;  // a fault of the plan: decoding order would break
    last_video_dts_ = pkt->dts;
    pkt->stream_index = out_video_->index;
    pkt->pos = -1;
    av_packet_rescale_ts(pkt, vst_->time_base, out_video_->time_base);
    ++video_written_;
    if (!series_ || codec_ != CutCodec::Hevc)
        return av_interleaved_write_frame(out_.get(), pkt) >= 0;
    PacketPtr previous = std::move(pending_video_);
    pending_video_ = MakePacket();
    if (!pending_video_)
        return false;
    av_packet_move_ref(pending_video_.get(), pkt);
    return !previous || av_interleaved_write_frame(out_.get(), previous.get()) >= 0;
}

// The last picture of a span ends its coded sequence, so that the next
// span's first key picture starts afresh in every decoder.
bool ExactCutter::WritePendingVideo(bool end_sequence)
{
    if (!pending_video_)
        return true;
    PacketPtr pkt = std::move(pending_video_);
    if (end_sequence && !AppendEndOfSequence(pkt.get(), length_size_))
        return false;
    return av_interleaved_write_frame(out_.get(), pkt.get()) >= 0;
}

bool ExactCutter::WriteCopied(AVPacket* pkt)
{
    if (copied_ == 0 && NeedsSourceSets(pkt) && !PrependSourceParameterSets(pkt))
        return false;
    source_sets_replaced_ = false;
    if (copied_ == 0)
        pkt->dts = plan_.copy_first_dts;
    // No time at all (a damaged file's) stays none rather than wrapping round.
    if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts -= Shift();
    pkt->dts -= Shift();
    if (copied_ > 0 && pkt->dts <= last_video_dts_) {
        reason_ = FailureReason::DamagedWithin;  // the file's own decoding times go back
        return false;
    }
    if (pkt->duration <= 0)
        pkt->duration = plan_.frame_duration;
    ++copied_;
    return WriteVideo(pkt);
}

bool ExactCutter::VideoPacket(AVPacket* pkt, int index)
{
    const PacketFacts& s = scan_[index];
    const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pts != s.pts)
        return false;  // the file reads differently the second time
    if (pkt->dts == AV_NOPTS_VALUE)
        pkt->dts = s.dts;
    if (pkt->pts == AV_NOPTS_VALUE)
        pkt->pts = s.pts;  // as the scan placed it
    if (!head_done_ && plan_.head_count > 0 && index <= plan_.head_feed_end && !FeedPart(head_, pkt))
        return false;
    if (plan_.tail_count > 0 && index >= plan_.tail_from && !FeedPart(tail_, pkt))
        return false;
    if (plan_.HasCopy() && index >= plan_.copy_begin && index < plan_.copy_end && !plan_.dropped[index]) {
        PacketPtr copy = MakePacket();
        if (!copy || av_packet_ref(copy.get(), pkt) < 0)
            return false;
        if (head_done_) {
            if (!WriteCopied(copy.get()))
                return false;
        } else {
            waiting_copies_.push_back(std::move(copy));
        }
    }
    if (!head_done_ && index >= plan_.head_feed_end && !FinishHead())
        return false;
    Progress();
    return true;
}

bool ExactCutter::AudioPacket(AVPacket* pkt, SpanSound& sound)
{
    if (pkt->pts == AV_NOPTS_VALUE)
        return true;
    const AVStream* st = sound.in;
    if (pkt->duration <= 0 && st->codecpar->frame_size > 0 && st->codecpar->sample_rate > 0)
        pkt->duration = av_rescale_q(st->codecpar->frame_size, AVRational{1, st->codecpar->sample_rate},
                                     st->time_base);
    av_packet_rescale_ts(pkt, st->time_base, sound.clock);
    sound.done = pkt->pts >= sound.to;
    if (!SoundInSpan(pkt, sound))
        return true;
    const int64_t shift = av_rescale_q(Shift(), vst_->time_base, sound.clock);
    pkt->pts -= shift;
    pkt->dts = (pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts + shift) - shift;
    if (series_ && !MeetSoundBefore(pkt, sound))
        return true;
    sound.end = pkt->pts + pkt->duration;
    pkt->stream_index = sound.out->index;
    pkt->pos = -1;
    av_packet_rescale_ts(pkt, sound.clock, sound.out->time_base);
    av_interleaved_write_frame(out_.get(), pkt);  // a lost sound packet does not fail the cut
    return true;
}

ExactCutter::SpanSound* ExactCutter::SoundOf(int stream_index)
{
    for (SpanSound& sound : sounds_)
        if (sound.in->index == stream_index)
            return &sound;
    return nullptr;
}

// Every sound track takes the span of the picture, on its own clock.
void ExactCutter::StartSpanSounds()
{
    for (SpanSound& sound : sounds_) {
        sound.clock = SoundClock(sound.in);
        sound.from = av_rescale_q(plan_.origin_pts, vst_->time_base, sound.clock);
        sound.to = av_rescale_q(plan_.end_pts, vst_->time_base, sound.clock);
        // Where each packet plays right after the one before (AVI), a gap
        // cannot be kept: the span's sound goes on from where the sound
        // written ends, on the span's clock.
        if (sound_by_place_ && sound.end != INT64_MIN)
            sound.from = std::min(sound.from, sound.end + av_rescale_q(Shift(), vst_->time_base, sound.clock));
        sound.done = false;
    }
}

// Every sound track has reached the span's end; another one than the main
// sound may end early in the file: a while past the main one's end it is let be.
bool ExactCutter::SpanSoundsRead(int past_main_sound) const
{
    constexpr int kMaxPacketsPastMainSound = 256;
    return std::all_of(sounds_.begin(), sounds_.end(), [&](const SpanSound& s) {
        return s.done || (s.in != ast_ && past_main_sound > kMaxPacketsPastMainSound);
    });
}

// Where the container can hide its start, the packet that covers the first
// picture leads in; elsewhere the sound starts at the first packet inside the
// picture, within one packet of it. Inside a series the spans meet as a
// join's inputs do: a packet more than half outside its span stays out; so
// do the ends of a file that times its sound by place (AVI), whose first
// packet plays at its start and each next right after it.
bool ExactCutter::SoundInSpan(const AVPacket* pkt, const SpanSound& sound) const
{
    const bool first = spans_written_ == 0 && !sound_by_place_;
    const bool last = (!series_ || loaded_ == static_cast<int>(spans_.size()) - 1) && !sound_by_place_;
    const int64_t half = pkt->duration / 2;
    const bool starts_in_time = first ? (trims_sound_ ? pkt->pts + pkt->duration > sound.from : pkt->pts >= sound.from)
                                      : pkt->pts + half >= sound.from;
    const bool ends_in_time = last ? pkt->pts < sound.to : pkt->pts + half < sound.to;
    return starts_in_time && ends_in_time;
}

// The span's first sound packet follows the sound already written: less
// than half a packet apart, it is moved to touch it, and the rest of the
// span's sound with it; the picture's seam stays within half a packet.
bool ExactCutter::MeetSoundBefore(AVPacket* pkt, SpanSound& sound)
{
    if (!sound.placed) {
        if (sound.end != INT64_MIN) {
            const int64_t apart = sound.end - pkt->pts;
            if (2 * apart > pkt->duration)
                return false;  // more than half of it is written already
            sound.fix = 2 * -apart <= pkt->duration ? apart : 0;  // a wider gap is the source's
        } else if (sound_by_place_) {
            sound.fix = -pkt->pts;  // the file's first sound packet plays at its start, whatever its time
        }
        sound.placed = true;
    }
    pkt->pts += sound.fix;
    pkt->dts += sound.fix;
    return sound.end == INT64_MIN || pkt->dts > sound.end - pkt->duration;
}

// Moved with the picture: what lies in the span, from its first picture on.
void ExactCutter::ExtraPacket(AVPacket* pkt, size_t k)
{
    const AVStream* st = in_.format->streams[extra_in_[k]];
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return;
    const int64_t from = ToMicroseconds(plan_.first_pts, vst_->time_base);
    const int64_t to = ToMicroseconds(plan_.end_pts, vst_->time_base);
    const int64_t offset = ToMicroseconds(offset_, vst_->time_base);
    if (!PlaceExtraPacket(pkt, st, extra_out_[k]->time_base, from, to, offset))
        return;
    pkt->stream_index = extra_out_[k]->index;
    pkt->pos = -1;
    av_interleaved_write_frame(out_.get(), pkt);  // a lost packet of an extra track does not fail the cut
}

// The cues on screen at the span's first picture began before the reading
// of the span does.
LeadCues ExactCutter::WriteLeadCues()
{
    std::vector<int> cues;
    for (const int i : extra_in_)
        if (in_.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            cues.push_back(i);
    LeadCues lead = ReadLeadCues(in_.format.get(), cues, ToMicroseconds(plan_.first_pts, vst_->time_base));
    for (PacketPtr& p : lead.packets) {
        const auto k = std::find(extra_in_.begin(), extra_in_.end(), p->stream_index);
        ExtraPacket(p.get(), static_cast<size_t>(k - extra_in_.begin()));
    }
    lead.packets.clear();
    return lead;
}

bool ExactCutter::Process()
{
    AVFormatContext* fmt = in_.format.get();
    // From the sound before the first picture where the span keeps it.
    const bool sound_first = ast_ && seek_target_ != kFromFirstByte && plan_.origin_pts < seek_target_;
    const int seek_stream = sound_first ? ast_->index : vst_->index;
    const AVRational seek_base = sound_first ? ast_->time_base : vst_->time_base;
    int64_t seek_to = sound_first ? av_rescale_q(plan_.origin_pts, vst_->time_base, ast_->time_base) : seek_target_;
    // A transport or program stream stores the sound up to a second apart
    // from its picture: reading starts that much earlier, and the pictures
    // begin with the scan's first.
    if ((fmt->iformat->flags & AVFMT_TS_DISCONT) && seek_to != kFromFirstByte)
        seek_to -= av_rescale_q(1, AVRational{1, 1}, seek_base);
    const bool sought = seek_to == kFromFirstByte ? SeekVideo(seek_to)
                                                  : av_seek_frame(fmt, seek_stream, seek_to, AVSEEK_FLAG_BACKWARD) >= 0;
    if (!sought)
        return false;
    StartSpanSounds();
    const LeadCues lead = WriteLeadCues();
    const int n = static_cast<int>(scan_.size());
    PacketPtr pkt = MakePacket();
    int index = 0;
    int rc = 0;
    int past_main_sound = 0;  // packets read since the main sound reached the span's end
    PictureTimeReader reader(fmt, vst_->index, unpack_);
    while ((index < n || !SpanSoundsRead(past_main_sound)) && (rc = reader.Read(pkt.get())) >= 0) {
        if (Cancelled())
            break;
        past_main_sound += !sounds_.empty() && sounds_[0].done;
        bool ok = true;
        SpanSound* sound = SoundOf(pkt->stream_index);
        if (pkt->stream_index == vst_->index) {
            const int64_t pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            if (index < n && (index > 0 || ((pkt->flags & AV_PKT_FLAG_KEY) && pts == scan_[0].pts)))
                ok = VideoPacket(pkt.get(), index++);
        } else if (sound) {
            ok = AudioPacket(pkt.get(), *sound);
        } else {
            const auto k = std::find(extra_in_.begin(), extra_in_.end(), pkt->stream_index);
            if (k != extra_in_.end() && !lead.Repeats(pkt.get()))
                ExtraPacket(pkt.get(), static_cast<size_t>(k - extra_in_.begin()));
        }
        av_packet_unref(pkt.get());
        if (!ok)
            return false;
    }
    if (Cancelled())
        return true;
    if (index < n)
        return false;
    if (!head_done_ && !FinishHead())
        return false;
    if (plan_.tail_count > 0 && (!FeedPart(tail_, nullptr) || tail_.encoded != plan_.tail_count))
        return false;
    return true;
}

// Closes the job's file, or deletes it when it holds nothing playable.
bool ExactCutter::FinishFile(bool keep)
{
    FailureReason why = FailureReason::None;
    if (!file_)
        return false;
    if (FinishJobFile(file_.get(), keep, &why, reports_.output_error))
        return true;
    if (why != FailureReason::None)
        reason_ = why;
    return false;
}

bool ExactCutter::Run()
{
    reports_.Progress(0, false);
    if (!OpenSource())
        return FinishFile(false);
    if (!PlanSpan())
        return FinishFile(false);
    StartWithFirstDecoded();
    bit_rate_ = MeasuredBitRate(scan_, vst_->time_base);
    if (bit_rate_ <= 0)
        bit_rate_ = vst_->codecpar->bit_rate;
    reason_ = FailureReason::NotAccepted;
    bool ok = OpenOutput() && Process();
    // A stopped cut keeps what it wrote, as a stopped direct cut does.
    const bool wrote = copied_ + head_.encoded + tail_.encoded > 0;
    bool keep = header_written_ && wrote && (ok || Cancelled());
    if (keep && av_write_trailer(out_.get()) < 0)
        ok = keep = false;
    out_.reset();  // the writer is the file's
    ok = FinishFile(keep) && ok;
    if (ok)
        reports_.Progress(100, false);
    return ok || (Cancelled() && keep);
}

// Ends the HEVC coded sequence with this packet (once).
bool AppendEndOfSequence(AVPacket* pkt, int length_size)
{
    const uint8_t end_of_sequence[] = {kHevcEndOfSequence << 1, 1};
    Bytes extra;
    AppendLengthUnit(extra, end_of_sequence, sizeof end_of_sequence, length_size);
    const size_t n = extra.size();
    if (static_cast<size_t>(pkt->size) >= n && std::memcmp(pkt->data + pkt->size - n, extra.data(), n) == 0)
        return true;
    return AppendToPacket(pkt, extra);
}

}  // namespace exact_cutting
