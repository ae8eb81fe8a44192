// SPDX-License-Identifier: GPL-3.0-or-later
// The preview as the user sees it: which picture the snapshot shows, its
// size, and that a failure leaves the previous snapshot alone.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "av_handles.h"
#include "conversion_job.h"
#include "preview.h"
#include "scaling.h"

namespace fs = std::filesystem;

namespace {

// Bicubic scaling of the same picture on both sides leaves only the JPEG
// loss, a few levels on average; a different picture of the test pattern
// differs by far more.
constexpr double kSamePicture = 6.0;

struct RgbImage {
    int width = 0;
    int height = 0;
    bool progressive = false;
    std::vector<uint8_t> pixels;  // packed RGB, top row first
};

struct Picture {
    double seconds;  // on the container's timeline
    bool key;
    RgbImage rgb;
};

std::string Fixture(const char* name)
{
    const char* dir = std::getenv("MORVANE_FIXTURES");
    return std::string(dir ? dir : "") + "/" + name;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TestJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

bool ReadJpeg(const fs::path& path, RgbImage* image)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    jpeg_decompress_struct cinfo;
    TestJpegError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<TestJpegError*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image->width = static_cast<int>(cinfo.output_width);
    image->height = static_cast<int>(cinfo.output_height);
    image->progressive = cinfo.progressive_mode;
    image->pixels.assign(static_cast<size_t>(image->width) * image->height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->pixels.data() + static_cast<size_t>(cinfo.output_scanline) * image->width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}

// Every picture of the video up to `until` seconds, scaled as the preview scales.
std::vector<Picture> ReferencePictures(const std::string& path, double until)
{
    std::vector<Picture> pictures;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0)
        return pictures;
    InputContextPtr format(raw);
    avformat_find_stream_info(raw, nullptr);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return pictures;
    AVStream* st = raw->streams[index];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), st->codecpar);
    if (avcodec_open2(dec.get(), codec, nullptr) < 0)
        return pictures;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame();
    bool more = true;
    bool done = false;
    while (!done) {
        if (more) {
            more = av_read_frame(raw, packet.get()) >= 0;
            if (more && packet->stream_index != index) {
                av_packet_unref(packet.get());
                continue;
            }
            avcodec_send_packet(dec.get(), more ? packet.get() : nullptr);
            av_packet_unref(packet.get());
        }
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            Picture p;
            p.seconds = frame->best_effort_timestamp * av_q2d(st->time_base);
            p.key = frame->key_frame;
            p.rgb.width = 320;
            p.rgb.height = 240;
            p.rgb.pixels.resize(320 * 240 * 3);
            ScalerPtr sws(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                         320, 240, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
            uint8_t* dst[1] = {p.rgb.pixels.data()};
            int stride[1] = {960};
            sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, stride);
            if (p.seconds > until)
                done = true;
            else
                pictures.push_back(std::move(p));
        }
        if (!more)
            done = true;
    }
    return pictures;
}

const Picture& PictureAt(const std::vector<Picture>& pictures, double seconds)
{
    const Picture* best = &pictures.front();
    for (const Picture& p : pictures)
        if (std::abs(p.seconds - seconds) < std::abs(best->seconds - seconds))
            best = &p;
    return *best;
}

double MeanAbsDiff(const RgbImage& a, const RgbImage& b)
{
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        sum += std::abs(static_cast<int>(a.pixels[i]) - static_cast<int>(b.pixels[i]));
    return sum / static_cast<double>(a.pixels.size());
}

class PreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NE(std::getenv("MORVANE_FIXTURES"), nullptr) << "MORVANE_FIXTURES names the media folder";
        clips_ = fs::temp_directory_path() / ("preview_clips_" + std::to_string(getpid()));
        fs::create_directories(clips_);
        // 16:9, so a letter-boxed snapshot would show.
        MakeClip("wide.mp4", "-f lavfi -i testsrc2=size=640x360:rate=25:duration=2 -c:v libx264 -g 25");
        // Matroska has continuous timestamps: sought by time from a start of 10 s.
        MakeClip("start10.mkv",
                 "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v libx264 -g 25 -output_ts_offset 10");
        // One picture and B-frame reordering: only the decoder's drain yields it.
        MakeClip("mpeg4.ts", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=8 -c:v mpeg4 -q:v 5 -g 25");
        MakeClip("one_picture.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 1 -c:v libx264");
    }
    static void TearDownTestSuite() { fs::remove_all(clips_); }

    static void MakeClip(const char* name, const std::string& args)
    {
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y " + args + " -pix_fmt yuv420p '" +
                                (clips_ / name).string() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    static std::string Clip(const char* name) { return (clips_ / name).string(); }

    void SetUp() override
    {
        job_.reset(new ConversionJob());
        InitConversionJob(job_.get());
        dir_ = clips_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_);
        SetSnapshot(dir_ / "image.jpg");
    }

    void SetSnapshot(const fs::path& path)
    {
        snapshot_ = path;
        wide_snapshot_ = path.wstring();
        job_->snapshot_path = wide_snapshot_.data();
    }

    // What the timeline does before each request.
    bool Preview(const std::string& file, double seconds)
    {
        probe_path_ = file;
        job_->probe_path = probe_path_.data();
        job_->current_input = 0;
        job_->start_s[0] = seconds;
        return DecodePreviewFrame(job_.get());
    }

    RgbImage Snapshot()
    {
        RgbImage image;
        EXPECT_TRUE(ReadJpeg(snapshot_, &image)) << snapshot_;
        return image;
    }

    static fs::path clips_;
    std::unique_ptr<ConversionJob> job_;
    fs::path dir_;
    fs::path snapshot_;
    std::wstring wide_snapshot_;
    std::string probe_path_;
};

