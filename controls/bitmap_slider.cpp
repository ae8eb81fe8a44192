// SPDX-License-Identifier: GPL-3.0-or-later
#include "bitmap_slider.h"

#include "resource_loader.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The colour of the top-left pixel becomes transparent. Done once per bitmap.
QPixmap WithTopLeftColourTransparent(const QImage& image)
{
    QImage masked = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb transparent = masked.pixel(0, 0);
    for (int y = 0; y < masked.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x)
            if (line[x] == transparent)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return QPixmap::fromImage(masked);
}

// `bitmap` at `width`: both ends as drawn, the middle stretched between them.
QPixmap StretchedChannel(const QPixmap& bitmap, int width)
{
    if (bitmap.isNull() || width == bitmap.width() || width <= 0)
        return bitmap;
    const int end = std::min(16, std::min(width, bitmap.width()) / 2);
    QPixmap stretched(width, bitmap.height());
    stretched.fill(Qt::transparent);
    QPainter painter(&stretched);
    painter.drawPixmap(0, 0, bitmap, 0, 0, end, bitmap.height());
    painter.drawPixmap(QRect(end, 0, width - 2 * end, bitmap.height()), bitmap,
                       QRect(end, 0, bitmap.width() - 2 * end, bitmap.height()));
    painter.drawPixmap(width - end, 0, bitmap, bitmap.width() - end, 0, end, bitmap.height());
    return stretched;
}

}  // namespace

