#include "storage/undodelete.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/engine.h"
#include "storage/error.h"
#include "storage/schema.h"

#include <algorithm>

namespace tsl {

namespace {

const std::string kUndoFailed = "撤销删除失败: ";

Engine& engineOf(const Connection& conn) {
    if (!conn.connected())
        throw Error("撤销删除失败: 帐本没有打开");
    return conn.engine();
}

// Which ledger a connection holds: its file, or its server and ledger name.
std::string sourceOf(const Connection& conn) {
    if (conn.onServer())
        return "server\n" + conn.serverAddress() + "\n" + conn.serverLedger();
    return Connection::dataSource(conn.connectionString());
}

// Refused: what is wrong is said as it stands, not as a failure of the engine.
class Refused : public Error {
public:
    Refused() : Error(kUndoRefusedText) {}
};

} // namespace

bool bookIsNumbered(std::string_view table) {
    return table == table::shipments || table == table::purchases || table == table::deliveries;
}

void DeleteUndo::capture(const Cursor& book) noexcept {
    clear();
    try {
        read(book);
        if (rowid_ < 0 || !renumbered_)
            return;
        // The engine compares each stamp with the one its place gives, a run of
        // rowids at a time; only the odd ones come back.
        const std::string stamp = quoteIdent(field::stamp);
        const QueryPtr odd = engineOf(*conn_).prepare("SELECT rowid, " + stamp + " FROM " + quoteIdent(table_) +
                                                      " WHERE rowid BETWEEN ? AND ? AND " + stamp + " <> " +
                                                      numberingSql_(stamp, "rowid - ?"));
        const ResetQuery done(*odd);
        for (const RowidList::Span& r : runs_) {
            odd->reset();
            odd->bindInt(1, r.from);
            odd->bindInt(2, r.to);
            odd->bindInt(3, r.from - std::int64_t(r.start) - 1);
            std::int64_t id = 0;
            std::string_view s;
            while (odd->nextIdText(id, s))
                oddStamps_.emplace(id, std::string(s));
        }
    } catch (...) {
        clear();
    }
}

void DeleteUndo::read(const Cursor& book) {
    const int row = book.currentRow();
    const std::int64_t rowid = book.rowidAt(row);
    if (rowid < 0)
        return;
    Connection& conn = book.connection();
    Engine& engine = engineOf(conn);
    const std::string table = book.tableName();

    const QueryPtr whole = engine.prepare("SELECT * FROM " + quoteIdent(table) + " WHERE rowid = ?");
    const ResetQuery done(*whole);
    whole->bindInt(1, rowid);
    if (!whole->step())
        return;
    std::vector<std::string> columns;
    std::vector<std::optional<std::string>> values;
    for (int c = 0, n = whole->columnCount(); c < n; ++c) {
        std::string name = whole->columnName(c);
        if (engine.isServer() && name == "rowid")
            continue; // a server's row id is a column of its own; it goes back as the rowid
        columns.push_back(std::move(name));
        if (whole->isNull(c))
            values.emplace_back(std::nullopt);
        else
            values.emplace_back(std::string(whole->text(c)));
    }

    const bool numbered = bookIsNumbered(table);

    conn_ = &conn;
    source_ = sourceOf(conn);
    table_ = table;
    rowid_ = rowid;
    columns_ = std::move(columns);
    values_ = std::move(values);
    renumbered_ = numbered;
    if (numbered)
        runs_ = book.rowidSpans();
}

void DeleteUndo::arm() noexcept {
    armed_ = false;
    if (rowid_ < 0)
        return;
    // Offered only when the delete went through; a failed removal left the row.
    try {
        const QueryPtr there = engineOf(*conn_).prepare("SELECT 1 FROM " + quoteIdent(table_) + " WHERE rowid = ?");
        const ResetQuery done(*there);
        there->bindInt(1, rowid_);
        armed_ = !there->step();
    } catch (...) {
        armed_ = false;
    }
}

void DeleteUndo::clear() noexcept {
    armed_ = false;
    conn_ = nullptr;
    source_.clear();
    table_.clear();
    rowid_ = -1;
    columns_.clear();
    values_.clear();
    oddStamps_.clear();
    renumbered_ = false;
    runs_.clear();
}

void DeleteUndo::bookChanged(std::string_view table) noexcept {
    if (armed_ && table == table_)
        clear();
}

bool DeleteUndo::available(const Connection& conn, std::string_view table) const {
    if (!armed_ || table != table_ || !conn.connected())
        return false;
    try {
        return sourceOf(conn) == source_;
    } catch (...) {
        return false;
    }
}

int DeleteUndo::undo(Connection& conn) {
    if (!available(conn, table_))
        throw Error("撤销删除失败: 没有可以撤销的删除");
    Engine& e = engineOf(conn);
    const bool server = e.isServer();
    const std::string quoted = quoteIdent(table_);
    int position = -1;
    try {
        Connection::Transaction tx(conn);
        if (server) {
            // The lock a delete and an append of this book take: no other program
            // numbers its rows until this is committed.
            lockServerBook(e, table_);
            if (renumbered_)
                refuseIfRowsChanged(e, quoted);
        }
        std::string sql = "INSERT INTO " + quoted + " (rowid";
        std::string marks = "?";
        for (const std::string& c : columns_) {
            sql += ", " + quoteIdent(c);
            marks += ", ?";
        }
        // A server's row id is given by the server unless told otherwise.
        sql += std::string(")") + (server ? " OVERRIDING SYSTEM VALUE" : "") + " VALUES (" + marks + ")";
        const QueryPtr ins = e.prepare(sql);
        ins->bindInt(1, rowid_);
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if (values_[i])
                ins->bindText(int(i) + 2, *values_[i]);
            else
                ins->bindNull(int(i) + 2);
        }
        (void)ins->step(); // a row of that rowid (the delete never happened) fails here

        const QueryPtr count = e.prepare("SELECT count(*) FROM " + quoted + " WHERE rowid < ?");
        count->bindInt(1, rowid_);
        (void)count->step();
        position = int(count->integer(0));

        // On a server the rows others added since are numbered too: every stamp is read.
        if (renumbered_ && (server || !renumberByRuns(e, quoted)))
            renumberRowByRow(e, quoted, server);
        tx.commit();
    } catch (const Refused&) {
        clear(); // the book will not be as the delete left it again
        throw;
    } catch (const Error& err) {
        throw Error(kUndoFailed, err);
    }
    clear();
    return position;
}

