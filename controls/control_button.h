// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A push button drawn from bitmaps, shaped like its bitmap (white pixels are
// cut away) and switching to its hover picture once the mouse rests on it.

#include <QPixmap>
#include <QPushButton>
#include <QRegion>
#include <QTimer>

class QImage;

// The union of the one-pixel-high runs of pixels that are not exactly white.
QRegion RegionFromNonWhitePixels(const QImage& image);

class CControlButton : public QPushButton {
    Q_OBJECT

public:
    explicit CControlButton(QWidget* parent = nullptr);

    // A picture whose bitmap cannot be loaded stays empty and draws nothing.
    void SetBitmaps(int hoverId, int normalId, int pressedId, int fourthId);
    // A missing bitmap leaves the button rectangular.
    void SetRegionFromBitmap(int id);
    // A dotted frame inside the picture while the button has the keyboard focus.
    void ShowFocusMark(bool show) { m_showFocusMark = show; update(); }

    bool IsHovering() const { return m_hover; }

    // How long the mouse must rest before the hover picture shows.
    static constexpr int kHoverTimeMs = 1;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void OnMouseHover();

    QPixmap m_bmpNormal;
    QPixmap m_bmpHover;
    QPixmap m_bmpPressed;
    QPixmap m_bmpFourth;  // part of the picture set; never drawn
    bool m_hover = false;
    bool m_showFocusMark = false;
    bool m_tracking = false;
    QTimer m_hoverTimer;
};