CBitmapSlider::CBitmapSlider(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    // Every frame is painted in full; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CBitmapSlider::ControlId() const
{
    return objectName().toInt();
}

bool CBitmapSlider::SetBitmapChannel(int channelId, int activeChannelId)
{
    m_channel = m_channelBitmap = QPixmap();
    m_activeChannel = m_activeChannelBitmap = QPixmap();
    m_hasChannel = m_hasActiveChannel = false;
    const QImage channel = resources::LoadBitmapResource(channelId);
    if (channel.isNull())
        return false;
    const QImage active = resources::LoadBitmapResource(activeChannelId);
    if (active.isNull())
        return false;
    m_channel = m_channelBitmap = QPixmap::fromImage(channel);
    m_activeChannel = m_activeChannelBitmap = QPixmap::fromImage(active);
    m_hasActiveChannel = true;
    m_width = channel.width();
    m_height = channel.height();
    resize(m_width, m_height);
    m_hasChannel = true;
    return true;
}

bool CBitmapSlider::SetBitmapThumb(int thumbId, int activeThumbId)
{
    m_thumb = QPixmap();
    m_activeThumb = QPixmap();
    m_hasThumb = m_hasActiveThumb = false;
    const QImage thumb = resources::LoadBitmapResource(thumbId);
    if (thumb.isNull())
        return false;
    const QImage active = resources::LoadBitmapResource(activeThumbId);
    if (active.isNull())
        return false;
    m_thumb = WithTopLeftColourTransparent(thumb);
    m_activeThumb = WithTopLeftColourTransparent(active);
    m_hasActiveThumb = true;
    m_thumbWidth = thumb.width();
    m_thumbHeight = thumb.height();
    if (!m_hasChannel) {
        m_width = width();
        m_height = height();
    }
    m_hasThumb = true;
    return true;
}

void CBitmapSlider::SetRange(int min, int max)
{
    m_rangeMin = min;
    m_rangeMax = max;
    ZoomToFit();
}

bool CBitmapSlider::Zoomed() const
{
    return m_viewFrom != m_rangeMin || m_viewSpan != double(m_rangeMax) - m_rangeMin;
}

void CBitmapSlider::SetFinestScale(double pixelsPerPosition)
{
    m_finestScale = pixelsPerPosition > 0 ? pixelsPerPosition : 4;
}

double CBitmapSlider::FinestSpan() const
{
    return std::max(1, Travel()) / m_finestScale;
}

// The whole range is held exactly (not as a sum of steps), so that fitting
// maps positions to pixels as an unzoomed slider does.
void CBitmapSlider::SetView(double from, double span)
{
    const double whole = double(m_rangeMax) - m_rangeMin;
    if (span >= whole || whole <= 0) {
        from = m_rangeMin;
        span = whole;
    } else {
        from = std::max(double(m_rangeMin), std::min(from, m_rangeMax - span));
    }
    if (from == m_viewFrom && span == m_viewSpan)
        return;
    m_viewFrom = from;
    m_viewSpan = span;
    PlaceMarks();
    emit viewChanged();
}

void CBitmapSlider::ZoomToFit()
{
    SetView(m_rangeMin, double(m_rangeMax) - m_rangeMin);
}

void CBitmapSlider::ZoomBy(double factor)
{
    if (factor <= 0)
        return;
    const double whole = double(m_rangeMax) - m_rangeMin;
    const double span = std::max(std::min(FinestSpan(), whole), std::min(m_viewSpan / factor, whole));
    double share = m_viewSpan > 0 ? (m_position - m_viewFrom) / m_viewSpan : 0.5;
    if (share < 0 || share > 1)
        share = 0.5;
    SetView(m_position - share * span, span);
}

void CBitmapSlider::ScrollTo(double from)
{
    SetView(from, m_viewSpan);
}

void CBitmapSlider::SetMargin(int left, int top, int right, int bottom)
{
    m_marginLeft = left;
    m_marginTop = top;
    m_marginRight = right;
    m_marginBottom = bottom;
}

void CBitmapSlider::DrawFocusRect(bool draw)
{
    m_drawFocusRect = draw;
}

void CBitmapSlider::Enable(bool enable)
{
    m_enabled = enable;
    update();
}

int CBitmapSlider::Clamped(int value) const
{
    return std::max(std::min(value, m_rangeMax), m_rangeMin);
}

void CBitmapSlider::SetPos(int position)
{
    m_position = Clamped(position);
    // A thumb moved out of view brings the view along, centred on it.
    if (m_position < m_viewFrom || m_position > m_viewFrom + m_viewSpan)
        ScrollTo(m_position - m_viewSpan / 2);
    update();
}

void CBitmapSlider::SetStartMarker(int position)
{
    m_startMarker = Clamped(position);
    update();
}

void CBitmapSlider::SetEndMarker(int position)
{
    m_endMarker = Clamped(position);
    update();
}

// An empty range would divide by zero: every position then sits at the start.
int CBitmapSlider::PixelOfPosition(int position) const
{
    const double offset = m_viewSpan <= 0 ? 0.0 : double(Travel()) * (position - m_viewFrom) / m_viewSpan;
    // Far outside the view a pixel only needs to lie beyond the channel.
    const double limited = std::max(-1e6, std::min(offset, 1e6));
    return m_marginLeft + static_cast<int>(std::trunc(limited)) + m_thumbWidth / 2;
}

int CBitmapSlider::PositionOfPixel(int x) const
{
    const int travel = Travel();
    if (travel <= 0)
        return m_rangeMin;
    const double fraction = double(x - m_thumbWidth / 2 - m_marginLeft) / travel;
    return static_cast<int>(std::trunc(m_viewFrom + fraction * m_viewSpan));
}

void CBitmapSlider::SetTicks(const std::vector<double>& fractions)
{
    m_tickFractions = fractions;
    PlaceMarks();
}

void CBitmapSlider::SetFoundMarks(const std::vector<double>& fractions)
{
    m_foundFractions = fractions;
    PlaceMarks();
}

// Only marks in the part shown are placed. Fit, that part starts at 0.0 and
// spans exactly 1.0, so a mark lands where an unzoomed slider puts it.
void CBitmapSlider::PlaceMarks()
{
    const double whole = double(m_rangeMax) - m_rangeMin;
    const double from = whole > 0 ? (m_viewFrom - m_rangeMin) / whole : 0.0;
    const double span = whole > 0 ? m_viewSpan / whole : 1.0;
    const int travel = Travel();
    const int lowest = m_marginLeft + m_thumbWidth / 2, highest = lowest + travel;
    const auto place = [&](const std::vector<double>& fractions, int gap, std::vector<int>* pixels) {
        std::vector<int> all;
        for (double fraction : fractions) {
            const double clamped = std::max(0.0, std::min(fraction, 1.0));
            const double offset = travel * ((clamped - from) / span);
            if (offset >= -0.5 && offset < travel + 1)
                all.push_back(lowest + static_cast<int>(std::trunc(offset)));
        }
        std::sort(all.begin(), all.end());
        pixels->clear();
        for (int x : all)
            if (x >= lowest && x <= highest && (pixels->empty() || x - pixels->back() >= gap))
                pixels->push_back(x);
    };
    place(m_tickFractions, kTickGap, &m_tickPixels);
    place(m_foundFractions, 1, &m_foundPixels);
    update();
}

void CBitmapSlider::SetSpansRemoved(bool removed)
{
    m_spansRemoved = removed;
    update();
}

void CBitmapSlider::PostMoving()
{
    const int id = ControlId();
    const int position = m_position;
    QMetaObject::invokeMethod(this, [this, id, position] { emit sliderMoving(id, position); },
                              Qt::QueuedConnection);
}

void CBitmapSlider::PostMoved()
{
    const int id = ControlId();
    const int position = m_position;
    QMetaObject::invokeMethod(this, [this, id, position] { emit sliderMoved(id, position); },
                              Qt::QueuedConnection);
}

void CBitmapSlider::mousePressEvent(QMouseEvent* event)
{
    if (!m_enabled || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    const int mouseX = event->position().toPoint().x();
    const int distance = mouseX - PixelOfPosition(m_position);
    // A click off the thumb makes its centre jump under the mouse; a click on
    // it keeps the grip point.
    m_grabOffset = std::abs(distance) > m_thumbWidth / 2 ? 0 : distance;
    MoveThumbToPixel(mouseX);
    update();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && m_enabled)
        MoveThumbToPixel(event->position().toPoint().x());
    QWidget::mouseMoveEvent(event);
}

void CBitmapSlider::MoveThumbToPixel(int mouseX)
{
    const int lowest = m_marginLeft + m_thumbWidth / 2;
    const int highest = m_width - m_marginRight - m_thumbWidth / 2;
    const int wanted = mouseX - m_grabOffset;
    // Dragged past an end of a zoomed view: the view scrolls on by as far.
    if (Zoomed() && (wanted < lowest || wanted > highest) && Travel() > 0) {
        const int beyond = wanted < lowest ? wanted - lowest : wanted - highest;
        ScrollTo(m_viewFrom + beyond * m_viewSpan / Travel());
    }
    const int x = std::max(lowest, std::min(wanted, highest));
    const int position = Clamped(PositionOfPixel(x));
    if (x == PixelOfPosition(m_position) && position == m_position)
        return;
    m_position = position;
    update();
    PostMoving();
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_enabled || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    update();
    PostMoved();
}

void CBitmapSlider::keyPressEvent(QKeyEvent* event)
{
    if (!m_enabled) {
        QWidget::keyPressEvent(event);
        return;
    }
    int target = m_position;
    switch (event->key()) {
    case Qt::Key_PageUp: target = m_position - m_pageStep; break;
    case Qt::Key_PageDown: target = m_position + m_pageStep; break;
    case Qt::Key_End: target = m_rangeMax; break;
    case Qt::Key_Home: target = m_rangeMin; break;
    case Qt::Key_Left:
    case Qt::Key_Up: target = m_position - 1; break;
    case Qt::Key_Right:
    case Qt::Key_Down: target = m_position + 1; break;
    default:
        // Tab, Enter and Escape stay with the dialog.
        QWidget::keyPressEvent(event);
        return;
    }
    SetPos(target);
    PostMoved();
}

void CBitmapSlider::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    m_hasFocus = true;
    update();
}

