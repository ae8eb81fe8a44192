// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "av_handles.h"
#include "media_checks.h"
#include "media_input.h"
#include "picture_times.h"

namespace {

TEST(PictureTimes, KindIsReadFromThePictureHeader)
{
    struct Case {
        AVCodecID codec;
        std::vector<uint8_t> data;
        PictureKind kind;
    };
    // MPEG-2: 10 bits of temporal reference, then the coding type (1 I, 2 P, 3 B).
    // MPEG-4: the VOP's first two bits (0 I, 1 P, 2 B, 3 S), after its start code.
    const Case cases[] = {
        {AV_CODEC_ID_MPEG2VIDEO, {0, 0, 1, 0xb3, 9, 0, 0, 1, 0, 0x00, 0x08, 0}, PictureKind::Reference},
        {AV_CODEC_ID_MPEG2VIDEO, {0, 0, 1, 0, 0x40, 0x10, 0}, PictureKind::Reference},
        {AV_CODEC_ID_MPEG1VIDEO, {0, 0, 1, 0, 0x40, 0x18, 0}, PictureKind::Bidirectional},
        {AV_CODEC_ID_MPEG2VIDEO, {0, 0, 1, 0, 0x40, 0x20, 0}, PictureKind::Unknown},  // D picture
        {AV_CODEC_ID_MPEG2VIDEO, {0, 0, 1, 0, 0x40}, PictureKind::Unknown},           // cut short
        {AV_CODEC_ID_MPEG4, {0, 0, 1, 0xb6, 0x10}, PictureKind::Reference},
        {AV_CODEC_ID_MPEG4, {0, 0, 1, 0xb6, 0x50}, PictureKind::Reference},
        {AV_CODEC_ID_MPEG4, {0, 0, 1, 0xb0, 1, 0, 0, 1, 0xb6, 0x90}, PictureKind::Bidirectional},
        {AV_CODEC_ID_MPEG4, {0, 0, 1, 0xb6, 0xd0}, PictureKind::Reference},
        {AV_CODEC_ID_MPEG4, {0, 0, 1, 0xb3, 0x90}, PictureKind::Unknown},
        {AV_CODEC_ID_H264, {0, 0, 1, 0xb6, 0x90}, PictureKind::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KindOfPicture(c.codec, c.data.data(), c.data.size()), c.kind)
            << avcodec_get_name(c.codec) << " byte " << int(c.data.back());
}

// Every picture of a program stream or an AVI file with B-frames (neither
// stores when a reference picture is shown) has its own time, none shown
// before it is decoded, one picture after another without a gap; every
// packet the demuxer gives comes through once.
TEST(PictureTimes, EveryPictureOfAFileWithoutItsTimesHasItsPresentationTime)
{
    const std::pair<const char*, size_t> files[] = {{"bframes.mpg", 75}, {"beeps_mpeg4_b.avi", 150}};
    for (const auto& [name, pictures] : files) {
        SCOPED_TRACE(name);
        MediaInput in;
        ASSERT_EQ(OpenMediaInput(FixturePath(name).c_str(), in, MediaInputOptions{}), kProbeOk);
        AVStream* st = in.VideoStream();
        ASSERT_NE(st, nullptr);
        PictureTimeReader reader(in.format.get(), in.video_index);
        PacketPtr pkt = MakePacket();
        std::vector<int64_t> shown;
        int missing = 0, early = 0;
        while (reader.Read(pkt.get()) >= 0) {
            if (pkt->stream_index == in.video_index) {
                missing += pkt->pts == AV_NOPTS_VALUE;
                early += pkt->pts != AV_NOPTS_VALUE && pkt->pts < pkt->dts;
                shown.push_back(pkt->pts);
            }
            av_packet_unref(pkt.get());
        }
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(early, 0);
        ASSERT_EQ(shown.size(), pictures);  // 25 pictures a second
        std::sort(shown.begin(), shown.end());
        const int64_t frame = av_rescale_q(1, AVRational{1, 25}, st->time_base);
        for (size_t i = 1; i < shown.size(); ++i)
            EXPECT_EQ(shown[i] - shown[i - 1], frame) << "picture " << i;
    }
}

}  // namespace
