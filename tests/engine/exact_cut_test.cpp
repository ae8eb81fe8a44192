// SPDX-License-Identifier: GPL-3.0-or-later
// Exact direct cuts, run on the worker as a launch runs them, checked against
// the source: every picture of the span and no other, re-encoded ends close
// to the source's pictures, copied packets unchanged, sound with the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <set>
#include <string>
#include <vector>

#include "av_handles.h"
#include "coded_units.h"
#include "packed_pictures.h"

extern "C" {
#include <libavutil/pixdesc.h>
}
#include "conversion_job.h"
#include "exact_cut.h"
#include "job_door.h"
#include "job_setup.h"
#include "media_checks.h"
#include "media_input.h"
#include "picture_times.h"
#include "probe.h"

namespace {

// The file opened for reading, with its best video stream in `*vi` (-1 for
// none); null when it does not open.
InputContextPtr OpenWithVideo(const std::string& path, int* vi)
{
    *vi = -1;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return nullptr;
    InputContextPtr fmt(raw);
    avformat_find_stream_info(fmt.get(), nullptr);
    *vi = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    return fmt;
}

// Luma PSNR of two pictures of one size and format (8 or 16 bits a sample).
double LumaPsnr(const AVFrame* a, const AVFrame* b)
{
    const bool wide = av_get_bits_per_pixel(av_pix_fmt_desc_get(AVPixelFormat(a->format))) > 12;
    const double peak = wide ? 1023.0 : 255.0;
    double sum = 0;
    for (int y = 0; y < a->height; ++y) {
        const uint8_t* ra = a->data[0] + y * a->linesize[0];
        const uint8_t* rb = b->data[0] + y * b->linesize[0];
        for (int x = 0; x < a->width; ++x) {
            const double d = wide ? double(reinterpret_cast<const uint16_t*>(ra)[x]) -
                                        reinterpret_cast<const uint16_t*>(rb)[x]
                                  : double(ra[x]) - rb[x];
            sum += d * d;
        }
    }
    const double mse = sum / (double(a->width) * a->height);
    return mse <= 0 ? 99.0 : 10 * std::log10(peak * peak / mse);
}

struct CodedPicture {
    double t;  // presentation time, seconds
    int64_t dts;  // decoding time as the reader gives it, stream ticks
    bool key;
    std::string bytes;
};

// Every video packet of a file, in decoding order. A transport stream's
// reader gives a picture the zero bytes before the next one's start code:
// they are no part of it.
std::string WithoutTrailingZeros(const uint8_t* data, int size)
{
    while (size > 0 && data[size - 1] == 0)
        --size;
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
}

// Every video packet of a file, in decoding order.
std::vector<CodedPicture> VideoPackets(const std::string& path)
{
    std::vector<CodedPicture> packets;
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    if (!fmt)
        return packets;
    PacketPtr pkt = MakePacket();
    // AVI with B-frames stores no times; DivX and Xvid pack a B-picture
    // with the picture before it: read one picture a packet.
    const AVCodecParameters* par = vi >= 0 ? fmt->streams[vi]->codecpar : nullptr;
    const bool packed = par && IsPackedMpeg4(par->extradata, static_cast<size_t>(par->extradata_size));
    PictureTimeReader reader(fmt.get(), vi, packed);
    while (reader.Read(pkt.get()) >= 0) {
        if (pkt->stream_index == vi)
            packets.push_back({pkt->pts * av_q2d(fmt->streams[vi]->time_base), pkt->dts,
                               (pkt->flags & AV_PKT_FLAG_KEY) != 0, WithoutTrailingZeros(pkt->data, pkt->size)});
        av_packet_unref(pkt.get());
    }
    return packets;
}

// Where the file's clock starts: cut points count from there.
double ClockStartS(const std::string& path)
{
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    return fmt && fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time / double(AV_TIME_BASE) : 0.0;
}

// The codecs of every track, in the file's order.
std::string TrackCodecs(const std::string& path)
{
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    std::string codecs;
    for (unsigned i = 0; fmt && i < fmt->nb_streams; ++i)
        codecs += std::string(avcodec_get_name(fmt->streams[i]->codecpar->codec_id)) + " ";
    return codecs;
}

// MPEG-4 Part 2 whose packets hold two pictures, or whose headers say so
// (the packed form of DivX and Xvid); other codecs are never packed.
bool PackedPictures(const std::string& path)
{
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    if (!fmt || vi < 0 || fmt->streams[vi]->codecpar->codec_id != AV_CODEC_ID_MPEG4)
        return false;
    const AVCodecParameters* par = fmt->streams[vi]->codecpar;
    bool packed = IsPackedMpeg4(par->extradata, static_cast<size_t>(par->extradata_size));
    PacketPtr pkt = MakePacket();
    while (!packed && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        const std::string bytes(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size));
        const size_t vop = bytes.find("\x00\x00\x01\xb6", 0, 4);
        packed = pkt->stream_index == vi && (IsPackedMpeg4(pkt->data, static_cast<size_t>(pkt->size)) ||
                                             (vop != std::string::npos &&
                                              bytes.find("\x00\x00\x01\xb6", vop + 4, 4) != std::string::npos));
        av_packet_unref(pkt.get());
    }
    return packed;
}

