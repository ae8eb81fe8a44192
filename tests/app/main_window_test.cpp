// SPDX-License-Identifier: GPL-3.0-or-later
// The main window driven through its seams: adding files in both tabs, the
// join list, the timeline and its cut points, tabs, keys and closing.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "control_button.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "settings_file.h"
#include "ui_strings.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidgetItem>

#include <QHeaderView>
#include <QApplication>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <chrono>
#include <thread>

namespace {

QStringList RowTexts(CCheckListCtrl* list, int row)
{
    QStringList texts;
    for (int column = 0; column < 6; ++column)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

}  // namespace

TEST_F(AppTest, ThreeFilesInTheJoinTabBecomeThreeCheckedRowsWithTheirFacts)
{
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    const QString ready = LanguageText("JIEMIAN", "zb");
    ASSERT_FALSE(ready.isEmpty());
    Add({Media("h264_aac.mp4"), Media("fps8.mp4"), Media("h264_640.mp4")});

    CCheckListCtrl* list = m_dlg->FileList();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(RowTexts(list, 0),
              QStringList({Media("h264_aac.mp4"), "mp4", "00:00:10.000", "320*240", "25.00fps", ready}));
    // A rate below 10 keeps the five-character field: a leading space.
    EXPECT_EQ(RowTexts(list, 1),
              QStringList({Media("fps8.mp4"), "mp4", "00:00:03.000", "320*240", " 8.00fps", ready}));
    EXPECT_EQ(RowTexts(list, 2),
              QStringList({Media("h264_640.mp4"), "mp4", "00:00:03.000", "640*480", "25.00fps", ready}));
    for (int row = 0; row < 3; ++row)
        EXPECT_TRUE(list->IsRowChecked(row)) << row;
    EXPECT_TRUE(m_dlg->CutFile().isEmpty());
    EXPECT_TRUE(m_messages.isEmpty());
    // The dialog offered the video patterns first and everything second.
    ASSERT_EQ(m_filters.size(), 1);
    EXPECT_TRUE(m_filters[0].startsWith(LanguageText("JIEMIAN", "symtwj") + "|*.rm;*.rmvb;"));
    EXPECT_TRUE(m_filters[0].endsWith(";*.wmv;*.wm|" + LanguageText("JIEMIAN", "sywj") + "|*.*|"));
}

TEST_F(AppTest, ThreeFilesInTheCutTabLoadTheLastAndLeaveTheListAlone)
{
    Add({Media("h264_640.mp4"), Media("h264_aac.mp4"), Media("fps8.mp4")});
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 0);
    EXPECT_EQ(m_dlg->CutFile(), Media("fps8.mp4"));
    EXPECT_EQ(Text(1023), "00:00:00.000");
    EXPECT_EQ(Text(1024), "00:00:03.000");
    EXPECT_EQ(Text(1025), "00:00:03.000");
    EXPECT_EQ(Text(1184), "00:00:00.000 / 00:00:03.000");
    EXPECT_TRUE(Control(1000)->isHidden());
    EXPECT_TRUE(m_dlg->Slider()->isEnabled());
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 0);
    EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 3000);  // the timeline counts milliseconds
    EXPECT_EQ(m_dlg->SnapshotPath(), m_folder.path() + "/image.jpg");
    EXPECT_FALSE(ShownSnapshot().isNull());
}

