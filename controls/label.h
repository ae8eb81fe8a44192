// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A static text that paints itself, flicker-free, on the button-face colour.

#include <QBasicTimer>
#include <QBrush>
#include <QColor>
#include <QLabel>

class CLabel : public QLabel {
    Q_OBJECT

public:
    explicit CLabel(QWidget* parent = nullptr);

    // Centres the text vertically too (on one line when it has no line break).
    void SetCenterImage(bool centre);
    // Nothing in the program starts flashing; stopping is still offered to
    // the dialogs that call it when they show or hide.
    void StopFlashing();

    QColor TextColor() const { return m_textColor; }
    QColor BackColor() const { return m_backBrush.color(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int TextFlags() const;

    QColor m_textColor;
    QBrush m_backBrush;
    bool m_centerImage = false;
    QBasicTimer m_flashTimer;
};
