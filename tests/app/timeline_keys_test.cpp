// SPDX-License-Identifier: GPL-3.0-or-later
// The timeline as a keyboard user and a file manager meet it: key picture
// ticks, the keys that move the thumb, files dropped on the window or named
// on the command line, and where the open dialog starts.
#include "app_test_support.h"

#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "file_infomation_dlg.h"
#include "job_setup.h"
#include "key_frame_scanner.h"
#include "settings_file.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

// The test program sits in the build folder, beside the window program.
QString WindowProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/morvane");
}

}  // namespace

class TimelineTest : public AppTest {
protected:
    // Loads the 10 s fixture (key pictures every 2 s) and waits for its ticks.
    void LoadWithKeyFrames()
    {
        Add({Media("h264_aac.mp4")});
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
        QTRY_COMPARE(m_dlg->KeyFramesUs().size(), size_t(5));
    }

    // What the window shows and what a cut would take, after one key.
    struct Shown {
        int ms;
        QString label;
        double preview_s;
        int thumb;
    };
    Shown Press(int key)
    {
        QTest::keyClick(m_dlg->Slider(), static_cast<Qt::Key>(key));
        return {m_dlg->CurrentMs(), Text(1184), g_pJob->start_s[0], m_dlg->Slider()->GetPos()};
    }

    void Drop(const QStringList& paths, bool* accepted)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << (path.startsWith(QStringLiteral("http")) ? QUrl(path) : QUrl::fromLocalFile(path));
        data.setUrls(urls);
        const QPoint centre = m_dlg->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_dlg.get(), &enter);
        *accepted = enter.isAccepted();
        if (!*accepted)
            return;
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_dlg.get(), &drop);
    }
};

TEST_F(TimelineTest, KeyPicturesEveryTwoSecondsAreTicksUnderTheChannelAtTheirPixels)
{
    LoadWithKeyFrames();
    EXPECT_EQ(m_dlg->KeyFramesUs(), (std::vector<int64_t>{0, 2000000, 4000000, 6000000, 8000000}));
    CBitmapSlider* slider = m_dlg->Slider();
    const double duration_us = static_cast<double>(g_pJob->duration_us);
    ASSERT_EQ(slider->TickPixels().size(), 5u);
    const QImage drawn = slider->grab().toImage();
    for (int i = 0; i < 5; ++i) {
        const int x = slider->PixelOfPosition(0) + static_cast<int>(slider->Travel() * (i * 2e6 / duration_us));
        EXPECT_EQ(slider->TickPixels()[i], x);
        // Dark under the channel at the tick, the channel's own blank beside it.
        EXPECT_LT(qGray(drawn.pixel(x, slider->height() - 3)), 100) << i;
        EXPECT_GT(qGray(drawn.pixel(x + 3, slider->height() - 3)), 200) << i;
    }
    // The ticks go when another file is loaded, until its own are read.
    Add({Media("mpeg4_mp3.avi")});
    EXPECT_TRUE(slider->TickPixels().empty());
    QTRY_COMPARE(m_dlg->KeyFramesUs().size(), size_t(6));

    // A file whose clock starts at 10 s: its first key picture is the timeline's start.
    Add({Media("start10.ts")});
    QTRY_COMPARE(m_dlg->KeyFramesUs().size(), size_t(4));
    EXPECT_EQ(m_dlg->KeyFramesUs().front(), 0);
    EXPECT_EQ(m_dlg->KeyFramesUs()[1], 1000000);
    EXPECT_EQ(slider->TickPixels().front(), slider->PixelOfPosition(0));
}

TEST_F(TimelineTest, EveryKeyMovesThumbLabelAndPreviewTogether)
{
    LoadWithKeyFrames();
    const QString length = Text(1184).section(QStringLiteral(" / "), 1);
    const int end = static_cast<int>(g_pJob->duration_us / 1000);
    const struct {
        int key;
        int ms;
    } steps[] = {
        {Qt::Key_Right, 40},     {Qt::Key_Right, 80},   {Qt::Key_Left, 40},      {Qt::Key_PageDown, 2000},
        {Qt::Key_PageDown, 4000}, {Qt::Key_Right, 4040}, {Qt::Key_PageUp, 4000},  {Qt::Key_PageUp, 2000},
        {Qt::Key_End, end},      {Qt::Key_PageDown, end}, {Qt::Key_PageUp, 8000}, {Qt::Key_Home, 0},
        {Qt::Key_Left, 0},       {Qt::Key_PageUp, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QTest::toString(QKeySequence(step.key)));
        const Shown shown = Press(step.key);
        EXPECT_EQ(shown.ms, step.ms);
        EXPECT_EQ(shown.label, QString::fromStdString(FormatTimeText(step.ms)) + " / " + length);
        EXPECT_DOUBLE_EQ(shown.preview_s, step.ms / 1000.0);
        EXPECT_EQ(shown.thumb, step.ms);
    }
}

