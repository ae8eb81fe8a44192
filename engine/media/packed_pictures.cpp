// SPDX-License-Identifier: GPL-3.0-or-later
#include "packed_pictures.h"

#include <cstring>

#include "start_codes.h"

namespace {

constexpr const char* kUnpackFilter = "mpeg4_unpack_bframes";
// A placeholder picture is no larger (the filter's own measure).
constexpr int kPlaceholderMaxSize = 19;

// The first picture of the packet is coded whole (an I-VOP) and is no
// placeholder: one after a key picture says I-VOP too.
bool StartsDecoding(const AVPacket* pkt)
{
    const auto size = static_cast<size_t>(pkt->size);
    const size_t at = AfterStartCode(pkt->data, size, kMpeg4VopStart);
    return at < size && (pkt->data[at] >> 6) == 0 && pkt->size > kPlaceholderMaxSize;
}

int PicturesIn(const AVPacket* pkt)
{
    return CountStartCodes(pkt->data, static_cast<size_t>(pkt->size), kMpeg4VopStart);
}

}  // namespace

long PackedMarkAt(const uint8_t* data, size_t size)
{
    for (size_t i = FindStartCode(data, size, 0); i + 8 < size; i = FindStartCode(data, size, i + 3)) {
        if (data[i + 3] == kMpeg4VopStart)
            return -1;  // the picture itself starts
        if (data[i + 3] != 0xb2 || std::memcmp(data + i + 4, "DivX", 4) != 0)
            continue;
        size_t end = i + 8;
        while (end < size && data[end] != 0)
            ++end;
        return data[end - 1] == 'p' ? static_cast<long>(end - 1) : -1;
    }
    return -1;
}

bool IsPackedMpeg4(const uint8_t* data, size_t size) { return PackedMarkAt(data, size) >= 0; }

bool CanUnpackPackedPictures() { return av_bsf_get_by_name(kUnpackFilter) != nullptr; }

bool HasPackedPictures(const AVCodecParameters* par)
{
    return par->codec_id == AV_CODEC_ID_MPEG4 && par->video_delay > 0 && par->extradata &&
           IsPackedMpeg4(par->extradata, static_cast<size_t>(par->extradata_size));
}

bool IsPlaceholderPicture(const AVPacket* pkt)
{
    return pkt->size <= kPlaceholderMaxSize && PicturesIn(pkt) == 1;
}

bool CarriesPackedPicture(const AVPacket* pkt) { return PicturesIn(pkt) > 1; }

bool PackedPictureUnpacker::Open(const AVStream* st)
{
    const AVBitStreamFilter* filter = av_bsf_get_by_name(kUnpackFilter);
    AVBSFContext* raw = nullptr;
    if (!filter || av_bsf_alloc(filter, &raw) < 0)
        return false;
    BitstreamFilterPtr bsf(raw);
    if (avcodec_parameters_copy(bsf->par_in, st->codecpar) < 0)
        return false;
    bsf->time_base_in = st->time_base;
    if (av_bsf_init(bsf.get()) < 0)
        return false;
    bsf_ = std::move(bsf);
    return true;
}

int PackedPictureUnpacker::Unpack(AVPacket* pkt)
{
    if (!bsf_)
        return AVERROR(EINVAL);
    int rc = av_bsf_send_packet(bsf_.get(), pkt);
    if (rc < 0) {
        av_packet_unref(pkt);
        return rc;
    }
    rc = av_bsf_receive_packet(bsf_.get(), pkt);
    if (rc < 0)
        return rc;
    // The filter leaves the mark in a key picture that had a B-picture with it.
    if (const long mark = PackedMarkAt(pkt->data, static_cast<size_t>(pkt->size)); mark >= 0) {
        if (av_packet_make_writable(pkt) < 0) {
            av_packet_unref(pkt);
            return AVERROR(ENOMEM);
        }
        pkt->data[mark] = 0;
    }
    // The placeholder after a key picture carries a key mark as well (Xvid),
    // which neither the B-picture put in its place nor a placeholder left
    // alone can start a decoding with.
    if (!StartsDecoding(pkt))
        pkt->flags &= ~AV_PKT_FLAG_KEY;
    return 0;
}