TEST_F(AppTest, AFailedAddInTheCutTabLeavesTheLoadedFileAsItWas)
{
    // Before any file: the screen stays empty, and so does the cut file.
    Add({Media("h264_aac.mp4"), Media("text.mp4"), Media("fps8.mp4")});
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], LanguageText("TISHI", "wj") + "text.mp4 " + LanguageText("TISHI", "wx"));
    EXPECT_TRUE(m_dlg->CutFile().isEmpty());
    EXPECT_FALSE(Control(1000)->isHidden());
    EXPECT_FALSE(m_dlg->Slider()->isEnabled());

    // With a file loaded: preview, times, slider and cut file all stay with it.
    Add({Media("h264_aac.mp4")});
    DragTo(250);
    const QStringList before = {Text(1023), Text(1024), Text(1025), Text(1184)};
    Add({Media("fps8.mp4"), Media("empty.mp4")});
    EXPECT_EQ(m_messages.size(), 2);
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_EQ(QStringList({Text(1023), Text(1024), Text(1025), Text(1184)}), before);
    EXPECT_TRUE(m_dlg->Slider()->isEnabled());
    EXPECT_EQ(m_dlg->Slider()->GetPos(), 2500);
    DragTo(500);
    EXPECT_EQ(Text(1184), "00:00:05.000 / 00:00:10.000");
    EXPECT_STREQ(g_pJob->probe_path, Media("h264_aac.mp4").toStdString().c_str());
}

TEST_F(AppTest, AFailingFileInTheJoinTabKeepsTheRowsAddedBeforeIt)
{
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("h264_aac.mp4"), Media("empty.mp4"), Media("fps8.mp4")});
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 1);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains("empty.mp4 "));
}

TEST_F(AppTest, CancellingTheFileDialogChangesNothing)
{
    Add({Media("h264_aac.mp4")});
    Add({});
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_EQ(g_pJob != nullptr, true);
}

TEST_F(AppTest, AFileShorterThanAMillisecondIsRefusedLikeAnUnreadableOne)
{
    const QString tiny = m_folder.path() + "/tiny.nut";
    const int rc = QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f",
                                                "lavfi", "-i", "testsrc2=size=64x48:rate=5000", "-frames:v",
                                                "1", "-c:v", "mpeg4", tiny});
    ASSERT_EQ(rc, 0);
    Add({tiny});
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0], LanguageText("TISHI", "wj") + "tiny.nut " + LanguageText("TISHI", "wx"));
    EXPECT_TRUE(m_dlg->CutFile().isEmpty());
    EXPECT_FALSE(m_dlg->Slider()->isEnabled());

    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({tiny});
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 0);
    EXPECT_EQ(m_messages.size(), 2);
}

TEST_F(AppTest, DoubledSeparatorsAreCollapsedButANetworkPathIsKept)
{
    QString doubled = Media("h264_aac.mp4");
    doubled.insert(doubled.lastIndexOf('/'), '/');
    ASSERT_TRUE(doubled.contains("//"));
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({doubled});
    ASSERT_EQ(m_dlg->FileList()->topLevelItemCount(), 1);
    EXPECT_EQ(m_dlg->FileList()->topLevelItem(0)->text(0), Media("h264_aac.mp4"));

    EXPECT_EQ(RepairDoubledSeparators("//server/share//clip.mp4"), "//server/share//clip.mp4");
    EXPECT_EQ(RepairDoubledSeparators("clips//a\\\\b.mp4"), "clips/a\\\\b.mp4");
    EXPECT_EQ(RepairDoubledSeparators(""), "");
}

TEST_F(AppTest, DeletingTheLastRowSelectsTheNewLastAndDeletingTheOnlyRowLeavesNothing)
{
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("h264_aac.mp4"), Media("fps8.mp4"), Media("h264_640.mp4")});
    CCheckListCtrl* list = m_dlg->FileList();
    list->topLevelItem(2)->setSelected(true);
    m_dlg->DeleteSelectedRow();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(list->topLevelItem(1)->isSelected());
    EXPECT_EQ(list->currentItem(), list->topLevelItem(1));

    // Deleting from the middle selects the row that moved into its place.
    list->clearSelection();
    list->topLevelItem(0)->setSelected(true);
    m_dlg->DeleteSelectedRow();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), Media("fps8.mp4"));
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());

    m_dlg->DeleteSelectedRow();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    m_dlg->DeleteSelectedRow();  // nothing selected: nothing happens
}

