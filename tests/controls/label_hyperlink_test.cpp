// SPDX-License-Identifier: GPL-3.0-or-later
// The label's look and the hyperlink's colours, hover, opening and errors.

#include "hyperlink.h"
#include "label.h"
#include "seams.h"

#include <QCursor>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Label, PaintsOnTheButtonFaceAndKeepsItsTextColourWhenTheColoursChange)
{
    CLabel label;
    label.resize(200, 40);
    label.setText(QStringLiteral("holiday.mp4   45% done"));
    const QColor face = label.palette().color(QPalette::Button);
    const QColor text = label.TextColor();
    EXPECT_EQ(label.grab().toImage().pixelColor(199, 39), face);

    QPalette changed = label.palette();
    changed.setColor(QPalette::Button, QColor(10, 120, 30));
    changed.setColor(QPalette::WindowText, QColor(200, 0, 0));
    label.setPalette(changed);
    EXPECT_EQ(label.BackColor(), QColor(10, 120, 30));
    EXPECT_EQ(label.TextColor(), text);
    EXPECT_EQ(label.grab().toImage().pixelColor(199, 39), QColor(10, 120, 30));
}

TEST(Label, WrapsALongTextAtWordBoundaries)
{
    CLabel label;
    label.resize(120, 200);
    label.setText(QStringLiteral("several words that cannot fit on one short line"));
    const QImage picture = label.grab().toImage();
    const QColor face = label.BackColor();
    auto rowHasText = [&](int y) {
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixelColor(x, y) != face)
                return true;
        return false;
    };
    const int lineHeight = label.fontMetrics().height();
    EXPECT_TRUE(rowHasText(lineHeight / 2) || rowHasText(lineHeight / 2 + 1));
    bool secondLine = false;
    for (int y = lineHeight; y < 2 * lineHeight; ++y)
        secondLine = secondLine || rowHasText(y);
    EXPECT_TRUE(secondLine);
}

TEST(HyperlinkErrorText, GivesTheTextForEachShellCode)
{
    const std::vector<std::pair<int, const char*>> texts = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {7, "Unknown Error (7) occurred."},
        {-4, "Unknown Error (-4) occurred."},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(HyperlinkErrorText(code), QString::fromLatin1(text)) << code;
    EXPECT_EQ(HyperlinkErrorMessage(26),
              QStringLiteral("Unable to open hyperlink:\n\nA sharing violation occurred. "));
}

class LeaveEventEater : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Leave; }
};

class HyperlinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qunsetenv("BROWSER");
        auto& seams = platform::CurrentSeams();
        seams.messageBox = [this](const platform::MessageBoxRequest& request) { shown_.push_back(request); };
        seams.shellOpen = [this](const QString& target) {
            opened_ << target;
            return shellResult_;
        };
        seams.startProgram = [this](const QString& program, const QStringList& arguments) {
            started_ << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
            return programStarts_;
        };
        link_.setText(QStringLiteral("Help"));
        link_.SetURL(QStringLiteral("https://example.org/morvane"));
        link_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&link_));
    }

    void TearDown() override
    {
        if (hadBrowser_)
            qputenv("BROWSER", browser_);
    }

    void Click() { QTest::mouseClick(&link_, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3)); }

    platform::ScopedSeams seams_;
    bool hadBrowser_ = qEnvironmentVariableIsSet("BROWSER");
    QByteArray browser_ = qgetenv("BROWSER");
    std::vector<platform::MessageBoxRequest> shown_;
    QStringList opened_;
    QStringList started_;
    int shellResult_ = platform::kShellSuccess;
    bool programStarts_ = false;
    CHyperLink link_;
};

TEST_F(HyperlinkTest, ShowsLinkColourAndAddressAsToolTip)
{
    EXPECT_EQ(link_.CurrentTextColour(), QColor(0, 0, 238));
    EXPECT_EQ(link_.toolTip(), QStringLiteral("https://example.org/morvane"));
    EXPECT_EQ(link_.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(link_.IsUnderlined());
}

TEST_F(HyperlinkTest, IsUnderlinedAndRedOnlyWhileHovered)
{
    QTest::mouseMove(&link_, QPoint(3, 3));
    EXPECT_TRUE(link_.IsHovered());
    EXPECT_TRUE(link_.IsUnderlined());
    EXPECT_EQ(link_.CurrentTextColour(), QColor(255, 0, 0));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&link_, &leave);
    EXPECT_FALSE(link_.IsHovered());
    EXPECT_FALSE(link_.IsUnderlined());

    link_.SetUnderline(CHyperLink::UnderlineAlways);
    EXPECT_TRUE(link_.IsUnderlined());
    QTest::mouseMove(&link_, QPoint(3, 3));
    QCoreApplication::sendEvent(&link_, &leave);
    EXPECT_TRUE(link_.IsUnderlined()) << "mode 1 keeps the underline";
}