void CBitmapSlider::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    m_hasFocus = false;
    update();
}

void CBitmapSlider::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!m_hasChannel)
        return;
    m_width = width();
    m_channel = StretchedChannel(m_channelBitmap, m_width);
    m_activeChannel = StretchedChannel(m_activeChannelBitmap, m_width);
    PlaceMarks();
}

// Ctrl and the wheel zoom around the thumb; the wheel alone scrolls a
// zoomed view and leaves an unzoomed one to the window.
void CBitmapSlider::wheelEvent(QWheelEvent* event)
{
    const QPoint angle = event->angleDelta();
    const double notches = (angle.y() != 0 ? angle.y() : angle.x()) / 120.0;
    if (!m_enabled || notches == 0) {
        event->ignore();
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        ZoomBy(std::pow(2.0, notches));
        event->accept();
    } else if (Zoomed()) {
        ScrollTo(m_viewFrom - notches * m_viewSpan / 8);
        event->accept();
    } else {
        event->ignore();
    }
}

void CBitmapSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_hasChannel)
        PaintChannel(painter);
    PaintChosenSpan(painter);
    PaintTicks(painter);
    if (m_hasThumb && m_enabled)
        PaintThumb(painter);
    // A dotted frame of our own: some styles draw theirs only after a Tab.
    if (m_drawFocusRect && m_hasFocus && m_enabled) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CBitmapSlider::PaintChannelPiece(QPainter& painter, const QPixmap& bitmap, int fromX, int toX) const
{
    fromX = ChannelX(fromX);
    toX = ChannelX(toX);
    if (toX > fromX)
        painter.drawPixmap(fromX, 0, bitmap, fromX, 0, toX - fromX, m_height);
}

void CBitmapSlider::SetSpans(const std::vector<std::pair<int, int>>& spans)
{
    m_spans = spans;
    update();
}

void CBitmapSlider::SetChosenSpan(int span)
{
    m_chosenSpan = span;
    update();
}

