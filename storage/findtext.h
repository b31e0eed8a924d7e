#pragma once
// Finding rows that hold a text in any field, as a bookkeeper types it: Latin
// letters in either case and full-width or half-width letters and digits alike.
#include "storage/cursor.h"
#include "storage/prepared.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tsl {

// A text folded for finding: ASCII letters lower-cased, the full-width forms of
// ASCII (U+FF01..U+FF5E) as ASCII (and lower-cased), the ideographic space as a
// space; everything else as it stands.
[[nodiscard]] std::string foldForFind(std::string_view text);

// The folded text of every row of a book, kept in a private temporary database
// beside the ledger (never in the ledger file), with a trigram index over it.
// Made at the first search (the copy only: searches scan it until the index is
// whole; indexSome() fills the index a slice at a time), kept up to date through the book's cursor (adds,
// edits, deletes), made again after anything else changed the book. Any needle
// asks the index: one or two characters are a token of it, longer ones its
// trigrams, whose rows are then checked.
// As the user types on, a needle that holds the one before it is looked for
// only among the rows that one found; going back finds a kept answer again.
class FindCopy final : public CursorObserver {
public:
    explicit FindCopy(Cursor& book);
    ~FindCopy() override;
    FindCopy(const FindCopy&) = delete;
    FindCopy& operator=(const FindCopy&) = delete;

    // 0-based positions, in stored order, of the rows one of whose fields holds
    // `needle` (folded); every row for a needle that folds to nothing.
    [[nodiscard]] std::vector<int> rowsHolding(std::string_view needle);

    // The same rows with the total of their amounts (the field at `amountPos`),
    // added in 64 bits; amounts that are no whole number are counted apart.
    struct Found {
        std::vector<int> rows;
        std::int64_t total = 0;
        std::int64_t badAmounts = 0;
    };
    [[nodiscard]] Found find(std::string_view needle, int amountPos);

    // Adds one slice of `rows` rows of the book to the index, or merges a piece
    // of it (some tens of milliseconds); true while more is left. Meant for the
    // time between keystrokes.
    static constexpr int kSliceRows = 4'000;
    bool indexSome(int rows = kSliceRows);
    // Whether searches ask the index (false while it fills, and without one).
    [[nodiscard]] bool indexReady() const { return !stale_ && indexStage_ == IndexStage::ready; }

    // The bytes the copy and its index take on disk.
    [[nodiscard]] std::int64_t copyBytes() const;

    // Lets go of the answers kept for typing on or going back (their memory);
    // the next search asks the copy afresh.
    void forgetFound() { kept_.clear(); }

private:
    // The rows one needle found, in stored order: their rowids and amounts, and
    // their folded texts while they are few enough to search again in memory.
    struct Answer {
        std::string needle;
        std::vector<std::int64_t> ids;
        std::vector<std::int64_t> amounts;
        std::vector<char> hasAmount;
        std::vector<std::string> texts; // empty when not kept
        bool textsKept = false;
    };
    void cursorReset() override { stale_ = true; }
    void rowInserted(int row) override { put(row); }
    void rowUpdated(int row) override { put(row); }
    void rowsUpdated(int from, int to) override;
    void rowRemoved(int row) override;

    [[nodiscard]] std::pair<std::int64_t, std::int64_t> bookVersion() const;
    void build(int amountPos);
    void put(int row);
    void noteSeen();
    void noteOwnWrite();
    void changed();
    [[nodiscard]] Answer search(const std::string& needle);
    [[nodiscard]] Answer query(sqlite3_stmt* st, const std::string& needle, const std::string* match);
    [[nodiscard]] Answer whole() const;
    [[nodiscard]] Answer named(const std::string& needle, const std::string& match);
    [[nodiscard]] bool oddRows();
    void keep(Answer answer);

    Cursor& book_;
    DbCloser copy_;
    StmtOwner put_;
    StmtOwner remove_;
    StmtOwner find_;
    StmtOwner match_;
    StmtOwner odd_;
    StmtOwner named_;
    StmtOwner rowsWith_;
    // Every row of the copy in rowid order (its order): rowid, amount, whether
    // the amount is a whole number. The whole book and the amounts of the rows
    // the index names come from here without reading the copy.
    std::vector<std::int64_t> allIds_;
    std::vector<std::int64_t> allAmounts_;
    std::vector<char> allHas_;
    enum class IndexStage { none, filling, merging, ready };
    bool stale_ = true;
    IndexStage indexStage_ = IndexStage::none;
    std::int64_t indexedTo_ = 0; // the rows up to this rowid are in the index
    int amountPos_ = -1; // the field whose whole numbers the copy holds beside the text
    std::int64_t seenChanges_ = -1; // the ledger connection's changes the copy has taken in
    std::pair<std::int64_t, std::int64_t> seenVersion_{-1, -1}; // its engine's file version then (others' writes)
    std::deque<Answer> kept_;    // the latest first
};

} // namespace tsl
