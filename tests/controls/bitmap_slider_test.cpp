// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline slider, set up with the main dialog's bitmaps and values and
// driven with the mouse and keyboard.

#include "bitmap_slider.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kSliderId = 1140;

class BitmapSliderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        slider_ = std::make_unique<CBitmapSlider>();
        slider_->setObjectName(QString::number(kSliderId));
        ASSERT_TRUE(slider_->SetBitmapChannel(306, 307));
        ASSERT_TRUE(slider_->SetBitmapThumb(308, 308));
        slider_->SetRange(0, 1000);
        slider_->SetPos(0);
        slider_->SetMargin(0, 4, 4, 0);
        slider_->DrawFocusRect(false);
        slider_->SetPageSize(20);
        slider_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(slider_.get()));
    }

    QPoint OnChannel(int x) const { return QPoint(x, 10); }

    // The notifications are posted: they arrive once the event loop runs.
    static void DeliverPosted() { QCoreApplication::processEvents(); }

    QImage Picture() const { return slider_->grab().toImage(); }

    std::unique_ptr<CBitmapSlider> slider_;
};

TEST_F(BitmapSliderTest, TakesTheChannelsSizeAndMapsPositionsOntoTheThumbsTravel)
{
    EXPECT_EQ(slider_->size(), QSize(655, 20));
    EXPECT_EQ(slider_->Travel(), 628);
    EXPECT_EQ(slider_->PixelOfPosition(0), 11);
    EXPECT_EQ(slider_->PixelOfPosition(1000), 639);
    EXPECT_EQ(slider_->PixelOfPosition(500), 325);
    EXPECT_EQ(slider_->PixelOfPosition(250), 168);
    EXPECT_EQ(slider_->PositionOfPixel(11), 0);
    EXPECT_EQ(slider_->PositionOfPixel(639), 1000);
    EXPECT_EQ(slider_->PositionOfPixel(300), 460);  // trunc(289 / 628 * 1000)
}

TEST_F(BitmapSliderTest, DrawsTheThumbAtItsPixelWithItsRedBackgroundTransparent)
{
    slider_->SetPos(500);
    const QImage picture = Picture();
    const QImage thumb(QStringLiteral(":/bitmaps/308.png"));
    ASSERT_FALSE(thumb.isNull());
    const int left = 325 - 11;
    // The thumb's outline colour (first non-red pixel of its top row) sits
    // where the thumb is drawn; the red corner shows the channel instead.
    int outline = 0;
    while (thumb.pixel(outline, 0) == qRgb(255, 0, 0))
        ++outline;
    EXPECT_EQ(picture.pixel(left + outline, 4), thumb.pixel(outline, 0));
    EXPECT_NE(qRed(picture.pixel(left, 4)), 255);
}

TEST_F(BitmapSliderTest, AClickOffTheThumbJumpsThereAndPostsOneMovingNotification)
{
    QSignalSpy moving(slider_.get(), &CBitmapSlider::sliderMoving);
    QSignalSpy moved(slider_.get(), &CBitmapSlider::sliderMoved);
    ASSERT_TRUE(moving.isValid());
    QTest::mousePress(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(300));
    EXPECT_EQ(slider_->GetPos(), 460);
    EXPECT_EQ(moving.count(), 0) << "posted, not sent";
    DeliverPosted();
    ASSERT_EQ(moving.count(), 1);
    EXPECT_EQ(moving.at(0).at(0).toInt(), kSliderId);
    EXPECT_EQ(moving.at(0).at(1).toInt(), 460);

    QTest::mouseRelease(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(300));
    DeliverPosted();
    EXPECT_EQ(moving.count(), 1);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0).at(1).toInt(), 460);
}

