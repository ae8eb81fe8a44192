// SPDX-License-Identifier: GPL-3.0-or-later
// Cut points found for the user and span lists in and out: the scan for
// breaks on its own thread, the found points on the timeline and the keys
// that jump to them, the breaks turned into spans to remove, and the span
// list loaded from and saved to a file.
#include "morvane_dlg.h"

#include "bitmap_slider.h"
#include "break_scanner.h"
#include "conversion_job.h"
#include "cut_list.h"
#include "dialog_template.h"
#include "seams.h"
#include "settings_file.h"
#include "window_parts.h"

#include <QFileDialog>
#include <QMenu>
#include <QToolButton>

#include <algorithm>
#include <cerrno>
#include <cmath>

using window_parts::LanguageText;
using window_parts::TimeText;

namespace {

// In the top row, right of the help link, over its empty part.
constexpr dialogs::ControlPlace kBreaksPlace{1306, 222, 0, 72, 15};
const QString kCutSection = QStringLiteral("CUT");
const QString kRemoveKey = QStringLiteral("remove");

}  // namespace

void CMorvaneDlg::CreateBreakControls()
{
    m_breakScanner = new BreakScanner(this);
    m_btnBreaks = new QToolButton(this);
    m_btnBreaks->setPopupMode(QToolButton::InstantPopup);
    m_btnBreaks->setFocusPolicy(Qt::TabFocus);
    dialogs::PlaceControl(m_btnBreaks, kBreaksPlace, dialogs::DialogUnits(font()));
    auto* menu = new QMenu(m_btnBreaks);
    m_actFindBreaks = menu->addAction(QString(), this, &CMorvaneDlg::OnFindBreaks);
    m_actRemoveBreaks = menu->addAction(QString(), this, &CMorvaneDlg::RemoveFoundBreaks);
    menu->addSeparator();
    m_actLoadList = menu->addAction(QString(), this, [this] {
        const QStringList chosen = platform::GetOpenFileNames(
            this, QStringLiteral("Span lists|*.spans;*.edl;*.csv;*.ffmeta;*.ffmetadata;*.txt|*.*|*.*|"));
        if (!chosen.isEmpty())
            LoadSpanList(chosen.front());
    });
    m_actSaveList = menu->addAction(QString(), this, [this] {
        // The file dialog asks before an existing file is replaced.
        const QString path = QFileDialog::getSaveFileName(
            this, m_actSaveList->text(), QString::fromStdString(ProjectFileFor(m_cutFacts.path_utf8)),
            QStringLiteral("Morvane (*.spans);;EDL (*.edl);;CSV (*.csv);;FFmetadata (*.ffmeta);;Chapters (*.txt)"));
        if (!path.isEmpty())
            SaveSpanList(path, true);
    });
    m_btnBreaks->setMenu(menu);
    m_btnBreaks->hide();
}

void CMorvaneDlg::ApplyBreakTexts()
{
    if (!m_btnBreaks)
        return;
    if (!m_breakScanner->Running())
        m_btnBreaks->setText(LanguageText("JIEMIAN", "ztgj"));
    m_actFindBreaks->setText(LanguageText("JIEMIAN", m_breakScanner->Running() ? "tzzd" : "zdt"));
    m_actRemoveBreaks->setText(LanguageText("JIEMIAN", "dtqc"));
    m_actRemoveBreaks->setEnabled(!m_foundBreaks.empty());
    m_actLoadList->setText(LanguageText("JIEMIAN", "drlb"));
    m_actSaveList->setText(LanguageText("JIEMIAN", "bclb"));
    m_actSaveList->setEnabled(!m_spans.empty());
}

void CMorvaneDlg::OnFindBreaks()
{
    if (m_breakScanner->Running()) {
        m_breakScanner->Cancel();
        ApplyBreakTexts();
        return;
    }
    if (m_strCutFile.isEmpty())
        return;
    m_breakScanner->Start(
        m_cutFacts.path_utf8,
        [this](int percent) { m_btnBreaks->setText(LanguageText("JIEMIAN", "zdz").arg(percent)); },
        [this](int rc, DetectedPoints points) { OnBreaksFound(rc, std::move(points)); });
    m_btnBreaks->setText(LanguageText("JIEMIAN", "zdz").arg(0));
    ApplyBreakTexts();
}

