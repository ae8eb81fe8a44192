// SPDX-License-Identifier: GPL-3.0-or-later
// What the tool says about its files: what exists afterwards, and in the
// words of what was asked (spans, not files; stopped, not pending).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "media_checks.h"

namespace {

namespace fs = std::filesystem;

std::string FilesIn(const std::string& folder)
{
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder))
        names += entry.path().filename().string() + " ";
    return names;
}

TEST(CliWords, AnEmptyTitleTakesTheInputsName)
{
    const std::string folder = MakeScratchFolder("empty_title");
    for (const char* title : {"''", "'///'"}) {
        const CliResult r = RunCli("cut " + Quoted(FixturePath("h264_aac.mp4")) + " --start 0 --end 1 --out " +
                                   Quoted(folder) + " --title " + title);
        EXPECT_EQ(r.exit_code, 0) << r.output;
    }
    EXPECT_FALSE(fs::exists(folder + "/.mp4"));
    EXPECT_TRUE(fs::exists(folder + "/h264_aac.mp4")) << FilesIn(folder);
    EXPECT_TRUE(fs::exists(folder + "/h264_aac(0).mp4")) << FilesIn(folder);
}

TEST(CliWords, AThousandSpansAreRefusedAsSpans)
{
    const std::string folder = MakeScratchFolder("many_spans");
    std::string spans;
    const auto seconds = [](int ms) { return std::to_string(ms / 1000) + "." + std::to_string(1000 + ms % 1000).substr(1); };
    for (int i = 0; i < 1000; ++i)
        spans += " --span " + seconds(i * 4) + "-" + seconds(i * 4 + 2);
    const CliResult r = RunCli("cut " + Quoted(FixturePath("long_h264_aac.mp4")) + spans + " --separate --out " +
                               Quoted(folder));
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("at most 999 spans"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("files"), std::string::npos) << r.output;
    EXPECT_TRUE(fs::is_empty(folder)) << FilesIn(folder);
}

// A stop during the first input of a re-encoded join: the others are stopped.
TEST(CliWords, InputsAStopKeptTheJobFromReachingAreStopped)
{
    const std::string folder = MakeScratchFolder("stopped_words");
    const char* cli = std::getenv("MORVANE_CLI");
    std::string inputs;
    for (int i = 0; i < 4; ++i)
        inputs += " " + Quoted(FixturePath("long_h264_aac.mp4"));
    const std::string log = folder + "/log.txt";
    const CliResult r = RunShell("(" + Quoted(cli ? cli : "morvane-cli") + " join" + inputs + " --format 1 --out " +
                                 Quoted(folder) + " > " + Quoted(log) + " 2>&1 & p=$!; until grep -q progress " +
                                 Quoted(log) + "; do sleep 0.1; done; kill -INT $p; wait $p; echo exit=$?; cat " +
                                 Quoted(log) + ")");
    EXPECT_NE(r.output.find("input 4 stopped"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("pending"), std::string::npos) << r.output;
}

}  // namespace
