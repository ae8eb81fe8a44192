// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The timeline slider: a channel bitmap fills the control, a thumb bitmap
// with a transparent colour moves over it, and the span between the start
// and end markers is drawn from a second, active channel bitmap.

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

class CBitmapSlider : public QWidget {
    Q_OBJECT

public:
    explicit CBitmapSlider(QWidget* parent = nullptr);

    // Loads both channel bitmaps and sizes the control to the channel. A
    // wider control stretches the channel's middle; its rounded ends stay.
    bool SetBitmapChannel(int channelId, int activeChannelId);
    // Loads the thumb and the dragging thumb; their top-left colour is transparent.
    bool SetBitmapThumb(int thumbId, int activeThumbId);

    // A new range shows all of it again.
    void SetRange(int min, int max);
    int RangeMin() const { return m_rangeMin; }
    int RangeMax() const { return m_rangeMax; }
    void SetMargin(int left, int top, int right, int bottom);
    void DrawFocusRect(bool draw);
    void SetPageSize(int step) { m_pageStep = step; }
    // The slider's own input switch; a disabled window still paints its thumb.
    void Enable(bool enable);

    void SetPos(int position);
    int GetPos() const { return m_position; }
    void SetStartMarker(int position);
    void SetEndMarker(int position);
    int GetStartMarker() const { return m_startMarker; }
    int GetEndMarker() const { return m_endMarker; }
    // 0 none, 1 start set, 2 end set. The owner repaints afterwards.
    void SetMarkerMode(int mode) { m_markerMode = mode; }
    int GetMarkerMode() const { return m_markerMode; }

    // Zoom: the channel shows [ViewFrom, ViewFrom + ViewSpan] of the range,
    // all of it at first. ZoomBy(2) shows half as much around the thumb
    // (the thumb keeps its pixel while it is in view), down to the finest
    // scale; the view then scrolls, and follows a thumb moved out of it.
    void ZoomBy(double factor);
    void ZoomToFit();
    bool Zoomed() const;
    double ViewFrom() const { return m_viewFrom; }
    double ViewSpan() const { return m_viewSpan; }
    void ScrollTo(double from);
    // The closest zoom shows at least this many pixels per position.
    void SetFinestScale(double pixelsPerPosition);

    // Thumb-centre pixel of a position and position under a pixel, in the
    // part of the range shown; positions outside it lie off the channel.
    int PixelOfPosition(int position) const;
    int PositionOfPixel(int x) const;
    int Travel() const { return m_width - m_marginRight - m_thumbWidth - m_marginLeft; }

    // Marks under the channel (key pictures), each a fraction 0..1 of the
    // range. Drawn marks keep a blank column between them: closer ones merge.
    void SetTicks(const std::vector<double>& fractions);
    // The x of each drawn mark, ascending, at least kTickGap apart.
    static constexpr int kTickGap = 2;
    const std::vector<int>& TickPixels() const { return m_tickPixels; }

    // Stored spans of the cut, each a [start, end] range of positions, drawn
    // from the active channel over the normal one. Empty: markers only.
    void SetSpans(const std::vector<std::pair<int, int>>& spans);
    // The x range each span is drawn over, in the order given (beyond the
    // channel's ends when it lies outside the part shown).
    std::vector<std::pair<int, int>> SpanPixels() const;
    // The chosen span (an index into the spans, -1 none) is drawn framed.
    void SetChosenSpan(int span);
    int ChosenSpan() const { return m_chosenSpan; }
    // The stored spans mark what goes: the rest is drawn kept (active
    // channel), the spans in the normal channel under a red veil.
    void SetSpansRemoved(bool removed);
    bool SpansRemoved() const { return m_spansRemoved; }
    // Found cut points (fractions 0..1 of the range), marked in red beside
    // the key-picture ticks.
    void SetFoundMarks(const std::vector<double>& fractions);
    const std::vector<int>& FoundMarkPixels() const { return m_foundPixels; }

    // The control id carried in objectName(), as the dialog templates number them.
    int ControlId() const;

signals:
    // Both are delivered queued, after the event that caused them has finished.
    void sliderMoving(int controlId, int position);  // thumb moved to another pixel while dragging
    void sliderMoved(int controlId, int position);   // button released, or a key was handled
    void viewChanged();  // zoomed or scrolled

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    int Clamped(int value) const;
    void MoveThumbToPixel(int mouseX);
    void PostMoving();
    void PostMoved();
    void PaintChannel(QPainter& painter) const;
    void PaintChannelPiece(QPainter& painter, const QPixmap& bitmap, int fromX, int toX) const;
    void PaintThumb(QPainter& painter) const;
    void PaintTicks(QPainter& painter) const;
    void PaintRemovedSpans(QPainter& painter) const;
    // Tick and found-mark pixels from their fractions, after any change of
    // width or of the part of the range shown.
    void PlaceMarks();
    void SetView(double from, double span);
    double FinestSpan() const;
    // The channel's x range clipped to the pixels the control has.
    int ChannelX(int x) const { return std::max(0, std::min(x, m_width)); }
    void PaintChosenSpan(QPainter& painter) const;

    int m_rangeMax = 100;
    int m_rangeMin = 0;
    int m_position = 0;
    int m_pageStep = 20;
    int m_width = 0;
    int m_height = 0;
    int m_thumbWidth = 0;
    int m_thumbHeight = 0;
    int m_marginLeft = 0;
    int m_marginRight = 0;
    int m_marginTop = 0;
    int m_marginBottom = 0;
    int m_grabOffset = 0;
    int m_startMarker = 0;
    int m_endMarker = 0;
    int m_markerMode = 0;
    bool m_hasActiveChannel = false;
    bool m_hasActiveThumb = false;
    bool m_hasThumb = false;
    bool m_hasChannel = false;
    bool m_dragging = false;
    bool m_hasFocus = false;
    bool m_drawFocusRect = true;
    bool m_enabled = true;

    std::vector<double> m_tickFractions;
    std::vector<int> m_tickPixels;
    std::vector<std::pair<int, int>> m_spans;
    bool m_spansRemoved = false;
    int m_chosenSpan = -1;
    double m_viewFrom = 0;
    double m_viewSpan = 100;
    double m_finestScale = 4;  // pixels per position at the closest zoom
    std::vector<int> m_foundPixels;
    std::vector<double> m_foundFractions;

    // The channel bitmaps as loaded, and stretched to the control's width.
    QPixmap m_channelBitmap;
    QPixmap m_activeChannelBitmap;
    QPixmap m_channel;
    QPixmap m_activeChannel;
    QPixmap m_thumb;          // transparent colour already turned into alpha
    QPixmap m_activeThumb;
};
