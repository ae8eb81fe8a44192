// SPDX-License-Identifier: GPL-3.0-or-later
// Every track of a file through a cut or a join: sound tracks, subtitles,
// attachments and chapters, read back with the engine's own listing and with
// the ffprobe program.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "conversion_job.h"
#include "input_route.h"
#include "job_door.h"
#include "job_file.h"
#include "job_setup.h"
#include "media_checks.h"
#include "reencode.h"
#include "tracks.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using Row = std::map<std::string, std::string>;

// ffprobe's compact output, one map per line ("section" names its kind).
std::vector<Row> Ffprobe(const std::string& arguments)
{
    std::vector<Row> rows;
    FILE* pipe = popen(("ffprobe -v error -of compact " + arguments).c_str(), "r");
    if (!pipe)
        return rows;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::stringstream fields(line);
        std::string field;
        Row row;
        std::getline(fields, field, '|');
        row["section"] = field;
        while (std::getline(fields, field, '|')) {
            const size_t eq = field.find('=');
            if (eq != std::string::npos)
                row[field.substr(0, eq)] = field.substr(eq + 1, field.find_last_not_of("\r\n") - eq);
        }
        rows.push_back(row);
    }
    pclose(pipe);
    return rows;
}

struct Output {
    std::vector<Row> streams, chapters;
    std::map<int, std::vector<std::pair<double, double>>> packets;  // per stream: start, end
    double End(int stream) const
    {
        double end = 0;
        if (packets.count(stream))
            for (const auto& p : packets.at(stream))
                end = std::max(end, p.second);
        return end;
    }
};

Output Read(const std::string& path)
{
    Output o;
    for (Row& r : Ffprobe("-show_entries stream=index,codec_type,codec_name:stream_tags=language,title:"
                          "stream_disposition=default,forced -show_chapters '" + path + "'")) {
        // A transport stream's streams are listed again under its program.
        if (r["section"] == "stream" && std::atoi(r["index"].c_str()) == static_cast<int>(o.streams.size()))
            o.streams.push_back(r);
        else if (r["section"] == "chapter")
            o.chapters.push_back(r);
    }
    for (Row& r : Ffprobe("-show_entries packet=stream_index,pts_time,duration_time '" + path + "'")) {
        const double start = std::atof(r["pts_time"].c_str());
        const double length = r["duration_time"] == "N/A" ? 0 : std::atof(r["duration_time"].c_str());
        o.packets[std::atoi(r["stream_index"].c_str())].push_back({start, start + length});
    }
    return o;
}

class Tracks : public JobTest {
protected:
    // A fresh direct cut (exact or not) or a join of the file with itself,
    // which must keep every track.
    void CopyKeepingEveryTrack(const char* file, const char* start, const char* end, bool exact, bool join)
    {
        TearDown();
        SetUp();
        EncodingChoice choice = join ? DefaultJoinChoice() : DefaultCutChoice("k");
        choice.direct = true;
        choice.exact = exact;
        if (join)
            Join({file, file}, choice);
        else
            Cut(file, start, end, choice, "cut", ".mkv");
        ASSERT_EQ(Status(0), kInputDone);
        EXPECT_TRUE(job->dropped_tracks.empty());
    }
};

constexpr double kFrame = 0.04;

// How each operation on tracks.mkv moves the source's times: where the
// output starts in the source, and how long it is.
struct Operation {
    const char* name;
    bool exact;
    bool join;
    double source_start;  // the source time at the output's 0
    double length;
};

}  // namespace

