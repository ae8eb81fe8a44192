// SPDX-License-Identifier: GPL-3.0-or-later
// Direct cuts and joins of files made the way cameras, phones, recorders and
// download tools make them: what a player shows must match the source, and
// where the ffmpeg program's own copy differs, ours must be the better one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "av_handles.h"
#include "conversion_job.h"
#include "job_setup.h"
#include "media_checks.h"
#include "container_rules.h"
#include "stream_copy.h"

extern "C" {
#include <libavutil/display.h>
}

namespace {

// Pictures a cut may run past its end to complete a group of reordered ones.
constexpr int kMaxReordered = 4;

class DeviceFile : public JobTest {};


// What an independent decoder says about the file, warnings included.
std::string DecoderComplaints(const std::string& path)
{
    return CommandOutput("ffmpeg -hide_banner -nostdin -v warning -i " + Quoted(path) + " -f null -");
}

// The ffmpeg program's direct join of the same files, by its concat demuxer.
std::string FfmpegJoin(const std::vector<std::string>& names, const std::string& folder)
{
    const std::string list = folder + "/list.txt";
    FILE* f = std::fopen(list.c_str(), "w");
    for (const std::string& n : names)
        std::fprintf(f, "file '%s'\n", FixturePath(n).c_str());
    std::fclose(f);
    const std::string out = folder + "/ffmpeg_join" + FileExtensionWithDot(names[0]);
    CommandOutput("ffmpeg -nostdin -y -v error -f concat -safe 0 -i " + Quoted(list) + " -c copy " + Quoted(out));
    return out;
}

struct CopiedFacts {
    std::string codec_tag;
    AVRational sample_aspect{0, 1};
    double rotation = 0;
    std::string language, title, creation_time, format;
};

std::string Tag(const AVDictionary* d, const char* key)
{
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
    return e ? e->value : "";
}

CopiedFacts ReadCopiedFacts(const std::string& path)
{
    CopiedFacts facts;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0)
        return facts;
    InputContextPtr ctx(raw);
    avformat_find_stream_info(raw, nullptr);
    facts.format = raw->iformat->name;
    facts.title = Tag(raw->metadata, "title");
    facts.creation_time = Tag(raw->metadata, "creation_time");
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* st = raw->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
            av_fourcc_make_string(tag, st->codecpar->codec_tag);
            facts.codec_tag = tag;
            facts.sample_aspect = av_guess_sample_aspect_ratio(raw, const_cast<AVStream*>(st), nullptr);
            if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
                facts.rotation = av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
        } else if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            facts.language = Tag(st->metadata, "language");
        }
    }
    return facts;
}

}  // namespace

// Matroska gives the first pictures of a B-frame stream no decoding time.
TEST_F(DeviceFile, MatroskaBFramesPlayInTheSourcesOrderAndSpacing)
{
    for (const bool join : {false, true}) {
        SCOPED_TRACE(join ? "join" : "cut");
        if (join)
            JoinDirect({"bframes.mkv", "bframes.mkv"});
        else
            CutDirect("bframes.mkv", "00:00:00.000", "00:00:03.000");
        const MediaFacts f = AnalyzeMedia(output);
        EXPECT_EQ(f.decode_errors, 0);
        EXPECT_EQ(f.pictures_out_of_order, 0);
        EXPECT_NEAR(f.min_picture_gap_s, 0.04, 0.0015);
        EXPECT_NEAR(f.max_picture_gap_s, 0.04, 0.0015);
        // A cut ends once no picture reordered past its end leaves a hole.
        EXPECT_GE(f.video_frames, join ? 200 : 75);
        EXPECT_LE(f.video_frames, join ? 200 : 75 + kMaxReordered);
        EXPECT_EQ(DecoderComplaints(output), "");
    }
}