fs::path PreviewTest::clips_;

TEST_F(PreviewTest, PositionZeroShowsTheFirstPictureAsA320x240BaselineJpeg)
{
    ASSERT_TRUE(Preview(Fixture("h264_aac.mp4"), 0));
    const RgbImage shot = Snapshot();
    EXPECT_EQ(shot.width, 320);
    EXPECT_EQ(shot.height, 240);
    EXPECT_FALSE(shot.progressive);
    const auto refs = ReferencePictures(Fixture("h264_aac.mp4"), 1.0);
    ASSERT_FALSE(refs.empty());
    EXPECT_LT(MeanAbsDiff(shot, PictureAt(refs, 0.0).rgb), kSamePicture);
    EXPECT_GT(MeanAbsDiff(shot, PictureAt(refs, 1.0).rgb), kSamePicture);
    EXPECT_FALSE(fs::exists(snapshot_.string() + ".part"));
}

// An edit list hides 1.3 s of pictures before the first one shown; they are
// decoded for their references only.
TEST_F(PreviewTest, PositionZeroOfAnEditListShowsItsFirstShownPicture)
{
    ASSERT_TRUE(Preview(Fixture("editlist.mp4"), 0));
    const RgbImage shot = Snapshot();
    const auto source = ReferencePictures(Fixture("editlist_src.mp4"), 2.0);
    ASSERT_FALSE(source.empty());
    EXPECT_LT(MeanAbsDiff(shot, PictureAt(source, 1.32).rgb), kSamePicture);
    EXPECT_GT(MeanAbsDiff(shot, PictureAt(source, 0.0).rgb), kSamePicture);
}

TEST_F(PreviewTest, APositionBetweenKeyFramesShowsTheEarlierKeyFrame)
{
    // Key frames every 2 s; 3.4 s lies between those at 2 s and 4 s.
    ASSERT_TRUE(Preview(Fixture("h264_aac.mp4"), 3.4));
    EXPECT_DOUBLE_EQ(job_->start_s[0], 3.4);  // no container start time to add
    EXPECT_EQ(job_->seek_by_bytes, 0);
    const auto refs = ReferencePictures(Fixture("h264_aac.mp4"), 4.0);
    const Picture& key = PictureAt(refs, 2.0);
    ASSERT_TRUE(key.key);
    const RgbImage shot = Snapshot();
    const double to_key = MeanAbsDiff(shot, key.rgb);
    EXPECT_LT(to_key, kSamePicture);
    EXPECT_LT(to_key, MeanAbsDiff(shot, PictureAt(refs, 3.4).rgb));
    EXPECT_LT(to_key, MeanAbsDiff(shot, PictureAt(refs, 2.04).rgb));
}

TEST_F(PreviewTest, AWideSourceIsStretchedNotLetterBoxed)
{
    ASSERT_TRUE(Preview(Clip("wide.mp4"), 1.5));
    const RgbImage shot = Snapshot();
    EXPECT_EQ(shot.width, 320);
    EXPECT_EQ(shot.height, 240);
    const auto refs = ReferencePictures(Clip("wide.mp4"), 1.0);
    EXPECT_LT(MeanAbsDiff(shot, PictureAt(refs, 1.0).rgb), kSamePicture);
}

TEST_F(PreviewTest, ATimeSeekAddsTheContainerStartTime)
{
    ASSERT_TRUE(Preview(Clip("start10.mkv"), 1.0));
    EXPECT_DOUBLE_EQ(job_->input_start_s, 10.0);
    EXPECT_DOUBLE_EQ(job_->start_s[0], 11.0);
    const auto refs = ReferencePictures(Clip("start10.mkv"), 11.5);
    const RgbImage shot = Snapshot();
    EXPECT_LT(MeanAbsDiff(shot, PictureAt(refs, 11.0).rgb), kSamePicture);
    EXPECT_GT(MeanAbsDiff(shot, PictureAt(refs, 10.0).rgb), kSamePicture);
}

