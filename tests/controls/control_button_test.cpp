// SPDX-License-Identifier: GPL-3.0-or-later
// The bitmap button: its shape, its pictures and its hover behaviour.

#include "control_button.h"

#include <QDialog>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QImage Bitmap(int id)
{
    return QImage(QStringLiteral(":/bitmaps/%1.png").arg(id)).convertToFormat(QImage::Format_RGB32);
}

TEST(RegionFromNonWhitePixels, LeavesAOnePixelHoleWhereTheBitmapIsWhite)
{
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(qRgb(30, 90, 200));
    image.setPixel(7, 4, qRgb(255, 255, 255));
    image.setPixel(8, 4, qRgb(254, 255, 255));  // almost white is not white
    const QRegion region = RegionFromNonWhitePixels(image);
    EXPECT_FALSE(region.contains(QPoint(7, 4)));
    EXPECT_TRUE(region.contains(QPoint(8, 4)));
    EXPECT_TRUE(region.contains(QPoint(6, 4)));
    EXPECT_TRUE(region.contains(QPoint(7, 3)));
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 20, 10));
}

TEST(RegionFromNonWhitePixels, ABitmapWithoutWhiteGivesItsFullRectangle)
{
    QImage image(13, 7, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 0));
    EXPECT_EQ(RegionFromNonWhitePixels(image), QRegion(0, 0, 13, 7));
}

class ControlButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent_.resize(200, 100);
        button_ = new CControlButton(&parent_);
        button_->setGeometry(10, 10, 100, 56);
        button_->SetBitmaps(331, 331, 331, 331);
        button_->SetRegionFromBitmap(331);
        parent_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
    }

    QWidget parent_;
    CControlButton* button_ = nullptr;
};

TEST_F(ControlButtonTest, ItsShapeIsTheBitmapWithoutItsWhitePixels)
{
    const QImage bitmap = Bitmap(331);
    ASSERT_EQ(bitmap.size(), QSize(100, 56));
    const QRegion shape = button_->mask();
    int white = 0;
    for (int y = 0; y < bitmap.height(); ++y)
        for (int x = 0; x < bitmap.width(); ++x) {
            const bool isWhite = bitmap.pixel(x, y) == qRgb(255, 255, 255);
            white += isWhite;
            ASSERT_EQ(shape.contains(QPoint(x, y)), !isWhite) << x << "," << y;
        }
    EXPECT_GT(white, 0) << "the corners are cut away";
    EXPECT_TRUE(shape.contains(QPoint(50, 28)));
}

TEST_F(ControlButtonTest, DrawsItsBitmapAndClicksReachTheOwner)
{
    const QImage shown = button_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(50, 28), Bitmap(331).pixel(50, 28));
    QSignalSpy clicked(button_, &QAbstractButton::clicked);
    QTest::mouseClick(button_, Qt::LeftButton, Qt::NoModifier, QPoint(50, 28));
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(ControlButtonTest, TheHoverPictureShowsOnceTheMouseRestsAndGoesOnLeaving)
{
    EXPECT_FALSE(button_->IsHovering());
    // Moves delivered straight, with no event loop between them and the check:
    // however slow the machine, the rest time cannot have passed yet.
    for (const QPoint at : {QPoint(40, 20), QPoint(45, 22)}) {
        QMouseEvent move(QEvent::MouseMove, at, button_->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button_, &move);
    }
    EXPECT_FALSE(button_->IsHovering()) << "still moving";
    EXPECT_TRUE(QTest::qWaitFor([this] { return button_->IsHovering(); }, 1000));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(button_, &leave);
    EXPECT_FALSE(button_->IsHovering());
}

TEST(ControlButton, EnterInADialogDoesNotPressAFocusedPictureButton)
{
    QDialog dialog;
    auto* button = new CControlButton(&dialog);
    button->resize(34, 32);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    button->setFocus();
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 0);
}

TEST(ControlButton, AMissingBitmapLeavesItRectangularAndBlank)
{
    QWidget parent;
    CControlButton button(&parent);
    button.resize(30, 20);
    button.SetBitmaps(9999, 9999, 9999, 9999);
    button.SetRegionFromBitmap(9999);
    EXPECT_TRUE(button.mask().isEmpty()) << "no mask: the whole rectangle";
}

}  // namespace
