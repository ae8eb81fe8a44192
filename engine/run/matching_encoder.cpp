// SPDX-License-Identifier: GPL-3.0-or-later
#include "matching_encoder.h"

#include "coded_units.h"

#include <algorithm>
#include <cstdio>
#include <string>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

const char* EncoderName(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_H264: return "libx264";
    case AV_CODEC_ID_HEVC: return "libx265";
    case AV_CODEC_ID_MPEG4: return "mpeg4";
    case AV_CODEC_ID_MPEG2VIDEO: return "mpeg2video";
    case AV_CODEC_ID_VP9: return "libvpx-vp9";
    case AV_CODEC_ID_AV1: return "libaom-av1";
    default: return nullptr;
    }
}

bool PixelFormatHandled(AVCodecID id, int format)
{
    switch (id) {
    case AV_CODEC_ID_H264:
        return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    case AV_CODEC_ID_HEVC:
        return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV420P10LE;
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_VP9:  // profile 0
        return format == AV_PIX_FMT_YUV420P;
    case AV_CODEC_ID_MPEG2VIDEO:
        return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P;
    case AV_CODEC_ID_AV1:  // main profile
        return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV420P10LE;
    default:
        return false;
    }
}

const char* H264ProfileName(int profile)
{
    switch (profile) {
    case FF_PROFILE_H264_BASELINE:
    case FF_PROFILE_H264_CONSTRAINED_BASELINE: return "baseline";
    case FF_PROFILE_H264_MAIN: return "main";
    case FF_PROFILE_H264_HIGH: return "high";
    default: return nullptr;
    }
}

void CopyPictureDescription(AVCodecContext* enc, const AVStream* st, const AVFrame* frame)
{
    const AVCodecParameters* par = st->codecpar;
    enc->width = par->width;
    enc->height = par->height;
    enc->pix_fmt = static_cast<AVPixelFormat>(frame->format);
    enc->sample_aspect_ratio = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio
                                                                : frame->sample_aspect_ratio;
    enc->color_range = par->color_range != AVCOL_RANGE_UNSPECIFIED ? par->color_range : frame->color_range;
    enc->color_primaries = par->color_primaries;
    enc->color_trc = par->color_trc;
    enc->colorspace = par->color_space;
    enc->chroma_sample_location = par->chroma_location;
    enc->field_order = par->field_order;
    if (frame->interlaced_frame || (par->field_order != AV_FIELD_UNKNOWN && par->field_order != AV_FIELD_PROGRESSIVE))
        enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    enc->time_base = EncoderTimeBase(st);
    enc->framerate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    enc->profile = par->profile;
    enc->level = par->level;
    // Each cut end is one open sequence: no second key picture, no reordering,
    // so decoding times equal presentation times.
    enc->gop_size = 100000;
    enc->max_b_frames = 0;
}

// Quantiser the re-encoded pictures never go above, whatever the rate: the
// quality floor where a source's rate is very low.
constexpr int kQualityFloorQp = 40;

// The rate cap (kbit/s) and its buffer: a little above the source's own rate,
// so that a high-quality setting cannot spend several times what the source
// spends (29 Mbit/s around the cuts of a 4 Mbit/s 4K source).
struct RateCap {
    int max_kbps = 0;
    int buffer_kbits = 0;
};

RateCap CapNearSource(int64_t source_bit_rate)
{
    if (source_bit_rate <= 0)
        return {};
    const int64_t kbps = std::max<int64_t>(1, source_bit_rate / 1000);
    return {static_cast<int>(std::min<int64_t>(kbps * 3 / 2, INT32_MAX / 4)),
            static_cast<int>(std::min<int64_t>(kbps * 2, INT32_MAX / 4))};
}

// The tier and level of an HEVC source as its 'hvcC' record gives them;
// false without one.
bool HevcTierAndLevel(const AVCodecParameters* par, bool* high_tier, int* level_idc)
{
    if (par->extradata_size < 13 || par->extradata[0] != 1)
        return false;
    *high_tier = (par->extradata[1] >> 5) & 1;
    *level_idc = par->extradata[12];
    return true;
}