// An edit list hides the first 1.3 s of a 6 s clip: 117 of its 150 pictures
// are shown, 4.68 s.
TEST_F(DeviceFile, AnEditListsHiddenLeadInStaysHiddenInCutsAndJoins)
{
    CutDirect("editlist.mp4", "00:00:00.000", "00:00:03.000");
    MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.video_start_s, 0.0, 0.001);
    EXPECT_GE(f.video_frames, 75);
    EXPECT_LE(f.video_frames, 75 + kMaxReordered) << "the lead-in's pictures are shown";
    EXPECT_NEAR(f.VideoSeconds(), f.video_frames * 0.04, 0.001);

    const std::vector<std::string> three(3, "editlist.mp4");
    JoinDirect(three);
    f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_NEAR(f.VideoSeconds(), 3 * 4.68, 0.01);
    EXPECT_NEAR(f.audio_played_s, f.VideoSeconds(), 0.03);
    EXPECT_LE(f.max_picture_gap_s, 0.0401);
    const MediaFacts theirs = AnalyzeMedia(FfmpegJoin(three, folder));
    EXPECT_GT(theirs.VideoSeconds(), f.VideoSeconds() + 1.0) << "ffmpeg's join now hides the lead-in";
}

// Each clip's AAC is primed and runs 70 ms past its picture; a player plays
// the joined sound straight through.
TEST_F(DeviceFile, TwelveJoinedPhoneClipsEndTheirSoundWithThePicture)
{
    const std::vector<std::string> twelve(12, "phone_portrait.mp4");
    JoinDirect(twelve);
    const MediaFacts ours = AnalyzeMedia(output);
    EXPECT_EQ(ours.decode_errors, 0);
    EXPECT_NEAR(ours.VideoSeconds(), 24.0, 0.02);
    const double our_excess = std::fabs(ours.audio_played_s - ours.VideoSeconds());
    EXPECT_LT(our_excess, 0.03);
    EXPECT_NEAR(ours.audio_end_s, ours.video_end_s, 0.03);
    EXPECT_EQ(DecoderComplaints(output), "");

    const MediaFacts theirs = AnalyzeMedia(FfmpegJoin(twelve, folder));
    EXPECT_GT(std::fabs(theirs.audio_played_s - theirs.VideoSeconds()), our_excess);
}

