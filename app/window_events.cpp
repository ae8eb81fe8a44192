// SPDX-License-Identifier: GPL-3.0-or-later
// The window's end (a running job is stopped and joined first), and the
// keys and mouse it takes for itself.
#include "morvane_dlg.h"

#include "check_list_ctrl.h"
#include "conversion_job.h"
#include "dialog_template.h"
#include "job_runner.h"
#include "key_frame_scanner.h"
#include "preview_worker.h"
#include "queue_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QToolTip>

void CMorvaneDlg::AdoptWorker(std::thread worker)
{
    m_runner->Adopt(g_pJob, std::move(worker));
}

void CMorvaneDlg::ReleaseJobRecord()
{
    {
        // Closing: the worker is stopped and joined without a word.
        const QSignalBlocker quiet(m_runner);
        m_runner->Join(true);
    }
    FreeConversionJob(&g_pJob);
}

void CMorvaneDlg::OnClose()
{
    StopPlaying();
    RememberWindowSize();
    m_keyFrameScanner->Cancel();
    m_pictures->Stop();  // a picture arriving later would find no record to show it in
    ForgetFoundPoints();
    m_queuePanel->Close();
    ReleaseJobRecord();
    done(QDialog::Accepted);
}

void CMorvaneDlg::closeEvent(QCloseEvent* event)
{
    // The add in progress still uses the job record; close once it is through.
    if (m_adding) {
        m_closePending = true;
        event->ignore();
        return;
    }
    // A running job is stopped first; the launch closes once its worker is
    // joined, or once its settings dialog is answered.
    if (m_launching) {
        m_closePending = true;
        if (m_runner->Running() || m_batch)
            StopSequence();
        event->ignore();
        return;
    }
    m_closePending = false;
    if (isVisible())
        OnClose();
    event->accept();
}

// The main window closes only by its own button or title bar.
void CMorvaneDlg::keyPressEvent(QKeyEvent* event)
{
    if (!dialogs::TakeClosingKey(event))
        QDialog::keyPressEvent(event);
}

// Delete removes the selected join row while the list has the focus (a text
// field keeps its own Delete); a tool tip asks the window for the hint of the
// control under the mouse.
bool CMorvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        (widget == m_listFiles || m_listFiles->isAncestorOf(widget))) {
        DeleteSelectedRow();
        return true;
    }
    // The timeline's keys work wherever the focus is on the cut tab, except
    // where a key types or chooses (time fields, language list, tabs).
    if (event->type() == QEvent::KeyPress && m_tab->currentIndex() == kCutTab && !m_strCutFile.isEmpty() &&
        !m_launching && !qobject_cast<QLineEdit*>(widget) && !qobject_cast<QComboBox*>(widget) &&
        !qobject_cast<QTabBar*>(widget) &&
        !QApplication::activePopupWidget()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held = key->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
        if (held & ~(Qt::ShiftModifier | Qt::ControlModifier))
            return QDialog::eventFilter(watched, event);
        if (held & Qt::ControlModifier && (key->key() == Qt::Key_Z || key->key() == Qt::Key_Y)) {
            if (key->key() == Qt::Key_Z && !(held & Qt::ShiftModifier))
                Undo();
            else
                Redo();
            return true;
        }
        if (key->key() == Qt::Key_Space && key->isAutoRepeat())
            return true;  // a held Space plays or stops once
        // Space on a button presses it, unless it stops the play.
        if (key->key() == Qt::Key_Space && qobject_cast<QAbstractButton*>(widget) && !Playing())
            return QDialog::eventFilter(watched, event);
        if (OnTimelineKey(key->key(), held))
            return true;
    }
    if (event->type() == QEvent::ToolTip) {
        bool numbered = false;
        const int id = widget->objectName().toInt(&numbered);
        const QString text = numbered ? OnToolTipText(id) : QString();
        if (!text.isEmpty()) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, widget);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// A press on the window's background moves the window.
void CMorvaneDlg::mousePressEvent(QMouseEvent* event)
{
    if (!m_drag.Press(this, event))
        QDialog::mousePressEvent(event);
}

void CMorvaneDlg::mouseMoveEvent(QMouseEvent* event)
{
    m_drag.Move(this, event);
    QDialog::mouseMoveEvent(event);
}

void CMorvaneDlg::mouseReleaseEvent(QMouseEvent* event)
{
    m_drag.Release();
    QDialog::mouseReleaseEvent(event);
}
