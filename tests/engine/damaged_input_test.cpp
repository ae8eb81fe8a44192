// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged inputs end as what they hold: a time far off is mended, never
// padded up to or written, and a job is never done on what it left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media_checks.h"

namespace {

constexpr int kTsPacket = 188;

// Adds `seconds` to the presentation time (and, with `dts`, the decoding
// time) of the `nth` picture's PES header of a transport stream.
bool ShiftPictureTime(const std::string& path, int nth, double seconds, bool dts)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto read = [&](size_t at) {
        return (int64_t{b[at] >> 1 & 7} << 30) | (int64_t{b[at + 1]} << 22) | (int64_t{b[at + 2] >> 1} << 15) |
               (int64_t{b[at + 3]} << 7) | (b[at + 4] >> 1);
    };
    const auto write = [&](size_t at, int64_t v) {
        v &= (int64_t{1} << 33) - 1;
        b[at] = static_cast<uint8_t>((b[at] & 0xf0) | (v >> 30 & 7) << 1 | 1);
        b[at + 1] = static_cast<uint8_t>(v >> 22);
        b[at + 2] = static_cast<uint8_t>((v >> 15 & 0x7f) << 1 | 1);
        b[at + 3] = static_cast<uint8_t>(v >> 7);
        b[at + 4] = static_cast<uint8_t>((v & 0x7f) << 1 | 1);
    };
    const auto ticks = static_cast<int64_t>(seconds * 90000);
    int seen = 0;
    for (size_t off = 0; off + kTsPacket <= b.size(); off += kTsPacket) {
        if (b[off] != 0x47 || !(b[off + 1] & 0x40))
            continue;
        size_t i = off + 4 + ((b[off + 3] & 0x20) ? 1 + b[off + 4] : 0);
        if (i + 19 > off + kTsPacket || b[i] || b[i + 1] || b[i + 2] != 1 || b[i + 3] != 0xe0 || ++seen != nth)
            continue;
        write(i + 9, read(i + 9) + ticks);
        if (dts && (b[i + 7] & 0x40))
            write(i + 14, read(i + 14) + ticks);
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()),
                                                                      static_cast<std::streamsize>(b.size()));
        return true;
    }
    return false;
}

double DeclaredSeconds(const std::string& path)
{
    return std::atof(CommandOutput("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path)).c_str());
}

// The tool, ended by force should it hang.
CliResult RunCliWithin(int seconds, const std::string& arguments)
{
    const char* cli = std::getenv("MORVANE_CLI");
    return RunShell("timeout " + std::to_string(seconds) + " " + std::string(cli ? cli : "morvane-cli") + " " +
                    arguments + " 2>&1");
}

class DamagedTimes : public ::testing::TestWithParam<bool> {};

struct TimedJob {
    const char* name;
    std::string arguments;  // "@" stands for the damaged file
    double seconds;         // what the output holds
};

// One picture stamped 71,586 s ahead in the middle of a 12 s recording.
TEST_P(DamagedTimes, APictureTimeFarAheadIsMendedInEveryKindOfJob)
{
    const bool dts_too = GetParam();
    const std::string folder = MakeScratchFolder(dts_too ? "far_ahead_dts" : "far_ahead_pts");
    const std::string good = folder + "/good.ts";
    const std::string bad = folder + "/bad.ts";
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=12 "
                       "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=12 -c:v libx264 -preset ultrafast "
                       "-g 25 -bf 2 -c:a aac -b:a 48k " + Quoted(good) + " && cp " + Quoted(good) + " " + Quoted(bad))
                  .exit_code,
              0);
    ASSERT_TRUE(ShiftPictureTime(bad, 100, 71586, dts_too));
    const TimedJob jobs[] = {
        {"cut", "cut @ --start 0 --end 8", 8},
        {"exact", "cut @ --start 2.5 --end 8 --exact", 5.5},
        {"join", "join @ " + Quoted(good), 24},
        {"reencoded", "join @ " + Quoted(good) + " --format 1 --size 160*120 --fps '25.0 fps'", 24},
    };
    for (const TimedJob& j : jobs) {
        SCOPED_TRACE(j.name);
        std::string arguments = j.arguments;
        arguments.replace(arguments.find('@'), 1, Quoted(bad));
        const std::string out = folder + "/" + j.name;
        const CliResult r = RunCliWithin(300, arguments + " -o " + Quoted(out + (j.name[0] == 'r' ? ".mp4" : ".ts")));
        ASSERT_EQ(r.exit_code, 0) << r.output;
        const std::string path = out + (j.name[0] == 'r' ? ".mp4" : ".ts");
        EXPECT_NEAR(DeclaredSeconds(path), j.seconds, 0.3);
        const MediaFacts facts = AnalyzeMedia(path);
        EXPECT_NEAR(facts.VideoSeconds(), j.seconds, 0.3);
        EXPECT_LT(facts.max_picture_gap_s, 0.1) << "no picture held over a gap";
        EXPECT_NEAR(facts.audio_played_s, j.seconds, 0.3) << "no silence padded";
    }
}

