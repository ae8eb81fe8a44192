// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts and joins of files whose clocks, rates and seams are as recorders,
// phones and AVI tools write them: what a player shows must match the span
// asked for, and the sound must stay with the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "av_handles.h"
#include "conversion_job.h"
#include "job_setup.h"
#include "library_log.h"
#include "media_checks.h"

namespace {

// The first picture of `a` is the same as the first of `b`.
bool SameFirstPicture(const std::string& a, const std::string& b)
{
    const std::string compare = CommandOutput("ffmpeg -hide_banner -nostdin -i " + Quoted(a) + " -i " + Quoted(b) +
                                           " -lavfi '[0:v][1:v]psnr' -frames:v 1 -f null -");
    return compare.find("average:inf") != std::string::npos;
}

// The container's title and recording time and the sound's language.
struct Facts {
    std::string title, creation_time, language;
};

std::string Tag(const AVDictionary* d, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
    return e ? e->value : "";
}

Facts ReadFacts(const std::string& path)
{
    Facts facts;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0)
        return facts;
    InputContextPtr ctx(raw);
    facts.title = Tag(raw->metadata, "title");
    facts.creation_time = Tag(raw->metadata, "creation_time");
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (raw->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            facts.language = Tag(raw->streams[i]->metadata, "language");
    }
    return facts;
}

EncodingChoice Reencoded(int entry)
{
    EncodingChoice c = DefaultCutChoice("keep");
    c.direct = false;
    ApplyFormatEntry(entry, &c);
    return c;
}

class DeviceTiming : public JobTest {};

}  // namespace

// The recording's clock starts at 1.47 s and its first key picture's decoding
// time lies before that: a cut from 1 s must still begin with that picture.
TEST_F(DeviceTiming, ACutOfARecordingWhoseClockStartsLateBeginsAtItsFirstKeyPicture)
{
    CutDirect("broadcast.ts", "00:00:01.000", "00:00:03.000");
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_TRUE(SameFirstPicture(output, FixturePath("broadcast.ts")));
    EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.25);
    EXPECT_NEAR(f.audio_start_s, f.video_start_s, 0.05);
}

// Direct cuts end at their span whatever the stream says its rate is.
TEST_F(DeviceTiming, DirectCutsOfVariableRateClipsEndAtTheirSpan)
{
    struct Case {
        const char* name;
        const char* start;
        const char* end;
        double seconds;  // from the key picture at 0 s
        double reordered;  // pictures a cut may run past its end to complete a reordered group
    };
    const Case cases[] = {
        {"vfr_drop.mp4", "00:00:01.000", "00:00:03.500", 2.5, 0.4},  // 30, then 10 pictures a second
        {"vfr90k.mp4", "00:00:01.000", "00:00:04.000", 3.0, 0.15},  // says 90000 a second
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CutDirect(c.name, c.start, c.end);
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.decode_errors, 0);
        EXPECT_GE(f.VideoSeconds(), c.seconds - 0.05);
        EXPECT_LE(f.VideoSeconds(), c.seconds + c.reordered);
    }
}

// Re-encoded at the source's rate, a clip that says 90000 pictures a second
// keeps its real 30.
TEST_F(DeviceTiming, AReencodeAtTheSourcesRateKeepsTheRealPictureCount)
{
    Cut("vfr90k.mp4", "00:00:00.000", "00:00:09.400", Reencoded(1));
    ASSERT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.video_frames, 282, 3);
    EXPECT_NEAR(f.VideoSeconds(), 9.4, 0.1);
}

// Joined copies play their sound straight through as long as their pictures:
// MP4 clips whose edit list hides the end of the last AAC packet, and AVI
// pieces whose sound is a count of MP3 packets a little shorter than the
// picture. Within one sound packet after any number of seams.
TEST_F(DeviceTiming, SoundOfJoinedCopiesEndsWithTheirPictureAfterManySeams)
{
    struct Case {
        const char* name;
        int copies;
        double packet_s;  // one sound packet
    };
    const Case cases[] = {{"shortest_aac.mp4", 12, 1024 / 48000.0}, {"piece.avi", 6, 1152 / 44100.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JoinDirect(std::vector<std::string>(c.copies, c.name));
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.decode_errors, 0);
        EXPECT_NEAR(f.VideoSeconds(), c.copies * AnalyzeMedia(FixturePath(c.name)).VideoSeconds(), 0.01);
        EXPECT_NEAR(f.audio_played_s, f.VideoSeconds(), c.packet_s);
    }
}

