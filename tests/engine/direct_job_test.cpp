// SPDX-License-Identifier: GPL-3.0-or-later
// Direct (packet copy) cuts and joins, run on the worker exactly as a launch
// runs them, checked by decoding the output.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "conversion_job.h"
#include "job_reading.h"
#include "job_setup.h"
#include "media_checks.h"
#include "probe.h"
#include "worker.h"

extern "C" {
#include <libavutil/error.h>
}

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

TEST_F(DirectJob, ASpanThatHoldsNothingFailsAndLeavesNoFile)
{
    // Past the end of the file: the launch cannot know, the worker can. A
    // seek there lands on the last key frame, which is no part of the span.
    for (const char* name : {"mpeg2.ts", "h264_aac.mp4"}) {
        Cut(name, "00:00:12.000", "00:00:15.000");
        EXPECT_EQ(Status(0), kInputFailed) << name;
        EXPECT_EQ(job->current_input, 1);
        EXPECT_TRUE(std::filesystem::is_empty(folder)) << name;
    }

    // A record that reaches the worker with an empty span anyway.
    ASSERT_EQ(FillCutJob(job, FixturePath("mpeg2.ts"), "0", "00:00:01.000", {folder, "ts", ".mp4"},
                         DefaultCutChoice("k"), &output),
              LaunchRefusal::None);
    job->span_s[0] = 0;
    Run(false);
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(DirectJob, AMovWhoseContainerStartsLateIsMeasuredByItsStreams)
{
    // The container's length counts an empty lead of 10 s; the streams hold 4 s.
    Join({"start10.mov", "start10.mov"});
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_TRUE(f.opened);
    EXPECT_NEAR(f.VideoSeconds(), 8.0, 0.2);
}

TEST_F(DirectJob, TwoJobsLaunchedTogetherWriteTwoFiles)
{
    ConversionJob* second = new ConversionJob();
    InitConversionJob(second);
    std::string second_output;
    const OutputTarget target{folder, "clip", ".mp4"};
    ASSERT_EQ(FillCutJob(job, FixturePath("h264_aac.mp4"), "0", "00:00:04.000", target, DefaultCutChoice("k"),
                         &output),
              LaunchRefusal::None);
    ASSERT_EQ(FillCutJob(second, FixturePath("h264_aac_b.mp4"), "0", "00:00:02.000", target,
                         DefaultCutChoice("k"), &second_output),
              LaunchRefusal::None);
    EXPECT_EQ(output, folder + "/clip.mp4");
    EXPECT_EQ(second_output, folder + "/clip(0).mp4");
    MarkJobStarting(job, false);
    MarkJobStarting(second, false);
    std::thread a = StartConversionWorker(job);
    std::thread b = StartConversionWorker(second);
    a.join();
    b.join();
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(second->input_status[0], kInputDone);
    EXPECT_NEAR(AnalyzeMedia(output).VideoSeconds(), 4.0, 0.2);
    EXPECT_NEAR(AnalyzeMedia(second_output).VideoSeconds(), 2.0, 0.2);
    FreePathArray(second->input_paths, second->input_count);
    FreePathArray(second->output_paths, second->input_count);
    delete second;
}

TEST_F(DirectJob, AFullDiskFailsTheJobAndLeavesNoBrokenFile)
{
    const SmallDisk disk("direct-full-disk", 128);
    if (disk.path().empty())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    folder = disk.path();
    // 4 s of MP4 fill the disk while its end is written; the AVI fills it midway.
    for (const char* name : {"h264_aac.mp4", "mpeg4_mp3.avi"}) {
        Cut(name, "0", "00:00:04.000");
        EXPECT_EQ(Status(0), kInputFailed) << name;
        EXPECT_EQ(job->output_error, ENOSPC) << name;
        EXPECT_FALSE(std::filesystem::exists(output)) << name;
    }
    // A join stops at the full disk: nothing after it is called done.
    Join({"h264_aac.mp4", "h264_aac_b.mp4"});
    EXPECT_EQ(Status(0), kInputFailed);
    EXPECT_EQ(Status(1), kInputFailed);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
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

// Each file's first sound packet, its encoder's priming, ends where its
// first picture starts and leads the decoder into the sound after it. A
// later file's takes the place of the file before's last packet: dropped,
// the file's first sound would decode from another file's packet and play
// half a packet late at every seam.
TEST_F(DirectJob, JoinKeepsEachFilesPrimingPacketAtItsSeam)
{
    Join({"h264_aac.mkv", "h264_aac.mkv", "h264_aac.mkv"});
    ASSERT_EQ(Status(2), kInputDone);
    const auto hashes = [](const std::string& path) {
        return CommandOutput("ffprobe -v error -select_streams a -show_data_hash md5 -show_entries packet=data_hash "
                             "-of csv=p=0 " + Quoted(path));
    };
    const std::string source = hashes(FixturePath("h264_aac.mkv"));
    const std::string priming = source.substr(0, source.find('\n'));
    const std::string joined = hashes(output);
    size_t count = 0;
    for (size_t at = joined.find(priming); at != std::string::npos; at = joined.find(priming, at + 1))
        ++count;
    EXPECT_EQ(count, 3u);
    ExpectPlaysInSync(AnalyzeMedia(output));
}

TEST_F(DirectJob, JoinSkipsInputsThatCannotBeCopiedAndFinishesTheOutput)
{
    // A different picture size cannot continue the stream; a missing last
    // file fails before its packets, and the output must still be finished.
    // (The launch refuses such a join; here the files change after it.)
    Join({"h264_aac.mp4", "h264_aac.mp4", "h264_aac.mp4"});
    ASSERT_EQ(job->input_count, 3);
    ReplaceInput(1, FixturePath("h264_640.mp4"));
    ReplaceInput(2, folder + "/gone.mp4");
    std::filesystem::remove(output);
    Run(true);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(Status(1), kInputFailed);
    EXPECT_EQ(Status(2), kInputFailed);
    EXPECT_EQ(job->input_reason[1], FailureReason::DiffersFromFirst);
    EXPECT_EQ(job->input_reason[2], FailureReason::Unreadable);
    EXPECT_EQ(job->input_av_error[2], 0) << "found missing before the libraries were asked";
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
    // The libraries' own words go with the reason, into every message.
    const JobReading reading = ReadJob(*job);
    EXPECT_EQ(reading.FirstAvError(), AVERROR_INVALIDDATA);
    EXPECT_EQ(FailureReasonWithCause(reading.FirstReason(), reading.FirstAvError()),
              "not a media file the program can open (Invalid data found when processing input)");
    EXPECT_EQ(reading.inputs[1].av_error, 0);
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