TEST_F(AppTest, DeleteRemovesAJoinRowOnlyWhileTheListHasTheFocus)
{
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("h264_aac.mp4"), Media("fps8.mp4")});
    m_dlg->FileList()->topLevelItem(0)->setSelected(true);
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);
    m_dlg->show();
    // In a text field Delete deletes the character after the cursor, nothing else.
    auto* edit = static_cast<QLineEdit*>(Control(1023));
    edit->setFocus();
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "0:00:00.000");
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 2);

    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    m_dlg->FileList()->setFocus();
    QTest::keyClick(m_dlg->FileList(), Qt::Key_Delete);
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 1);
    // The delete button does the same.
    static_cast<QPushButton*>(Control(1254))->click();
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 0);
}

TEST_F(AppTest, SliderHalfwayOnATenSecondFilePreviewsFiveSeconds)
{
    Add({Media("h264_aac.mp4")});
    const QImage first = ShownSnapshot();
    ASSERT_FALSE(first.isNull());
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));

    // A press on the channel at the pixel of 500, as the user drags there.
    CBitmapSlider* slider = m_dlg->Slider();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->PixelOfPosition(5000), 10));
    QTRY_COMPARE(Text(1184), QString("00:00:05.000 / 00:00:10.000"));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->PixelOfPosition(5000), 10));
    EXPECT_EQ(slider->GetPos(), 5000);
    EXPECT_EQ(m_dlg->CurrentMs(), 5000);
    EXPECT_DOUBLE_EQ(g_pJob->start_s[0], 5.0);
    EXPECT_EQ(g_pJob->current_input, 0);

    // A new picture was written, and the preview area shows it at its 4:3
    // shape, as high as the area, between black bars.
    const QImage fifth = ShownSnapshot();
    ASSERT_FALSE(fifth.isNull());
    EXPECT_NE(fifth, first);
    QWidget* preview = Control(1139);
    const QImage shown = preview->grab().toImage();
    const QSize fitted = fifth.size().scaled(preview->size() - QSize(2, 2), Qt::KeepAspectRatio);
    const QPoint centre(preview->width() / 2, preview->height() / 2);
    // The same picture as the snapshot, drawn at the area's size from the decoded picture.
    const QRect inside((preview->width() - fitted.width()) / 2, (preview->height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    const QImage down = shown.copy(inside).scaled(fifth.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double differ = 0;
    for (int y = 0; y < fifth.height(); ++y)
        for (int x = 0; x < fifth.width(); ++x)
            differ += std::abs(qGray(down.pixel(x, y)) - qGray(fifth.pixel(x, y)));
    EXPECT_LE(differ / (fifth.width() * fifth.height()), 10.0);
    const int bar = (preview->width() - fitted.width()) / 2;
    ASSERT_GT(bar, 20);
    EXPECT_EQ(shown.pixel(bar / 2, centre.y()), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(preview->width() - bar / 2, centre.y()), qRgb(0, 0, 0));
}

TEST_F(AppTest, StartPointAtAQuarterSetsTheStartAndResetsTheEnd)
{
    Add({Media("h264_aac.mp4")});
    DragTo(250);
    static_cast<QPushButton*>(Control(1154))->click();
    EXPECT_EQ(Text(1023), "00:00:02.500");
    EXPECT_EQ(Text(1024), "00:00:10.000");
    EXPECT_EQ(Text(1025), "00:00:07.500");
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 1);
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 2500);
    EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 10000);
}

TEST_F(AppTest, EndPointBeforeTheStartSwapsTheTimesButNotTheMarkers)
{
    Add({Media("h264_aac.mp4")});
    DragTo(250);
    m_dlg->OnStartPoint();
    DragTo(750);
    m_dlg->OnEndPoint();
    EXPECT_EQ(Text(1023), "00:00:02.500");
    EXPECT_EQ(Text(1024), "00:00:07.500");
    EXPECT_EQ(Text(1025), "00:00:05.000");

    DragTo(100);
    static_cast<QPushButton*>(Control(1149))->click();
    EXPECT_EQ(Text(1023), "00:00:01.000");
    EXPECT_EQ(Text(1024), "00:00:02.500");
    EXPECT_EQ(Text(1025), "00:00:01.500");
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 2500);
    EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 1000);
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 2);
}

