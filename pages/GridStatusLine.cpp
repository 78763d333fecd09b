#include "pages/GridStatusLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

GridStatusLine::GridStatusLine(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    setAccessibleName(QStringLiteral("Status"));
    text_ = new QLabel(this);
    text_->setTextFormat(Qt::PlainText);
    text_->setAccessibleName(QStringLiteral("Status"));
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setAutoDefault(false);
    stop_->setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 1, 2, 1);
    layout->addWidget(text_, 1);
    layout->addWidget(stop_);
    connect(stop_, &QPushButton::clicked, this, &GridStatusLine::stopRequested);
    noteTimer_.setSingleShot(true);
    noteTimer_.setInterval(4000);
    connect(&noteTimer_, &QTimer::timeout, this, [this] {
        note_.clear();
        refresh();
    });
    hide();
}

QString GridStatusLine::number(qint64 n)
{
    const QLocale locale;
    return (locale.language() == QLocale::C ? QLocale(QLocale::English) : locale).toString(n);
}

void GridStatusLine::showReading(qint64 rows, std::optional<qint64> estimate)
{
    state_ = QStringLiteral("Reading rows\u2026 %1").arg(number(rows));
    if (estimate && *estimate >= rows)
        state_ += QStringLiteral(" of about %1").arg(number(*estimate));
    stop_->show();
    refresh();
}

void GridStatusLine::showStopped(qint64 rows, bool outOfMemory)
{
    note_.clear();
    noteTimer_.stop();
    state_ = outOfMemory ? QStringLiteral("%1 rows shown; reading stopped because memory ran out.").arg(number(rows))
                         : QStringLiteral("%1 rows shown; reading was stopped.").arg(number(rows));
    stop_->hide();
    refresh();
}

void GridStatusLine::showFailed(qint64 rows)
{
    note_.clear();
    state_ = QStringLiteral("%1 rows shown; reading failed.").arg(number(rows));
    stop_->hide();
    refresh();
}

void GridStatusLine::showFiltered(std::optional<std::pair<qint64, qint64>> shownOfTotal)
{
    filtered_ = shownOfTotal ? QStringLiteral("%1 of %2 rows").arg(number(shownOfTotal->first), number(shownOfTotal->second))
                             : QString();
    refresh();
}

void GridStatusLine::showNote(const QString& note)
{
    note_ = note;
    noteTimer_.start();
    refresh();
}

void GridStatusLine::clear()
{
    state_.clear();
    filtered_.clear();
    note_.clear();
    noteTimer_.stop();
    refresh();
}

QString GridStatusLine::text() const { return text_->text(); }

void GridStatusLine::refresh()
{
    QString shown = state_;
    for (const QString& part : {filtered_, note_})
        if (!part.isEmpty())
            shown += (shown.isEmpty() ? QString() : QStringLiteral("   ")) + part;
    text_->setText(shown);
    if (state_.isEmpty())
        stop_->hide();
    setShown(!shown.isEmpty());
}

void GridStatusLine::setShown(bool shown)
{
    if (shown == !isHidden())
        return;
    setVisible(shown);
    emit shownChanged();
}
