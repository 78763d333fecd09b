#include "pages/GridFilterRow.h"

#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>

GridFilterRow::GridFilterRow(QWidget* parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Filter row"));
    setAutoFillBackground(true);
    hide();
}

QSize GridFilterRow::sizeHint() const
{
    const QLineEdit sample;
    return QSize(width(), sample.sizeHint().height());
}

void GridFilterRow::setColumns(QHeaderView* header, const QStringList& names)
{
    header_ = header;
    for (QLineEdit* box : boxes_)
        delete box;
    boxes_.clear();
    for (int c = 0; c < names.size(); ++c) {
        auto* box = new QLineEdit(this);
        box->setAccessibleName(QStringLiteral("Filter %1").arg(names[c]));
        box->setPlaceholderText(QStringLiteral("Filter"));
        box->setClearButtonEnabled(false);
        box->installEventFilter(this);
        connect(box, &QLineEdit::textEdited, this, &GridFilterRow::changed);
        boxes_.push_back(box);
    }
    // Keyboard order follows the columns on the screen.
    followHeader();
}

void GridFilterRow::followHeader()
{
    if (!header_)
        return;
    const int height = sizeHint().height();
    QLineEdit* previous = nullptr;
    for (int visual = 0; visual < header_->count(); ++visual) {
        const int c = header_->logicalIndex(visual);
        if (c < 0 || c >= static_cast<int>(boxes_.size()))
            continue;
        QLineEdit* box = boxes_[static_cast<std::size_t>(c)];
        const bool kept = frozen_ && c < frozen_->count() && !frozen_->isSectionHidden(c);
        const int x = kept ? frozen_->sectionViewportPosition(c) : header_->sectionViewportPosition(c);
        box->setVisible(!header_->isSectionHidden(c) && (kept || !frozen_ || x >= frozenWidth_));
        box->setGeometry(x, 0, header_->sectionSize(c), height);
        if (kept)
            box->raise();
        if (previous)
            setTabOrder(previous, box);
        previous = box;
    }
}

void GridFilterRow::setFrozen(QHeaderView* frozen, int width)
{
    frozen_ = frozen;
    frozenWidth_ = width;
}

QString GridFilterRow::text(int column) const
{
    return column >= 0 && column < static_cast<int>(boxes_.size()) ? boxes_[static_cast<std::size_t>(column)]->text()
                                                                      : QString();
}

QStringList GridFilterRow::texts() const
{
    QStringList all;
    for (const QLineEdit* box : boxes_)
        all << box->text();
    return all;
}

void GridFilterRow::setTexts(const QStringList& texts)
{
    for (std::size_t c = 0; c < boxes_.size(); ++c)
        boxes_[c]->setText(static_cast<qsizetype>(c) < texts.size() ? texts[static_cast<qsizetype>(c)] : QString());
}

void GridFilterRow::clear()
{
    for (std::size_t c = 0; c < boxes_.size(); ++c) {
        boxes_[c]->clear();
        setProblem(static_cast<int>(c), {});
    }
}

void GridFilterRow::setProblem(int column, const QString& problem)
{
    QLineEdit* box = this->box(column);
    if (!box)
        return;
    QPalette palette = this->palette();
    if (!problem.isEmpty()) {
        palette.setColor(QPalette::Base, QColor(0xFF, 0xD0, 0xD0));
        palette.setColor(QPalette::Text, QColor(0x80, 0x00, 0x00));
    }
    box->setPalette(palette);
    box->setToolTip(problem);
    box->setAccessibleDescription(problem);
}

QLineEdit* GridFilterRow::box(int column) const
{
    return column >= 0 && column < static_cast<int>(boxes_.size()) ? boxes_[static_cast<std::size_t>(column)] : nullptr;
}

void GridFilterRow::focusColumn(int column)
{
    QLineEdit* target = box(column);
    if (!target && !boxes_.empty())
        target = boxes_.front();
    if (target)
        target->setFocus(Qt::ShortcutFocusReason);
}

bool GridFilterRow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            clear();
            emit changed();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
