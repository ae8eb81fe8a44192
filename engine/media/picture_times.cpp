// SPDX-License-Identifier: GPL-3.0-or-later
#include "picture_times.h"

#include "container_rules.h"
#include "start_codes.h"

#include <algorithm>

namespace {

// AVI stores no times at all: a picture's place in the file is its time.
// Without B-frames that is also when it is shown; with them a reference
// picture is shown when the next one is decoded, and a copy needs that time
// to know the leading pictures of the key picture it enters at and where
// its pictures end.
bool FillsPictureTimes(const AVFormatContext* format, const AVStream* st)
{
    const AVCodecID id = st->codecpar->codec_id;
    const bool reordered_kind = id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO || id == AV_CODEC_ID_MPEG4;
    return reordered_kind && (!TimesByPlace(format) || st->codecpar->video_delay > 0);
}

}  // namespace

bool ShownTimesOnlyByReading(const AVFormatContext* format, const AVStream* st)
{
    return FillsPictureTimes(format, st) && TimesByPlace(format);
}

PictureKind KindOfPicture(int codec_id, const uint8_t* data, size_t size)
{
    if (codec_id == AV_CODEC_ID_MPEG4) {
        const size_t at = AfterStartCode(data, size, kMpeg4VopStart);
        if (at >= size)
            return PictureKind::Unknown;
        return (data[at] >> 6) == 2 ? PictureKind::Bidirectional : PictureKind::Reference;  // I, P, S
    }
    if (codec_id == AV_CODEC_ID_MPEG1VIDEO || codec_id == AV_CODEC_ID_MPEG2VIDEO) {
        // 10 bits of temporal reference, then 3 of picture coding type.
        const size_t at = AfterStartCode(data, size, kMpeg2PictureStart);
        if (at + 1 >= size)
            return PictureKind::Unknown;
        const int type = (data[at + 1] >> 3) & 7;
        return type == 3 ? PictureKind::Bidirectional : type == 1 || type == 2 ? PictureKind::Reference
                                                                                : PictureKind::Unknown;
    }
    return PictureKind::Unknown;
}

PictureTimeReader::PictureTimeReader(AVFormatContext* format, int video_index, bool unpack)
    : format_(format), steady_(format), video_index_(video_index)
{
    const bool has_video = video_index >= 0 && static_cast<unsigned>(video_index) < format->nb_streams;
    fills_ = has_video && FillsPictureTimes(format, format->streams[video_index]);
    packed_ = has_video && !unpack && HasPackedPictures(format->streams[video_index]->codecpar);
    if (has_video && unpack) {
        unpacker_ = std::make_unique<PackedPictureUnpacker>();
        if (!unpacker_->Open(format->streams[video_index]))
            end_ = AVERROR(ENOSYS);  // no packed picture passes unread
    }
}

// The next packet as read, a packed picture unpacked.
int PictureTimeReader::ReadOne(AVPacket* pkt)
{
    for (;;) {
        const int rc = steady_.Read(pkt);
        if (rc < 0 || !unpacker_ || pkt->stream_index != video_index_)
            return rc;
        const int unpacked = unpacker_->Unpack(pkt);
        if (unpacked != AVERROR(EAGAIN))
            return unpacked;
    }
}

int PictureTimeReader::Read(AVPacket* pkt)
{
    if (!fills_)
        return end_ < 0 ? end_ : ReadOne(pkt);  // nothing to complete: no queue, no packet of its own
    for (;;) {
        if (!queue_.empty() && queue_.front().get() != pending_) {
            av_packet_move_ref(pkt, queue_.front().get());
            queue_.pop_front();
            return 0;
        }
        if (end_ == 0) {
            ReadAhead();
            continue;
        }
        if (!pending_)
            return end_;
        ReleasePending(next_dts_);  // the last reference picture: shown after everything decoded
    }
}

int PictureTimeReader::ReadAhead()
{
    PacketPtr p = MakePacket();
    if (!p)
        return end_ = AVERROR(ENOMEM);
    const int rc = ReadOne(p.get());
    if (rc < 0)
        return end_ = rc;
    if (fills_ && p->stream_index == video_index_)
        Complete(p.get());
    queue_.push_back(std::move(p));
    return 0;
}

void PictureTimeReader::Complete(AVPacket* pkt)
{
    const int codec = format_->streams[video_index_]->codecpar->codec_id;
    PictureKind kind = KindOfPicture(codec, pkt->data, static_cast<size_t>(pkt->size));
    // The B-picture packed before a placeholder is decoded at its place and
    // shown there; the reference picture before it is shown only when the
    // next reference picture is decoded.
    if (packed_ && IsPlaceholderPicture(pkt)) {
        kind = PictureKind::Bidirectional;
        pkt->flags &= ~AV_PKT_FLAG_KEY;
    }
    if (pkt->dts != AV_NOPTS_VALUE)
        next_dts_ = pkt->dts + std::max<int64_t>(pkt->duration, 0);
    if (kind == PictureKind::Reference) {
        if (pending_)
            ReleasePending(pkt->dts);
        if (pkt->pts == AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE)
            pending_ = pkt;
    } else if (kind == PictureKind::Bidirectional && pkt->pts == AV_NOPTS_VALUE) {
        pkt->pts = pkt->dts;
    }
}

void PictureTimeReader::ReleasePending(int64_t shown_at)
{
    if (shown_at != AV_NOPTS_VALUE)
        pending_->pts = std::max(shown_at, pending_->dts);
    pending_ = nullptr;
}
