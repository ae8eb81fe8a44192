// SPDX-License-Identifier: GPL-3.0-or-later
// The exact cut's re-encoded ends: the encoders of the head and the tail,
// their parameter sets in the output's record, and the pictures decoded from
// the key picture before each end and encoded again.
#include "exact_cutter.h"

#include <algorithm>
#include <cstring>

#include "matching_encoder.h"

namespace exact_cutting {

// An encoder for the head (0) or the tail (1) of a span, of the source's
// kind. In H.264 its SPS/PPS go under ids of their own into the output's one
// record: every decoder has them from the start, the packets stay as they were.
CodecContextPtr ExactCutter::OpenPartEncoder(int part)
{
    FramePtr shape = MakeFrame();
    shape->format = vst_->codecpar->format;
    shape->interlaced_frame = 0;
    MatchingEncoderSetup setup;
    setup.source = vst_;
    setup.first_frame = shape.get();
    setup.source_bit_rate = bit_rate_;
    setup.global_header = SetsInRecord();
    setup.parameter_set_id = ids_[part];
    CodecContextPtr enc = OpenMatchingEncoder(setup);
    if (enc && SetsInRecord() && !RecordPartSets(part, enc.get()))
        return nullptr;
    return enc;
}

// The first encoder of a part names its sets in the record; every later one
// (the spans of a series) must write the same, or its pictures would decode
// against another's.
bool ExactCutter::RecordPartSets(int part, const AVCodecContext* enc)
{
    std::vector<Bytes> sets;
    for (const CodedUnit& u : SplitStartCodeUnits(enc->extradata, static_cast<size_t>(enc->extradata_size)))
        if (H264UnitType(u) == kH264Sps || H264UnitType(u) == kH264Pps)
            sets.emplace_back(u.data, u.data + u.size);
    if (part_sets_[part].empty()) {
        part_sets_[part] = std::move(sets);
        return !part_sets_[part].empty();
    }
    return sets == part_sets_[part];
}

bool ExactCutter::PutParameterSetRecord()
{
    if (!SetsInRecord())
        return true;
    AvcConfig config = config_;
    for (const std::vector<Bytes>& sets : part_sets_)
        for (const Bytes& u : sets)
            (H264UnitType(CodedUnit{u.data(), u.size()}) == kH264Sps ? config.sps : config.pps).push_back(u);
    const Bytes record = WriteAvcConfig(config);
    return ReplaceExtradata(out_video_->codecpar, record.data(), record.size());
}

bool ExactCutter::OpenEncoders()
{
    ReencodedPart* parts[2] = {&head_, &tail_};
    const int counts[2] = {plan_.head_count, plan_.tail_count};
    for (int p = 0; p < 2; ++p) {
        if (counts[p] > 0 && !(parts[p]->enc = OpenPartEncoder(p)))
            return false;
    }
    head_.from = plan_.start;
    head_.to = plan_.HasCopy() ? plan_.copy_min : plan_.end;
    tail_.from = plan_.copy_max + 1;
    tail_.to = plan_.end;
    return true;
}

// The head's last packet also ends its coded sequence (HEVC), so the copied
// key picture after it starts afresh in every decoder.
bool ExactCutter::WriteHeld(bool last_of_head)
{
    if (!held_)
        return true;
    PacketPtr pkt = std::move(held_);
    if (last_of_head && codec_ == CutCodec::Hevc && !AppendEndOfSequence(pkt.get(), length_size_))
        return false;
    return WriteVideo(pkt.get());
}

bool ExactCutter::WriteEncoded(ReencodedPart& part, AVPacket* pkt)
{
    av_packet_rescale_ts(pkt, part.enc->time_base, vst_->time_base);
    pkt->pts += part.origin;
    pkt->dts += part.origin;
    if (pkt->duration <= 0)
        pkt->duration = plan_.frame_duration;
    if (codec_ == CutCodec::H264 || codec_ == CutCodec::Hevc) {
        const Bytes data = StartCodesToLengths(pkt->data, static_cast<size_t>(pkt->size), length_size_);
        PacketPtr rewritten = MakePacket();
        if (!rewritten || av_new_packet(rewritten.get(), static_cast<int>(data.size())) < 0 ||
            av_packet_copy_props(rewritten.get(), pkt) < 0)
            return false;
        std::memcpy(rewritten->data, data.data(), data.size());
        av_packet_unref(pkt);
        av_packet_move_ref(pkt, rewritten.get());
    }
    if (codec_ == CutCodec::Mpeg4 && !MatchSourceDelay(pkt))
        return false;
    pkt->pts -= Shift();
    // Not reordered: every re-encoded picture is decoded the same time before
    // it is shown, so that a span's head and the tail of the span before it
    // meet without a gap.
    pkt->dts = pkt->pts - ReencodedDtsLead();
    source_sets_replaced_ = true;
    if (&part == &head_) {
        if (!WriteHeld(false))
            return false;
        held_ = MakePacket();
        if (!held_)
            return false;
        av_packet_move_ref(held_.get(), pkt);
        return true;
    }
    pkt->dts = std::max(pkt->dts, last_video_dts_ + 1);  // after the copy's last
    return WriteVideo(pkt);
}

// The re-encoded pictures have no B-pictures, but where the source's have,
// their layer header says they may: a decoder then shows every picture one
// picture after it is decoded, the re-encoded ones as the copied ones. AVI
// stores no times, only that order, so otherwise a picture would be lost
// or shown twice at each seam.
bool ExactCutter::MatchSourceDelay(AVPacket* pkt) const
{
    if (vst_->codecpar->video_delay == 0 || !HasMpeg4VolHeader(pkt->data, static_cast<size_t>(pkt->size)))
        return true;
    return av_packet_make_writable(pkt) >= 0 && SetMpeg4LowDelay(pkt->data, static_cast<size_t>(pkt->size), false);
}

// How long before it is shown a re-encoded picture is decoded: so long that
// the head's pictures come before the copy's first (the plan's shift, the
// largest of a series' spans), and a picture at least where decoders show a
// reference picture once the next is decoded: MPEG-2, and MPEG-4 whose
// source has B-pictures (MatchSourceDelay).
int64_t ExactCutter::ReencodedDtsLead() const
{
    const int64_t lead = series_ ? series_dts_shift_ : plan_.head_dts_shift;
    const bool shown_at_next =
        codec_ == CutCodec::Mpeg2 || (codec_ == CutCodec::Mpeg4 && vst_->codecpar->video_delay > 0);
    return shown_at_next ? std::max(lead, plan_.frame_duration) : lead;
}

bool ExactCutter::DrainEncoder(ReencodedPart& part)
{
    PacketPtr pkt = MakePacket();
    int rc;
    while ((rc = avcodec_receive_packet(part.enc.get(), pkt.get())) >= 0) {
        if (!WriteEncoded(part, pkt.get()))
            return false;
        av_packet_unref(pkt.get());
    }
    return rc == AVERROR(EAGAIN) || rc == AVERROR_EOF;
}

bool ExactCutter::EncodeFrame(ReencodedPart& part, AVFrame* frame)
{
    if (part.origin == AV_NOPTS_VALUE)
        part.origin = frame->pts;
    frame->pts = av_rescale_q(frame->pts - part.origin, vst_->time_base, part.enc->time_base);
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(part.enc.get(), frame) < 0)
        return false;
    ++part.encoded;
    Progress();
    return DrainEncoder(part);
}