TEST_F(TimelineTest, StartAndEndKeysTakeWhatIsShownAsTheButtonsDo)
{
    LoadWithKeyFrames();
    const QString end = Text(1024);
    for (int startKey : {Qt::Key_I, Qt::Key_BracketLeft}) {
        Press(Qt::Key_Home);
        Press(Qt::Key_PageDown);
        Press(Qt::Key_Right);
        Press(startKey);
        EXPECT_EQ(Text(1023), "00:00:02.040");
        EXPECT_EQ(Text(1024), end);  // a new start resets the end
        EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 2040);
        EXPECT_EQ(m_dlg->Slider()->GetMarkerMode(), 1);
    }
    for (int endKey : {Qt::Key_O, Qt::Key_BracketRight}) {
        Press(Qt::Key_PageDown);
        Press(Qt::Key_PageDown);
        Press(endKey);
        EXPECT_EQ(Text(1023), "00:00:02.040");
        EXPECT_EQ(Text(1024), "00:00:06.000");
        EXPECT_EQ(Text(1025), "00:00:03.960");
        EXPECT_EQ(m_dlg->Slider()->GetEndMarker(), 6000);
        Press(Qt::Key_PageUp);
        Press(Qt::Key_PageUp);
    }
    // A typed time keeps the markers, and the keys stay out of the time fields.
    auto* startField = static_cast<QLineEdit*>(Control(1023));
    startField->setFocus();
    startField->setCursorPosition(0);
    QTest::keyClick(startField, Qt::Key_End);
    QTest::keyClick(startField, Qt::Key_I);
    EXPECT_EQ(m_dlg->CurrentMs(), 2000);
    EXPECT_EQ(startField->cursorPosition(), startField->text().size());
    EXPECT_EQ(m_dlg->Slider()->GetStartMarker(), 2040);
}

TEST_F(TimelineTest, ADragEndsWhereTheKeysStart)
{
    LoadWithKeyFrames();
    DragTo(250);
    EXPECT_EQ(m_dlg->CurrentMs(), 2500);
    EXPECT_EQ(Press(Qt::Key_PageUp).ms, 2000);
    EXPECT_EQ(Press(Qt::Key_PageDown).ms, 4000);
}

TEST_F(TimelineTest, TheCutSettingsNameTheKeyPictureADirectCutStartsAt)
{
    LoadWithKeyFrames();
    const auto shownFor = [this](const char* start) {
        static_cast<QLineEdit*>(Control(1023))->setText(QString::fromLatin1(start));
        QString shown;
        QTimer::singleShot(0, [&shown] {
            auto* settings = qobject_cast<CFileInfomation*>(QApplication::activeModalWidget());
            if (!settings)
                return;
            auto* line = settings->findChild<QLabel*>(QStringLiteral("1199"));
            shown = line && line->isVisible() ? line->text() : QStringLiteral("(none)");
            settings->reject();
        });
        m_dlg->OnLaunchCut();
        return shown;
    };
    EXPECT_EQ(shownFor("00:00:05.000"), "A direct cut will start at the key picture at 00:00:04.000.");
    EXPECT_EQ(shownFor("00:00:01.999"), "A direct cut will start at the key picture at 00:00:00.000.");
    EXPECT_EQ(shownFor("00:00:06.000"), "(none)");
}

TEST_F(TimelineTest, DroppedFilesLoadTheFirstInTheCutTabAndAllInTheJoinTab)
{
    bool accepted = false;
    Drop({Media("mpeg4_mp3.avi"), Media("h264_aac.mp4")}, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(m_dlg->CutFile(), Media("mpeg4_mp3.avi"));
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 0);

    m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    Drop({Media("h264_aac.mp4"), Media("mpeg2.ts")}, &accepted);
    EXPECT_TRUE(accepted);
    ASSERT_EQ(m_dlg->FileList()->topLevelItemCount(), 2);
    EXPECT_EQ(m_dlg->FileList()->topLevelItem(1)->text(0), Media("mpeg2.ts"));

    // The same checks as Add: an unreadable file is named and stops the drop.
    Drop({Media("cover.png"), Media("h264_aac.mp4")}, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(m_dlg->FileList()->topLevelItemCount(), 2);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains("cover.png"));

    // Addresses and folders are no files to open.
    Drop({QStringLiteral("https://example.org/a.mp4"), Media("")}, &accepted);
    EXPECT_FALSE(accepted);
}

