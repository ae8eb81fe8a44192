// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue_panel.h"

#include "dialog_template.h"
#include "job_sequence.h"
#include "language_file.h"
#include "queue_store.h"
#include "queued_text.h"
#include "ui_strings.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
enum Column { kState, kFiles, kMode, kOutput, kReason, kColumnCount };
const char* const kHeaderKeys[kColumnCount] = {"zt", "dlwj", "dlms", "dlsc", "dlyy"};
constexpr int kColumnWidths[kColumnCount] = {90, 120, 190, 120, 200};

// Below the tab row, inside the window's margin, in dialog units.
constexpr int kLeftDlu = 4;
constexpr int kTopDlu = 15;
constexpr int kMarginDlu = 4;

QString Text(const char* section, const char* key)
{
    return i18n::LanguageFile::ReadText(i18n::g_uiStrings.Language(), QString::fromLatin1(section),
                                        QString::fromLatin1(key));
}

QString Names(const std::vector<std::string>& paths)
{
    QStringList names;
    for (const std::string& path : paths)
        names << queued_text::FileName(path);
    return names.join(QStringLiteral(", "));
}

QString Paths(const std::vector<std::string>& paths)
{
    QStringList lines;
    for (const std::string& path : paths)
        lines << QString::fromStdString(path);
    return lines.join(QLatin1Char('\n'));
}

// Where the job writes: what it wrote, or the folder and title it will use.
QString OutputText(const QueuedJob& job)
{
    if (!job.outputs.empty())
        return Names(job.outputs);
    return QString::fromStdString(job.target.folder + "/" + job.target.file_title);
}

}  // namespace

QueuePanel::QueuePanel(QWidget* parent, const QString& file)
    : QWidget(parent), m_file(file), m_queue(new JobSequence(this)), m_list(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("queue"));
    m_list->setColumnCount(kColumnCount);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->header()->setStretchLastSection(true);
    for (int c = 0; c < kColumnCount; ++c)
        m_list->setColumnWidth(c, kColumnWidths[c]);

    m_btnStart = new QPushButton(this);
    m_btnStop = new QPushButton(this);
    const auto small = [this](const QString& text) {
        auto* button = new QToolButton(this);
        button->setText(text);
        return button;
    };
    m_btnUp = small(QStringLiteral("\u25B2"));
    m_btnDown = small(QStringLiteral("\u25BC"));
    m_btnRemove = small(QStringLiteral("\u2715"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnStart);
    buttons->addWidget(m_btnStop);
    buttons->addStretch(1);
    buttons->addWidget(m_btnUp);
    buttons->addWidget(m_btnDown);
    buttons->addWidget(m_btnRemove);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    connect(m_btnStart, &QPushButton::clicked, this, &QueuePanel::StartQueue);
    connect(m_btnStop, &QPushButton::clicked, this, &QueuePanel::StopQueue);
    connect(m_btnUp, &QToolButton::clicked, this, [this] { MoveSelected(-1); });
    connect(m_btnDown, &QToolButton::clicked, this, [this] { MoveSelected(1); });
    connect(m_btnRemove, &QToolButton::clicked, this, &QueuePanel::RemoveSelected);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &QueuePanel::EnableButtons);
    connect(m_queue, &JobSequence::changed, this, [this] {
        ShowJobs();
        Save();
    });
    connect(m_queue, &JobSequence::ended, this, &QueuePanel::EnableButtons);
    connect(m_queue, &JobSequence::progress, this, &QueuePanel::ShowProgress);

    m_list->installEventFilter(this);
    LoadQueue(m_file, &m_queue->Jobs());
    parent->installEventFilter(this);
    FitToParent();
    ApplyLanguage();
}

void QueuePanel::ApplyLanguage()
{
    QStringList headers;
    for (const char* key : kHeaderKeys)
        headers << Text("JIEMIAN", key);
    m_list->setHeaderLabels(headers);
    m_btnStart->setText(Text("JIEMIAN", "dlks"));
    m_btnStop->setText(Text("JIEMIAN", "tz"));
    ShowJobs();
}

bool QueuePanel::Save()
{
    return SaveQueue(m_file, m_queue->Jobs());
}

