// SPDX-License-Identifier: GPL-3.0-or-later
// The span list of the cut tab: spans stored from the start and end fields,
// a drop-down list to choose one (and re-mark it), move it and remove it,
// and the spans drawn on the timeline.
#include "morvane_dlg.h"

#include "bitmap_slider.h"
#include "conversion_job.h"
#include "control_button.h"
#include "dialog_template.h"
#include "seams.h"
#include "ui_strings.h"
#include "window_parts.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QStylePainter>

#include <algorithm>

using i18n::g_uiStrings;
using window_parts::LanguageText;
using window_parts::TimeText;

namespace {

// Left of the open button, inside the group of the cut tab's buttons: the
// list over three small buttons (earlier, later, remove).
constexpr dialogs::ControlPlace kSpanListPlace{1302, 8, 199, 84, 12};
constexpr dialogs::ControlPlace kSpanUpPlace{1303, 8, 211, 27, 13};
constexpr dialogs::ControlPlace kSpanDownPlace{1304, 36, 211, 27, 13};
constexpr dialogs::ControlPlace kSpanRemovePlace{1305, 64, 211, 28, 13};

// "2: 00:01:00.000 - 00:01:30.000 (00:00:30.000)"
QString SpanEntryText(int span, const CutSpan& s)
{
    return QStringLiteral("%1: %2 - %3 (%4)")
        .arg(span + 1)
        .arg(TimeText(s.start_ms), TimeText(s.end_ms), TimeText(s.end_ms - s.start_ms));
}

// The open list shows each span whole; the closed field, narrow, names the
// chosen one only ("Span 2"), whose times the fields below show.
class SpanCombo : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        option.currentText = CMorvaneDlg::SpanClosedText(currentIndex());
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

}  // namespace

QString CMorvaneDlg::SpansOverlapText(int span, int other)
{
    return LanguageText("TISHI", "pdcdl").arg(span + 1).arg(other + 1);
}

QString CMorvaneDlg::SpanClosedText(int entry)
{
    return entry <= 0 ? LanguageText("JIEMIAN", "xpd") : LanguageText("JIEMIAN", "pd").arg(entry);
}

void CMorvaneDlg::CreateSpanControls()
{
    const dialogs::DialogUnits units(font());
    m_comboSpans = new SpanCombo(this);
    dialogs::PlaceControl(m_comboSpans, kSpanListPlace, units);
    // The open list is as wide as its longest entry; the closed one keeps its place.
    m_comboSpans->view()->setTextElideMode(Qt::ElideNone);
    m_comboSpans->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
    const auto small = [&](const dialogs::ControlPlace& place, const QString& text) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setFocusPolicy(Qt::TabFocus);
        dialogs::PlaceControl(button, place, units);
        return button;
    };
    m_btnSpanUp = small(kSpanUpPlace, QStringLiteral("\u25B2"));
    m_btnSpanDown = small(kSpanDownPlace, QStringLiteral("\u25BC"));
    m_btnSpanRemove = small(kSpanRemovePlace, QStringLiteral("\u2715"));
    connect(m_btnAddSpan, &QPushButton::clicked, this, &CMorvaneDlg::OnAddSpan);
    connect(m_comboSpans, &QComboBox::activated, this, &CMorvaneDlg::OnSpanChosen);
    connect(m_btnSpanUp, &QAbstractButton::clicked, this, [this] { MoveSelectedSpan(-1); });
    connect(m_btnSpanDown, &QAbstractButton::clicked, this, [this] { MoveSelectedSpan(1); });
    connect(m_btnSpanRemove, &QAbstractButton::clicked, this, &CMorvaneDlg::RemoveSelectedSpan);
    for (QWidget* widget : {static_cast<QWidget*>(m_comboSpans), static_cast<QWidget*>(m_btnSpanUp),
                            static_cast<QWidget*>(m_btnSpanDown), static_cast<QWidget*>(m_btnSpanRemove)})
        widget->hide();
    CreateBreakControls();
}

int CMorvaneDlg::SelectedSpan() const
{
    if (!m_comboSpans)
        return -1;
    const int entry = m_comboSpans->currentIndex();
    return entry >= 1 && entry <= static_cast<int>(m_spans.size()) ? entry - 1 : -1;
}

// The list, the timeline and the visibility follow m_spans; `select` is the
// span chosen afterwards (-1: a new one).
void CMorvaneDlg::RefreshSpans(int select)
{
    if (!m_comboSpans)
        return;
    m_comboSpans->clear();
    m_comboSpans->addItem(LanguageText("JIEMIAN", "xpd"));
    std::vector<std::pair<int, int>> positions;
    for (int i = 0; i < static_cast<int>(m_spans.size()); ++i) {
        m_comboSpans->addItem(SpanEntryText(i, m_spans[i]));
        positions.emplace_back(SliderPositionOfMs(m_spans[i].start_ms), SliderPositionOfMs(m_spans[i].end_ms));
    }
    int fit = m_comboSpans->width();
    for (int i = 0; i < m_comboSpans->count(); ++i)
        fit = std::max(fit, m_comboSpans->fontMetrics().horizontalAdvance(m_comboSpans->itemText(i)) + 24);
    m_comboSpans->view()->setMinimumWidth(fit);
    m_slider->SetSpans(positions);
    m_slider->SetSpansRemoved(SpansRemove());
    SelectSpan(select);
    ShowSpanControls();
}

