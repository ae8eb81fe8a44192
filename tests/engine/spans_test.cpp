// SPDX-License-Identifier: GPL-3.0-or-later
// Several spans of one file in one job, in every mode, into one file and
// into a file per span: the pictures are the source's pictures of the spans
// in order, the sound stays with them at every seam, and the files decode
// cleanly in an independent decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>

#include "av_handles.h"
#include "conversion_job.h"
#include "job_reading.h"
#include "job_setup.h"
#include "media_checks.h"
#include "worker.h"

namespace {

constexpr int kFps = 25;
constexpr int kCell = 8;  // pictures compared as 8x8-averaged luma
constexpr double kAudioFrameS = 1024.0 / 48000;

// Luma of every picture of a file's video, in presentation order, averaged
// over kCell x kCell blocks: enough to tell one frame of a moving pattern
// from its neighbours, small enough to compare quickly.
std::vector<std::vector<double>> SmallLumas(const std::string& path)
{
    std::vector<std::vector<double>> out;
    ForEachDecodedPicture(path, [&](FramePtr f, double) {
        std::vector<double> cells;
        for (int y = 0; y + kCell <= f->height; y += kCell)
            for (int x = 0; x + kCell <= f->width; x += kCell) {
                double sum = 0;
                for (int j = 0; j < kCell; ++j)
                    for (int i = 0; i < kCell; ++i)
                        sum += f->data[0][(y + j) * f->linesize[0] + x + i];
                cells.push_back(sum / (kCell * kCell));
            }
        out.push_back(std::move(cells));
    });
    return out;
}

double Distance(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return a.size() == b.size() ? sum : 1e18;
}

// For each picture of `path`, the source picture it shows (nearest match).
std::vector<int> SourceFrames(const std::string& path, const std::vector<std::vector<double>>& source)
{
    std::vector<int> frames;
    for (const auto& picture : SmallLumas(path)) {
        int best = -1;
        double best_d = 1e18;
        for (size_t s = 0; s < source.size(); ++s)
            if (const double d = Distance(picture, source[s]); d < best_d) {
                best_d = d;
                best = static_cast<int>(s);
            }
        frames.push_back(best);
    }
    return frames;
}

// Splits frame numbers into runs of consecutive source frames.
std::vector<std::pair<int, int>> Runs(const std::vector<int>& frames)
{
    std::vector<std::pair<int, int>> runs;  // first, count
    for (const int f : frames) {
        if (!runs.empty() && f == runs.back().first + runs.back().second)
            ++runs.back().second;
        else
            runs.push_back({f, 1});
    }
    return runs;
}

// The bytes of every video packet of a file.
std::vector<std::string> VideoPackets(const std::string& path)
{
    std::vector<std::string> packets;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return packets;
    InputContextPtr fmt(raw);
    const int vi = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    PacketPtr pkt = MakePacket();
    while (av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vi)
            packets.emplace_back(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size));
        av_packet_unref(pkt.get());
    }
    return packets;
}

const std::vector<CutSpan> kSpans = {{1000, 3000}, {5500, 7000}, {9000, 10200}};

class Spans : public JobTest {
protected:
    static void SetUpTestSuite()
    {
        source_path_ = MakeScratchFolder("spans_source") + "/counter.mp4";
        // A moving pattern with its own counter, key pictures each second,
        // and a tone 100 Hz higher each second.
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=12 "
            "-f lavfi -i \"aevalsrc='sin(2*PI*(300+100*floor(t))*t)':s=48000:d=12\" "
            "-c:v libx264 -preset veryfast -g 25 -keyint_min 25 -sc_threshold 0 -bf 2 -pix_fmt yuv420p "
            "-c:a aac -b:a 128k '" + source_path_ + "'";
        ASSERT_EQ(std::system(make.c_str()), 0);
        source_ = SmallLumas(source_path_);
        ASSERT_EQ(source_.size(), 12u * kFps);
    }

    // The tone of each half second whose source second is known, against
    // the seconds the pictures came from.
    static void ExpectToneFollowsPictures(const std::string& path, const std::vector<int>& frames)
    {
        const ToneFacts tone = AnalyzeTone(path);
        int checked = 0;
        for (size_t w = 0; w < tone.window_hz.size(); ++w) {
            // Every picture shown during the window, the last one included.
            const size_t a = w * kFps / 2, b = ((w + 1) * kFps + 1) / 2 - 1;
            if (b >= frames.size() || frames[a] / kFps != frames[b] / kFps || frames[b] - frames[a] != int(b - a))
                continue;  // the window holds a seam or a change of pitch
            EXPECT_NEAR(tone.window_hz[w], 300 + 100 * (frames[a] / kFps), 8) << path << " window " << w;
            ++checked;
        }
        EXPECT_GE(checked, 1) << path;
    }

