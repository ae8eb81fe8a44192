// SPDX-License-Identifier: GPL-3.0-or-later
// Open-GOP H.264 entered at a recovery point: the rewritten copy decodes
// without a complaint to exactly the source's pictures, alone and after
// another stretch of the same stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

#include "av_handles.h"
#include "coded_units.h"
#include "h264_entry.h"

namespace {

constexpr int kWidth = 64, kHeight = 48, kPictures = 60, kGop = 12;

struct Packet {
    Bytes data;
    int64_t pts, dts;
    bool key;
};

std::string g_complaints;

void KeepComplaints(void* avcl, int level, const char* fmt, va_list vl)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    int prefix = 1;
    av_log_format_line(avcl, level, fmt, vl, line, sizeof line, &prefix);
    g_complaints += line;
}

// A picture that moves and carries noise, so the encoder predicts and
// reorders as it would on camera pictures.
void Paint(AVFrame* f, int n)
{
    uint32_t seed = 12345u + static_cast<uint32_t>(n) * 7919u;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const bool square = x >= n % 40 && x < n % 40 + 16 && y >= 16 && y < 32;
            f->data[0][y * f->linesize[0] + x] =
                static_cast<uint8_t>(square ? 230 : (x * 3 + y * 2 + n * 2) % 200 + (seed >> 29));
        }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < kHeight / 2; ++y)
            std::memset(f->data[p] + y * f->linesize[p], 128 + p * 10 + n % 7, kWidth / 2);
}

