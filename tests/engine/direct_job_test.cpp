// Direct (packet copy) cuts and joins, run on the worker exactly as a launch
// runs them, checked by decoding the output.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "conversion_job.h"
#include "job_setup.h"
#include "media_checks.h"
#include "probe.h"
#include "worker.h"

namespace {

class DirectJob : public JobTest {
protected:
    void Cut(const std::string& name, const std::string& start, const std::string& end)
    {
        JobTest::Cut(name, start, end, DefaultCutChoice("k"));
    }
    void Join(const std::vector<std::string>& names, bool any_kind = true)
    {
        EncodingChoice choice = DefaultJoinChoice();
        choice.direct = true;
        JobTest::Join(names, choice, any_kind);
    }
};

void ExpectPlaysInSync(const MediaFacts& f)
{
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GT(f.video_frames, 0);
    EXPECT_NEAR(f.audio_end_s, f.video_end_s, 0.1) << "sound and picture end apart";
    EXPECT_NEAR(f.audio_start_s, f.video_start_s, 0.1) << "sound and picture start apart";
}

}  // namespace

TEST_F(DirectJob, CutBetweenKeyFramesStartsAtTheKeyFrameBefore)
{
    Cut("h264_aac.mp4", "00:00:03.000", "00:00:07.000");  // key frames every 2 s
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(job->current_input, 1);
    EXPECT_LE(job->progress_percent, 100);
    EXPECT_EQ(output, folder + "/cut.mp4");
    const MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_EQ(f.video_codec, AV_CODEC_ID_H264);
    EXPECT_EQ(f.audio_codec, AV_CODEC_ID_AAC);
    // From the key frame at 2 s, the span's 4 s, rounded up to the end of a
    // group of reordered pictures, so that none is missing at the end.
    EXPECT_NEAR(f.VideoSeconds(), 4.0, 0.2);
    EXPECT_GE(f.video_frames, 100);
    EXPECT_LE(f.video_frames, 104);
    EXPECT_NEAR(f.max_picture_gap_s, 0.04, 0.001);
}

TEST_F(DirectJob, CutFromTheStartKeepsEveryPictureOfTheSpan)
{
    Cut("h264_aac.mp4", "00:00:00.000", "00:00:05.000");
    EXPECT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_GE(f.VideoSeconds(), 5.0);
    EXPECT_LE(f.VideoSeconds(), 5.0 + 0.04 * 3);  // the span, to the end of its reordered group
    EXPECT_NEAR(f.max_picture_gap_s, 0.04, 0.001);
}

TEST_F(DirectJob, CutOfOtherContainersKeepsTheirCodecs)
{
    Cut("mpeg4_mp3.avi", "00:00:01.000", "00:00:04.000");
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(FileExtension(output), "avi");
    MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_EQ(f.video_codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(f.audio_codec, AV_CODEC_ID_MP3);
    EXPECT_NEAR(f.VideoSeconds(), 3.0, 0.15);

    // Transport streams are sought by their timestamps.
    Cut("mpeg2.ts", "00:00:04.000", "00:00:06.000");
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(job->seek_by_bytes, 0);
    f = AnalyzeMedia(output);
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_EQ(f.video_codec, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.2);
}

TEST_F(DirectJob, CutOfAnAudioOnlyFileFollowsItsSound)
{
    Cut("audio_only.m4a", "00:00:01.000", "00:00:03.000");
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(job->current_input, 1);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.video_frames, 0);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 2.0, 0.1);
}

TEST_F(DirectJob, SpanOfZeroWritesAnEmptyButValidFile)
{
    Cut("h264_aac.mp4", "00:00:02.000", "00:00:02.000");
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_TRUE(AnalyzeMedia(output).opened);
}

TEST_F(DirectJob, JoinLastsAsLongAsItsInputsWithoutGapOrOverlap)
{
    Join({"h264_aac.mp4", "h264_aac_b.mp4"});
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputDone);
    EXPECT_EQ(job->current_input, 2);
    EXPECT_EQ(job->join_total_s, 14);
    const MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_EQ(f.video_frames, 250 + 100);
    EXPECT_NEAR(f.VideoSeconds(), 14.0, 0.02);
    EXPECT_NEAR(f.max_picture_gap_s, 0.04, 0.001) << "a picture is held at the seam";
}

TEST_F(DirectJob, JoinSkipsInputsThatCannotBeCopiedAndFinishesTheOutput)
{
    // A different picture size cannot continue the stream; a missing last
    // file fails before its packets, and the output must still be finished.
    Join({"h264_aac.mp4", "h264_640.mp4", "h264_aac.mp4"});
    ASSERT_EQ(job->input_count, 3);
    ReplaceInput(2, folder + "/gone.mp4");
    std::filesystem::remove(output);
    Run(true);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputFailed);
    EXPECT_EQ(Status(2), kInputFailed);
    EXPECT_EQ(job->current_input, 3);
    const MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_EQ(f.video_frames, 250);
}

TEST_F(DirectJob, BrokenFirstInputLeavesTheRestToMakeTheOutput)
{
    Join({"h264_aac.mp4", "h264_aac_b.mp4"});
    ReplaceInput(0, FixturePath("random.mp4"));
    std::filesystem::remove(output);
    Run(true);
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_EQ(Status(1), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    ExpectPlaysInSync(f);
    EXPECT_EQ(f.video_frames, 100);
}

TEST_F(DirectJob, UnwritableOutputFailsTheInputAndWritesNothing)
{
    const std::string gone = folder + "/no/such/folder";
    FillCutJob(job, FixturePath("h264_aac.mp4"), "0", "00:00:02.000", {gone, "x", ".mp4"},
               DefaultCutChoice("k"), &output);
    Run(false);
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_EQ(job->current_input, 1);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(DirectJob, CancelledJoinLeavesAFinishedFileAndAPendingInput)
{
    std::vector<std::string> names(300, "h264_aac_b.mp4");
    Join(names);  // a first run only to fill the job
    std::filesystem::remove(output);
    MarkJobStarting(job, true);
    std::thread worker = StartConversionWorker(job);
    while (job->current_input < 3)
        std::this_thread::yield();
    job->cancel_requested = 1;
    worker.join();
    const int stopped_at = job->current_input;
    ASSERT_LT(stopped_at, 300);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(stopped_at), kInputPending);
    EXPECT_EQ(Status(299), kInputPending);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GE(f.video_frames, 300);
}