TEST_F(Tracks, DirectCutsAndJoinsKeepEverySoundSubtitleAttachmentAndChapter)
{
    const Operation operations[] = {
        {"direct cut", false, false, 8.0, 5.0},  // starts at the key picture before 9.5 s
        {"exact cut", true, false, 9.5, 5.0},
        {"direct join", false, true, 0.0, 40.0},
    };
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.name);
        ASSERT_NO_FATAL_FAILURE(
            CopyKeepingEveryTrack("tracks.mkv", "00:00:09.500", "00:00:14.500", op.exact, op.join));

        // Our own listing and ffprobe agree on every track and its facts.
        std::vector<TrackFacts> listed;
        ASSERT_TRUE(ListTracks(output.c_str(), &listed));
        Output o = Read(output);
        ASSERT_EQ(listed.size(), 6u);
        ASSERT_EQ(o.streams.size(), 6u);
        const char* kinds[] = {"video", "audio", "audio", "subtitle", "subtitle", "attachment"};
        const char* codecs[] = {"h264", "ac3", "aac", "subrip", "ass", "ttf"};
        const char* languages[] = {"", "eng", "deu", "eng", "deu", ""};
        for (size_t i = 0; i < 6; ++i) {
            Row s = o.streams[i];
            EXPECT_EQ(s["codec_type"], kinds[i]) << i;
            EXPECT_EQ(s["codec_name"], codecs[i]) << i;
            EXPECT_EQ(s["tag:language"], languages[i]) << i;
            EXPECT_EQ(listed[i].kind == AVMEDIA_TYPE_ATTACHMENT ? "attachment" : TrackKindName(listed[i].kind),
                      std::string(kinds[i]));
        }
        EXPECT_EQ(o.streams[1]["tag:title"], "English");
        EXPECT_EQ(o.streams[2]["tag:title"], "Deutsch");
        EXPECT_EQ(o.streams[1]["disposition:default"], "1");
        EXPECT_EQ(o.streams[2]["disposition:default"], "0");
        EXPECT_EQ(o.streams[4]["disposition:forced"], "1");
        EXPECT_TRUE(listed[1].main) << "the default sound stays the main one";

        // Every sound track lasts as long as the picture.
        EXPECT_NEAR(o.End(0), op.length, 3 * kFrame);
        EXPECT_NEAR(o.End(1), o.End(0), 0.1);
        EXPECT_NEAR(o.End(2), o.End(0), 0.1);

        // Subtitles at their source times less the output's start; one
        // shown across the start is kept, from the start on.
        std::vector<std::pair<double, double>> srt, ass;
        for (const auto& [from, to] : std::vector<std::pair<double, double>>{{1, 3.5}, {9, 12}, {15, 16}}) {
            for (double base = 0; base < 40; base += 20) {
                const double a = std::max(from + base - op.source_start, 0.0);
                const double b = std::min(to + base - op.source_start, op.length);
                if (b > a && (op.join || base == 0))
                    srt.push_back({a, b});
            }
        }
        for (const auto& [from, to] : std::vector<std::pair<double, double>>{{2, 4}, {9.5, 11}}) {
            for (double base = 0; base < 40; base += 20) {
                const double a = std::max(from + base - op.source_start, 0.0);
                const double b = std::min(to + base - op.source_start, op.length);
                if (b > a && (op.join || base == 0))
                    ass.push_back({a, b});
            }
        }
        std::sort(srt.begin(), srt.end());
        std::sort(ass.begin(), ass.end());
        for (const auto& [stream, expected] : {std::pair{3, srt}, std::pair{4, ass}}) {
            ASSERT_EQ(o.packets.count(stream) ? o.packets.at(stream).size() : 0, expected.size()) << stream;
            for (size_t k = 0; k < expected.size(); ++k) {
                EXPECT_NEAR(o.packets.at(stream)[k].first, expected[k].first, kFrame) << stream << " " << k;
                EXPECT_NEAR(o.packets.at(stream)[k].second, expected[k].second, kFrame) << stream << " " << k;
            }
        }

        // Chapters overlapping the span, clipped to it; a join repeats them.
        std::vector<double> starts;
        for (double base = 0; base < (op.join ? 40 : 20); base += 20)
            for (double c : {0.0, 10.0})
                if (c + base + 10 > op.source_start && c + base < op.source_start + op.length)
                    starts.push_back(std::max(c + base - op.source_start, 0.0));
        ASSERT_EQ(o.chapters.size(), starts.size());
        for (size_t k = 0; k < starts.size(); ++k)
            EXPECT_NEAR(std::atof(o.chapters[k]["start_time"].c_str()), starts[k], kFrame) << k;
        EXPECT_NEAR(std::atof(o.chapters.back()["end_time"].c_str()), op.length, 3 * kFrame);
    }
}