// How long the first picture of an AVI file with B-frames stays before the
// next one comes: its encoder held pictures back (Xvid), their chunks left
// empty. The file's picture starts that much late against its sound; a
// cut's later pictures are not.
double HeldAtStartS(const std::string& path)
{
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    if (!fmt || vi < 0 || std::string(fmt->iformat->name) != "avi" || fmt->streams[vi]->codecpar->video_delay == 0)
        return 0;
    PacketPtr pkt = MakePacket();
    std::vector<int64_t> dts;
    while (dts.size() < 2 && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vi)
            dts.push_back(pkt->dts);
        av_packet_unref(pkt.get());
    }
    return dts.size() < 2 ? 0 : (dts[1] - dts[0] - 1) * av_q2d(fmt->streams[vi]->time_base);
}

unsigned VideoTag(const std::string& path)
{
    int vi = -1;
    InputContextPtr fmt = OpenWithVideo(path, &vi);
    if (!fmt)
        return 0;
    return vi < 0 ? 0 : fmt->streams[vi]->codecpar->codec_tag;
}

struct ExactCase {
    const char* file;
    double audio_frame_s;  // one packet of the fixture's sound
    bool copies;           // key pictures a copy may start at lie inside the span
};

// Cut at 1.3 s and 4.7 s: key pictures are at 0, 2 and 4 s.
constexpr double kStart = 1.3, kEnd = 4.7;
const ExactCase kCases[] = {
    {"exact_h264_1080.mp4", 1024 / 48000.0, true},
    {"exact_h264.mkv", 1024 / 48000.0, true},
    {"exact_hevc10.mp4", 1024 / 48000.0, true},
    {"exact_mpeg4.avi", 1152 / 48000.0, true},
    // With B-frames: AVI keeps only their order.
    {"exact_mpeg4_b.avi", 1152 / 48000.0, true},
    {"exact_mpeg4_b.mp4", 1024 / 48000.0, true},
    {"exact_mpeg4_b.mkv", 1024 / 48000.0, true},
    // Packed as Xvid writes it: cut and written one picture a packet.
    {"exact_xvid_packed.avi", 1152 / 48000.0, true},
    // Transport streams, their clock at 10 s: parameter sets in band.
    {"exact_h264.ts", 1536 / 48000.0, true},
    {"exact_hevc.ts", 1024 / 48000.0, true},
    {"exact_mpeg2.ts", 1152 / 48000.0, true},
    // A DVD recorder's program stream, its clock between two picture ticks.
    {"exact_mpeg2.vob", 1536 / 48000.0, true},
    {"exact_h264_wrap.ts", 1536 / 48000.0, true},  // its clock wraps round at 3 s
    {"exact_vp9.webm", 2048 / 48000.0, true},  // Vorbis: its first packet only primes the decoder
    // Its key pictures after the first are recovery points, not IDR: the
    // whole span is re-encoded rather than joined to pictures that need it.
    {"exact_h264_open.mp4", 1024 / 48000.0, false},
};