// Feeds one packet (null: the end) to a part's decoder and encodes the
// pictures that fall inside the part.
bool ExactCutter::FeedPart(ReencodedPart& part, const AVPacket* pkt)
{
    if (!part.dec) {
        part.dec = OpenStreamDecoder(vst_, 2);
        if (!part.dec)
            return false;
    }
    // A picture before the part that no other refers to is never encoded:
    // it need not be decoded either.
    part.dec->skip_frame = pkt && pkt->pts != AV_NOPTS_VALUE && pkt->pts < part.from ? AVDISCARD_NONREF
                                                                                    : AVDISCARD_DEFAULT;
    if (avcodec_send_packet(part.dec.get(), pkt) < 0 && pkt)
        return true;  // a damaged packet: the picture counts below tell
    FramePtr frame = MakeFrame();
    int rc;
    while ((rc = avcodec_receive_frame(part.dec.get(), frame.get())) >= 0) {
        frame->pts = frame->best_effort_timestamp;
        if (frame->pts >= part.from && frame->pts < part.to && !EncodeFrame(part, frame.get()))
            return false;
        av_frame_unref(frame.get());
    }
    if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
        return false;
    if (!pkt) {
        if (avcodec_send_frame(part.enc.get(), nullptr) < 0 || !DrainEncoder(part))
            return false;
        part.flushed = true;
    }
    return true;
}

bool ExactCutter::FinishHead()
{
    head_done_ = true;
    if (plan_.head_count > 0) {
        if (!FeedPart(head_, nullptr) || !WriteHeld(true))
            return false;
        if (head_.encoded != plan_.head_count)
            return false;  // the source did not decode as its index promised
    }
    while (!waiting_copies_.empty()) {
        PacketPtr pkt = std::move(waiting_copies_.front());
        waiting_copies_.pop_front();
        if (!WriteCopied(pkt.get()))
            return false;
    }
    return true;
}

}  // namespace exact_cutting