    static std::string source_path_;
    static std::vector<std::vector<double>> source_;
};
std::string Spans::source_path_;
std::vector<std::vector<double>> Spans::source_;

struct Mode {
    const char* name;
    bool direct;
    bool exact;
};

TEST_F(Spans, EveryModeIntoOneFileAndIntoAFileEach)
{
    const Mode kModes[] = {{"direct", true, false}, {"exact", true, true}, {"reencode", false, false}};
    for (const Mode& mode : kModes) {
        for (const bool separate : {false, true}) {
            SCOPED_TRACE(std::string(mode.name) + (separate ? " separate" : " one file"));
            EncodingChoice choice = DefaultCutChoice("source rate");
            choice.direct = mode.direct;
            choice.exact = mode.exact;
            const std::string title = std::string(mode.name) + (separate ? "_sep" : "_one");
            std::vector<std::string> outputs;
            ASSERT_EQ(FillSpansJob(job, source_path_, kSpans, {folder, title, ".mp4"}, choice, separate, &outputs),
                      LaunchRefusal::None);
            ASSERT_EQ(outputs.size(), separate ? 3u : 1u);
            Run(false);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(Status(i), kInputDone) << i;

            std::vector<std::pair<int, int>> runs;
            for (const std::string& out : outputs) {
                EXPECT_EQ(IndependentDecoderComplaints(out), "") << out;
                const std::vector<int> frames = SourceFrames(out, source_);
                for (const auto& run : Runs(frames))
                    runs.push_back(run);
                ExpectToneFollowsPictures(out, frames);
                const MediaFacts facts = AnalyzeMedia(out);
                EXPECT_EQ(facts.decode_errors, 0);
                EXPECT_NEAR(facts.audio_end_s, facts.video_end_s, kAudioFrameS + 0.002) << out;
                if (separate) {
                    EXPECT_EQ(outputs[&out - &outputs[0]], folder + "/" + title + "-" +
                                                               std::to_string(&out - &outputs[0] + 1) + ".mp4");
                }
            }
            if (mode.exact && !separate) {
                // Between the re-encoded ends every packet is the source's:
                // the whole groups of 1-3 s, 6-7 s and 9-10 s.
                const std::vector<std::string> source = VideoPackets(source_path_);
                const std::set<std::string> copied(source.begin(), source.end());
                int same = 0;
                for (const std::string& packet : VideoPackets(outputs[0]))
                    same += copied.count(packet) ? 1 : 0;
                EXPECT_EQ(same, 4 * kFps);
            }
            // Three runs of the source's pictures in order: the spans to the
            // picture (a re-encoded one from the picture on screen at its
            // start), a direct one from the key picture at or before it.
            ASSERT_EQ(runs.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                const int shown = static_cast<int>((kSpans[i].start_ms * kFps + 999) / 1000);  // first at or after
                const int on_screen = static_cast<int>(kSpans[i].start_ms * kFps / 1000);
                const int end = static_cast<int>((kSpans[i].end_ms * kFps + 999) / 1000);
                const int last = runs[i].first + runs[i].second;
                if (mode.direct && !mode.exact) {
                    EXPECT_EQ(runs[i].first, on_screen / kFps * kFps) << "span " << i;
                    // Its length counted from there, as a direct cut ends: a
                    // few pictures past it when pictures are reordered.
                    EXPECT_GE(runs[i].second, end - shown) << "span " << i;
                    EXPECT_LE(runs[i].second, end - runs[i].first + 5) << "span " << i;
                } else {
                    EXPECT_EQ(runs[i].first, mode.exact ? shown : on_screen) << "span " << i;
                    EXPECT_EQ(last, end) << "span " << i;
                }
            }
        }
    }
}