TEST_F(BitmapSliderTest, AClickOnTheThumbMovesNothingUntilTheMouseMoves)
{
    slider_->SetPos(500);
    QSignalSpy moving(slider_.get(), &CBitmapSlider::sliderMoving);
    QTest::mousePress(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(325 + 5));
    DeliverPosted();
    EXPECT_EQ(slider_->GetPos(), 500);
    EXPECT_EQ(moving.count(), 0);

    // The grip point is kept: moving the mouse by 10 pixels moves the centre by 10.
    QTest::mouseMove(slider_.get(), OnChannel(325 + 15));
    DeliverPosted();
    EXPECT_EQ(slider_->GetPos(), slider_->PositionOfPixel(335));
    EXPECT_EQ(moving.count(), 1);
    QTest::mouseRelease(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(325 + 15));
}

TEST_F(BitmapSliderTest, DraggingPastEitherEndHoldsTheThumbAtTheEndOfItsTravel)
{
    QTest::mousePress(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(11));
    QTest::mouseMove(slider_.get(), OnChannel(2000));
    EXPECT_EQ(slider_->GetPos(), 1000);
    QTest::mouseMove(slider_.get(), OnChannel(-300));
    EXPECT_EQ(slider_->GetPos(), 0);
    QTest::mouseRelease(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(-300));
}

TEST_F(BitmapSliderTest, KeysStepClampAndAlwaysPostMoved)
{
    QSignalSpy moved(slider_.get(), &CBitmapSlider::sliderMoved);
    slider_->setFocus();
    slider_->SetPos(10);
    QTest::keyClick(slider_.get(), Qt::Key_PageUp);
    EXPECT_EQ(slider_->GetPos(), 0) << "not -10";
    QTest::keyClick(slider_.get(), Qt::Key_Home);  // already at the minimum
    EXPECT_EQ(slider_->GetPos(), 0);
    DeliverPosted();
    ASSERT_EQ(moved.count(), 2) << "a key posts moved even when nothing changed";
    EXPECT_EQ(moved.at(1).at(1).toInt(), 0);

    QTest::keyClick(slider_.get(), Qt::Key_End);
    EXPECT_EQ(slider_->GetPos(), 1000);
    QTest::keyClick(slider_.get(), Qt::Key_Down);
    EXPECT_EQ(slider_->GetPos(), 1000);
    QTest::keyClick(slider_.get(), Qt::Key_PageDown);
    EXPECT_EQ(slider_->GetPos(), 1000);
    QTest::keyClick(slider_.get(), Qt::Key_Left);
    QTest::keyClick(slider_.get(), Qt::Key_Up);
    EXPECT_EQ(slider_->GetPos(), 998);
    QTest::keyClick(slider_.get(), Qt::Key_Right);
    EXPECT_EQ(slider_->GetPos(), 999);
    QTest::keyClick(slider_.get(), Qt::Key_A);  // not the slider's key
    DeliverPosted();
    EXPECT_EQ(moved.count(), 8);
}

TEST_F(BitmapSliderTest, SettersKeepPositionAndMarkersInsideTheRange)
{
    slider_->SetPos(-5);
    EXPECT_EQ(slider_->GetPos(), 0);
    slider_->SetPos(1234);
    EXPECT_EQ(slider_->GetPos(), 1000);
    slider_->SetStartMarker(-1);
    slider_->SetEndMarker(5000);
    EXPECT_EQ(slider_->GetStartMarker(), 0);
    EXPECT_EQ(slider_->GetEndMarker(), 1000);
}

// Which of the two channel bitmaps shows at x: compares a pixel in the
// middle of the groove with both source bitmaps.
enum class Piece { Normal, Active, Neither };
Piece PieceAt(const QImage& picture, int x)
{
    static const QImage normal = QImage(QStringLiteral(":/bitmaps/306.png")).convertToFormat(QImage::Format_RGB32);
    static const QImage active = QImage(QStringLiteral(":/bitmaps/307.png")).convertToFormat(QImage::Format_RGB32);
    const int y = 10;  // inside the groove; callers keep x away from the thumb
    if (normal.pixel(x, y) == active.pixel(x, y))
        return Piece::Neither;  // x does not tell the two apart
    const QRgb shown = picture.pixel(x, y);
    if (shown == active.pixel(x, y))
        return Piece::Active;
    return shown == normal.pixel(x, y) ? Piece::Normal : Piece::Neither;
}

