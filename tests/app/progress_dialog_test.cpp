// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog: captions at every opening, keys that do nothing, and
// the stop button and close box that both stop the job.
#include "app_test_support.h"

#include "av_convert_dlg.h"
#include "conversion_job.h"
#include "language_file.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>

namespace {

template <class T>
T* Child(QWidget* dialog, int id)
{
    return dialog->findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

}  // namespace

class ProgressDialogTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        if (HasFatalFailure())
            return;
        Add({Media("fps8.mp4")});  // the job record exists from the first add
        ASSERT_NE(g_pJob, nullptr);
        g_pJob->cancel_requested = 0;
        m_progress = m_dlg->ProgressDialog();
        m_progress->SetMainWindow(m_dlg.get(), [this] { ++m_timerKills; });
    }

    // Opens the dialog modally and runs `inside` once it is up.
    int RunModal(const std::function<void()>& inside)
    {
        QTimer::singleShot(0, m_progress, [this, inside] {
            inside();
            if (m_progress->isVisible())
                m_progress->done(QDialog::Rejected);  // the poll would close it
        });
        return m_progress->DoModal();
    }

    CAVConvertDlg* m_progress = nullptr;
    int m_timerKills = 0;
};

TEST_F(ProgressDialogTest, EachOpeningStartsFromTheTemplateInTheCurrentLanguage)
{
    RunModal([this] {
        EXPECT_EQ(Child<QLabel>(m_progress, 1018)->text(), "...");
        EXPECT_EQ(Child<QLabel>(m_progress, 1019)->text(), "...");
        EXPECT_EQ(Child<QProgressBar>(m_progress, 1011)->value(), 0);
        EXPECT_EQ(Child<QProgressBar>(m_progress, 1012)->value(), 0);
        EXPECT_EQ(Child<QLabel>(m_progress, 1158)->text(), LanguageText("JIEMIAN", "dqwj"));
        EXPECT_EQ(Child<QLabel>(m_progress, 1159)->text(), LanguageText("JIEMIAN", "zgwj"));
        EXPECT_EQ(Child<QPushButton>(m_progress, 1000)->text(), LanguageText("JIEMIAN", "tz"));
        EXPECT_EQ(Child<QPushButton>(m_progress, 1000)->toolTip(), LanguageText("JIEMIAN", "tz"));
        EXPECT_EQ(m_progress->windowTitle(), LanguageText("APPLICATION", "name"));
        m_progress->SetCurrentText("clip.mp4   40% done");
        m_progress->SetCurrentPos(40);
        m_progress->SetTotalPos(50);
    });
    // The language is read from setting.ini at the opening, not from the window.
    WriteSettings("japanese.ini");
    RunModal([this] {
        EXPECT_EQ(Child<QLabel>(m_progress, 1018)->text(), "...");
        EXPECT_EQ(Child<QProgressBar>(m_progress, 1011)->value(), 0);
        EXPECT_EQ(Child<QProgressBar>(m_progress, 1012)->value(), 0);
        EXPECT_EQ(Child<QPushButton>(m_progress, 1000)->text(),
                  i18n::LanguageFile::ReadText("japanese.ini", "JIEMIAN", "tz"));
    });
    EXPECT_EQ(m_timerKills, 0);
    EXPECT_EQ(g_pJob->cancel_requested, 0);
}

TEST_F(ProgressDialogTest, EscapeAndEnterNeitherCloseTheDialogNorStopTheJob)
{
    RunModal([this] {
        QTest::keyClick(m_progress, Qt::Key_Escape);
        QTest::keyClick(m_progress, Qt::Key_Return);
        QTest::keyClick(Child<QPushButton>(m_progress, 1000), Qt::Key_Enter);
        EXPECT_TRUE(m_progress->isVisible());
    });
    EXPECT_EQ(g_pJob->cancel_requested, 0);
    EXPECT_EQ(m_timerKills, 0);
}

TEST_F(ProgressDialogTest, TheStopButtonAndTheCloseBoxBothStopTheJob)
{
    const auto started = std::chrono::steady_clock::now();
    int result = RunModal([this] { Child<QPushButton>(m_progress, 1000)->click(); });
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(result, int(QDialog::Accepted));
    EXPECT_EQ(g_pJob->cancel_requested, 1);
    EXPECT_EQ(m_timerKills, 1);

    g_pJob->cancel_requested = 0;
    result = RunModal([this] { m_progress->close(); });
    EXPECT_EQ(result, int(QDialog::Accepted));
    EXPECT_EQ(g_pJob->cancel_requested, 1);
    EXPECT_EQ(m_timerKills, 2);
    EXPECT_FALSE(m_progress->isVisible());
}
