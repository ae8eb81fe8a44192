// SPDX-License-Identifier: GPL-3.0-or-later
// Breaks found for the user in the window: the scan on its thread, the
// found points on the timeline and the keys to them, the breaks turned into
// spans to remove (drawn apart from what is kept), and the span list saved
// and loaded without ever replacing a file unasked.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "settings_file.h"

#include <QFile>
#include <QTest>
#include <QToolButton>

class BreakToolsTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        if (HasFatalFailure())
            return;
        Add({Media("breaks_h264.ts")});  // a break at 7.4-11.6 s of the picture
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    void FindBreaks()
    {
        m_dlg->OnFindBreaks();
        EXPECT_TRUE(m_dlg->FindingBreaks());
        QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty(), 120000);
    }
    // Whether the timeline at pixel x shows a removed part (the red veil).
    bool Removed(int x) const
    {
        const QColor c = m_dlg->Slider()->grab().toImage().pixelColor(x, 10);
        return c.red() > c.blue();
    }
};

TEST_F(BreakToolsTest, TheFoundBreakIsMarkedJumpedToAndBecomesASpanToRemove)
{
    EXPECT_TRUE(m_dlg->BreaksButton()->isVisible());
    FindBreaks();
    EXPECT_EQ(m_messages.back(), LanguageText("TISHI", "zddt").arg(1));
    ASSERT_EQ(m_dlg->FoundBreaks().size(), 1u);
    const CutSpan found = m_dlg->FoundBreaks()[0];
    EXPECT_NEAR(found.start_ms, 7400 + 21, 40);  // the picture starts 21 ms after the file
    EXPECT_NEAR(found.end_ms, 11600 + 21, 40);
    EXPECT_FALSE(m_dlg->Slider()->FoundMarkPixels().empty());

    // "," and "." step through the found points, the break's edges among them.
    m_dlg->MoveToMs(5000);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Period);
    EXPECT_EQ(m_dlg->CurrentMs(), m_dlg->FoundPointsMs().front());
    EXPECT_NEAR(m_dlg->CurrentMs(), found.start_ms, 1);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Period);
    EXPECT_GT(m_dlg->CurrentMs(), found.start_ms);
    QTest::keyClick(m_dlg->Slider(), Qt::Key_Comma);
    EXPECT_NEAR(m_dlg->CurrentMs(), found.start_ms, 1);

    m_dlg->RemoveFoundBreaks();
    ASSERT_EQ(m_dlg->Spans().size(), 1u);
    EXPECT_EQ(m_dlg->Spans()[0].start_ms, found.start_ms);
    EXPECT_TRUE(m_dlg->SpansRemove());
    EXPECT_EQ(i18n::ReadSetting(QStringLiteral("CUT"), QStringLiteral("remove")), QStringLiteral("1"));
    const auto pixels = m_dlg->Slider()->SpanPixels();
    ASSERT_EQ(pixels.size(), 1u);
    EXPECT_TRUE(Removed((pixels[0].first + pixels[0].second) / 2));
    EXPECT_FALSE(Removed(pixels[0].first / 2));
}

TEST_F(BreakToolsTest, AListIsSavedWithoutReplacingAFileUnaskedAndLoadedBack)
{
    m_dlg->SetSpansRemove(true);
    m_dlg->MoveToMs(2000);
    static_cast<QAbstractButton*>(Control(1154))->click();
    m_dlg->MoveToMs(4000);
    static_cast<QAbstractButton*>(Control(1149))->click();
    ASSERT_TRUE(m_dlg->OnAddSpan());
    const QString edl = m_folder.filePath(QStringLiteral("list.edl"));
    QFile existing(edl);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("1 2 0\n");
    existing.close();

    EXPECT_FALSE(m_dlg->SaveSpanList(edl, false));
    EXPECT_EQ(m_messages.back(), LanguageText("TISHI", "lbbc"));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("1 2 0\n"));
    existing.close();
    ASSERT_TRUE(m_dlg->SaveSpanList(edl, true));
    // Without a known extension the list is a span list of our own.
    ASSERT_TRUE(m_dlg->SaveSpanList(m_folder.filePath(QStringLiteral("mine")), false));
    EXPECT_TRUE(QFile::exists(m_folder.filePath(QStringLiteral("mine.spans"))));

    m_dlg->SetSpansRemove(false);
    ASSERT_TRUE(m_dlg->LoadSpanList(edl));
    ASSERT_EQ(m_dlg->Spans().size(), 1u);
    EXPECT_EQ(m_dlg->Spans()[0].start_ms, 2000);
    EXPECT_EQ(m_dlg->Spans()[0].end_ms, 4000);
    EXPECT_TRUE(m_dlg->SpansRemove());  // an EDL lists what goes

    QFile bad(m_folder.filePath(QStringLiteral("bad.csv")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("start,end,name\n1,2,a\nx,4,b\n");
    bad.close();
    EXPECT_FALSE(m_dlg->LoadSpanList(bad.fileName()));
    EXPECT_EQ(m_messages.back(), LanguageText("TISHI", "lbcw").arg(
                                     QStringLiteral("line 3: a time is neither seconds nor hours:minutes:seconds")));
    EXPECT_EQ(m_dlg->Spans().size(), 1u);  // the list in the window stays
}
