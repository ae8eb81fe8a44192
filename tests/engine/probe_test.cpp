// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>

#include "conversion_job.h"
#include "media_checks.h"
#include "media_input.h"
#include "probe.h"

namespace {

struct Probed {
    ConversionJob job{};
    std::string path;
    int rc;
    explicit Probed(const std::string& name) : path(FixturePath(name))
    {
        InitConversionJob(&job);
        job.probe_path = path.data();
        rc = ProbeMedia(&job);
    }
};

}  // namespace

TEST(Probe, H264FileGivesItsPictureRateDurationAndAudio)
{
    Probed p("h264_aac.mp4");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.job.source_width, 320);
    EXPECT_EQ(p.job.source_height, 240);
    EXPECT_EQ(p.job.source_fps_num, 25);
    EXPECT_EQ(p.job.source_fps_den, 1);
    EXPECT_EQ(p.job.video_codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(p.job.audio_codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(p.job.audio_channels, 2);
    EXPECT_EQ(p.job.audio_sample_rate, 44100);
    EXPECT_NEAR(p.job.duration_us, 10000000, 100000);
    EXPECT_EQ(p.job.initial_end_us, p.job.duration_us);
    EXPECT_EQ(p.job.initial_start_us, 0);
}

TEST(Probe, AudioOnlyFileHasNoPicture)
{
    Probed p("audio_only.m4a");
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.job.video_stream_index, -1);
    EXPECT_EQ(p.job.source_width, 0);
    EXPECT_EQ(p.job.video_codec_id, 0);
    EXPECT_EQ(p.job.video_bit_rate, 0);
    EXPECT_EQ(p.job.audio_codec_id, AV_CODEC_ID_AAC);
}

TEST(Probe, DefaultVideoStreamWinsButCoverArtNever)
{
    Probed two("two_video.mkv");
    ASSERT_EQ(two.rc, 0);
    EXPECT_EQ(two.job.source_width, 320);  // the first video stream, marked default
    Probed cover("cover_art.mp4");
    ASSERT_EQ(cover.rc, 0);
    EXPECT_EQ(cover.job.source_width, 320);  // the movie, not the 64x64 picture
    EXPECT_EQ(cover.job.video_codec_id, AV_CODEC_ID_H264);
}

TEST(Probe, EightFramesPerSecondAndTransportStreams)
{
    Probed slow("fps8.mp4");
    ASSERT_EQ(slow.rc, 0);
    EXPECT_EQ(slow.job.source_fps_num / slow.job.source_fps_den, 8);
    Probed ts("mpeg2.ts");
    ASSERT_EQ(ts.rc, 0);
    EXPECT_EQ(ts.job.video_codec_id, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(ts.job.audio_codec_id, AV_CODEC_ID_MP2);
}

TEST(Probe, BadFilesGiveNegativeCodes)
{
    for (const char* name : {"missing.mp4", "empty.mp4", "random.mp4", "text.mp4",
                             "truncated_moov_end.mp4"}) {
        Probed p(name);
        EXPECT_LT(p.rc, 0) << name;
    }
}

TEST(MediaInputOpen, OnlyFilesAndDisksAreReadAndAStopEndsTheOpen)
{
    MediaInput in;
    EXPECT_EQ(OpenMediaInput(FixturePath("no-such-file.mp4").c_str(), in), kProbeNoSuchFile);
    EXPECT_EQ(OpenMediaInput(std::getenv("MORVANE_FIXTURES"), in), kProbeNotAFile);
    EXPECT_EQ(OpenMediaInput("/dev/null", in), kProbeNotAFile);
    // The job's stop answer is asked before the first read.
    MediaInputOptions options;
    options.interrupt = {[](void*) { return 1; }, nullptr};
    EXPECT_EQ(OpenMediaInput(FixturePath("h264_aac.mp4").c_str(), in, options), kProbeOpenFailed);
    options.interrupt = {[](void*) { return 0; }, nullptr};
    EXPECT_EQ(OpenMediaInput(FixturePath("h264_aac.mp4").c_str(), in, options), kProbeOk);
}

TEST(FrameRateRule, CorrectsRatesAboveOneThousand)
{
    AVStream st{};
    st.r_frame_rate = {30000, 1};
    SourceRate rate = ApplyFrameRateRule(&st);
    EXPECT_EQ(st.r_frame_rate.den, 1001);
    EXPECT_EQ(rate.fps, 29);
    EXPECT_EQ(rate.num, 30000);
    EXPECT_EQ(rate.den, 1001);
    st.r_frame_rate = {1000, 1};
    rate = ApplyFrameRateRule(&st);
    EXPECT_EQ(st.r_frame_rate.den, 1);
    EXPECT_EQ(rate.fps, 1000);
}
