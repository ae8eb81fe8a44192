// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "av_handles.h"
#include "coded_units.h"
#include "packed_pictures.h"
#include "media_checks.h"
#include "media_input.h"
#include "picture_times.h"
#include "seek.h"

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

// MPEG-4 whose B-pictures are packed as Xvid writes them, read unpacked: one
// picture a packet, each with its own time, key marks on the I-pictures
// alone, and the pictures' bytes as stored: only the placeholders and the
// mark of the packed form are gone.
TEST(PictureTimes, PackedPicturesAreReadOneAPacketAsStored)
{
    MediaInput in;
    ASSERT_EQ(OpenMediaInput(FixturePath("exact_xvid_packed.avi").c_str(), in, MediaInputOptions{}), kProbeOk);
    const AVCodecParameters* par = in.VideoStream()->codecpar;
    ASSERT_TRUE(IsPackedMpeg4(par->extradata, static_cast<size_t>(par->extradata_size)));
    const auto without_mark = [](std::string bytes) {
        const std::string mark = "DivX503b1393p";
        for (size_t at = bytes.find(mark); at != std::string::npos; at = bytes.find(mark, at))
            bytes[at + mark.size() - 1] = '\0';
        return bytes;
    };
    std::string stored, unpacked;
    int placeholders = 0, packets = 0, last_size = 0;
    PacketPtr pkt = MakePacket();
    while (av_read_frame(in.format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == in.video_index) {
            placeholders += pkt->size < 10;
            stored += pkt->size < 10 ? std::string() : std::string(reinterpret_cast<char*>(pkt->data), pkt->size);
            last_size = pkt->size;
            ++packets;
        }
        av_packet_unref(pkt.get());
    }
    ASSERT_GT(placeholders, 40);

    ASSERT_GE(av_seek_frame(in.format.get(), -1, 0, AVSEEK_FLAG_BYTE), 0);
    PictureTimeReader reader(in.format.get(), in.video_index, true);
    std::vector<int64_t> shown;
    int keys = 0, key_not_intra = 0, two_pictures = 0;
    while (reader.Read(pkt.get()) >= 0) {
        if (pkt->stream_index == in.video_index) {
            const std::string bytes(reinterpret_cast<char*>(pkt->data), pkt->size);
            unpacked += bytes;
            shown.push_back(pkt->pts);
            const size_t vop = bytes.find("\x00\x00\x01\xb6", 0, 4);
            two_pictures += bytes.find("\x00\x00\x01\xb6", vop + 4, 4) != std::string::npos;
            keys += (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            key_not_intra += (pkt->flags & AV_PKT_FLAG_KEY) && (vop == std::string::npos || (bytes[vop + 4] & 0xc0));
        }
        av_packet_unref(pkt.get());
    }
    // The file ends on a B-picture with no placeholder after it to bring
    // it: the library's unpacking (and its decoder) leave it out.
    const std::string expected = without_mark(stored).substr(0, stored.size() - static_cast<size_t>(last_size));
    EXPECT_EQ(unpacked.size(), expected.size());
    EXPECT_TRUE(unpacked == expected) << "the pictures' bytes differ from those stored";
    EXPECT_EQ(shown.size(), static_cast<size_t>(packets));  // a packet a picture, in place of each placeholder
    EXPECT_EQ(two_pictures, 0);
    EXPECT_EQ(keys, 3);  // at 0, 2 and 4 s
    EXPECT_EQ(key_not_intra, 0);
    std::sort(shown.begin(), shown.end());
    for (size_t i = 1; i < shown.size(); ++i)
        EXPECT_EQ(shown[i] - shown[i - 1], 1) << "picture " << i;  // AVI: a tick a picture
}

// The same file read as stored, as a copy and a re-encode read it: a
// reference picture is shown when the next one is decoded, a placeholder
// where the B-picture packed before it is decoded; every packet has a time
// of its own, one after another, and only the I-pictures carry a key mark
// (Xvid marks the placeholder after one too). The decoder, which gives a
// picture the time of the packet it decodes it at, shows them in that order.
TEST(PictureTimes, PackedPicturesReadAsStoredAreTimedAsShown)
{
    MediaInput in;
    ASSERT_EQ(OpenMediaInput(FixturePath("exact_xvid_packed.avi").c_str(), in, MediaInputOptions{}), kProbeOk);
    AVCodecContext* dec = in.video_dec.get();
    ASSERT_NE(dec, nullptr);
    PictureTimeReader reader(in.format.get(), in.video_index);
    PacketPtr pkt = MakePacket();
    FramePtr frame = MakeFrame();
    std::vector<int64_t> shown, decoded;
    int keys = 0, placeholder_keys = 0, early = 0;
    const auto take = [&]() {
        while (avcodec_receive_frame(dec, frame.get()) >= 0) {
            decoded.push_back(frame->best_effort_timestamp);
            av_frame_unref(frame.get());
        }
    };
    while (reader.Read(pkt.get()) >= 0) {
        if (pkt->stream_index == in.video_index) {
            shown.push_back(pkt->pts);
            early += pkt->pts == AV_NOPTS_VALUE || pkt->pts < pkt->dts;
            keys += (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            placeholder_keys += (pkt->flags & AV_PKT_FLAG_KEY) && pkt->size < 10;
            if (avcodec_send_packet(dec, pkt.get()) >= 0)
                take();
        }
        av_packet_unref(pkt.get());
    }
    avcodec_send_packet(dec, nullptr);
    take();
    EXPECT_EQ(early, 0);
    EXPECT_EQ(keys, 3);
    EXPECT_EQ(placeholder_keys, 0);
    std::sort(shown.begin(), shown.end());
    for (size_t i = 1; i < shown.size(); ++i)
        EXPECT_EQ(shown[i] - shown[i - 1], 1) << "picture " << i;
    ASSERT_GT(decoded.size(), 100u);
    for (size_t i = 1; i < decoded.size(); ++i)
        EXPECT_EQ(decoded[i] - decoded[i - 1], 1) << "decoded picture " << i;
}

// A seek enters a file of packed pictures at the last key picture shown at
// or before the target: the key picture of 2 s is decoded at 2.08 s but
// shown at 2.16 s (a B-picture rides in its packet), and the placeholder
// after it, which the file's index lists as a key picture at 2.12 s, starts
// nothing.
TEST(PictureTimes, ASeekIntoPackedPicturesEntersAtAKeyPictureShownByTheTarget)
{
    const std::pair<double, double> cases[] = {{1.0, 0.16}, {2.12, 0.16}, {2.15, 0.16}, {2.16, 2.16}, {3.0, 2.16},
                                               {4.14, 2.16}, {4.2, 4.16}};
    for (const auto& [target_s, key_s] : cases) {
        SCOPED_TRACE(target_s);
        MediaInput in;
        ASSERT_EQ(OpenMediaInput(FixturePath("exact_xvid_packed.avi").c_str(), in, MediaInputOptions{}), kProbeOk);
        const AVStream* vs = in.VideoStream();
        SeekAtOrBefore(in.format.get(), in.video_index, static_cast<int64_t>(target_s * AV_TIME_BASE));
        PictureTimeReader reader(in.format.get(), in.video_index);
        PacketPtr pkt = MakePacket();
        int read = 0;
        while (reader.Read(pkt.get()) >= 0) {
            const bool key = pkt->stream_index == in.video_index && (pkt->flags & AV_PKT_FLAG_KEY);
            read += pkt->stream_index == in.video_index;
            if (key) {
                EXPECT_EQ(read, 1) << "pictures before the key picture";
                EXPECT_GT(pkt->size, 19);
                EXPECT_NEAR(pkt->pts * av_q2d(vs->time_base), key_s, 0.001);
                break;
            }
            av_packet_unref(pkt.get());
        }
        EXPECT_GT(read, 0);
    }
}

// Seeks again and again into one open file whose key pictures lie closer
// together than the seek's steps back, as the spans of a cut do: each
// enters at the last key picture shown by its target (the first one for a
// target before it), never at a placeholder, its time as when read from the
// start.
TEST(PictureTimes, EverySeekIntoPackedPicturesEntersAtTheLastKeyPictureShownByItsTarget)
{
    MediaInput in;
    ASSERT_EQ(OpenMediaInput(FixturePath("exact_xvid_close_keys.avi").c_str(), in, MediaInputOptions{}), kProbeOk);
    const AVRational tb = in.VideoStream()->time_base;
    PacketPtr pkt = MakePacket();
    std::vector<double> keys_s;
    {
        PictureTimeReader reader(in.format.get(), in.video_index);
        while (reader.Read(pkt.get()) >= 0) {
            if (pkt->stream_index == in.video_index && (pkt->flags & AV_PKT_FLAG_KEY))
                keys_s.push_back(pkt->pts * av_q2d(tb));
            av_packet_unref(pkt.get());
        }
    }
    ASSERT_GT(keys_s.size(), 10u);
    std::sort(keys_s.begin(), keys_s.end());
    int wrong = 0;
    for (int step = 0; step < 190; ++step) {
        const double target_s = step * 0.02;
        double want_s = keys_s.front();
        for (double k : keys_s)
            want_s = k <= target_s + 1e-6 ? k : want_s;
        SeekAtOrBefore(in.format.get(), in.video_index, static_cast<int64_t>(std::lround(target_s * AV_TIME_BASE)));
        PictureTimeReader reader(in.format.get(), in.video_index);
        double got_s = -1;
        while (got_s < 0 && reader.Read(pkt.get()) >= 0) {
            if (pkt->stream_index == in.video_index)
                got_s = (pkt->flags & AV_PKT_FLAG_KEY) && pkt->size > 19 ? pkt->pts * av_q2d(tb) : 1e9;
            av_packet_unref(pkt.get());
        }
        wrong += std::fabs(got_s - want_s) > 1e-3;
        EXPECT_NEAR(got_s, want_s, 1e-3) << "target " << target_s;
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
