#pragma once

// The look every page shares. Called from the user-interface thread only.

#include <QPixmap>

class QWidget;

// The blank (fully transparent) 32x32 image used as window icon and button picture.
QPixmap BlankPicture();

// Applies the shared look to a page: white background, Arial 9 pt bold,
// blank window icon.
void ApplyPageLook(QWidget& page);
