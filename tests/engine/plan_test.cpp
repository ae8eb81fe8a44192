// SPDX-License-Identifier: GPL-3.0-or-later
// What a job will do, decided before it runs: its times and its container.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "container_rules.h"
#include "conversion_job.h"
#include "job_door.h"
#include "job_setup.h"
#include "probe.h"
#include "media_checks.h"
#include "media_input.h"
#include "media_time.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// Every whole millisecond the window or the tool can give comes out as
// exactly ms * 1000, on its own and on a clock that starts at 1.4 s (where
// adding seconds as doubles went wrong for one value in seventeen).
TEST(MediaTimeTest, EveryMillisecondIsExactOnEveryClock)
{
    AVFormatContext* format = avformat_alloc_context();
    ASSERT_NE(format, nullptr);
    for (const int64_t start_us : {int64_t{0}, int64_t{1400000}, AV_NOPTS_VALUE}) {
        format->start_time = start_us;
        const int64_t origin = start_us == AV_NOPTS_VALUE ? 0 : start_us;
        for (int64_t ms = 0; ms <= 4 * 3600 * 1000; ms += ms < 200000 ? 1 : 997) {
            const double seconds = static_cast<double>(ms) / 1000.0;  // as the record keeps it
            ASSERT_EQ(MicrosecondsOfSeconds(seconds), MicrosecondsOfMilliseconds(ms)) << ms;
            ASSERT_EQ(OnFileClock(MicrosecondsOfSeconds(seconds), format), origin + ms * 1000) << ms;
        }
    }
    avformat_free_context(format);
    const MediaSpan span = MediaSpanOfSeconds(1.3, 4.7);
    EXPECT_EQ(span.start_us, 1300000);
    EXPECT_EQ(span.LengthMicroseconds(), 3400000);  // 4.7 - 1.3 in doubles is 3.4000000000000004
}

TEST(MediaTimeTest, StreamTicksAreTheNearestTick)
{
    struct Case {
        int64_t us;
        AVRational time_base;
        int64_t ticks;
    };
    const Case cases[] = {
        {2700000, {1, 90000}, 243000}, {2700000, {1, 1000}, 2700}, {2700000, {1, 30}, 81},
        {2700000, {1, 13}, 35},        {500, {1, 1000}, 1},         {-500, {1, 1000}, -1},
        {499, {1, 1000}, 0},           {33366, {1001, 30000}, 1},   {0, {1, 48000}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToStreamTicks(c.us, c.time_base), c.ticks) << c.us << " in " << c.time_base.den;
        // Back from a tick: within half a tick of where it came from.
        const double tick_us = 1e6 * c.time_base.num / c.time_base.den;
        EXPECT_LE(std::abs(ToMicroseconds(c.ticks, c.time_base) - c.us), tick_us / 2 + 1) << c.us;
    }
}

