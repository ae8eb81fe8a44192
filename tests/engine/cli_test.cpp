// The command-line tool as a user meets it: messages, exit codes, outputs.
#include <gtest/gtest.h>

#include <filesystem>

#include "media_checks.h"

namespace {
std::string Quote(const std::string& s) { return "'" + s + "'"; }
}  // namespace

TEST(Cli, ProbePrintsFactsAndFailsOnBadFiles)
{
    CliResult r = RunCli("probe " + Quote(FixturePath("h264_aac.mp4")));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("result=0"), std::string::npos);
    EXPECT_NE(r.output.find("width=320"), std::string::npos);
    EXPECT_NE(r.output.find("video_codec=h264"), std::string::npos);
    r = RunCli("probe " + Quote(FixturePath("text.mp4")));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("result=-1"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(RunCli("").exit_code, 2);
    EXPECT_EQ(RunCli("frobnicate").exit_code, 2);
    EXPECT_EQ(RunCli("cut " + Quote(FixturePath("h264_aac.mp4")) + " --start 0").exit_code, 2);
    EXPECT_EQ(RunCli("cut x --start 0 --end 1 --out /tmp --format 9").exit_code, 2);
}

TEST(Cli, CutNamesItsOutputUniquelyAndNeverOverwrites)
{
    const std::string folder = MakeScratchFolder("cli-cut");
    const std::string args = "cut " + Quote(FixturePath("h264_aac.mp4")) +
                             " --start 00:00:00.000 --end 00:00:01.000 --out " + Quote(folder);
    CliResult r = RunCli(args);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("input 1 done"), std::string::npos);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac.mp4"), std::string::npos);
    const auto size = std::filesystem::file_size(folder + "/h264_aac.mp4");
    r = RunCli(args);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac(0).mp4"), std::string::npos) << r.output;
    r = RunCli(args);
    EXPECT_NE(r.output.find("output=" + folder + "/h264_aac(1).mp4"), std::string::npos) << r.output;
    EXPECT_EQ(std::filesystem::file_size(folder + "/h264_aac.mp4"), size);
}

TEST(Cli, RefusalsSayWhatWasWrong)
{
    const std::string folder = MakeScratchFolder("cli-refuse");
    CliResult r = RunCli("join " + Quote(FixturePath("h264_aac.mp4")) + " " +
                         Quote(FixturePath("mpeg4_mp3.avi")) + " --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("one kind"), std::string::npos) << r.output;
    r = RunCli("cut " + Quote(FixturePath("h264_aac.mp4")) + " --start 0 --end 1 --out " +
               Quote(folder + "/missing"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("does not exist"), std::string::npos) << r.output;
    for (const char* bad : {"empty.mp4", "random.mp4", "truncated_moov_end.mp4", "nothing.mp4"}) {
        r = RunCli("cut " + Quote(FixturePath(bad)) + " --start 0 --end 1 --out " + Quote(folder));
        EXPECT_EQ(r.exit_code, 1) << bad;
        EXPECT_NE(r.output.find("morvane-cli:"), std::string::npos) << bad;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(Cli, TruncatedFileIsSavedAsFarAsItGoesButNotCalledDone)
{
    // The index promises more than the file holds: what is there is copied
    // into a playable file, and the input is reported failed.
    const std::string folder = MakeScratchFolder("cli-truncated");
    CliResult r = RunCli("cut " + Quote(FixturePath("truncated_faststart.mp4")) +
                         " --start 0 --end 00:00:09.000 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("input 1 failed"), std::string::npos) << r.output;
    const MediaFacts f = AnalyzeMedia(folder + "/truncated_faststart.mp4");
    EXPECT_TRUE(f.opened);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_GT(f.VideoSeconds(), 2.0);

    // The same file cut within what it still holds is fine.
    r = RunCli("cut " + Quote(FixturePath("truncated_faststart.mp4")) +
               " --start 0 --end 00:00:02.000 --out " + Quote(folder));
    EXPECT_EQ(r.exit_code, 0) << r.output;
}

TEST(Cli, PreviewWritesTheSnapshotOrSaysWhyNot)
{
    const std::string folder = MakeScratchFolder("cli-preview");
    CliResult r = RunCli("preview " + Quote(FixturePath("h264_aac.mp4")) + " 3.5 " + Quote(folder + "/p.jpg"));
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_GT(std::filesystem::file_size(folder + "/p.jpg"), 1000u);
    r = RunCli("preview " + Quote(FixturePath("audio_only.m4a")) + " 1 " + Quote(folder + "/a.jpg"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("no picture"), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(folder + "/a.jpg"));
}
