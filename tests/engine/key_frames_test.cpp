// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "av_handles.h"
#include "key_frames.h"
#include "media_checks.h"
#include "media_input.h"

namespace {

// What the demuxer itself flags as key pictures, read packet by packet.
std::vector<int64_t> KeyPacketTimes(const std::string& path)
{
    std::vector<int64_t> times;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0)
        return times;
    InputContextPtr format(raw);
    int video = -1, audio = -1;
    SelectStreams(raw, &video, &audio);
    PacketPtr pkt = MakePacket();
    while (av_read_frame(raw, pkt.get()) >= 0) {
        const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (pkt->stream_index == video && (pkt->flags & AV_PKT_FLAG_KEY))
            times.push_back(av_rescale_q(ts, raw->streams[video]->time_base, AV_TIME_BASE_Q));
        av_packet_unref(pkt.get());
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::vector<int64_t> Scan(const std::string& path, int* rc)
{
    std::atomic<bool> cancel{false};
    std::vector<int64_t> times{42};
    *rc = ScanKeyFrames(path.c_str(), cancel, &times);
    return times;
}

}  // namespace

TEST(KeyFrames, EveryContainerGivesTheKeyPicturesItsPacketsAreFlaggedWith)
{
    // Index (MP4, MOV, AVI), cues (Matroska) and packet headers (MPEG-TS).
    for (const char* name : {"h264_aac.mp4", "h264_aac.mkv", "mpeg4_mp3.avi", "mpeg2.ts", "start10.mov",
                             "start10.ts"}) {
        SCOPED_TRACE(name);
        int rc = -1;
        const std::vector<int64_t> scanned = Scan(FixturePath(name), &rc);
        ASSERT_EQ(rc, kProbeOk);
        EXPECT_FALSE(scanned.empty());
        EXPECT_EQ(scanned, KeyPacketTimes(FixturePath(name)));
    }
}

TEST(KeyFrames, AFileWithAKeyPictureEveryTwoSecondsShowsTimesOfItsPictures)
{
    int rc = -1;
    EXPECT_EQ(Scan(FixturePath("h264_aac.mp4"), &rc), (std::vector<int64_t>{0, 2000000, 4000000, 6000000, 8000000}));
    EXPECT_EQ(rc, kProbeOk);
}

TEST(KeyFrames, UnreadableFilesAndFilesWithoutPicturesGiveNothing)
{
    int rc = 0;
    EXPECT_TRUE(Scan(FixturePath("no_such_file.mp4"), &rc).empty());
    EXPECT_EQ(rc, kProbeNoSuchFile);
    EXPECT_TRUE(Scan(FixturePath("audio_only.m4a"), &rc).empty());
    EXPECT_EQ(rc, kProbeNoVideoDecoder);
    EXPECT_TRUE(Scan(FixturePath(""), &rc).empty());  // the folder
    EXPECT_EQ(rc, kProbeNotAFile);
}

TEST(KeyFrames, ACancelledScanStopsAndGivesNothing)
{
    std::atomic<bool> cancel{true};
    std::vector<int64_t> times{1};
    EXPECT_EQ(ScanKeyFrames(FixturePath("mpeg2.ts").c_str(), cancel, &times), kKeyFrameScanCancelled);
    EXPECT_TRUE(times.empty());
}
