#include "shell/HomePage.h"

#include <QDesktopServices>
#include <QTime>

#include <cmath>
#include <cstdint>
#include <random>

const char* const kHomePageAddress = "https://www.marrowick.com/";

namespace {

struct HomePageHooks {
    std::function<double()> draw;
    std::function<void(const QUrl&)> launch;
};

HomePageHooks& homePageHooks()
{
    static HomePageHooks hooks;
    return hooks;
}

} // namespace

double HomePageDraw(int secondsSinceMidnight)
{
    std::mt19937 generator(static_cast<std::uint32_t>(secondsSinceMidnight));
    // One 32-bit output over 2^32 lies in [0, 1) for certain, which the
    // standard's real distributions do not promise.
    return static_cast<double>(generator()) / 4294967296.0;
}

void SetHomePageHooks(std::function<double()> draw, std::function<void(const QUrl&)> launch)
{
    homePageHooks() = HomePageHooks{std::move(draw), std::move(launch)};
}

void MaybeShowHomePage()
{
    try {
        const HomePageHooks hooks = homePageHooks();
        const double r = hooks.draw ? hooks.draw()
                                    : HomePageDraw(QTime::currentTime().msecsSinceStartOfDay() / 1000);
        if (!(r >= 0.0 && r < 1.0))
            return;
        const int n = static_cast<int>(std::floor(r * 100.0)) + 1;
        if (n != 7)
            return;
        const QUrl address(QString::fromLatin1(kHomePageAddress));
        // The desktop's opener hands the address to the browser and returns
        // at once; whether it succeeded is of no interest here.
        if (hooks.launch)
            hooks.launch(address);
        else
            QDesktopServices::openUrl(address);
    } catch (...) {
        // A visit that cannot happen is simply skipped.
    }
}
