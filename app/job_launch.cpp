// Convert and Merge: from the settings dialog to a running worker, and the
// 500 ms poll that shows its progress and reports its end.
#include "morvane_dlg.h"

#include "av_convert_dlg.h"
#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "exact_cut.h"
#include "file_infomation_dlg.h"
#include "job_choices.h"
#include "job_setup.h"
#include "language_file.h"
#include "seams.h"
#include "settings_dlg.h"
#include "tracks.h"
#include "ui_strings.h"
#include "worker.h"

#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTabBar>
#include <QTimerEvent>
#include <QTreeWidgetItem>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using i18n::g_uiStrings;

namespace {

constexpr int kPollMs = 500;
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

// Marks a launch on the stack; a close asked for meanwhile runs at its end.
class LaunchScope {
public:
    LaunchScope(bool& launching, std::function<void()> atEnd) : m_launching(launching), m_atEnd(std::move(atEnd))
    {
        m_launching = true;
    }
    ~LaunchScope()
    {
        m_launching = false;
        m_atEnd();
    }
    LaunchScope(const LaunchScope&) = delete;
    LaunchScope& operator=(const LaunchScope&) = delete;

private:
    bool& m_launching;
    std::function<void()> m_atEnd;
};

// The refusals a launch meets after the settings dialog.
QString RefusalText(LaunchRefusal refusal, const char* noExtensionKey)
{
    switch (refusal) {
    case LaunchRefusal::EmptySpan: return LanguageText("TISHI", "sjdwx");
    case LaunchRefusal::OutputNotCreated: return LanguageText("TISHI", "bncjwj");
    default: return LanguageText("TISHI", noExtensionKey);
    }
}

// A failed job's report: a full disk says so, anything else opens the help.
bool ReportFullDisk(const ConversionJob* job)
{
    const int error = job->output_error;
    return error == ENOSPC || error == EDQUOT;
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
QString LayoutRefusalText(const std::vector<JoinRow>& rows)
{
    std::vector<std::string> paths;
    for (const JoinRow& row : rows)
        paths.push_back(row.path);
    LayoutDifference diff;
    if (!FindTrackLayoutDifference(paths, &diff))
        return LanguageText("TISHI", "bnzjhb");
    QString how = TrackKindText(diff.kind) + QLatin1Char(' ');
    if (diff.track == 0)
        how += QString::number(diff.count) + QStringLiteral(" / ") + QString::number(diff.first_count);
    else
        how += QString::number(diff.track) + QStringLiteral(": ") + QString::fromStdString(diff.codec) +
               QStringLiteral(" / ") + QString::fromStdString(diff.first_codec);
    const QString name = QString::fromStdString(FileNameOf(paths[diff.file]));
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
    for (const DroppedTrack& t : job->dropped_tracks) {
        if (items.size() == static_cast<int>(kMaxListed)) {
            items << QStringLiteral("…");
            break;
        }
        QString item = TrackKindText(t.kind) + QLatin1Char(' ') + QString::number(t.stream) + QStringLiteral(" (") +
                       QString::fromStdString(t.codec);
        if (!t.language.empty())
            item += QStringLiteral(", ") + QString::fromStdString(t.language);
        item += QLatin1Char(')');
        if (job->input_count > 1)
            item = LanguageText("TISHI", "gdwj") + QLatin1Char(' ') + QString::number(t.input + 1) +
                   QStringLiteral(": ") + item;
        items << item;
    }
    return QStringLiteral("\n") + LanguageText("TISHI", "ylgd") + QLatin1Char(' ') + items.join(QStringLiteral(", "));
}

OutputTarget TargetOf(const QString& folder, const QString& title, const QString& extension)
{
    return {folder.toStdString(), title.toStdString(), extension.toStdString()};
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
    if (m_strCutFile.isEmpty() || !g_pJob) {
        ShowMessage(Ui("TISHI", "qxtjsp"));
        return;
    }
    // A span that holds nothing is refused before any choice is asked for.
    if (!CutSpanIsPossible(ParseTimeText(Edit(1023)->text().toStdString()),
                           ParseTimeText(Edit(1024)->text().toStdString()), m_cutFacts.duration_us)) {
        ShowMessage(LanguageText("TISHI", "sjdwx"));
        return;
    }
    m_completedCount = 0;

    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CFileInfomation settings(this);
    settings.file_title = TitleOf(m_strCutFile);
    const long long startMs = ParseTimeText(Edit(1023)->text().toStdString());
    const long long keyMs = KeyFrameAtOrBefore(startMs);
    if (keyMs >= 0 && keyMs != startMs)
        settings.SetDirectCutStart(QString::fromStdString(FormatTimeText(static_cast<int>(keyMs))));
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;

    std::string output;
    const LaunchRefusal refusal =
        FillCutJob(g_pJob, m_strCutFile.toStdString(), Edit(1023)->text().toStdString(),
                   Edit(1024)->text().toStdString(),
                   TargetOf(settings.output_folder, settings.file_title, settings.extension), CutChoice, &output);
    if (refusal == LaunchRefusal::NeedsReencoding) {
        ShowMessage(LanguageText("TISHI", "zncxbm"));
        return;
    }
    if (refusal != LaunchRefusal::None) {
        ShowMessage(RefusalText(refusal, "zjjqwkzm"));
        return;
    }
    std::string whyNotExact;
    if (g_pJob->exact_cut && !ExactCutPossible(m_strCutFile.toUtf8().constData(), &whyNotExact)) {
        ShowMessage(LanguageText("TISHI", "jqjqbx"));  // cut at key pictures instead
        g_pJob->exact_cut = 0;
    }
    if (g_pJob->exact_cut && ExactCutReencodesWholeSpan(g_pJob, 0))
        ShowMessage(LanguageText("TISHI", "jqjqqb"));  // all of the span is re-encoded
    m_strOutputFolder = settings.output_folder;
    StartJob(false);
}

void CMorvaneDlg::OnLaunchJoin()
{
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
        rows.push_back({item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString(),
                        item->text(3).toStdString(), item->text(4).toStdString()});
    }
    if (rows.size() < 2) {
        ShowMessage(Ui("TISHI", "zslgwj"));
        return;
    }
    m_completedCount = 0;

    const LaunchScope scope(m_launching, [this] { FinishPendingClose(); });
    CSettings settings(this);
    if (settings.DoModal() != QDialog::Accepted || m_closePending)
        return;

    // The same-kind test comes after the settings: only a direct join needs it.
    std::string output;
    const LaunchRefusal refusal = FillJoinJob(
        g_pJob, rows, TargetOf(settings.output_folder, settings.file_title, settings.extension), JoinChoice, &output);
    if (refusal == LaunchRefusal::NotSameKind) {
        ShowMessage(Ui("TISHI", "bnzjhb"));
        return;
    }
    if (refusal == LaunchRefusal::NeedsReencoding) {
        ShowMessage(LanguageText("TISHI", "zncxbm"));
        return;
    }
    if (refusal == LaunchRefusal::TrackLayoutDiffers) {
        ShowMessage(LayoutRefusalText(rows));
        return;
    }
    if (refusal != LaunchRefusal::None) {
        ShowMessage(RefusalText(refusal, "zjhbwkzm"));
        return;
    }
    m_strOutputFolder = settings.output_folder;
    StartJob(true);
}

// The worker runs behind the modal progress dialog; once that closes the
// worker is joined, so no later probe, preview or launch shares the record
// with it, and a close asked for meanwhile can free the record safely.
void CMorvaneDlg::StartJob(bool join)
{
    MarkJobStarting(g_pJob, join);
    AdoptWorker(StartConversionWorker(g_pJob));
    m_jobRunning = true;
    m_pollTimerId = startTimer(kPollMs);
    if (!m_dlgProgress->isVisible()) {
        m_dlgProgress->SetMainWindow(this, [this] { KillPollTimer(); });
        m_dlgProgress->DoModal();
    }
    KillPollTimer();
    // Only an event loop quit from outside ends the dialog before the job has
    // run through or been stopped.
    if (g_pJob->current_input < g_pJob->input_count)
        g_pJob->cancel_requested = 1;
    if (m_worker.joinable())
        m_worker.join();
    m_jobRunning = false;
}

void CMorvaneDlg::FinishPendingClose()
{
    if (m_closePending && !m_launching)
        close();
}

void CMorvaneDlg::KillPollTimer()
{
    if (m_pollTimerId != 0)
        killTimer(m_pollTimerId);
    m_pollTimerId = 0;
}

void CMorvaneDlg::StopSequence()
{
    KillPollTimer();
    m_dlgProgress->StopJob();
}

void CMorvaneDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_pollTimerId && m_pollTimerId != 0) {
        OnTimer();
        return;
    }
    QDialog::timerEvent(event);
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

    QString name;
    if (joinTab) {
        if (const QTreeWidgetItem* row = rowOf(job->current_input))
            name = row->text(0);
    } else {
        name = m_strCutFile;
        job->display_count = 1;
    }
    const int total = job->display_count;
    const int percent = job->progress_percent;
    if (percent >= 0 && job->current_input < total)
        m_dlgProgress->SetCurrentLine(name, QStringLiteral("   ") + QString::number(percent) + QStringLiteral("% ") +
                                                Ui("TISHI", "wjwc"));
    m_dlgProgress->SetTotalText(QString::number(m_completedCount) + QLatin1Char(' ') + Ui("TISHI", "wjwczg") +
                                QLatin1Char(' ') + QString::number(job->display_count) + QLatin1Char(' ') +
                                Ui("TISHI", "wj1"));
    if (job->display_count > 0)
        m_dlgProgress->SetTotalPos(m_completedCount * 100 / job->display_count);
    if (percent >= 0 && percent <= 100)
        m_dlgProgress->SetCurrentPos(percent);
    if (job->cancel_requested)
        StopSequence();

    // Every processed input again on every tick; completion is reported once,
    // since it moves current_input past the total.
    for (int i = 0; i < job->current_input && i < job->input_count; ++i) {
        if (joinTab) {
            QTreeWidgetItem* row = rowOf(i);
            if (row && job->input_status[i] == kInputFailed)
                row->setText(kStatusColumn, Ui("TISHI", "sb"));
            if (row && job->input_status[i] == kInputDone) {
                m_completedCount = job->current_input;
                row->setText(kStatusColumn, Ui("TISHI", "wc"));
                m_listFiles->SetRowChecked(m_joinRows[i], false);
            }
            if (job->current_input == total) {
                job->current_input = total + 1;
                StopSequence();
                bool failed = false;
                for (int j = 0; j < job->input_count; ++j)
                    failed = failed || job->input_status[j] == kInputFailed;
                if (failed && ReportFullDisk(job)) {
                    ShowMessage(LanguageText("TISHI", "cpym"));
                    return;
                }
                if (failed) {
                    ShowMessage(Ui("TISHI", "hbsb"));
                    platform::ShellOpen(HelpAddress());
                    return;
                }
                ShowMessage(Ui("TISHI", "hbcg") + DroppedTracksText(job));
                platform::ShellOpen(m_strOutputFolder);
            }
        } else if (job->current_input == total) {
            job->current_input = total + 1;
            StopSequence();
            if (job->input_status[i] == kInputDone) {
                ShowMessage(Ui("TISHI", "jqcg") + DroppedTracksText(job));
                platform::ShellOpen(m_strOutputFolder);
            } else if (job->input_status[i] == kInputFailed && ReportFullDisk(job)) {
                ShowMessage(LanguageText("TISHI", "cpym"));
            } else if (job->input_status[i] == kInputFailed) {
                ShowMessage(Ui("TISHI", "jqsb"));
                platform::ShellOpen(HelpAddress());
            }
        }
    }
}
