// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

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

// What a copy keeps of a packet.
struct CopiedPacket {
    int stream;
    int64_t pts, dts, duration;
    int flags;
    std::string data;
    bool operator==(const CopiedPacket& o) const
    {
        return stream == o.stream && pts == o.pts && dts == o.dts && duration == o.duration && flags == o.flags &&
               data == o.data;
    }
};

// Every packet from the key picture at or before `from_us` to the end, as a
// copy's input reads them: opened, its streams found, then sought.
std::vector<CopiedPacket> PacketsFrom(const std::string& path, int64_t from_us, bool as_stored, bool* stored)
{
    std::vector<CopiedPacket> packets;
    InputContextPtr format;
    if (OpenCheckedInput(path.c_str(), {nullptr, nullptr}, &format) != kProbeOk ||
        avformat_find_stream_info(format.get(), nullptr) < 0)
        return packets;
    *stored = as_stored && ReadPacketsAsStored(format.get());
    SeekToCutStart(format.get(), from_us);
    PacketPtr pkt = MakePacket();
    while (av_read_frame(format.get(), pkt.get()) >= 0) {
        packets.push_back({pkt->stream_index, pkt->pts, pkt->dts, pkt->duration, pkt->flags,
                           std::string(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size))});
        av_packet_unref(pkt.get());
    }
    return packets;
}

}  // namespace

// An MP4 or MOV of H.264 or HEVC and AAC is read without the demuxer's
// parser, which gives exactly the packets it gives with it (open GOPs, B-
// pictures, a late container start and an edit list's lead included);
// other files go on being parsed.
TEST(PacketsAsStored, AreThePacketsTheParserWouldGive)
{
    struct Case {
        const char* name;
        bool stored;
    };
    for (const Case& c : {Case{"h264_aac.mp4", true}, Case{"exact_h264_open.mp4", true}, Case{"start10.mov", true},
                          Case{"editlist.mp4", true}, Case{"hevc_hvc1.mp4", true}, Case{"h264_aac.mkv", false},
                          Case{"mpeg2.ts", false}, Case{"mpeg4_mp3.avi", false}}) {
        SCOPED_TRACE(c.name);
        bool parsed_stored = true, stored = false;
        const std::vector<CopiedPacket> parsed = PacketsFrom(FixturePath(c.name), 500000, false, &parsed_stored);
        const std::vector<CopiedPacket> read = PacketsFrom(FixturePath(c.name), 500000, true, &stored);
        EXPECT_FALSE(parsed_stored);
        EXPECT_EQ(stored, c.stored);
        EXPECT_GT(parsed.size(), 10u);
        EXPECT_TRUE(read == parsed) << read.size() << " packets read, " << parsed.size() << " parsed";
    }
}

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

// AVI keeps no time a picture is shown at: with B-pictures a key picture is
// shown when the next reference picture is decoded, one to three pictures
// after its place, and the scan gives that time (the decoder's own), as the
// seek enters by it. Packed B-pictures leave a placeholder after a key
// picture that the file's index lists as one: it is none.
TEST(KeyFrames, KeyPicturesOfAnAviWithBPicturesAreWhereTheyAreShown)
{
    const std::pair<const char*, std::vector<int64_t>> cases[] = {
        {"exact_xvid_packed.avi", {160000, 2160000, 4160000}},
        {"exact_mpeg4_b.avi", {40000, 2080000, 4000000, 5920000}},
    };
    for (const auto& [name, shown] : cases) {
        SCOPED_TRACE(name);
        int rc = -1;
        EXPECT_EQ(Scan(FixturePath(name), &rc), shown);
        EXPECT_EQ(rc, kProbeOk);
    }
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
