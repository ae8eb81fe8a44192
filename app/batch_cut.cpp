// SPDX-License-Identifier: GPL-3.0-or-later
// "Cut all ticked files": the cut marked on the previewed file (its spans,
// or its start and end) applied to every ticked file of the join list, each
// into a file of its own, one after the other behind the progress dialog,
// with each row's progress and status in the list. It can be queued instead.
#include "morvane_dlg.h"

#include "av_convert_dlg.h"
#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "file_infomation_dlg.h"
#include "job_choices.h"
#include "job_runner.h"
#include "job_sequence.h"
#include "queue_panel.h"
#include "queued_text.h"
#include "seams.h"
#include "window_parts.h"

#include <QLineEdit>
#include <QTimer>
#include <QStringList>
#include <QTreeWidgetItem>

using window_parts::LanguageText;
using window_parts::LaunchScope;
using window_parts::Ui;

namespace {

constexpr int kStatusColumn = 5;

}  // namespace

QStringList CMorvaneDlg::TickedFiles(std::vector<int>* rows) const
{
    QStringList files;
    for (int row = 0; row < m_listFiles->topLevelItemCount(); ++row) {
        if (!m_listFiles->IsRowChecked(row))
            continue;
        files << m_listFiles->topLevelItem(row)->text(0);
        if (rows)
            rows->push_back(row);
    }
    return files;
}

// The stored spans, or else the start and end fields as one span; false
// after a message saying why there is nothing to cut.
bool CMorvaneDlg::MarkedCut(std::vector<CutSpan>* spans)
{
    if (!m_spans.empty()) {
        *spans = m_spans;
        return true;
    }
    CutSpan span;
    if (!ReadTimeText(Edit(1023)->text().toStdString(), &span.start_ms) ||
        !ReadTimeText(Edit(1024)->text().toStdString(), &span.end_ms)) {
        ShowMessage(LanguageText("TISHI", "sjgscw"));
        return false;
    }
    if (span.end_ms <= span.start_ms) {
        ShowMessage(LanguageText("TISHI", "sjdwx"));
        return false;
    }
    spans->assign(1, span);
    return true;
}

void CMorvaneDlg::OnCutTicked()
{
    StopPlaying();
    std::vector<int> rows;
    const QStringList files = TickedFiles(&rows);
    if (files.isEmpty()) {
        ShowMessage(LanguageText("TISHI", "qgxwj"));
        return;
    }
    std::vector<CutSpan> spans;
    if (!MarkedCut(&spans))
        return;

    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CFileInfomation settings(this);
    const QString ownTitle = queued_text::TitleOf(files.front());
    settings.file_title = ownTitle;
    settings.source_extension = files.front();
    settings.span_count = static_cast<int>(m_spans.size());
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;
    if (!m_spans.empty())
        SetSpansRemove(settings.remove_spans);

    // The title offered is the first file's: kept, every file keeps its own
    // name; changed, the files are TITLE-1, TITLE-2, ...
    const bool ownNames = settings.file_title == QString::fromStdString(CleanFileTitle(ownTitle.toStdString()));
    std::vector<QueuedJob> jobs;
    for (int i = 0; i < files.size(); ++i) {
        QueuedJob job;
        job.kind = QueuedKind::Cut;
        job.files = {files[i].toStdString()};
        job.spans = spans;
        job.remove_spans = !m_spans.empty() && settings.remove_spans;
        job.separate = settings.separate_spans && spans.size() > 1;
        job.choice = CutChoice;
        const std::string title = ownNames ? CleanFileTitle(queued_text::TitleOf(files[i]).toStdString())
                                           : SpanFileTitle(settings.file_title.toStdString(), i, files.size());
        job.target = {settings.output_folder.toStdString(), title, settings.extension.toStdString()};
        jobs.push_back(std::move(job));
    }
    m_strOutputFolder = settings.output_folder;
    if (settings.add_to_queue || m_queuePanel->Queue()->Running()) {
        QueueJobs(std::move(jobs), !settings.add_to_queue);
        return;
    }
    RunBatch(std::move(jobs), rows);
}

void CMorvaneDlg::QueueJobs(std::vector<QueuedJob> jobs, bool becauseRunning)
{
    for (QueuedJob& job : jobs)
        m_queuePanel->Queue()->Add(std::move(job));
    m_queuePanel->Save();
    if (becauseRunning)
        ShowMessage(LanguageText("TISHI", "dlyxz"));
}