TEST_F(Tracks, MpegFilesKeepTheirSecondSoundSubtitlesAndChapters)
{
    struct Case {
        const char* name;
        const char* extension;
        const char* start;
        const char* end;
        size_t streams;  // our output; an MP4's chapters come with their own text track
        size_t chapters;
    } cases[] = {{"tracks.mp4", ".mp4", "00:00:09.000", "00:00:13.000", 5, 2},
                 {"tracks.ts", ".ts", "00:00:03.000", "00:00:07.000", 3, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Cut(c.name, c.start, c.end, DefaultCutChoice("k"), "cut", c.extension);
        ASSERT_EQ(Status(0), kInputDone);
        EXPECT_TRUE(job->dropped_tracks.empty());
        Output o = Read(output);
        ASSERT_EQ(o.streams.size(), c.streams);
        EXPECT_EQ(o.chapters.size(), c.chapters);
        Row second = o.streams[2];
        EXPECT_EQ(second["codec_type"], "audio");
        EXPECT_EQ(second["tag:language"], "deu");
        const double picture = o.End(0) - o.packets.at(0).front().first;
        EXPECT_NEAR(o.End(2) - o.packets.at(2).front().first, picture, 0.1);
    }
    // ffprobe lists the MP4's chapter text track once: the copy did not add a second.
    Output mp4 = Read(folder + "/cut.mp4");
    int data = 0;
    for (Row r : mp4.streams)
        data += r["codec_type"] == "data";
    EXPECT_LE(data, 1);
}

TEST_F(Tracks, WhatCannotBeKeptIsNamed)
{
    // MP4 takes no copied timecode track: the cut still runs and says why.
    Cut("timecode.mp4", "00:00:01.000", "00:00:04.000", DefaultCutChoice("k"));
    ASSERT_EQ(Status(0), kInputDone);
    ASSERT_EQ(job->dropped_tracks.size(), 1u);
    EXPECT_EQ(job->dropped_tracks[0].kind, AVMEDIA_TYPE_DATA);
    EXPECT_EQ(job->dropped_tracks[0].reason, DropReason::TimecodeNotCopied);
    EXPECT_NE(DescribeDroppedTrack(job->dropped_tracks[0]).find("tmcd"), std::string::npos);

    // The tool prints one line per track left out, saying what is true of it:
    // a re-encode keeps every sound and subtitle track; the spans of one
    // file leave out its tracks once, as tracks of the file, not as inputs.
    const struct {
        const char* fixture;
        const char* options;
        std::vector<const char*> said;
        const char* not_said;
    } cases[] = {
        {"timecode.mp4", "--start 1 --end 2", {"input 1, track 2 (data tmcd, eng): a timecode track cannot be copied into MP4"},
         "cannot hold it"},
        {"tracks.mkv", "--start 1 --end 2 --format 1",
         {"input 1, track 5 (attachment ttf): re-encoding keeps the main picture and every sound and subtitle track, "
          "no attachment"},
         "only the main picture"},
        {"tracks.mkv", "--span 1-2 --span 3-4 --format 2",
         {"left out of the output: track 3 (subtitle subrip, eng)", "left out of the output: track 5 (attachment ttf)"},
         "input 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        const CliResult cli = RunCli("cut '" + FixturePath(c.fixture) + "' " + c.options + " --out '" + folder + "'");
        EXPECT_EQ(cli.exit_code, 0) << cli.output;
        for (const char* said : c.said)
            EXPECT_NE(cli.output.find(said), std::string::npos) << cli.output;
        EXPECT_EQ(cli.output.find(c.not_said), std::string::npos) << cli.output;
    }
}

TEST_F(Tracks, ReencodingConvertsTextSubtitlesAndKeepsTheChapters)
{
    const struct {
        int format;
        const char* extension;
        const char* subtitles[2];
    } cases[] = {{1, ".mp4", {"mov_text", "mov_text"}}, {6, ".mkv", {"subrip", "ass"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        TearDown();
        SetUp();
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = false;
        ApplyFormatEntry(c.format, &choice);
        Cut("tracks.mkv", "00:00:09.500", "00:00:14.500", choice, "cut", c.extension);
        ASSERT_EQ(Status(0), kInputDone);
        Output o = Read(output);
        ASSERT_GE(o.streams.size(), 5u);
        // Both sound tracks, in source order, as long as the picture.
        EXPECT_EQ(o.streams[1]["codec_type"], "audio");
        EXPECT_EQ(o.streams[2]["codec_type"], "audio");
        EXPECT_EQ(o.streams[2]["tag:language"], "deu");
        if (c.format == 6) {
            EXPECT_EQ(o.streams[2]["tag:title"], "Deutsch");  // MP4 keeps no track titles
        }
        EXPECT_NEAR(o.End(1), o.End(0), 0.05);
        EXPECT_NEAR(o.End(2), o.End(0), 0.05);
        for (int k = 0; k < 2; ++k) {
            Row s = o.streams[3 + k];
            EXPECT_EQ(s["codec_type"], "subtitle");
            EXPECT_EQ(s["codec_name"], c.subtitles[k]);
            EXPECT_EQ(s["tag:language"], k == 0 ? "eng" : "deu");
        }
        EXPECT_EQ(o.streams[4]["disposition:forced"], "1");
        // "Across the cut" (9.0-12.0 s, 9.023-12.023 on the file's clock)
        // from the output's start on, which shows the picture on screen at
        // 9.5 s from its own start (9.463): to 12.023 - 9.463. MP4 fills the
        // gaps with empty samples.
        const auto& srt = o.packets[3];
        const auto across = std::find_if(srt.begin(), srt.end(), [](auto p) { return p.second - p.first > 2; });
        ASSERT_NE(across, srt.end());
        EXPECT_NEAR(across->first, 0.0, kFrame);
        EXPECT_NEAR(across->second, 2.56, kFrame / 4);
        ASSERT_EQ(o.chapters.size(), 2u);
        EXPECT_NEAR(std::atof(o.chapters[1]["start_time"].c_str()), 0.5, kFrame);
        // The attachment is named as left out.
        ASSERT_EQ(job->dropped_tracks.size(), 1u);
        EXPECT_EQ(job->dropped_tracks[0].kind, AVMEDIA_TYPE_ATTACHMENT);
        EXPECT_EQ(job->dropped_tracks[0].reason, DropReason::NotReencoded);
    }
}

TEST_F(Tracks, ReencodedJoinPairsSoundTracksByOrderAndFillsAMissingOneWithSilence)
{
    EncodingChoice choice = DefaultJoinChoice();
    ApplyFormatEntry(1, &choice);
    Join({"tracks.mp4", "h264_aac.mp4", "tracks.mp4"}, choice);  // the middle file has one sound track
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Status(i), kInputDone) << i;
    Output o = Read(output);
    ASSERT_GE(o.streams.size(), 3u);
    EXPECT_EQ(o.streams[2]["codec_type"], "audio");
    EXPECT_EQ(o.streams[2]["tag:language"], "deu");
    EXPECT_NEAR(o.End(2), o.End(0), 0.1);
    EXPECT_NEAR(o.End(1), o.End(0), 0.1);
    // The middle file's part of the second track is there, as silence.
    const auto& sound = o.packets[2];
    for (size_t k = 1; k < sound.size(); ++k)
        EXPECT_NEAR(sound[k].first, sound[k - 1].second, 0.001) << k;  // no hole in the track
}

// The launch's one look at the files: a first file that cannot be read leaves
// the tracks to the next that can, the codecs and the copy to the worker.
TEST_F(Tracks, OneLookAtTheFilesOfADirectJoinGivesEveryFinding)
{
    const std::string missing = folder + "/missing.mkv";
    const JoinMismatch found =
        CheckDirectJoinFiles({missing, FixturePath("tracks.mkv"), FixturePath("tracks_fewer.mkv")});
    EXPECT_TRUE(found.copy_possible);
    EXPECT_EQ(found.input, -1);
    ASSERT_TRUE(found.tracks_differ);
    EXPECT_EQ(found.tracks.file, 2u);
    EXPECT_EQ(found.tracks.kind, AVMEDIA_TYPE_SUBTITLE);

    const JoinMismatch same = CheckDirectJoinFiles({FixturePath("tracks.mkv"), FixturePath("tracks.mkv")});
    EXPECT_TRUE(same.copy_possible);
    EXPECT_FALSE(same.tracks_differ);
    EXPECT_EQ(same.input, -1);
}

TEST_F(Tracks, DirectJoinOfFilesWithOtherTracksIsRefusedNamingTheFile)
{
    LayoutDifference diff;
    EXPECT_FALSE(FindTrackLayoutDifference({FixturePath("tracks.mkv"), FixturePath("tracks.mkv")}, &diff));
    ASSERT_TRUE(FindTrackLayoutDifference(
        {FixturePath("tracks.mkv"), FixturePath("tracks.mkv"), FixturePath("tracks_fewer.mkv")}, &diff));
    EXPECT_EQ(diff.file, 2u);
    EXPECT_EQ(diff.kind, AVMEDIA_TYPE_SUBTITLE);
    EXPECT_EQ(diff.count, 1);
    EXPECT_EQ(diff.first_count, 2);

    std::vector<JoinRow> rows;
    for (const char* name : {"tracks.mkv", "tracks_fewer.mkv"})
        rows.push_back({FixturePath(name), 20000000, 320, 240, 25.0, {}});
    EXPECT_EQ(CheckJoinRows(rows, true), LaunchRefusal::TrackLayoutDiffers);
    EXPECT_EQ(CheckJoinRows(rows, false), LaunchRefusal::None);  // re-encoding joins them

    const CliResult cli = RunCli("join '" + FixturePath("tracks.mkv") + "' '" + FixturePath("tracks_fewer.mkv") +
                                 "' --out '" + folder + "'");
    EXPECT_EQ(cli.exit_code, 1);
    EXPECT_NE(cli.output.find("tracks_fewer.mkv differ"), std::string::npos) << cli.output;
    EXPECT_NE(cli.output.find("1 subtitle track(s), the first file has 2"), std::string::npos) << cli.output;
}

TEST_F(Tracks, TheMainSoundIsTheDefaultOneElseTheLast)
{
    const struct {
        const char* name;
        int main_audio;
        int channels;
    } cases[] = {{"commentary.mp4", 1, 2}, {"no_default.mkv", 2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult probe = RunCli("probe '" + FixturePath(c.name) + "'");
        EXPECT_NE(probe.output.find("channels=" + std::to_string(c.channels) + "\n"), std::string::npos)
            << probe.output;
        const size_t line = probe.output.find("stream=" + std::to_string(c.main_audio) + " kind=audio");
        ASSERT_NE(line, std::string::npos) << probe.output;
        EXPECT_NE(probe.output.substr(line, probe.output.find('\n', line) - line).find("main=1"), std::string::npos);
        std::vector<TrackFacts> tracks;
        ASSERT_TRUE(ListTracks(FixturePath(c.name).c_str(), &tracks));
        ASSERT_EQ(tracks.size(), 3u);
        EXPECT_TRUE(tracks[c.main_audio].main);
        EXPECT_FALSE(tracks[3 - c.main_audio].main);
    }
}

// Cues shown at the cut's start began before its key picture (10 s), where
// the reading of the cut does not reach: SubRip "Across the cut" 9-12 s, ASS
// "Zweite" 9.5-11 s. Each is kept from the output's start to its own end.
TEST_F(Tracks, CuesBegunBeforeTheCutsKeyPictureAreKeptFromItsStart)
{
    const struct {
        const char* name;
        const char* source;
        bool exact;
        int format;  // -1: direct
        double source_start;
        std::vector<double> ends;  // per subtitle track, stream 3 on
    } cases[] = {
        {"direct Matroska", "tracks.mkv", false, -1, 10.0, {2.0, 1.0}},
        {"exact Matroska", "tracks.mkv", true, -1, 10.5, {1.5, 0.5}},
        {"direct MP4", "tracks.mp4", false, -1, 10.0, {2.0}},
        // From the picture on screen at 10.5 s, shown from 10.463 on the
        // file's clock, where the cues end at 12.023 and 11.023.
        {"re-encoded Matroska", "tracks.mkv", false, 6, 10.5, {1.56, 0.56}},
        {"re-encoded MP4", "tracks.mkv", false, 1, 10.5, {1.56, 0.56}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = c.format < 0;
        choice.exact = c.exact;
        if (c.format >= 0)
            ApplyFormatEntry(c.format, &choice);
        const std::string extension = c.format == 1 || std::string(c.source) == "tracks.mp4" ? ".mp4" : ".mkv";
        Cut(c.source, "00:00:10.500", "00:00:13.500", choice, "cut", extension);
        ASSERT_EQ(Status(0), kInputDone);
        Output o = Read(output);
        for (size_t k = 0; k < c.ends.size(); ++k) {
            const int stream = 3 + static_cast<int>(k);
            if (!o.packets.count(stream)) {
                ADD_FAILURE() << "no cue in stream " << stream;
                continue;
            }
            const auto& first = o.packets.at(stream).front();
            EXPECT_NEAR(first.first, 0.0, kFrame) << stream;
            EXPECT_NEAR(first.second, c.ends[k], kFrame) << stream;
        }
    }
}

// Each kept track keeps its language as the container can write it
// (QuickTime: the codes of its own list) and its default and forced flags
// where the container holds them: Matroska every flag (both sound tracks
// marked default stay so); the MP4 family one default sound, as it plays
// every default one at once, and the forced flag in MP4 only (QuickTime's
// muxer writes none). Subtitles not marked default stay so. FLV holds one
// sound track: the other is named as left out and the job is done.
TEST_F(Tracks, ReencodingKeepsEachTracksLanguageAndFlagsWhereTheContainerHoldsThem)
{
    using Texts = std::vector<std::string>;
    const struct {
        int format;
        const char* extension;
        Texts sound_languages, sound_defaults, subtitle_languages, subtitle_forced;
        bool second_dropped;
    } cases[] = {
        {6, ".mkv", {"eng", "deu"}, {"1", "1"}, {"eng", "deu"}, {"0", "1"}, false},
        {1, ".mp4", {"eng", "deu"}, {"1", "0"}, {"eng", "deu"}, {"0", "1"}, false},
        {5, ".mov", {"eng", "ger"}, {"1", "0"}, {"eng", "ger"}, {"0", "0"}, false},
        {3, ".flv", {""}, {"0"}, {}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        TearDown();
        SetUp();
        const std::string both_default = folder + "/both_default.mkv";  // a fresh folder's
        ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -i " + Quoted(FixturePath("tracks.mkv")) +
                           " -map 0 -c copy -disposition:a:1 default " + Quoted(both_default))
                      .exit_code,
                  0);
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = false;
        ApplyFormatEntry(c.format, &choice);
        Cut(both_default.c_str(), "00:00:09.500", "00:00:11.500", choice, "cut", c.extension);
        ASSERT_EQ(Status(0), kInputDone);
        Texts sound_languages, sound_defaults, subtitle_languages, subtitle_forced;
        for (Row& s : Read(output).streams) {
            if (s["codec_type"] == "audio") {
                sound_languages.push_back(s["tag:language"]);
                sound_defaults.push_back(s["disposition:default"]);
            } else if (s["codec_type"] == "subtitle") {
                subtitle_languages.push_back(s["tag:language"]);
                subtitle_forced.push_back(s["disposition:forced"]);
                // The source's subtitles are not marked default: no player shows them unasked.
                EXPECT_EQ(s["disposition:default"], "0") << s["index"];
            }
        }
        EXPECT_EQ(sound_languages, c.sound_languages);
        EXPECT_EQ(sound_defaults, c.sound_defaults);
        EXPECT_EQ(subtitle_languages, c.subtitle_languages);
        EXPECT_EQ(subtitle_forced, c.subtitle_forced);
        const bool dropped = std::any_of(job->dropped_tracks.begin(), job->dropped_tracks.end(), [](const DroppedTrack& t) {
            return t.kind == AVMEDIA_TYPE_AUDIO && t.reason == DropReason::ContainerRefuses;
        });
        EXPECT_EQ(dropped, c.second_dropped);
    }
}

// Each stream gets its route once, when the input's output streams are set
// up: the packet loop only follows it. tracks.mkv has a picture, two sounds,
// SubRip, ASS and a font; timecode.mp4 a picture, a sound and a timecode.
TEST_F(Tracks, EveryStreamGetsItsRouteOnceAtSetUp)
{
    constexpr RouteKind C = RouteKind::Copy, R = RouteKind::Reencode, D = RouteKind::Drop;
    const struct {
        const char* fixture;
        int format;  // re-encode into FormatTable[format]; -1 copy
        std::vector<RouteKind> kinds;
        DropReason last;  // why the last stream is left out, where it is
    } cases[] = {
        {"tracks.mkv", -1, {C, C, C, C, C, C}, DropReason::ContainerRefuses},
        {"timecode.mp4", -1, {C, C, D}, DropReason::TimecodeNotCopied},
        {"tracks.mkv", 6, {R, R, R, C, C, D}, DropReason::NotReencoded},  // Matroska keeps the file's subtitles
        {"tracks.mkv", 1, {R, R, R, R, R, D}, DropReason::NotReencoded},  // MP4 takes them as mov_text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + std::to_string(c.format));
        EncodingChoice choice = DefaultCutChoice("k");
        if (c.format >= 0) {
            choice.direct = false;
            ApplyFormatEntry(c.format, &choice);
        }
        ReleaseReservedOutput(job);
        job->dropped_tracks.clear();
        const std::string extension = c.format >= 0 ? FormatExtension(FormatTable[c.format].text) : ".mp4";
        ASSERT_EQ(FillCutJob(job, FixturePath(c.fixture), "00:00:01.000", "00:00:03.000",
                             {folder, "routes", extension}, choice, &output),
                  LaunchRefusal::None);
        MarkJobStarting(job, false);
        const JobPlan plan = PlanJob(job);
        ASSERT_EQ(plan.mode, c.format >= 0 ? JobMode::Reencode : JobMode::Copy);
        const std::unique_ptr<InputRoute> route = MakeInputRoute(plan, ReportsOf(job));
        InputRun run;
        ASSERT_EQ(OpenMediaInput(FixturePath(c.fixture).c_str(), run.in, MediaInputOptions{}), kProbeOk);
        JobOutput out;
        out.file = TakeOutputFile(job, 0);
        out.ctx.reset(NewJobMuxer(route->OutputFormat(run.in.format.get(), output.c_str()), output.c_str(), &job->cancel_requested));
        ASSERT_TRUE(out.ctx);
        route->StartOutput(out);
        ASSERT_TRUE(route->SetUpStreams(out, run));

        const std::vector<StreamRoute> routes = RoutesOfStreams(run, route->MainKind(), job->dropped_tracks);
        ASSERT_EQ(routes.size(), c.kinds.size());
        for (size_t i = 0; i < routes.size(); ++i)
            EXPECT_EQ(routes[i].kind, c.kinds[i]) << "stream " << i;
        EXPECT_EQ(routes[0].role, StreamRole::Picture);
        EXPECT_EQ(routes[run.in.audio_index].role, StreamRole::Sound);
        EXPECT_EQ(routes.back().role, StreamRole::Other);
        if (routes.back().kind == D) {
            EXPECT_EQ(routes.back().reason, c.last);
        }
    }
}

TEST_F(Tracks, ACoverPictureStaysACoverNeverAPictureTrack)
{
    const struct {
        const char* name;
        bool exact;
        bool join;
    } cases[] = {{"direct cut", false, false}, {"exact cut", true, false}, {"direct join", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(CopyKeepingEveryTrack("cover.mkv", "00:00:01.500", "00:00:04.000", c.exact, c.join));
        // Matroska reads an attached picture back as a cover: one moving
        // picture track, and the cover with its type.
        const std::vector<Row> streams = Ffprobe("-show_entries stream=codec_type,codec_name:stream_tags=mimetype:"
                                                 "stream_disposition=attached_pic '" + output + "'");
        ASSERT_EQ(streams.size(), 3u);
        EXPECT_EQ(streams[0].at("disposition:attached_pic"), "0");
        EXPECT_EQ(streams[2].at("codec_name"), "png");
        EXPECT_EQ(streams[2].at("disposition:attached_pic"), "1");
        EXPECT_EQ(streams[2].at("tag:mimetype"), "image/png");
        // Its bytes are the source's.
        const std::string copy = folder + "/cover-copy.png";
        ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + output + "' -map 0:2 -c copy -frames:v 1 -update 1 '" + copy +
                               "' && cmp -s '" + copy + "' '" + FixturePath("cover.png") + "'").c_str()),
                  0);
    }
}

// A clip as an action camera writes it: picture, sound, a telemetry track
// (GoPro's gpmd: one packet of readings a second) and a timecode track. No
// ffmpeg program makes a gpmd track from a file, so its packets are written
// here into an MP4 of their own, then muxed with the rest by the ffmpeg
// program (which puts its timecode track last).
std::string MakeCameraClip(const std::string& folder, int seconds)
{
    const std::string telemetry = folder + "/telemetry.mp4", clip = folder + "/camera.mp4";
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", telemetry.c_str()) < 0)
        return "";
    OutputContextPtr ctx(raw);
    AVStream* st = avformat_new_stream(raw, nullptr);
    if (!st || avio_open(&raw->pb, telemetry.c_str(), AVIO_FLAG_WRITE) < 0)
        return "";
    st->codecpar->codec_type = AVMEDIA_TYPE_DATA;
    st->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
    st->codecpar->codec_tag = MKTAG('g', 'p', 'm', 'd');
    st->time_base = {1, 1000};
    bool ok = avformat_write_header(raw, nullptr) >= 0;
    for (int second = 0; ok && second < seconds; ++second) {
        PacketPtr pkt = MakePacket();
        ok = pkt && av_new_packet(pkt.get(), 64) == 0;
        if (!ok)
            break;
        std::fill(pkt->data, pkt->data + pkt->size, static_cast<uint8_t>(second));
        pkt->pts = pkt->dts = av_rescale_q(second, {1, 1}, st->time_base);
        pkt->duration = av_rescale_q(1, {1, 1}, st->time_base);
        ok = av_interleaved_write_frame(raw, pkt.get()) >= 0;
    }
    ok = ok && av_write_trailer(raw) >= 0;
    avio_closep(&raw->pb);
    const std::string length = std::to_string(seconds);
    ok = ok && RunShell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=" + length +
                        " -f lavfi -i sine=d=" + length + " -i " + Quoted(telemetry) +
                        " -map 0:v -map 1:a -map 2:d -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac"
                        " -c:d copy -timecode 01:00:00:00 " + Quoted(clip))
                           .exit_code == 0;
    return ok ? clip : "";
}

// Joined, each clip's telemetry goes on in the one telemetry track to the
// end; the timecode tracks, which a copy into MP4 cannot take, are named.
TEST_F(Tracks, AJoinOfCameraClipsKeepsTheirTelemetryToTheEnd)
{
    const std::string clip = MakeCameraClip(folder, 12);
    ASSERT_FALSE(clip.empty());
    std::vector<Row> streams = Ffprobe("-show_entries stream=codec_tag_string '" + clip + "'");
    ASSERT_GE(streams.size(), 3u);
    ASSERT_EQ(streams[2]["codec_tag_string"], "gpmd");
    EncodingChoice choice = DefaultJoinChoice();
    choice.direct = true;
    const std::string copy = folder + "/camera2.mp4";
    std::filesystem::copy_file(clip, copy);
    Join({clip, copy}, choice);
    ASSERT_EQ(Status(0), kInputDone);
    ASSERT_EQ(Status(1), kInputDone);
    Output o = Read(output);
    ASSERT_EQ(o.streams.size(), 3u);
    EXPECT_EQ(o.streams[2]["codec_type"], "data");
    EXPECT_NEAR(o.End(2), 24.0, 0.05);
    ASSERT_EQ(o.packets.at(2).size(), 24u);
    ASSERT_EQ(job->dropped_tracks.size(), 2u);
    for (const DroppedTrack& t : job->dropped_tracks) {
        EXPECT_EQ(t.stream, 3);
        EXPECT_EQ(t.codec, "tmcd");
    }
}

// A track the output leaves out shifts no other: the second file's tracks go
// on in the kept tracks of their kind and codec.
TEST_F(Tracks, ALeftOutTrackShiftsNoOtherInAJoin)
{
    EncodingChoice choice = DefaultJoinChoice();
    choice.direct = true;
    Join({"left_out_first.mp4", "left_out_first.mp4"}, choice);
    ASSERT_EQ(Status(0), kInputDone);
    ASSERT_EQ(Status(1), kInputDone);
    const Output o = Read(output);
    ASSERT_EQ(o.streams.size(), 3u);
    for (int stream = 0; stream < 3; ++stream)
        EXPECT_NEAR(o.End(stream), 8.0, 0.1) << stream;
    // Only the PCM and timecode tracks of each file are named as left out.
    ASSERT_EQ(job->dropped_tracks.size(), 4u);
    for (const DroppedTrack& t : job->dropped_tracks)
        EXPECT_TRUE(t.stream == 2 || t.stream == 4) << DescribeDroppedTrack(t);
}