TEST_F(TimelineTest, StartFilesOpenOneInTheCutTabAndSeveralInTheJoinTab)
{
    m_dlg->OpenStartFiles({Media("h264_aac.mp4")});
    EXPECT_EQ(m_dlg->CutFile(), Media("h264_aac.mp4"));
    EXPECT_EQ(m_dlg->Tabs()->currentIndex(), CMorvaneDlg::kCutTab);

    OpenWindow();
    // A relative name counts from the folder the program was started in.
    const QString current = QDir::currentPath();
    QDir::setCurrent(QFileInfo(Media("h264_aac.mp4")).absolutePath());
    m_dlg->OpenStartFiles({QStringLiteral("h264_aac.mp4"), Media("mpeg4_mp3.avi")});
    QDir::setCurrent(current);
    EXPECT_EQ(m_dlg->Tabs()->currentIndex(), CMorvaneDlg::kJoinTab);
    ASSERT_EQ(m_dlg->FileList()->topLevelItemCount(), 2);
    EXPECT_EQ(m_dlg->FileList()->topLevelItem(0)->text(0), QFileInfo(Media("h264_aac.mp4")).absoluteFilePath());
    EXPECT_TRUE(m_dlg->CutFile().isEmpty());
}

TEST_F(TimelineTest, TheOpenDialogStartsInTheFolderOfTheLastFileOpened)
{
    Add({Media("h264_aac.mp4")});
    const QString folder = QFileInfo(Media("h264_aac.mp4")).absolutePath();
    EXPECT_EQ(i18n::ReadSetting("PATH", "open"), folder);
    platform::SetOpenFolder(QString());
    OpenWindow();
    Add({});
    EXPECT_EQ(platform::OpenFolder(), folder);
}

// The real program, started as a file manager's "Open with" starts it, in a
// portable folder of its own: it loads the file and remembers its folder.
TEST_F(TimelineTest, TheProgramStartedWithAFileOpensIt)
{
    if (!QFileInfo(WindowProgram()).isExecutable())
        GTEST_SKIP() << "the window program is not built";
    const QString program = m_folder.path() + QStringLiteral("/morvane");
    ASSERT_TRUE(QFile::copy(WindowProgram(), program));
    QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(program, {QStringLiteral("--"), Media("h264_aac.mp4")});
    ASSERT_TRUE(process.waitForStarted());
    const QString folder = QFileInfo(Media("h264_aac.mp4")).absolutePath();
    QTRY_COMPARE_WITH_TIMEOUT(i18n::ReadSetting("PATH", "open"), folder, 60000);
    process.kill();
    process.waitForFinished();
}

TEST_F(TimelineTest, TheDesktopsOwnButtonsFollowTheChosenLanguage)
{
    const auto cancelText = [] {
        return QCoreApplication::translate("QPlatformTheme", "Cancel");
    };
    EXPECT_EQ(cancelText(), "Cancel");
    auto* languages = qobject_cast<QComboBox*>(Control(1105));
    const struct {
        int entry;
        const char* cancel;
    } expected[] = {{2, "Abbrechen"}, {5, "キャンセル"}, {0, "Cancel"}};
    for (const auto& language : expected) {
        languages->setCurrentIndex(language.entry);
        m_dlg->ApplyLanguageChoice();
        EXPECT_EQ(cancelText(), QString::fromUtf8(language.cancel));
    }
}

