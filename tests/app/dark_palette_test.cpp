// SPDX-License-Identifier: GPL-3.0-or-later
// Under a dark desktop palette every text of the window stays readable: the
// window is grabbed as drawn, and each text's colour is measured against the
// background it is drawn on (contrast ratio, as accessibility guides count it).
#include "app_test_support.h"

#include "check_list_ctrl.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidgetItem>

#include <cmath>
#include <map>

namespace {

double Luminance(QRgb rgb)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double Contrast(QRgb a, QRgb b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The background is the commonest colour of `area`; the text's colour is
// the one furthest from it that at least a few pixels share (the cores of
// the letters, not a stray pixel of their smoothed edges).
double TextContrast(const QImage& shot, const QRect& area)
{
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[shot.pixel(x, y) & 0xffffff];
    QRgb background = 0;
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most)
            most = count, background = colour;
    double best = 1.0;
    for (const auto& [colour, count] : counts)
        if (count >= 4)
            best = std::max(best, Contrast(colour, background));
    return best;
}

QPalette DarkDesktop()
{
    QPalette dark(QColor(53, 53, 53), QColor(42, 42, 42));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    return dark;
}

}  // namespace

class DarkPaletteTest : public AppTest {
protected:
    void SetUp() override
    {
        m_light = QApplication::palette();
        QApplication::setPalette(DarkDesktop());
        AppTest::SetUp();  // the window opens under the dark palette, as on a dark desktop
    }
    void TearDown() override
    {
        AppTest::TearDown();
        QApplication::setPalette(m_light);
    }
    // The text inside `widget`, a few pixels in from its edges (its frame).
    double ContrastOf(const QImage& shot, QWidget* widget, const QRect& part = QRect(), int inset = 3)
    {
        const QRect local = part.isNull() ? widget->rect() : part;
        const QRect area(widget->mapTo(m_dlg.get(), local.topLeft()), local.size());
        return TextContrast(shot, area.adjusted(inset, inset, -inset, -inset));
    }

    QPalette m_light;
};

TEST_F(DarkPaletteTest, EveryTextOfTheWindowStaysReadable)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->MoveToMs(2000);
    m_dlg->OnStartPoint();
    m_dlg->MoveToMs(6000);
    m_dlg->OnEndPoint();
    ASSERT_TRUE(m_dlg->OnAddSpan());
    m_dlg->show();
    QImage shot = m_dlg->grab().toImage();
    QTabBar* tabs = m_dlg->Tabs();
    struct Reading {
        QString what;
        double contrast;
    };
    std::vector<Reading> readings;
    for (int i = 0; i < tabs->count(); ++i)
        readings.push_back({tabs->tabText(i), ContrastOf(shot, tabs, tabs->tabRect(i), 4)});
    for (const int id : {1018, 1019, 1157, 1184, 1278})
        readings.push_back({Text(id), ContrastOf(shot, Control(id), QRect(), 0)});
    for (const int id : {1023, 1024, 1025})
        readings.push_back({Text(id), ContrastOf(shot, Control(id))});
    readings.push_back({QStringLiteral("play button"), ContrastOf(shot, m_dlg->PlayHereButton())});
    readings.push_back({QStringLiteral("span list"), ContrastOf(shot, m_dlg->SpanList())});
    readings.push_back({QStringLiteral("breaks button"), ContrastOf(shot, m_dlg->BreaksButton())});

    // The join list: a row's words and its header.
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("h264_aac.mp4"), Media("h264_aac_b.mp4")});
    shot = m_dlg->grab().toImage();
    CCheckListCtrl* list = m_dlg->FileList();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        for (int column = 1; column < list->columnCount(); ++column) {
            const QRect cell = list->visualItemRect(item).intersected(
                QRect(list->header()->sectionViewportPosition(column), 0, list->header()->sectionSize(column), 100000));
            readings.push_back({item->text(column), ContrastOf(shot, list->viewport(), cell, 1)});
        }
    }
    for (int column = 1; column < list->columnCount(); ++column)
        readings.push_back({list->headerItem()->text(column),
                            ContrastOf(shot, list->header(),
                                       QRect(list->header()->sectionViewportPosition(column), 0,
                                             list->header()->sectionSize(column), list->header()->height()))});

    for (const Reading& r : readings)
        EXPECT_GE(r.contrast, 4.5) << r.what.toStdString();
}
