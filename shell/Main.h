#pragma once

// Window and file routines shared by all pages. All of them are called from
// the user-interface thread only.

#include <QByteArray>
#include <QCursor>
#include <QPixmap>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;
class Page;

// Twips <-> pixels with the screen's logical DPI (15 twips a pixel at 96 dpi).
// Without a widget the primary screen is used.
double TwipsPerPixel(const QWidget* w = nullptr);
int TwipsToPixels(double twips, const QWidget* w = nullptr);
double PixelsToTwips(int pixels, const QWidget* w = nullptr);

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

// True when the file's time of last change can be read; false on any error.
// Never throws.
bool FileExists(const QString& path);

// Reads a Windows .cur file (hotspot from its header); nothing when the file
// cannot be read as a pointer image. CursorFromCurData does the same for the
// file's bytes.
std::optional<QCursor> LoadCursorFile(const QString& path);
std::optional<QCursor> CursorFromCurData(const QByteArray& data);

// Where the hand pointer file is looked for: HAND-M.CUR beside the program.
// Tests may point to another folder instead (an empty folder name restores
// the program's own).
QString HandPointerPath();
void SetHandPointerFolder(const QString& folder);

// The page's MouseIcon from HAND-M.CUR beside the program, if that exists and
// reads as a pointer image; otherwise MouseIcon is left as it is.
void LoadHandPointer(Page& page);

// One start in a hundred opens the home page in the browser. Draw and launch
// can be replaced for tests (an empty function restores the default); the
// draw must give a number in [0, 1). Failures are ignored.
extern const char* const kHomePageAddress;
void SetHomePageHooks(std::function<double()> draw, std::function<void(const QUrl&)> launch);
void MaybeShowHomePage();
// The default draw for a start at the given second of the day.
double HomePageDraw(int secondsSinceMidnight);

// The blank (fully transparent) 32x32 image used as window icon and button picture.
QPixmap BlankPicture();

// Applies the shared look to a page: white background, Arial 9 pt bold,
// blank window icon.
void ApplyPageLook(QWidget& page);
