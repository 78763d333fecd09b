#pragma once

// Where a page stands on the screen. Called from the user-interface thread
// only.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Centres the page on its screen by its outer size (the frame included once
// the platform has reported it); a page larger than the screen gets a
// negative left or top, its middle still at the screen's middle.
void CenterForm(QWidget& page);
// Where CenterForm puts the outer top-left corner of a page of that outer size.
QPoint CentredTopLeft(const QWidget& page, const QSize& outer);

// A page's outer rectangle, frame and title bar included, as the platform
// knows the frame at this moment. (QWidget::frameGeometry() takes the frame
// over only when the window next moves or is resized, so after a window
// manager has framed a shown window it may still leave the frame out.)
QRect OuterGeometry(const QWidget& page);
// Moves a page so that its outer top-left corner is at `topLeft`.
void MoveOuterTo(QWidget& page, const QPoint& topLeft);