TEST_F(HyperlinkTest, TheHoverCheckEndsTheHoverOnceTheCursorIsElsewhere)
{
    // Leave events are held back: only the 100 ms check can notice.
    LeaveEventEater eater;
    link_.installEventFilter(&eater);
    const QPoint outside = link_.mapToGlobal(QPoint(-50, -50));
    QCursor::setPos(outside);
    QCoreApplication::processEvents();
    QTest::mouseMove(&link_, QPoint(3, 3));
    ASSERT_TRUE(link_.IsUnderlined());
    QCursor::setPos(outside);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !link_.IsHovered(); }, 1000));
    EXPECT_FALSE(link_.IsUnderlined());
}

TEST_F(HyperlinkTest, ASuccessfulOpenMarksTheLinkVisited)
{
    QSignalSpy clicked(&link_, &CHyperLink::clicked);
    Click();
    EXPECT_EQ(opened_, QStringList{"https://example.org/morvane"});
    EXPECT_TRUE(started_.isEmpty());
    EXPECT_TRUE(link_.IsVisited());
    EXPECT_EQ(link_.CurrentTextColour(), QColor(85, 26, 139));
    EXPECT_TRUE(shown_.empty());
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(HyperlinkTest, AFailedShellOpenFallsBackToTheBrowserCommand)
{
    shellResult_ = platform::kShellNoAssociation;
    programStarts_ = true;
    Click();
    EXPECT_EQ(started_, QStringList{"xdg-open https://example.org/morvane"});
    EXPECT_TRUE(link_.IsVisited());
    EXPECT_TRUE(shown_.empty());
}

TEST_F(HyperlinkTest, TheBrowserVariableIsTriedWithTheAddressInPlaceOfPercentS)
{
    shellResult_ = platform::kShellNoAssociation;
    qputenv("BROWSER", "firstbrowser --new-tab %s:second");
    Click();
    EXPECT_EQ(started_, (QStringList{"xdg-open https://example.org/morvane",
                                     "firstbrowser --new-tab https://example.org/morvane",
                                     "second https://example.org/morvane"}));
}

TEST_F(HyperlinkTest, WithNoWayToOpenItShowsTheShellsErrorAndStaysUnvisited)
{
    for (int code : {platform::kShellNoAssociation, 26}) {
        shown_.clear();
        shellResult_ = code;
        Click();
        EXPECT_FALSE(link_.IsVisited());
        ASSERT_EQ(shown_.size(), 1u);
        EXPECT_EQ(shown_[0].text, HyperlinkErrorMessage(code));
        EXPECT_EQ(shown_[0].icon, platform::MessageIcon::Warning);
    }
    EXPECT_TRUE(shown_[0].text.startsWith(QStringLiteral("Unable to open hyperlink:\n\n")));
}

TEST_F(HyperlinkTest, WithoutAnAddressItOpensItsOwnTextAndWithoutTextItShowsTheAddress)
{
    CHyperLink bare;
    bare.setText(QStringLiteral("https://example.org/text"));
    bare.show();
    QTest::mouseClick(&bare, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    EXPECT_EQ(opened_.value(0), QStringLiteral("https://example.org/text"));

    CHyperLink untitled;
    untitled.SetURL(QStringLiteral("README.md"));
    EXPECT_EQ(untitled.text(), QStringLiteral("README.md"));
}

TEST_F(HyperlinkTest, FitsItsWindowToTheText)
{
    CHyperLink link;
    link.setGeometry(40, 30, 400, 80);
    link.setText(QStringLiteral("Help"));
    link.SetURL(QStringLiteral("README.md"));
    QFont underlined = link.font();
    underlined.setUnderline(true);
    const QSize text = QFontMetrics(underlined).size(Qt::TextSingleLine, QStringLiteral("Help"));
    EXPECT_EQ(link.geometry(), QRect(QPoint(40, 30), text));
}

}  // namespace
