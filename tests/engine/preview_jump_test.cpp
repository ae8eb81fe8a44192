// SPDX-License-Identifier: GPL-3.0-or-later
// A picture the preview reaches by a jump, a step or a drag is, byte for
// byte, the picture a plain decode of every picture in order gives, however
// much the preview leaves undecoded on its way and whatever it kept from the
// requests before. The clips are made here: moving pictures with B-pictures
// that others refer to, a key picture every 2 s.
#include <gtest/gtest.h>

#include "media_input.h"
#include "preview_decoder.h"
#include "probe.h"
#include "scaling.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFps = 25;
constexpr int kGroup = 50;  // pictures from one key picture to the next
constexpr int kWidth = 320, kHeight = 240;

// Every picture of `path` in display order, decoded one after the other with
// nothing left out, as RGB at its own size, converted as the preview converts.
std::vector<std::vector<uint8_t>> DecodeEveryPicture(const std::string& path)
{
    std::vector<std::vector<uint8_t>> pictures;
    MediaInput in;
    MediaInputOptions options;
    options.open_audio = false;
    if (OpenMediaInput(path.c_str(), in, options) != kProbeOk || !in.video_dec)
        return pictures;
    PacketPtr packet = MakePacket();
    FramePtr frame = MakeFrame(), rgb = MakeRgbPicture(kWidth, kHeight);
    if (!rgb)
        return pictures;
    ScalerPtr scaler;
    const auto take = [&] {
        while (avcodec_receive_frame(in.video_dec.get(), frame.get()) >= 0) {
            scaler.reset(CachedScaler(scaler.release(), frame->width, frame->height,
                                      static_cast<AVPixelFormat>(frame->format), kWidth, kHeight, AV_PIX_FMT_RGB24,
                                      SWS_BICUBIC));
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, rgb->data, rgb->linesize);
            std::vector<uint8_t> rows(static_cast<size_t>(kWidth) * kHeight * 3);
            for (int y = 0; y < kHeight; ++y)
                std::copy_n(rgb->data[0] + static_cast<size_t>(y) * rgb->linesize[0], kWidth * 3,
                            rows.begin() + static_cast<ptrdiff_t>(y) * kWidth * 3);
            pictures.push_back(std::move(rows));
        }
    };
    while (av_read_frame(in.format.get(), packet.get()) >= 0) {
        if (packet->stream_index == in.video_index)
            avcodec_send_packet(in.video_dec.get(), packet.get());
        av_packet_unref(packet.get());
        take();
    }
    avcodec_send_packet(in.video_dec.get(), nullptr);
    take();
    return pictures;
}

struct Request {
    enum Kind { kExact, kKey } kind;
    int picture;  // asked for in the middle of its time
};

// Jumps across and within groups, forward and back, steps of one picture,
// and drags, in an order that lets each request meet what the ones before
// left kept; the same order every run.
std::vector<Request> MixedRequests(int pictures)
{
    std::vector<Request> requests{{Request::kExact, 0},           {Request::kExact, 137},
                                  {Request::kExact, 138},         {Request::kExact, 136},
                                  {Request::kExact, 60},          {Request::kExact, 95},
                                  {Request::kKey, 120},           {Request::kExact, 149},
                                  {Request::kExact, kGroup},      {Request::kExact, pictures - 1},
                                  {Request::kKey, 120},           {Request::kExact, 99}};
    std::mt19937 random(31);
    int at = 99;
    for (int i = 0; i < 60; ++i) {
        const int kind = static_cast<int>(random() % 6);
        if (kind == 0)
            at = static_cast<int>(random() % static_cast<unsigned>(pictures));  // a jump anywhere
        else if (kind == 1)
            at = std::min(pictures - 1, at + 2 + static_cast<int>(random() % 40));  // on within or across a group
        else if (kind == 2)
            at = std::max(0, at - 1 - static_cast<int>(random() % 20));  // back
        else
            at = std::clamp(at + (kind == 3 ? -1 : 1), 0, pictures - 1);  // a step
        requests.push_back({kind == 5 && i % 4 == 0 ? Request::kKey : Request::kExact, at});
    }
    return requests;
}

}  // namespace

class PreviewJumpTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        dir_ = fs::temp_directory_path() / ("morvane_jump_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const std::string clip = (dir_ / "clip.mp4").string();
        const std::string make =
            "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=8 "
            "-c:v libx264 -preset veryfast -bf 3 -b_strategy 0 -g 50 -keyint_min 50 -sc_threshold 0 "
            "-pix_fmt yuv420p '" + clip + "'";
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        for (const char* ext : {"mkv", "ts"}) {
            const std::string copy = "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + clip +
                                     "' -c copy '" + (dir_ / (std::string("clip.") + ext)).string() + "'";
            ASSERT_EQ(std::system(copy.c_str()), 0) << copy;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string Clip() { return (dir_ / (std::string("clip.") + GetParam())).string(); }

    static fs::path dir_;
};

fs::path PreviewJumpTest::dir_;

TEST_P(PreviewJumpTest, EveryRequestShowsThePictureAPlainDecodeGives)
{
    const auto every = DecodeEveryPicture(Clip());
    ASSERT_EQ(every.size(), 8u * kFps);
    const int pictures = static_cast<int>(every.size());
    PreviewDecoder preview(kWidth, kHeight);
    ASSERT_EQ(preview.Open(Clip().c_str()), kProbeOk);
    PreviewPicture shown;
    const std::vector<Request> requests = MixedRequests(pictures);
    for (size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        const int64_t us = r.picture * 1000000LL / kFps + 20000;
        const bool exact = r.kind == Request::kExact;
        SCOPED_TRACE((exact ? "picture " : "key picture before ") + std::to_string(r.picture));
        // Every third decode is first stopped after a few pictures, as a
        // newer request stops one; the request after it decodes on.
        if (exact && i % 3 == 0) {
            size_t asked = 0;
            preview.PictureAt(us, &shown, [&asked, i] { return ++asked > 1 + i % 5; });
        }
        // A request called quick decodes a step's worth of pictures at most.
        const bool quick = exact && preview.IsQuick(us);
        const long long before = preview.DecodedCount();
        ASSERT_TRUE(exact ? preview.PictureAt(us, &shown) : preview.KeyPictureAt(us, &shown));
        if (quick) {
            EXPECT_LE(preview.DecodedCount() - before, 3);
        }
        const int expected = exact ? r.picture : r.picture / kGroup * kGroup;
        EXPECT_EQ(shown.start_us, expected * 1000000LL / kFps);
        EXPECT_TRUE(shown.rgb == every[static_cast<size_t>(expected)]) << "pixels differ";
    }
}

TEST_P(PreviewJumpTest, AJumpLeavesPicturesNothingRefersToUndecoded)
{
    PreviewDecoder preview(kWidth, kHeight);
    ASSERT_EQ(preview.Open(Clip().c_str()), kProbeOk);
    PreviewPicture shown;
    const int middle = kGroup + 45;
    ASSERT_TRUE(preview.PictureAt(middle * 1000000LL / kFps, &shown));
    EXPECT_EQ(shown.start_us, middle * 1000000LL / kFps);
    // Three B-pictures between references, one of them referred to: of the
    // pictures well before the one shown, about half are left out.
    EXPECT_LT(preview.DecodedCount(), middle - kGroup - 5);
}

INSTANTIATE_TEST_SUITE_P(Containers, PreviewJumpTest, ::testing::Values("mp4", "mkv", "ts"),
                         [](const auto& info) { return std::string(info.param); });