class ExactCut : public JobTest, public ::testing::WithParamInterface<ExactCase> {
protected:
    void ExactCutOf(const std::string& name, const char* start = "00:00:01.300", const char* end = "00:00:04.700")
    {
        av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = true;
        choice.exact = true;
        JobTest::Cut(name, start, end, choice);
    }
};

// The output shows the source's pictures of [from_s, to_s), each close to
// the source's, and decodes without a complaint.
void ExpectExactSpan(const std::string& source, const std::string& output, double from_s, double to_s)
{
    AVRational stb{}, otb{};
    const double origin = ClockStartS(source);
    const std::vector<DecodedPicture> span = DecodedPictures(source, &stb, origin + from_s, origin + to_s);
    const std::vector<DecodedPicture> cut = DecodedPictures(output, &otb);
    ASSERT_EQ(cut.size(), span.size()) << "pictures of the span";
    ASSERT_FALSE(cut.empty());
    double worst = 99;
    for (size_t i = 0; i < cut.size(); ++i) {
        ASSERT_EQ(cut[i].frame->format, span[i].frame->format);
        worst = std::min(worst, LumaPsnr(cut[i].frame.get(), span[i].frame.get()));
    }
    EXPECT_GE(worst, 38.0) << "a picture differs visibly from the source's";
    EXPECT_GE(LumaPsnr(cut.front().frame.get(), span.front().frame.get()), 38.0) << "first picture";
    EXPECT_GE(LumaPsnr(cut.back().frame.get(), span.back().frame.get()), 38.0) << "last picture";
    EXPECT_EQ(IndependentDecoderComplaints(output), "");
}

}  // namespace

TEST_P(ExactCut, HoldsExactlyTheSpanAndJoinsCleanly)
{
    const ExactCase& c = GetParam();
    const std::string source = FixturePath(c.file);
    ExactCutOf(c.file);
    ASSERT_EQ(Status(0), kInputDone);
    EXPECT_EQ(job->progress_percent, 100);

    ExpectExactSpan(source, output, kStart, kEnd);
    EXPECT_EQ(VideoTag(output), VideoTag(source));
    EXPECT_EQ(TrackCodecs(output), TrackCodecs(source));
    EXPECT_FALSE(PackedPictures(output)) << "a re-encoded picture may not follow a packed pair";

    const MediaFacts f = AnalyzeMedia(output);
    EXPECT_EQ(f.decode_errors, 0);
    // As apart as in the source (AVI with B-frames shows its first picture
    // a picture after its sound starts), but for the pictures its encoder held.
    const MediaFacts own = AnalyzeMedia(source);
    EXPECT_NEAR(f.audio_start_s - f.video_start_s, own.audio_start_s - own.video_start_s + HeldAtStartS(source),
                c.audio_frame_s + 1e-3)
        << "sound starts apart";
    EXPECT_NEAR(f.audio_end_s, f.video_end_s, c.audio_frame_s + 1e-3) << "sound ends apart";
    // Read back (a program stream's reader infers most pictures' times),
    // every picture is decoded after the one before and shown one picture
    // after it, across both seams.
    EXPECT_EQ(f.pictures_out_of_order, 0);
    EXPECT_NEAR(f.min_picture_gap_s, 0.04, 1e-3);
    EXPECT_NEAR(f.max_picture_gap_s, 0.04, 1e-3);
    // (Matroska stores none: its reader leaves some out.)
    const std::vector<CodedPicture> in_order = VideoPackets(output);
    int dts_backwards = 0;
    for (size_t i = 1; i < in_order.size(); ++i)
        dts_backwards += in_order[i].dts != AV_NOPTS_VALUE && in_order[i - 1].dts != AV_NOPTS_VALUE &&
                         in_order[i].dts <= in_order[i - 1].dts;
    EXPECT_EQ(dts_backwards, 0) << "decoding times not increasing";

    // The pictures decoded after the key picture at 2 s (past its leading
    // pictures) and before the one at 4 s are the source's packets, byte for
    // byte.
    std::multiset<std::string> written;
    for (CodedPicture& p : VideoPackets(output))
        written.insert(std::move(p.bytes));
    int expected = 0, found = 0;
    const double origin = ClockStartS(source);
    for (const CodedPicture& p : VideoPackets(source)) {
        const double t = p.t - origin;
        if (p.key && t > 3.0)
            break;
        if (t > 2.2) {
            ++expected;
            found += written.count(p.bytes) ? 1 : 0;
        }
    }
    EXPECT_GT(expected, 40);
    EXPECT_EQ(found, c.copies ? expected : 0);
}

