// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Dialogs laid out from a table of controls in dialog units, as the
// templates give them. One dialog unit is a quarter of the dialog font's
// average character width across and an eighth of its line height down.

#include <QFont>
#include <QKeyEvent>
#include <QRect>
#include <QString>
#include <QWidget>

namespace dialogs {

// A template control: its id, where it sits (dialog units) and whether the
// template shows it at first.
struct ControlPlace {
    int id;
    int x, y, w, h;
    bool visible = true;
};

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }
    int ToPixelsX(int dlu) const;
    int ToPixelsY(int dlu) const;
    QRect ToPixels(int x, int y, int w, int h) const;
    QRect ToPixels(const ControlPlace& place) const { return ToPixels(place.x, place.y, place.w, place.h); }

private:
    int m_baseX;
    int m_baseY;
};

// The dialog font of a template: the system sans face at the template's size.
QFont DialogFont(int pointSize);

// The height of one line of text in `font` when part of it falls back to a
// CJK face, which is taller than the Latin face the dialog units come from.
int MixedLineHeight(const QFont& font);

// Makes a one-line caption at least that tall, so no language loses the
// bottom of its letters.
void FitLineHeight(QWidget* caption);

// `path` + `tail` in `width` pixels: when it does not fit, the folder gives
// way in its middle so the file's name and the tail stay whole.
QString ElidedPathLine(const QFontMetrics& metrics, int width, const QString& path, const QString& tail = {});

// Escape, Return and Enter, with which a QDialog closes itself, taken and
// dropped: true when `event` was one of them.
bool TakeClosingKey(QKeyEvent* event);

// Gives `control` its id (as objectName), template geometry and visibility.
void PlaceControl(QWidget* control, const ControlPlace& place, const DialogUnits& units);

// The direct child carrying `id`, or null (a child dialog has ids of its own).
template <class T = QWidget>
T* FindControl(const QWidget* dialog, int id)
{
    return dialog->findChild<T*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

}  // namespace dialogs
