#pragma once
// The ascending rowids of a book. A book's rowids are nearly always one or a
// few runs of consecutive numbers (rows appended, a few deleted), so they are
// held as runs: a million rows in one run cost a few bytes instead of 8 MB.
// When the runs would take more room than the rowids themselves, the list
// turns into a plain one until it is cleared.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsl {

class RowidList {
public:
    [[nodiscard]] std::size_t size() const { return n_; }
    [[nodiscard]] bool empty() const { return n_ == 0; }
    [[nodiscard]] bool plain() const { return plain_; }
    // Bytes held beyond the object itself.
    [[nodiscard]] std::size_t heapBytes() const {
        return runs_.capacity() * sizeof(Run) + ids_.capacity() * sizeof(std::int64_t);
    }

    void clear() noexcept;
    // A plain list, should this one turn into one, is made with room for this many.
    void expect(std::size_t rows) { expected_ = rows; }

    // O(1) in one run, O(log runs) otherwise.
    [[nodiscard]] std::int64_t operator[](std::size_t i) const {
        if (plain_)
            return ids_[i];
        if (runs_.size() == 1)
            return runs_[0].first + std::int64_t(i);
        const Run& r = runs_[runOf(i)];
        return r.first + std::int64_t(i - r.start);
    }
    [[nodiscard]] std::int64_t back() const { return (*this)[n_ - 1]; }

    // `id` must be above every rowid held.
    void push_back(std::int64_t id) {
        if (!plain_ && n_ != 0 && id == next_) { // the run goes on: the loading loop's case
            ++n_;
            ++next_;
            return;
        }
        pushSlow(id);
    }
    void erase(std::size_t i);
    // The position of the first rowid not below `id` (size() when none is).
    [[nodiscard]] std::size_t lowerBound(std::int64_t id) const;
    // The position of `id` at or after `from`; -1 when not held there.
    [[nodiscard]] std::ptrdiff_t find(std::int64_t id, std::size_t from = 0) const;

    // The rowids as runs of consecutive ones, `from`..`to`, the first of them at
    // position `start`: what one statement per run can address by rowid range.
    struct Span {
        std::int64_t from, to;
        std::size_t start;
    };
    [[nodiscard]] std::vector<Span> spans() const;

    // Positions [from, from + count) read in ascending order, each step O(1).
    class Slice {
    public:
        [[nodiscard]] std::size_t size() const { return count_; }
        std::int64_t operator[](std::size_t k) const;

    private:
        friend class RowidList;
        Slice(const RowidList& l, std::size_t from, std::size_t count) : l_(l), from_(from), count_(count) {}
        const RowidList& l_;
        std::size_t from_, count_;
        mutable std::size_t run_ = 0; // where the last read was
    };
    [[nodiscard]] Slice slice(std::size_t from, std::size_t count) const { return {*this, from, count}; }
    [[nodiscard]] Slice all() const { return {*this, 0, n_}; }

private:
    struct Run {
        std::int64_t first; // its rowids are first, first + 1, ...
        std::size_t start;  // position of `first`; a run ends where the next starts
    };
    [[nodiscard]] std::size_t runOf(std::size_t i) const;
    [[nodiscard]] std::size_t runEnd(std::size_t r) const { return r + 1 < runs_.size() ? runs_[r + 1].start : n_; }
    void turnPlain();
    void pushSlow(std::int64_t id);

    std::vector<Run> runs_;
    std::vector<std::int64_t> ids_; // the plain list
    std::size_t n_ = 0;
    std::int64_t next_ = 0; // in runs: the rowid that would continue the last run
    std::size_t expected_ = 0;
    bool plain_ = false;
};

} // namespace tsl