// Cut ends on key pictures, a span inside one group of pictures, a start
// before the first picture (its Matroska packet has no decoding time).
TEST_F(ExactCut, OddSpans)
{
    const struct {
        const char* file;
        const char* start;
        const char* end;
        double from_s, to_s;
    } spans[] = {
        {"exact_hevc10.mp4", "00:00:02.000", "00:00:04.000", 2.0, 4.0},
        {"exact_hevc10.mp4", "00:00:02.500", "00:00:03.500", 2.5, 3.5},
        {"exact_h264.mkv", "00:00:00.000", "00:00:03.500", 0.0, 3.5},
        {"exact_mpeg4.avi", "00:00:03.000", "00:00:09.000", 3.0, 9.0},  // past the end
        // Packed: from inside a group of pictures to past the end.
        {"exact_xvid_packed.avi", "00:00:02.500", "00:00:09.000", 2.5, 9.0},
    };
    for (const auto& s : spans) {
        SCOPED_TRACE(std::string(s.file) + " " + s.start);
        std::filesystem::remove(output);
        ExactCutOf(s.file, s.start, s.end);
        ASSERT_EQ(Status(0), kInputDone);
        ExpectExactSpan(FixturePath(s.file), output, s.from_s, s.to_s);
    }
}

// Interlaced MPEG-2 keeps its field order in the re-encoded pictures too:
// every picture of the cut is interlaced, with the source's first field.
TEST_F(ExactCut, InterlacedMpeg2KeepsItsFieldOrder)
{
    const struct {
        const char* file;
        bool top_first;
    } sources[] = {{"exact_mpeg2.ts", true}, {"exact_mpeg2_bff.mkv", false}, {"exact_mpeg2.vob", true}};
    for (const auto& s : sources) {
        SCOPED_TRACE(s.file);
        std::filesystem::remove(output);
        ExactCutOf(s.file);
        ASSERT_EQ(Status(0), kInputDone);
        AVRational tb{};
        const std::vector<DecodedPicture> cut = DecodedPictures(output, &tb);
        ASSERT_EQ(cut.size(), 85u);
        int progressive = 0, other_field_first = 0;
        for (const DecodedPicture& p : cut) {
            progressive += !p.frame->interlaced_frame;
            other_field_first += p.frame->top_field_first != s.top_first;
        }
        EXPECT_EQ(progressive, 0);
        EXPECT_EQ(other_field_first, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExactCut, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             for (char& ch : name)
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

// A codec without a matching encoder is cut at key pictures, and says so
// before the cut starts (the window and the command line tell the user).
TEST_F(JobTest, ExactCutOfAnotherCodecFallsBackToKeyPictures)
{
    std::string why;
    EXPECT_FALSE(ExactCutPossible(FixturePath("exact_flv1.flv").c_str(), &why));
    EXPECT_NE(why.find("flv1"), std::string::npos) << why;
    EXPECT_TRUE(ExactCutPossible(FixturePath("exact_xvid_packed.avi").c_str(), &why));
    EXPECT_TRUE(ExactCutPossible(FixturePath("exact_hevc10.mp4").c_str(), &why));

    EncodingChoice choice = DefaultCutChoice("k");
    choice.direct = true;
    choice.exact = true;
    Cut("exact_flv1.flv", "00:00:01.300", "00:00:04.700", choice, "cut", ".flv");
    EXPECT_EQ(job->exact_cut, 1);
    EXPECT_FALSE(ExactCutApplies(job, 0));
    ASSERT_EQ(Status(0), kInputDone);
    EXPECT_EQ(AnalyzeMedia(output).decode_errors, 0);

    const CliResult r = RunCli("cut '" + FixturePath("exact_flv1.flv") + "' --start 00:00:01.300 --end "
                               "00:00:04.700 --out '" + folder + "' --title cli --exact");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("no exact cut for this file"), std::string::npos) << r.output;
    EXPECT_EQ(RunCli("cut x --start 0 --end 1 --out /tmp --exact --format 1").exit_code, 2);
}

// The choice reaches the record only for direct cuts.
TEST_F(JobTest, ExactChoiceIsForDirectCutsOnly)
{
    EncodingChoice choice = DefaultCutChoice("k");
    choice.exact = true;
    std::string out;
    choice.direct = false;
    ASSERT_EQ(FillCutJob(job, FixturePath("exact_h264.mkv"), "0", "1", {folder, "a", ".mp4"}, choice, &out),
              LaunchRefusal::None);
    EXPECT_EQ(job->exact_cut, 0);
    close(job->output_fd);  // the files the fills reserved are not written
    choice.direct = true;
    ASSERT_EQ(FillCutJob(job, FixturePath("exact_h264.mkv"), "0", "1", {folder, "a", ".mp4"}, choice, &out),
              LaunchRefusal::None);
    EXPECT_EQ(job->exact_cut, 1);
    close(job->output_fd);
    job->output_fd = -1;
}

// A job opens each input file once: the launch reuses what the probe found
// when the file was added, the worker opens each input once and hands it to
// the path that runs it. An exact cut's launch looks into the span (does any
// key picture lie inside it?) and hands that open file on to the worker.
TEST_F(JobTest, AJobOpensEachInputFileOnce)
{
    const auto probed = [&](const std::string& name, ProbeKeeps keeps = ProbeKeeps::Nothing) {
        std::string path = FixturePath(name);
        job->probe_path = path.data();
        EXPECT_EQ(ProbeMedia(job, keeps), 0) << name;
        job->probe_path = const_cast<char*>("");
        return path;
    };
    struct Case {
        const char* name;
        bool direct, exact;
        int launch_opens;
    };
    for (const Case& c : {Case{"exact_h264.mkv", true, false, 0}, Case{"h264_aac.mp4", true, false, 0},
                          Case{"exact_h264.mkv", true, true, 1}, Case{"h264_aac.mkv", false, false, 0}}) {
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = c.direct;
        choice.exact = c.exact;
        const std::string path = probed(c.name);
        const long long before = MediaFileOpenCount();
        job->cancel_requested = 1;  // as a stopped job leaves it: the launch's look must not stop
        LaunchDecision decided;
        ASSERT_EQ(FillCutJob(job, path, "1", "3", {folder, "n", ".mp4"}, choice, &output, nullptr, &decided),
                  LaunchRefusal::None);
        EXPECT_EQ(decided.mode, c.exact ? JobMode::Exact : c.direct ? JobMode::Copy : JobMode::Reencode);
        EXPECT_FALSE(decided.exact_reencodes_whole);
        EXPECT_EQ(MediaFileOpenCount() - before, c.launch_opens) << c.name;
        Run(false);
        EXPECT_EQ(Status(0), kInputDone) << c.name;
        EXPECT_EQ(MediaFileOpenCount() - before, 1) << c.name << (c.exact ? " exact" : "");
    }
    // Exact spans into one file: the file is opened once for all of them.
    EncodingChoice exact = DefaultCutChoice("k");
    exact.exact = true;
    std::vector<std::string> outputs;
    const std::string spans_path = probed("exact_h264.mkv");
    const long long spans_before = MediaFileOpenCount();
    LaunchDecision spans_decided;
    ASSERT_EQ(FillSpansJob(job, spans_path, {{500, 1500}, {2500, 3500}}, {folder, "s", ".mp4"}, exact, false,
                           &outputs, nullptr, &spans_decided),
              LaunchRefusal::None);
    EXPECT_EQ(spans_decided.mode, JobMode::Exact);
    Run(false);
    EXPECT_EQ(Status(1), kInputDone);
    EXPECT_EQ(MediaFileOpenCount() - spans_before, 1);

    std::vector<JoinRow> rows;
    for (const char* name : {"h264_aac.mp4", "h264_aac.mp4", "h264_aac.mp4"})
        rows.push_back(MakeJoinRow(probed(name), *job));
    for (const bool direct : {true, false}) {
        EncodingChoice choice = DefaultJoinChoice();
        choice.direct = direct;
        const long long before = MediaFileOpenCount();
        ASSERT_EQ(FillJoinJob(job, rows, {folder, "j", ".mp4"}, choice, &output), LaunchRefusal::None);
        EXPECT_EQ(MediaFileOpenCount() - before, 0);
        Run(true);
        EXPECT_EQ(Status(2), kInputDone);
        EXPECT_EQ(MediaFileOpenCount() - before, 3) << (direct ? "direct" : "re-encoded");
    }

    // The tool launches straight after its probe, which keeps the file open
    // for the worker: probe, launch and run open an MP4 once in all (its
    // index says what it holds), whatever the mode, and a join each file once.
    const auto kept = [&](const std::string& name) { return probed(name, ProbeKeeps::FileOpen); };
    // What it reads from the kept file is what a fresh open reads.
    const auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    for (const bool direct : {true, false}) {
        EncodingChoice choice = DefaultCutChoice("k");
        choice.direct = direct;
        ASSERT_EQ(FillCutJob(job, probed("h264_aac.mp4"), "1", "3", {folder, "fresh", ".mp4"}, choice, &output),
                  LaunchRefusal::None);
        Run(false);
        const std::string fresh = output;
        const long long before = MediaFileOpenCount();
        ASSERT_EQ(FillCutJob(job, kept("h264_aac.mp4"), "1", "3", {folder, "kept", ".mp4"}, choice, &output),
                  LaunchRefusal::None);
        Run(false);
        EXPECT_EQ(Status(0), kInputDone);
        EXPECT_EQ(MediaFileOpenCount() - before, 1) << (direct ? "direct" : "re-encoded");
        EXPECT_TRUE(bytes(output) == bytes(fresh)) << output;
        EXPECT_GT(bytes(fresh).size(), 10000u);
    }
    EncodingChoice exact_mp4 = DefaultCutChoice("k");
    exact_mp4.exact = true;
    const long long exact_before = MediaFileOpenCount();
    LaunchDecision decided;
    ASSERT_EQ(FillCutJob(job, kept("exact_h264_open.mp4"), "1", "3", {folder, "kept-exact", ".mp4"}, exact_mp4,
                         &output, nullptr, &decided),
              LaunchRefusal::None);
    EXPECT_EQ(decided.mode, JobMode::Exact);
    Run(false);
    EXPECT_EQ(Status(0), kInputDone);
    EXPECT_EQ(MediaFileOpenCount() - exact_before, 1);
    EXPECT_EQ(AnalyzeMedia(output).decode_errors, 0);

    rows.clear();
    const long long join_before = MediaFileOpenCount();
    for (const char* name : {"h264_aac.mp4", "h264_aac.mp4", "h264_aac.mp4"})
        rows.push_back(MakeJoinRow(kept(name), *job));
    EncodingChoice join = DefaultJoinChoice();
    join.direct = true;
    ASSERT_EQ(FillJoinJob(job, rows, {folder, "kept-join", ".mp4"}, join, &output), LaunchRefusal::None);
    Run(true);
    EXPECT_EQ(Status(2), kInputDone);
    EXPECT_EQ(MediaFileOpenCount() - join_before, 3);
}

// Copied spans of one file read it through the one open the probe kept:
// each later span seeks in it from wherever the span before stopped
// reading, a span from the file's start opens it afresh. Every span's file
// is byte for byte what a job of that span alone writes from a fresh open.
TEST_F(JobTest, CopiedSpansOfOneFileShareTheProbesOpen)
{
    const auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto probed = [&](const std::string& path, ProbeKeeps keeps) {
        job->probe_path = const_cast<char*>(path.c_str());
        EXPECT_EQ(ProbeMedia(job, keeps), 0) << path;
        job->probe_path = const_cast<char*>("");
    };
    // MP4: a Matroska output has a random segment id.
    struct Case {
        std::vector<CutSpan> spans;
        int opens;  // of the file, probe included
    };
    const Case cases[] = {
        {{{0, 4000}, {9000, 14000}, {21000, 30000}}, 1},  // a removal's parts
        {{{12000, 15000}, {3000, 6000}}, 1},              // back in the file
        {{{12000, 15000}, {0, 3000}}, 2},                 // back to its start
    };
    EncodingChoice choice = DefaultCutChoice("k");
    choice.direct = true;
    for (const Case& c : cases) {
        SCOPED_TRACE("last span from " + std::to_string(c.spans.back().start_ms));
        const std::string path = FixturePath("long_h264_aac.mp4");
        std::vector<std::string> together;
        const long long before = MediaFileOpenCount();
        probed(path, ProbeKeeps::FileOpen);
        ASSERT_EQ(FillSpansJob(job, path, c.spans, {folder, "together", ".mp4"}, choice, true, &together),
                  LaunchRefusal::None);
        Run(false);
        EXPECT_EQ(MediaFileOpenCount() - before, c.opens);
        ASSERT_EQ(together.size(), c.spans.size());
        for (size_t i = 0; i < c.spans.size(); ++i) {
            EXPECT_EQ(Status(static_cast<int>(i)), kInputDone) << i;
            std::vector<std::string> alone;
            probed(path, ProbeKeeps::Nothing);
            ASSERT_EQ(FillSpansJob(job, path, {c.spans[i]}, {folder, "alone", ".mp4"}, choice, true, &alone),
                      LaunchRefusal::None);
            Run(false);
            ASSERT_EQ(alone.size(), 1u);
            const std::string expected = bytes(alone[0]);
            EXPECT_GT(expected.size(), 10000u) << i;
            EXPECT_TRUE(bytes(together[i]) == expected) << "span " << i << ": " << together[i];
        }
    }
}

// The launch decides the mode once for the window and the tool: a file no
// exact cut can take is cut at key pictures (and says why), into one file
// too; facts of a file changed since its probe are read afresh.
TEST_F(JobTest, TheLaunchDecidesTheModeFromTheFactsWhileTheyHold)
{
    EncodingChoice choice = DefaultCutChoice("k");
    choice.exact = true;
    LaunchDecision decided;
    std::vector<std::string> outputs;
    ASSERT_EQ(FillSpansJob(job, FixturePath("exact_flv1.flv"), {{0, 1000}, {2000, 3000}}, {folder, "m", ".mp4"},
                           choice, false, &outputs, nullptr, &decided),
              LaunchRefusal::None);
    EXPECT_EQ(decided.mode, JobMode::Copy);
    EXPECT_TRUE(decided.exact_fell_back);
    EXPECT_NE(decided.exact_why.find("flv1"), std::string::npos) << decided.exact_why;
    EXPECT_EQ(decided.container, ".flv");
    ReleaseReservedOutput(job);

    const std::string copy = folder + "/copy.mkv";
    std::filesystem::copy_file(FixturePath("exact_h264.mkv"), copy);
    job->probe_path = const_cast<char*>(copy.c_str());
    ASSERT_EQ(ProbeMedia(job), 0);
    job->probe_path = const_cast<char*>("");
    std::filesystem::copy_file(FixturePath("exact_flv1.flv"), copy, std::filesystem::copy_options::overwrite_existing);
    const long long before = MediaFileOpenCount();
    ASSERT_EQ(FillCutJob(job, copy, "0", "1", {folder, "c", ".mp4"}, choice, &output, nullptr, &decided),
              LaunchRefusal::None);
    EXPECT_EQ(MediaFileOpenCount() - before, 1);  // the probe's facts no longer hold
    EXPECT_TRUE(decided.exact_fell_back);
    ReleaseReservedOutput(job);
}