// What the file says about its pictures and sound, read back after a cut.
TEST_F(DeviceFile, RotationAspectTagLanguageAndTitleSurviveACut)
{
    struct Case {
        const char* name;
        const char* tag;  // empty: not checked
        AVRational aspect;
        double rotation;
    };
    const Case cases[] = {
        {"phone_portrait.mp4", "avc1", {1, 1}, -90},
        {"anamorphic.mp4", "avc1", {64, 45}, 0},
        {"hevc_hvc1.mp4", "hvc1", {1, 1}, 0},
        {"xvid.avi", "XVID", {1, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CutDirect(c.name, "00:00:00.000", "00:00:00.800");
        const CopiedFacts source = ReadCopiedFacts(FixturePath(c.name));
        const CopiedFacts copy = ReadCopiedFacts(output);
        EXPECT_EQ(copy.format, source.format);
        EXPECT_EQ(copy.codec_tag, c.tag);
        EXPECT_EQ(av_cmp_q(copy.sample_aspect, c.aspect), 0)
            << copy.sample_aspect.num << "/" << copy.sample_aspect.den;
        EXPECT_DOUBLE_EQ(copy.rotation, c.rotation);
        EXPECT_EQ(copy.language, source.language);
        EXPECT_EQ(copy.title, source.title);
        EXPECT_EQ(copy.creation_time, source.creation_time);
    }
    const CopiedFacts phone = ReadCopiedFacts(FixturePath("phone_portrait.mp4"));
    EXPECT_EQ(phone.language, "deu");  // the table above compares something
    EXPECT_EQ(phone.title, "Harbour walk");
}

// A 4 s transport stream with key frames at 0 and 2 s, cut from 1 s: a byte
// seek in proportion lands past the first key frame.
TEST_F(DeviceFile, ATransportStreamCutStartsAtTheKeyFrameBeforeItsStart)
{
    CutDirect("gop2s.ts", "00:00:01.000", "00:00:03.000");
    EXPECT_EQ(job->seek_by_bytes, 0);
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    // From the key frame at 0 s: 2 s of pictures, the first of them the source's first.
    EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.05);
    const std::string compare = CommandOutput("ffmpeg -hide_banner -nostdin -i " + Quoted(output) + " -i " +
                                           Quoted(FixturePath("gop2s.ts")) +
                                           " -lavfi '[0:v][1:v]psnr' -frames:v 1 -f null -");
    EXPECT_NE(compare.find("average:inf"), std::string::npos) << compare;
}

TEST_F(DeviceFile, ACamcorderModIsCopiedIntoAProgramStreamUnderItsOwnName)
{
    CutDirect("camcorder.MOD", "00:00:01.000", "00:00:03.000");
    EXPECT_EQ(FileExtension(output), "MOD");
    EXPECT_EQ(ReadCopiedFacts(output).format, "mpeg");
    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    EXPECT_EQ(f.video_codec, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(f.audio_codec, AV_CODEC_ID_MP2);
    EXPECT_NEAR(f.VideoSeconds(), 2.0, 0.1);
    EXPECT_NEAR(f.audio_end_s, f.video_end_s, 0.1);
}

// Which muxer writes a copy of a file, by what the demuxer read and the
// name the output keeps.
TEST(DirectOutputFormatTest, TheInputsOwnFormatWhereTheExtensionNamesNone)
{
    struct Case {
        const char* demuxer;
        const char* brand;  // the file's major brand, for the one demuxer of several formats
        AVCodecID video, audio;
        const char* output;
        const char* muxer;  // nullptr: only re-encoding can cut it
    };
    const Case cases[] = {
        {"mpeg", "", AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_AC3, "a.mod", "vob"},
        {"mpeg", "", AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2, "a.TOD", "vob"},
        {"mpeg", "", AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2, "a.dat", "mpeg"},
        {"mov,mp4,m4a,3gp,3g2,mj2", "qt  ", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, "a.qt", "mov"},
        {"mov,mp4,m4a,3gp,3g2,mj2", "3gp4", AV_CODEC_ID_H263, AV_CODEC_ID_AMR_NB, "a.3gpp", "3gp"},
        {"mov,mp4,m4a,3gp,3g2,mj2", "isom", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, "a.mp4", "mp4"},
        {"asf", "", AV_CODEC_ID_WMV2, AV_CODEC_ID_WMAV2, "a.wm", "asf"},
        {"avi", "", AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP3, "a.divx", "avi"},
        {"mpegts", "", AV_CODEC_ID_H264, AV_CODEC_ID_AC3, "a.m2t", "mpegts"},
        {"rm", "", AV_CODEC_ID_RV40, AV_CODEC_ID_COOK, "a.rmvb", nullptr},
        // No copy into RealMedia reads back, whatever its codecs.
        {"rm", "", AV_CODEC_ID_RV10, AV_CODEC_ID_COOK, "a.rm", nullptr},
        {"rm", "", AV_CODEC_ID_RV10, AV_CODEC_ID_AC3, "a.rm", nullptr},
        {"nsv", "", AV_CODEC_ID_VP6, AV_CODEC_ID_MP3, "a.nsv", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        AVFormatContext* ctx = avformat_alloc_context();
        ASSERT_TRUE(ctx);
        ctx->iformat = av_find_input_format(c.demuxer);
        ASSERT_TRUE(ctx->iformat);
        if (*c.brand)
            av_dict_set(&ctx->metadata, "major_brand", c.brand, 0);
        for (const AVCodecID id : {c.video, c.audio}) {
            AVStream* st = avformat_new_stream(ctx, nullptr);
            st->codecpar->codec_type = avcodec_get_type(id);
            st->codecpar->codec_id = id;
        }
        const AVOutputFormat* muxer = DirectOutputFormat(ctx, c.output);
        EXPECT_STREQ(muxer ? muxer->name : nullptr, c.muxer);
        ctx->iformat = nullptr;
        avformat_free_context(ctx);
    }
}