// The rows the delete left, exactly: none of them removed since and none put
// back among them (an undo of another program). Rows added after them are fine.
void DeleteUndo::refuseIfRowsChanged(Engine& e, const std::string& quoted) const {
    if (runs_.empty())
        return;
    const std::int64_t top = runs_.back().to;
    std::int64_t rows = -1, sum = -rowid_;
    for (const RowidList::Span& r : runs_) {
        rows += r.to - r.from + 1;
        sum += (r.from + r.to) * (r.to - r.from + 1) / 2;
    }
    const QueryPtr now = e.prepare("SELECT count(*), coalesce(sum(rowid), 0) FROM " + quoted + " WHERE rowid <= ?");
    const ResetQuery done(*now);
    now->bindInt(1, top);
    (void)now->step();
    if (now->integer(0) != rows || now->integer(1) != sum)
        throw Refused();
}

std::string DeleteUndo::leftByDelete(std::int64_t rowid, const std::string& odd) const {
    const auto run = std::upper_bound(runs_.begin(), runs_.end(), rowid, [](std::int64_t id, const RowidList::Span& r) { return id < r.from; });
    if (run == runs_.begin() || rowid > std::prev(run)->to)
        return {}; // not a row of the book the delete saw
    const RowidList::Span& r = *std::prev(run);
    const long long place = std::int64_t(r.start) + 1 + (rowid - r.from) - (rowid > rowid_ ? 1 : 0);
    return numbering_(odd, place);
}