// The copy's container comes from what the input is; an output name can
// only pick a flavour of the same kind of file, never another kind, and
// never a muxer that writes more files than the one reserved.
TEST(ContainerRulesTest, ACopyKeepsTheInputsKindWhateverTheNameSays)
{
    struct Case {
        const char* fixture;
        const char* output_name;
        const char* muxer;  // nullptr: none
    };
    const Case cases[] = {
        {"h264_aac.mp4", "out.mp4", "mp4"},      {"h264_aac.mp4", "out.mov", "mov"},
        {"h264_aac.mp4", "out.m3u8", "mp4"},     {"h264_aac.mp4", "out.mpd", "mp4"},
        {"h264_aac.mp4", "out%03d.png", "mp4"},  {"h264_aac.mp4", "out.mkv", "mp4"},
        {"h264_aac.mkv", "out.m3u8", "matroska"}, {"start10.ts", "out.m3u8", "mpegts"},
        {"start10.mov", "out.mov", "mov"},       {"camcorder.MOD", "out.MOD", "vob"},
        {"mpeg4_mp3.avi", "out.mp4", "avi"},     {"audio_only.m4a", "out.m4a", "ipod"},
        {"h263.3gp", "out.3gp", "3gp"},          {"audio_only.mp3", "out.mp3", "mp3"},
    };
    for (const Case& c : cases) {
        MediaInput in;
        ASSERT_EQ(OpenMediaInput(FixturePath(c.fixture).c_str(), in, MediaInputOptions{}), kProbeOk) << c.fixture;
        const AVOutputFormat* format = DirectOutputFormat(in.format.get(), c.output_name);
        ASSERT_NE(format, nullptr) << c.fixture << " as " << c.output_name;
        EXPECT_STREQ(format->name, c.muxer) << c.fixture << " as " << c.output_name;
        EXPECT_NE(RulesOf(format), nullptr);
        EXPECT_FALSE(format->flags & AVFMT_NOFILE) << format->name;
    }
    // What the other paths read from the same table.
    for (const char* muxer : {"hls", "dash", "segment", "image2", "tee", "null"})
        EXPECT_EQ(RulesOfMuxer(muxer), nullptr) << muxer;
    EXPECT_TRUE(IsMp4Family(av_guess_format("3gp", nullptr, nullptr)));
    EXPECT_FALSE(IsMp4Family(av_guess_format("matroska", nullptr, nullptr)));
    EXPECT_TRUE(NeedsGlobalHeader(av_guess_format("flv", nullptr, nullptr)));
    EXPECT_FALSE(NeedsGlobalHeader(av_guess_format("avi", nullptr, nullptr)));
    EXPECT_TRUE(ChaptersBeforeHeader(av_guess_format("asf", nullptr, nullptr)));
    EXPECT_FALSE(ChaptersAtTrailer(av_guess_format("asf", nullptr, nullptr)));
    EXPECT_TRUE(ChaptersAtTrailer(av_guess_format("mp4", nullptr, nullptr)));
    EXPECT_EQ(ReencodeOutputFormat("clip.m3u8"), nullptr);
    EXPECT_STREQ(ReencodeOutputFormat("clip.wmv")->name, "asf");
}

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// An MP4 named clip.m3u8: a direct cut writes one MP4 file under the
// reserved name, and the user's clip0.ts beside it stays as it was.
TEST(ContainerRulesTest, AnMp4NamedAsAPlaylistIsCutIntoOneMp4)
{
    const std::string dir = MakeScratchFolder("m3u8_named_mp4");
    const std::string in_dir = dir + "/in", out_dir = dir + "/out";
    ASSERT_EQ(mkdir(in_dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(out_dir.c_str(), 0755), 0);
    const std::string input = in_dir + "/clip.m3u8";
    ASSERT_EQ(RunShell("cp " + Quoted(FixturePath("h264_aac.mp4")) + " " + Quoted(input)).exit_code, 0);
    std::ofstream(out_dir + "/clip0.ts") << "the user's own file";

    const CliResult r = RunCli("cut " + Quoted(input) + " --start 00:00:01.000 --end 00:00:03.000 --out " +
                               Quoted(out_dir) + " --title clip");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(FilesIn(out_dir), (std::set<std::string>{"clip.m3u8", "clip0.ts"}));
    std::ifstream user(out_dir + "/clip0.ts");
    std::string text;
    std::getline(user, text);
    EXPECT_EQ(text, "the user's own file");
    MediaInput out;
    ASSERT_EQ(OpenMediaInput((out_dir + "/clip.m3u8").c_str(), out, MediaInputOptions{}), kProbeOk);
    EXPECT_EQ(std::string(out.format->iformat->name).rfind("mov,", 0), 0u) << out.format->iformat->name;
    EXPECT_NEAR(AnalyzeMedia(out_dir + "/clip.m3u8").VideoSeconds(), 2.0, 0.6);
}

// Every language on QuickTime's own list, under any of its ISO 639-2 codes,
// is written by the QuickTime muxer as that language, not as none ("fre"
// and "fra" alike; "deu" as its "ger"). What the file reads back, per code.
TEST(ContainerRulesTest, QuickTimeKeepsEveryLanguageOfItsList)
{
    const struct {
        const char* given;
        const char* read_back;
    } cases[] = {{"eng", "eng"}, {"fra", "fra"}, {"fre", "fra"}, {"deu", "ger"}, {"ger", "ger"}, {"ces", "ces"},
                 {"cze", "ces"}, {"ron", "ron"}, {"rum", "ron"}, {"slk", "slk"}, {"slo", "slk"}, {"nld", "dut"},
                 {"ell", "gre"}, {"zho", "chi"}, {"jpn", "jpn"}, {"swe", "sve"}, {"hrv", "hr "}, {"cym", "wel"}};
    const std::string path = MakeScratchFolder("quicktime_languages") + "/languages.mov";
    const AVOutputFormat* mov = av_guess_format("mov", nullptr, nullptr);
    ASSERT_NE(mov, nullptr);
    AVFormatContext* raw = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&raw, mov, nullptr, path.c_str()), 0);
    OutputContextPtr ctx(raw);
    // One short PCM track a language: the muxer leaves out a track without samples.
    for (const auto& c : cases) {
        AVStream* st = avformat_new_stream(raw, nullptr);
        ASSERT_NE(st, nullptr);
        st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        st->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
        st->codecpar->sample_rate = 8000;
        av_channel_layout_default(&st->codecpar->ch_layout, 1);
        st->time_base = {1, 8000};
        av_dict_set(&st->metadata, "language", ContainerLanguage(mov, c.given).c_str(), 0);
    }
    ASSERT_GE(avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(raw, nullptr), 0);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        PacketPtr pkt = MakePacket();
        ASSERT_EQ(av_new_packet(pkt.get(), 160), 0);
        std::fill(pkt->data, pkt->data + pkt->size, 0);
        pkt->stream_index = static_cast<int>(i);
        pkt->pts = pkt->dts = 0;
        pkt->duration = 80;
        ASSERT_GE(av_interleaved_write_frame(raw, pkt.get()), 0);
    }
    ASSERT_GE(av_write_trailer(raw), 0);
    avio_closep(&raw->pb);

    MediaInput in;
    ASSERT_EQ(OpenMediaInput(path.c_str(), in, MediaInputOptions{}), kProbeOk);
    ASSERT_EQ(in.format->nb_streams, std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const AVDictionaryEntry* e = av_dict_get(in.format->streams[i]->metadata, "language", nullptr, 0);
        EXPECT_STREQ(e ? e->value : "", cases[i].read_back) << cases[i].given;
    }
    // Other containers take the code as it is.
    EXPECT_EQ(ContainerLanguage(av_guess_format("matroska", nullptr, nullptr), "fre"), "fre");
}