void CMorvaneDlg::SelectSpan(int span)
{
    const bool stored = span >= 0 && span < static_cast<int>(m_spans.size());
    m_comboSpans->setCurrentIndex(stored ? span + 1 : 0);
    m_btnSpanUp->setEnabled(stored && span > 0);
    m_btnSpanDown->setEnabled(stored && span + 1 < static_cast<int>(m_spans.size()));
    m_btnSpanRemove->setEnabled(stored);
    m_slider->SetChosenSpan(stored ? span : -1);
    if (!stored)
        return;
    // The fields and markers show the chosen span, ready to be re-marked.
    const CutSpan& s = m_spans[span];
    const QSignalBlocker blockStart(Edit(1023)), blockEnd(Edit(1024));
    Edit(1023)->setText(TimeText(s.start_ms));
    Edit(1024)->setText(TimeText(s.end_ms));
    OnTimeTextChanged();
    m_slider->SetStartMarker(SliderPositionOfMs(s.start_ms));
    m_slider->SetEndMarker(SliderPositionOfMs(s.end_ms));
    m_slider->SetMarkerMode(2);
    m_slider->update();
}

void CMorvaneDlg::ShowSpanControls()
{
    const bool show = m_tab && m_tab->currentIndex() == kCutTab && !m_spans.empty();
    for (QWidget* widget : {static_cast<QWidget*>(m_comboSpans), static_cast<QWidget*>(m_btnSpanUp),
                            static_cast<QWidget*>(m_btnSpanDown), static_cast<QWidget*>(m_btnSpanRemove)})
        widget->setVisible(show);
    m_btnBreaks->setVisible(m_tab && m_tab->currentIndex() == kCutTab && !m_strCutFile.isEmpty());
    ApplyBreakTexts();
}

void CMorvaneDlg::OnSpanChosen(int entry)
{
    if (entry <= 0) {
        // New marks start afresh; the stored spans stay drawn.
        m_slider->SetMarkerMode(0);
        m_slider->update();
    }
    SelectSpan(entry - 1);
    // The chosen span is shown from its start, in view at any zoom.
    if (SelectedSpan() >= 0)
        MoveToMs(m_spans[SelectedSpan()].start_ms);
}

bool CMorvaneDlg::OnAddSpan()
{
    const MarkEdit edit(this);
    if (m_strCutFile.isEmpty()) {
        ShowMessage(g_uiStrings.Text(QStringLiteral("TISHI"), QStringLiteral("qxtjsp")));
        return false;
    }
    int64_t start = 0, end = 0;
    if (!ReadTimeText(Edit(1023)->text().toStdString(), &start) ||
        !ReadTimeText(Edit(1024)->text().toStdString(), &end)) {
        ShowMessage(LanguageText("TISHI", "sjgscw"));
        return false;
    }
    if (!CutSpanIsPossible(start, end, m_cutFacts.duration_us)) {
        ShowMessage(LanguageText("TISHI", "sjdwx"));
        return false;
    }
    // Every stored span counts, the chosen one too: adding it again would store it twice.
    const CutSpan span{start, end};
    const int other = FindOverlappingSpan(m_spans, span, -1);
    if (other >= 0) {
        ShowMessage(LanguageText("TISHI", "xpdcd").arg(TimeText(start), TimeText(end)).arg(other + 1));
        return false;
    }
    if (static_cast<int>(m_spans.size()) >= kMaxJobInputs) {
        ShowMessage(LanguageText("TISHI", "pdtd"));
        return false;
    }
    m_spans.push_back(span);
    // The next marks make another span; the one just added shows on the timeline.
    m_slider->SetMarkerMode(0);
    RefreshSpans(-1);
    return true;
}

// Start Point and End Point have just set the fields: a chosen span takes
// them, unless the result would overlap another span or hold nothing.
void CMorvaneDlg::ReMarkSelectedSpan()
{
    const MarkEdit edit(this);
    const int selected = SelectedSpan();
    if (selected < 0)
        return;
    int64_t start = 0, end = 0;
    const bool isTime = ReadTimeText(Edit(1023)->text().toStdString(), &start) &&
                        ReadTimeText(Edit(1024)->text().toStdString(), &end);
    const CutSpan span{start, end};
    const int other = isTime ? FindOverlappingSpan(m_spans, span, selected) : -1;
    if (!isTime || !CutSpanIsPossible(start, end, m_cutFacts.duration_us) || other >= 0) {
        if (other >= 0)
            ShowMessage(SpansOverlapText(selected, other));
        else
            ShowMessage(LanguageText("TISHI", "sjdwx"));
        SelectSpan(selected);  // back to what the span holds
        return;
    }
    m_spans[selected] = span;
    RefreshSpans(selected);
}

void CMorvaneDlg::MoveSelectedSpan(int by)
{
    const MarkEdit edit(this);
    const int selected = SelectedSpan();
    const int to = selected + by;
    if (selected < 0 || to < 0 || to >= static_cast<int>(m_spans.size()))
        return;
    std::swap(m_spans[selected], m_spans[to]);
    RefreshSpans(to);
}

void CMorvaneDlg::RemoveSelectedSpan()
{
    const MarkEdit edit(this);
    const int selected = SelectedSpan();
    if (selected < 0)
        return;
    m_spans.erase(m_spans.begin() + selected);
    if (m_spans.empty())
        m_slider->SetMarkerMode(0);
    RefreshSpans(m_spans.empty() ? -1 : std::min<int>(selected, static_cast<int>(m_spans.size()) - 1));
}