TEST_F(AppTest, CutPointsNeedALoadedFile)
{
    m_dlg->OnStartPoint();
    m_dlg->OnEndPoint();
    EXPECT_EQ(Text(1023), "00:00:00.000");
    EXPECT_EQ(Text(1024), "00:00:00.000");
    EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 0);
    EXPECT_FALSE(m_dlg->Slider()->isEnabled());
}

TEST_F(AppTest, TypedTimesChangeOnlyTheLength)
{
    Add({Media("h264_aac.mp4")});
    auto* start = static_cast<QLineEdit*>(Control(1023));
    auto* end = static_cast<QLineEdit*>(Control(1024));
    start->clear();
    QTest::keyClicks(start, "00:00:01.250");
    end->setText("00:00:04.500");
    EXPECT_EQ(Text(1025), "00:00:03.250");
    end->setText("00:00:00.900");
    EXPECT_EQ(Text(1025), "00:00:00.000");
    end->setText("01:00:00.000");
    EXPECT_EQ(Text(1025), "00:59:58.750");
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 0);
    EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 10000);
}

TEST_F(AppTest, TheTimelineKeepsTheCutFileAfterJoinFilesAreAdded)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("fps8.mp4")});
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);

    DragTo(500);
    EXPECT_EQ(Text(1184), "00:00:05.000 / 00:00:10.000");
    EXPECT_STREQ(g_pJob->probe_path, Media("h264_aac.mp4").toStdString().c_str());
    m_dlg->OnStartPoint();
    EXPECT_EQ(Text(1024), "00:00:10.000");
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 1);
}

TEST_F(AppTest, TheTabSwitchShowsEachTabsControlsAndKeepsAddHiddenOnceAFileIsLoaded)
{
    const QList<int> cutOnly = {1004, 1183, 1140, 1154, 1149, 1018, 1019, 1157, 1023,
                                1024, 1025, 1172, 1139, 1184, 1188};
    const QList<int> joinOnly = {1114, 1099, 1254, 1255};
    for (int id : joinOnly)
        EXPECT_TRUE(Control(id)->isHidden()) << id;

    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    for (int id : cutOnly)
        EXPECT_TRUE(Control(id)->isHidden()) << id;
    for (int id : joinOnly)
        EXPECT_FALSE(Control(id)->isHidden()) << id;
    EXPECT_TRUE(Control(1000)->isHidden());
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);
    EXPECT_FALSE(Control(1000)->isHidden());  // no file yet

    Add({Media("h264_aac.mp4")});
    DragTo(300);
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kCutTab);
    EXPECT_TRUE(Control(1000)->isHidden());
    for (int id : cutOnly)
        EXPECT_FALSE(Control(id)->isHidden()) << id;
    for (int id : joinOnly)
        EXPECT_TRUE(Control(id)->isHidden()) << id;
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_EQ(m_dlg->Slider()->GetPos(), 3000);
    EXPECT_EQ(Text(1184), "00:00:03.000 / 00:00:10.000");
    for (int id : {1160, 1180, 1278, 1105})
        EXPECT_FALSE(Control(id)->isHidden()) << id;
}

TEST_F(AppTest, EscapeAndEnterLeaveTheWindowOpen)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    ASSERT_TRUE(finished.isValid());
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QTest::keyClick(m_dlg.get(), Qt::Key_Return);
    QTest::keyClick(Control(1023), Qt::Key_Enter);
    Control(1004)->setFocus();
    QTest::keyClick(Control(1004), Qt::Key_Return);
    QTest::keyClick(Control(1024), Qt::Key_Escape);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_NE(g_pJob, nullptr);
}