TEST_F(BitmapSliderTest, MarkerModeOneDrawsTheNormalChannelUpToTheStartMarker)
{
    slider_->SetStartMarker(250);
    slider_->SetMarkerMode(1);
    slider_->SetPos(900);
    const QImage picture = Picture().convertToFormat(QImage::Format_RGB32);
    for (int x : {30, 100, 167})
        EXPECT_EQ(PieceAt(picture, x), Piece::Normal) << x;
    for (int x : {168, 400, 650})
        EXPECT_EQ(PieceAt(picture, x), Piece::Active) << x;
}

TEST_F(BitmapSliderTest, MarkerModeTwoDrawsOnlyTheMarkedSpanActive)
{
    slider_->SetStartMarker(250);
    slider_->SetEndMarker(750);  // pixel 482
    slider_->SetMarkerMode(2);
    QImage picture = Picture().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(PieceAt(picture, 167), Piece::Normal);
    EXPECT_EQ(PieceAt(picture, 168), Piece::Active);
    EXPECT_EQ(PieceAt(picture, 481), Piece::Active);
    EXPECT_EQ(PieceAt(picture, 482), Piece::Normal);

    // Start at 0 and end at the maximum: the whole channel is active, as in mode 0.
    slider_->SetStartMarker(0);
    slider_->SetEndMarker(1000);
    picture = Picture().convertToFormat(QImage::Format_RGB32);
    for (int x : {30, 320, 650})
        EXPECT_EQ(PieceAt(picture, x), Piece::Active) << x;
}

TEST_F(BitmapSliderTest, WithoutItsEnableSwitchTheSliderIgnoresInputAndDrawsTheNormalChannel)
{
    slider_->Enable(false);
    QTest::mouseClick(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(400));
    slider_->setFocus();
    QTest::keyClick(slider_.get(), Qt::Key_End);
    EXPECT_EQ(slider_->GetPos(), 0);
    EXPECT_EQ(PieceAt(Picture().convertToFormat(QImage::Format_RGB32), 300), Piece::Normal);
}

TEST_F(BitmapSliderTest, ADisabledWindowStillPaintsItsThumb)
{
    slider_->SetPos(500);
    slider_->setEnabled(false);
    QTest::mouseClick(slider_.get(), Qt::LeftButton, Qt::NoModifier, OnChannel(100));
    EXPECT_EQ(slider_->GetPos(), 500);
    const QImage picture = Picture();
    const QImage thumb(QStringLiteral(":/bitmaps/308.png"));
    EXPECT_EQ(picture.pixel(325, 6), thumb.pixel(11, 2));
}

}  // namespace

TEST_F(BitmapSliderTest, TicksStandUnderTheChannelAndMergeWhereDenserThanPixels)
{
    const QImage bare = Picture();
    slider_->SetTicks({0.0, 0.5, 1.0});
    EXPECT_EQ(slider_->TickPixels(), (std::vector<int>{11, 325, 639}));
    const QImage ticked = Picture();
    const int below = slider_->height() - 3;
    EXPECT_LT(qGray(ticked.pixel(325, below)), 100);
    EXPECT_EQ(ticked.pixel(326, below), bare.pixel(326, below));
    // The channel's bar and the control's size are untouched.
    EXPECT_EQ(ticked.pixel(325, 9), bare.pixel(325, 9));
    EXPECT_EQ(slider_->size(), QSize(655, 20));

    // Ten thousand key pictures on 628 pixels: one mark every other column
    // at most, so that marks never touch.
    std::vector<double> dense;
    for (int i = 0; i < 10000; ++i)
        dense.push_back(i / 9999.0);
    slider_->SetTicks(dense);
    EXPECT_EQ(slider_->TickPixels().size(), 315u);
    EXPECT_EQ(slider_->TickPixels().front(), 11);
    EXPECT_EQ(slider_->TickPixels().back(), 639);

    slider_->SetTicks({});
    EXPECT_EQ(Picture(), bare);
}