// An old phone's H.263 says 12:11 pixels, its 3GP box 1:1: copies keep what
// the container says instead of being refused by the muxer.
TEST_F(DeviceTiming, OldPhoneH263IsCutAndJoinedWithTheContainersAspect)
{
    CutDirect("h263.3gp", "00:00:01.000", "00:00:03.000");
    const MediaFacts cut = AnalyzeMedia(output);
    EXPECT_EQ(cut.video_codec, AV_CODEC_ID_H263);
    EXPECT_EQ(cut.decode_errors, 0);
    EXPECT_NEAR(cut.VideoSeconds(), 2.0, 0.1);
    const double source_aspect = AnalyzeMedia(FixturePath("h263.3gp")).display_aspect;
    EXPECT_NEAR(cut.display_aspect, source_aspect, 0.01);

    JoinDirect({"h263.3gp", "h263.3gp"});
    const MediaFacts joined = AnalyzeMedia(output);
    EXPECT_EQ(joined.decode_errors, 0);
    EXPECT_NEAR(joined.VideoSeconds(), 8.0, 0.1);
    EXPECT_NEAR(joined.display_aspect, source_aspect, 0.01);
}

// The picture starts 0.72 s after the sound: an exact cut from 0.3 s keeps
// the sound from 0.3 s and shows the first picture 0.42 s in.
TEST_F(DeviceTiming, AnExactCutKeepsTheSoundBeforeALateFirstPicture)
{
    EncodingChoice choice = DefaultCutChoice("k");
    choice.exact = true;
    Cut("late_picture.mp4", "00:00:00.300", "00:00:03.000", choice);
    ASSERT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.audio_start_s, 0.0, 0.03);
    EXPECT_NEAR(f.audio_end_s - f.audio_start_s, 2.7, 0.03);
    EXPECT_NEAR(f.video_start_s, 0.42, 0.02);
    EXPECT_NEAR(f.video_end_s, 2.7, 0.02);
}

// Re-encoded outputs keep the sound's language, the title and the recording
// time where their container holds them, as copies do.
TEST_F(DeviceTiming, ReencodedOutputsKeepLanguageTitleAndRecordingTime)
{
    struct Case {
        int entry;
        const char* extension;
    };
    for (const Case& c : {Case{1, ".mp4"}, Case{6, ".mkv"}}) {
        SCOPED_TRACE(c.extension);
        Cut("phone_portrait.mp4", "00:00:00.000", "00:00:01.000", Reencoded(c.entry), "facts", c.extension);
        ASSERT_EQ(Status(0), kInputDone);
        const Facts facts = ReadFacts(output);
        EXPECT_EQ(facts.title, "Harbour walk");
        EXPECT_EQ(facts.creation_time.substr(0, 19), "2024-05-01T10:00:00");
        EXPECT_EQ(facts.language, "deu");
    }
}

