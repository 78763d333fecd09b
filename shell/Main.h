#pragma once

// Window and file routines shared by all pages.

#include <QCursor>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;
class Page;

// Twips <-> pixels with the screen's logical DPI (15 twips a pixel at 96 dpi).
double TwipsPerPixel(const QWidget* w = nullptr);
int TwipsToPixels(double twips, const QWidget* w = nullptr);
double PixelsToTwips(int pixels, const QWidget* w = nullptr);

// Centres the page on its screen by its outer size; a page larger than the
// screen gets a negative left or top.
void CenterForm(QWidget& page);

// True when the file's time of last change can be read; never throws.
bool FileExists(const QString& path);

// Reads a Windows .cur file (hotspot from its header); nothing when the file
// cannot be read as a pointer image.
std::optional<QCursor> LoadCursorFile(const QString& path);

// The page's MouseIcon from HAND-M.CUR beside the program, if that exists.
void LoadHandPointer(Page& page);

// One start in a hundred opens the home page in the browser. Draw and launch
// can be replaced for tests; failures are ignored.
extern const char* const kHomePageAddress;
void SetHomePageHooks(std::function<double()> draw, std::function<void(const QUrl&)> launch);
void MaybeShowHomePage();

// The blank (fully transparent) 32x32 image used as window icon and button picture.
QPixmap BlankPicture();

// Applies the shared look to a page: white background, Arial 9 pt bold,
// blank window icon.
void ApplyPageLook(QWidget& page);
