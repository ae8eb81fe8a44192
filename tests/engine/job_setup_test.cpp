// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include <stdlib.h>

#include "conversion_job.h"
#include "job_setup.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

TEST(TimeText, FormatsHoursMinutesSecondsAndMilliseconds)
{
    EXPECT_EQ(FormatTimeText(0), "00:00:00.000");
    EXPECT_EQ(FormatTimeText(5), "00:00:00.005");
    EXPECT_EQ(FormatTimeText(50), "00:00:00.050");
    EXPECT_EQ(FormatTimeText(3723004), "01:02:03.004");
    EXPECT_EQ(FormatTimeText(360000000), "100:00:00.000");
}

TEST(TimeText, ParsesFieldsAsCountsAndNeverFails)
{
    EXPECT_EQ(ParseTimeText("01:02:03.004"), 3723004);
    EXPECT_EQ(ParseTimeText("00:00:00.5"), 5);  // milliseconds are a count
    EXPECT_EQ(ParseTimeText("1:12:03.000"), 4323000);
    EXPECT_EQ(ParseTimeText(""), 0);
    EXPECT_EQ(ParseTimeText("12"), 12012);
    EXPECT_EQ(ParseTimeText("garbage"), 0);
    for (int ms : {0, 999, 61001, 3599999, 86399999})
        EXPECT_EQ(ParseTimeText(FormatTimeText(ms)), ms) << ms;
}

TEST(PathText, ExtensionsAndNames)
{
    EXPECT_EQ(FileExtension("/v/clip.Final.MP4"), "MP4");
    EXPECT_EQ(FileExtensionWithDot("/v/clip.avi"), ".avi");
    EXPECT_EQ(FileExtension("noext"), "noext");
    EXPECT_EQ(FileExtensionWithDot("noext"), "noext");
    EXPECT_EQ(FileNameOf("/a/b/c.mkv"), "c.mkv");
}

TEST(UniqueOutputName, CountsFromZeroOnTheFirstName)
{
    std::set<std::string> existing = {"D/movie.avi"};
    auto exists = [&](const std::string& p) { return existing.count(p) > 0; };
    EXPECT_EQ(MakeUniqueOutputName("D/new.avi", exists), "D/new.avi");
    EXPECT_EQ(MakeUniqueOutputName("D/movie.avi", exists), "D/movie(0).avi");
    existing.insert("D/movie(0).avi");
    EXPECT_EQ(MakeUniqueOutputName("D/movie.avi", exists), "D/movie(1).avi");
}

TEST(ChoiceText, RatesSizesTitlesAndExtensions)
{
    EXPECT_EQ(ParseRateText("128 kbps"), 128000);
    EXPECT_EQ(ParseRateText("20000 kbps"), 20000000);
    EXPECT_EQ(ParseRateText("44100 Hz"), 44100);
    EXPECT_EQ(ParseRateText("fast"), 0);
    int w = 1, h = 1;
    EXPECT_TRUE(ParseSizeText("1280*720", &w, &h));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_FALSE(ParseSizeText("*720", &w, &h));
    EXPECT_EQ(w, 1280);  // left unchanged
    EXPECT_EQ(CleanFileTitle("holiday:1?<2>|@"), "holiday12");
    EXPECT_EQ(CleanFileTitle("a/b\\c\"d"), "abc\"d");
    const char* expected[kFormatCount] = {".mp4", ".mp4", ".avi", ".flv", ".wmv", ".mov", ".mkv"};
    for (int i = 0; i < kFormatCount; ++i)
        EXPECT_EQ(FormatExtension(FormatTable[i].text), expected[i]);
}

