// SPDX-License-Identifier: GPL-3.0-or-later
// Jobs run one after another: the queue's file keeps its jobs and their
// order across a restart, a failed job does not stop the next, a stop ends
// the running job and leaves the rest waiting, and "Cut all ticked files"
// reports a file too short for the cut while the others are cut.
#include "app_test_support.h"

#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "file_infomation_dlg.h"
#include "job_sequence.h"
#include "queue_panel.h"
#include "queue_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>

namespace {

constexpr int kJobTimeoutMs = 180000;  // two busy cores: generous

QueuedJob CutJob(const QString& file, const QString& folder, CutSpan span, bool direct = true)
{
    QueuedJob job;
    job.files = {file.toStdString()};
    job.spans = {span};
    job.choice = DefaultCutChoice("");
    job.choice.direct = direct;
    if (!direct)
        ApplyFormatEntry(6, &job.choice);
    job.target = {folder.toStdString(), QFileInfo(file).completeBaseName().toStdString(), direct ? "" : ".mkv"};
    return job;
}

std::vector<std::string> Files(const std::vector<QueuedJob>& jobs)
{
    std::vector<std::string> files;
    for (const QueuedJob& job : jobs)
        files.push_back(job.files.front());
    return files;
}

// Holds the worker at its first progress until the job is stopped, so a
// stop always meets a running job.
std::atomic<bool> g_holding{false};
void HoldUntilStopped(const ConversionJob* job)
{
    while (g_holding && !job->cancel_requested)
        std::this_thread::yield();
}

}  // namespace

class JobQueueTest : public AppTest {
protected:
    QString Out() const { return m_folder.path() + QStringLiteral("/out"); }
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(Out()));
    }
};

