#pragma once
#include "storage/engine.h"
#include "storage/rowidlist.h"
#include "storage/rowscan.h"
#include "storage/updatecache.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tsl {

class Connection;

// Told about changes of a cursor's rows and current row (the grid model listens).
// Row indexes are 0-based positions in stored order.
class CursorObserver {
public:
    virtual ~CursorObserver() = default;
    virtual void cursorReset() {}             // opened or closed
    virtual void rowInserted(int /*row*/) {}  // a new row was posted
    virtual void rowUpdated(int /*row*/) {}   // an edited row was posted
    // Rows [from, to) were written in place by the cursor's own statements.
    virtual void rowsUpdated(int from, int to) {
        for (int r = from; r < to; ++r)
            rowUpdated(r);
    }
    virtual void rowRemoved(int /*row*/) {}
    virtual void currentChanged(int /*row*/) {} // -1: no current row
};

// A table cursor: the rows of one table in stored (rowid) order, at most one
// current row, and at most one pending row (being edited or appended). Only the
// rowids are held; values are read on demand through a small cache.
// Like its connection, a cursor is used from one thread at a time.
class Cursor {
public:
    explicit Cursor(Connection& conn);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    enum class State { Closed, Browse, Edit, Insert };

    void setTableName(std::string name); // only while closed
    [[nodiscard]] const std::string& tableName() const { return table_; }

    void open();
    void close() noexcept;
    [[nodiscard]] bool isOpen() const { return state_ != State::Closed; }
    [[nodiscard]] State state() const { return state_; }

    // Moving finishes a pending row first (posted if a field was set, dropped otherwise).
    void first();
    void next(); // on the last row: stays there and eof() becomes true
    void moveTo(int row); // 0-based; clamped into the table
    [[nodiscard]] bool eof() const { return eof_; }

    // Stored rows; a pending append is not counted.
    [[nodiscard]] int recordCount() const;
    // 1-based position of the current row; -1 when there is none.
    [[nodiscard]] int recNo() const;
    // 0-based current row; -1 when there is none.
    [[nodiscard]] int currentRow() const { return cur_; }

    [[nodiscard]] int fieldCount() const;
    [[nodiscard]] const std::string& fieldName(int pos) const;
    // Text of a field in the current row (the pending values while editing or
    // appending); a missing value, or no current row, gives "".
    [[nodiscard]] std::string fieldText(int pos) const;
    [[nodiscard]] std::string fieldText(std::string_view name) const;
    // Index of a field, letter case ignored; -1 when the table has none such.
    [[nodiscard]] int fieldIndex(std::string_view name) const;

    // Text of a field of any stored row (for the grid), without moving.
    [[nodiscard]] std::string rowText(int row, int pos) const;

    // The rowid of a stored row (0-based position); -1 when there is no such row.
    [[nodiscard]] std::int64_t rowidAt(int row) const;
    // Moves to each stored row whose field at `pos` holds exactly `text` (byte for
    // byte), in stored order, and calls `visit` there until it returns false. The
    // rows are those a walk from first() comparing fieldText(pos) would stop at, but
    // the engine finds them. Run to its end it leaves the cursor where such a walk
    // ends: on the last row with eof set. True when `visit` stopped it.
    bool forEachMatch(int pos, std::string_view text, const std::function<bool()>& visit);

    // Hands every stored row's text of the field at `pos` to `each`, in stored
    // order, as rowText would give it (a row gone from the file: ""), read in one
    // pass of the engine; stops when `each` returns false. Does not move.
    void scanField(int pos, const std::function<bool(int row, std::string_view text)>& each) const;

    // While open() loads the rowids it also hands every row's text of the field at
    // `pos` (as fieldText would give it) to `each`, so a caller that sums a column
    // at open needs no second pass. Stays set until set again; pos -1, or a field
    // the table lacks, reads nothing more.
    void setOpenPass(int pos, std::function<void(int row, std::string_view text)> each);

