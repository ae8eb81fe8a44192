// SPDX-License-Identifier: GPL-3.0-or-later
// Convert and Merge: from the settings dialog to a running worker, and the
// 500 ms poll that shows its progress and reports its end.
#include "morvane_dlg.h"

#include "av_convert_dlg.h"
#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "file_infomation_dlg.h"
#include "job_choices.h"
#include "job_reading.h"
#include "job_setup.h"
#include "language_file.h"
#include "seams.h"
#include "settings_dlg.h"
#include "tracks.h"
#include "ui_strings.h"
#include "window_parts.h"
#include "job_runner.h"
#include "job_sequence.h"
#include "queue_panel.h"

#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTabBar>
#include <QTimerEvent>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using i18n::g_uiStrings;
using window_parts::LaunchScope;

namespace {

constexpr int kStatusColumn = 5;

QString Ui(const char* section, const char* key)
{
    return g_uiStrings.Text(QString::fromLatin1(section), QString::fromLatin1(key));
}

// Texts of the current language that UiStrings keeps no slot for.
QString LanguageText(const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(g_uiStrings.Language(), QString::fromLatin1(section),
                                        QString::fromLatin1(key));
}

// The file's name without folder and without its last extension; a name
// without '.' is taken whole.
QString TitleOf(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

// The refusals a launch meets after the settings dialog.
QString RefusalText(LaunchRefusal refusal, const char* noExtensionKey)
{
    switch (refusal) {
    case LaunchRefusal::EmptySpan: return LanguageText("TISHI", "sjdwx");
    case LaunchRefusal::OutputNotCreated: return LanguageText("TISHI", "bncjwj");
    default: return LanguageText("TISHI", noExtensionKey);
    }
}

// The language's word for a kind of track.
QString TrackKindText(int kind)
{
    switch (kind) {
    case AVMEDIA_TYPE_VIDEO: return LanguageText("TISHI", "gdsp");
    case AVMEDIA_TYPE_AUDIO: return LanguageText("TISHI", "gdyp");
    case AVMEDIA_TYPE_SUBTITLE: return LanguageText("TISHI", "gdzm");
    case AVMEDIA_TYPE_ATTACHMENT: return LanguageText("TISHI", "gdfj");
    default: return LanguageText("TISHI", "gdsj");
    }
}

// Which file of a direct join has other tracks than the first, and how:
// "sound 2 / 1" (their number) or "subtitles 1: ass / subrip" (a codec).
QString LayoutRefusalText(const std::vector<JoinRow>& rows, const JoinMismatch& mismatch)
{
    if (!mismatch.tracks_differ)
        return LanguageText("TISHI", "bnzjhb");
    const LayoutDifference& diff = mismatch.tracks;
    QString how = TrackKindText(diff.kind) + QLatin1Char(' ');
    if (diff.track == 0)
        how += QString::number(diff.count) + QStringLiteral(" / ") + QString::number(diff.first_count);
    else
        how += QString::number(diff.track) + QStringLiteral(": ") + QString::fromStdString(diff.codec) +
               QStringLiteral(" / ") + QString::fromStdString(diff.first_codec);
    const QString name = QString::fromStdString(FileNameOf(rows[diff.file].path));
    return LanguageText("TISHI", "gdbt").replace(QStringLiteral("%1"), name).replace(QStringLiteral("%2"), how);
}

// The line a success message gains when tracks were left out: each by kind,
// its number in the file and its codec and language ("subtitles 3 (dvd_subtitle, eng)").
QString DroppedTracksText(const ConversionJob* job)
{
    constexpr size_t kMaxListed = 8;
    if (job->dropped_tracks.empty())
        return {};
    QStringList items;
    for (const DroppedTrack& t : TracksToName(job->dropped_tracks, job->join_mode)) {
        if (items.size() == static_cast<int>(kMaxListed)) {
            items << QStringLiteral("…");
            break;
        }
        QString item = TrackKindText(t.kind) + QLatin1Char(' ') + QString::number(t.stream) + QStringLiteral(" (") +
                       QString::fromStdString(t.codec);
        if (!t.language.empty())
            item += QStringLiteral(", ") + QString::fromStdString(t.language);
        item += QLatin1Char(')');
        if (job->join_mode && job->input_count > 1)  // a span's tracks are its file's
            item = LanguageText("TISHI", "gdwj") + QLatin1Char(' ') + QString::number(t.input + 1) +
                   QStringLiteral(": ") + item;
        items << item;
    }
    return QStringLiteral("\n") + LanguageText("TISHI", "ylgd") + QLatin1Char(' ') + items.join(QStringLiteral(", "));
}

QString FileNameText(const char* path)
{
    const QString text = QString::fromUtf8(path ? path : "");
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

// The first file of a direct join whose extension or picture size differs
// from the first file's, and how: "b.mkv cannot be joined ...: its file
// extension is mkv, the first file's mp4."
QString KindRefusalText(const std::vector<JoinRow>& rows)
{
    const JoinRow& first = rows.front();
    const auto size = [](const JoinRow& row) { return QStringLiteral("%1×%2").arg(row.width).arg(row.height); };
    for (const JoinRow& row : rows) {
        QString how;
        if (FileExtension(row.path) != FileExtension(first.path))
            how = LanguageText("TISHI", "bt8").arg(QString::fromStdString(FileExtension(row.path)),
                                                   QString::fromStdString(FileExtension(first.path)));
        else if (row.width != first.width || row.height != first.height)
            how = LanguageText("TISHI", "bt7").arg(size(row), size(first));
        if (!how.isEmpty())
            return LanguageText("TISHI", "cfbt").arg(FileNameText(row.path.c_str()), how);
    }
    return Ui("TISHI", "bnzjhb");
}

OutputTarget TargetOf(const QString& folder, const QString& title, const QString& extension)
{
    return {folder.toStdString(), title.toStdString(), extension.toStdString()};
}

QString ReasonText(FailureReason reason)
{
    static const char* const kKeys[] = {"yy1", "yy2", "yy3", "yy4", "yy5", "yy6", "yy7", "yy8", "yy9", "yy10", "yy11"};
    const int n = static_cast<int>(reason);
    return n >= 1 && n <= 11 ? LanguageText("TISHI", kKeys[n - 1]) : Ui("TISHI", "sb");
}

// What the job's kept files hold, or nothing when none was kept: each file,
// and in one file each input (or span) in it. The input the worker left
// pending is in it up to where it stopped, which is said with how far.
QStringList KeptLines(const ConversionJob* job, const JobReading& reading)
{
    QStringList lines;
    const bool spans = !job->join_mode && job->input_count > 1;
    const bool separate = spans && job->separate_outputs;
    for (const std::string& kept : reading.kept)
        lines << LanguageText("TISHI", separate ? "tzpd" : "tzbl").arg(QString::fromStdString(kept));
    if (reading.kept.empty() || separate)
        return lines;
    for (int i = 0; i < static_cast<int>(reading.inputs.size()); ++i) {
        const InputReading& in = reading.inputs[i];
        if (!in.in_output)
            continue;
        QString line = spans ? LanguageText("JIEMIAN", "pd").arg(i + 1) : FileNameText(job->input_paths[i]);
        const bool cutShort = in.status == kInputPending && i == reading.current - 1 && reading.percent < 100;
        if (cutShort)
            line = LanguageText("TISHI", "bfjd").arg(line, QString::number(std::max(reading.percent, 0)));
        lines << QStringLiteral("  ") + line;
    }
    return lines;
}

// Each failed input by its number and name, with why, then what was kept,
// above `closing`.
QString FailureMessage(const ConversionJob* job, const JobReading& reading, const QString& closing)
{
    constexpr int kMaxNamed = 5;  // a long join's message stays on the screen
    QStringList lines;
    for (int i = 0; i < static_cast<int>(reading.inputs.size()) && lines.size() < kMaxNamed; ++i) {
        if (reading.inputs[i].status != kInputFailed)
            continue;
        lines << LanguageText("TISHI", "srsb")
                     .arg(i + 1)
                     .arg(FileNameText(job->input_paths[i]), ReasonText(reading.inputs[i].reason));
    }
    lines << KeptLines(job, reading);
    lines << QString() << closing;
    return lines.join(QLatin1Char('\n'));
}

// After a stop: what the kept file holds, or that nothing was kept.
QString StopMessage(const ConversionJob* job)
{
    const JobReading reading = ReadJob(*job);
    QStringList lines{LanguageText("TISHI", "tzjq")};
    if (reading.kept.empty())
        lines << LanguageText("TISHI", "tzwbl");
    lines << KeptLines(job, reading);
    return lines.join(QLatin1Char('\n'));
}

// A finished job names the files it made, after `done`.
QString SuccessMessage(const ConversionJob* job, const JobReading& reading, const QString& done)
{
    QStringList lines{done};
    for (const std::string& kept : reading.kept)
        lines << LanguageText("TISHI", "xwj").arg(FileNameText(kept.c_str()));
    return lines.join(QLatin1Char('\n')) + DroppedTracksText(job);
}

}  // namespace

void CMorvaneDlg::ShowMessage(const QString& text)
{
    platform::MessageBoxRequest request;
    request.owner = this;
    request.text = text;
    request.caption = LanguageText("APPLICATION", "name");
    platform::ShowMessageBox(request);
}

void CMorvaneDlg::OnLaunchCut()
{
    StopPlaying();
    if (m_strCutFile.isEmpty() || !g_pJob) {
        ShowMessage(Ui("TISHI", "qxtjsp"));
        return;
    }
    if (!m_spans.empty()) {
        LaunchSpans();
        return;
    }
    // A time that is not one, or a span that holds nothing, is refused before
    // any choice is asked for.
    int64_t startMs = 0, endMs = 0;
    if (!ReadTimeText(Edit(1023)->text().toStdString(), &startMs) ||
        !ReadTimeText(Edit(1024)->text().toStdString(), &endMs)) {
        ShowMessage(LanguageText("TISHI", "sjgscw"));
        return;
    }
    if (!CutSpanIsPossible(startMs, endMs, m_cutFacts.duration_us)) {
        ShowMessage(LanguageText("TISHI", "sjdwx"));
        return;
    }
    m_completedCount = 0;

    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CFileInfomation settings(this);
    settings.file_title = TitleOf(m_strCutFile);
    const long long keyMs = KeyFrameAtOrBefore(startMs);
    if (keyMs >= 0 && keyMs != startMs)
        settings.SetDirectCutStart(QString::fromStdString(FormatTimeText(keyMs)));
    settings.source_extension = m_strCutFile;
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;
    if (settings.add_to_queue || m_queuePanel->Queue()->Running()) {
        QueuedJob queued;
        queued.files = {m_strCutFile.toStdString()};
        queued.spans = {{startMs, endMs}};
        queued.choice = CutChoice;
        queued.target = TargetOf(settings.output_folder, settings.file_title, settings.extension);
        QueueJobs({queued}, !settings.add_to_queue);
        return;
    }

    std::string output;
    LaunchDecision decided;
    const LaunchRefusal refusal =
        FillCutJob(g_pJob, m_strCutFile.toStdString(), Edit(1023)->text().toStdString(),
                   Edit(1024)->text().toStdString(),
                   TargetOf(settings.output_folder, settings.file_title, settings.extension), CutChoice, &output,
                   &m_cutFacts.input, &decided);
    if (refusal == LaunchRefusal::NeedsReencoding) {
        ShowMessage(LanguageText("TISHI", "zncxbm"));
        return;
    }
    if (refusal != LaunchRefusal::None) {
        ShowMessage(RefusalText(refusal, "zjjqwkzm"));
        return;
    }
    TellDecision(decided);
    m_strOutputFolder = settings.output_folder;
    StartJob(false);
}

// What the launch decided that the user should know before the job runs.
void CMorvaneDlg::TellDecision(const LaunchDecision& decided)
{
    if (decided.exact_fell_back)
        ShowMessage(LanguageText("TISHI", "jqjqbz"));  // cut at key pictures instead
    if (decided.exact_reencodes_whole)  // all of a span is re-encoded
        ShowMessage(LanguageText("TISHI", decided.exact_keys_lack_headers ? "jqjqtb" : "jqjqqb"));
}

// The stored spans, in list order, into one file or a file each.
void CMorvaneDlg::LaunchSpans()
{
    m_completedCount = 0;
    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CFileInfomation settings(this);
    settings.file_title = TitleOf(m_strCutFile);
    settings.source_extension = m_strCutFile;
    settings.span_count = static_cast<int>(m_spans.size());
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;

    const std::string path = m_strCutFile.toStdString();
    SetSpansRemove(settings.remove_spans);
    std::vector<CutSpan> spans;
    if (!SpansToCut(&spans, settings.remove_spans))
        return;
    const bool separate = settings.separate_spans && spans.size() > 1;
    if (settings.add_to_queue || m_queuePanel->Queue()->Running()) {
        // Queued as marked: the parts a removal keeps are found when it runs.
        QueuedJob queued;
        queued.files = {path};
        queued.spans = m_spans;
        queued.remove_spans = settings.remove_spans;
        queued.separate = separate;
        queued.choice = CutChoice;
        queued.target = TargetOf(settings.output_folder, settings.file_title, settings.extension);
        QueueJobs({queued}, !settings.add_to_queue);
        return;
    }
    std::vector<std::string> outputs;
    LaunchDecision decided;
    const LaunchRefusal refusal =
        FillSpansJob(g_pJob, path, spans, TargetOf(settings.output_folder, settings.file_title, settings.extension),
                     CutChoice, separate, &outputs, &m_cutFacts.input, &decided);
    switch (refusal) {
    case LaunchRefusal::None: break;
    case LaunchRefusal::SpansOverlap: {
        int span = 0, other = -1;
        for (; span < static_cast<int>(m_spans.size()) && other < 0; ++span)
            other = FindOverlappingSpan(m_spans, m_spans[span], span);
        ShowMessage(SpansOverlapText(span - 1, other));
        return;
    }
    case LaunchRefusal::NeedsReencoding: ShowMessage(LanguageText("TISHI", "zncxbm")); return;
    default: ShowMessage(RefusalText(refusal, "zjjqwkzm")); return;
    }
    TellDecision(decided);
    if (settings.remove_spans && decided.mode == JobMode::Copy)
        TellKeptParts(spans);
    m_strOutputFolder = settings.output_folder;
    StartJob(false);
}

void CMorvaneDlg::OnLaunchJoin()
{
    StopPlaying();
    const int rowCount = m_listFiles->topLevelItemCount();
    if (rowCount == 0 || !g_pJob) {
        ShowMessage(Ui("TISHI", "qxtjsp"));
        return;
    }
    // Counted first: nothing is filled in for a join the record cannot hold.
    int checked = 0;
    for (int row = 0; row < rowCount; ++row)
        checked += m_listFiles->IsRowChecked(row) ? 1 : 0;
    if (checked > kMaxJobInputs) {
        ShowMessage(LanguageText("TISHI", "hbtdwj"));
        return;
    }

    m_joinRows.fill(-1);
    std::vector<JoinRow> rows;
    for (int row = 0; row < m_listFiles->topLevelItemCount(); ++row) {
        if (!m_listFiles->IsRowChecked(row))
            continue;
        const QTreeWidgetItem* item = m_listFiles->topLevelItem(row);
        m_joinRows[rows.size()] = row;
        // The row's values from its Add; the launch reads the facts of a row without them.
        const auto values = item->data(0, window_parts::kJoinRowRole).value<std::shared_ptr<const JoinRow>>();
        JoinRow plain;
        plain.path = item->text(0).toStdString();
        rows.push_back(values ? *values : plain);
    }
    if (rows.size() < 2) {
        ShowMessage(Ui("TISHI", "zslgwj"));
        return;
    }
    m_completedCount = 0;

    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CSettings settings(this);
    settings.source_extension = QString::fromStdString(rows[0].path);
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;
    if (settings.add_to_queue || m_queuePanel->Queue()->Running()) {
        QueuedJob queued;
        queued.kind = QueuedKind::Join;
        for (const JoinRow& row : rows)
            queued.files.push_back(row.path);
        queued.choice = JoinChoice;
        queued.target = TargetOf(settings.output_folder, settings.file_title, settings.extension);
        QueueJobs({queued}, !settings.add_to_queue);
        return;
    }

    // The same-kind test comes after the settings: only a direct join needs it.
    std::string output;
    JoinMismatch mismatch;
    const LaunchRefusal refusal =
        FillJoinJob(g_pJob, rows, TargetOf(settings.output_folder, settings.file_title, settings.extension),
                    JoinChoice, &output, &mismatch);
    if (refusal == LaunchRefusal::DiffersFromFirst) {
        static const char* const kHow[] = {"bt6", "bt1", "bt2", "bt3", "bt4", "bt5"};  // from Tracks on
        const int how = static_cast<int>(mismatch.how) - static_cast<int>(JoinDifference::Tracks);
        ShowMessage(LanguageText("TISHI", "cfbt").arg(FileNameText(rows[mismatch.input].path.c_str()),
                                                      how >= 0 && how < 6 ? LanguageText("TISHI", kHow[how]) : QString()));
        return;
    }
    if (refusal == LaunchRefusal::NotSameKind) {
        ShowMessage(KindRefusalText(rows));
        return;
    }
    if (refusal == LaunchRefusal::NeedsReencoding) {
        ShowMessage(LanguageText("TISHI", "zncxbm"));
        return;
    }
    if (refusal == LaunchRefusal::TrackLayoutDiffers) {
        ShowMessage(LayoutRefusalText(rows, mismatch));
        return;
    }
    if (refusal != LaunchRefusal::None) {
        ShowMessage(RefusalText(refusal, "zjhbwkzm"));
        return;
    }
    m_strOutputFolder = settings.output_folder;
    // The rows of this job show this job's results only.
    for (int i = 0; i < g_pJob->input_count && i < kMaxJoinRows; ++i) {
        if (QTreeWidgetItem* item = m_joinRows[i] >= 0 ? m_listFiles->topLevelItem(m_joinRows[i]) : nullptr)
            item->setText(kStatusColumn, Ui("JIEMIAN", "zb"));
    }
    StartJob(true);
}

// The worker runs behind the modal progress dialog; once that closes the
// worker is joined, so no later probe, preview or launch shares the record
// with it, and a close asked for meanwhile can free the record safely.
void CMorvaneDlg::StartJob(bool join)
{
    m_jobIsJoin = join;
    m_runner->Launch(g_pJob, join);
    if (!m_dlgProgress->isVisible()) {
        m_dlgProgress->SetMainWindow(this, [this] { m_runner->StopPolling(); });
        m_dlgProgress->CountSpans(!join && g_pJob->input_count > 1);
        m_dlgProgress->DoModal();
    }
    // Only an event loop quit from outside ends the dialog before the job has
    // run through or been stopped.
    m_runner->Join(g_pJob->current_input < g_pJob->input_count);
}

// The end is told once the worker has finished the file, so the message
// says what really stays on disk. A completion the poll saw comes first.
void CMorvaneDlg::OnJobFinished(bool ok)
{
    const bool completed = g_pJob->current_input > g_pJob->input_count;  // the poll moves it past
    if (completed)
        ShowOutcome(m_jobIsJoin, ok);
    else if (g_pJob->cancel_requested && !m_closePending)
        ShowMessage(StopMessage(g_pJob));
}

void CMorvaneDlg::ShowOutcome(bool join, bool ok)
{
    const JobReading reading = ReadJob(*g_pJob);
    if (reading.failed > 0 && reading.disk_full) {
        ShowMessage(LanguageText("TISHI", "cpym"));
    } else if (reading.failed > 0) {
        ShowMessage(FailureMessage(g_pJob, reading, Ui("TISHI", join ? "hbsb" : "jqsb")));
        platform::ShellOpen(HelpAddress());
    } else if (ok) {
        ShowMessage(SuccessMessage(g_pJob, reading, Ui("TISHI", join ? "hbcg" : "jqcg")));
        platform::ShellOpen(m_strOutputFolder);
    }
}

void CMorvaneDlg::FinishPendingClose()
{
    if (m_closePending && !m_launching)
        close();
}

void CMorvaneDlg::StopSequence()
{
    m_runner->StopPolling();
    m_dlgProgress->StopJob();
}

void CMorvaneDlg::OnTimer()
{
    ConversionJob* job = g_pJob;
    if (!job)
        return;
    const bool joinTab = m_tab->currentIndex() == kJoinTab;
    const auto rowOf = [this](int input) -> QTreeWidgetItem* {
        if (input < 0 || input >= kMaxJoinRows || m_joinRows[input] < 0)
            return nullptr;
        return m_listFiles->topLevelItem(m_joinRows[input]);
    };

    // Read once: the rows, the count, the bars and the end all speak of the
    // same moment.
    const JobReading reading = ReadJob(*job);
    QString name;
    if (joinTab) {
        if (const QTreeWidgetItem* row = rowOf(reading.current))
            name = row->text(0);
    } else if (job->input_count > 1) {
        // Spans count as inputs: "Span 2 of 3".
        job->display_count = job->input_count;
        name = FileNameText(m_strCutFile.toUtf8().constData()) + QStringLiteral("   ") +
               LanguageText("JIEMIAN", "pdn")
                   .arg(std::min<int>(reading.current, job->input_count - 1) + 1)
                   .arg(job->input_count);
    } else {
        name = m_strCutFile;
        job->display_count = 1;
    }
    const int total = job->display_count;

    // The rows first, so the count and the total bar below follow them.
    for (int i = 0; i < reading.reached && joinTab; ++i) {
        QTreeWidgetItem* row = rowOf(i);
        if (!row)
            continue;
        const uint8_t status = reading.inputs[i].status;
        if (status == kInputFailed)
            row->setText(kStatusColumn, Ui("TISHI", "sb"));  // stays ticked, to be tried again
        if (status == kInputDone) {
            row->setText(kStatusColumn, Ui("TISHI", "wc"));
            m_listFiles->SetRowChecked(m_joinRows[i], false);
        }
    }
    m_completedCount = reading.finished;

    const int percent = reading.percent;
    if (percent >= 0 && reading.current < total)
        m_dlgProgress->SetCurrentLine(name, QStringLiteral("   ") + QString::number(percent) + QStringLiteral("% ") +
                                                Ui("TISHI", "wjwc"));
    m_dlgProgress->SetTotalText(QString::number(m_completedCount) + QLatin1Char(' ') + Ui("TISHI", "wjwczg") +
                                QLatin1Char(' ') + QString::number(job->display_count) + QLatin1Char(' ') +
                                (!joinTab && job->input_count > 1 ? LanguageText("TISHI", "pd1") : Ui("TISHI", "wj1")));
    if (job->display_count > 0)
        m_dlgProgress->SetTotalPos(m_completedCount * 100 / job->display_count);
    if (percent >= 0 && percent <= 100)
        m_dlgProgress->SetCurrentPos(percent);
    if (reading.stop_asked)
        StopSequence();

    // Completion is reported once, since it moves current_input past the total.
    if (reading.current != total || total <= 0)
        return;
    job->current_input = total + 1;
    StopSequence();
}
