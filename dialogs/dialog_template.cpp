// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialog_template.h"

#include <QFontMetrics>

#include <algorithm>

namespace dialogs {
namespace {

// Rounds the way the platform's MulDiv does: half away from zero.
int MulDivRounded(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

}  // namespace

// The average width is taken over the 52 Latin letters and rounded, as the
// platform computes a dialog's base units; the height is the font's line height.
DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::ToPixelsX(int dlu) const { return MulDivRounded(dlu, m_baseX, 4); }
int DialogUnits::ToPixelsY(int dlu) const { return MulDivRounded(dlu, m_baseY, 8); }

QRect DialogUnits::ToPixels(int x, int y, int w, int h) const
{
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(w), ToPixelsY(h));
}

QFont DialogFont(int pointSize)
{
    QFont font(QStringLiteral("Sans Serif"), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

int MixedLineHeight(const QFont& font)
{
    return QFontMetrics(font).size(Qt::TextSingleLine, QStringLiteral("Ag_\u5b8c\u4e86")).height();
}

void FitLineHeight(QWidget* caption)
{
    caption->resize(caption->width(), std::max(caption->height(), MixedLineHeight(caption->font())));
}

QString ElidedPathLine(const QFontMetrics& metrics, int width, const QString& path, const QString& tail)
{
    const QString whole = path + tail;
    if (metrics.horizontalAdvance(whole) <= width)
        return whole;
    const int room = width - metrics.horizontalAdvance(tail);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const int nameWidth = metrics.horizontalAdvance(name);
    if (slash >= 0 && nameWidth < room)
        return metrics.elidedText(path.left(slash + 1), Qt::ElideMiddle, room - nameWidth) + name + tail;
    // Even the name alone is too long: the name keeps its start and its end.
    return metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0)) + tail;
}

bool TakeClosingKey(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return true;
    default:
        return false;
    }
}

void PlaceControl(QWidget* control, const ControlPlace& place, const DialogUnits& units)
{
    control->setObjectName(QString::number(place.id));
    control->setGeometry(units.ToPixels(place));
    control->setVisible(place.visible);
}

}  // namespace dialogs
