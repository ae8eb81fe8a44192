// SPDX-License-Identifier: GPL-3.0-or-later
#include "av_convert_dlg.h"

#include "conversion_job.h"
#include "dialog_template.h"
#include "label.h"
#include "language_file.h"
#include "settings_file.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using dialogs::ControlPlace;

// Template 129, 324 x 89 dialog units, 8-point font.
constexpr int kFontPoints = 8;
constexpr int kWidthDlu = 324;
constexpr int kHeightDlu = 89;
constexpr ControlPlace kCaptionCurrent{1158, 5, 5, 58, 8};
constexpr ControlPlace kLineCurrent{1018, 68, 5, 252, 8};
constexpr ControlPlace kBarCurrent{1011, 5, 17, 312, 14};
constexpr ControlPlace kCaptionTotal{1159, 5, 36, 62, 8};
constexpr ControlPlace kLineTotal{1019, 69, 36, 249, 8};
constexpr ControlPlace kBarTotal{1012, 6, 47, 311, 14};
constexpr ControlPlace kStop{1000, 261, 65, 57, 21};

const QString kTemplateLineText = QStringLiteral("...");

QProgressBar* MakeBar(QWidget* parent)
{
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

}  // namespace

CAVConvertDlg::CAVConvertDlg(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(dialogs::DialogFont(kFontPoints));
    const dialogs::DialogUnits units(font());
    setFixedSize(units.ToPixelsX(kWidthDlu), units.ToPixelsY(kHeightDlu));

    m_captionCurrent = new QLabel(this);
    m_lineCurrent = new CLabel(this);
    m_barCurrent = MakeBar(this);
    m_captionTotal = new QLabel(this);
    m_lineTotal = new CLabel(this);
    m_barTotal = MakeBar(this);
    m_btnStop = new QPushButton(this);
    m_btnStop->setAutoDefault(false);

    dialogs::PlaceControl(m_captionCurrent, kCaptionCurrent, units);
    dialogs::PlaceControl(m_lineCurrent, kLineCurrent, units);
    dialogs::PlaceControl(m_barCurrent, kBarCurrent, units);
    dialogs::PlaceControl(m_captionTotal, kCaptionTotal, units);
    dialogs::PlaceControl(m_lineTotal, kLineTotal, units);
    dialogs::PlaceControl(m_barTotal, kBarTotal, units);
    dialogs::PlaceControl(m_btnStop, kStop, units);

    // A line that mixes Latin and CJK text is laid out with the taller
    // fallback font; the template's 8 units would cut its bottom off.
    for (QLabel* label : {m_captionCurrent, static_cast<QLabel*>(m_lineCurrent), m_captionTotal,
                          static_cast<QLabel*>(m_lineTotal)})
        dialogs::FitLineHeight(label);

    // The line of the current file is kept to one line (see SetCurrentLine).
    m_lineCurrent->setWordWrap(false);

    connect(m_btnStop, &QPushButton::clicked, this, &CAVConvertDlg::StopJob);
}

void CAVConvertDlg::SetMainWindow(QWidget* mainWindow, std::function<void()> killPollTimer)
{
    if (mainWindow && mainWindow != parentWidget())
        setParent(mainWindow, windowFlags());
    m_killPollTimer = std::move(killPollTimer);
}

void CAVConvertDlg::OnInitDialog()
{
    const QString language = i18n::ReadSetting(QStringLiteral("LANGUAGE"), QStringLiteral("file"));
    const auto text = [&](const char* section, const char* key) {
        return i18n::LanguageFile::ReadText(language, QString::fromLatin1(section), QString::fromLatin1(key));
    };
    const QString name = text("APPLICATION", "name");
    const QString current = text("JIEMIAN", m_countsSpans ? "dqpd" : "dqwj");
    const QString stop = text("JIEMIAN", "tz");
    const QString total = text("JIEMIAN", m_countsSpans ? "zgpd" : "zgwj");

    m_captionCurrent->setText(current);
    m_captionTotal->setText(total);
    m_btnStop->setToolTip(stop);
    m_btnStop->setText(stop);
    setWindowTitle(name);

    // The same object serves every job; each opening starts from the template.
    m_lineCurrent->setText(kTemplateLineText);
    m_lineTotal->setText(kTemplateLineText);
    m_barCurrent->setValue(0);
    m_barTotal->setValue(0);
}

int CAVConvertDlg::DoModal()
{
    OnInitDialog();
    return exec();
}

void CAVConvertDlg::StopJob()
{
    if (g_pJob)
        g_pJob->cancel_requested = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (m_killPollTimer)
        m_killPollTimer();
    // Ending the dialog may deliver a close event of its own; that one must
    // not stop a second time.
    m_ending = true;
    done(QDialog::Accepted);
    m_ending = false;
}

void CAVConvertDlg::SetCurrentText(const QString& text) { m_lineCurrent->setText(text); }
void CAVConvertDlg::SetCurrentLine(const QString& path, const QString& tail)
{
    m_lineCurrent->setText(
        dialogs::ElidedPathLine(m_lineCurrent->fontMetrics(), m_lineCurrent->contentsRect().width(), path, tail));
}

void CAVConvertDlg::SetTotalText(const QString& text) { m_lineTotal->setText(text); }
void CAVConvertDlg::SetCurrentPos(int percent) { m_barCurrent->setValue(percent); }
void CAVConvertDlg::SetTotalPos(int percent) { m_barTotal->setValue(percent); }

// Neither key may close the window or stop the job.
void CAVConvertDlg::keyPressEvent(QKeyEvent* event)
{
    if (!dialogs::TakeClosingKey(event))
        QDialog::keyPressEvent(event);
}

// The close box stops the job exactly as the stop button does.
void CAVConvertDlg::closeEvent(QCloseEvent* event)
{
    if (isVisible() && !m_ending)
        StopJob();
    event->accept();
}

void CAVConvertDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_lineCurrent->StopFlashing();
}

void CAVConvertDlg::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_lineCurrent->StopFlashing();
}
