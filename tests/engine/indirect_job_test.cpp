// SPDX-License-Identifier: GPL-3.0-or-later
// Re-encoding cuts and joins in every output format, checked by decoding
// what comes out.
#include <gtest/gtest.h>

#include <algorithm>
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

// In every mode and container the input fails for the disk, not as a file
// the program cannot open, and nothing of the output is left.
TEST_F(Reencode, AFullDiskFailsTheCutForTheDiskAndLeavesNoBrokenFile)
{
    const SmallDisk disk("reencode-full-disk", 64);
    if (disk.path().empty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const struct {
        const char* mode;
        int entry;  // -1: direct
        bool exact;
        const char* extension;
    } cases[] = {{"direct", -1, false, ".mp4"}, {"exact", -1, true, ".mp4"}, {"MP4", 1, false, ".mp4"},
                 {"AVI", 2, false, ".avi"},     {"WMV", 4, false, ".wmv"},   {"MKV", 6, false, ".mkv"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        TearDown();
        SetUp();
        folder = disk.path();
        EncodingChoice choice = c.entry < 0 ? DefaultCutChoice("keep") : Format(c.entry);
        choice.exact = c.exact;
        Cut("h264_aac.mp4", "00:00:00.500", "00:00:04.000", choice, "cut", c.extension);
        EXPECT_EQ(Status(0), kInputFailed);
        EXPECT_EQ(job->input_reason[0], FailureReason::WriteFailed);
        EXPECT_EQ(job->output_error, ENOSPC);
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
}

// Streams as they come from TV recordings, phone clips and long-GOP cameras.
class RealWorld : public JobTest {
protected:
    EncodingChoice Sized(int entry, int width, int height, const char* fps = "source rate")
    {
        EncodingChoice c = DefaultCutChoice(fps);
        c.direct = false;
        ApplyFormatEntry(entry, &c);
        c.width = width;
        c.height = height;
        return c;
    }
};

TEST_F(RealWorld, SoundThatChangesFormatKeepsItsPitchAndLength)
{
    // AAC 48 kHz stereo -> 32 kHz mono -> 44.1 kHz stereo with a bigger
    // picture, and AC-3 5.1 -> stereo, each with a 500 Hz tone throughout.
    for (const char* name : {"sound_changes.ts", "ac3_51_to_stereo.ts"}) {
        Cut(name, "0", "00:00:06.000", Sized(1, 320, 240), name);
        EXPECT_EQ(Status(0), kInputDone) << name;
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.decode_errors, 0) << name;
        EXPECT_NEAR(f.VideoSeconds(), 6.0, 0.1) << name;
        const ToneFacts tone = AnalyzeTone(output);
        EXPECT_NEAR(tone.seconds, 6.0, 0.1) << name;
        // Every half second at 500 Hz (a wrong rate gives 750 Hz), but for
        // the switch itself, where the source's own decoder clicks.
        EXPECT_GE(tone.WindowsNear(500, 4), static_cast<int>(tone.window_hz.size()) - 2) << name;
        EXPECT_GE(tone.window_hz.size(), 11u) << name;
    }
}

TEST_F(RealWorld, ReencodedCutStartsAtItsStartPointBetweenDistantKeyFrames)
{
    // Key frames at 0 and 10 s only.
    Cut("gop10s_1080p.mp4", "00:00:08.000", "00:00:09.500", Sized(1, 320, 240));
    EXPECT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.VideoSeconds(), 1.5, 0.05);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 1.5, 0.05);
    const std::vector<uint8_t> first = LumaAt(output, 0, 320, 240);
    const double at_start = LumaPsnr(first, LumaAt(FixturePath("gop10s_1080p.mp4"), 8.0, 320, 240));
    const double at_key_frame = LumaPsnr(first, LumaAt(FixturePath("gop10s_1080p.mp4"), 0.0, 320, 240));
    EXPECT_GT(at_start, 28);
    EXPECT_GT(at_start, at_key_frame + 6);
}

