#pragma once

// One start in a hundred opens the maker's home page in the browser. Draw
// and launch can be replaced for tests (an empty function restores the
// default); the draw must give a number in [0, 1). Failures are ignored.

#include <QUrl>
#include <functional>

extern const char* const kHomePageAddress;
void SetHomePageHooks(std::function<double()> draw, std::function<void(const QUrl&)> launch);
void MaybeShowHomePage();
// The default draw for a start at the given second of the day.
double HomePageDraw(int secondsSinceMidnight);