    // Back to the state open() leaves (first row, nothing pending, observers and
    // afterOpen told) without reading the rows again, when nothing in the file has
    // changed since they were loaded. False, with nothing done, when something may
    // have, when closed, or while an open pass is set.
    bool restart();
    // True while open and nothing but this cursor's own posts and deletes has
    // written the file since its rows were loaded: what its observers were told
    // then adds up to what the file holds.
    [[nodiscard]] bool inStepWithFile() const;

    // Sets a field of the pending row; a name the table lacks fails.
    void setField(std::string_view name, std::string_view text);

    // Remembers the current row's values as the user was shown them (an edit
    // dialog filled from them). On a server, where other programs write too, an
    // edit of that row is saved only while the row still holds them; otherwise
    // post() fails with kRowChangedText and saves nothing. An edit without one
    // compares with the values the row had when edit() began.
    void keepShown();
    void edit();   // no row: starts an append; pending already: nothing
    void append(); // finishes a pending row first
    void post();   // nothing pending: fails
    void cancel() noexcept; // drops a pending row
    void remove(); // deletes the current row; a pending append is just dropped
    [[nodiscard]] bool pending() const { return state_ == State::Edit || state_ == State::Insert; }

    // The 1-based position a row appended now takes. On a server the book is
    // first locked until the open transaction ends (another program's append
    // waits for it) and its rows are counted there: this cursor may not hold
    // every row others added. Call it inside a transaction there.
    [[nodiscard]] long long appendPosition();
    // On a server: locks the book until the open transaction ends, so that
    // numbering it (appends, a delete's renumbering) is one program's at a
    // time. Nothing on a file, which one program holds.
    void lockBook();

    // Reads the rows again (other programs may have added or removed some),
    // keeping the current row by identity, else the nearest place; the cache
    // goes, observers hear a reset. Nothing may be pending. True when the
    // current row is still there (or there was none).
    bool refresh();
    // The position of a row by its rowid; -1 when not held.
    [[nodiscard]] int rowOf(std::int64_t rowid) const;
    // The rows' rowids as runs of consecutive ones, with their positions.
    [[nodiscard]] std::vector<RowidList::Span> rowidSpans() const { return rowids_.spans(); }

    // Runs `write`: statements of this program that change stored rows in place
    // (no row added or removed, as a renumbering does). They count as the cursor's
    // own writes: it stays in step with the file, and its observers hear of the
    // rows `write` returns as changed, positions [from, to). Nothing may be
    // pending. When `write` throws, every row is told as changed (and the cursor
    // is out of step: the rest may be what another program wrote).
    using RowRanges = std::vector<std::pair<int, int>>;
    void rewriteRows(const std::function<RowRanges()>& write);

    // Handlers, run after open and after every post.
    std::function<void()> afterOpen;
    std::function<void()> afterPost;

    void addObserver(CursorObserver* o);
    void removeObserver(CursorObserver* o) noexcept;

    [[nodiscard]] Connection& connection() const { return conn_; }

    // Opens as open() does, handing every row's text of the field at `pos` to
    // `each(row, text)` in the pass that loads the rowids, like an open pass
    // with the work per row compiled into the loop (the one set by setOpenPass
    // is not run). pos -1, or a field the table lacks, reads only the rowids.
    template <class Each>
    void openWith(int pos, Each&& each) {
        if (isOpen())
            return;
        const QueryPtr q = beginOpen(pos);
        try {
            collectRowids(*q, q->columnCount() > 1, rowids_,
                          [&](std::size_t row, std::string_view text) { each(int(row), text); });
        } catch (...) {
            abandonOpen();
            throw;
        }
        finishOpen();
    }

