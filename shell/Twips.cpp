#include "shell/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

double TwipsPerPixel(const QWidget* w)
{
    double dpi = 0;
    if (w) {
        dpi = w->logicalDpiX();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi = screen->logicalDotsPerInchX();
    }
    if (!(dpi > 0))
        dpi = 96;
    return 1440.0 / dpi;
}

int TwipsToPixels(double twips, const QWidget* w)
{
    return qRound(twips / TwipsPerPixel(w));
}

double PixelsToTwips(int pixels, const QWidget* w)
{
    return pixels * TwipsPerPixel(w);
}
