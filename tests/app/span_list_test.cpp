// SPDX-License-Identifier: GPL-3.0-or-later
// The span list of the cut tab: spans added from the marks, an overlap
// refused, a span re-marked, moved and removed, and where the timeline
// draws them.
#include "app_test_support.h"

#include "bitmap_slider.h"

#include <QComboBox>
#include <QAbstractButton>
#include <QTest>

class SpanListTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        if (HasFatalFailure())
            return;
        Add({Media("h264_aac.mp4")});  // 10 s
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    // Start Point at `from`, End Point at `to` (ms), as the buttons do.
    void Mark(int from, int to)
    {
        m_dlg->MoveToMs(from);
        Click(1154);
        m_dlg->MoveToMs(to);
        Click(1149);
    }
    void Click(int id) { static_cast<QAbstractButton*>(Control(id))->click(); }
    QStringList Entries() const
    {
        QStringList entries;
        for (int i = 1; i < m_dlg->SpanList()->count(); ++i)
            entries << m_dlg->SpanList()->itemText(i);
        return entries;
    }
    // The drawn ranges the timeline should have for spans (start, end) in ms.
    std::vector<std::pair<int, int>> Pixels(std::initializer_list<std::pair<int, int>> spans) const
    {
        std::vector<std::pair<int, int>> pixels;
        for (const auto& [from, to] : spans)
            pixels.emplace_back(m_dlg->Slider()->PixelOfPosition(from), m_dlg->Slider()->PixelOfPosition(to));
        return pixels;
    }
    // Whether the channel at pixel x is drawn from the active (blue) bitmap.
    bool Active(int x) const
    {
        const QColor c = m_dlg->Slider()->grab().toImage().pixelColor(x, 10);
        return c.blue() > c.red() + 40;
    }
};

TEST_F(SpanListTest, SpansAreAddedRefusedReMarkedMovedAndRemovedAndDrawnWhereTheyAre)
{
    // No span: the tab is as it was, the list hidden.
    EXPECT_TRUE(Control(1301)->isVisible());
    EXPECT_FALSE(m_dlg->SpanList()->isVisible());
    EXPECT_TRUE(m_dlg->Slider()->SpanPixels().empty());

    Mark(1000, 3000);
    Click(1301);
    Mark(5000, 7000);
    Click(1301);
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_TRUE(m_dlg->SpanList()->isVisible());
    EXPECT_EQ(m_dlg->SpanList()->itemText(0), LanguageText("JIEMIAN", "xpd"));
    EXPECT_EQ(Entries(), QStringList({"1: 00:00:01.000 - 00:00:03.000 (00:00:02.000)",
                                      "2: 00:00:05.000 - 00:00:07.000 (00:00:02.000)"}));
    EXPECT_EQ(m_dlg->SelectedSpan(), -1);  // the next marks make a new span
    EXPECT_EQ(m_dlg->Slider()->SpanPixels(), Pixels({{1000, 3000}, {5000, 7000}}));
    const auto drawn = m_dlg->Slider()->SpanPixels();
    EXPECT_TRUE(Active((drawn[0].first + drawn[0].second) / 2));
    EXPECT_TRUE(Active((drawn[1].first + drawn[1].second) / 2));
    EXPECT_FALSE(Active((drawn[0].second + drawn[1].first) / 2));  // the gap between them
    EXPECT_FALSE(Active(drawn[1].second + 20));

    // An overlapping span is refused and names the span it meets.
    Mark(2000, 6000);
    Click(1301);
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "xpdcd").arg("00:00:02.000", "00:00:06.000").arg(1)}));
    EXPECT_EQ(m_dlg->Spans().size(), 2u);

    // Add while a stored span is chosen would store it twice: refused, naming it.
    m_dlg->SpanList()->setCurrentIndex(2);
    emit m_dlg->SpanList()->activated(2);
    Click(1301);
    EXPECT_EQ(m_messages.last(), LanguageText("TISHI", "xpdcd").arg("00:00:05.000", "00:00:07.000").arg(2));
    EXPECT_EQ(m_dlg->Spans().size(), 2u);
    m_messages.clear();

    // Chosen, a span is re-marked by Start Point and End Point; a re-mark
    // that overlaps another span is refused and the span stays.
    m_dlg->SpanList()->setCurrentIndex(2);
    emit m_dlg->SpanList()->activated(2);
    EXPECT_EQ(Text(1023), "00:00:05.000");
    m_dlg->MoveToMs(8000);
    Click(1149);
    m_dlg->MoveToMs(4000);
    Click(1154);
    EXPECT_EQ(Entries()[1], "2: 00:00:04.000 - 00:00:08.000 (00:00:04.000)");
    m_dlg->MoveToMs(2500);
    Click(1154);
    EXPECT_EQ(m_messages, QStringList({LanguageText("TISHI", "pdcdl").arg(2).arg(1)}));
    EXPECT_EQ(Entries()[1], "2: 00:00:04.000 - 00:00:08.000 (00:00:04.000)");
    EXPECT_EQ(Text(1023), "00:00:04.000");
    EXPECT_EQ(m_dlg->Slider()->SpanPixels(), Pixels({{1000, 3000}, {4000, 8000}}));

    // Moved up, the chosen span goes first and stays chosen.
    EXPECT_FALSE(Control(1304)->isEnabled());  // the last one cannot go down
    Click(1303);
    EXPECT_EQ(Entries(), QStringList({"1: 00:00:04.000 - 00:00:08.000 (00:00:04.000)",
                                      "2: 00:00:01.000 - 00:00:03.000 (00:00:02.000)"}));
    EXPECT_EQ(m_dlg->SelectedSpan(), 0);
    EXPECT_FALSE(Control(1303)->isEnabled());
    EXPECT_EQ(m_dlg->Slider()->SpanPixels(), Pixels({{4000, 8000}, {1000, 3000}}));

    // Back to a new span: its marks start afresh, the stored spans stay drawn.
    emit m_dlg->SpanList()->activated(0);
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 0);
    EXPECT_EQ(m_dlg->Slider()->SpanPixels().size(), 2u);
    EXPECT_FALSE(Control(1305)->isEnabled());
    m_dlg->SpanList()->setCurrentIndex(1);
    emit m_dlg->SpanList()->activated(1);

    // Removed one by one; with none left the tab is as before.
    Click(1305);
    EXPECT_EQ(Entries(), QStringList({"1: 00:00:01.000 - 00:00:03.000 (00:00:02.000)"}));
    EXPECT_EQ(m_dlg->SelectedSpan(), 0);
    Click(1305);
    EXPECT_TRUE(m_dlg->Spans().empty());
    EXPECT_FALSE(m_dlg->SpanList()->isVisible());
    EXPECT_TRUE(m_dlg->Slider()->SpanPixels().empty());

    // Another file starts without spans; the join tab never shows them.
    Mark(1000, 2000);
    Click(1301);
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    EXPECT_FALSE(m_dlg->SpanList()->isVisible());
    EXPECT_FALSE(Control(1301)->isVisible());
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);
    EXPECT_TRUE(m_dlg->SpanList()->isVisible());
    Add({Media("h264_aac.mp4")});
    EXPECT_TRUE(m_dlg->Spans().empty());
}
