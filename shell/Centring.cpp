#include "shell/Centring.h"

#include "shell/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

QPoint CentredTopLeft(const QWidget& page, const QSize& outer)
{
    const QScreen* screen = page.screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return page.pos();
    // The arithmetic is on twips in single precision, as the pages' own
    // layout code does it; only the final placement is in whole pixels.
    const float tpp = static_cast<float>(TwipsPerPixel(&page));
    const QRect area = screen->geometry();
    const float left = (area.width() * tpp - outer.width() * tpp) / 2.0f;
    const float top = (area.height() * tpp - outer.height() * tpp) / 2.0f;
    return QPoint(area.x() + qRound(left / tpp), area.y() + qRound(top / tpp));
}

QRect OuterGeometry(const QWidget& page)
{
    const QWindow* window = page.isWindow() ? page.windowHandle() : nullptr;
    if (!window || !window->handle())
        return page.frameGeometry();
    return page.geometry().marginsAdded(window->frameMargins());
}

void MoveOuterTo(QWidget& page, const QPoint& topLeft)
{
    // move() places the frame by the widget's own idea of it; where that
    // lags behind the platform's, the difference is made up.
    const QPoint known = page.geometry().topLeft() - page.pos();
    const QPoint actual = page.geometry().topLeft() - OuterGeometry(page).topLeft();
    page.move(topLeft + actual - known);
}

void CenterForm(QWidget& page)
{
    if (!page.screen() && !QGuiApplication::primaryScreen())
        return;
    // Pages are centred by their load steps, before they are first shown;
    // a native window reports its frame as early as the platform knows it.
    if (page.isWindow() && !page.testAttribute(Qt::WA_WState_Created))
        page.winId();
    // The outer rectangle is what is centred.
    MoveOuterTo(page, CentredTopLeft(page, OuterGeometry(page).size()));
}