std::vector<std::pair<int, int>> CBitmapSlider::SpanPixels() const
{
    std::vector<std::pair<int, int>> pixels;
    for (const auto& [start, end] : m_spans)
        pixels.emplace_back(PixelOfPosition(start), PixelOfPosition(end));
    return pixels;
}

// The span between the markers comes from the active channel, the rest from
// the normal one, each piece from the same x range of its bitmap. Stored
// spans go over that; with spans, unmarked time stays in the normal channel.
void CBitmapSlider::PaintChannel(QPainter& painter) const
{
    if (!m_hasActiveChannel || !m_enabled) {
        PaintChannelPiece(painter, m_channel, 0, m_width);
        return;
    }
    if (!m_spans.empty() && m_spansRemoved) {
        PaintRemovedSpans(painter);
        return;
    }
    if (!m_spans.empty()) {
        PaintChannelPiece(painter, m_channel, 0, m_width);
        if (m_markerMode == 2)
            PaintChannelPiece(painter, m_activeChannel, PixelOfPosition(m_startMarker), PixelOfPosition(m_endMarker));
        for (const auto& [from, to] : SpanPixels())
            PaintChannelPiece(painter, m_activeChannel, from, to);
        return;
    }
    const int right = m_width;
    if (m_markerMode == 1 && m_startMarker > 0) {
        const int start = PixelOfPosition(m_startMarker);
        PaintChannelPiece(painter, m_channel, 0, start);
        PaintChannelPiece(painter, m_activeChannel, start, right);
    } else if (m_markerMode == 2) {
        const int start = m_startMarker > 0 ? PixelOfPosition(m_startMarker) : 0;
        const int end = m_endMarker != m_rangeMax ? PixelOfPosition(m_endMarker) : right;
        PaintChannelPiece(painter, m_channel, 0, start);
        PaintChannelPiece(painter, m_channel, end, right);
        PaintChannelPiece(painter, m_activeChannel, start, end);
    } else {
        PaintChannelPiece(painter, m_activeChannel, 0, right);
    }
}

// The channel bitmap leaves its lowest rows blank; the marks stand there,
// below the bar and the thumb, so neither hides them.
// Removing spans: what is kept is the active channel, what goes the normal
// one under a red veil, so the two read apart at a glance.
void CBitmapSlider::PaintRemovedSpans(QPainter& painter) const
{
    PaintChannelPiece(painter, m_activeChannel, 0, m_width);
    const int top = m_marginTop, height = std::max(1, m_height - m_marginTop - m_marginBottom);
    for (const auto& [from, to] : SpanPixels()) {
        PaintChannelPiece(painter, m_channel, from, to);
        const int left = ChannelX(from), right = ChannelX(to);
        if (right >= left && right > 0 && left < m_width)
            painter.fillRect(QRect(left, top, std::max(1, right - left), height), QColor(220, 40, 40, 110));
    }
}

// The chosen span is framed, so it reads apart from the others at any zoom.
void CBitmapSlider::PaintChosenSpan(QPainter& painter) const
{
    if (m_chosenSpan < 0 || m_chosenSpan >= static_cast<int>(m_spans.size()) || !m_enabled)
        return;
    const auto [from, to] = SpanPixels()[m_chosenSpan];
    const int left = std::max(-2, from), right = std::min(m_width + 1, std::max(to, from + 1));
    if (right < 0 || left >= m_width)
        return;
    const int top = std::max(0, m_marginTop - 2), bottom = m_height - std::max(m_marginBottom, 6);
    painter.save();
    painter.setPen(QPen(QColor(230, 120, 0), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(left, top + 1), QPoint(right - 1, bottom)));
    painter.restore();
}

void CBitmapSlider::PaintTicks(QPainter& painter) const
{
    if (!m_foundPixels.empty() && m_enabled) {
        painter.save();
        painter.setPen(QColor(210, 30, 30));
        for (int x : m_foundPixels)
            painter.drawLine(x, m_height - 7, x, m_height - 1);
        painter.restore();
    }
    if (m_tickPixels.empty() || !m_enabled)
        return;
    constexpr int kTickHeight = 4;
    const int top = m_height - kTickHeight - 1;
    painter.save();
    painter.setPen(QColor(64, 64, 64));
    for (int x : m_tickPixels)
        painter.drawLine(x, top, x, top + kTickHeight - 1);
    painter.restore();
}

void CBitmapSlider::PaintThumb(QPainter& painter) const
{
    const QPixmap& thumb = m_dragging && m_hasActiveThumb ? m_activeThumb : m_thumb;
    painter.drawPixmap(PixelOfPosition(m_position) - m_thumbWidth / 2, m_marginTop, thumb);
}
