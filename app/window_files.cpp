// SPDX-License-Identifier: GPL-3.0-or-later
// How files come into the window: the Add buttons, the files it is started
// with, and files dropped on it. The cut tab takes one, the join tab all.
#include "morvane_dlg.h"

#include "conversion_job.h"
#include "probe.h"
#include "seams.h"
#include "settings_file.h"
#include "window_parts.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTabBar>
#include <QUrl>

using window_parts::Ui;

namespace {

const QString kVideoPatterns = QStringLiteral(
    "*.rm;*.rmvb;*.flv;*.swf;*.f4v;*.mov;*.qt;*.avi;*.mpg;*.mpeg;*.mod;*.tod;*.mts;*.ts;*.nut;*.h264;"
    "*.nsv;*.dv;*.m2t;*.m2ts;*.vob;*.m2p;*.mpe;*.dat;*.mkv;*.webm;*.ogv;*.ogg;*.ogm;*.mp4;*.m4v;*.3gp;*.3g2;"
    "*.3gpp;*.asf;*.wmv;*.wm");

// The folder of the last file opened, where the open dialog starts.
const QString kOpenFolderSection = QStringLiteral("PATH");
const QString kOpenFolderKey = QStringLiteral("open");

// Local files named by a drop, in the order given.
QStringList DroppedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            files << url.toLocalFile();
    return files;
}

// Clears a flag when the add ends, however it ends.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

}  // namespace

QString RepairDoubledSeparators(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QStringLiteral("//")))
        return path;
    QString repaired = path;
    repaired.replace(QStringLiteral("//"), QStringLiteral("/"));
    return repaired;
}

void CMorvaneDlg::OnAddFiles()
{
    // The per-file pump below could deliver another click on an Add button.
    if (m_adding)
        return;
    const QString filter = Ui("JIEMIAN", "symtwj") + QLatin1Char('|') + kVideoPatterns + QLatin1Char('|') +
                           Ui("JIEMIAN", "sywj") + QStringLiteral("|*.*|");
    platform::SetOpenFolder(i18n::ReadSetting(kOpenFolderSection, kOpenFolderKey));
    const QStringList chosen = platform::GetOpenFileNames(this, filter);
    if (chosen.isEmpty())
        return;
    AddFiles(chosen);
}

void CMorvaneDlg::AddFiles(const QStringList& chosen)
{
    if (m_adding || m_launching || chosen.isEmpty())
        return;
    const int tabAtStart = m_tab->currentIndex();

    // The cut file changes only once a new one has loaded, so that the screen
    // and Convert always speak of the same file, even after a failed add.
    bool failed = false;
    QString lastOpened;
    QString newCutFile;
    CutFileFacts newCutFacts;
    {
        FlagScope adding(m_adding);
        for (const QString& chosenPath : chosen) {
            // Keeps the window painting through a long selection.
            QCoreApplication::processEvents();
            if (!g_pJob) {
                g_pJob = new ConversionJob();
                InitConversionJob(g_pJob);
            }
            const QString path = RepairDoubledSeparators(chosenPath);
            lastOpened = path;
            m_probePathUtf8 = path.toStdString();
            g_pJob->probe_path = m_probePathUtf8.data();
            // Under one millisecond the timeline would divide by a zero length.
            if (ProbeMedia(g_pJob) < 0 || g_pJob->initial_start_us < 0 || g_pJob->initial_end_us < 0 ||
                g_pJob->duration_us / 1000 <= 0) {
                ShowAddFailure(path);
                failed = true;
                break;
            }
            // The pump may have switched the tab.
            const int tab = m_tab->currentIndex();
            if (tab == kCutTab) {
                newCutFile = path;
                newCutFacts = CutFileFacts{};
                newCutFacts.path_utf8 = m_probePathUtf8;
                newCutFacts.initial_start_us = g_pJob->initial_start_us;
                newCutFacts.initial_end_us = g_pJob->initial_end_us;
                newCutFacts.duration_us = g_pJob->duration_us;
                newCutFacts.input = g_pJob->probe_facts;
                // Rates above 300 fps are timebases, not rates.
                if (g_pJob->source_fps > 0 && g_pJob->source_fps <= 300 && g_pJob->source_fps_num > 0 &&
                    g_pJob->source_fps_den > 0) {
                    newCutFacts.fps_num = g_pJob->source_fps_num;
                    newCutFacts.fps_den = g_pJob->source_fps_den;
                }
            } else {
                AppendJoinRow(path);
            }
        }
    }
    if (!lastOpened.isEmpty())
        i18n::WriteSetting(kOpenFolderSection, kOpenFolderKey, QFileInfo(lastOpened).absolutePath());
    // The spans marked in the file shown go with it: only when the user agrees.
    if (!failed && tabAtStart == kCutTab && !newCutFile.isEmpty() && MayDiscardSpans()) {
        m_strCutFile = newCutFile;
        m_cutFacts = newCutFacts;
        LoadCutFile();
    }
    if (m_closePending)
        close();
}

void CMorvaneDlg::OpenStartFiles(const QStringList& paths)
{
    QStringList files;
    for (const QString& path : paths)
        files << QFileInfo(path).absoluteFilePath();
    if (files.isEmpty())
        return;
    if (files.size() > 1)
        m_tab->setCurrentIndex(kJoinTab);
    AddFiles(files);
}

void CMorvaneDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_adding && !m_launching && !DroppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

// The cut tab takes the first file dropped, the join tab all of them.
void CMorvaneDlg::dropEvent(QDropEvent* event)
{
    QStringList files = DroppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    if (m_tab->currentIndex() == kCutTab)
        files = files.mid(0, 1);
    AddFiles(files);
}

void CMorvaneDlg::ShowAddFailure(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    ShowMessage(Ui("TISHI", "wj") + name + QLatin1Char(' ') + Ui("TISHI", "wx"));
}
