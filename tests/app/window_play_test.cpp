// SPDX-License-Identifier: GPL-3.0-or-later
// The play inside the window, driven by a sound output the test holds: its
// clock moves only when the test says, so each picture shown can be checked
// against the time reached. The clip's pictures carry their number as a
// 4 x 4 grid of black and white blocks; its sound beeps at each whole second.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "window_player.h"

#include <QImage>
#include <QProcess>
#include <QTest>
#include <QToolButton>

#include <cmath>

namespace {

constexpr int kFps = 25;

int PictureNumber(const QImage& shown)
{
    if (shown.isNull())
        return -1;
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int gray = qGray(shown.pixel((bit % 4) * shown.width() / 4 + shown.width() / 8,
                                           (bit / 4) * shown.height() / 4 + shown.height() / 8));
        if (gray > 60 && gray < 196)
            return -1;
        number |= (gray >= 196 ? 1 : 0) << bit;
    }
    return number;
}

// What the output was given and how far the test says it has been heard.
struct Heard {
    QByteArray written;
    long long playedUs = 0;
    bool started = false, stopped = false;
};

class FakeOutput : public SoundOutput {
public:
    explicit FakeOutput(std::shared_ptr<Heard> heard) : m_heard(std::move(heard)) {}
    bool Start(int rate, int channels) override
    {
        *m_heard = Heard();
        m_heard->started = rate == WindowPlayer::kRate && channels == WindowPlayer::kChannels;
        return m_heard->started;
    }
    // Half a second ahead of what was heard.
    long long BytesFree() const override
    {
        const long long heardBytes = m_heard->playedUs * WindowPlayer::kRate / 1000000 * 4;
        return std::max(0LL, heardBytes + WindowPlayer::kRate * 2 - m_heard->written.size());
    }
    void Write(const char* data, long long bytes) override { m_heard->written.append(data, bytes); }
    long long PlayedUs() const override { return m_heard->playedUs; }
    void Stop() override { m_heard->stopped = true; }

private:
    std::shared_ptr<Heard> m_heard;
};

// Where each beep starts in the sound written, in ms from its first sample.
std::vector<double> BeepStartsMs(const QByteArray& written)
{
    const auto* samples = reinterpret_cast<const int16_t*>(written.constData());
    const long long frames = written.size() / 4;
    std::vector<double> starts;
    long long quiet = WindowPlayer::kRate;
    for (long long i = 0; i < frames; ++i) {
        const bool loud = std::abs(samples[i * 2]) > 2000;
        if (loud && quiet > WindowPlayer::kRate / 10)
            starts.push_back(1000.0 * static_cast<double>(i) / WindowPlayer::kRate);
        quiet = loud ? 0 : quiet + 1;
    }
    return starts;
}

}  // namespace

class WindowPlayTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_heard = std::make_shared<Heard>();
        SetSoundOutputFactory([heard = m_heard] { return std::make_unique<FakeOutput>(heard); });
    }
    void TearDown() override
    {
        SetSoundOutputFactory(nullptr);
        AppTest::TearDown();
    }
    // 4 s of numbered pictures, a key picture every 2 s; `sound`: beeps.
    QString Clip(bool sound)
    {
        const QString path = m_clips.path() + (sound ? QStringLiteral("/beeps.mp4") : QStringLiteral("/mute.mp4"));
        QStringList args{"-v", "error", "-y", "-f", "lavfi", "-i",
                         QStringLiteral("color=c=black:s=320x240:r=%1:d=4").arg(kFps)};
        if (sound)
            args << "-f" << "lavfi" << "-i"
                 << "aevalsrc='if(lt(mod(t\\,1)\\,0.06)\\,0.5*sin(2*PI*1000*t)\\,0)':s=44100:d=4" << "-c:a" << "aac";
        args << "-vf" << "geq=lum='255*mod(floor(N/pow(2\\,floor(X*4/W)+4*floor(Y*4/H)))\\,2)':cb=128:cr=128"
             << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-bf" << "2" << "-g" << "50" << "-pix_fmt"
             << "yuv420p" << path;
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", args);
        EXPECT_TRUE(ffmpeg.waitForFinished(120000));
        EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        return path;
    }
    void Mark(long long startMs, long long endMs)
    {
        m_dlg->MoveToMs(startMs);
        m_dlg->OnStartPoint();
        m_dlg->MoveToMs(endMs);
        m_dlg->OnEndPoint();
    }
    int Shown() const { return PictureNumber(ShownSnapshot()); }
    static int PictureAt(long long ms) { return static_cast<int>(ms * kFps / 1000); }
    // The sound heard `us` further on, and the player told so.
    void Hear(long long us)
    {
        m_heard->playedUs += us;
        m_dlg->Player()->Tick();
    }
    QString Caption() const { return m_dlg->PlayHereButton()->text(); }

    std::shared_ptr<Heard> m_heard;
    QTemporaryDir m_clips;
};