// The jobs one after another, behind the progress dialog; its stop ends
// the running file and the batch.
void CMorvaneDlg::RunBatch(std::vector<QueuedJob> jobs, const std::vector<int>& rows)
{
    JobSequence batch;
    for (QueuedJob& job : jobs)
        batch.Add(std::move(job));
    m_batch = &batch;
    m_batchRows = rows;
    for (int row : rows)
        m_listFiles->topLevelItem(row)->setText(kStatusColumn, Ui("JIEMIAN", "zb"));
    connect(&batch, &JobSequence::progress, this, &CMorvaneDlg::OnBatchProgress);
    connect(&batch, &JobSequence::changed, this, &CMorvaneDlg::ShowBatchRows);
    connect(&batch, &JobSequence::ended, this, [this] {
        if (m_dlgProgress->isVisible())
            m_dlgProgress->done(QDialog::Accepted);
    });
    m_dlgProgress->SetMainWindow(this, [&batch] { batch.Stop(); });
    m_dlgProgress->CountSpans(false);
    m_dlgProgress->OnInitDialog();
    ShowBatchRows();
    // Started from within the dialog's loop, so its end always finds the dialog open.
    QTimer::singleShot(0, &batch, &JobSequence::Start);
    m_dlgProgress->DoModal();
    batch.Stop();
    m_dlgProgress->SetMainWindow(this, [this] { m_runner->StopPolling(); });  // not the batch, gone with this scope
    ShowBatchRows();
    // The dialog's stop raised the window's own record's flag; that record ran nothing.
    if (g_pJob)
        g_pJob->cancel_requested = 0;
    m_batch = nullptr;
    if (!m_closePending)
        ShowBatchOutcome(batch.Jobs());
}

// Each row's state: done rows are unticked, failed ones stay ticked to be
// tried again, the one running shows how far it is.
void CMorvaneDlg::ShowBatchRows()
{
    if (!m_batch)
        return;
    const std::vector<QueuedJob>& jobs = m_batch->Jobs();
    int finished = 0;
    for (size_t i = 0; i < jobs.size() && i < m_batchRows.size(); ++i) {
        QTreeWidgetItem* item = m_listFiles->topLevelItem(m_batchRows[i]);
        const QueuedJob& job = jobs[i];
        finished += job.state == QueuedState::Done || job.state == QueuedState::Failed ? 1 : 0;
        if (!item)
            continue;
        if (job.state == QueuedState::Done)
            m_listFiles->SetRowChecked(m_batchRows[i], false);
        // A file not cut (waiting, or stopped) is ready to be tried again.
        const bool ready = job.state == QueuedState::Queued || job.state == QueuedState::Stopped;
        if (job.state != QueuedState::Running)
            item->setText(kStatusColumn, ready ? Ui("JIEMIAN", "zb") : queued_text::StateText(job.state));
        // Why it failed (too short, unreadable, ...) shows on the status itself.
        item->setToolTip(kStatusColumn, queued_text::ReasonText(job));
    }
    const int total = static_cast<int>(jobs.size());
    m_dlgProgress->SetTotalText(QString::number(finished) + QLatin1Char(' ') + Ui("TISHI", "wjwczg") +
                                QLatin1Char(' ') + QString::number(total) + QLatin1Char(' ') + Ui("TISHI", "wj1"));
    m_dlgProgress->SetTotalPos(total > 0 ? finished * 100 / total : 0);
}

void CMorvaneDlg::OnBatchProgress(quint64 id, const JobReading& reading)
{
    const int at = m_batch ? m_batch->IndexOf(id) : -1;
    if (at < 0 || reading.percent < 0)
        return;
    const QueuedJob& job = m_batch->Jobs()[at];
    const int percent = std::min(reading.percent, 100);
    QString tail = QStringLiteral("   ") + QString::number(percent) + QStringLiteral("% ") + Ui("TISHI", "wjwc");
    // Spans of one file: which one it is on.
    if (job.spans.size() > 1 && reading.current >= 0)
        tail = QStringLiteral("   ") +
               LanguageText("JIEMIAN", "pdn").arg(std::min<int>(reading.current, reading.inputs.size() - 1) + 1)
                   .arg(reading.inputs.size()) + tail;
    m_dlgProgress->SetCurrentLine(QString::fromStdString(job.files.front()), tail);
    m_dlgProgress->SetCurrentPos(percent);
    if (at < static_cast<int>(m_batchRows.size()))
        if (QTreeWidgetItem* item = m_listFiles->topLevelItem(m_batchRows[at]))
            item->setText(kStatusColumn, QString::number(percent) + QLatin1Char('%'));
}

// How many files were cut, and each that was not with why (or that was cut
// at key pictures though exact was asked for); the output folder opens
// when any file was cut.
void CMorvaneDlg::ShowBatchOutcome(const std::vector<QueuedJob>& jobs)
{
    constexpr int kMaxNamed = 8;  // a long batch's message stays on the screen
    int done = 0;
    QStringList failures;
    for (const QueuedJob& job : jobs) {
        done += job.state == QueuedState::Done ? 1 : 0;
        const QString reason = queued_text::ReasonText(job);
        if (job.state == QueuedState::Queued || reason.isEmpty())
            continue;
        if (failures.size() < kMaxNamed)
            failures << queued_text::FileName(job.files.front()) + QStringLiteral(": ") + reason;
        else if (failures.size() == kMaxNamed)
            failures << QStringLiteral("…");
    }
    QStringList lines{LanguageText("TISHI", "plwc").arg(done).arg(jobs.size())};
    lines << failures;
    ShowMessage(lines.join(QLatin1Char('\n')));
    if (done > 0)
        platform::ShellOpen(m_strOutputFolder);
}