// The muxer's "buffer underflow" on a dense MPEG-2 cut is kept for a failure
// report, not printed by a job that succeeds.
TEST(LibraryMessages, ASuccessfulJobPrintsNoneAndAFailureCanShowThem)
{
    const std::string folder = MakeScratchFolder("library_messages");
    const CliResult cut = RunCli("cut '" + FixturePath("dense.mpg") +
                                 "' --start 00:00:01.000 --end 00:00:02.500 --out '" + folder + "'");
    EXPECT_EQ(cut.exit_code, 0) << cut.output;
    EXPECT_EQ(cut.output.find("underflow"), std::string::npos) << cut.output;

    const std::string log = folder + "/library.log";
    KeepLibraryMessages(log);
    TakeLibraryMessages();
    av_log(nullptr, AV_LOG_ERROR, "a muxer complains\n");
    av_log(nullptr, AV_LOG_INFO, "chatter\n");
    EXPECT_EQ(TakeLibraryMessages(), "a muxer complains\n");
    EXPECT_EQ(TakeLibraryMessages(), "");
    FILE* f = std::fopen(log.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[64] = {};
    EXPECT_NE(std::fgets(line, sizeof line, f), nullptr);
    std::fclose(f);
    EXPECT_STREQ(line, "a muxer complains\n");
}

// A re-encoded join of a 4:3, a 16:9 and an upright phone clip into 4:3
// keeps each one's shape: the picture fills what its shape allows, between
// black bars, as ffmpeg's scale then pad gives it.
TEST_F(DeviceTiming, AReencodedJoinKeepsEachInputsShapeBetweenBlackBars)
{
    Join({"h264_aac_b.mp4", "mono48k.mkv", "phone_portrait.mp4"}, DefaultJoinChoice());
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Status(i), kInputDone) << i;
    struct Case {
        double at_s;
        const char* picture;  // width:height:x:y of what is not black
    };
    const Case cases[] = {{2.0, "320:240:0:0"}, {5.0, "320:180:0:30"}, {8.0, "180:240:70:0"}};
    for (const Case& c : cases) {
        const std::string detected = CommandOutput("ffmpeg -hide_banner -nostdin -ss " + std::to_string(c.at_s) +
                                                " -i " + Quoted(output) +
                                                " -frames:v 3 -vf cropdetect=limit=24:round=2:reset=0 -f null -");
        const size_t last = detected.rfind("crop=");
        ASSERT_NE(last, std::string::npos) << detected;
        EXPECT_EQ(detected.substr(last + 5, detected.find_first_not_of("0123456789:", last + 5) - last - 5),
                  c.picture)
            << c.at_s;
    }
}

// An exact cut that can copy nothing says so before it starts.
TEST(ExactCutNotice, TheToolSaysSoWhenTheWholeSpanIsReencoded)
{
    struct Case {
        const char* name;
        const char* start;
        const char* end;
        bool whole;
    };
    const Case cases[] = {
        {"exact_h264_1080.mp4", "00:00:00.500", "00:00:01.500", true},   // no key picture inside
        {"exact_h264_open.mp4", "00:00:00.500", "00:00:04.500", true},   // open-GOP recovery points only
        {"exact_h264_1080.mp4", "00:00:00.500", "00:00:04.500", false},  // a key picture at 2 s
    };
    const std::string folder = MakeScratchFolder("exact_notice");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.start + "-" + c.end);
        const CliResult r = RunCli("cut '" + FixturePath(c.name) + "' --start " + c.start + " --end " + c.end +
                                   " --out '" + folder + "' --exact");
        EXPECT_EQ(r.exit_code, 0) << r.output;
        EXPECT_EQ(r.output.find("all of it is re-encoded") != std::string::npos, c.whole) << r.output;
    }
}

// The re-encoded ends of an exact cut of a 2 Mbit/s HEVC clip spend about
// what the source spends, and their parameter sets name the tier its 'hvcC'
// names (the encoder's own choice is the high tier).
TEST_F(DeviceTiming, AnExactCutsReencodedEndsKeepTheSourcesRateAndTier)
{
    EncodingChoice choice = DefaultCutChoice("k");
    choice.exact = true;
    Cut("hevc1080.mp4", "00:00:00.500", "00:00:03.500", choice);
    ASSERT_EQ(Status(0), kInputDone);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.VideoSeconds(), 3.0, 0.05);
    const double source_bits = 8.0 * static_cast<double>(std::filesystem::file_size(FixturePath("hevc1080.mp4"))) / 4.0;
    const double cut_bits = 8.0 * static_cast<double>(std::filesystem::file_size(output)) / 3.0;
    EXPECT_LT(cut_bits, 2.5 * source_bits);
    const std::string headers = CommandOutput("ffmpeg -hide_banner -nostdin -i " + Quoted(output) +
                                           " -c:v copy -bsf:v trace_headers -frames:v 40 -f null -");
    int tiers = 0;
    for (size_t at = headers.find("general_tier_flag"); at != std::string::npos;
         at = headers.find("general_tier_flag", at + 1)) {
        const std::string line = headers.substr(at, headers.find('\n', at) - at);
        EXPECT_EQ(line.substr(line.size() - 3), "= 0") << line;  // main tier, as in the source's 'hvcC'
        ++tiers;
    }
    EXPECT_GE(tiers, 2) << headers.substr(0, 400);
}
