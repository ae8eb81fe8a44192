// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs are read as single media files only: a playlist or file list is
// refused before it can open what it names (a FIFO would hang the job).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "conversion_job.h"
#include "input_facts.h"
#include "job_setup.h"
#include "media_checks.h"
#include "media_input.h"
#include "probe.h"

#include <chrono>
#include <thread>

#include <fcntl.h>

namespace {

// A read that waits on a FIFO would never end: the alarm ends the test.
class InputSafety : public ::testing::Test {
protected:
    void SetUp() override { alarm(240); }
    void TearDown() override { alarm(0); }
};

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

struct Playlist {
    const char* name;
    std::string text;  // "@" stands for the FIFO's path
};

TEST_F(InputSafety, PlaylistsAndFileListsNamingAFifoAreRefusedAtOnceByProbeAndCut)
{
    const std::string folder = MakeScratchFolder("playlists");
    const std::string fifo = folder + "/segment.ts";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string media = FixturePath("h264_aac.mp4");
    const Playlist playlists[] = {
        {"list.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n@\n#EXT-X-ENDLIST\n"},
        {"named.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n@\n#EXT-X-ENDLIST\n"},
        {"list.ffconcat", "ffconcat version 1.0\nfile '@'\n"},
        {"list.txt", "ffconcat version 1.0\nfile '" + media + "'\nfile '@'\n"},
        {"stream.sdp", "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\nm=video 5004 RTP/AVP 96\n"
                       "a=rtpmap:96 H264/90000\n"},
    };
    const std::string out = folder + "/out";
    std::filesystem::create_directory(out);
    for (const Playlist& list : playlists) {
        SCOPED_TRACE(list.name);
        std::string text = list.text;
        for (size_t at; (at = text.find('@')) != std::string::npos;)
            text.replace(at, 1, fifo);
        const std::string path = folder + "/" + list.name;
        WriteText(path, text);

        MediaInput in;
        EXPECT_EQ(OpenMediaInput(path.c_str(), in), kProbeNotSingleMedia);
        CliResult r = RunCli("probe " + Quoted(path));
        EXPECT_EQ(r.exit_code, 1) << r.output;
        EXPECT_NE(r.output.find("not a single media file"), std::string::npos) << r.output;
        r = RunCli("cut " + Quoted(path) + " --start 0 --end 1 --out " + Quoted(out));
        EXPECT_EQ(r.exit_code, 1) << r.output;
        EXPECT_NE(r.output.find("not a single media file"), std::string::npos) << r.output;
        EXPECT_TRUE(std::filesystem::is_empty(out));
    }
}

TEST_F(InputSafety, OnlyTheDemuxersOfSingleMediaFilesAreAllowed)
{
    for (const char* name : {"hls", "concat", "image2", "dash", "imf", "sdp", "rtsp", "vobsub"})
        EXPECT_FALSE(IsSingleMediaDemuxer(av_find_input_format(name))) << name;
    for (const char* name : {"mov", "matroska", "avi", "flv", "mpegts", "mpeg", "asf", "ogg", "nut", "rm"})
        EXPECT_TRUE(IsSingleMediaDemuxer(av_find_input_format(name))) << name;
    MediaInput in;
    EXPECT_EQ(OpenMediaInput(FixturePath("h264_aac.mp4").c_str(), in), kProbeOk);
}

// Writes the file's own bytes over it in place and puts its modification
// time back: same inode, size and time, yet its contents may differ.
void RewriteInPlace(const std::string& path)
{
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    // The change time moves by the kernel's clock tick, at least a millisecond.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, st.st_ino);
    ASSERT_EQ(after.st_size, st.st_size);
    ASSERT_EQ(NanosecondsOf(after.st_mtim), NanosecondsOf(st.st_mtim));
}

TEST_F(InputSafety, AFileRewrittenInPlaceWithItsTimeRestoredIsLookedAtAfresh)
{
    const std::string folder = MakeScratchFolder("rewritten");
    const std::string path = folder + "/in.mp4";
    std::filesystem::copy_file(FixturePath("h264_aac.mp4"), path);
    InputFacts facts;
    ASSERT_EQ(ReadInputFacts(path, &facts), kProbeOk);
    EXPECT_TRUE(FactsStillHold(facts, path));
    RewriteInPlace(path);
    EXPECT_FALSE(FactsStillHold(facts, path));
}

class RewrittenInput : public JobTest {};

// The file the probe kept open still shows the old contents' index: the job
// opens the file again instead.
TEST_F(RewrittenInput, AJobDoesNotReadTheKeptFileOfAnInputRewrittenSinceTheProbe)
{
    alarm(240);
    const std::string path = folder + "/in.mp4";
    std::filesystem::copy_file(FixturePath("h264_aac.mp4"), path);
    for (const bool rewrite : {false, true}) {
        job->probe_path = const_cast<char*>(path.c_str());
        ASSERT_EQ(ProbeMedia(job, ProbeKeeps::FileOpen), kProbeOk);
        job->probe_path = const_cast<char*>("");
        if (rewrite)
            RewriteInPlace(path);
        const long long before = MediaFileOpenCount();
        ASSERT_EQ(FillCutJob(job, path, "1", "3", {folder, "cut", ".mp4"}, DefaultCutChoice("k"), &output),
                  LaunchRefusal::None);
        Run(false);
        EXPECT_EQ(Status(0), kInputDone);
        const long long opens = MediaFileOpenCount() - before;
        if (rewrite)
            EXPECT_GT(opens, 0) << "the rewritten file is opened afresh";
        else
            EXPECT_EQ(opens, 0) << "the kept file is read";
    }
    alarm(0);
}

}  // namespace