bool SetUpX264(AVCodecContext* enc, const MatchingEncoderSetup& setup)
{
    const char* profile = H264ProfileName(setup.source->codecpar->profile);
    if (!profile)
        return false;
    char params[128];
    // A short lookahead: the pictures around a cut are few, and every frame
    // held for looking ahead is another full-size picture zeroed page by page
    // (10 took a 1080p cut to 390 MB instead of 270, and 8% longer). None at
    // all would make two threads' rate control depend on their timing: a
    // span cut alone and in a job of several would differ.
    std::snprintf(params, sizeof params, "sps-id=%d:scenecut=0:open-gop=0:bframes=0:rc-lookahead=3",
                  setup.parameter_set_id);
    av_opt_set(enc->priv_data, "preset", "veryfast", 0);
    av_opt_set(enc->priv_data, "profile", profile, 0);
    av_opt_set(enc->priv_data, "crf", "15", 0);
    av_opt_set(enc->priv_data, "x264-params", params, 0);
    const RateCap cap = CapNearSource(setup.source_bit_rate);
    if (cap.max_kbps > 0) {
        enc->rc_max_rate = static_cast<int64_t>(cap.max_kbps) * 1000;
        enc->rc_buffer_size = cap.buffer_kbits * 1000;
        enc->qmax = kQualityFloorQp;
    }
    return true;
}

bool SetUpX265(AVCodecContext* enc, const MatchingEncoderSetup& setup)
{
    const bool ten_bit = setup.first_frame->format == AV_PIX_FMT_YUV420P10LE;
    std::string params =
        "keyint=100000:min-keyint=100000:scenecut=0:open-gop=0:bframes=0:repeat-headers=1:log-level=error";
    // The parameter sets the encoder writes go into a stream whose 'hvcC'
    // names a tier and level: they must say the same.
    bool high_tier = false;
    int level_idc = setup.source->codecpar->level;  // general_level_idc: 30 times the level
    HevcTierAndLevel(setup.source->codecpar, &high_tier, &level_idc);
    if (level_idc > 0) {
        params += ":level-idc=" + std::to_string(level_idc / 3);
        params += high_tier ? ":high-tier=1" : ":no-high-tier=1";
    }
    const RateCap cap = CapNearSource(setup.source_bit_rate);
    if (cap.max_kbps > 0)
        params += ":vbv-maxrate=" + std::to_string(cap.max_kbps) + ":vbv-bufsize=" +
                  std::to_string(cap.buffer_kbits) + ":qpmax=" + std::to_string(kQualityFloorQp);
    av_opt_set(enc->priv_data, "preset", "veryfast", 0);
    av_opt_set(enc->priv_data, "profile", ten_bit ? "main10" : "main", 0);
    av_opt_set(enc->priv_data, "crf", "16", 0);
    av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
    return true;
}

// The source's sequence header gives the rate and buffer that ours repeats,
// so that the stream keeps one set of decoder limits across the seams; the
// pictures themselves aim at the rate the source spends around the cut.
void SetUpMpeg2(AVCodecContext* enc, const MatchingEncoderSetup& setup)
{
    const AVCodecParameters* par = setup.source->codecpar;
    Mpeg2Sequence seq;
    ParseMpeg2Sequence(par->extradata, static_cast<size_t>(std::max(par->extradata_size, 0)), &seq);
    const int64_t rate = setup.source_bit_rate > 0 ? setup.source_bit_rate : seq.bit_rate;
    if (rate > 0) {
        enc->bit_rate = rate;
        enc->rc_max_rate = std::max(seq.bit_rate, rate * 3 / 2);
        enc->rc_buffer_size = static_cast<int>(std::min<int64_t>(seq.vbv_bits > 0 ? seq.vbv_bits : rate, INT32_MAX));
        enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    } else {
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 3;
    }
    enc->qmin = 1;
    enc->mb_decision = FF_MB_DECISION_RD;
    if (!seq.progressive)
        enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
}

// VP9 at a constrained quality, no hidden reference pictures (each packet
// one picture shown, as the copy's). The ceiling is three times the source's
// rate: one pass of libvpx spends well under it (1.7 times around the cuts of
// a 0.8 Mbit/s source), and at twice the pictures fall below the source's.
void SetUpVp9(AVCodecContext* enc, const MatchingEncoderSetup& setup)
{
    av_opt_set(enc->priv_data, "deadline", "good", 0);
    av_opt_set_int(enc->priv_data, "cpu-used", 4, 0);
    av_opt_set_int(enc->priv_data, "crf", 12, 0);
    av_opt_set_int(enc->priv_data, "lag-in-frames", 0, 0);
    av_opt_set_int(enc->priv_data, "auto-alt-ref", 0, 0);
    av_opt_set_int(enc->priv_data, "row-mt", 1, 0);
    enc->profile = FF_PROFILE_VP9_0;
    enc->level = FF_LEVEL_UNKNOWN;
    if (setup.source_bit_rate > 0)
        enc->bit_rate = setup.source_bit_rate * 3;
}

