#include "oracle/KeyLookup.h"

#include "oracle/DbError.h"
#include "oracle/Dialect.h"
#include "oracle/ExactText.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <set>

namespace {

// The columns of a query, its rows as texts (NULL as empty).
class TextRows final : public RowSink {
public:
    void begin(const std::vector<ColumnInfo>& columns) override { columns_ = columns; }
    void cell(ValueKind, const char* data, std::size_t size) override
    {
        row_.push_back(data ? TextFromBytes(std::string_view(data, size)) : QString());
    }
    void endRow() override { rows.push_back(std::exchange(row_, {})); }

    const std::vector<ColumnInfo>& columns() const { return columns_; }
    std::vector<std::vector<QString>> rows;

private:
    std::vector<ColumnInfo> columns_;
    std::vector<QString> row_;
};

// What the lookups of one table are made of, worked out at the first one.
struct Plan {
    std::string select; // SELECT key, label FROM table
    std::string from;   // the table, quoted
    std::string key;    // quoted
    std::string keyText; // the key as text, for a key that is not a whole number
    std::string label;  // quoted; empty without a readable column
    bool wholeKey = false;
    ColumnInfo keyInfo;
    DialectKind kind = DialectKind::Generic;
    Placeholders placeholders = Placeholders::Question;

    std::string limit(int n) const
    {
        const bool limitWord = kind == DialectKind::PostgreSQL || kind == DialectKind::SQLite;
        return limitWord ? " LIMIT " + std::to_string(n) : " FETCH FIRST " + std::to_string(n) + " ROWS ONLY";
    }
};

Plan makePlan(Session& session, const std::string& table, const std::string& keyName)
{
    const Dialect& dialect = session.dialect();
    TextRows none;
    session.query(dialect.selectNoRows(table), {}, none);
    Plan plan;
    plan.kind = dialect.kind();
    plan.placeholders = session.placeholders();
    const std::vector<ColumnInfo>& columns = none.columns();
    auto key = std::find_if(columns.begin(), columns.end(), [&](const ColumnInfo& c) { return c.name == keyName; });
    if (key == columns.end())
        throw DbError(DbError::kGeneric, "the column " + keyName + " is not in " + table);
    plan.keyInfo = *key;
    plan.key = dialect.quote(key->name);
    plan.wholeKey = key->type == ColumnType::Integer;
    const bool textKey = key->type == ColumnType::Text;
    const std::string asText = plan.kind == DialectKind::PostgreSQL || plan.kind == DialectKind::SQLite
                                   ? "text"
                                   : "VARCHAR(4000)";
    plan.keyText = textKey ? plan.key : "CAST(" + plan.key + " AS " + asText + ")";
    for (const ColumnInfo& c : columns)
        if (c.type == ColumnType::Text && c.name != key->name) {
            plan.label = dialect.quote(c.name);
            break;
        }
    plan.from = dialect.quote(table);
    plan.select = "SELECT " + plan.key + ", " + (plan.label.empty() ? std::string("NULL") : plan.label) + " FROM "
                  + plan.from;
    return plan;
}

KeyLookup::Matches matchesOf(const TextRows& rows)
{
    KeyLookup::Matches out;
    for (const std::vector<QString>& r : rows.rows)
        if (r.size() >= 2)
            out.push_back({r[0], r[1]});
    return out;
}

// The characters of a text, as SQL's length() counts them.
qsizetype characters(const QString& s)
{
    return s.size() - std::count_if(s.begin(), s.end(), [](QChar c) { return c.isLowSurrogate(); });
}

QString lowerAscii(QString s)
{
    for (QChar& c : s)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return s;
}

// The keys beginning with `prefix`, in key order.
KeyLookup::Matches findKeys(Session& session, const Plan& plan, const QString& prefix,
                            const std::function<bool()>& superseded)
{
    const int limit = KeyLookup::kLimit;
    if (prefix.isEmpty()) {
        TextRows rows;
        session.query(plan.select + " ORDER BY " + plan.key + plan.limit(limit), {}, rows);
        return matchesOf(rows);
    }
    const bool digits = std::all_of(prefix.begin(), prefix.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (plan.wholeKey && digits && prefix.size() <= 18) {
        // 12 begins 12, 120..129, 1200..1299 and so on: one range of the
        // key's index each, the shorter numbers first.
        KeyLookup::Matches out;
        const long long p = prefix.toLongLong();
        const std::string sql = plan.select + " WHERE " + plan.key + " BETWEEN " + Placeholder(plan.placeholders, 1)
                                + " AND " + Placeholder(plan.placeholders, 2) + " ORDER BY " + plan.key;
        // PostgreSQL refuses a bound beyond the key's own type.
        long long most = INT64_MAX;
        if (plan.kind == DialectKind::PostgreSQL && plan.keyInfo.nativeType == 21)
            most = INT16_MAX;
        else if (plan.kind == DialectKind::PostgreSQL && plan.keyInfo.nativeType == 23)
            most = INT32_MAX;
        long long scale = 1;
        for (int d = 0; std::ssize(out) < limit && prefix.size() + d <= 18; ++d, scale *= 10) {
            if ((p == 0 && d > 0) || p * scale > most)
                break; // no other number is written beginning with 0; none is larger
            if (superseded())
                return out;
            const Param range[] = {
                Param(ValueKind::Integer, std::to_string(p * scale), ColumnType::Integer, plan.keyInfo.nativeType),
                Param(ValueKind::Integer, std::to_string(std::min((p + 1) * scale - 1, most)), ColumnType::Integer,
                      plan.keyInfo.nativeType)};
            TextRows rows;
            session.query(sql + plan.limit(limit - static_cast<int>(out.size())), range, rows);
            for (KeyLookup::Match& m : matchesOf(rows))
                out.push_back(std::move(m));
        }
        return out;
    }
    // A whole number's text is digits after a minus sign at most.
    if (plan.wholeKey && !(prefix.front() == u'-' && std::all_of(prefix.begin() + 1, prefix.end(), [](QChar c) {
                               return c >= u'0' && c <= u'9';
                           })))
        return {};
    std::string sql = plan.select + " WHERE ";
    std::vector<Param> params;
    const std::string bytes = BytesFromText(prefix);
    if (plan.keyText == plan.key) {
        // A text key: the range of its index that holds the prefix, then the
        // prefix itself (a collation may order some texts apart).
        sql += plan.key + " >= " + Placeholder(plan.placeholders, 1) + " AND " + plan.key + " < "
               + Placeholder(plan.placeholders, 2) + " AND ";
        params.emplace_back(ValueKind::Text, bytes);
        params.emplace_back(ValueKind::Text, bytes + "\xF4\x8F\xBF\xBF");
    }
    sql += "substr(" + plan.keyText + ", 1, " + std::to_string(characters(prefix)) + ") = "
           + Placeholder(plan.placeholders, static_cast<int>(params.size()) + 1) + " ORDER BY " + plan.key
           + plan.limit(limit);
    params.emplace_back(ValueKind::Text, bytes);
    TextRows rows;
    session.query(sql, params, rows);
    return matchesOf(rows);
}

// Rows whose readable column begins with `prefix` (ASCII letters in any
// case), none of them in `skip`. That column has no index to use: with a
// whole-number key the table is searched in ranges of the key, so that
// what is found so far comes out at once and a newer lookup need not wait
// for the whole table; otherwise in one query, its LIMIT ending it early.
KeyLookup::Matches findLabels(Session& session, const Plan& plan, const QString& prefix, KeyLookup::Matches found,
                              const std::function<bool()>& superseded,
                              const std::function<void(const KeyLookup::Matches&)>& progress)
{
    const int limit = KeyLookup::kLimit;
    std::set<QString> seen;
    for (const KeyLookup::Match& m : found)
        seen.insert(m.key);
    const auto take = [&](const TextRows& rows) {
        bool grew = false;
        for (KeyLookup::Match& m : matchesOf(rows))
            if (std::ssize(found) < limit && seen.insert(m.key).second) {
                found.push_back(std::move(m));
                grew = true;
            }
        return grew;
    };
    const std::string match = "lower(substr(" + plan.label + ", 1, " + std::to_string(characters(prefix)) + ")) = ";
    const Param p(ValueKind::Text, BytesFromText(lowerAscii(prefix)));
    if (!plan.wholeKey) {
        TextRows rows;
        session.query(plan.select + " WHERE " + match + Placeholder(plan.placeholders, 1) + plan.limit(limit * 2),
                      std::span<const Param>(&p, 1), rows);
        take(rows);
        return found;
    }
    // Each bound a query of its own: SQLite finds min() or max() alone through
    // the index, but reads the whole table for both at once.
    TextRows least;
    TextRows most;
    session.query("SELECT min(" + plan.key + ") FROM " + plan.from, {}, least);
    session.query("SELECT max(" + plan.key + ") FROM " + plan.from, {}, most);
    if (least.rows.empty() || least.rows[0][0].isEmpty() || most.rows.empty())
        return found;
    const long long low = least.rows[0][0].toLongLong();
    const long long high = most.rows[0][0].toLongLong();
    constexpr long long kStep = 65536;
    const std::string sql = plan.select + " WHERE " + plan.key + " BETWEEN " + Placeholder(plan.placeholders, 1)
                            + " AND " + Placeholder(plan.placeholders, 2) + " AND " + match
                            + Placeholder(plan.placeholders, 3) + " ORDER BY " + plan.key;
    for (long long from = low; from <= high && std::ssize(found) < limit; from += kStep) {
        if (superseded())
            return found;
        const long long to = high - from < kStep ? high : from + kStep - 1;
        const Param params[] = {
            Param(ValueKind::Integer, std::to_string(from), ColumnType::Integer, plan.keyInfo.nativeType),
            Param(ValueKind::Integer, std::to_string(to), ColumnType::Integer, plan.keyInfo.nativeType), p};
        TextRows rows;
        session.query(sql + plan.limit(limit - static_cast<int>(found.size())), params, rows);
        if (take(rows) && std::ssize(found) < limit && to < high)
            progress(found);
        if (to == high)
            break;
    }
    return found;
}

} // namespace

KeyLookup::KeyLookup(ConnectionPtr own, std::string table, std::string keyColumn, QObject* parent)
    : QObject(parent), table_(std::move(table)), key_(std::move(keyColumn))
{
    worker_ = std::thread([this, own = std::move(own)]() mutable { run(std::move(own)); });
}

KeyLookup::~KeyLookup()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void KeyLookup::find(const QString& prefix)
{
    {
        const std::lock_guard lock(mutex_);
        wanted_ = prefix;
    }
    wake_.notify_all();
}

void KeyLookup::run(ConnectionPtr own)
{
    std::shared_ptr<Session> session;
    std::optional<Plan> plan;
    const auto superseded = [this] {
        const std::lock_guard lock(mutex_);
        return stopping_ || wanted_.has_value();
    };
    for (;;) {
        QString prefix;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || wanted_.has_value(); });
            if (stopping_)
                break;
            prefix = *std::exchange(wanted_, std::nullopt);
        }
        const auto post = [this, prefix](Matches matches, bool complete) {
            QMetaObject::invokeMethod(this, [this, prefix, matches = std::move(matches), complete] {
                emit found(prefix, matches, complete);
            }, Qt::QueuedConnection);
        };
        try {
            if (!session)
                session = own->Lend(); // logs in here, off the user's thread
            if (!plan)
                plan = makePlan(*session, table_, key_);
            Matches keys = findKeys(*session, *plan, prefix, superseded);
            if (superseded())
                continue;
            const bool more = !plan->label.empty() && !prefix.isEmpty() && std::ssize(keys) < kLimit;
            post(keys, !more);
            if (!more)
                continue;
            Matches all = findLabels(*session, *plan, prefix, std::move(keys), superseded,
                                     [&post](const Matches& some) { post(some, false); });
            if (superseded())
                continue;
            post(std::move(all), true);
        } catch (const std::exception& e) {
            const DbError* db = dynamic_cast<const DbError*>(&e);
            const QString reason = QString::fromStdString(db ? db->description() : std::string(e.what()));
            QMetaObject::invokeMethod(this, [this, prefix, reason] { emit failed(prefix, reason); },
                                      Qt::QueuedConnection);
            // A session that broke is given up: the next lookup logs in again.
            if (session && session->broken()) {
                own->GiveBack(nullptr);
                session.reset();
            }
        }
    }
    session.reset();
    own->GiveBack(nullptr);
}