// Decoded pictures go to the encoder thread by reference: each one written
// must still be the source's picture of its time, not a later one that the
// decoder could have put into a buffer still waiting to be encoded.
TEST_F(RealWorld, EveryPictureIsTheSourcesPictureOfItsTime)
{
    Cut("h264_640.mp4", "00:00:00.500", "00:00:02.500", Sized(1, 320, 240));
    ASSERT_EQ(Status(0), kInputDone);
    const std::string source = FixturePath("h264_640.mp4");
    for (int n = 3; n < 50; n += 7) {
        const double t = (n + 0.5) / 25;  // mid-picture: no rounding picks a neighbour
        const std::vector<uint8_t> written = LumaAt(output, t, 320, 240);
        const double same = LumaPsnr(written, LumaAt(source, t + 0.5, 320, 240));
        const double later = LumaPsnr(written, LumaAt(source, t + 0.5 + 2 / 25.0, 320, 240));
        EXPECT_GT(same, 30) << "at " << t << " s";
        EXPECT_GT(same, later + 3) << "at " << t << " s";
    }
}

TEST_F(RealWorld, PicturePlaysWithTheSourceShape)
{
    struct ShapeCase {
        const char* name;
        int width, height;
        double aspect;
    };
    for (const ShapeCase& c : {ShapeCase{"anamorphic_pal.mp4", 320, 240, 16.0 / 9},
                               ShapeCase{"mono48k.mkv", 320, 240, 16.0 / 9},
                               ShapeCase{"h264_aac.mp4", 640, 360, 4.0 / 3},
                               ShapeCase{"rotated.mp4", 240, 320, 3.0 / 4}}) {
        Cut(c.name, "0", "00:00:02.000", Sized(0, c.width, c.height), c.name);
        EXPECT_EQ(Status(0), kInputDone) << c.name;
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.width, c.width) << c.name;
        EXPECT_NEAR(f.display_aspect, c.aspect, 0.02) << c.name;
    }
    // The turned clip plays upright: the picture of the unturned original.
    const double upright = LumaPsnr(LumaAt(output, 0, 240, 320), LumaAt(FixturePath("portrait.mp4"), 0, 240, 320));
    EXPECT_GT(upright, 25);
}

TEST_F(RealWorld, JoinCarriesEveryKindOfStreamAnyInputHas)
{
    // The first file has no sound: the sound of the second still arrives,
    // after silence as long as the first.
    Join({"fps8.mp4", "h264_aac.mp4"}, DefaultJoinChoice());
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputDone);
    MediaFacts f = AnalyzeMedia(output);
    EXPECT_NE(f.audio_codec, 0);
    EXPECT_NEAR(f.VideoSeconds(), 13.0, 0.2);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 13.0, 0.2);
    const ToneFacts tone = AnalyzeTone(output);
    // Ten seconds of tone after three silent ones (a half second may straddle).
    EXPECT_GE(tone.WindowsNear(440, 4), 19);
    EXPECT_LE(tone.window_hz.size(), 21u);

    // The first file has no picture: black until the second's pictures.
    std::filesystem::remove(output);
    Join({"audio_only.m4a", "h264_aac_b.mp4"}, DefaultJoinChoice());
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputDone);
    f = AnalyzeMedia(output);
    EXPECT_NE(f.video_codec, 0);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.VideoSeconds(), 9.0, 0.2);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 9.0, 0.2);
    const std::vector<uint8_t> black = LumaAt(output, 1.0, 32, 24);
    ASSERT_FALSE(black.empty());
    EXPECT_LT(*std::max_element(black.begin(), black.end()), 24);
    EXPECT_GT(LumaPsnr(LumaAt(output, 5.0, 320, 240), LumaAt(FixturePath("h264_aac_b.mp4"), 0, 320, 240)), 25);
}

TEST_F(RealWorld, LastPictureKeepsItsDurationAtHigherRates)
{
    for (const auto& [fps_name, pictures] : {std::pair{"50.0 fps", 100}, {"60.0 fps", 120}}) {
        Cut("h264_aac.mp4", "0", "00:00:02.000", Sized(1, 320, 240, fps_name), fps_name);
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.video_frames, pictures) << fps_name;
        EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.01) << fps_name;
    }
    // Pictures that stop 0.8 s before the sound: the last one stays until it ends.
    Cut("vfr.mp4", "0", "00:00:04.000", Sized(1, 320, 240), "vfr");
    EXPECT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 4.0, 0.05);
    EXPECT_NEAR(f.VideoSeconds(), 4.0, 0.05);
}
