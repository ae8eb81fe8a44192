// SPDX-License-Identifier: GPL-3.0-or-later
#include "control_button.h"

#include "resource_loader.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include <vector>

QRegion RegionFromNonWhitePixels(const QImage& image)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const QRgb white = qRgb(255, 255, 255);
    QRegion region;
    std::vector<QRect> runs;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        runs.clear();
        int x = 0;
        while (x < pixels.width()) {
            while (x < pixels.width() && line[x] == white)
                ++x;
            const int runStart = x;
            while (x < pixels.width() && line[x] != white)
                ++x;
            if (x > runStart)
                runs.emplace_back(runStart, y, x - runStart, 1);
        }
        // One row forms a single band, which setRects accepts directly.
        QRegion row;
        row.setRects(runs.data(), static_cast<int>(runs.size()));
        region += row;
    }
    return region;
}

CControlButton::CControlButton(QWidget* parent) : QPushButton(parent)
{
    setMouseTracking(true);
    // Enter belongs to the dialog, which decides what it does; a focused
    // picture button must not turn into the dialog's default button.
    setAutoDefault(false);
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(kHoverTimeMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CControlButton::OnMouseHover);
}

void CControlButton::SetBitmaps(int hoverId, int normalId, int pressedId, int fourthId)
{
    m_bmpHover = QPixmap::fromImage(resources::LoadBitmapResource(hoverId));
    m_bmpNormal = QPixmap::fromImage(resources::LoadBitmapResource(normalId));
    m_bmpPressed = QPixmap::fromImage(resources::LoadBitmapResource(pressedId));
    m_bmpFourth = QPixmap::fromImage(resources::LoadBitmapResource(fourthId));
    update();
}

void CControlButton::SetRegionFromBitmap(int id)
{
    const QImage bitmap = resources::LoadBitmapResource(id);
    if (bitmap.isNull())
        return;
    setMask(RegionFromNonWhitePixels(bitmap));
    repaint();
}

// The hover picture waits until the mouse has rested for the hover time, so
// sweeping across the button never shows it; it then stays until a leave.
void CControlButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_tracking || !m_hover)
        m_hoverTimer.start();
    m_tracking = true;
    QPushButton::mouseMoveEvent(event);
}

void CControlButton::OnMouseHover()
{
    m_hover = true;
    update();
}

void CControlButton::leaveEvent(QEvent* event)
{
    m_hoverTimer.stop();
    m_hover = false;
    m_tracking = false;
    update();
    QPushButton::leaveEvent(event);
}

// Pictures are copied unscaled from their top-left corner; no text or
// disabled look, and a focus mark only where the owner asks for one.
void CControlButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPixmap& base = m_hover ? m_bmpHover : m_bmpNormal;
    if (!base.isNull())
        painter.drawPixmap(0, 0, base, 0, 0, width(), height());
    if (isDown() && !m_bmpPressed.isNull())
        painter.drawPixmap(0, 0, m_bmpPressed, 0, 0, width(), height());
    if (m_showFocusMark && hasFocus()) {
        // Inside the rounded picture, so the button's shape does not clip it.
        constexpr int kInset = 3;
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(kInset, kInset, -kInset - 1, -kInset - 1));
    }
}
