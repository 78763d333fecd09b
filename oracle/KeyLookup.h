#pragma once

// Looks up the keys a foreign key may take, for the drop-down of its cell:
// the referenced table's key with one more readable column (the first text
// column that is not the key), the keys that begin with what is typed
// first, then the rows whose readable column begins with it. Never the
// whole table: every query has a LIMIT, and a whole-number key is found by
// ranges of its index (12 → 12, 120..129, 1200..1299, ...).
//
// The queries run on a thread of its own with a session of its own (its
// connection logs in there, at the first lookup), so typing never waits
// for them. A lookup asked for while one runs replaces any still waiting;
// what is found comes back on the thread that made the object.

#include "oracle/Connection.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class KeyLookup final : public QObject {
    Q_OBJECT
public:
    struct Match {
        QString key;
        QString label; // the readable column's text; empty without one
    };
    using Matches = std::vector<Match>;
    static constexpr int kLimit = 20;

    // `own` is a connection for this lookup alone (Connection::Another).
    KeyLookup(ConnectionPtr own, std::string table, std::string keyColumn, QObject* parent = nullptr);
    ~KeyLookup() override;

    // Looks up the keys beginning with `prefix` (all, from the first, when empty).
    void find(const QString& prefix);

signals:
    // Once with the key's matches (complete false when the readable column
    // is still to be searched), once more with both when it was.
    void found(const QString& prefix, const KeyLookup::Matches& matches, bool complete);
    void failed(const QString& prefix, const QString& reason);

private:
    void run(ConnectionPtr own);

    const std::string table_;
    const std::string key_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<QString> wanted_; // the newest lookup asked for, not started yet
    bool stopping_ = false;
    std::thread worker_; // last: started once the rest is in place
};
