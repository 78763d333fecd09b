#pragma once

// Twips <-> pixels with the screen's logical DPI (15 twips a pixel at 96 dpi):
// every measure of the pages is in twips. Without a widget the primary
// screen is used. Called from the user-interface thread only.

class QWidget;

double TwipsPerPixel(const QWidget* w = nullptr);
int TwipsToPixels(double twips, const QWidget* w = nullptr);
double PixelsToTwips(int pixels, const QWidget* w = nullptr);
