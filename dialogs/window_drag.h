// SPDX-License-Identifier: GPL-3.0-or-later
// Moving a window by a press on its background, as its title bar would.
#pragma once

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

class WindowDrag {
public:
    // True when the press starts a move; the window system's own move is
    // preferred, following the cursor by hand where it has none.
    bool Press(QWidget* window, QMouseEvent* event)
    {
        if (event->button() != Qt::LeftButton)
            return false;
        if (window->windowHandle() && window->windowHandle()->startSystemMove())
            return true;
        m_moving = true;
        m_grabOffset = event->globalPosition().toPoint() - window->frameGeometry().topLeft();
        return true;
    }
    void Move(QWidget* window, QMouseEvent* event)
    {
        if (m_moving)
            window->move(event->globalPosition().toPoint() - m_grabOffset);
    }
    void Release() { m_moving = false; }

private:
    bool m_moving = false;
    QPoint m_grabOffset;
};
