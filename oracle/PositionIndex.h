#pragma once

// The position pass of a table kept in the database: on a worker with a
// session of its own, reads every row's order values (only those, in the
// order, as the database sorts them), counts the rows and keeps the place of
// the first row of every block of kBlockRows rows. A row's block and its
// place from the block's start then give its position, and a block is read
// by seeking to its place (KeyOrder::rowsFrom), never by skipping rows.
//
// The worker hands over what it found about every 100 ms (the first block's
// place at once); take() on the user-interface thread moves it here. Only
// the hand-over is shared between the threads. arrived() is emitted on the
// user-interface thread when there is something to take.

#include "oracle/DbError.h"
#include "oracle/Engine.h"
#include "oracle/KeyOrder.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PositionIndex : public QObject {
    Q_OBJECT
public:
    static constexpr std::int64_t kBlockRows = 1024;
    using Place = std::vector<Value>;

    // Starts the pass: `places` is the order's placesQuery().
    PositionIndex(std::shared_ptr<Session> session, KeyOrder::Statement places);
    ~PositionIndex() override;

    // Moves what the worker found since the last call; true when something came.
    bool take();
    // The place of each block's first row, in order.
    const std::vector<Place>& blockStarts() const { return starts_; }
    // Rows counted so far; the table's rows once ended() without failure.
    std::int64_t rowsCounted() const { return counted_; }
    bool ended() const { return ended_; }
    bool stopped() const { return stopped_; }
    const std::optional<DbError>& failure() const { return failure_; }

    // Asks the pass to stop after the row it is on.
    void stop();
    // The session, once ended.
    std::shared_ptr<Session> takeSession() { return std::move(session_); }
    // Waits (the window keeps painting, input is held) until the pass has ended.
    void waitForEnd();

    struct Shared; // defined in the source file

signals:
    void arrived();

private:
    std::shared_ptr<Shared> shared_;
    std::vector<Place> starts_;
    std::int64_t counted_ = 0;
    bool ended_ = false;
    bool stopped_ = false;
    std::optional<DbError> failure_;
    std::shared_ptr<Session> session_;
};