TEST_F(Spans, RefusalsAndNames)
{
    EncodingChoice choice = DefaultCutChoice("source rate");
    std::vector<std::string> outputs;
    const OutputTarget target{folder, "t", ".mp4"};
    EXPECT_EQ(FillSpansJob(job, source_path_, {{1000, 3000}, {2999, 4000}}, target, choice, false, &outputs),
              LaunchRefusal::SpansOverlap);
    EXPECT_EQ(FillSpansJob(job, source_path_, {{1000, 3000}, {3000, 3000}}, target, choice, false, &outputs),
              LaunchRefusal::EmptySpan);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    // Touching spans do not overlap; a span list of one is a plain cut.
    EXPECT_EQ(FindOverlappingSpan({{1000, 3000}}, {3000, 4000}), -1);
    EXPECT_EQ(SpanFileTitle("t", 0, 1), "t");
    EXPECT_EQ(SpanFileTitle("t", 1, 3), "t-2");
    // Names are taken as every output's: an existing t-1 makes t-1(0).
    FILE* taken = std::fopen((folder + "/t-1.mp4").c_str(), "w");
    ASSERT_TRUE(taken);
    std::fclose(taken);
    ASSERT_EQ(FillSpansJob(job, source_path_, {{1000, 2000}, {4000, 5000}}, target, choice, true, &outputs),
              LaunchRefusal::None);
    EXPECT_EQ(outputs, (std::vector<std::string>{folder + "/t-1(0).mp4", folder + "/t-2.mp4"}));
    // A job that never runs leaves nothing of its reservations.
    ReleaseReservedOutput(job);
    EXPECT_FALSE(std::filesystem::exists(outputs[0]));
    EXPECT_FALSE(std::filesystem::exists(outputs[1]));
}

// Exact spans into one file in each codec the exact cut re-encodes, some
// starting inside a group (re-encoded head), some ending inside one (tail):
// as many pictures as the three cuts alone, one clean stream, sound along.
TEST_F(Spans, ExactSpansInOneFileForEveryCutCodec)
{
    const std::vector<CutSpan> spans = {{500, 1700}, {2300, 3100}, {4200, 5500}};
    const struct {
        const char* file;
        int pictures;
    } kFiles[] = {{"exact_hevc10.mp4", 83}, {"exact_mpeg4.avi", 83}, {"exact_h264.mkv", 82}};
    EncodingChoice choice = DefaultCutChoice("source rate");
    choice.exact = true;
    for (const auto& f : kFiles) {
        SCOPED_TRACE(f.file);
        std::vector<std::string> outputs;
        ASSERT_EQ(FillSpansJob(job, FixturePath(f.file), spans, {folder, "series", FileExtensionWithDot(f.file)}, choice,
                               false, &outputs),
                  LaunchRefusal::None);
        Run(false);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Status(i), kInputDone) << i;
        EXPECT_EQ(IndependentDecoderComplaints(outputs[0]), "");
        const MediaFacts facts = AnalyzeMedia(outputs[0]);
        EXPECT_EQ(facts.video_frames, f.pictures);
        EXPECT_EQ(facts.pictures_out_of_order, 0);
        EXPECT_NEAR(facts.audio_end_s, facts.video_end_s, 0.05);
        std::filesystem::remove(outputs[0]);
    }
}

