// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's part in taking a break out of a recording: detect finds it and
// writes it as a list, cut --remove-from takes it out, and what cannot be
// removed is refused in words.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "media_checks.h"
#include "media_input.h"

namespace {

class CliBreaks : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()); }
    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string folder;
};

TEST_F(CliBreaks, DetectWritesTheBreakAsAListThatCutRemovesExactly)
{
    const CliResult lines = RunCli("detect " + Quoted(FixturePath("breaks_h264.mkv")));
    ASSERT_EQ(lines.exit_code, 0) << lines.output;
    EXPECT_NE(lines.output.find("meeting=00:00:07.4"), std::string::npos) << lines.output;
    EXPECT_NE(lines.output.find("break=00:00:07.4"), std::string::npos) << lines.output;

    const CliResult edl = RunShell(std::string(std::getenv("MORVANE_CLI")) + " detect --edl " +
                                   Quoted(FixturePath("breaks_h264.mkv")) + " 2>/dev/null");
    ASSERT_EQ(edl.exit_code, 0);
    double start = 0, end = 0;
    int action = -1;
    std::istringstream(edl.output) >> start >> end >> action;
    EXPECT_NEAR(start, 7.42, 0.03) << edl.output;
    EXPECT_NEAR(end, 11.62, 0.03) << edl.output;
    EXPECT_EQ(action, 0);

    const std::string list = Write("found.edl", edl.output);
    const CliResult cut = RunCli("cut " + Quoted(FixturePath("breaks_h264.mkv")) + " --remove-from " + Quoted(list) +
                                 " --exact --out " + Quoted(folder) + " --title programme");
    ASSERT_EQ(cut.exit_code, 0) << cut.output;
    const MediaFacts out = AnalyzeMedia(folder + "/programme.mkv");
    EXPECT_EQ(out.video_frames, 440 - 105);  // the break's 105 pictures are gone
    EXPECT_EQ(out.decode_errors, 0);
}

// Where the picture's clock starts, in seconds of its stream.
double VideoClockStartS(const std::string& path)
{
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk || !in.VideoStream())
        return 0;
    const AVStream* vs = in.VideoStream();
    return vs->start_time == AV_NOPTS_VALUE ? 0 : vs->start_time * av_q2d(vs->time_base);
}

// The break found and removed exactly from a broadcast recording in each of
// its forms: what is left is the programme's 335 pictures, in order, the
// ones at both sides of the seam the programme's own, decoding cleanly.
TEST_F(CliBreaks, AnExactRemovalLeavesExactlyTheProgramme)
{
    for (const char* name : {"breaks_h264.ts", "breaks_mpeg2.ts"}) {
        SCOPED_TRACE(name);
        const std::string source = FixturePath(name);
        const CliResult edl = RunShell(std::string(std::getenv("MORVANE_CLI")) + " detect --edl " + Quoted(source) +
                                       " 2>/dev/null");
        ASSERT_EQ(edl.exit_code, 0);
        const std::string title = std::string("programme_") + name[7];
        const CliResult cut = RunCli("cut " + Quoted(source) + " --remove-from " + Quoted(Write("found.edl", edl.output)) +
                                     " --exact --out " + Quoted(folder) + " --title " + title);
        ASSERT_EQ(cut.exit_code, 0) << cut.output;
        EXPECT_EQ(cut.output.find("no exact cut"), std::string::npos) << cut.output;
        const std::string output = folder + "/" + title + ".ts";
        const MediaFacts out = AnalyzeMedia(output);
        EXPECT_EQ(out.video_frames, 440 - 105);
        EXPECT_EQ(out.decode_errors, 0);
        EXPECT_LE(out.max_picture_gap_s, 0.041) << "a picture held at the seam";
        EXPECT_EQ(IndependentDecoderComplaints(output), "");
        // Output picture i is source picture i before the seam, i + 105 after it.
        const double from = VideoClockStartS(source), to = VideoClockStartS(output);
        for (const int i : {0, 184, 185, 334}) {
            const int j = i < 185 ? i : i + 105;
            const double psnr = LumaPsnr(LumaAt(source, from + j / 25.0, 180, 144), LumaAt(output, to + i / 25.0, 180, 144));
            EXPECT_GE(psnr, 32.0) << "picture " << i;
        }
    }
}

TEST_F(CliBreaks, ADirectRemovalSaysWhereEachPartRuns)
{
    const CliResult cut = RunCli("cut " + Quoted(FixturePath("breaks_h264.ts")) +
                                 " --remove 7.421-11.621 --out " + Quoted(folder));
    ASSERT_EQ(cut.exit_code, 0) << cut.output;
    // Key pictures every 2 s from the first picture, reached 22 ms into the file.
    EXPECT_NE(cut.output.find("part 1 runs 00:00:00.022-00:00:07.443"), std::string::npos) << cut.output;
    EXPECT_NE(cut.output.find("part 2 runs 00:00:10.022-00:00:16.022"), std::string::npos) << cut.output;
}

TEST_F(CliBreaks, WhatCannotBeRemovedIsRefusedInWords)
{
    const std::string ts = Quoted(FixturePath("breaks_h264.ts"));
    const std::string out = " --out " + Quoted(folder);
    struct Case {
        std::string arguments;
        int exit_code;
        const char* says;
    } cases[] = {
        {"cut " + ts + " --remove 0-5 --remove 4-30" + out, 1, "refused: the spans remove the whole file"},
        {"cut " + ts + " --remove 5-4" + out, 1, "span 1 ends at or before its start"},
        {"cut " + ts + " --span 1-2 --remove 3-4" + out, 2, "do not go together"},
        {"cut " + ts + " --remove-from " + Quoted(Write("bad.csv", "start,end\n1,2\n3,x\n")) + out, 1,
         "bad.csv cannot be used: line 3: a time is neither seconds nor hours:minutes:seconds"},
        {"cut " + ts + " --remove-from " + Quoted(folder + "/missing.edl") + out, 1, "the list cannot be read"},
        {"cut " + ts + " --remove 1:00" + out, 2, "--remove takes START-END"},
        {"detect", 2, "detect takes exactly one file"},
        {"detect " + Quoted(folder + "/none.ts"), 1, "no such file"},
    };
    for (const Case& c : cases) {
        const CliResult said = RunCli(c.arguments);
        EXPECT_EQ(said.exit_code, c.exit_code) << c.arguments << "\n" << said.output;
        EXPECT_NE(said.output.find(c.says), std::string::npos) << c.arguments << "\n" << said.output;
    }
}

}  // namespace
