#pragma once

// A one-line box for a foreign key: what is typed is kept exactly, and a
// list under it offers the referenced table's keys that begin with it (or
// whose readable column does), "key — text", looked up as the user types
// without ever waiting for the database (see KeyLookup). Choosing one puts
// its key into the box. Alt+Down shows the list.

#include "oracle/KeyLookup.h"

#include <QLineEdit>

class QCompleter;
class QStandardItemModel;

class KeyLookupEdit : public QLineEdit {
    Q_OBJECT
public:
    KeyLookupEdit(QWidget* parent, KeyLookup* lookup);

    // Looks up what is in the box now and shows the list when it comes.
    void showMatches();
    // The lines the list offers now (for reading aloud and tests).
    QStringList offered() const;

signals:
    // The list was filled for the text in the box.
    void matchesShown();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void take(const QString& prefix, const KeyLookup::Matches& matches);
    void popUp();

    KeyLookup* lookup_;
    QCompleter* completer_;
    QStandardItemModel* list_;
    bool wanted_ = false; // the list is to be shown when the matches come
};