// The door reads the record once: spans in whole microseconds (a join's
// inputs whole), the mode, and for each input whether the exact cut applies.
TEST(JobDoorTest, TheRecordIsReadIntoPlainValuesOnce)
{
    struct Case {
        const char* fixture;
        bool exact_asked;
        bool separate;
        JobMode mode;
    };
    const Case cases[] = {
        {"h264_aac.mp4", false, false, JobMode::Copy},
        {"exact_h264.mkv", true, false, JobMode::Exact},
        {"exact_h264.mkv", true, true, JobMode::Exact},
        {"exact_flv1.flv", true, false, JobMode::Copy},  // the exact cut does not take FLV1
    };
    const std::string folder = MakeScratchFolder("job_door");
    for (const Case& c : cases) {
        ConversionJob* job = new ConversionJob();
        InitConversionJob(job);
        EncodingChoice choice = DefaultCutChoice("k");
        choice.exact = c.exact_asked;
        std::vector<std::string> outputs;
        std::string path = FixturePath(c.fixture);
        job->probe_path = path.data();
        ASSERT_EQ(ProbeMedia(job), 0) << c.fixture;
        job->probe_path = nullptr;
        ASSERT_EQ(FillSpansJob(job, path, {{1300, 2001}, {2999, 3700}}, {folder, "d", ".mkv"}, choice, c.separate,
                               &outputs),
                  LaunchRefusal::None)
            << c.fixture;
        const JobPlan plan = PlanJob(job);
        EXPECT_EQ(plan.mode, c.mode) << c.fixture;
        EXPECT_EQ(plan.spans_in_one_file, !c.separate);
        ASSERT_EQ(plan.inputs.size(), 2u);
        EXPECT_EQ(plan.inputs[0].path, path);
        EXPECT_EQ(plan.inputs[0].span.start_us, 1300000);
        EXPECT_EQ(plan.inputs[0].span.LengthMicroseconds(), 701000);
        EXPECT_EQ(plan.inputs[1].span.start_us, 2999000);
        EXPECT_EQ(plan.inputs[1].span.end_us, 3700000);
        EXPECT_EQ(plan.inputs[1].exact, c.mode == JobMode::Exact) << c.fixture;
        EXPECT_EQ(plan.inputs[1].output_path, job->output_paths[1]);
        EXPECT_DOUBLE_EQ(plan.inputs[1].span_s, job->span_s[1]);
        EXPECT_NE(UnchangedLaunchFacts(plan.inputs[1]), nullptr);  // the launch's look, reused
        // What the steps below report lands in the record the window polls.
        const JobReports reports = ReportsOf(job);
        reports.Progress(42);
        EXPECT_EQ(job->progress_percent.load(), 42);
        job->cancel_requested = 1;
        EXPECT_TRUE(reports.Cancelled());
        job->cancel_requested = 0;

        std::string joined;
        const std::vector<JoinRow> rows = {MakeJoinRow(path, *job), MakeJoinRow(path, *job)};
        ReleaseReservedOutput(job);
        ASSERT_EQ(FillJoinJob(job, rows, {folder, "j", ".mkv"}, DefaultJoinChoice(), &joined), LaunchRefusal::None);
        MarkJobStarting(job, true);
        const JobPlan join = PlanJob(job);
        EXPECT_TRUE(join.join);
        EXPECT_EQ(join.mode, JobMode::Reencode);
        EXPECT_EQ(join.encode.video_codec_id, job->video_codec_id);
        EXPECT_EQ(join.encode.sample_rate, job->audio_sample_rate);
        for (const InputPlan& in : join.inputs)
            EXPECT_FALSE(in.exact || in.span.LengthMicroseconds() != 0);
        ReleaseReservedOutput(job);
        FreePathArray(job->input_paths, job->input_count);
        FreePathArray(job->output_paths, job->input_count);
        delete job;
    }
}

}  // namespace
