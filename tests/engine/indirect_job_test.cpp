// Re-encoding cuts and joins in every output format, checked by decoding
// what comes out.
#include <gtest/gtest.h>

#include <cerrno>

#include <filesystem>
#include <thread>

#include "conversion_job.h"
#include "job_setup.h"
#include "media_checks.h"
#include "worker.h"

namespace {

EncodingChoice Format(int entry)
{
    EncodingChoice c = DefaultCutChoice("keep");
    c.direct = false;
    ApplyFormatEntry(entry, &c);
    return c;
}

struct FormatCase {
    int entry;
    const char* extension;
    AVCodecID video;
    AVCodecID audio;
};

class EveryFormat : public JobTest, public ::testing::WithParamInterface<FormatCase> {};

}  // namespace

TEST_P(EveryFormat, CutPlaysWithTheChosenCodecsSizeAndLength)
{
    const FormatCase& fc = GetParam();
    EncodingChoice choice = Format(fc.entry);
    choice.width = 640;
    choice.height = 480;
    Cut("mpeg4_mp3.avi", "00:00:01.000", "00:00:05.000", choice, "cut", fc.extension);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(FileExtensionWithDot(output), fc.extension);
    const MediaFacts f = AnalyzeMedia(output);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_EQ(f.video_codec, fc.video);
    EXPECT_EQ(f.audio_codec, fc.audio);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 480);
    // 4 s from the key frame at 1 s, at the source's 25 fps.
    EXPECT_NEAR(f.video_frames, 100, 2);
    EXPECT_NEAR(f.VideoSeconds(), 4.0, 0.1);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, f.VideoSeconds(), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(FormatCase{0, ".mp4", AV_CODEC_ID_MPEG4, AV_CODEC_ID_AAC},
                                           FormatCase{1, ".mp4", AV_CODEC_ID_H264, AV_CODEC_ID_AAC},
                                           FormatCase{2, ".avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP3},
                                           FormatCase{3, ".flv", AV_CODEC_ID_FLV1, AV_CODEC_ID_MP3},
                                           FormatCase{4, ".wmv", AV_CODEC_ID_WMV2, AV_CODEC_ID_WMAV2},
                                           FormatCase{5, ".mov", AV_CODEC_ID_MPEG4, AV_CODEC_ID_AAC},
                                           FormatCase{6, ".mkv", AV_CODEC_ID_H264, AV_CODEC_ID_VORBIS}));

class Reencode : public JobTest {};

TEST_F(Reencode, TargetFrameRateSetsThePictureCount)
{
    for (const auto& [fps_name, pictures] : {std::pair{"10.0 fps", 40}, {"50.0 fps", 200}, {"29.97 fps", 120}}) {
        EncodingChoice choice = Format(1);
        choice.fps_name = fps_name;
        Cut("h264_aac.mp4", "00:00:00.000", "00:00:04.000", choice, fps_name);
        EXPECT_EQ(Status(0), kInputDone) << fps_name;
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.decode_errors, 0) << fps_name;
        EXPECT_NEAR(f.video_frames, pictures, 2) << fps_name;
        EXPECT_NEAR(f.audio_end_s - f.audio_start_s, f.VideoSeconds(), 0.1) << fps_name;
    }
}

TEST_F(Reencode, MixedJoinIsOneContinuousFileAsLongAsItsInputs)
{
    // Four containers, three video codecs, three sizes, 25 and 30 fps,
    // stereo 44.1 kHz and mono 48 kHz.
    Join({"h264_aac.mp4", "mpeg4_mp3.avi", "mpeg2.ts", "mono48k.mkv"}, DefaultJoinChoice());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Status(i), kInputDone) << i;
    EXPECT_EQ(job->join_total_s, 27);
    const MediaFacts f = AnalyzeMedia(output);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 240);
    EXPECT_NEAR(f.VideoSeconds(), 27.0, 0.2);
    EXPECT_LT(f.max_picture_gap_s, 0.05);
    EXPECT_NEAR(f.video_frames, 27 * 29.97, 6);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, f.VideoSeconds(), 0.1);
}

TEST_F(Reencode, SoundAndPictureMeetAtEveryJoin)
{
    // A silent input between two with sound: the sound track must wait for
    // it, so the third file's sound plays under the third file's pictures.
    Join({"h264_aac_b.mp4", "fps8.mp4", "h264_aac_b.mp4"}, DefaultJoinChoice(), true);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Status(i), kInputDone) << i;
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.VideoSeconds(), 11.0, 0.2);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, f.VideoSeconds(), 0.1);
}

TEST_F(Reencode, DamagedPacketsAreSkippedAndTheCutGoesOn)
{
    Cut("corrupt_middle.avi", "00:00:00.000", "00:00:06.000", Format(0));
    const MediaFacts f = AnalyzeMedia(output);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GT(f.VideoSeconds(), 5.0);
}

TEST_F(Reencode, AnInputWithoutDecodableVideoFails)
{
    std::filesystem::copy_file(FixturePath("mpeg4_mp3.avi"), folder + "/src.avi");
    // Keep the index and headers, overwrite every picture's data.
    {
        FILE* f = std::fopen((folder + "/src.avi").c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::vector<char> zeros(static_cast<size_t>(size) - 20000, 0);
        std::fseek(f, 12000, SEEK_SET);
        std::fwrite(zeros.data(), 1, static_cast<size_t>(size) - 32000, f);
        std::fclose(f);
    }
    FillCutJob(job, folder + "/src.avi", "0", "00:00:05.000", {folder, "out", ".mp4"}, Format(0), &output);
    Run(false);
    EXPECT_EQ(Status(0), kInputFailed);
}

TEST_F(Reencode, SettingsTheContainerRefusesFailTheInputCleanly)
{
    // An unusable size cannot be encoded: the input fails and no file is left.
    EncodingChoice choice = Format(0);
    choice.width = 0;
    Cut("h264_aac.mp4", "0", "00:00:02.000", choice);
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(Reencode, CancelledEncodeStillLeavesAPlayableFile)
{
    std::vector<std::string> names(40, "h264_aac_b.mp4");
    EncodingChoice choice = DefaultJoinChoice();
    Join({"h264_aac_b.mp4", "h264_aac_b.mp4"}, choice);  // fills the job shape
    std::vector<JoinRow> rows(names.size(), MakeJoinRow(FixturePath("h264_aac_b.mp4"), *job));
    ASSERT_EQ(FillJoinJob(job, rows, {folder, "long", ".mp4"}, choice, &output), LaunchRefusal::None);
    MarkJobStarting(job, true);
    std::thread worker = StartConversionWorker(job);
    while (job->current_input < 2)
        std::this_thread::yield();
    job->cancel_requested = 1;
    worker.join();
    const int stopped_at = job->current_input;
    ASSERT_LT(stopped_at, 40);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(39), kInputPending);
    const MediaFacts f = AnalyzeMedia(output);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GE(f.VideoSeconds(), 7.5);
}

TEST_F(Reencode, AFullDiskFailsTheCutAndLeavesNoBrokenFile)
{
    const SmallDisk disk("reencode-full-disk", 64);
    if (disk.path().empty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    folder = disk.path();
    Cut("h264_aac.mp4", "0", "00:00:04.000", Format(1));
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_EQ(job->output_error, ENOSPC);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}
