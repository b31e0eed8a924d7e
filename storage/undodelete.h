#pragma once
#include "storage/rowidlist.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tsl {

class Connection;
class Cursor;
class Engine;

// Puts back the row the last delete removed from a book: at its old place (its
// old rowid), with its old contents, and with the serial stamps of books 2 to 4
// as they were before the renumbering. Only the last delete is kept, and only
// until the book changes again.
class DeleteUndo {
public:
    // The stamp a renumbering gives the row at a 1-based position: the books' rule
    // (books::numberedStamp), handed in from above.
    using Numbering = std::string (*)(std::string_view stamp, long long position);
    // The same rule as an SQL expression over a stamp and a position
    // (books::numberedStampSql): the stamps are compared and numbered by the
    // engine, a statement per run of consecutive rowids, not a row at a time here.
    using NumberingSql = std::string (*)(const std::string& stamp, const std::string& position);
    DeleteUndo(Numbering numbering, NumberingSql numberingSql) : numbering_(numbering), numberingSql_(numberingSql) {}

    // Before a delete: reads the cursor's current row and, in books 2 to 4, the
    // stamps the numbering would not give back at their places. The cursor holds
    // the whole book. Nothing is offered when that fails; the delete goes on regardless.
    void capture(const Cursor& book) noexcept;
    // After the delete: offered from now on if the row is really gone.
    void arm() noexcept;
    void clear() noexcept;
    // A row of this book was written: the delete can no longer be undone.
    void bookChanged(std::string_view table) noexcept;

    // Arms the undo when the delete is over, however it ended.
    class ArmWhenDone {
    public:
        explicit ArmWhenDone(DeleteUndo& u) : u_(u) {}
        ~ArmWhenDone() { u_.arm(); }
        ArmWhenDone(const ArmWhenDone&) = delete;
        ArmWhenDone& operator=(const ArmWhenDone&) = delete;

    private:
        DeleteUndo& u_;
    };

    // True when a delete from this book of this connection can be undone.
    [[nodiscard]] bool available(const Connection& conn, std::string_view table) const;
    [[nodiscard]] const std::string& table() const { return table_; }

    // Puts the row back in one transaction; returns its 0-based position. The
    // caller opens its cursors on the book again. Throws Error (nothing changed then).
    // On a server, under the book's lock: rows other programs added since are
    // numbered after it; a row of the book as the delete left it removed or put
    // back since, or a stamp the undo would give back written since, refuses it
    // (kUndoRefusedText) and the undo is no longer offered.
    int undo(Connection& conn);

private:
    void read(const Cursor& book);
    void renumberRowByRow(Engine& e, const std::string& quoted, bool checkLeft);
    bool renumberByRuns(Engine& e, const std::string& quoted);
    void refuseIfRowsChanged(Engine& e, const std::string& quoted) const;
    // The stamp the delete's renumbering left on a row whose odd stamp was kept.
    [[nodiscard]] std::string leftByDelete(std::int64_t rowid, const std::string& odd) const;

    Numbering numbering_;
    NumberingSql numberingSql_;
    bool armed_ = false;
    Connection* conn_ = nullptr;
    std::string source_; // the connection's file, or its server and ledger
    std::string table_;
    std::int64_t rowid_ = -1;
    std::vector<std::string> columns_;
    std::vector<std::optional<std::string>> values_;
    // Stamps that the numbering would not give back.
    std::unordered_map<std::int64_t, std::string> oddStamps_;
    bool renumbered_ = false;
    // The book's rowids before the delete as runs of consecutive ones.
    std::vector<RowidList::Span> runs_;
};

// Gives every row of `runs` whose rowid is in [lo, hi] the stamp `numbering`
// makes for its place (a run's `start` + 1 for its first row), one UPDATE per
// run. With `onlyChanged` a stamp that keeps its number is not written (rows
// before a deleted one mostly do); without, every such row is. Returns the
// positions [from, to) of the runs where a row was written. On a ledger file:
// a server numbers a book in one statement of its own.
std::vector<std::pair<int, int>> numberRuns(Engine& e, const std::string& quotedTable,
                                            DeleteUndo::NumberingSql numbering,
                                            const std::vector<RowidList::Span>& runs, std::int64_t lo,
                                            std::int64_t hi, bool onlyChanged);

// Why an undo on a server was refused: another program changed the book since the delete.
inline constexpr const char* kUndoRefusedText = "删除之后本表已被另一台电脑改动,不能撤销删除!";

// Whether a delete from this book renumbers the serial stamps (books 2 to 4).
[[nodiscard]] bool bookIsNumbered(std::string_view table);

} // namespace tsl