void CMorvaneDlg::OnBreaksFound(int rc, DetectedPoints points)
{
    m_foundBreaks.clear();
    m_foundPointsMs.clear();
    if (rc == 0) {
        for (const TimeInterval& b : points.breaks)
            m_foundBreaks.push_back({(b.start_us + 500) / 1000, (b.end_us + 500) / 1000});
        for (const int64_t us : points.FoundPoints())
            m_foundPointsMs.push_back((us + 999) / 1000);  // reached at its first millisecond
    }
    ShowFoundPoints();
    ApplyBreakTexts();
    if (rc != 0)
        ShowMessage(LanguageText("TISHI", "smsb"));
    else if (m_foundBreaks.empty())
        ShowMessage(LanguageText("TISHI", "wzdt"));
    else
        ShowMessage(LanguageText("TISHI", "zddt").arg(m_foundBreaks.size()));
}

void CMorvaneDlg::ShowFoundPoints()
{
    std::vector<double> fractions;
    const double length = static_cast<double>(std::max<long long>(DurationMs(), 1));
    for (const int64_t ms : m_foundPointsMs)
        fractions.push_back(ms / length);
    m_slider->SetFoundMarks(fractions);
}

// A new file forgets what was found in the last one.
void CMorvaneDlg::ForgetFoundPoints()
{
    if (!m_breakScanner)
        return;
    m_breakScanner->Cancel();
    m_foundBreaks.clear();
    m_foundPointsMs.clear();
    ShowFoundPoints();
    ApplyBreakTexts();
}

bool CMorvaneDlg::JumpToFoundPoint(bool forward)
{
    if (m_foundPointsMs.empty())
        return false;
    const long long now = m_nCurrentMs;
    if (forward) {
        const auto next = std::upper_bound(m_foundPointsMs.begin(), m_foundPointsMs.end(), now);
        if (next != m_foundPointsMs.end())
            MoveToMs(*next);
    } else {
        const auto next = std::lower_bound(m_foundPointsMs.begin(), m_foundPointsMs.end(), now);
        if (next != m_foundPointsMs.begin())
            MoveToMs(*(next - 1));
    }
    return true;
}

bool CMorvaneDlg::SpansRemove() const
{
    return i18n::ReadSetting(kCutSection, kRemoveKey) == QLatin1String("1");
}

void CMorvaneDlg::SetSpansRemove(bool remove)
{
    i18n::WriteSetting(kCutSection, kRemoveKey, remove ? QStringLiteral("1") : QStringLiteral("0"));
    m_slider->SetSpansRemoved(remove);
}

// The breaks found join the spans as spans to remove; one that overlaps a
// stored span is left for the user to mark.
void CMorvaneDlg::RemoveFoundBreaks()
{
    if (m_foundBreaks.empty())
        return;
    const MarkEdit edit(this);
    if (!SpansRemove() && !m_spans.empty())
        m_spans.clear();  // kept spans and removed breaks do not mix
    for (const CutSpan& b : m_foundBreaks)
        if (FindOverlappingSpan(m_spans, b) < 0 && static_cast<int>(m_spans.size()) < kMaxJobInputs)
            m_spans.push_back(b);
    std::sort(m_spans.begin(), m_spans.end(), [](const CutSpan& a, const CutSpan& b) { return a.start_ms < b.start_ms; });
    SetSpansRemove(true);
    RefreshSpans(-1);
}

