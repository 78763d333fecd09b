#include "oracle/EditHistory.h"

#include <algorithm>
#include <iterator>

// ---- rows ----------------------------------------------------------------------

EditHistory::RowId EditHistory::idOf(std::int64_t row)
{
    const auto it = idOfRow_.find(row);
    if (it != idOfRow_.end())
        return it->second;
    const auto id = static_cast<RowId>(rowOfId_.size());
    rowOfId_.push_back(row);
    idOfRow_.emplace(row, id);
    return id;
}

std::int64_t EditHistory::rowOf(RowId id) const
{
    return id >= 0 && static_cast<std::size_t>(id) < rowOfId_.size() ? rowOfId_[static_cast<std::size_t>(id)] : -1;
}

void EditHistory::placeRow(RowId id, std::int64_t row)
{
    if (id < 0 || static_cast<std::size_t>(id) >= rowOfId_.size())
        return;
    // Whatever id stood for that row before stands for none now.
    if (const auto it = idOfRow_.find(row); it != idOfRow_.end())
        rowOfId_[static_cast<std::size_t>(it->second)] = -1;
    if (const std::int64_t old = rowOfId_[static_cast<std::size_t>(id)]; old >= 0)
        idOfRow_.erase(old);
    rowOfId_[static_cast<std::size_t>(id)] = row;
    idOfRow_[row] = id;
}

void EditHistory::rowRemoved(std::int64_t row)
{
    if (typingRow_ == row)
        endTyping();
    else if (typingRow_ > row)
        --typingRow_;
    if (idOfRow_.empty())
        return;
    idOfRow_.clear();
    for (std::size_t id = 0; id < rowOfId_.size(); ++id) {
        std::int64_t& r = rowOfId_[id];
        if (r == row)
            r = -1;
        else if (r > row)
            --r;
        if (r >= 0)
            idOfRow_.emplace(r, static_cast<RowId>(id));
    }
}

void EditHistory::detachRows()
{
    std::fill(rowOfId_.begin(), rowOfId_.end(), -1);
    idOfRow_.clear();
}

// ---- recording ---------------------------------------------------------------------

void EditHistory::beginGroup(Action action)
{
    group_ = Step{action, {}};
}

void EditHistory::endGroup()
{
    if (!group_)
        return;
    Step step = std::move(*group_);
    group_.reset();
    if (!step.changes.empty())
        push(std::move(step));
}

void EditHistory::push(Step step)
{
    clearRedo();
    if (group_) {
        std::move(step.changes.begin(), step.changes.end(), std::back_inserter(group_->changes));
        return;
    }
    undo_.push_back(std::move(step));
    while (undo_.size() > kMaxSteps)
        undo_.pop_front();
}

void EditHistory::clearRedo()
{
    redo_.clear();
    typingRedo_.clear();
}

void EditHistory::recordUpdate(std::int64_t row, std::vector<int> columns, std::vector<Value> before,
                               std::vector<Value> after, std::vector<Value> stored, std::int64_t seenAt)
{
    RowChange change{RowChange::Kind::Update, idOf(row), std::move(columns), std::move(before),
                     std::move(after),        std::move(stored), seenAt};
    endTyping();
    push(Step{Action::Edit, {std::move(change)}});
}

void EditHistory::recordInsert(std::int64_t row, std::vector<Value> values)
{
    RowChange change{RowChange::Kind::Insert, idOf(row), {}, {}, std::move(values), {}, -1};
    endTyping();
    push(Step{Action::Edit, {std::move(change)}});
}

void EditHistory::recordDeletes(const std::vector<std::pair<std::int64_t, std::vector<Value>>>& rows)
{
    Step step{Action::Deletion, {}};
    for (const auto& [row, values] : rows) {
        step.changes.push_back(RowChange{RowChange::Kind::Delete, idOf(row), {}, values, {}, {}, -1});
        rowRemoved(row);
    }
    if (!step.changes.empty())
        push(std::move(step));
}

// ---- typing ------------------------------------------------------------------------

void EditHistory::recordTyping(std::int64_t row, Typed previous)
{
    if (row != typingRow_) {
        typingUndo_.clear();
        typingRow_ = row;
    }
    typingUndo_.push_back(std::move(previous));
    clearRedo();
}

void EditHistory::endTyping()
{
    typingRow_ = -1;
    typingUndo_.clear();
    typingRedo_.clear();
}

EditHistory::Typed EditHistory::undoTyping(Typed now)
{
    Typed previous = std::move(typingUndo_.back());
    typingUndo_.pop_back();
    typingRedo_.push_back(std::move(now));
    return previous;
}

EditHistory::Typed EditHistory::redoTyping(Typed now)
{
    Typed next = std::move(typingRedo_.back());
    typingRedo_.pop_back();
    typingUndo_.push_back(std::move(now));
    return next;
}

// ---- undo and redo ---------------------------------------------------------------------

void EditHistory::undone(std::size_t count)
{
    if (undo_.empty() || count == 0)
        return;
    Step& step = undo_.back();
    count = std::min(count, step.changes.size());
    const auto first = step.changes.end() - static_cast<std::ptrdiff_t>(count);
    Step back{step.action, {std::make_move_iterator(first), std::make_move_iterator(step.changes.end())}};
    step.changes.erase(first, step.changes.end());
    if (step.changes.empty())
        undo_.pop_back();
    redo_.push_back(std::move(back));
}

void EditHistory::redone(std::size_t count)
{
    if (redo_.empty() || count == 0)
        return;
    Step& step = redo_.back();
    count = std::min(count, step.changes.size());
    const auto last = step.changes.begin() + static_cast<std::ptrdiff_t>(count);
    Step again{step.action, {std::make_move_iterator(step.changes.begin()), std::make_move_iterator(last)}};
    step.changes.erase(step.changes.begin(), last);
    if (step.changes.empty())
        redo_.pop_back();
    // Done again, it is undone like any step, without clearing what else can be redone.
    undo_.push_back(std::move(again));
    while (undo_.size() > kMaxSteps)
        undo_.pop_front();
}

void EditHistory::clear()
{
    undo_.clear();
    redo_.clear();
    group_.reset();
    rowOfId_.clear();
    idOfRow_.clear();
    endTyping();
}
