// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bitmaps and icons by their resource number, as the dialogs name them.

#include <QIcon>
#include <QImage>

namespace resources {

// A null image when there is no bitmap of that number.
QImage LoadBitmapResource(int id);

// A null icon when there is no icon of that number.
QIcon LoadIconResource(int id);

}  // namespace resources