bool CMorvaneDlg::LoadSpanList(const QString& path)
{
    const MarkEdit edit(this);
    CutList list;
    CutListError error;
    if (!ReadCutListFile(path.toStdString(), DurationMs(), &list, &error)) {
        ShowMessage(LanguageText("TISHI", "lbcw").arg(QString::fromStdString(error.Text())));
        return false;
    }
    std::vector<CutSpan> spans;
    for (const CutSpan& s : SpansOfList(list)) {
        const CutSpan clipped{s.start_ms, std::min<int64_t>(s.end_ms, DurationMs())};
        if (!CutSpanIsPossible(clipped.start_ms, clipped.end_ms, m_cutFacts.duration_us))
            continue;  // past the file's end
        const int other = FindOverlappingSpan(spans, clipped);
        if (other >= 0) {
            ShowMessage(LanguageText("TISHI", "pdcd").arg(other + 1));
            return false;
        }
        spans.push_back(clipped);
    }
    if (spans.empty() || static_cast<int>(spans.size()) > kMaxJobInputs) {
        ShowMessage(LanguageText("TISHI", spans.empty() ? "sjdwx" : "pdtd"));
        return false;
    }
    m_spans = std::move(spans);
    if (list.meaning_known)
        SetSpansRemove(list.meaning == SpanMeaning::Remove);
    RefreshSpans(-1);
    return true;
}

bool CMorvaneDlg::SaveSpanList(const QString& path, bool mayReplace)
{
    std::string target = path.toStdString();
    CutListFormat format;
    if (!CutListFormatOfExtension(target, &format)) {
        format = CutListFormat::Project;
        target += CutListExtension(format);
    }
    const SpanMeaning meaning = SpansRemove() ? SpanMeaning::Remove : SpanMeaning::Keep;
    std::vector<CutSpan> spans = m_spans;
    std::string why;
    // An EDL lists what goes: kept spans are written as the parts between them.
    if (format == CutListFormat::Edl && meaning == SpanMeaning::Keep &&
        !KeptPartsAfterRemoving(m_spans, DurationMs(), 0, &spans, &why))
        spans.clear();
    if (spans.empty()) {
        ShowMessage(LanguageText("TISHI", "lbbc"));
        return false;
    }
    const std::string text = WriteCutList(ListOfSpans(spans, meaning, FileNameOf(m_cutFacts.path_utf8)), format);
    int err = WriteNewListFile(target, text);
    if (err == EEXIST && mayReplace)
        err = ReplaceListFile(target, text);
    if (err != 0) {
        ShowMessage(LanguageText("TISHI", "lbbc"));
        return false;
    }
    return true;
}

bool CMorvaneDlg::SpansToCut(std::vector<CutSpan>* spans, bool removing)
{
    if (!removing) {
        *spans = m_spans;
        return true;
    }
    std::string why;
    // A kept part shorter than a picture could hold nothing.
    const auto picture = m_cutFacts.fps_num > 0 ? (1000 * m_cutFacts.fps_den + m_cutFacts.fps_num - 1) / m_cutFacts.fps_num : 40;
    if (!KeptPartsAfterRemoving(m_spans, DurationMs(), picture, spans, &why)) {
        ShowMessage(LanguageText("TISHI", "qcqb"));
        return false;
    }
    return true;
}

// A direct cut starts each kept part at the key picture at or before it:
// the user is told where each part really starts and ends.
void CMorvaneDlg::TellKeptParts(const std::vector<CutSpan>& parts)
{
    if (m_keyFramesUs.empty())
        return;
    std::vector<int64_t> keys;
    for (const int64_t us : m_keyFramesUs)
        keys.push_back((us + 999) / 1000);
    QStringList lines;
    bool moved = false;
    for (const CutSpan& part : parts) {
        const CutSpan real = PartAtKeyPictures(part, keys);
        moved = moved || real.start_ms != part.start_ms;
        lines << TimeText(real.start_ms) + QStringLiteral(" - ") + TimeText(real.end_ms);
    }
    if (moved)
        ShowMessage(LanguageText("TISHI", "gjzq").arg(lines.join(QStringLiteral("; "))));
}

bool CMorvaneDlg::FindingBreaks() const
{
    return m_breakScanner && m_breakScanner->Running();
}