    // Like scanField, with the work per row compiled into the pass: `each(row,
    // text)` returns false to stop.
    template <class Each>
    void scanColumn(int pos, Each&& each) const {
        const QueryPtr q = columnQuery(pos);
        alignRows(*q, rowids_.all(),
                  [&](std::size_t row, std::string_view text) { return each(int(row), text); });
    }

private:
    friend class Connection;
    void connectionClosing() noexcept;
    void reloadAfterRollback() noexcept;
    [[nodiscard]] QueryPtr beginOpen(int pos);
    void finishOpen();
    void abandonOpen() noexcept;
    [[nodiscard]] QueryPtr rowidQuery(int pos);
    void loadRowids();
    void startAtFirst();
    [[nodiscard]] int positionOf(std::int64_t rowid, int from) const;
    [[nodiscard]] QueryPtr columnQuery(int pos) const;
    void requireOpen() const;
    void finishPending();
    void setCurrent(int row);
    void clearPending() noexcept;
    const std::string& value(int row, int field) const;
    std::vector<std::string>::iterator readBlock(int block, int field) const;
    void dropCacheIfStale() const;
    void clearCache() const noexcept;
    void finalizeStatements() noexcept;
    [[nodiscard]] QueryPtr prepare(const std::string& sql) const;
    // What always holds between calls; checked where the state changes, in builds with assertions.
    void checkInvariants() const;
    void checkAscending() const;

    Connection& conn_;
    Engine* engine_ = nullptr; // the connection's, while open
    std::string table_;
    State state_ = State::Closed;
    std::vector<std::string> fields_;
    std::string quotedTable_;
    std::string fieldList_; // every field, quoted, in stored order
    RowidList rowids_; // ascending
    // What the rows were loaded from: total changes of the connection, and the
    // file's data and schema versions (others' writes, any schema change).
    std::int64_t loadedChanges_ = -1;
    std::pair<std::int64_t, std::int64_t> loadedVersion_{-1, -1};
    int openPassPos_ = -1;
    std::function<void(int, std::string_view)> openPass_;
    int cur_ = -1;
    bool eof_ = false;

    // pending row: the values set so far; an edited row's other fields are read
    // from the row itself, and only the set ones are written back
    std::vector<std::optional<std::string>> buf_;
    FieldSet set_ = 0; // the fields given by setField

    // Cache of blocks of consecutive rows, one field each: a scan that reads one
    // field makes the engine decode only that column.
    struct Block {
        int index = -1; // its first row is index * kBlockRows
        std::vector<std::string> values;
        std::uint64_t lastUse = 0;
    };
    struct FieldCache {
        std::vector<Block> blocks;
        std::size_t lastHit = 0; // a scan asks for the same block again and again
    };
    mutable std::vector<FieldCache> cache_; // by field
    mutable std::uint64_t useClock_ = 0;
    mutable std::int64_t seenChanges_ = -1;

    // The last row read whole. Reading every field of rows scattered through the
    // table (a settlement's matches) would otherwise load a block of every field;
    // a few single-row reads per block are cheaper, more turn into block reads.
    struct RowCache {
        int row = -1;
        std::vector<std::string> values;
    };
    mutable RowCache rowCache_;
    mutable std::vector<int> pointBlock_; // per field: block of the recent single-row reads
    mutable std::vector<int> pointReads_; // per field: how many in that block
    const std::string* readRow(int row, int field) const;

    mutable std::vector<QueryPtr> selField_; // per field, prepared on first read
    mutable QueryPtr selRow_;
    QueryPtr delStmt_;
    QueryPtr insStmt_;
    UpdateCache updates_;
    QueryPtr findStmt_; // forEachMatch's, for field findPos_
    int findPos_ = -1;

    std::vector<CursorObserver*> observers_;

    // keepShown's values, for the row with this rowid (-1: none).
    std::int64_t shownRowid_ = -1;
    std::vector<std::string> shown_;
    void postCheckedEdit(FieldSet written);
};

// What an edit or delete of a row another program removed gets.
inline constexpr const char* kRowGoneText = "该记录已不在帐本中,可能已被另一个程序删除";
// What an edit of a row another program changed since it was shown gets.
// The book lock of Cursor::lockBook, for code that holds no cursor on the book.
void lockServerBook(Engine& e, const std::string& table);

inline constexpr const char* kRowChangedText = "该记录已被另一台电脑修改,请重新打开本表!";

} // namespace tsl