// Every stamp read and compared: for a book whose rowids the capture did not
// see. `checkLeft`: a kept stamp goes back only over what the delete left there.
void DeleteUndo::renumberRowByRow(Engine& e, const std::string& quoted, bool checkLeft) {
    std::vector<std::pair<std::int64_t, std::string>> changes;
    {
        const QueryPtr stamps = e.prepare("SELECT rowid, " + quoteIdent(field::stamp) + " FROM " + quoted + " ORDER BY rowid");
        const ResetQuery done(*stamps);
        long long k = 0;
        std::int64_t id = 0;
        std::string_view text;
        while (stamps->nextIdText(id, text)) {
            ++k;
            const std::string now(text);
            const auto odd = oddStamps_.find(id);
            const bool kept = odd != oddStamps_.end() && id != rowid_;
            if (kept && checkLeft && now != leftByDelete(id, odd->second))
                throw Refused(); // written since: giving the old stamp back would overwrite it
            std::string want = id == rowid_ ? now : kept ? odd->second : numbering_(now, k);
            // A stamp without ")" was left as it was by the renumbering.
            if (now.find(')') == std::string::npos)
                want = now;
            if (want != now)
                changes.emplace_back(id, std::move(want));
        }
    }
    if (e.isServer()) {
        // A few thousand rows a statement, not a round trip to the server per row.
        const QueryPtr upd = e.prepare("UPDATE " + quoted + " SET " + quoteIdent(field::stamp) +
                                       " = v.s FROM (SELECT unnest(?::bigint[]) AS id, unnest(?::text[]) AS s) AS v WHERE " +
                                       quoted + ".rowid = v.id");
        constexpr std::size_t kBatch = 5'000;
        std::string ids, stamps;
        for (std::size_t at = 0; at < changes.size(); at += kBatch) {
            upd->reset();
            ids = "{";
            stamps = "{";
            for (std::size_t k = at; k < std::min(changes.size(), at + kBatch); ++k) {
                if (k > at) {
                    ids += ',';
                    stamps += ',';
                }
                ids += std::to_string(changes[k].first);
                stamps += '"';
                for (const char c : changes[k].second) {
                    if (c == '"' || c == '\\')
                        stamps += '\\';
                    stamps += c;
                }
                stamps += '"';
            }
            ids += '}';
            stamps += '}';
            upd->bindText(1, ids);
            upd->bindText(2, stamps);
            (void)upd->step();
        }
        return;
    }
    const QueryPtr upd = e.prepare("UPDATE " + quoted + " SET " + quoteIdent(field::stamp) + " = ? WHERE rowid = ?");
    for (const auto& [id, stamp] : changes) {
        upd->reset();
        upd->bindText(1, stamp);
        upd->bindInt(2, id);
        (void)upd->step();
    }
}

// The plain numbers in one UPDATE per run of consecutive rowids after the
// restored row, then the few stamps that did not follow them, each by its
// rowid. False (nothing written) when the book is not the one captured.
bool DeleteUndo::renumberByRuns(Engine& e, const std::string& quoted) {
    if (runs_.empty())
        return false;
    // A row added since (another program on the file) would shift the places.
    {
        const QueryPtr top = e.prepare("SELECT max(rowid) FROM " + quoted);
        const ResetQuery done(*top);
        (void)top->step();
        if (top->integer(0) != runs_.back().to)
            return false;
    }
    // The rows after the restored one: every number there moves.
    (void)numberRuns(e, quoted, numberingSql_, runs_, rowid_ + 1, runs_.back().to, false);
    const std::string stamp = quoteIdent(field::stamp);
    const QueryPtr upd = e.prepare("UPDATE " + quoted + " SET " + stamp + " = ? WHERE rowid = ?");
    for (const auto& [id, odd] : oddStamps_) {
        if (id == rowid_)
            continue; // the restored row carries its own stamp
        upd->reset();
        upd->bindText(1, odd);
        upd->bindInt(2, id);
        (void)upd->step();
    }
    return true;
}

std::vector<std::pair<int, int>> numberRuns(Engine& e, const std::string& quotedTable,
                                            DeleteUndo::NumberingSql numbering,
                                            const std::vector<RowidList::Span>& runs, std::int64_t lo,
                                            std::int64_t hi, bool onlyChanged) {
    std::vector<std::pair<int, int>> written;
    const std::string stamp = quoteIdent(field::stamp);
    const std::string numbered = numbering(stamp, "rowid - ?1");
    const QueryPtr run = e.prepare("UPDATE " + quotedTable + " SET " + stamp + " = " + numbered +
                                   " WHERE rowid BETWEEN ?2 AND ?3" +
                                   (onlyChanged ? " AND " + stamp + " <> " + numbered : std::string()));
    const ResetQuery done(*run);
    for (const RowidList::Span& r : runs) {
        const std::int64_t from = std::max(r.from, lo), to = std::min(r.to, hi);
        if (from > to)
            continue;
        run->reset();
        run->bindInt(1, r.from - std::int64_t(r.start) - 1);
        run->bindInt(2, from);
        run->bindInt(3, to);
        (void)run->step();
        if (e.changes() > 0) {
            const auto start = int(r.start + std::size_t(from - r.from));
            written.emplace_back(start, start + int(to - from) + 1);
        }
    }
    return written;
}

} // namespace tsl
