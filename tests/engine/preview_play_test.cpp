// SPDX-License-Identifier: GPL-3.0-or-later
// What the in-window play is made of: the sound decoded from any time beeps
// where the file beeps, and the pictures asked for along a sound clock come
// one after the other, each the one its time says. The clips are made here:
// pictures carry their number as a 4 x 4 grid of black and white blocks, the
// sound beeps for 60 ms at the start of each whole second.
#include <gtest/gtest.h>

#include "media_input.h"
#include "preview_decoder.h"
#include "preview_sound.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kOutRate = 48000;
constexpr int kOutChannels = 2;

class PreviewPlayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = fs::temp_directory_path() / ("morvane_play_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const std::string pictures =
            "-f lavfi -i \"color=c=black:s=320x240:r=25:d=5,geq=lum='255*mod(floor(N/pow(2\\,floor(X*4/W)+4*floor(Y*4/"
            "H)))\\,2)':cb=128:cr=128\" ";
        const std::string beeps = "-f lavfi -i \"aevalsrc='if(lt(mod(t\\,1)\\,0.06)\\,0.5*sin(2*PI*1000*t)\\,0)':s=44100:d=5\" ";
        const std::string x264 = "-c:v libx264 -preset ultrafast -bf 2 -g 50 -pix_fmt yuv420p -c:a aac -b:a 96k ";
        Make("beeps.mp4", pictures + beeps + x264);
        // The sound starts 0.3 s after the pictures.
        Make("late_sound.mp4", pictures + "-itsoffset 0.3 " + beeps + x264);
        Make("no_sound.mp4", pictures + "-c:v libx264 -preset ultrafast -pix_fmt yuv420p ");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static void Make(const char* name, const std::string& args)
    {
        const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y " + args + "'" + Path(name) + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    static std::string Path(const char* name) { return (dir_ / name).string(); }

    // Where each beep starts, in ms from the first sample read.
    static std::vector<double> BeepStartsMs(PreviewSound& sound, double seconds)
    {
        std::vector<int16_t> samples(static_cast<size_t>(seconds * kOutRate) * kOutChannels);
        const int read = sound.Read(samples.data(), static_cast<int>(samples.size() / kOutChannels));
        std::vector<double> starts;
        int quiet = kOutRate;  // samples since the last loud one
        for (int i = 0; i < read; ++i) {
            const bool loud = std::abs(samples[static_cast<size_t>(i) * kOutChannels]) > 2000;
            if (loud && quiet > kOutRate / 10)
                starts.push_back(1000.0 * i / kOutRate);
            quiet = loud ? 0 : quiet + 1;
        }
        return starts;
    }

    static fs::path dir_;
};

fs::path PreviewPlayTest::dir_;

// The number a numbered picture carries inside its bars; -1 when unreadable.
int PictureNumber(const PreviewPicture& p)
{
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = p.shown_x + (bit % 4) * p.shown_width / 4 + p.shown_width / 8;
        const int y = p.shown_y + (bit / 4) * p.shown_height / 4 + p.shown_height / 8;
        const int gray = p.rgb[(static_cast<size_t>(y) * p.width + x) * 3 + 1];
        if (gray > 60 && gray < 196)
            return -1;
        number |= (gray >= 196 ? 1 : 0) << bit;
    }
    return number;
}

}  // namespace

TEST_F(PreviewPlayTest, SoundFromAnyTimeBeepsAtTheFilesWholeSeconds)
{
    const struct {
        const char* file;
        double from_s;
        std::vector<double> beeps_ms;  // from `from_s`
    } cases[] = {
        {"beeps.mp4", 0.0, {0, 1000, 2000}},
        {"beeps.mp4", 0.5, {500, 1500, 2500}},
        {"beeps.mp4", 1.98, {20, 1020, 2020}},
        {"beeps.mp4", 3.25, {750}},  // and the track ends at 5 s
        {"late_sound.mp4", 0.0, {300, 1300, 2300}},
        {"late_sound.mp4", 2.0, {300, 1300, 2300}},  // it ends at 5.3 s
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " from " + std::to_string(c.from_s));
        PreviewSound sound(kOutRate, kOutChannels);
        ASSERT_EQ(sound.Open(Path(c.file).c_str()), kProbeOk);
        ASSERT_TRUE(sound.HasSound());
        ASSERT_TRUE(sound.SeekTo(static_cast<int64_t>(c.from_s * 1e6)));
        EXPECT_EQ(sound.PositionUs(), static_cast<int64_t>(c.from_s * 1e6));
        const std::vector<double> starts = BeepStartsMs(sound, 3.0);
        ASSERT_EQ(starts.size(), c.beeps_ms.size());
        for (size_t i = 0; i < starts.size(); ++i)
            EXPECT_NEAR(starts[i], c.beeps_ms[i], 2.0) << "beep " << i;
    }
}

TEST_F(PreviewPlayTest, SoundEndsWithItsTrackAndAFileWithoutSoundHasNone)
{
    PreviewSound sound(kOutRate, kOutChannels);
    ASSERT_EQ(sound.Open(Path("beeps.mp4").c_str()), kProbeOk);
    ASSERT_TRUE(sound.SeekTo(4500000));
    std::vector<int16_t> samples(kOutRate * kOutChannels);
    const int read = sound.Read(samples.data(), kOutRate);
    EXPECT_NEAR(read, kOutRate / 2, kOutRate / 50);
    EXPECT_EQ(sound.Read(samples.data(), kOutRate), 0);
    EXPECT_NEAR(static_cast<double>(sound.PositionUs()), 5e6, 2e4);

    PreviewSound silent(kOutRate, kOutChannels);
    EXPECT_EQ(silent.Open(Path("no_sound.mp4").c_str()), kProbeOk);
    EXPECT_FALSE(silent.HasSound());
    EXPECT_EQ(silent.Read(samples.data(), 10), 0);
    EXPECT_NE(silent.Open(Path("missing.mp4").c_str()), kProbeOk);
}

// A play from 1.3 s to 3.7 s asks for the picture at each reading of the
// sound clock, which runs on in uneven steps: it never goes back and never
// shows another picture than its time says.
TEST_F(PreviewPlayTest, PicturesAlongASoundClockComeInOrder)
{
    PreviewDecoder pictures(320, 240);
    ASSERT_EQ(pictures.Open(Path("beeps.mp4").c_str()), kProbeOk);
    std::vector<int> shown;
    int64_t clock_us = 1300000;
    for (int reading = 0; clock_us < 3700000; ++reading) {
        PreviewPicture picture;
        ASSERT_TRUE(pictures.PictureAt(clock_us, &picture));
        const int number = PictureNumber(picture);
        EXPECT_EQ(number, static_cast<int>(clock_us * 25 / 1000000)) << clock_us << " us";
        if (shown.empty() || shown.back() != number)
            shown.push_back(number);
        clock_us += 7000 + 11000 * (reading % 5);  // 7 to 51 ms
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 32);
    EXPECT_GE(shown.back(), 90);  // the last reading lies before 3.7 s
    for (size_t i = 1; i < shown.size(); ++i)
        EXPECT_GT(shown[i], shown[i - 1]);
}
