#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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
    // (books::numberedStampSql): with it the undo numbers the rows after the
    // restored one in a statement per run of consecutive rowids, not a write per row.
    using NumberingSql = std::string (*)(const std::string& stamp, const std::string& position);
    explicit DeleteUndo(Numbering numbering, NumberingSql numberingSql = nullptr)
        : numbering_(numbering), numberingSql_(numberingSql) {}

    // Before a delete: reads the cursor's current row and the stamps of its book.
    // Nothing is offered when that fails; the delete goes on regardless.
    void capture(const Cursor& book) noexcept;
    // Before a delete that hands over the stamps in its own pass over the book
    // (books::deleteRow): reads only the current row. The cursor holds the whole book.
    void captureRow(const Cursor& book) noexcept;
    // From that pass: a stamp the numbering would not give back at its place before the delete.
    void keepStamp(std::int64_t rowid, std::string_view stamp);
    // The pass is over: every such stamp was handed over.
    void stampsKept() noexcept { stampsPending_ = false; }
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
    bool stampsPending_ = false;
    // The book's rowids before the delete as runs of consecutive ones: a row's
    // place is then first + (rowid - from).
    struct Run {
        std::int64_t from, to;
        long long first; // 1-based place of `from`
    };
    std::vector<Run> runs_;
};

// Why an undo on a server was refused: another program changed the book since the delete.
inline constexpr const char* kUndoRefusedText = "删除之后本表已被另一台电脑改动,不能撤销删除!";

// Whether a delete from this book renumbers the serial stamps (books 2 to 4).
[[nodiscard]] bool bookIsNumbered(std::string_view table);

} // namespace tsl