TEST_F(WindowPlayTest, TheMarkedSpanPlaysWithItsSoundAndEachPictureWhenTheSoundReachesIt)
{
    Add({Clip(true)});
    m_dlg->show();
    Mark(1000, 3000);
    m_dlg->MoveToMs(200);  // outside the span: the whole span plays
    const QString playCaption = Caption();
    QTest::mouseClick(m_dlg->PlayHereButton(), Qt::LeftButton);
    ASSERT_TRUE(m_dlg->Playing());
    EXPECT_TRUE(m_dlg->Player()->Audible());
    EXPECT_TRUE(m_heard->started);
    EXPECT_NE(Caption(), playCaption);
    EXPECT_EQ(LanguageText("JIEMIAN", "ckbftz"), Caption());

    std::vector<int> seen;
    for (int step = 0; m_dlg->Playing(); ++step) {
        ASSERT_LT(step, 400);
        Hear(3000 + 9000 * (step % 4));  // 3 to 30 ms a reading
        const long long expected = std::min(3000LL, 1000 + m_heard->playedUs / 1000);
        EXPECT_EQ(m_dlg->CurrentMs(), expected);
        EXPECT_EQ(m_dlg->Slider()->GetPos(), expected);
        EXPECT_EQ(Shown(), PictureAt(m_dlg->CurrentMs())) << m_dlg->CurrentMs() << " ms";
        if (seen.empty() || seen.back() != Shown())
            seen.push_back(Shown());
    }
    // Every picture of the span, in order, up to the one at its end.
    std::vector<int> every;
    for (int n = PictureAt(1000); n <= PictureAt(3000); ++n)
        every.push_back(n);
    EXPECT_EQ(seen, every);
    EXPECT_EQ(Caption(), playCaption);
    EXPECT_TRUE(m_heard->stopped);
    // The sound of the span, no more: the beeps of 1 s and 2 s at its start and after 1 s.
    EXPECT_NEAR(m_heard->written.size() / 4.0, 2.0 * WindowPlayer::kRate, WindowPlayer::kRate / 100.0);
    const std::vector<double> beeps = BeepStartsMs(m_heard->written);
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_NEAR(beeps[0], 0, 2);
    EXPECT_NEAR(beeps[1], 1000, 2);
}

TEST_F(WindowPlayTest, SpacePlaysFromTheThumbInsideTheSpanAndStopsWhereTheSoundIs)
{
    Add({Clip(true)});
    m_dlg->show();
    Mark(1000, 3000);
    m_dlg->MoveToMs(1500);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Space);
    ASSERT_TRUE(m_dlg->Playing());
    Hear(200000);
    EXPECT_EQ(m_dlg->CurrentMs(), 1700);
    // Marking goes on while playing.
    QTest::keyClick(m_dlg->Slider(), Qt::Key_O);
    EXPECT_TRUE(m_dlg->Playing());
    EXPECT_EQ(Text(1024), QStringLiteral("00:00:01.700"));
    Hear(100000);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Space);
    EXPECT_FALSE(m_dlg->Playing());
    EXPECT_TRUE(m_heard->stopped);
    Hear(500000);
    EXPECT_EQ(m_dlg->CurrentMs(), 1800);
    EXPECT_EQ(Shown(), PictureAt(1800));

    // An arrow while playing ends the play and steps from where it stood;
    // from outside the span (now 1.0 - 1.7 s), the span plays from its start.
    m_dlg->MoveToMs(200);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Space);
    ASSERT_TRUE(m_dlg->Playing());
    Hear(400000);
    EXPECT_EQ(m_dlg->CurrentMs(), 1400);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Right);
    EXPECT_FALSE(m_dlg->Playing());
    EXPECT_EQ(Shown(), PictureAt(1400) + 1);
}

TEST_F(WindowPlayTest, AnOutputThatTakesNoSoundGivesWayToTheTimePassed)
{
    Add({Clip(true)});
    m_dlg->show();
    Mark(1000, 1400);
    QTest::mouseClick(m_dlg->PlayHereButton(), Qt::LeftButton);
    ASSERT_TRUE(m_dlg->Playing());
    for (int tick = 0; tick < 200 && m_dlg->Player()->Audible(); ++tick)
        Hear(0);
    EXPECT_FALSE(m_dlg->Player()->Audible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->Playing(), 30000);
    EXPECT_EQ(m_dlg->CurrentMs(), 1400);
    EXPECT_EQ(Shown(), PictureAt(1400));
}

// With the desktop's own output (none under the off-screen platform) and a
// clip without sound, the pictures play on the time passed and the play ends.
TEST_F(WindowPlayTest, WithoutSoundThePicturesStillPlayToTheEnd)
{
    SetSoundOutputFactory(nullptr);
    for (const bool sound : {true, false}) {
        SCOPED_TRACE(sound ? "desktop output" : "no sound track");
        Add({Clip(sound)});
        m_dlg->show();
        Mark(2000, 2600);
        QTest::mouseClick(m_dlg->PlayHereButton(), Qt::LeftButton);
        ASSERT_TRUE(m_dlg->Playing());
        if (!sound) {
            EXPECT_FALSE(m_dlg->Player()->Audible());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->Playing(), 30000);
        EXPECT_EQ(m_dlg->CurrentMs(), 2600);
        EXPECT_EQ(Shown(), PictureAt(2600));
    }
}