TEST_F(AppTest, ClosingFreesTheJobOnlyAfterTheWorkerHasEnded)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->show();
    ASSERT_NE(g_pJob, nullptr);
    ConversionJob* job = g_pJob;
    std::atomic<bool> workerDone{false};
    m_dlg->AdoptWorker(std::thread([job, &workerDone] {
        while (!job->cancel_requested)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        job->progress_percent = 100;  // a last write, as a worker finishing its packet does
        workerDone = true;
    }));
    QSignalSpy finished(m_dlg.get(), &QDialog::finished);
    ASSERT_TRUE(m_dlg->close());
    EXPECT_TRUE(workerDone);
    EXPECT_EQ(g_pJob, nullptr);
    EXPECT_FALSE(m_dlg->isVisible());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished[0][0].toInt(), int(QDialog::Accepted));
}

TEST_F(AppTest, ClosingBeforeAnyAddHasNothingToFree)
{
    m_dlg->show();
    EXPECT_EQ(g_pJob, nullptr);
    EXPECT_TRUE(m_dlg->close());
    EXPECT_EQ(g_pJob, nullptr);
}

TEST_F(AppTest, PlayOpensTheCutFile)
{
    m_dlg->OnPlay();
    Add({Media("fps8.mp4")});
    static_cast<QPushButton*>(Control(1188))->click();
    EXPECT_EQ(m_opened, QStringList({QString(), Media("fps8.mp4")}));
}

TEST_F(AppTest, ChoosingJapaneseSwitchesEveryCaptionAtOnceAndRemembersIt)
{
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("fps8.mp4")});
    const QString englishReady = LanguageText("JIEMIAN", "zb");
    EXPECT_EQ(m_dlg->windowTitle(), LanguageText("APPLICATION", "name") + " " + LanguageText("APPLICATION", "version"));

    auto* combo = static_cast<QComboBox*>(Control(1105));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->itemText(5), "Japanese");
    combo->setCurrentIndex(5);
    m_dlg->ApplyLanguageChoice();

    EXPECT_EQ(i18n::g_uiStrings.Language(), "japanese.ini");
    EXPECT_EQ(i18n::ReadSetting("LANGUAGE", "file"), "japanese.ini");
    const QString tabText = LanguageText("JIEMIAN", "sphb");
    ASSERT_FALSE(tabText.isEmpty());
    EXPECT_EQ(m_dlg->Tabs()->tabText(1), tabText);
    EXPECT_EQ(m_dlg->Tabs()->tabText(0), LanguageText("JIEMIAN", "spjq"));
    EXPECT_EQ(m_dlg->FileList()->headerItem()->text(5), LanguageText("JIEMIAN", "zt"));
    EXPECT_EQ(Text(1018), LanguageText("JIEMIAN", "ksjq"));
    EXPECT_EQ(Text(1019), LanguageText("JIEMIAN", "jsjq"));
    EXPECT_EQ(Text(1157), LanguageText("JIEMIAN", "jqsj"));
    EXPECT_EQ(Text(1278), LanguageText("JIEMIAN", "yy"));
    EXPECT_EQ(Text(1180), LanguageText("JIEMIAN", "zysybrj"));
    EXPECT_EQ(m_dlg->OnToolTipText(1004), LanguageText("HINT", "ksjq"));
    // Rows already listed keep the word they were given.
    EXPECT_EQ(m_dlg->FileList()->topLevelItem(0)->text(5), englishReady);

    OpenWindow();
    EXPECT_EQ(static_cast<QComboBox*>(Control(1105))->currentIndex(), 5);
    EXPECT_EQ(m_dlg->Tabs()->tabText(1), tabText);
}

TEST_F(AppTest, AnUnknownLanguageFileSelectsEnglish)
{
    WriteSettings("English.ini");
    OpenWindow();
    EXPECT_EQ(static_cast<QComboBox*>(Control(1105))->currentIndex(), 0);
    EXPECT_EQ(static_cast<QComboBox*>(Control(1105))->count(), 6);
}

