#include "pages/KeyLookupEdit.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStandardItemModel>

#include <algorithm>
#include <limits>

namespace {
constexpr int kKeyRole = Qt::UserRole + 1;
}

KeyLookupEdit::KeyLookupEdit(QWidget* parent, KeyLookup* lookup) : QLineEdit(parent), lookup_(lookup)
{
    setMaxLength(std::numeric_limits<int>::max());
    list_ = new QStandardItemModel(this);
    completer_ = new QCompleter(list_, this);
    // The list is what the database found: shown whole, never filtered again here.
    completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    completer_->setCompletionRole(kKeyRole);
    completer_->setWidget(this);
    completer_->popup()->setAccessibleName(QStringLiteral("Keys found"));
    connect(completer_, qOverload<const QModelIndex&>(&QCompleter::activated), this, [this](const QModelIndex& index) {
        setText(index.data(kKeyRole).toString());
    });
    connect(this, &QLineEdit::textEdited, this, [this] { showMatches(); });
    if (lookup_) {
        connect(lookup_, &KeyLookup::found, this,
                [this](const QString& prefix, const KeyLookup::Matches& matches, bool) { take(prefix, matches); });
        // A lookup that failed says why in the list's place; the box still takes any text.
        connect(lookup_, &KeyLookup::failed, this, [this](const QString& prefix, const QString& reason) {
            if (prefix != text() || !wanted_)
                return;
            list_->clear();
            auto* item = new QStandardItem(QStringLiteral("The keys could not be looked up: %1").arg(reason));
            item->setEnabled(false);
            list_->appendRow(item);
            completer_->setCompletionPrefix(QString());
            popUp();
        });
    }
}

void KeyLookupEdit::showMatches()
{
    wanted_ = true;
    if (lookup_)
        lookup_->find(text());
}

QStringList KeyLookupEdit::offered() const
{
    QStringList lines;
    for (int r = 0; r < list_->rowCount(); ++r)
        lines << list_->item(r)->text();
    return lines;
}

void KeyLookupEdit::take(const QString& prefix, const KeyLookup::Matches& matches)
{
    // Matches for a text typed over since are of no use.
    if (prefix != text() || !wanted_)
        return;
    list_->clear();
    for (const KeyLookup::Match& m : matches) {
        auto* item = new QStandardItem(m.label.isEmpty() ? m.key : m.key + QStringLiteral(" \u2014 ") + m.label);
        item->setData(m.key, kKeyRole);
        item->setEditable(false);
        list_->appendRow(item);
    }
    if (matches.empty()) {
        completer_->popup()->hide();
    } else {
        completer_->setCompletionPrefix(QString());
        popUp();
    }
    emit matchesShown();
}

// The list as wide as its lines, though the cell may be narrow.
void KeyLookupEdit::popUp()
{
    QAbstractItemView* list = completer_->popup();
    const int wide = list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() + 2 * list->frameWidth() + 4;
    completer_->complete(QRect(0, 0, std::max(width(), wide), height()));
}

void KeyLookupEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Down && event->modifiers() == Qt::AltModifier) {
        showMatches();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
