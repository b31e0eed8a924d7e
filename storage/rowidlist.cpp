#include "storage/rowidlist.h"

#include <algorithm>
#include <cassert>

namespace tsl {

namespace {

// Below this many runs they stay runs whatever the rows: a small list costs little either way.
constexpr std::size_t kMinRunsForPlain = 64;
// A plain list gets room for this many appends per 1,000 rows (at least kMinHeadroom):
// the rows added after it was made then do not copy it.
constexpr std::size_t kHeadroomPerMille = 125;
constexpr std::size_t kMinHeadroom = 1024;

} // namespace

void RowidList::clear() noexcept {
    runs_.clear();
    runs_.shrink_to_fit();
    ids_.clear();
    ids_.shrink_to_fit();
    n_ = 0;
    expected_ = 0;
    plain_ = false;
}

std::size_t RowidList::runOf(std::size_t i) const {
    assert(!plain_ && i < n_);
    auto it = std::upper_bound(runs_.begin(), runs_.end(), i, [](std::size_t p, const Run& r) { return p < r.start; });
    return std::size_t(it - runs_.begin()) - 1;
}

void RowidList::turnPlain() {
    const std::size_t want = std::max(expected_, n_);
    ids_.reserve(want + std::max(kMinHeadroom, want / 1000 * kHeadroomPerMille));
    for (std::size_t r = 0; r < runs_.size(); ++r)
        for (std::size_t i = runs_[r].start, end = runEnd(r); i < end; ++i)
            ids_.push_back(runs_[r].first + std::int64_t(i - runs_[r].start));
    runs_.clear();
    runs_.shrink_to_fit();
    plain_ = true;
}

void RowidList::pushSlow(std::int64_t id) {
    assert(n_ == 0 || back() < id);
    if (plain_) {
        ids_.push_back(id);
        ++n_;
        return;
    }
    if (n_ == 0 || id != next_)
        runs_.push_back(Run{id, n_});
    ++n_;
    next_ = id + 1;
    // Runs of one or two rows take as much room as the rowids.
    if (runs_.size() >= kMinRunsForPlain && runs_.size() * sizeof(Run) > n_ * sizeof(std::int64_t))
        turnPlain();
}

void RowidList::erase(std::size_t i) {
    assert(i < n_);
    if (plain_) {
        ids_.erase(ids_.begin() + std::ptrdiff_t(i));
        --n_;
        return;
    }
    std::size_t r = runOf(i);
    const std::size_t start = runs_[r].start, end = runEnd(r);
    std::size_t shiftFrom = r + 1; // the runs after the erased rowid move one place up
    if (end - start == 1) {
        runs_.erase(runs_.begin() + std::ptrdiff_t(r));
        shiftFrom = r;
    } else if (i == start) {
        ++runs_[r].first;
    } else if (i + 1 < end) {
        // Out of the middle: the rest of the run becomes a run of its own.
        runs_.insert(runs_.begin() + std::ptrdiff_t(r + 1), Run{runs_[r].first + std::int64_t(i - start) + 1, i});
        shiftFrom = r + 2;
    }
    for (std::size_t k = shiftFrom; k < runs_.size(); ++k)
        --runs_[k].start;
    --n_;
    if (n_ != 0)
        next_ = back() + 1;
    if (runs_.size() >= kMinRunsForPlain && runs_.size() * sizeof(Run) > n_ * sizeof(std::int64_t))
        turnPlain();
}

std::size_t RowidList::lowerBound(std::int64_t id) const {
    if (plain_)
        return std::size_t(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin());
    auto it = std::upper_bound(runs_.begin(), runs_.end(), id, [](std::int64_t v, const Run& r) { return v < r.first; });
    if (it == runs_.begin())
        return 0;
    const std::size_t r = std::size_t(it - runs_.begin()) - 1;
    const std::size_t len = runEnd(r) - runs_[r].start;
    const std::int64_t off = id - runs_[r].first;
    return off < std::int64_t(len) ? runs_[r].start + std::size_t(off) : runEnd(r);
}

std::ptrdiff_t RowidList::find(std::int64_t id, std::size_t from) const {
    std::size_t at;
    if (plain_)
        at = std::size_t(std::lower_bound(ids_.begin() + std::ptrdiff_t(std::min(from, n_)), ids_.end(), id) -
                         ids_.begin());
    else
        at = lowerBound(id);
    return at < n_ && at >= from && (*this)[at] == id ? std::ptrdiff_t(at) : -1;
}

std::vector<RowidList::Span> RowidList::spans() const {
    std::vector<Span> out;
    if (!plain_) {
        out.reserve(runs_.size());
        for (std::size_t r = 0; r < runs_.size(); ++r)
            out.push_back({runs_[r].first, runs_[r].first + std::int64_t(runEnd(r) - runs_[r].start) - 1, runs_[r].start});
        return out;
    }
    for (std::size_t i = 0; i < n_; ++i) {
        if (!out.empty() && ids_[i] == out.back().to + 1)
            ++out.back().to;
        else
            out.push_back({ids_[i], ids_[i], i});
    }
    return out;
}

std::int64_t RowidList::Slice::operator[](std::size_t k) const {
    const std::size_t i = from_ + k;
    assert(k < count_);
    if (l_.plain_)
        return l_.ids_[i];
    const auto& runs = l_.runs_;
    if (run_ < runs.size() && runs[run_].start <= i && l_.runEnd(run_) <= i)
        ++run_; // the next run, when read in order
    if (run_ >= runs.size() || runs[run_].start > i || l_.runEnd(run_) <= i)
        run_ = l_.runOf(i);
    return runs[run_].first + std::int64_t(i - runs[run_].start);
}

} // namespace tsl
