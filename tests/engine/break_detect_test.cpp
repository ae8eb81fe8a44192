// SPDX-License-Identifier: GPL-3.0-or-later
// Finding an advertising break in a recording and cutting it out: the
// scan finds both edges to the picture, and the found break, removed, leaves
// exactly the programme's pictures.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "break_detect.h"
#include "conversion_job.h"
#include "cut_list.h"
#include "exact_cut.h"
#include "job_setup.h"
#include "key_frames.h"
#include "media_checks.h"
#include "media_input.h"

namespace {

constexpr double kPictureS = 1.0 / 25;
// The break, in seconds of the picture's clock from its first picture
// (see make-break-fixtures.sh), and the pictures it takes.
constexpr double kBreakStartS = 7.4, kBreakEndS = 11.6;
constexpr int kBreakFirst = 185, kBreakPictures = 105, kPictures = 440;

// Pictures compared as 8x8-averaged luma: enough to tell one picture of the
// moving pattern from its neighbours.
std::vector<std::vector<double>> SmallLumas(const std::string& path)
{
    std::vector<std::vector<double>> out;
    ForEachDecodedPicture(path, [&](FramePtr f, double) {
        std::vector<double> cells;
        for (int y = 0; y + 8 <= f->height; y += 8)
            for (int x = 0; x + 8 <= f->width; x += 8) {
                double sum = 0;
                for (int j = 0; j < 8; ++j)
                    for (int i = 0; i < 8; ++i)
                        sum += f->data[0][(y + j) * f->linesize[0] + x + i];
                cells.push_back(sum / 64);
            }
        out.push_back(std::move(cells));
    });
    return out;
}

// For each picture of `path`, the number of the source picture it shows.
std::vector<int> SourcePictures(const std::string& path, const std::vector<std::vector<double>>& source)
{
    std::vector<int> numbers;
    for (const auto& picture : SmallLumas(path)) {
        int best = -1;
        double best_d = 1e18;
        for (size_t s = 0; s < source.size(); ++s) {
            double d = 0;
            for (size_t i = 0; i < picture.size() && i < source[s].size(); ++i)
                d += (picture[i] - source[s][i]) * (picture[i] - source[s][i]);
            if (picture.size() == source[s].size() && d < best_d) {
                best_d = d;
                best = static_cast<int>(s);
            }
        }
        numbers.push_back(best);
    }
    return numbers;
}

// Where the first picture lies after the file's start, in seconds.
double PictureOffsetS(const std::string& path)
{
    MediaInput in;
    if (OpenMediaInput(path.c_str(), in, 1) != kProbeOk || !in.VideoStream())
        return -1;
    const AVStream* st = in.VideoStream();
    return st->start_time * av_q2d(st->time_base) - ContainerStartSeconds(in.format.get());
}

DetectedPoints Detect(const std::string& path)
{
    std::atomic<bool> cancel{false};
    std::atomic<int> percent{-1};
    DetectedPoints points;
    EXPECT_EQ(DetectCutPoints(path.c_str(), DetectSettings{}, cancel, &percent, &points), kProbeOk) << path;
    EXPECT_EQ(percent, 100);
    return points;
}

// The found breaks as the spans a cut removes.
std::vector<CutSpan> RemoveSpans(const DetectedPoints& points)
{
    std::vector<CutSpan> spans;
    for (const TimeInterval& b : points.breaks)
        spans.push_back({(b.start_us + 500) / 1000, (b.end_us + 500) / 1000});
    return spans;
}

class Breaks : public JobTest {};

TEST_F(Breaks, TheScanFindsBothEdgesOfTheBreakToThePicture)
{
    for (const char* name : {"breaks_mpeg2.ts", "breaks_h264.ts"}) {
        SCOPED_TRACE(name);
        const std::string path = FixturePath(name);
        const double offset = PictureOffsetS(path);
        ASSERT_GE(offset, 0);
        const DetectedPoints points = Detect(path);
        EXPECT_TRUE(points.has_video && points.has_audio);
        ASSERT_EQ(points.breaks.size(), 1u);
        EXPECT_NEAR(points.breaks[0].start_us / 1e6, offset + kBreakStartS, kPictureS / 2);
        EXPECT_NEAR(points.breaks[0].end_us / 1e6, offset + kBreakEndS, kPictureS / 2);
        // Its two black-and-silent stretches, each 0.6 s, are found points.
        ASSERT_EQ(points.meetings.size(), 2u);
        EXPECT_NEAR((points.meetings[0].end_us - points.meetings[0].start_us) / 1e6, 0.6, kPictureS / 2);
        EXPECT_NEAR(points.meetings[1].start_us / 1e6, offset + kBreakEndS - 0.6, kPictureS / 2);
        ASSERT_GE(points.silence.size(), 2u);
        EXPECT_NEAR(points.silence[0].start_us / 1e6, offset + kBreakStartS, kPictureS);
        // The colour bars start a new scene; the moving programme does not.
        bool bars = false;
        for (const int64_t t : points.scene_changes_us) {
            bars = bars || std::abs(t / 1e6 - (offset + kBreakStartS + 0.6)) < kPictureS / 2;
            EXPECT_FALSE(t / 1e6 < offset + kBreakStartS - kPictureS) << t;
        }
        EXPECT_TRUE(bars);
        const std::vector<int64_t> found = points.FoundPoints();
        EXPECT_GE(found.size(), 4u);
        EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
    }
}

TEST_F(Breaks, AScanStopsWhenCancelledAndRefusesWhatIsNoMedia)
{
    std::atomic<bool> cancel{true};
    DetectedPoints points;
    EXPECT_EQ(DetectCutPoints(FixturePath("breaks_h264.ts").c_str(), DetectSettings{}, cancel, nullptr, &points),
              kDetectCancelled);
    cancel = false;
    EXPECT_EQ(DetectCutPoints((folder + "/missing.ts").c_str(), DetectSettings{}, cancel, nullptr, &points),
              kProbeNoSuchFile);
    EXPECT_TRUE(points.breaks.empty());
}

// Removes what the scan found from `path` in one job; returns the output.
std::string RemoveFoundBreaks(ConversionJob* job, const std::string& folder, const std::string& path, bool exact,
                              LaunchDecision* decided)
{
    const DetectedPoints points = Detect(path);
    const MediaFacts source = AnalyzeMedia(path);
    std::vector<CutSpan> kept;
    std::string why;
    EXPECT_TRUE(KeptPartsAfterRemoving(RemoveSpans(points), std::llround(source.video_end_s * 1000), 40, &kept, &why))
        << why;
    EXPECT_EQ(kept.size(), 2u);
    EncodingChoice choice = DefaultCutChoice("source rate");
    choice.direct = true;
    choice.exact = exact;
    std::vector<std::string> outputs;
    EXPECT_EQ(FillSpansJob(job, path, kept, {folder, exact ? "exact" : "direct", FileExtensionWithDot(path)}, choice,
                           false, &outputs, nullptr, decided),
              LaunchRefusal::None);
    return outputs.empty() ? "" : outputs[0];
}

TEST_F(Breaks, TheFoundBreakRemovedExactlyLeavesTheProgrammesPictures)
{
    // Exact cuts of a transport stream may not be possible yet: then the
    // same recording's packets in Matroska are cut, as they are in it.
    std::string path = FixturePath("breaks_h264.ts");
    std::string why;
    if (!ExactCutPossible(path.c_str(), &why))
        path = FixturePath("breaks_h264.mkv");
    LaunchDecision decided;
    output = RemoveFoundBreaks(job, folder, path, true, &decided);
    ASSERT_FALSE(output.empty());
    ASSERT_FALSE(decided.exact_fell_back) << decided.exact_why;
    Run(false);
    ASSERT_EQ(Status(0), kInputDone);
    ASSERT_EQ(Status(1), kInputDone);

    const std::vector<int> numbers = SourcePictures(output, SmallLumas(path));
    std::vector<int> programme;
    for (int n = 0; n < kPictures; ++n)
        if (n < kBreakFirst || n >= kBreakFirst + kBreakPictures)
            programme.push_back(n);
    EXPECT_EQ(numbers, programme);
    EXPECT_EQ(IndependentDecoderComplaints(output), "");
    const MediaFacts out = AnalyzeMedia(output);
    EXPECT_EQ(out.decode_errors, 0);
    EXPECT_NEAR(out.audio_end_s, out.video_end_s, 1024.0 / 48000 + 0.002);
}

TEST_F(Breaks, RemovedDirectlyEachKeptPartStartsAtAKeyPictureAsSaid)
{
    // A direct cut starts each part at the key picture at or before its
    // start: the second part, at the one before the break's end. MPEG-2's
    // open groups also bring the pictures shown before that key picture.
    for (const bool mpeg2 : {false, true}) {
        const std::string path = FixturePath(mpeg2 ? "breaks_mpeg2.ts" : "breaks_h264.ts");
        SCOPED_TRACE(path);
        LaunchDecision decided;
        output = RemoveFoundBreaks(job, folder, path, false, &decided);
        ASSERT_FALSE(output.empty());
        std::vector<int64_t> keys_us;
        std::atomic<bool> cancel{false};
        ASSERT_EQ(ScanKeyFrames(path.c_str(), cancel, &keys_us), kProbeOk);
        MediaInput in;
        ASSERT_EQ(OpenMediaInput(path.c_str(), in, 1), kProbeOk);
        const int64_t origin_ms = std::llround(ContainerStartSeconds(in.format.get()) * 1000);
        std::vector<int64_t> keys_ms;
        for (const int64_t k : keys_us)
            keys_ms.push_back(k / 1000 - origin_ms);
        const CutSpan second{std::llround(job->start_s[1] * 1000), std::llround(job->end_s[1] * 1000)};
        const CutSpan said = PartAtKeyPictures(second, keys_ms);
        EXPECT_LT(said.start_ms, second.start_ms);
        Run(false);
        ASSERT_EQ(Status(0), kInputDone);
        ASSERT_EQ(Status(1), kInputDone);

        // The programme up to the break, then the break's pictures from the
        // key picture said, then every programme picture after the break.
        const double offset = PictureOffsetS(path);
        const int said_first = static_cast<int>(std::lround((said.start_ms / 1000.0 - offset) / kPictureS));
        const std::vector<int> numbers = SourcePictures(output, SmallLumas(path));
        ASSERT_GT(numbers.size(), static_cast<size_t>(kPictures - kBreakPictures));
        int programme_before = 0, break_pictures = 0;
        for (const int n : numbers) {
            programme_before += n < kBreakFirst ? 1 : 0;
            break_pictures += n >= kBreakFirst && n < kBreakFirst + kBreakPictures ? 1 : 0;
        }
        EXPECT_EQ(programme_before, kBreakFirst);
        const std::vector<int> after(numbers.begin() + kBreakFirst + break_pictures, numbers.end());
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(after.front(), kBreakFirst + kBreakPictures);
        EXPECT_EQ(after.back(), kPictures - 1);
        EXPECT_TRUE(std::is_sorted(after.begin(), after.end()));
        if (!mpeg2) {
            // The key picture said lies in the colour bars (alike, so each
            // is taken for the first): the part shows them from there on.
            ASSERT_GT(said_first, kBreakFirst + 15);
            ASSERT_LT(said_first, kBreakFirst + 90);
            const auto first_bars = std::find(numbers.begin(), numbers.end(), kBreakFirst + 15);
            const auto resumed = std::find(numbers.begin(), numbers.end(), kBreakFirst + kBreakPictures);
            EXPECT_EQ(resumed - first_bars, kBreakFirst + kBreakPictures - said_first);
            EXPECT_EQ(IndependentDecoderComplaints(output), "");
        }
    }
}

}  // namespace
