#pragma once

// The database routines the pages call.

#include "oracle/Connection.h"

#include <QString>

class TableListTarget;

// Opens a new connection from the login fields as the connection page shows
// them now: a new Connection, its cursor location set (an opener that goes
// on to read rowsets passes adUseClient), then Open with the connection
// string built from the fields, empty user id and password, options -1.
// Failures pass to the caller as DbError.
ConnectionPtr OpenLoginConnection(int cursorLocation = 0);

// True when the login fields as the connection page shows them now open a
// connection. Never throws, shows nothing, leaves nothing open. With a reason,
// the engine's message is written there on failure (for a details pane).
bool TryConnect();
bool TryConnect(QString* reason);

// The list control FillTableList fills: clear, then append one name at a time.
class TableListTarget {
public:
    virtual ~TableListTarget() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const QString& name) = 0;
};

// Fills the target with the tables the logged-in user owns, in the order the
// database delivers them, yielding to the event loop once before each name.
// Opens and closes a connection of its own; failures pass to the caller as
// DbError, and the target is cleared only after the query has returned.
void FillTableList(TableListTarget& list);