void QueuePanel::Close()
{
    m_queue->Stop();
    Save();
}

void QueuePanel::StartQueue()
{
    m_queue->Start();
    EnableButtons();
}

void QueuePanel::StopQueue()
{
    m_queue->Stop();
    EnableButtons();
}

void QueuePanel::MoveSelected(int by)
{
    const uint64_t id = SelectedId();
    if (id == 0 || !m_queue->Move(id, by))
        return;
    const int row = m_queue->IndexOf(id);
    m_list->setCurrentItem(m_list->topLevelItem(row));
}

void QueuePanel::RemoveSelected()
{
    const uint64_t id = SelectedId();
    const int row = m_queue->IndexOf(id);
    if (id == 0 || !m_queue->Remove(id))
        return;
    const int count = m_list->topLevelItemCount();
    if (count > 0)
        m_list->setCurrentItem(m_list->topLevelItem(std::min(row, count - 1)));
}

uint64_t QueuePanel::SelectedId() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    return item && item->isSelected() ? item->data(0, kIdRole).toULongLong() : 0;
}

void QueuePanel::ShowJobs()
{
    const uint64_t selected = SelectedId();
    m_list->clear();
    int waiting = 0;
    for (const QueuedJob& job : m_queue->Jobs()) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(job.id));
        item->setText(kState, queued_text::StateText(job.state));
        item->setText(kFiles, Names(job.files));
        item->setToolTip(kFiles, Paths(job.files));
        item->setText(kMode, queued_text::ModeText(job));
        item->setText(kOutput, OutputText(job));
        item->setToolTip(kOutput, job.outputs.empty() ? OutputText(job) : Paths(job.outputs));
        QString reason = queued_text::ReasonText(job);
        if (!job.outcome.file.empty() && job.files.size() > 1)
            reason = queued_text::FileName(job.outcome.file) + QStringLiteral(": ") + reason;
        item->setText(kReason, reason);
        item->setToolTip(kReason, reason);
        if (job.id == selected)
            m_list->setCurrentItem(item);
        waiting += job.state == QueuedState::Queued ? 1 : 0;
    }
    EnableButtons();
    emit waitingChanged(waiting);
}

// The running job's row says how far it is, as the progress dialog would:
// which input of how many, and the percent of it.
void QueuePanel::ShowProgress(quint64 id, const JobReading& reading)
{
    const int row = m_queue->IndexOf(id);
    QTreeWidgetItem* item = row >= 0 ? m_list->topLevelItem(row) : nullptr;
    if (!item || reading.percent < 0)
        return;
    const int count = static_cast<int>(reading.inputs.size());
    QString text = queued_text::StateText(QueuedState::Running) + QLatin1Char(' ');
    if (count > 1)
        text += QStringLiteral("%1/%2 ").arg(std::clamp(reading.current, 0, count - 1) + 1).arg(count);
    item->setText(kState, text + QString::number(std::min(reading.percent, 100)) + QLatin1Char('%'));
}

void QueuePanel::EnableButtons()
{
    const uint64_t id = SelectedId();
    const int row = m_queue->IndexOf(id);
    const auto& jobs = m_queue->Jobs();
    const bool anyWaiting = std::any_of(jobs.begin(), jobs.end(),
                                        [](const QueuedJob& job) { return job.state == QueuedState::Queued; });
    m_btnStart->setEnabled(!m_queue->Running() && anyWaiting);
    m_btnStop->setEnabled(m_queue->Running());
    m_btnUp->setEnabled(row > 0);
    m_btnDown->setEnabled(row >= 0 && row + 1 < static_cast<int>(jobs.size()));
    m_btnRemove->setEnabled(row >= 0 && id != m_queue->RunningId());
}

bool QueuePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        FitToParent();
    if (watched == m_list && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        RemoveSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void QueuePanel::FitToParent()
{
    const auto* owner = parentWidget();
    const dialogs::DialogUnits units(owner->font());
    const int left = units.ToPixelsX(kLeftDlu), top = units.ToPixelsY(kTopDlu);
    setGeometry(left, top, owner->width() - left - units.ToPixelsX(kMarginDlu),
                owner->height() - top - units.ToPixelsY(kMarginDlu));
}
