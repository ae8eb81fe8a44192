// SPDX-License-Identifier: GPL-3.0-or-later
// The play inside the window: its button beside the timeline, what it plays
// (the marked span, or from the thumb), and the preview and the thumb
// following the sound. Space starts and stops it.
#include "morvane_dlg.h"

#include "bitmap_slider.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "window_parts.h"
#include "window_player.h"

#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

using window_parts::LanguageText;
using window_parts::TimeText;

namespace {

// In the group of the cut tab's buttons, after Add span, before the time.
constexpr dialogs::ControlPlace kPlayHerePlace{1308, 229, 203, 46, 20};

}  // namespace

void CMorvaneDlg::CreatePlayControls()
{
    m_player = new WindowPlayer(this);
    m_btnPlayHere = new QToolButton(this);
    m_btnPlayHere->setFocusPolicy(Qt::TabFocus);
    dialogs::PlaceControl(m_btnPlayHere, kPlayHerePlace, dialogs::DialogUnits(font()));
    connect(m_btnPlayHere, &QAbstractButton::clicked, this, &CMorvaneDlg::OnPlayHere);
    connect(m_player, &WindowPlayer::reached, this, &CMorvaneDlg::OnPlayReached);
    connect(m_player, &WindowPlayer::ended, this, &CMorvaneDlg::ApplyPlayText);
}

void CMorvaneDlg::ApplyPlayText()
{
    if (m_btnPlayHere)
        m_btnPlayHere->setText(LanguageText("JIEMIAN", m_player->Playing() ? "ckbftz" : "ckbf"));
}

bool CMorvaneDlg::Playing() const { return m_player && m_player->Playing(); }

void CMorvaneDlg::OnPlayHere()
{
    if (Playing()) {
        StopPlaying();
        return;
    }
    if (m_strCutFile.isEmpty() || m_launching)
        return;
    const long long duration = DurationMs();
    long long from = m_nCurrentMs, to = duration;
    int64_t start = 0, end = 0;
    const bool marked = ReadTimeText(Edit(1023)->text().toStdString(), &start) &&
                        ReadTimeText(Edit(1024)->text().toStdString(), &end) && end > start && end <= duration;
    if (marked) {
        // From the thumb when it lies inside the span, else the whole span.
        from = m_nCurrentMs >= start && m_nCurrentMs < end ? m_nCurrentMs : start;
        to = end;
    } else if (from >= duration) {
        from = 0;
    }
    m_player->Play(m_cutFacts.path_utf8, from, to);
    ApplyPlayText();
}

void CMorvaneDlg::StopPlaying()
{
    if (!Playing())
        return;
    m_player->Stop();
    ApplyPlayText();
}

// The preview changes when the sound reaches the next picture; between
// pictures only the thumb and the time move.
void CMorvaneDlg::OnPlayReached(long long ms)
{
    if (!m_previewExact || PictureAtMs(ms) != PictureAtMs(m_nCurrentMs)) {
        MoveToMs(ms);
        return;
    }
    m_slider->SetPos(SliderPositionOfMs(ms));
    m_nCurrentMs = static_cast<int>(ms);
    g_pJob->start_s[0] = static_cast<double>(ms) / 1000.0;
    Static(1184)->setText(TimeText(m_nCurrentMs) + QStringLiteral(" / ") + TimeText(DurationMs()));
}
