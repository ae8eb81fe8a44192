// SPDX-License-Identifier: GPL-3.0-or-later
// The window grows: the preview, the timeline and the join list take the
// room, the controls around them follow, and the size is there next time.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "dialog_template.h"
#include "settings_file.h"

#include <QFile>
#include <QTest>

#include <map>

namespace {

constexpr QSize kExtra(300, 200);

}  // namespace

class WindowSizeTest : public AppTest {
protected:
    std::map<int, QRect> Places(const QList<int>& ids) const
    {
        std::map<int, QRect> places;
        for (int id : ids)
            places[id] = Control(id)->geometry();
        return places;
    }
};

TEST_F(WindowSizeTest, AGrownWindowGivesItsRoomToThePreviewTheTimelineAndTheList)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    const QSize first = m_dlg->size();
    const QList<int> ids = {1139, 1140, 1114, 1004, 1105, 1278, 1023, 1184, 1160, 1255};
    const auto before = Places(ids);
    m_dlg->resize(first + kExtra);
    const int dx = kExtra.width(), dy = kExtra.height();
    const struct {
        int id;
        QRect expected;  // from the first place
    } cases[] = {
        {1139, before.at(1139).adjusted(0, 0, dx, dy)},   // preview grows both ways
        {1114, before.at(1114).adjusted(0, 0, dx, dy)},   // join list too
        {1140, before.at(1140).translated(0, dy).adjusted(0, 0, dx, 0)},  // timeline: lower, wider
        {1004, before.at(1004).translated(dx, dy)},       // Convert stays in the corner
        {1105, before.at(1105).translated(dx, 0)},        // language list stays top right
        {1278, before.at(1278).translated(dx, 0)},
        {1023, before.at(1023).translated(0, dy)},        // Start field under the timeline
        {1184, before.at(1184).translated(0, dy)},
        {1160, before.at(1160)},                          // tabs stay
        {1255, before.at(1255).translated(dx, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Control(c.id)->geometry(), c.expected) << c.id;
    // The timeline's channel spans its new width, ticks and thumb with it.
    CBitmapSlider* slider = m_dlg->Slider();
    EXPECT_EQ(slider->Travel(), 628 + dx);
    EXPECT_EQ(slider->PixelOfPosition(slider->GetEndMarker()), 639 + dx);
    const QImage channel = slider->grab().toImage();
    EXPECT_EQ(channel.pixel(300, 10), channel.pixel(600 + dx, 10)) << "the middle is stretched, not repeated";

    // Back to the first size, everything is where it was.
    m_dlg->resize(first);
    EXPECT_EQ(Places(ids), before);
    // Never smaller than the first size.
    m_dlg->resize(first - QSize(100, 100));
    EXPECT_EQ(m_dlg->size(), first);
}

TEST_F(WindowSizeTest, TheSizeAndTheMaximisedStateAreThereNextTime)
{
    const QSize first = m_dlg->size();
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    m_dlg->resize(first + kExtra);
    m_dlg->close();
    EXPECT_EQ(i18n::ReadSetting("WINDOW", "width"), QString::number(first.width() + kExtra.width()));
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), "english.ini") << "the file's other keys stay";
    OpenWindow();
    EXPECT_EQ(m_dlg->size(), first + kExtra);
    EXPECT_FALSE(m_dlg->windowState() & Qt::WindowMaximized);

    i18n::WriteSetting("WINDOW", "maximized", "1");
    OpenWindow();
    EXPECT_TRUE(m_dlg->windowState() & Qt::WindowMaximized);

    // Values the window cannot use give the first size.
    for (const char* width : {"abc", "100", "-5", "99999"}) {
        i18n::WriteSetting("WINDOW", "maximized", "0");
        i18n::WriteSetting("WINDOW", "width", width);
        OpenWindow();
        EXPECT_EQ(m_dlg->size().width(), first.width()) << width;
    }
}