// AV1 in real-time use: no look-ahead, so no hidden pictures (each packet
// one picture shown, as the copy's), at a constant quality with the same
// ceiling as VP9's. At 26, 1.7 times the rate of a 1080p source at 4.5 Mbit/s
// with 46.6 dB against its pictures; at 20, twice the rate for 2.7 dB more.
void SetUpAv1(AVCodecContext* enc, const MatchingEncoderSetup& setup)
{
    av_opt_set(enc->priv_data, "usage", "realtime", 0);
    av_opt_set_int(enc->priv_data, "cpu-used", 8, 0);
    av_opt_set_int(enc->priv_data, "lag-in-frames", 0, 0);
    av_opt_set_int(enc->priv_data, "crf", 26, 0);
    av_opt_set_int(enc->priv_data, "row-mt", 1, 0);
    enc->profile = FF_PROFILE_AV1_MAIN;
    enc->level = FF_LEVEL_UNKNOWN;
    if (setup.source_bit_rate > 0)
        enc->bit_rate = setup.source_bit_rate * 3;
}

void SetUpMpeg4(AVCodecContext* enc)
{
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA * 2;
    enc->mb_decision = FF_MB_DECISION_RD;
}

}  // namespace

bool MatchingEncoderAvailable(const AVCodecParameters* par, std::string* why)
{
    const char* name = EncoderName(par->codec_id);
    if (!name) {
        *why = "no encoder for this codec";
        return false;
    }
    if (!avcodec_find_encoder_by_name(name)) {
        *why = std::string("this build has no ") + name;
        return false;
    }
    if (!PixelFormatHandled(par->codec_id, par->format)) {
        *why = "pixel format not handled";
        return false;
    }
    if (par->codec_id == AV_CODEC_ID_H264 && !H264ProfileName(par->profile)) {
        *why = "H.264 profile not handled";
        return false;
    }
    return true;
}

AVRational EncoderTimeBase(const AVStream* source)
{
    // The MPEG-4 picture header counts time in at most 16 bits; MPEG-2 knows
    // only its table of picture rates.
    const AVCodecID id = source->codecpar->codec_id;
    if ((id == AV_CODEC_ID_MPEG4 && source->time_base.den >= (1 << 16)) || id == AV_CODEC_ID_MPEG2VIDEO) {
        const AVRational rate = source->avg_frame_rate.num > 0 ? source->avg_frame_rate : source->r_frame_rate;
        if (rate.num > 0)
            return av_inv_q(rate);
    }
    return source->time_base;
}

CodecContextPtr OpenMatchingEncoder(const MatchingEncoderSetup& setup)
{
    const AVCodecID id = setup.source->codecpar->codec_id;
    const AVCodec* codec = avcodec_find_encoder_by_name(EncoderName(id));
    if (!codec || !PixelFormatHandled(id, setup.first_frame->format))
        return nullptr;
    CodecContextPtr enc(avcodec_alloc_context3(codec));
    if (!enc)
        return nullptr;
    CopyPictureDescription(enc.get(), setup.source, setup.first_frame);
    // Two, as the decoders have: each further thread holds frames of its own.
    enc->thread_count = 2;
    if (setup.global_header)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    bool ok = true;
    if (id == AV_CODEC_ID_H264)
        ok = SetUpX264(enc.get(), setup);
    else if (id == AV_CODEC_ID_HEVC)
        ok = SetUpX265(enc.get(), setup);
    else if (id == AV_CODEC_ID_MPEG2VIDEO)
        SetUpMpeg2(enc.get(), setup);
    else if (id == AV_CODEC_ID_VP9)
        SetUpVp9(enc.get(), setup);
    else if (id == AV_CODEC_ID_AV1)
        SetUpAv1(enc.get(), setup);
    else
        SetUpMpeg4(enc.get());
    if (!ok || avcodec_open2(enc.get(), codec, nullptr) < 0)
        return nullptr;
    return enc;
}
