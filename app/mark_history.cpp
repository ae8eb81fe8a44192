// SPDX-License-Identifier: GPL-3.0-or-later
// Undo and redo of the cut tab's marks: the span list, the chosen span, the
// Start and End fields and the timeline's markers, kept as whole states (a
// few hundred bytes each) before every change. Loading another file starts
// a new history; one holding spans goes only when the user agrees.
#include "morvane_dlg.h"

#include "bitmap_slider.h"
#include "seams.h"
#include "window_parts.h"

#include <QComboBox>
#include <QLineEdit>

using window_parts::LanguageText;

namespace {

// Enough for an afternoon of marking; the oldest steps go first.
constexpr size_t kUndoSteps = 200;

}  // namespace

bool CMorvaneDlg::MarkState::operator==(const MarkState& other) const
{
    const auto sameSpans = std::equal(spans.begin(), spans.end(), other.spans.begin(), other.spans.end(),
                                      [](const CutSpan& a, const CutSpan& b) {
                                          return a.start_ms == b.start_ms && a.end_ms == b.end_ms;
                                      });
    return sameSpans && selected == other.selected && start == other.start && end == other.end &&
           startMarker == other.startMarker && endMarker == other.endMarker && markerMode == other.markerMode;
}

// Nested edits (Start Point re-marking the chosen span) make one step.
CMorvaneDlg::MarkEdit::MarkEdit(CMorvaneDlg* dlg) : m_dlg(dlg), m_outermost(dlg->m_markEdits++ == 0)
{
    if (m_outermost)
        m_before = dlg->CurrentMarks();
}

CMorvaneDlg::MarkEdit::~MarkEdit()
{
    --m_dlg->m_markEdits;
    if (!m_outermost || m_dlg->m_strCutFile.isEmpty() || m_dlg->CurrentMarks() == m_before)
        return;
    m_dlg->m_undo.push_back(std::move(m_before));
    if (m_dlg->m_undo.size() > kUndoSteps)
        m_dlg->m_undo.erase(m_dlg->m_undo.begin());
    m_dlg->m_redo.clear();
}

CMorvaneDlg::MarkState CMorvaneDlg::CurrentMarks() const
{
    MarkState state;
    state.spans = m_spans;
    state.selected = SelectedSpan();
    state.start = Edit(1023)->text();
    state.end = Edit(1024)->text();
    state.startMarker = m_slider->GetStartMarker();
    state.endMarker = m_slider->GetEndMarker();
    state.markerMode = m_slider->GetMarkerMode();
    return state;
}

void CMorvaneDlg::RestoreMarks(const MarkState& state)
{
    m_spans = state.spans;
    RefreshSpans(state.selected);
    const QSignalBlocker blockStart(Edit(1023)), blockEnd(Edit(1024));
    Edit(1023)->setText(state.start);
    Edit(1024)->setText(state.end);
    OnTimeTextChanged();
    m_slider->SetStartMarker(state.startMarker);
    m_slider->SetEndMarker(state.endMarker);
    m_slider->SetMarkerMode(state.markerMode);
    m_slider->update();
}

void CMorvaneDlg::Undo()
{
    StepHistory(m_undo, m_redo);
}

void CMorvaneDlg::Redo()
{
    StepHistory(m_redo, m_undo);
}

// Takes the newest state off one history, keeping today's on the other.
void CMorvaneDlg::StepHistory(std::vector<MarkState>& from, std::vector<MarkState>& to)
{
    if (from.empty() || m_launching)
        return;
    to.push_back(CurrentMarks());
    const MarkState state = std::move(from.back());
    from.pop_back();
    RestoreMarks(state);
}

void CMorvaneDlg::ForgetUndo()
{
    m_undo.clear();
    m_redo.clear();
}

bool CMorvaneDlg::MayDiscardSpans()
{
    if (m_spans.empty())
        return true;
    platform::MessageBoxRequest request;
    request.owner = this;
    request.text = LanguageText("TISHI", "fqpd");
    request.caption = LanguageText("APPLICATION", "name");
    return platform::AskYesNo(request);
}
