// SPDX-License-Identifier: GPL-3.0-or-later
// A join of many files keeps only a few open at once, and a process out of
// descriptors says so instead of blaming a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "media_checks.h"

namespace {

std::string Cli() { return std::getenv("MORVANE_CLI") ? std::getenv("MORVANE_CLI") : "morvane-cli"; }

// `count` copies of one tiny clip, f001.mp4 on, and the list of their names.
std::string ManyTinyFiles(const std::string& folder, int count)
{
    const std::string tiny = folder + "/tiny.mp4";
    EXPECT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=32x32:rate=10:duration=0.3 -f lavfi "
                       "-i sine=sample_rate=8000:duration=0.3 -c:v libx264 -preset ultrafast -c:a aac -ac 1 -b:a 16k " +
                       Quoted(tiny))
                  .exit_code,
              0);
    std::string names;
    for (int i = 1; i <= count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/f%03d.mp4", i);
        std::filesystem::copy_file(tiny, folder + name);
        names += " " + Quoted(folder + name);
    }
    return names;
}

TEST(ManyInputs, ThreeHundredFilesJoinUnderALimitOfSixtyFourOpenFiles)
{
    const std::string folder = MakeScratchFolder("three_hundred");
    const std::string files = ManyTinyFiles(folder, 300);
    const CliResult r = RunShell("prlimit --nofile=64:64 " + Cli() + " join" + files + " -o " +
                                 Quoted(folder + "/joined.mp4") + " 2>&1");
    ASSERT_EQ(r.exit_code, 0) << r.output.substr(r.output.size() > 2000 ? r.output.size() - 2000 : 0);
    EXPECT_NE(r.output.find("input 300 done"), std::string::npos);
    EXPECT_NEAR(AnalyzeMedia(folder + "/joined.mp4").VideoSeconds(), 90, 1);
}

// However few descriptors are left, the file is never called unreadable media.
TEST(ManyInputs, RunningOutOfDescriptorsIsNamedAsSuch)
{
    const std::string folder = MakeScratchFolder("descriptors");
    const std::string files = ManyTinyFiles(folder, 3);
    int refused = 0;
    for (int limit = 4; limit <= 10; ++limit) {
        SCOPED_TRACE(limit);
        const std::string out = folder + "/out" + std::to_string(limit) + ".mp4";
        const CliResult r = RunShell("prlimit --nofile=" + std::to_string(limit) + ":" + std::to_string(limit) + " " +
                                     Cli() + " join" + files + " -o " + Quoted(out) + " > " + Quoted(out + ".txt") +
                                     " 2>&1; echo $?; cat " + Quoted(out + ".txt"));
        if (r.output.rfind("0\n", 0) == 0 || r.output.rfind("127\n", 0) == 0)
            continue;  // enough for this job, or too few for the program to start
        ++refused;
        EXPECT_EQ(r.output.find("not a media file"), std::string::npos) << r.output;
        EXPECT_TRUE(r.output.find("too many files are open") != std::string::npos ||
                    r.output.find("Too many open files") != std::string::npos)
            << r.output;
    }
    EXPECT_GT(refused, 0) << "no limit tried was tight enough";
}

}  // namespace
