// SPDX-License-Identifier: GPL-3.0-or-later
// The preview shows the very picture the time says: clips made here whose
// pictures carry their own number as a 4 x 4 grid of black and white blocks
// (bit b of the number in block b, row by row), stepped through with the
// keys at every common rate, and clips whose picture is shown at another
// shape than it is stored.
#include "app_test_support.h"

#include "bitmap_slider.h"

#include <QImage>
#include <QProcess>
#include <QTest>

#include <numeric>

namespace {

struct Rate {
    int num, den;
    const char* name;
};
constexpr Rate kRates[] = {{24000, 1001, "23.976"}, {24, 1, "24"},       {25, 1, "25"},      {30000, 1001, "29.97"},
                           {30, 1, "30"},          {50, 1, "50"},       {60000, 1001, "59.94"}};

// The number a numbered picture carries; -1 when a block is neither black nor white.
int PictureNumber(const QImage& shown)
{
    if (shown.isNull())
        return -1;
    int number = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (bit % 4) * shown.width() / 4 + shown.width() / 8;
        const int y = (bit / 4) * shown.height() / 4 + shown.height() / 8;
        const int gray = qGray(shown.pixel(x, y));
        if (gray > 60 && gray < 196)
            return -1;
        number |= (gray >= 196 ? 1 : 0) << bit;
    }
    return number;
}

}  // namespace

class PreviewPicturesTest : public AppTest {
protected:
    // A clip of `seconds` at `rate`, a key picture every `group` pictures, B-pictures between.
    QString NumberedClip(const Rate& rate, double seconds, int group)
    {
        const QString path = m_clips.path() + QStringLiteral("/numbered_%1_%2.mp4").arg(rate.num).arg(rate.den);
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                QStringLiteral("color=c=black:s=320x240:r=%1/%2:d=%3").arg(rate.num).arg(rate.den).arg(seconds),
                                "-vf", "geq=lum='255*mod(floor(N/pow(2\\,floor(X*4/W)+4*floor(Y*4/H)))\\,2)':cb=128:cr=128",
                                "-c:v", "libx264", "-preset", "ultrafast", "-bf", "2", "-g", QString::number(group),
                                "-keyint_min", QString::number(group), "-sc_threshold", "0", "-pix_fmt", "yuv420p", path});
        EXPECT_TRUE(ffmpeg.waitForFinished(120000));
        EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        return path;
    }
    int Shown() const { return PictureNumber(ShownSnapshot()); }
    void Press(int key) { QTest::keyClick(m_dlg->Slider(), static_cast<Qt::Key>(key)); }
    static int PictureAt(const Rate& rate, long long ms) { return static_cast<int>(ms * rate.num / (1000LL * rate.den)); }

    QTemporaryDir m_clips;
};

TEST_F(PreviewPicturesTest, StepsVisitEveryPictureOnceAtEveryRateAndShowTheOneTheTimeSays)
{
    m_dlg->show();
    for (const Rate& rate : kRates) {
        SCOPED_TRACE(rate.name);
        const int pictures = static_cast<int>(2.0 * rate.num / rate.den + 0.5);
        Add({NumberedClip(rate, 2.0, 12)});
        ASSERT_EQ(m_dlg->CutFile().isEmpty(), false);
        EXPECT_EQ(Shown(), 0);
        std::vector<int> seen{Shown()};
        for (int step = 1; step < pictures + 3 && seen.back() < pictures - 1; ++step) {
            Press(Qt::Key_Right);
            seen.push_back(Shown());
            EXPECT_EQ(seen.back(), PictureAt(rate, m_dlg->CurrentMs())) << m_dlg->CurrentMs() << " ms";
        }
        std::vector<int> every(pictures);
        std::iota(every.begin(), every.end(), 0);
        EXPECT_EQ(seen, every);
        // Back again through the group just decoded, then across a key picture.
        for (int step = 0; step < 15; ++step) {
            Press(Qt::Key_Left);
            EXPECT_EQ(Shown(), PictureAt(rate, m_dlg->CurrentMs())) << m_dlg->CurrentMs() << " ms";
        }
        EXPECT_EQ(Shown(), pictures - 1 - 15);
        // The end shows the last picture, not the last key picture.
        Press(Qt::Key_Home);
        EXPECT_EQ(Shown(), 0);
        Press(Qt::Key_End);
        EXPECT_EQ(Shown(), pictures - 1);
    }
}

TEST_F(PreviewPicturesTest, JumpsAndDragsEndOnTheExactPicture)
{
    const Rate rate{25, 1, "25"};
    Add({NumberedClip(rate, 8.0, 100)});  // key pictures every 4 s
    m_dlg->show();
    QTRY_VERIFY(!m_dlg->KeyFramesUs().empty());
    for (int position : {470, 120, 880, 500, 10}) {
        SCOPED_TRACE(position);
        DragTo(position);
        EXPECT_EQ(Shown(), PictureAt(rate, m_dlg->CurrentMs())) << m_dlg->CurrentMs() << " ms";
        Press(Qt::Key_PageUp);  // the key picture before
        EXPECT_EQ(Shown(), PictureAt(rate, m_dlg->CurrentMs()));
        EXPECT_EQ(Shown() % 100, 0);
        Press(Qt::Key_Right);
        EXPECT_EQ(Shown() % 100, 1);
    }
    // While dragging the key picture shows at once; resting, the exact one.
    m_dlg->Slider()->SetPos(m_dlg->Slider()->RangeMax() * 470 / 1000);
    m_dlg->OnSliderMoving();
    EXPECT_EQ(Shown(), 0);
    m_dlg->OnSliderMoved();
    EXPECT_EQ(Shown(), PictureAt(rate, m_dlg->CurrentMs()));
}