INSTANTIATE_TEST_SUITE_P(PresentationAndDecodingTime, DamagedTimes, ::testing::Values(false, true));

std::vector<uint8_t> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& b)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

size_t Find(const std::vector<uint8_t>& b, const std::string& what)
{
    return static_cast<size_t>(std::search(b.begin(), b.end(), what.begin(), what.end()) - b.begin());
}

// The 111th chunk offset of the first `stco` box (one picture a chunk: the
// picture at 4.4 s) pointing past the file's end.
void PointOneChunkNowhere(const std::string&, std::vector<uint8_t>& b)
{
    const size_t at = Find(b, "stco") + 12 + 4 * 110;
    b[at] = 0x7f;
    b[at + 1] = 0xff;
}

// Four bytes out of the first cluster, where the block after its key
// picture begins: the demuxer loses its way to the next cluster, and with it
// every picture of the first second but the first.
void CutIntoFirstCluster(const std::string& path, std::vector<uint8_t>& b)
{
    const std::string said = CommandOutput("ffprobe -v error -select_streams v -read_intervals %+#1 "
                                           "-show_entries packet=pos,size -of default=nw=1 " + Quoted(path));
    const long pos = std::atol(said.c_str() + said.find("pos=") + 4);
    const long size = std::atol(said.c_str() + said.find("size=") + 5);
    const auto at = b.begin() + pos + size;
    b.erase(at, at + 4);
}

struct DamagedSpans {
    const char* name;
    void (*damage)(const std::string& source, std::vector<uint8_t>&);
    std::vector<std::string> statuses;  // of spans 1-2, 4-5 and 7 to the end
};

// A span whose pictures the file has lost fails as damaged, never done on
// the few pictures it got; the spans around it, and every span of the same
// file undamaged (the last one running to its end), are done.
TEST(DamagedWithinTheCut, ASpanMissingItsPicturesFailsAndTheOthersAreDone)
{
    const std::string folder = MakeScratchFolder("damaged_within");
    const std::string mp4 = folder + "/source.mp4";
    const std::string webm = folder + "/source.webm";
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=10 "
                       "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=10 -c:v libx264 -preset ultrafast "
                       "-g 25 -c:a aac -b:a 48k " + Quoted(mp4) + " && ffmpeg -nostdin -v error -y -i " + Quoted(mp4) +
                       " -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 25 -c:a libopus " + Quoted(webm))
                  .exit_code,
              0);
    const DamagedSpans cases[] = {
        {"source.mp4", nullptr, {"done", "done", "done"}},
        {"source.webm", nullptr, {"done", "done", "done"}},
        {"stco.mp4", PointOneChunkNowhere, {"done", "failed", "done"}},
        {"cluster.webm", CutIntoFirstCluster, {"failed", "done", "done"}},
    };
    for (const DamagedSpans& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = folder + "/" + c.name;
        if (c.damage) {
            const std::string& source = c.name[0] == 's' ? mp4 : webm;
            std::vector<uint8_t> b = Bytes(source);
            c.damage(source, b);
            WriteBytes(input, b);
        }
        const std::string out = folder + "/out_" + std::string(c.name).substr(0, 4);
        const CliResult r = RunCliWithin(300, "cut " + Quoted(input) + " --span 1-2 --span 4-5 --span 7-10 --separate --out " +
                                                  Quoted(folder) + " --title " + Quoted(out.substr(folder.size() + 1)));
        for (int i = 0; i < 3; ++i)
            EXPECT_NE(r.output.find("span " + std::to_string(i + 1) + " " + c.statuses[i]), std::string::npos)
                << r.output;
        const bool damaged = c.damage != nullptr;
        EXPECT_EQ(r.exit_code, damaged ? 1 : 0);
        EXPECT_EQ(r.output.find("the file is damaged within the cut") != std::string::npos, damaged) << r.output;
    }
}