TEST_F(TimelineTest, ThePreviewShowsThePictureOfEachPositionNotItsKeyPicture)
{
    LoadWithKeyFrames();
    const auto snapshot = [this] {
        ShownSnapshot();
        QFile file(m_dlg->SnapshotPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    Press(Qt::Key_PageDown);
    const QByteArray atTwo = snapshot();
    ASSERT_FALSE(atTwo.isEmpty());
    // Each step within the group of pictures shows another picture.
    Press(Qt::Key_Right);
    const QByteArray next = snapshot();
    EXPECT_NE(next, atTwo);
    Press(Qt::Key_Right);
    EXPECT_NE(snapshot(), next);
    // Back, the same pictures again.
    Press(Qt::Key_Left);
    EXPECT_EQ(snapshot(), next);
    Press(Qt::Key_Left);
    EXPECT_EQ(snapshot(), atTwo);
}

TEST_F(TimelineTest, TheTimelineAndThePictureButtonsShowTheKeyboardFocus)
{
    Add({Media("h264_aac.mp4")});
    m_dlg->show();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    for (int id : {1140, 1188, 1154, 1149}) {
        SCOPED_TRACE(id);
        QWidget* control = Control(id);
        Control(1023)->setFocus();
        const QImage unfocused = control->grab().toImage();
        control->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(control->hasFocus());
        EXPECT_NE(control->grab().toImage(), unfocused);
    }
}

TEST_F(TimelineTest, OnlyTheLatestScanReportsAndADestroyedScannerStopsItsOwn)
{
    int first = 0;
    std::vector<int64_t> second;
    {
        KeyFrameScanner scanner;
        scanner.Start(Media("mpeg2.ts").toStdString(), [&first](std::vector<int64_t>) { ++first; });
        scanner.Start(Media("h264_aac.mp4").toStdString(), [&second](std::vector<int64_t> times) { second = times; });
        QTRY_COMPARE(second.size(), size_t(5));
        QCoreApplication::processEvents();
        EXPECT_EQ(first, 0);

        // Gone before its result arrives: nothing is reported, nothing runs on.
        KeyFrameScanner leaving;
        leaving.Start(Media("mpeg2.ts").toStdString(), [&first](std::vector<int64_t>) { ++first; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(first, 0);
}

TEST_F(TimelineTest, OnceAFileIsLoadedTheArrowKeysStepAlongIt)
{
    m_dlg->show();
    m_dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    for (const char* file : {"h264_aac.mp4", "mpeg4_mp3.avi"}) {
        SCOPED_TRACE(file);
        m_dlg->Tabs()->setFocus();  // where the focus sits after the open dialog closes
        Add({Media(file)});
        EXPECT_EQ(QApplication::focusWidget(), m_dlg->Slider());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        EXPECT_GT(m_dlg->CurrentMs(), 0);
        EXPECT_EQ(m_dlg->Tabs()->currentIndex(), CMorvaneDlg::kCutTab);
    }
}

TEST_F(TimelineTest, ANewStartBeforeTheMarkedEndKeepsThatEnd)
{
    LoadWithKeyFrames();
    const QString fileEnd = Text(1024);
    const struct {
        int start, end, newStart;
        const char* keptEnd;  // nullptr: the file's end
    } cases[] = {
        {2000, 8000, 5000, "00:00:08.000"},
        {2000, 8000, 1000, "00:00:08.000"},
        {2000, 8000, 8000, nullptr},
        {2000, 8000, 9000, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.newStart);
        m_dlg->MoveToMs(c.start);
        Press(Qt::Key_I);
        m_dlg->MoveToMs(c.end);
        Press(Qt::Key_O);
        m_dlg->MoveToMs(c.newStart);
        Press(Qt::Key_I);
        EXPECT_EQ(Text(1023), QString::fromStdString(FormatTimeText(c.newStart)));
        EXPECT_EQ(Text(1024), c.keptEnd ? QString(c.keptEnd) : fileEnd);
    }
}

// The Length field reads Start and End as Cut does: one reading of a time.
TEST_F(TimelineTest, TheLengthIsReadFromTheFieldsAsTheCutReadsThem)
{
    LoadWithKeyFrames();
    const struct {
        const char* start;
        const char* end;
        const char* length;
    } cases[] = {
        {"0:30.5", "1:00", "00:00:29.500"},
        {"00:00:01.5", "00:00:03", "00:00:01.500"},
        {"0", "1:00:00", "01:00:00.000"},
        {"00:00:01.25", "2", "00:00:00.750"},
        {"abc", "00:00:05", "00:00:00.000"},
        {"00:00:01", "00:00:05.0001", "00:00:00.000"},
        {"00:00:05", "00:00:01", "00:00:00.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + " - " + c.end);
        static_cast<QLineEdit*>(Control(1023))->setText(QString::fromLatin1(c.start));
        static_cast<QLineEdit*>(Control(1024))->setText(QString::fromLatin1(c.end));
        EXPECT_EQ(Text(1025), c.length);
    }
}