TEST_F(AppTest, ToolTipsComeFromTheHintsOfTheCurrentLanguage)
{
    for (int id : {1000, 1183, 1255})
        EXPECT_EQ(m_dlg->OnToolTipText(id), LanguageText("HINT", "tjspwj")) << id;
    EXPECT_EQ(m_dlg->OnToolTipText(1004), LanguageText("HINT", "ksjq"));
    EXPECT_EQ(m_dlg->OnToolTipText(1023), LanguageText("HINT", "zjsrsjd"));
    EXPECT_EQ(m_dlg->OnToolTipText(1024), LanguageText("HINT", "zjsrsjd"));
    EXPECT_EQ(m_dlg->OnToolTipText(1099), LanguageText("HINT", "hbcygwj"));
    EXPECT_EQ(m_dlg->OnToolTipText(1140), LanguageText("HINT", "djsbzj"));
    EXPECT_EQ(m_dlg->OnToolTipText(1149), LanguageText("HINT", "szjsjqd"));
    EXPECT_EQ(m_dlg->OnToolTipText(1154), LanguageText("HINT", "szksjqd"));
    EXPECT_EQ(m_dlg->OnToolTipText(1188), LanguageText("HINT", "bf"));
    EXPECT_EQ(m_dlg->OnToolTipText(1254), LanguageText("HINT", "sc"));
    EXPECT_NE(LanguageText("HINT", "ksjq"), LanguageText("JIEMIAN", "ksjq"));
    EXPECT_EQ(m_dlg->OnToolTipText(1025), QString());
    EXPECT_EQ(m_dlg->OnToolTipText(1180), QString());
}

TEST_F(AppTest, EveryTemplateControlSitsAtItsDialogUnitsWithItsStartingState)
{
    const dialogs::DialogUnits units(m_dlg->font());
    EXPECT_EQ(m_dlg->size(), QSize(units.ToPixelsX(383), units.ToPixelsY(263)));
    EXPECT_EQ(Control(1004)->geometry(), units.ToPixels(321, 231, 58, 25));
    EXPECT_EQ(Control(1139)->geometry(), units.ToPixels(4, 16, 375, 164));
    EXPECT_EQ(Control(1114)->geometry(), units.ToPixels(4, 15, 308, 201));
    // The slider takes its channel bitmap's size at its template position.
    EXPECT_EQ(Control(1140)->geometry(), QRect(units.ToPixels(4, 183, 1, 1).topLeft(), QSize(655, 20)));
    const QList<int> ids = {1160, 1180, 1278, 1105, 1114, 1139, 1000, 1140, 1172, 1183, 1188, 1154,
                            1149, 1184, 1018, 1019, 1157, 1023, 1024, 1025, 1004, 1255, 1254, 1099};
    for (int id : ids)
        EXPECT_NE(Control(id), nullptr) << id;
    EXPECT_EQ(Text(1184), "00:00:00:000 / 00:00:00:000");
    EXPECT_EQ(Text(1025), "00:00:00.000");
    EXPECT_EQ(m_dlg->palette().color(QPalette::Window), QColor(187, 222, 251));
    EXPECT_EQ(m_dlg->FileList()->palette().color(QPalette::Base), QColor(241, 250, 233));
    const int widths[] = {185, 60, 90, 70, 70, 60};
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(m_dlg->FileList()->columnWidth(column), widths[column]) << column;
    // It may grow, never shrink below the template's size.
    EXPECT_EQ(m_dlg->minimumSize(), m_dlg->size());
    EXPECT_GT(m_dlg->maximumSize().width(), m_dlg->size().width());
}

TEST_F(AppTest, PressingOnTheBackgroundMovesTheWindow)
{
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    const QPoint before = m_dlg->pos();
    // On the time labels, which take no clicks themselves, as on the bare background.
    QWidget* label = Control(1018);
    const QPoint press = label->mapTo(m_dlg.get(), QPoint(2, 2));
    QTest::mousePress(m_dlg.get(), Qt::LeftButton, {}, press);
    QMouseEvent move(QEvent::MouseMove, QPointF(press + QPoint(30, 20)),
                     QPointF(m_dlg->mapToGlobal(press + QPoint(30, 20))), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(m_dlg.get(), &move);
    QTest::mouseRelease(m_dlg.get(), Qt::LeftButton, {}, press + QPoint(30, 20));
    EXPECT_EQ(m_dlg->pos(), before + QPoint(30, 20));
}

TEST_F(AppTest, AToolTipAsksTheWindowForTheControlsHint)
{
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    QWidget* convert = Control(1004);
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), convert->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(convert, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), LanguageText("HINT", "ksjq"));
    QToolTip::hideText();
}