std::string Contents(const std::string& path)
{
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

// A span in a file of its own is the cut of that span alone, byte for byte:
// the copied packets are the source's, exactly as a single cut copies them.
TEST_F(Spans, ASeparateSpanIsItsOwnCut)
{
    for (const bool exact : {false, true}) {
        EncodingChoice choice = DefaultCutChoice("source rate");
        choice.exact = exact;
        const std::string title = exact ? "exact" : "direct";
        std::vector<std::string> outputs;
        ASSERT_EQ(FillSpansJob(job, source_path_, kSpans, {folder, title, ".mp4"}, choice, true, &outputs),
                  LaunchRefusal::None);
        Run(false);
        for (size_t i = 0; i < kSpans.size(); ++i) {
            ASSERT_EQ(FillCutJob(job, source_path_, FormatTimeText(kSpans[i].start_ms), FormatTimeText(kSpans[i].end_ms),
                                 {folder, title + "_alone", ".mp4"}, choice, &output),
                      LaunchRefusal::None);
            Run(false);
            const std::string alone = Contents(output);
            EXPECT_FALSE(alone.empty());
            EXPECT_TRUE(Contents(outputs[i]) == alone) << title << " span " << i;
        }
    }
}

// A stop keeps the spans written and the file being written; the spans not
// reached leave no file behind. Exact spans in one file keep the first span
// and what the second wrote, still one clean stream.
TEST_F(Spans, StopKeepsWhatWasWritten)
{
    for (const bool exact : {false, true}) {
        SCOPED_TRACE(exact ? "exact, one file" : "direct, separate");
        EncodingChoice choice = DefaultCutChoice("source rate");
        choice.exact = exact;
        std::vector<std::string> outputs;
        const std::string title = exact ? "stop_exact" : "stop";
        ASSERT_EQ(FillSpansJob(job, source_path_, kSpans, {folder, title, ".mp4"}, choice, !exact, &outputs),
                  LaunchRefusal::None);
        MarkJobStarting(job, false);
        // Stop as the second span begins: drive the worker from its progress.
        static ConversionJob* stopping;
        stopping = job;
        SetProgressObserver([](const ConversionJob* j) {
            if (j == stopping && j->current_input == 1)
                stopping->cancel_requested = 1;
        });
        StartConversionWorker(job).join();
        SetProgressObserver(nullptr);
        EXPECT_EQ(Status(0), kInputDone);
        EXPECT_NE(Status(1), kInputDone);
        EXPECT_TRUE(std::filesystem::exists(outputs[0]));
        EXPECT_EQ(IndependentDecoderComplaints(outputs[0]), "");
        if (exact) {
            const MediaFacts facts = AnalyzeMedia(outputs[0]);
            EXPECT_GE(facts.VideoSeconds(), 2.0);
            EXPECT_LT(facts.VideoSeconds(), 3.0);
            continue;
        }
        EXPECT_TRUE(std::filesystem::exists(outputs[1]));  // what the stop found written
        EXPECT_FALSE(std::filesystem::exists(outputs[2]));
    }
}

// A folder no file can be removed from while the object lives: read-only to
// its user, or, for root, who may write anyway, a read-only mount of itself.
class UnremovableFolder {
public:
    explicit UnremovableFolder(const std::string& path) : path_(path)
    {
        if (geteuid() != 0)
            made_ = chmod(path.c_str(), 0555) == 0;
        else if (mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0)
            made_ = mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0 || Undo();
    }
    ~UnremovableFolder() { Undo(); }
    bool made() const { return made_; }

private:
    bool Undo()
    {
        if (geteuid() != 0)
            chmod(path_.c_str(), 0755);
        else
            umount(path_.c_str());
        return false;
    }
    std::string path_;
    bool made_ = false;
};

// Separate spans, the folder made read-only after the launch, a stop as the
// second span begins: the third span's reservation cannot be removed, and
// is not named as an output.
TEST_F(Spans, AnEmptyReservationLeftInAReadOnlyFolderIsNoOutput)
{
    std::vector<std::string> outputs;
    ASSERT_EQ(FillSpansJob(job, source_path_, kSpans, {folder, "ro", ".mp4"}, DefaultCutChoice("k"), true, &outputs),
              LaunchRefusal::None);
    ASSERT_EQ(outputs.size(), 3u);
    UnremovableFolder read_only(folder);
    if (!read_only.made())
        GTEST_SKIP() << "the folder could not be made read-only";
    MarkJobStarting(job, false);
    static ConversionJob* stopping;
    stopping = job;
    SetProgressObserver([](const ConversionJob* j) {
        if (j == stopping && j->current_input == 1)
            stopping->cancel_requested = 1;
    });
    StartConversionWorker(job).join();
    SetProgressObserver(nullptr);
    const JobReading reading = ReadJob(*job);
    EXPECT_EQ(reading.kept, (std::vector<std::string>{outputs[0], outputs[1]}));
    EXPECT_EQ(reading.left_empty, std::vector<std::string>{outputs[2]});
}

struct FileChapter {
    double start_s, end_s;
    std::string title;
};

std::vector<FileChapter> ChaptersOf(const std::string& path)
{
    std::vector<FileChapter> chapters;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return chapters;
    InputContextPtr fmt(raw);
    for (unsigned i = 0; i < fmt->nb_chapters; ++i) {
        const AVChapter* ch = fmt->chapters[i];
        const AVDictionaryEntry* title = av_dict_get(ch->metadata, "title", nullptr, 0);
        chapters.push_back({ch->start * av_q2d(ch->time_base), ch->end * av_q2d(ch->time_base),
                            title ? title->value : ""});
    }
    return chapters;
}

std::vector<double> PictureTimes(const std::string& path)
{
    std::vector<double> times;
    ForEachDecodedPicture(path, [&](FramePtr, double t) { times.push_back(t); });
    return times;
}

// A chapter per span, in every mode into MKV and MP4: three chapters, each
// starting where its span's first picture is shown in the output, titled
// by the source times that span holds, the last running to the file's end.
// The source's own chapters give way to them; without the option they stay.
TEST_F(Spans, AChapterPerSpanStartsAtItsFirstPicture)
{
    const std::string mkv = MakeScratchFolder("spans_chapters_source") + "/counter.mkv";
    const std::string meta = mkv + ".txt";
    FILE* f = std::fopen(meta.c_str(), "w");
    ASSERT_TRUE(f);
    std::fputs(";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=6000\ntitle=A\n"
               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=6000\nEND=12000\ntitle=B\n", f);
    std::fclose(f);
    const std::string remux = "ffmpeg -nostdin -v error -y -i '" + source_path_ + "' -i '" + meta +
                              "' -map 0 -map_chapters 1 -c copy '" + mkv + "'";
    ASSERT_EQ(std::system(remux.c_str()), 0);
    const struct {
        const char* mode;
        bool direct, exact;
        const char* extension;
        bool part_chapters;
    } kCases[] = {
        {"direct", true, false, ".mp4", true}, {"exact", true, true, ".mp4", true},
        {"reencode", false, false, ".mp4", true}, {"direct", true, false, ".mkv", true},
        {"exact", true, true, ".mkv", true},   {"reencode", false, false, ".mkv", true},
        {"direct", true, false, ".mkv", false},
    };
    const double frame_s = 1.0 / kFps;
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.extension + (c.part_chapters ? "" : " without the option"));
        const std::string source = std::string(c.extension) == ".mkv" ? mkv : source_path_;
        EncodingChoice choice = DefaultCutChoice("source rate");
        choice.direct = c.direct;
        choice.exact = c.exact;
        choice.part_chapters = c.part_chapters;
        std::vector<std::string> outputs;
        ASSERT_EQ(FillSpansJob(job, source, kSpans, {folder, std::string("ch_") + c.mode, c.extension}, choice, false,
                               &outputs),
                  LaunchRefusal::None);
        Run(false);
        const std::vector<FileChapter> chapters = ChaptersOf(outputs[0]);
        if (!c.part_chapters) {
            // The source's chapters, clipped to each span as before.
            std::vector<std::string> titles;
            for (const FileChapter& ch : chapters)
                titles.push_back(ch.title);
            EXPECT_EQ(titles, (std::vector<std::string>{"A", "A", "B", "B"}));
            continue;
        }
        const std::vector<int> frames = SourceFrames(outputs[0], source_);
        const std::vector<double> times = PictureTimes(outputs[0]);
        const std::vector<double> source_times = PictureTimes(source);
        const auto runs = Runs(frames);
        ASSERT_EQ(runs.size(), 3u);
        ASSERT_EQ(chapters.size(), 3u);
        ASSERT_EQ(times.size(), frames.size());
        size_t first = 0;
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(chapters[k].start_s, times[first], 0.002) << "chapter " << k;
            const size_t dash = chapters[k].title.find(" \xE2\x80\x93 ");
            ASSERT_NE(dash, std::string::npos) << chapters[k].title;
            const int64_t from_ms = ParseTimeText(chapters[k].title.substr(0, dash));
            const int64_t to_ms = ParseTimeText(chapters[k].title.substr(dash + 5));
            const int last = runs[k].first + runs[k].second - 1;
            EXPECT_NEAR(from_ms, source_times[runs[k].first] * 1000, 1) << chapters[k].title;
            EXPECT_NEAR(to_ms, (source_times[last] + frame_s) * 1000, frame_s * 1000 + 1) << chapters[k].title;
            if (k > 0) {
                EXPECT_NEAR(chapters[k - 1].end_s, chapters[k].start_s, 0.001);
            }
            first += runs[k].second;
        }
        EXPECT_NEAR(chapters.back().end_s, AnalyzeMedia(outputs[0]).video_end_s, frame_s + 0.001);
    }
}

// Where no chapter can go, none is asked for: the launch says so.
TEST_F(Spans, NoChapterPerSpanWhereTheContainerHoldsNone)
{
    EncodingChoice choice = DefaultCutChoice("source rate");
    choice.direct = false;
    choice.part_chapters = true;
    const struct {
        const char* extension;
        bool separate;
        bool kept, unkept;
    } kCases[] = {{".mkv", false, true, false}, {".ts", false, false, true}, {".avi", false, false, true},
                  {".mkv", true, false, false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.extension) + (c.separate ? " separate" : ""));
        std::vector<std::string> outputs;
        LaunchDecision decided;
        ASSERT_EQ(FillSpansJob(job, source_path_, kSpans, {folder, "none", c.extension}, choice, c.separate, &outputs,
                               nullptr, &decided),
                  LaunchRefusal::None);
        EXPECT_EQ(job->part_chapters != 0, c.kept);
        EXPECT_EQ(decided.part_chapters_unkept, c.unkept);
        ReleaseReservedOutput(job);
    }
}

}  // namespace
