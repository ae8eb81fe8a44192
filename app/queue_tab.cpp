// SPDX-License-Identifier: GPL-3.0-or-later
// The window's third tab, the queue, and the join tab's button that cuts
// every ticked file the way the cut tab marks.
#include "morvane_dlg.h"

#include "dialog_template.h"
#include "job_sequence.h"
#include "queue_panel.h"
#include "queue_store.h"
#include "window_parts.h"

#include <QPushButton>
#include <QTabBar>

#include <algorithm>

using window_parts::LanguageText;

namespace {

// Below the join list, where the cut tab's fields are.
constexpr dialogs::ControlPlace kCutTickedPlace{1310, 4, 221, 150, 16};
// The tab row's width and the room before the help link, as the template has them.
constexpr int kTabWidthDlu = 147;
constexpr int kLinkGapDlu = 3;
constexpr int kLinkDlu = 154;

}  // namespace

void CMorvaneDlg::CreateQueueControls()
{
    const dialogs::DialogUnits units(font());
    m_btnCutTicked = new QPushButton(this);
    m_btnCutTicked->setAutoDefault(false);
    dialogs::PlaceControl(m_btnCutTicked, kCutTickedPlace, units);
    connect(m_btnCutTicked, &QPushButton::clicked, this, &CMorvaneDlg::OnCutTicked);

    m_queuePanel = new QueuePanel(this, QueueFilePath());
    m_tab->addTab(QString());
    connect(m_queuePanel, &QueuePanel::waitingChanged, this, &CMorvaneDlg::ApplyQueueTexts);
    ApplyQueueTexts();
    ShowQueueControls();
}

// The tab says how many jobs wait: "Queue (3)".
void CMorvaneDlg::ApplyQueueTexts()
{
    if (!m_queuePanel)
        return;
    m_btnCutTicked->setText(LanguageText("JIEMIAN", "qgxjq"));
    const auto& jobs = m_queuePanel->Queue()->Jobs();
    const auto waiting = std::count_if(jobs.begin(), jobs.end(), [](const QueuedJob& job) {
        return job.state == QueuedState::Queued || job.state == QueuedState::Running;
    });
    const QString name = LanguageText("JIEMIAN", "dl");
    m_tab->setTabText(kQueueTab, waiting > 0 ? QStringLiteral("%1 (%2)").arg(name).arg(waiting) : name);
    FitTabBar();
}

// Three tabs may need more room than the template gives two: the tab row
// grows, and the help link moves along.
void CMorvaneDlg::FitTabBar()
{
    const dialogs::DialogUnits units(font());
    QWidget* link = dialogs::FindControl(this, 1180);
    const int gap = units.ToPixelsX(kLinkGapDlu);
    const int width = std::max(units.ToPixelsX(kTabWidthDlu), m_tab->sizeHint().width());
    m_tab->resize(width, m_tab->height());
    link->move(std::max(units.ToPixelsX(kLinkDlu), m_tab->x() + width + gap), link->y());
}

// In the queue tab the panel covers both other tabs' controls.
void CMorvaneDlg::ShowQueueControls()
{
    if (!m_queuePanel)
        return;
    ShowSpanControls();
    const int tab = m_tab->currentIndex();
    m_btnCutTicked->setVisible(tab == kJoinTab);
    m_queuePanel->setVisible(tab == kQueueTab);
    if (tab != kQueueTab)
        return;
    for (int id : {1004, 1099, 1183, 1114, 1140, 1154, 1149, 1301, 1000, 1018, 1019, 1157, 1023, 1024, 1025, 1172,
                   1139, 1184, 1188, 1308, 1254, 1255, 1307})
        if (QWidget* control = dialogs::FindControl(this, id))
            control->setVisible(false);
    m_queuePanel->raise();
}