// A jump returns at once with the key picture before it shown; the exact
// picture follows from the background, unless a newer request came first.
TEST_F(PreviewPicturesTest, AJumpLeavesTheWindowFreeAndTheNewestRequestWins)
{
    const Rate rate{25, 1, "25"};
    Add({NumberedClip(rate, 8.0, 100)});  // key pictures every 4 s
    m_dlg->show();
    const auto shownNow = [this] { return PictureNumber(QImage(m_dlg->SnapshotPath())); };
    m_dlg->MoveToMs(3000);
    EXPECT_TRUE(m_dlg->PreviewPending());
    EXPECT_EQ(shownNow(), 0);
    m_dlg->MoveToMs(7000);
    EXPECT_EQ(shownNow(), 100);
    m_dlg->MoveToMs(2000);
    EXPECT_EQ(Shown(), 50);
    // The requests stopped on the way never show up later.
    QTest::qWait(300);
    EXPECT_EQ(shownNow(), 50);
    // A step decodes one picture there and then.
    Press(Qt::Key_Right);
    EXPECT_FALSE(m_dlg->PreviewPending());
    EXPECT_EQ(shownNow(), 51);
    // Closed while a picture decodes, the window drops it.
    m_dlg->MoveToMs(6000);
    ASSERT_TRUE(m_dlg->PreviewPending());
    EXPECT_TRUE(m_dlg->close());
    EXPECT_FALSE(m_dlg->PreviewPending());
    QTest::qWait(300);
}

// The picture inside the 320 x 240 snapshot: the first and last rows and
// columns that are not bars.
TEST_F(PreviewPicturesTest, ThePictureKeepsItsDisplayShapeWithBars)
{
    const struct {
        const char* file;
        QRect picture;  // where the picture shows in the snapshot
    } cases[] = {
        {"h264_aac.mp4", QRect(0, 0, 320, 240)},            // 4:3 fills the box
        {"gop10s_1080p.mp4", QRect(0, 30, 320, 180)},       // 16:9: bars above and below
        {"anamorphic_pal.mp4", QRect(0, 30, 320, 180)},     // 720x576 shown 16:9
        {"phone_portrait.mp4", QRect(70, 0, 180, 240)},     // stored 4:3, turned upright
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Add({Media(c.file)});
        m_dlg->MoveToMs(500);
        const QImage shown = ShownSnapshot();
        ASSERT_EQ(shown.size(), QSize(320, 240));
        int left = shown.width(), right = -1, top = shown.height(), bottom = -1;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (qGray(shown.pixel(x, y)) > 40) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        EXPECT_NEAR(left, c.picture.left(), 3);
        EXPECT_NEAR(right, c.picture.right(), 3);
        EXPECT_NEAR(top, c.picture.top(), 3);
        EXPECT_NEAR(bottom, c.picture.bottom(), 3);
    }
}

// Grown, the preview shows the picture decoded at its own size: as sharp as
// the area allows, not the small snapshot enlarged.
TEST_F(PreviewPicturesTest, AGrownWindowShowsThePictureAtTheSizeOfItsPreview)
{
    Add({Media("gop10s_1080p.mp4")});
    m_dlg->show();
    m_dlg->resize(m_dlg->size() + QSize(640, 420));
    m_dlg->MoveToMs(3000);
    QWidget* preview = Control(1139);
    // How sharply neighbouring pixels differ along the rows of `image` inside
    // `area` (squared: an edge spread over more pixels counts less).
    const auto detail = [](const QImage& image, const QRect& area) {
        double sum = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x < area.right(); ++x) {
                const int step = qGray(image.pixel(x + 1, y)) - qGray(image.pixel(x, y));
                sum += step * step;
            }
        return sum / (area.width() * area.height());
    };
    const auto enlargedDetail = [&] {
        const QImage snapshot = ShownSnapshot();
        const QSize fitted = QSize(320, 180).scaled(preview->size() - QSize(2, 2), Qt::KeepAspectRatio);
        return detail(snapshot.copy(0, 30, 320, 180).scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                      QRect(QPoint(0, 0), fitted).adjusted(4, 4, -4, -4));
    };
    const auto shownDetail = [&] {
        const QImage shown = preview->grab().toImage();
        const QSize fitted = QSize(16, 9).scaled(preview->size() - QSize(2, 2), Qt::KeepAspectRatio);
        const QRect inside((preview->width() - fitted.width()) / 2, (preview->height() - fitted.height()) / 2,
                           fitted.width(), fitted.height());
        return detail(shown, inside.adjusted(4, 4, -4, -4));
    };
    QTRY_VERIFY_WITH_TIMEOUT(shownDetail() > 1.4 * enlargedDetail(), 20000);
    // The snapshot file keeps its size and the picture it shows.
    EXPECT_EQ(ShownSnapshot().size(), QSize(320, 240));
}
