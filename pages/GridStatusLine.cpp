#include "pages/GridStatusLine.h"

#include "pages/GridAccessibility.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

GridStatusLine::GridStatusLine(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    // Neither the label nor the line has a fixed name: a screen reader reads
    // what the line shows (see refresh).
    text_ = new QLabel(this);
    text_->setTextFormat(Qt::PlainText);
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
    reading_ = true;
    stop_->show();
    refresh();
}

void GridStatusLine::showDone(qint64 rows)
{
    // A read the line was counting says that it is complete, for a while;
    // one that ended before the table showed has nothing to say.
    const bool counted = reading_;
    state_.clear();
    filtered_.clear();
    note_.clear();
    noteTimer_.stop();
    reading_ = false;
    if (counted) {
        note_ = QStringLiteral("All rows read: %1.").arg(number(rows));
        noteTimer_.start();
    }
    refresh(counted);
}

namespace {

// 256 KB, 512 MB, 1.5 GB: in units of 1,024, a decimal only where one is needed.
QString bytesText(std::size_t bytes)
{
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const bool whole = value == static_cast<double>(static_cast<long long>(value));
    return QStringLiteral("%1 %2").arg(QLocale().toString(value, 'f', whole ? 0 : 1), QLatin1String(units[unit]));
}

} // namespace

void GridStatusLine::showStopped(qint64 rows, bool outOfMemory, std::optional<std::size_t> budget,
                                 std::optional<qint64> mostRows)
{
    note_.clear();
    noteTimer_.stop();
    if (mostRows)
        state_ = QStringLiteral("%1 rows shown; reading stopped: the grid holds at most %2 rows.")
                     .arg(number(rows), number(*mostRows));
    else if (budget)
        state_ = QStringLiteral("%1 rows shown; reading stopped: the table needs more than the %2 of memory allowed "
                                "(DERVANTA_MEMORY_BUDGET).")
                     .arg(number(rows), bytesText(*budget));
    else
        state_ = outOfMemory ? QStringLiteral("%1 rows shown; reading stopped because memory ran out.").arg(number(rows))
                             : QStringLiteral("%1 rows shown; reading was stopped.").arg(number(rows));
    reading_ = false;
    stop_->hide();
    refresh(true);
}

void GridStatusLine::showInDatabase(qint64 rows, bool counting, std::size_t budget, bool filtered, qint64 mostRows,
                                    bool overRows)
{
    // The count first: the line is often narrower than what it says.
    const bool changed = !state_.contains(QStringLiteral("kept in the database"));
    if (counting)
        state_ = QStringLiteral("Counting rows\u2026 %1").arg(number(rows));
    else
        state_ = filtered ? QStringLiteral("%1 rows match the filter").arg(number(rows))
                          : QStringLiteral("%1 rows").arg(number(rows));
    if (overRows)
        state_ += QStringLiteral(", kept in the database: the table has more rows than the grid holds (%1); sorted "
                                 "and filtered by the database.")
                      .arg(number(mostRows));
    else
        state_ += QStringLiteral(", kept in the database: the table needs more than the %1 of memory allowed "
                                 "(DERVANTA_MEMORY_BUDGET); sorted and filtered by the database.")
                      .arg(bytesText(budget));
    reading_ = false;
    stop_->hide();
    // Told to a screen reader once, not at every count.
    refresh(changed);
}

void GridStatusLine::showFailed(qint64 rows)
{
    note_.clear();
    state_ = QStringLiteral("%1 rows shown; reading failed.").arg(number(rows));
    reading_ = false;
    stop_->hide();
    refresh(true);
}

void GridStatusLine::showFiltered(std::optional<std::pair<qint64, qint64>> shownOfTotal)
{
    filtered_ = shownOfTotal ? QStringLiteral("%1 of %2 rows").arg(number(shownOfTotal->first), number(shownOfTotal->second))
                             : QString();
    refresh(shownOfTotal.has_value());
}

void GridStatusLine::showBusy(const QString& what)
{
    busy_ = what;
    refresh(true);
}

void GridStatusLine::endBusy()
{
    if (busy_.isEmpty())
        return;
    busy_.clear();
    refresh();
}

void GridStatusLine::showNote(const QString& note)
{
    note_ = note;
    noteTimer_.start();
    refresh(true);
}

void GridStatusLine::clear()
{
    state_.clear();
    busy_.clear();
    filtered_.clear();
    selection_.clear();
    note_.clear();
    noteTimer_.stop();
    reading_ = false;
    refresh();
}

void GridStatusLine::showSelection(const QString& summary)
{
    if (summary == selection_)
        return;
    selection_ = summary;
    refresh();
}

QString GridStatusLine::text() const { return text_->text(); }

void GridStatusLine::refresh(bool announce)
{
    QString shown = busy_.isEmpty() ? state_ : busy_;
    // While the rows are reordered what the selection holds waits.
    for (const QString& part : {filtered_, busy_.isEmpty() ? selection_ : QString(), note_})
        if (!part.isEmpty())
            shown += (shown.isEmpty() ? QString() : QStringLiteral("   ")) + part;
    if (announce)
        SetTextAndAnnounce(text_, shown);
    else
        text_->setText(shown);
    // The line, a status bar to a screen reader, is named by what it says too.
    setAccessibleName(shown);
    // Whole in its tool tip when the line is too narrow for it.
    text_->setToolTip(shown);
    // Stop is for a read in progress or for the long work said now.
    stop_->setVisible(reading_ || !busy_.isEmpty());
    setShown(!shown.isEmpty());
}

void GridStatusLine::setShown(bool shown)
{
    if (shown == !isHidden())
        return;
    setVisible(shown);
    emit shownChanged();
}
