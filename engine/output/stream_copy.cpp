// SPDX-License-Identifier: GPL-3.0-or-later
#include "stream_copy.h"

#include <cstring>
#include <string>

#include "media_input.h"

namespace {

// The input's tag where the container stores it for the same codec (HEVC
// 'hvc1' in MP4, 'XVID' in AVI), else 0 for the container's own choice.
uint32_t AcceptedCodecTag(const AVOutputFormat* format, const AVCodecParameters* par)
{
    if (par->codec_tag == 0)
        return 0;
    if (!format->codec_tag)
        return par->codec_tag;
    if (av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id)
        return par->codec_tag;
    unsigned int own = 0;
    return av_codec_get_tag2(format->codec_tag, par->codec_id, &own) ? 0 : par->codec_tag;
}

void CopyStreamSideData(AVStream* out, const AVStream* in)
{
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& sd = in->side_data[i];
        uint8_t* data = av_stream_new_side_data(out, sd.type, sd.size);
        if (data)
            std::memcpy(data, sd.data, sd.size);
    }
}

void CopyKeys(AVDictionary** out, const AVDictionary* in, const char* const* keys)
{
    for (const char* const* k = keys; *k; ++k) {
        if (const AVDictionaryEntry* e = av_dict_get(in, *k, nullptr, 0))
            av_dict_set(out, *k, e->value, 0);
    }
}

}  // namespace

AVStream* AddCopiedStream(AVFormatContext* ctx, const AVStream* in_st)
{
    AVStream* st = avformat_new_stream(ctx, nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, in_st->codecpar) < 0)
        return nullptr;
    st->id = static_cast<int>(ctx->nb_streams) - 1;
    st->codecpar->codec_tag = AcceptedCodecTag(ctx->oformat, in_st->codecpar);
    st->time_base = in_st->time_base;
    st->r_frame_rate = in_st->r_frame_rate;
    st->avg_frame_rate = in_st->avg_frame_rate;
    st->sample_aspect_ratio = in_st->sample_aspect_ratio.num ? in_st->sample_aspect_ratio
                                                             : in_st->codecpar->sample_aspect_ratio;
    // Muxers refuse a stream whose two aspect ratios disagree (an old phone's
    // H.263 says 12:11, its 3GP box 1:1): what the container said is kept.
    st->codecpar->sample_aspect_ratio = st->sample_aspect_ratio;
    st->disposition = in_st->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
    if (st->codecpar->codec_id == AV_CODEC_ID_MP3 && st->codecpar->block_align == 1)
        st->codecpar->block_align = 0;
    CopyStreamSideData(st, in_st);
    static const char* const kStreamKeys[] = {"language", "title", "handler_name", "rotate", nullptr};
    CopyKeys(&st->metadata, in_st->metadata, kStreamKeys);
    return st;
}

bool CanContinueStream(const AVCodecParameters* out, const AVCodecParameters* in)
{
    if (out->codec_id != in->codec_id)
        return false;
    if (in->codec_type == AVMEDIA_TYPE_VIDEO && (out->width != in->width || out->height != in->height))
        return false;
    if (in->codec_type == AVMEDIA_TYPE_AUDIO &&
        (out->sample_rate != in->sample_rate || out->ch_layout.nb_channels != in->ch_layout.nb_channels))
        return false;
    return out->extradata_size == in->extradata_size &&
           (in->extradata_size == 0 || std::memcmp(out->extradata, in->extradata, in->extradata_size) == 0);
}

void CopyStreamFacts(AVStream* out, const AVStream* in)
{
    static const char* const kStreamFacts[] = {"language", "title", nullptr};
    CopyKeys(&out->metadata, in->metadata, kStreamFacts);
    out->disposition = in->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
}

void CopyContainerFacts(AVFormatContext* out, const AVFormatContext* in)
{
    static const char* const kContainerKeys[] = {"title",   "creation_time", "date",      "comment",
                                                 "artist",  "album",         "copyright", "description",
                                                 "location", "location-eng", "com.apple.quicktime.location.ISO6709",
                                                 "com.apple.quicktime.make", "com.apple.quicktime.model", nullptr};
    CopyKeys(&out->metadata, in->metadata, kContainerKeys);
}