TEST_F(AppTest, ACloseDuringAnAddWaitsUntilTheAddIsThrough)
{
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    // Delivered by the add's own pump, while the record is in use.
    QTimer::singleShot(0, m_dlg.get(), [this] { m_dlg->close(); });
    QTimer::singleShot(0, m_dlg.get(), [this] { static_cast<QPushButton*>(Control(1183))->click(); });
    Add({Media("h264_640.mp4"), Media("fps8.mp4"), Media("h264_aac.mp4")});
    EXPECT_EQ(m_filters.size(), 1);  // the second Add was refused
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(g_pJob, nullptr);
}

namespace {

// WCAG's relative luminance and contrast ratio.
double Luminance(QColor c)
{
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(QColor a, QColor b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text against its background in a grab of a piece of text: the
// commonest colour is the background, the pixel furthest from it the text.
double TextContrast(const QImage& image)
{
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    if (counts.empty())
        return 0;
    const QColor back = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                            return a.second < b.second;
                        })->first;
    double best = 1;
    for (const auto& [rgb, n] : counts)
        best = std::max(best, Contrast(QColor(rgb), back));
    return best;
}

QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 30);
    for (auto [role, colour] : {std::pair{QPalette::Window, window}, {QPalette::WindowText, QColor(Qt::white)},
                                {QPalette::Base, base}, {QPalette::AlternateBase, window},
                                {QPalette::Text, QColor(Qt::white)}, {QPalette::Button, window},
                                {QPalette::ButtonText, QColor(Qt::white)}, {QPalette::Light, QColor(80, 80, 80)},
                                {QPalette::Midlight, QColor(65, 65, 65)}, {QPalette::Mid, QColor(40, 40, 40)},
                                {QPalette::Dark, QColor(20, 20, 20)}, {QPalette::Highlight, QColor(42, 130, 218)},
                                {QPalette::HighlightedText, QColor(Qt::white)}})
        dark.setColor(role, colour);
    return dark;
}

}  // namespace

TEST_F(AppTest, UnderADarkDesktopThemeEveryTextOfTheWindowStaysReadable)
{
    const QPalette before = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    OpenWindow();
    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Add({Media("h264_aac.mp4"), Media("fps8.mp4")});
    m_dlg->FileList()->clearSelection();
    m_dlg->FileList()->setCurrentItem(nullptr);
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));

    const auto inside = [](QWidget* widget, QRect area) {
        return widget->grab(area.adjusted(3, 3, -3, -3)).toImage();
    };
    std::vector<std::pair<std::string, QImage>> texts;
    QTabBar* tabs = m_dlg->Tabs();
    for (int i = 0; i < tabs->count(); ++i)
        texts.emplace_back("tab " + std::to_string(i), inside(tabs, tabs->tabRect(i)));
    CCheckListCtrl* list = m_dlg->FileList();
    const QRect row = list->visualItemRect(list->topLevelItem(1));
    texts.emplace_back("join row", inside(list->viewport(), row.intersected(QRect(30, 0, list->columnWidth(0) - 30, 1000))));
    texts.emplace_back("list header", inside(list->header(), list->header()->rect().intersected(QRect(30, 0, 150, 100))));

    tabs->setCurrentIndex(CMorvaneDlg::kCutTab);
    Add({Media("h264_aac.mp4")});
    for (int id : {1018, 1019, 1157, 1184, 1025, 1278})
        texts.emplace_back("static " + std::to_string(id), inside(Control(id), Control(id)->rect()));
    for (const auto& [what, image] : texts) {
        SCOPED_TRACE(what);
        EXPECT_GE(TextContrast(image), 4.5);
    }
    m_dlg.reset();
    QApplication::setPalette(before);
}