// Found by the mutation campaign: the middle of an M4A's sound overwritten,
// so that most of a re-encoded cut's packets do not decode; it wrote 1.3 s
// of a 2 s cut and said done.
TEST(DamagedWithinTheCut, SoundThatMostlyFailsToDecodeFailsAReencodedCut)
{
    const std::string folder = MakeScratchFolder("undecodable_sound");
    const std::string m4a = folder + "/sound.m4a";
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 "
                       "-c:a aac -b:a 32k " + Quoted(m4a)).exit_code,
              0);
    std::vector<uint8_t> b = Bytes(m4a);
    uint32_t x = 12345;  // a fixed sequence: the same damage every run
    for (size_t i = b.size() * 3 / 10; i < b.size() * 7 / 10; ++i) {
        x = (x * 1103515245u + 12345u) & 0x7fffffffu;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
    WriteBytes(m4a, b);
    const CliResult r = RunCliWithin(300, "cut " + Quoted(m4a) + " --start 1 --end 3 --format 2 -o " +
                                              Quoted(folder + "/cut.avi"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("the file is damaged within the cut"), std::string::npos) << r.output;
}

// Found by the mutation campaign, exact cuts of files with a few bytes gone:
// a program stream whose pictures then share a decoding time inside the
// copied part (it read a time it did not have and blamed the output's
// codecs), and a Matroska file whose first second of pictures is lost though
// the file goes on (it wrote the half second left and said done).
TEST(DamagedWithinTheCut, AnExactCutOfPicturesTheFileHasLostSaysTheFileIsDamaged)
{
    struct Case {
        const char* name;
        const char* codecs;
        size_t gone_at, gone;
        const char* span;
    };
    const Case cases[] = {
        {"in.mpg", "-c:v mpeg2video -g 10 -bf 2 -c:a mp2 -b:a 64k -f vob", 37473, 4, "--start 0.5 --end 2.0"},
        {"in.mkv", "-c:v libx264 -preset ultrafast -g 10 -c:a libvorbis -b:a 48k", 4463, 16, "--start 0 --end 1.5"},
    };
    const std::string folder = MakeScratchFolder("exact_pictures_lost");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = folder + "/" + c.name;
        ASSERT_EQ(RunShell(std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=96x64:rate=10:duration=4 "
                                       "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 ") +
                           c.codecs + " " + Quoted(in)).exit_code,
                  0);
        std::vector<uint8_t> b = Bytes(in);
        ASSERT_GT(b.size(), c.gone_at + c.gone);
        b.erase(b.begin() + static_cast<long>(c.gone_at), b.begin() + static_cast<long>(c.gone_at + c.gone));
        WriteBytes(in, b);
        const CliResult r = RunCliWithin(300, "cut " + Quoted(in) + " " + c.span + " --exact -o " +
                                                  Quoted(in + ".cut" + in.substr(in.rfind('.'))));
        EXPECT_EQ(r.exit_code, 1) << r.output;
        EXPECT_NE(r.output.find("the file is damaged within the cut"), std::string::npos) << r.output;
    }
}

}  // namespace