std::vector<Packet> Encode(const std::string& params)
{
    std::vector<Packet> packets;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    CodecContextPtr enc(avcodec_alloc_context3(codec));
    enc->width = kWidth;
    enc->height = kHeight;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = {1, 25};
    enc->gop_size = kGop;
    enc->thread_count = 1;
    av_opt_set(enc->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return packets;
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame.get(), 0);
    PacketPtr pkt = MakePacket();
    for (int n = 0; n <= kPictures; ++n) {
        if (n < kPictures) {
            av_frame_make_writable(frame.get());
            Paint(frame.get(), n);
            frame->pts = n;
        }
        avcodec_send_frame(enc.get(), n < kPictures ? frame.get() : nullptr);
        while (avcodec_receive_packet(enc.get(), pkt.get()) >= 0) {
            packets.push_back({Bytes(pkt->data, pkt->data + pkt->size), pkt->pts, pkt->dts,
                               (pkt->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(pkt.get());
        }
    }
    return packets;
}

// The stream as MP4 and Matroska hold it: units behind lengths, parameter
// sets in a configuration record.
Bytes ToLengths(std::vector<Packet>& packets)
{
    AvcConfig config;
    for (const CodedUnit& u : SplitStartCodeUnits(packets[0].data.data(), packets[0].data.size())) {
        if (H264UnitType(u) == kH264Sps)
            config.sps.emplace_back(u.data, u.data + u.size);
        if (H264UnitType(u) == kH264Pps)
            config.pps.emplace_back(u.data, u.data + u.size);
    }
    config.profile = config.sps[0][1];
    config.compatibility = config.sps[0][2];
    config.level = config.sps[0][3];
    for (Packet& p : packets)
        p.data = StartCodesToLengths(p.data.data(), p.data.size(), 4);
    return WriteAvcConfig(config);
}

// As a transport stream copied from MP4 carries them: parameter sets only
// in front of the first picture.
void KeepParameterSetsFirstOnly(std::vector<Packet>& packets)
{
    for (size_t i = 1; i < packets.size(); ++i) {
        Bytes kept;
        for (const CodedUnit& u : SplitStartCodeUnits(packets[i].data.data(), packets[i].data.size())) {
            if (H264UnitType(u) == kH264Sps || H264UnitType(u) == kH264Pps)
                continue;
            kept.insert(kept.end(), {0, 0, 0, 1});
            kept.insert(kept.end(), u.data, u.data + u.size);
        }
        packets[i].data = std::move(kept);
    }
}

struct Decoded {
    std::vector<int64_t> order;        // the pictures' times as they come out
    std::map<int64_t, Bytes> picture;  // luma by time
};

Decoded Decode(const Bytes& extradata, const std::vector<Packet>& packets)
{
    Decoded d;
    CodecContextPtr dec(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
    dec->thread_count = 1;
    if (!extradata.empty()) {
        dec->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(dec->extradata, extradata.data(), extradata.size());
        dec->extradata_size = static_cast<int>(extradata.size());
    }
    avcodec_open2(dec.get(), nullptr, nullptr);
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt = MakePacket();
    for (size_t i = 0; i <= packets.size(); ++i) {
        if (i < packets.size()) {
            av_new_packet(pkt.get(), static_cast<int>(packets[i].data.size()));
            std::memcpy(pkt->data, packets[i].data.data(), packets[i].data.size());
            pkt->pts = packets[i].pts;
            pkt->dts = packets[i].dts;
        }
        avcodec_send_packet(dec.get(), i < packets.size() ? pkt.get() : nullptr);
        av_packet_unref(pkt.get());
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            Bytes luma;
            for (int y = 0; y < kHeight; ++y)
                luma.insert(luma.end(), frame->data[0] + y * frame->linesize[0],
                            frame->data[0] + y * frame->linesize[0] + kWidth);
            d.order.push_back(frame->pts);
            d.picture[frame->pts] = std::move(luma);
            av_frame_unref(frame.get());
        }
    }
    return d;
}

bool HasIdr(const Bytes& data, bool lengths)
{
    std::vector<CodedUnit> units;
    if (lengths)
        SplitLengthUnits(data.data(), data.size(), 4, &units);
    else
        units = SplitStartCodeUnits(data.data(), data.size());
    for (const CodedUnit& u : units)
        if (H264UnitType(u) == kH264Idr)
            return true;
    return false;
}

// The copy from the key picture at `key_pts` on, its leading pictures left
// out, through the rewriter as the direct copy uses it.
std::vector<Packet> CopyFrom(const std::vector<Packet>& packets, const AVCodecParameters* par, int64_t key_pts,
                             int idr_pic_id)
{
    H264EntryRewriter rewriter(par);
    std::vector<Packet> copy;
    bool entered = false;
    for (const Packet& p : packets) {
        entered = entered || (p.key && p.pts == key_pts);
        if (!entered)
            continue;
        PacketPtr pkt = MakePacket();
        av_new_packet(pkt.get(), static_cast<int>(p.data.size()));
        std::memcpy(pkt->data, p.data.data(), p.data.size());
        if (copy.empty()) {
            EXPECT_TRUE(rewriter.Begin(pkt.get(), idr_pic_id));
        } else if (p.pts < key_pts) {  // a leading picture
            rewriter.Skip(pkt.get());
            continue;
        }
        if (rewriter.Active()) {
            EXPECT_TRUE(rewriter.Rewrite(pkt.get()));
        }
        copy.push_back({Bytes(pkt->data, pkt->data + pkt->size), p.pts, p.dts, p.key});
    }
    return copy;
}

struct Case {
    const char* name;
    const char* params;
    bool lengths;  // units behind lengths, else start codes
};

const std::string kOpen = "open-gop=1:keyint=12:min-keyint=12:scenecut=0:b-adapt=0";

class H264Entry : public ::testing::TestWithParam<Case> {};

TEST_P(H264Entry, SpanFromARecoveryPointDecodesCleanlyAloneAndAfterAnother)
{
    const Case& c = GetParam();
    av_log_set_callback(KeepComplaints);
    std::vector<Packet> packets = Encode(kOpen + ":" + c.params);
    ASSERT_GT(packets.size(), static_cast<size_t>(kPictures - 1));
    if (!c.lengths)
        KeepParameterSetsFirstOnly(packets);
    const Bytes extradata = c.lengths ? ToLengths(packets) : Bytes{};
    AVCodecParameters par{};
    par.codec_id = AV_CODEC_ID_H264;
    Bytes padded = extradata.empty() ? packets[0].data : extradata;
    padded.resize(padded.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    par.extradata = padded.data();
    par.extradata_size = static_cast<int>(padded.size() - AV_INPUT_BUFFER_PADDING_SIZE);

    g_complaints.clear();
    const Decoded source = Decode(extradata, packets);
    const std::string source_complaints = g_complaints;
    // Span 1: the pictures decoded before the second key picture; span 2:
    // from the fourth one (a recovery point, not an IDR) on.
    std::vector<Packet> seam;
    int64_t key_pts[4] = {};
    for (int k = 0, i = 0; i < static_cast<int>(packets.size()) && k < 4; ++i)
        if (packets[i].key)
            key_pts[k++] = packets[i].pts;
    for (const Packet& p : packets) {
        if (p.key && p.pts == key_pts[1])
            break;
        seam.push_back(p);
    }
    const size_t first_span = seam.size();
    const std::vector<Packet> copy = CopyFrom(packets, &par, key_pts[3], 2);
    seam.insert(seam.end(), copy.begin(), copy.end());
    g_complaints.clear();
    const Decoded alone = Decode(extradata, copy);
    const std::string alone_complaints = g_complaints;
    g_complaints.clear();
    const Decoded joined = Decode(extradata, seam);
    av_log_set_callback(av_log_default_callback);

    EXPECT_EQ(source_complaints, "");
    for (const Packet& p : packets) {
        if (p.pts == key_pts[3]) {
            EXPECT_FALSE(HasIdr(p.data, c.lengths)) << "the source's key picture is an IDR already";
        }
    }
    EXPECT_TRUE(HasIdr(copy[0].data, c.lengths));
    EXPECT_EQ(alone_complaints, "");
    EXPECT_EQ(g_complaints, "");
    // Every picture from the key picture on, in order, as the source shows it.
    std::vector<int64_t> expected;
    for (int64_t t = key_pts[3]; t < kPictures; ++t)
        expected.push_back(t);
    EXPECT_EQ(alone.order, expected);
    for (int64_t t : alone.order)
        EXPECT_TRUE(alone.picture.at(t) == source.picture.at(t)) << "picture " << t;
    std::vector<int64_t> both;
    for (size_t i = 0; i < first_span; ++i)
        both.push_back(seam[i].pts);
    std::sort(both.begin(), both.end());
    both.insert(both.end(), expected.begin(), expected.end());
    EXPECT_EQ(joined.order, both);
    // Only headers change: a few bytes a slice.
    for (size_t i = 0, j = 0; i < packets.size() && j < copy.size(); ++i) {
        if (packets[i].pts != copy[j].pts)
            continue;
        const long grown = static_cast<long>(copy[j].data.size()) - static_cast<long>(packets[i].data.size());
        const long sets = j == 0 && !c.lengths ? 64 : 0;  // the entry may gain its parameter sets
        EXPECT_LE(std::abs(grown), 24 + sets) << "picture " << copy[j].pts;
        ++j;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, H264Entry,
    ::testing::Values(Case{"cabac_pyramid_mp4", "bframes=3:b-pyramid=normal", true},
                      Case{"cavlc_pyramid_ts", "bframes=3:b-pyramid=normal:cabac=0", false},
                      Case{"cabac_slices_ts", "bframes=2:b-pyramid=none:slices=3", false},
                      Case{"cavlc_weighted_slices_mp4", "bframes=2:weightp=2:weightb=1:cabac=0:slices=2", true},
                      Case{"cabac_one_bframe_mp4", "bframes=1:ref=3", true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
