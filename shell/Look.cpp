#include "shell/Look.h"

#include <QIcon>
#include <QPalette>
#include <QWidget>

QPixmap BlankPicture()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    return picture;
}

void ApplyPageLook(QWidget& page)
{
    // Only the window colour: text boxes, lists and the grid keep the
    // system's colours, and buttons whiten their own face.
    QPalette palette = page.palette();
    palette.setColor(QPalette::Window, Qt::white);
    page.setPalette(palette);
    page.setAutoFillBackground(true);

    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    font.setWeight(QFont::Bold);
    page.setFont(font);

    page.setWindowIcon(QIcon(BlankPicture()));
}