TEST_F(JobQueueTest, TheQueueFileKeepsEveryJobInOrderAndARunningJobComesBackInterrupted)
{
    std::vector<QueuedJob> jobs;
    QueuedJob cut = CutJob(QStringLiteral("/a b/\"quoted\" \\ name.mp4"), Out(), {1500, 4000}, false);
    cut.spans.push_back({6000, 7250});
    cut.remove_spans = true;
    cut.separate = true;
    cut.choice.part_chapters = true;
    cut.state = QueuedState::Failed;
    cut.outcome = {QueuedProblem::TooShort, 0, cut.files.front()};
    jobs.push_back(cut);
    QueuedJob join;
    join.kind = QueuedKind::Join;
    join.files = {"/m/1.mkv", "/m/2.mkv", "/m/3.mkv"};
    join.choice = DefaultJoinChoice();
    join.target = {"/out", "joined", ".mkv"};
    join.state = QueuedState::Running;
    join.outputs = {"/out/joined.mkv"};
    join.cut_at_keys = true;
    jobs.push_back(join);
    jobs.push_back(CutJob(QStringLiteral("/m/c.ts"), Out(), {0, 1}));

    const QString file = m_folder.path() + QStringLiteral("/queue.json");
    ASSERT_TRUE(SaveQueue(file, jobs));
    std::vector<QueuedJob> back;
    ASSERT_TRUE(LoadQueue(file, &back));
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(Files(back), Files(jobs));
    EXPECT_EQ(back[0].spans.size(), 2u);
    EXPECT_EQ(back[0].spans[1].start_ms, 6000);
    EXPECT_EQ(back[0].spans[1].end_ms, 7250);
    EXPECT_TRUE(back[0].remove_spans && back[0].separate);
    EXPECT_TRUE(back[0].choice.part_chapters);
    EXPECT_FALSE(back[1].choice.part_chapters);
    EXPECT_FALSE(back[0].choice.direct);
    EXPECT_EQ(back[0].choice.video_codec_name, cut.choice.video_codec_name);
    EXPECT_EQ(back[0].choice.fps_name, cut.choice.fps_name);
    EXPECT_EQ(back[0].target.extension, ".mkv");
    EXPECT_EQ(back[0].state, QueuedState::Failed);
    EXPECT_EQ(back[0].outcome.problem, QueuedProblem::TooShort);
    EXPECT_EQ(back[1].files, join.files);
    EXPECT_EQ(back[1].state, QueuedState::Stopped);
    EXPECT_EQ(back[1].outcome.problem, QueuedProblem::Interrupted);
    EXPECT_EQ(back[1].outputs, join.outputs);
    EXPECT_TRUE(back[1].cut_at_keys);
    EXPECT_FALSE(back[0].cut_at_keys);
    EXPECT_EQ(back[2].state, QueuedState::Queued);

    // Not a queue: refused, never half read; a missing file is an empty queue.
    const struct {
        const char* what;
        QByteArray text;
        bool ok;
        size_t jobs;
    } cases[] = {
        {"binary", QByteArray("\x00\x01\xff", 3), false, 0},
        {"other version", R"({"version":7,"jobs":[]})", false, 0},
        {"a job without files is left out",
         R"({"version":1,"jobs":[{"kind":"cut","files":[],"spans":[[0,1]],"folder":"/o","title":"t"},)"
         R"({"kind":"cut","files":["/a.mp4"],"spans":[[0,1000]],"folder":"/o","title":"t"}]})",
         true, 1},
        {"an empty span is left out",
         R"({"version":1,"jobs":[{"kind":"cut","files":["/a.mp4"],"spans":[[5,5]],"folder":"/o","title":"t"}]})", true,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(QueueFromJson(c.text, &back), c.ok);
        if (c.ok) {
            EXPECT_EQ(back.size(), c.jobs);
        }
    }
    EXPECT_TRUE(LoadQueue(m_folder.path() + QStringLiteral("/none.json"), &back));
    EXPECT_TRUE(back.empty());
}

TEST_F(JobQueueTest, TheQueueTabRestoresItsOrderAfterMovesAndRemovalsAndWaitsToBeStarted)
{
    const QString file = m_folder.path() + QStringLiteral("/queue.json");
    const std::vector<std::string> names = {"/m/1.mp4", "/m/2.mp4", "/m/3.mp4", "/m/4.mp4"};
    {
        QWidget window;
        QueuePanel panel(&window, file);
        for (const std::string& name : names)
            panel.Queue()->Add(CutJob(QString::fromStdString(name), Out(), {0, 1000}));
        QTreeWidget* list = panel.List();
        ASSERT_EQ(list->topLevelItemCount(), 4);
        list->setCurrentItem(list->topLevelItem(3));
        panel.MoveSelected(-1);  // 1 2 4 3
        panel.MoveSelected(-1);  // 1 4 2 3
        list->setCurrentItem(list->topLevelItem(0));
        panel.MoveSelected(-1);  // at the top already
        panel.RemoveSelected();  // 4 2 3
        EXPECT_EQ(list->currentItem(), list->topLevelItem(0));  // the next row is chosen
    }
    QWidget window;
    QueuePanel panel(&window, file);
    EXPECT_EQ(Files(panel.Queue()->Jobs()), (std::vector<std::string>{"/m/4.mp4", "/m/2.mp4", "/m/3.mp4"}));
    EXPECT_EQ(panel.List()->topLevelItemCount(), 3);
    QTest::qWait(2 * 500);
    EXPECT_FALSE(panel.Queue()->Running());
    for (const QueuedJob& job : panel.Queue()->Jobs())
        EXPECT_EQ(job.state, QueuedState::Queued);
}

TEST_F(JobQueueTest, AFailedJobDoesNotStopTheNextAndAStopLeavesTheRestWaiting)
{
    JobSequence queue;
    queue.Add(CutJob(Media("missing.mp4"), Out(), {0, 1000}));
    queue.Add(CutJob(Media("h264_aac.mp4"), Out(), {2000, 3000}));
    queue.Add(CutJob(Media("h264_640.mp4"), Out(), {5000, 6000}));  // a 3 s file
    queue.Add(CutJob(Media("h264_aac.mp4"), Out(), {1000, 2000}, false));
    QueuedJob exact = CutJob(Media("flv1.flv"), Out(), {1000, 2000});
    exact.choice.exact = true;  // not for FLV1: cut at key pictures, and said so
    queue.Add(exact);
    queue.Start();
    QTRY_VERIFY_WITH_TIMEOUT(!queue.Running(), kJobTimeoutMs);
    const auto& jobs = queue.Jobs();
    const struct {
        QueuedState state;
        QueuedProblem problem;
    } expected[] = {{QueuedState::Failed, QueuedProblem::Unopened},
                    {QueuedState::Done, QueuedProblem::None},
                    {QueuedState::Failed, QueuedProblem::TooShort},
                    {QueuedState::Done, QueuedProblem::None},
                    {QueuedState::Done, QueuedProblem::None}};
    ASSERT_EQ(jobs.size(), std::size(expected));
    for (size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(jobs[i].state, expected[i].state);
        EXPECT_EQ(jobs[i].outcome.problem, expected[i].problem);
        EXPECT_EQ(jobs[i].outputs.size(), expected[i].state == QueuedState::Done ? 1u : 0u);
        for (const std::string& out : jobs[i].outputs)
            EXPECT_GT(QFileInfo(QString::fromStdString(out)).size(), 1000);
    }
    EXPECT_EQ(jobs[2].outcome.file, Media("h264_640.mp4").toStdString());
    EXPECT_FALSE(jobs[1].cut_at_keys);
    EXPECT_TRUE(jobs[4].cut_at_keys);
    // The too short file had no output made for it.
    EXPECT_FALSE(QFileInfo::exists(Out() + QStringLiteral("/h264_640.mp4")));

    // A stop ends the running job; the job after it waits for the next start.
    JobSequence stopped;
    stopped.Add(CutJob(Media("h264_aac.mp4"), Out(), {0, 8000}, false));
    stopped.Add(CutJob(Media("h264_aac.mp4"), Out(), {0, 1000}));
    g_holding = true;
    SetProgressObserver(HoldUntilStopped);
    stopped.Start();
    QTRY_VERIFY_WITH_TIMEOUT(stopped.Record() && stopped.Record()->current_input >= 0, kJobTimeoutMs);
    stopped.Stop();
    SetProgressObserver(nullptr);
    g_holding = false;
    EXPECT_FALSE(stopped.Running());
    EXPECT_EQ(stopped.Jobs()[0].state, QueuedState::Stopped);
    EXPECT_EQ(stopped.Jobs()[1].state, QueuedState::Queued);
}

// Three ticked files, the middle one shorter than the cut's start: the
// others are cut in each mode, the short one is named and stays ticked.
TEST_F(JobQueueTest, CutAllTickedFilesReportsATooShortFileAndCutsTheOthersInEveryMode)
{
    const struct {
        const char* mode;
        bool reencode;
        bool exact;
        const char* extension;
    } modes[] = {{"direct", false, false, ".mp4"}, {"exact", false, true, ".mp4"}, {"re-encode", true, false, ".mp4"}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        const QString out = Out() + QLatin1Char('/') + QString::fromLatin1(m.mode);
        ASSERT_TRUE(QDir().mkpath(out));
        OpenWindow();
        m_messages.clear();
        m_dlg->Tabs()->setCurrentIndex(CMorvaneDlg::kJoinTab);
        Add({Media("h264_aac.mp4"), Media("h264_640.mp4"), Media("faststart.mp4")});
        ASSERT_EQ(m_dlg->FileList()->topLevelItemCount(), 3);
        static_cast<QLineEdit*>(Control(1023))->setText(QStringLiteral("00:00:04.000"));
        static_cast<QLineEdit*>(Control(1024))->setText(QStringLiteral("00:00:05.500"));
        QTimer::singleShot(0, [&] {
            auto* settings = qobject_cast<CFileInfomation*>(QApplication::activeModalWidget());
            ASSERT_NE(settings, nullptr);
            settings->findChild<QLineEdit*>(QStringLiteral("1003"))->setText(out);
            settings->findChild<QRadioButton*>(QString::fromLatin1(m.reencode ? "1007" : "1189"))->click();
            settings->findChild<QCheckBox*>(QStringLiteral("1198"))->setChecked(m.exact);
            settings->findChild<QPushButton*>(QStringLiteral("1194"))->click();
        });
        m_dlg->OnCutTicked();

        ASSERT_FALSE(m_messages.isEmpty());
        const QStringList lines = m_messages.back().split(QLatin1Char('\n'));
        EXPECT_EQ(lines.value(0), LanguageText("TISHI", "plwc").arg(2).arg(3));
        EXPECT_EQ(lines.value(1), QStringLiteral("h264_640.mp4: ") + LanguageText("TISHI", "wjtd"));
        const QStringList written = QDir(out).entryList(QDir::Files, QDir::Name);
        EXPECT_EQ(written, QStringList({QStringLiteral("faststart") + QLatin1String(m.extension),
                                        QStringLiteral("h264_aac") + QLatin1String(m.extension)}));
        CCheckListCtrl* list = m_dlg->FileList();
        const QString done = LanguageText("TISHI", "wc"), failed = LanguageText("TISHI", "sb");
        EXPECT_EQ(list->topLevelItem(0)->text(5), done);
        EXPECT_EQ(list->topLevelItem(1)->text(5), failed);
        EXPECT_EQ(list->topLevelItem(1)->toolTip(5), LanguageText("TISHI", "wjtd"));
        EXPECT_EQ(list->topLevelItem(2)->text(5), done);
        EXPECT_FALSE(list->IsRowChecked(0));
        EXPECT_TRUE(list->IsRowChecked(1));  // to be tried again
        EXPECT_EQ(m_opened.value(m_opened.size() - 1), out);
    }
}

// "Add to queue" writes the cut down instead of starting it; the queue tab
// shows it, and a window opened again finds it there, still waiting.
TEST_F(JobQueueTest, AddToQueueKeepsTheCutForLaterAcrossAWindowClosing)
{
    Add({Media("h264_aac.mp4")});
    static_cast<QLineEdit*>(Control(1023))->setText(QStringLiteral("00:00:01.000"));
    static_cast<QLineEdit*>(Control(1024))->setText(QStringLiteral("00:00:02.500"));
    QTimer::singleShot(0, [this] {
        auto* settings = qobject_cast<CFileInfomation*>(QApplication::activeModalWidget());
        ASSERT_NE(settings, nullptr);
        settings->findChild<QLineEdit*>(QStringLiteral("1003"))->setText(Out());
        settings->findChild<QPushButton*>(QStringLiteral("1202"))->click();
    });
    m_dlg->OnLaunchCut();
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QDir(Out()).isEmpty());  // nothing was written yet
    EXPECT_EQ(m_dlg->Tabs()->tabText(CMorvaneDlg::kQueueTab), LanguageText("JIEMIAN", "dl") + QStringLiteral(" (1)"));

    OpenWindow();
    // A larger window: the queue takes the room, the batch button stays under the join list.
    m_dlg->show();
    m_dlg->resize(m_dlg->size() + QSize(200, 150));
    EXPECT_GE(m_dlg->QueueView()->geometry().right(), m_dlg->width() - 20);
    EXPECT_GE(m_dlg->QueueView()->geometry().bottom(), m_dlg->height() - 20);
    EXPECT_GT(Control(1310)->y(), m_dlg->FileList()->geometry().bottom());
    const auto& jobs = m_dlg->QueueView()->Queue()->Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].files.front(), Media("h264_aac.mp4").toStdString());
    ASSERT_EQ(jobs[0].spans.size(), 1u);
    EXPECT_EQ(jobs[0].spans[0].start_ms, 1000);
    EXPECT_EQ(jobs[0].spans[0].end_ms, 2500);
    EXPECT_EQ(jobs[0].target.folder, Out().toStdString());
    EXPECT_EQ(jobs[0].state, QueuedState::Queued);
    EXPECT_FALSE(m_dlg->QueueView()->Queue()->Running());

    m_dlg->QueueView()->StartQueue();
    QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->QueueView()->Queue()->Running(), kJobTimeoutMs);
    EXPECT_EQ(jobs[0].state, QueuedState::Done);
    EXPECT_EQ(QDir(Out()).entryList(QDir::Files), QStringList({QStringLiteral("h264_aac.mp4")}));
}
