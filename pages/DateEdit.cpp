#include "pages/DateEdit.h"

#include <QAction>
#include <QCalendarWidget>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

const QRegularExpression& isoDateStart()
{
    static const QRegularExpression re(QStringLiteral("^(\\d{4,})-(\\d\\d)-(\\d\\d)"));
    return re;
}

// The pop-up frame: Esc closes it as it closes a menu.
class CalendarPopup : public QFrame {
public:
    explicit CalendarPopup(QWidget* anchor) : QFrame(anchor, Qt::Popup)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setFrameShape(QFrame::StyledPanel);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape) {
            close();
            return;
        }
        QFrame::keyPressEvent(event);
    }
};

} // namespace

DateEdit::DateEdit(QWidget* parent, bool withDate, bool withTime)
    : QLineEdit(parent), withDate_(withDate), withTime_(withTime)
{
    // A value may be as long as any text: the box never cuts one.
    setMaxLength(std::numeric_limits<int>::max());
    if (withDate_) {
        QAction* calendar = addAction(CalendarIcon(), QLineEdit::TrailingPosition);
        calendar->setText(QStringLiteral("Choose a Date (Alt+Down)"));
        calendar->setToolTip(calendar->text());
        connect(calendar, &QAction::triggered, this, &DateEdit::openCalendar);
    }
}

QDate DateEdit::DateOf(const QString& text)
{
    const QRegularExpressionMatch m = isoDateStart().match(text);
    if (!m.hasMatch())
        return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

QString DateEdit::WithDate(const QString& text, QDate day, bool withTime)
{
    const QString date = day.toString(QStringLiteral("yyyy-MM-dd"));
    const QRegularExpressionMatch m = isoDateStart().match(text);
    if (m.hasMatch())
        return date + text.mid(m.capturedLength()); // the time, its fraction and zone as they were
    return withTime ? date + QStringLiteral(" 00:00:00") : date;
}

void DateEdit::openCalendar()
{
    if (!withDate_ || isReadOnly())
        return;
    const QDate shown = DateOf(text());
    ShowCalendar(this, shown.isValid() ? shown : QDate::currentDate(), [this](QDate day) {
        setText(WithDate(text(), day, withTime_));
        setFocus();
    });
}

void DateEdit::ShowCalendar(QWidget* anchor, QDate day, std::function<void(QDate)> chosen)
{
    auto* popup = new CalendarPopup(anchor);
    auto* layout = new QVBoxLayout(popup);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* calendar = new QCalendarWidget(popup);
    calendar->setAccessibleName(QStringLiteral("Calendar"));
    calendar->setGridVisible(true);
    calendar->setSelectedDate(day);
    layout->addWidget(calendar);
    const auto pick = [popup, chosen = std::move(chosen)](QDate d) {
        popup->close();
        chosen(d);
    };
    QObject::connect(calendar, &QCalendarWidget::clicked, popup, pick);
    QObject::connect(calendar, &QCalendarWidget::activated, popup, pick);
    popup->adjustSize();
    // Below the anchor, or above it where the screen ends.
    QPoint at = anchor->mapToGlobal(QPoint(0, anchor->height()));
    if (const QScreen* screen = anchor->screen()) {
        const QRect room = screen->availableGeometry();
        if (at.y() + popup->height() > room.bottom())
            at.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - popup->height());
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - popup->width())));
    }
    popup->move(at);
    popup->show();
    calendar->setFocus();
}

QIcon DateEdit::CalendarIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(Qt::white);
    p.drawRect(1, 2, 13, 12);
    p.fillRect(2, 3, 12, 3, QColor(0xC0, 0x30, 0x30));
    for (int y = 8; y <= 12; y += 3)
        for (int x = 3; x <= 11; x += 3)
            p.fillRect(x, y, 2, 2, QColor(0x40, 0x40, 0x40));
    return QIcon(pixmap);
}

void DateEdit::keyPressEvent(QKeyEvent* event)
{
    if (withDate_ && event->key() == Qt::Key_Down && event->modifiers() == Qt::AltModifier) {
        openCalendar();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
