// SPDX-License-Identifier: GPL-3.0-or-later
#include "label.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

CLabel::CLabel(QWidget* parent)
    : QLabel(parent),
      m_textColor(palette().color(QPalette::WindowText)),
      m_backBrush(palette().color(QPalette::Button))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A plain static wraps at word boundaries; setWordWrap(false) is the
    // no-wrap style.
    setWordWrap(true);
}

void CLabel::SetCenterImage(bool centre)
{
    m_centerImage = centre;
    update();
}

void CLabel::StopFlashing()
{
    if (m_flashTimer.isActive())
        m_flashTimer.stop();
}

int CLabel::TextFlags() const
{
    const QString content = text();
    int flags = 0;
    if (m_centerImage) {
        flags = content.contains(QLatin1Char('\n')) ? Qt::AlignHCenter | Qt::AlignTop
                                                    : Qt::AlignCenter | Qt::TextSingleLine;
    } else if (alignment() & Qt::AlignHCenter) {
        flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
    } else if (alignment() & Qt::AlignRight) {
        flags = Qt::AlignRight | Qt::AlignTop | Qt::TextWordWrap;
    } else {
        flags = Qt::AlignLeft | Qt::AlignTop | (wordWrap() ? Qt::TextWordWrap : 0);
    }
    if (content.contains(QLatin1Char('\t')))
        flags |= Qt::TextExpandTabs;
    return flags;
}

void CLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_backBrush);
    painter.setPen(m_textColor);
    painter.setFont(font());
    painter.setClipRect(rect());
    painter.drawText(rect(), TextFlags(), text());
}

// A change of the system colours gives the background the new button face;
// the text colour stays as it was read at construction.
void CLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        m_backBrush = QBrush(palette().color(QPalette::Button));
        update();
    }
    QLabel::changeEvent(event);
}