TEST(CodecNames, MapToTheLibraryConstants)
{
    int id = -7;
    EXPECT_TRUE(LookUpCodec(kCutVideoCodecs, "MPEG2VIDEO", &id));
    EXPECT_EQ(id, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_TRUE(LookUpCodec(kCutAudioCodecs, "MP2", &id));
    EXPECT_EQ(id, AV_CODEC_ID_MP2);
    EXPECT_TRUE(LookUpCodec(kJoinVideoCodecs, "DivX", &id));
    EXPECT_EQ(id, AV_CODEC_ID_MSMPEG4V3);
    EXPECT_FALSE(LookUpCodec(kCutVideoCodecs, "h.264", &id));  // case matters
    EXPECT_EQ(id, AV_CODEC_ID_MSMPEG4V3);
    double fps = 0;
    EXPECT_TRUE(FpsNameToValue("29.97 fps", &fps));
    EXPECT_DOUBLE_EQ(fps, 29.97);
    EXPECT_FALSE(FpsNameToValue("keep the source rate", &fps));
}

class LaunchFill : public ::testing::Test {
protected:
    void SetUp() override
    {
        job = new ConversionJob();
        InitConversionJob(job);
        char name[] = "/tmp/morvane-fill-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
    }
    void TearDown() override
    {
        ReleaseReservedOutput(job);
        FreePathArray(job->input_paths, job->input_count);
        FreePathArray(job->output_paths, job->input_count);
        delete job;
        std::filesystem::remove_all(folder);
    }
    std::vector<std::string> FolderNames() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    ConversionJob* job = nullptr;
    std::string folder;
    std::string out;
};

TEST_F(LaunchFill, CutTakesSpanAndNamesOutputByMode)
{
    OutputTarget target{folder, "clip", ".mp4"};
    EncodingChoice choice = DefaultCutChoice("keep");
    ASSERT_EQ(FillCutJob(job, "/v/movie.avi", "00:00:10.000", "00:01:00.500", target, choice, &out),
              LaunchRefusal::None);
    EXPECT_EQ(out, folder + "/clip.avi");  // direct keeps the input's container
    EXPECT_DOUBLE_EQ(job->start_s[0], 10.0);
    EXPECT_DOUBLE_EQ(job->end_s[0], 60.5);
    EXPECT_DOUBLE_EQ(job->span_s[0], 50.5);
    EXPECT_EQ(job->reencode, 0);
    EXPECT_EQ(job->target_fps, 0);
    EXPECT_STREQ(job->input_paths[0], "/v/movie.avi");

    choice.direct = false;
    choice.fps_name = "29.97 fps";
    ApplyFormatEntry(6, &choice);
    ASSERT_EQ(FillCutJob(job, "/v/movie.avi", "0", "5", target, choice, &out), LaunchRefusal::None);
    EXPECT_EQ(out, folder + "/clip.mp4");
    // The first launch's reservation, never run, is gone with it.
    EXPECT_EQ(FolderNames(), std::vector<std::string>({"clip.mp4"}));
    EXPECT_EQ(job->reencode, 1);
    EXPECT_EQ(job->video_codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(job->audio_codec_id, AV_CODEC_ID_VORBIS);
    EXPECT_DOUBLE_EQ(job->target_fps, 29.97);
}

TEST_F(LaunchFill, DirectCutOfAFileWithoutExtensionIsRefused)
{
    OutputTarget target{folder, "clip", ".mp4"};
    EXPECT_EQ(FillCutJob(job, "/v.d/movie", "0", "5", target, DefaultCutChoice("k"), &out),
              LaunchRefusal::NoFileExtension);
    EncodingChoice indirect = DefaultCutChoice("k");
    indirect.direct = false;
    EXPECT_EQ(FillCutJob(job, "/v.d/movie", "0", "5", target, indirect, &out), LaunchRefusal::None);
    EXPECT_EQ(out, folder + "/clip.mp4");
}

TEST_F(LaunchFill, JoinTruncatesTheTotalAfterEveryAddition)
{
    std::vector<JoinRow> rows(2);
    rows[0] = {"/v/a.mp4", 10600999, 1280, 720, 0, {}};
    rows[1] = {"/v/b.mp4", 10600999, 1280, 720, 0, {}};
    EncodingChoice choice = DefaultJoinChoice();
    choice.direct = true;
    ASSERT_EQ(FillJoinJob(job, rows, {folder, "both", ".mp4"}, choice, &out), LaunchRefusal::None);
    EXPECT_EQ(job->join_total_s, 20);
    EXPECT_EQ(job->input_count, 2);
    EXPECT_EQ(job->display_count, 2);
    EXPECT_STREQ(job->output_paths[0], job->output_paths[1]);
    EXPECT_STREQ(job->input_paths[1], "/v/b.mp4");
}

TEST_F(LaunchFill, DirectJoinNeedsFilesOfOneKind)
{
    std::vector<JoinRow> rows = {{"/v/a.mp4", 1000, 1280, 720, 0, {}}, {"/v/b.MP4", 1000, 1280, 720, 0, {}}};
    EXPECT_EQ(CheckJoinRows(rows, true), LaunchRefusal::NotSameKind);
    EXPECT_EQ(CheckJoinRows(rows, false), LaunchRefusal::None);
    rows[1] = {"/v/d.mp4", 1000, 640, 480, 0, {}};
    EXPECT_EQ(CheckJoinRows(rows, true), LaunchRefusal::NotSameKind);
    rows.resize(1);
    EXPECT_EQ(CheckJoinRows(rows, false), LaunchRefusal::TooFewInputs);
    rows.assign(1000, rows[0]);
    EXPECT_EQ(CheckJoinRows(rows, false), LaunchRefusal::TooManyInputs);
    rows.resize(999);
    EXPECT_EQ(CheckJoinRows(rows, true), LaunchRefusal::None);
}

TEST_F(LaunchFill, TheOutputIsCreatedAtOnceUnderTheFirstFreeNameAndNothingElseIsTouched)
{
    {
        std::ofstream(folder + "/clip.mp4") << "the user's";
        std::ofstream(folder + "/clip(0).mp4") << "files";
    }
    const OutputTarget target{folder, "clip", ".mp4"};
    EncodingChoice choice = DefaultCutChoice("k");
    choice.direct = false;
    ASSERT_EQ(FillCutJob(job, "/v/a.avi", "0", "5", target, choice, &out), LaunchRefusal::None);
    EXPECT_EQ(out, folder + "/clip(1).mp4");
    EXPECT_GE(job->output_fd, 0);
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
    EXPECT_EQ(std::filesystem::file_size(folder + "/clip.mp4"), 10u);

    // Each fill holds its own file, so a second launch never shares the name.
    ConversionJob other{};
    InitConversionJob(&other);
    std::string other_out;
    ASSERT_EQ(FillCutJob(&other, "/v/a.avi", "0", "5", target, choice, &other_out), LaunchRefusal::None);
    EXPECT_EQ(other_out, folder + "/clip(2).mp4");
    ReleaseReservedOutput(&other);
    EXPECT_EQ(other.output_fd, -1);
    EXPECT_FALSE(std::filesystem::exists(other_out));
    FreePathArray(other.input_paths, other.input_count);
    FreePathArray(other.output_paths, other.input_count);

    EXPECT_EQ(FillCutJob(job, "/v/a.avi", "0", "5", {folder + "/missing", "clip", ".mp4"}, choice, &out),
              LaunchRefusal::OutputNotCreated);
    EXPECT_EQ(job->output_error, ENOENT);
    EXPECT_EQ(job->output_fd, -1);
}

TEST_F(LaunchFill, SpansThatHoldNothingAreRefused)
{
    struct Case {
        int start_ms, end_ms;
        int64_t duration_us;
        bool possible;
    } cases[] = {
        {0, 1000, 10000000, true},      {9999, 20000, 10000000, true},  {5000, 5000, 10000000, false},
        {6000, 5000, 10000000, false}, {10000, 12000, 10000000, false}, {20000, 30000, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CutSpanIsPossible(c.start_ms, c.end_ms, c.duration_us), c.possible) << c.start_ms << "-" << c.end_ms;
    EXPECT_EQ(FillCutJob(job, "/v/a.avi", "00:00:02.000", "00:00:02.000", {folder, "clip", ".mp4"},
                         DefaultCutChoice("k"), &out),
              LaunchRefusal::EmptySpan);
    EXPECT_TRUE(FolderNames().empty());
}
