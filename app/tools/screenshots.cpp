// SPDX-License-Identifier: GPL-3.0-or-later
// Shows the main window with files loaded and a preview, and saves what the
// screen shows of both tabs. Run under a display (xvfb-run -a) from build/:
//
//   morvane_screenshots OUT_DIR LANGUAGE_FILE CUT_FILE POSITION JOIN_FILE...
//   morvane_screenshots --screen OUT.png    (the whole screen, e.g. with build/morvane on it)
//
// e.g. morvane_screenshots shots english.ini media/h264_aac.mp4 400 media/*.mp4
#include "av_convert_dlg.h"
#include "bitmap_slider.h"
#include "check_list_ctrl.h"
#include "file_infomation_dlg.h"
#include "job_sequence.h"
#include "morvane_dlg.h"
#include "queue_panel.h"
#include "settings_dlg.h"
#include "seams.h"
#include "settings_file.h"
#include "ui_strings.h"
#include "job_setup.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTabBar>
#include <QTest>
#include <QTextStream>

#include <algorithm>

namespace {

void Save(QWidget* window, const QString& path)
{
    QTest::qWait(400);
    QPixmap shot = window->screen()->grabWindow(window->winId());
    if (shot.isNull())
        shot = window->grab();
    shot.save(path);
    QTextStream(stdout) << "saved " << path << "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--screen")) {
        QTest::qWait(1500);
        return QGuiApplication::primaryScreen()->grabWindow(0).save(args[2]) ? 0 : 1;
    }
    if (args.size() < 6) {
        QTextStream(stderr) << "usage: morvane_screenshots OUT_DIR LANGUAGE_FILE CUT_FILE POSITION JOIN_FILE...\n";
        return 2;
    }
    const QString outDir = args[1];
    QDir().mkpath(outDir);
    const QString language = args[2];
    const QString cutFile = QFileInfo(args[3]).absoluteFilePath();
    const int position = args[4].toInt();
    QStringList joinFiles;
    for (int i = 5; i < args.size(); ++i)
        joinFiles << QFileInfo(args[i]).absoluteFilePath();

    platform::ScopedSeams seams;
    QStringList answer;
    platform::CurrentSeams().getOpenFileNames = [&](QWidget*, const QString&) { return answer; };
    platform::CurrentSeams().messageBox = [](const platform::MessageBoxRequest& request) {
        QTextStream(stderr) << "message: " << request.text << "\n";
    };

    CMorvaneDlg dialog;
    // The language is shown without writing it to setting.ini.
    const auto& files = i18n::LanguageFileNames();
    const auto entry = std::find(files.begin(), files.end(), language);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("1105"));
    combo->setCurrentIndex(entry == files.end() ? -1 : static_cast<int>(entry - files.begin()));
    i18n::g_uiStrings.SetLanguage(language);
    dialog.ApplyLanguage();
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        QTextStream(stderr) << "the window was not exposed\n";

    answer = {cutFile};
    dialog.OnAddFiles();
    // The key picture ticks come from a scan of their own.
    (void)QTest::qWaitFor([&dialog] { return !dialog.KeyFramesUs().empty(); }, 10000);
    dialog.Slider()->SetPos(static_cast<int>(static_cast<long long>(dialog.Slider()->RangeMax()) * position / 1000));
    dialog.OnSliderMoving();
    dialog.OnStartPoint();
    const QString stem = outDir + QStringLiteral("/main-") + QFileInfo(language).baseName();
    Save(&dialog, stem + QStringLiteral("-cut.png"));
    // Playing inside the window: the preview and the thumb follow the sound.
    dialog.OnPlayHere();
    QTest::qWait(800);
    Save(&dialog, stem + QStringLiteral("-playing.png"));
    dialog.StopPlaying();
    dialog.MoveToMs(static_cast<long long>(dialog.Slider()->RangeMax()) * position / 1000);
    // The timeline with its ticks, close up, and the keyboard's focus on it.
    dialog.Slider()->setFocus();
    QTest::qWait(100);
    const QRect timeline = dialog.Slider()->geometry().united(dialog.findChild<QWidget*>(QStringLiteral("1172"))->geometry());
    dialog.grab(timeline.adjusted(-4, -24, 4, 4)).save(stem + QStringLiteral("-timeline.png"));
    QTextStream(stdout) << "saved " << stem << "-timeline.png\n";

    // The cut settings for a start point between key pictures.
    {
        // The settings dialogs read the language from setting.ini; it is put back afterwards.
        const QString saved = i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), language);
        CFileInfomation settings(&dialog);
        settings.file_title = QFileInfo(cutFile).completeBaseName();
        const long long key = dialog.KeyFrameAtOrBefore(dialog.CurrentMs());
        settings.SetDirectCutStart(QString::fromStdString(FormatTimeText(static_cast<int>(key < 0 ? 0 : key))));
        settings.OnInitDialog();
        settings.show();
        if (QTest::qWaitForWindowExposed(&settings))
            Save(&settings, outDir + QStringLiteral("/cut-settings-key-start-") + QFileInfo(language).baseName() +
                                QStringLiteral(".png"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), saved);
    }

    // What the window opened under a dark palette shows, last of all (it
    // shares the process's job record, which it frees when it closes).
    CutSpan darkSpan;
    long long darkMs = 0;
    QSize darkSize;
    QPalette dark;
    // Three spans, the second chosen; the open list; the settings' span choice.
    {
        const long long length = dialog.KeyFrameAtOrBefore(1 << 30) + 1;
        for (double from : {0.1, 0.4, 0.7}) {
            dialog.MoveToMs(static_cast<long long>(length * from));
            dialog.OnStartPoint();
            dialog.MoveToMs(static_cast<long long>(length * (from + 0.15)));
            dialog.OnEndPoint();
            dialog.OnAddSpan();
        }
        dialog.SpanList()->setCurrentIndex(2);
        dialog.OnSpanChosen(2);
        Save(&dialog, stem + QStringLiteral("-spans.png"));
        dialog.SpanList()->showPopup();
        QTest::qWait(300);
        QWidget* popup = dialog.SpanList()->view()->window();
        const QRect list = popup->geometry().translated(-dialog.geometry().topLeft());
        QPixmap shot = dialog.grab();
        QPainter painter(&shot);
        painter.drawPixmap(list.topLeft(), popup->grab());
        painter.end();
        shot.save(stem + QStringLiteral("-span-list.png"));
        QTextStream(stdout) << "saved " << stem << "-span-list.png\n";
        dialog.SpanList()->hidePopup();

        // Grown, the timeline zoomed in on the chosen span; then under a dark desktop palette.
        const QSize first = dialog.size();
        const QPoint place = dialog.pos();
        dialog.move(0, 0);  // all of the grown window on the screen
        dialog.resize(first + QSize(330, 180));
        dialog.OnSpanChosen(2);
        for (int i = 0; i < 4; ++i)
            dialog.OnTimelineKey(Qt::Key_Plus);
        Save(&dialog, stem + QStringLiteral("-grown-zoomed.png"));
        dark = QPalette(QColor(53, 53, 53), QColor(42, 42, 42));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        darkSpan = dialog.Spans()[1];
        darkMs = dialog.CurrentMs();
        darkSize = dialog.size();
        dialog.OnTimelineKey(Qt::Key_0);
        dialog.resize(first);
        dialog.move(place);

        const QString saved = i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), language);
        CFileInfomation settings(&dialog);
        settings.file_title = QFileInfo(cutFile).completeBaseName();
        settings.span_count = static_cast<int>(dialog.Spans().size());
        settings.source_extension = cutFile;
        settings.OnInitDialog();
        settings.show();
        if (QTest::qWaitForWindowExposed(&settings))
            Save(&settings, outDir + QStringLiteral("/cut-settings-spans-") + QFileInfo(language).baseName() +
                                QStringLiteral(".png"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), saved);

        while (!dialog.Spans().empty()) {
            dialog.SelectSpan(0);
            dialog.RemoveSelectedSpan();
        }
    }

    dialog.Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    answer = joinFiles;
    dialog.OnAddFiles();
    if (QTreeWidgetItem* second = dialog.FileList()->topLevelItem(1))
        dialog.FileList()->setCurrentItem(second);
    Save(&dialog, stem + QStringLiteral("-join.png"));

    // The queue tab with the join list's files queued as cuts, one failed.
    {
        for (int i = 0; i < joinFiles.size(); ++i) {
            QueuedJob job;
            job.files = {joinFiles[i].toStdString()};
            job.spans = {{1000, 2500}};
            job.choice.direct = i != 1;
            job.choice.exact = i == 2;
            job.target = {QDir::tempPath().toStdString(), QFileInfo(joinFiles[i]).completeBaseName().toStdString(),
                          ".mkv"};
            dialog.QueueView()->Queue()->Add(job);
        }
        auto& jobs = dialog.QueueView()->Queue()->Jobs();
        if (!jobs.empty()) {
            jobs.front().state = QueuedState::Failed;
            jobs.front().outcome = {QueuedProblem::TooShort, 0, jobs.front().files.front()};
        }
        dialog.QueueView()->ApplyLanguage();
        dialog.Tabs()->setCurrentIndex(CMorvaneDlg::kQueueTab);
        Save(&dialog, stem + QStringLiteral("-queue.png"));
        while (!jobs.empty())
            dialog.QueueView()->Queue()->Remove(jobs.front().id);
        dialog.Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
    }

    // Both settings dialogs with their queue buttons.
    {
        const QString saved = i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), language);
        CSettings settings(&dialog);
        settings.OnInitDialog();
        settings.show();
        if (QTest::qWaitForWindowExposed(&settings))
            Save(&settings, outDir + QStringLiteral("/join-settings-") + QFileInfo(language).baseName() +
                                QStringLiteral(".png"));
        i18n::WriteSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"), saved);
    }

    // The progress dialog as the poll fills it, shown without a job.
    CAVConvertDlg* progress = dialog.ProgressDialog();
    progress->OnInitDialog();
    progress->SetCurrentLine(cutFile, QStringLiteral("   40% ") +
                                          i18n::g_uiStrings.Text(QStringLiteral("TISHI"), QStringLiteral("wjwc")));
    progress->SetTotalText(QStringLiteral("0 ") + i18n::g_uiStrings.Text(QStringLiteral("TISHI"), QStringLiteral("wjwczg")) +
                           QStringLiteral(" 1 ") + i18n::g_uiStrings.Text(QStringLiteral("TISHI"), QStringLiteral("wj1")));
    progress->SetCurrentPos(40);
    progress->SetTotalPos(0);
    progress->show();
    if (!QTest::qWaitForWindowExposed(progress))
        QTextStream(stderr) << "the progress dialog was not exposed\n";
    Save(progress, outDir + QStringLiteral("/progress-") + QFileInfo(language).baseName() + QStringLiteral(".png"));
    progress->hide();

    // A window opened on a dark desktop: the palette is there before it.
    QApplication::setPalette(dark);
    dialog.hide();
    CMorvaneDlg darkDialog;
    darkDialog.move(0, 0);
    darkDialog.resize(darkSize);
    darkDialog.show();
    if (!QTest::qWaitForWindowExposed(&darkDialog))
        QTextStream(stderr) << "the dark window was not exposed\n";
    answer = {cutFile};
    darkDialog.OnAddFiles();
    darkDialog.MoveToMs(darkSpan.start_ms);
    darkDialog.OnStartPoint();
    darkDialog.MoveToMs(darkSpan.end_ms);
    darkDialog.OnEndPoint();
    darkDialog.OnAddSpan();
    darkDialog.MoveToMs(darkMs);
    QTest::qWait(400);  // the picture at the grown box's size
    Save(&darkDialog, stem + QStringLiteral("-dark.png"));
    return 0;
}