// Transport streams have no index: their timestamps are searched, which
// lands mid-group; MPEG-4 part 2 would show the P-frames after it as smear.
// The picture shown is the key frame at or before the position, never after.
TEST_F(PreviewTest, ATransportStreamShowsTheWholeKeyFrameAtOrBeforeThePosition)
{
    for (const std::string& file : {Fixture("mpeg2.ts"), Fixture("start10.ts"), Clip("mpeg4.ts")}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(Preview(file, 2.0));
        EXPECT_EQ(job_->seek_by_bytes, 0);
        EXPECT_DOUBLE_EQ(job_->start_s[0], 2.0 + job_->input_start_s);
        const RgbImage shot = Snapshot();

        const auto refs = ReferencePictures(file, 1e9);
        ASSERT_FALSE(refs.empty());
        const Picture* best = nullptr;
        double best_diff = 1e9;
        for (const Picture& p : refs) {
            const double d = MeanAbsDiff(shot, p.rgb);
            if (d < best_diff) {
                best_diff = d;
                best = &p;
            }
        }
        EXPECT_LT(best_diff, kSamePicture);
        EXPECT_TRUE(best->key) << "at " << best->seconds;
        EXPECT_LE(best->seconds - refs.front().seconds, 2.0 + 1e-3);
        EXPECT_GE(best->seconds - refs.front().seconds, 1.0 - 1e-3);
    }
}

TEST_F(PreviewTest, AOnePictureFileStillGivesASnapshot)
{
    ASSERT_TRUE(Preview(Clip("one_picture.mp4"), 0));
    const auto refs = ReferencePictures(Clip("one_picture.mp4"), 1.0);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_LT(MeanAbsDiff(Snapshot(), refs[0].rgb), kSamePicture);
}

TEST_F(PreviewTest, NothingToShowKeepsThePreviousSnapshot)
{
    ASSERT_TRUE(Preview(Fixture("h264_aac.mp4"), 0));
    const std::string before = ReadBytes(snapshot_);
    ASSERT_FALSE(before.empty());
    for (const char* name : {"audio_only.m4a", "missing.mp4", "empty.mp4", "random.mp4", "text.mp4"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Preview(Fixture(name), 1.0));
        EXPECT_EQ(ReadBytes(snapshot_), before);
    }
    // The record's input index after a finished job points past start_s.
    probe_path_ = Fixture("h264_aac.mp4");
    job_->probe_path = probe_path_.data();
    job_->current_input = kMaxJobInputs + 1;
    EXPECT_FALSE(DecodePreviewFrame(job_.get()));
    EXPECT_EQ(ReadBytes(snapshot_), before);
}

TEST_F(PreviewTest, AnUnwritableSnapshotPathWritesNothing)
{
    SetSnapshot(dir_ / "no such folder" / "image.jpg");
    EXPECT_FALSE(Preview(Fixture("h264_aac.mp4"), 1.0));
    EXPECT_FALSE(fs::exists(dir_ / "no such folder"));

    fs::create_directories(dir_ / "a folder");
    SetSnapshot(dir_ / "a folder");
    EXPECT_FALSE(Preview(Fixture("h264_aac.mp4"), 1.0));
    EXPECT_TRUE(fs::is_directory(dir_ / "a folder"));
    EXPECT_FALSE(fs::exists(dir_ / "a folder.part"));
}

TEST_F(PreviewTest, AWriteThatFailsHalfwayKeepsThePreviousSnapshot)
{
    ASSERT_TRUE(Preview(Fixture("h264_aac.mp4"), 0));
    const std::string before = ReadBytes(snapshot_);

    FramePtr picture = MakeRgbPicture(320, 240);
    ASSERT_TRUE(picture);
    for (int y = 0; y < 240; ++y)  // noise compresses badly: well past the limit below
        for (int x = 0; x < 960; ++x)
            picture->data[0][y * picture->linesize[0] + x] = static_cast<uint8_t>((x * 7919 + y * 104729) >> 3);

    // Writes past 2 KiB fail inside the JPEG library, which must return
    // rather than end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 2048;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = WriteSnapshotJpeg(wide_snapshot_.c_str(), picture.get());
    setrlimit(RLIMIT_FSIZE, &old_limit);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(snapshot_), before);
    EXPECT_FALSE(fs::exists(snapshot_.string() + ".part"));

    EXPECT_TRUE(WriteSnapshotJpeg(wide_snapshot_.c_str(), picture.get()));
    EXPECT_NE(ReadBytes(snapshot_), before);
}

TEST_F(PreviewTest, ANonAsciiSnapshotPathIsWrittenUnderItsUtf8Name)
{
    wide_snapshot_ = (dir_.wstring() + L"/vorschau-\u00fc-\u65e5\u672c-\U0001F3AC.jpg");
    job_->snapshot_path = wide_snapshot_.data();
    snapshot_ = dir_ / fs::u8path(u8"vorschau-\u00fc-\u65e5\u672c-\U0001F3AC.jpg");
    ASSERT_TRUE(Preview(Fixture("h264_aac.mp4"), 0));
    EXPECT_EQ(Snapshot().width, 320);
}

}  // namespace
