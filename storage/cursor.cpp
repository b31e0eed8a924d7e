#include "storage/cursor.h"

#include "storage/connection.h"
#include "storage/error.h"
#include "storage/schema.h"

#include <algorithm>
#include <cassert>

namespace tsl {

namespace {

constexpr int kBlockRows = 256;
constexpr std::size_t kCacheBlocksPerField = 8;
constexpr int kPointReadsPerBlock = 8;
const char* const kRowGone = kRowGoneText;

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

Cursor::Cursor(Connection& conn) : conn_(conn) { conn_.attach(this); }

Cursor::~Cursor() {
    close();
    conn_.detach(this);
}

void Cursor::setTableName(std::string name) {
    if (isOpen())
        throw Error("表已打开,不能更改表名");
    table_ = std::move(name);
}

QueryPtr Cursor::prepare(const std::string& sql) const { return engine_->prepare(sql, true); }

void Cursor::open() {
    if (isOpen())
        return;
    openWith(openPass_ ? openPassPos_ : -1, [this](int row, std::string_view text) { openPass_(row, text); });
}

QueryPtr Cursor::beginOpen(int pos) {
    if (!conn_.connected())
        throw Error("数据库没有连接");
    if (table_.empty())
        throw Error("没有指定表名");
    engine_ = &conn_.engine();
    quotedTable_ = quoteIdent(table_);

    fields_.clear();
    try {
        const QueryPtr head = prepare("SELECT * FROM " + quotedTable_ + " LIMIT 0");
        // A server's books show their row id among the columns; it is no field.
        const bool hidden = engine_->isServer();
        for (int i = 0, n = head->columnCount(); i < n; ++i)
            if (!hidden || head->columnName(i) != "rowid")
                fields_.push_back(head->columnName(i));
    } catch (const Error& e) {
        abandonOpen();
        // A damaged or locked file says so; anything else here is a missing table.
        if (e.kind() != Failure::Other && e.kind() != Failure::MissingTable)
            throw;
        throw Error(Failure::MissingTable, e.file(), table_);
    } catch (...) {
        abandonOpen();
        throw;
    }
    if (fields_.size() > std::size_t(kMaxFieldSetFields)) {
        abandonOpen();
        throw Error("表\"" + table_ + "\"的字段太多");
    }

    fieldList_.clear();
    std::string marks;
    std::vector<std::string> quoted;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i) {
            fieldList_ += ", ";
            marks += ", ";
        }
        quoted.push_back(quoteIdent(fields_[i]));
        fieldList_ += quoted.back();
        marks += "?";
    }

    try {
        selField_ = std::vector<QueryPtr>(fields_.size());
        pointBlock_.assign(fields_.size(), -1);
        pointReads_.assign(fields_.size(), 0);
        delStmt_ = prepare("DELETE FROM " + quotedTable_ + " WHERE rowid = ?");
        insStmt_ = prepare("INSERT INTO " + quotedTable_ + " (" + fieldList_ + ") VALUES (" + marks + ")");
        updates_.reset(*engine_, quotedTable_, std::move(quoted));
        return rowidQuery(pos);
    } catch (...) {
        abandonOpen();
        throw;
    }
}

void Cursor::abandonOpen() noexcept {
    finalizeStatements();
    rowids_.clear();
    fields_.clear();
    engine_ = nullptr;
}

void Cursor::finishOpen() {
    checkAscending();
    cache_.assign(fields_.size(), FieldCache{});
    seenChanges_ = engine_->totalChanges();
    startAtFirst();
}

void Cursor::clearPending() noexcept {
    buf_.clear();
    set_ = 0;
}

void Cursor::startAtFirst() {
    clearPending();
    state_ = State::Browse;
    cur_ = rowids_.empty() ? -1 : 0;
    eof_ = rowids_.empty();
    checkInvariants();
    for (auto* o : observers_)
        o->cursorReset();
    if (afterOpen)
        afterOpen();
}

void Cursor::setOpenPass(int pos, std::function<void(int, std::string_view)> each) {
    openPassPos_ = each ? pos : -1;
    openPass_ = openPassPos_ >= 0 ? std::move(each) : nullptr;
}

bool Cursor::inStepWithFile() const {
    return isOpen() && engine_->totalChanges() == loadedChanges_ && engine_->fileVersion() == loadedVersion_;
}

bool Cursor::restart() {
    if (openPass_ || !inStepWithFile())
        return false;
    startAtFirst();
    return true;
}

// A rollback undoes writes that the change count still counts as done, so the
// rows and values held here may be ones the file no longer has: read them again.
void Cursor::reloadAfterRollback() noexcept {
    if (!isOpen())
        return;
    cancel();
    try {
        loadRowids();
    } catch (...) {
        close();
        return;
    }
    clearCache();
    seenChanges_ = engine_->totalChanges();
    const int n = int(rowids_.size());
    cur_ = n == 0 ? -1 : std::clamp(cur_, 0, n - 1);
    eof_ = n == 0;
    checkInvariants();
    for (auto* o : observers_)
        o->cursorReset();
    for (auto* o : observers_)
        o->currentChanged(cur_);
}

void Cursor::finalizeStatements() noexcept {
    for (QueryPtr* st : {&delStmt_, &insStmt_, &selRow_, &findStmt_})
        st->reset();
    selField_.clear();
    updates_.clear();
    findPos_ = -1;
}

void Cursor::close() noexcept {
    if (!isOpen())
        return;
    shownRowid_ = -1;
    finalizeStatements();
    state_ = State::Closed;
    engine_ = nullptr;
    rowids_.clear();
    cache_.clear();
    rowCache_.row = -1;
    clearPending();
    fields_.clear();
    cur_ = -1;
    eof_ = false;
    checkInvariants();
    for (auto* o : observers_)
        o->cursorReset();
}

void Cursor::connectionClosing() noexcept { close(); }

void Cursor::requireOpen() const {
    if (!isOpen())
        throw Error("表\"" + table_ + "\"没有打开");
}

void Cursor::finishPending() {
    if (!pending())
        return;
    if (set_ != 0)
        post();
    else
        cancel();
}

void Cursor::setCurrent(int row) {
    cur_ = row;
    for (auto* o : observers_)
        o->currentChanged(row);
}

void Cursor::first() {
    requireOpen();
    finishPending();
    eof_ = rowids_.empty();
    setCurrent(rowids_.empty() ? -1 : 0);
    checkInvariants();
}

void Cursor::next() {
    requireOpen();
    finishPending();
    if (cur_ + 1 < int(rowids_.size())) {
        eof_ = false;
        setCurrent(cur_ + 1);
    } else {
        eof_ = true;
    }
    checkInvariants();
}

void Cursor::moveTo(int row) {
    requireOpen();
    finishPending();
    int n = int(rowids_.size());
    if (n == 0) {
        eof_ = true;
        setCurrent(-1);
        return;
    }
    row = std::clamp(row, 0, n - 1);
    eof_ = false;
    if (row != cur_)
        setCurrent(row);
    checkInvariants();
}

int Cursor::recordCount() const {
    requireOpen();
    return int(rowids_.size());
}

int Cursor::recNo() const {
    if (!isOpen())
        return -1;
    if (state_ == State::Insert)
        return int(rowids_.size()) + 1;
    return cur_ >= 0 ? cur_ + 1 : -1;
}

int Cursor::fieldCount() const {
    requireOpen();
    return int(fields_.size());
}

const std::string& Cursor::fieldName(int pos) const {
    requireOpen();
    if (pos < 0 || pos >= int(fields_.size()))
        throw Error("表\"" + table_ + "\"没有第" + std::to_string(pos) + "个字段");
    return fields_[std::size_t(pos)];
}

int Cursor::fieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (sameNameIgnoringCase(fields_[i], name))
            return int(i);
    return -1;
}

std::string Cursor::fieldText(int pos) const {
    (void)fieldName(pos); // bounds and open check
    if (pending()) {
        const auto i = std::size_t(pos);
        if (state_ == State::Edit && !(set_ & fieldBit(pos)))
            return value(cur_, pos);
        return buf_[i].value_or(std::string());
    }
    if (cur_ < 0)
        return {};
    return value(cur_, pos);
}

std::string Cursor::fieldText(std::string_view name) const {
    requireOpen();
    int i = fieldIndex(name);
    if (i < 0)
        throw Error("字段\"" + std::string(name) + "\"不存在");
    return fieldText(i);
}

std::int64_t Cursor::rowidAt(int row) const {
    return row >= 0 && row < int(rowids_.size()) ? rowids_[std::size_t(row)] : -1;
}

std::string Cursor::rowText(int row, int pos) const {
    (void)fieldName(pos);
    if (row < 0 || row >= int(rowids_.size()))
        return {};
    return value(row, pos);
}

int Cursor::positionOf(std::int64_t rowid, int from) const {
    return int(rowids_.find(rowid, std::size_t(from)));
}

void Cursor::clearCache() const noexcept {
    rowCache_.row = -1;
    for (auto& fc : cache_)
        fc.blocks.clear();
}

void Cursor::dropCacheIfStale() const {
    const std::int64_t now = engine_->totalChanges();
    if (now != seenChanges_) {
        clearCache();
        seenChanges_ = now;
    }
}

std::vector<std::string>::iterator Cursor::readBlock(int block, int field) const {
    const int start = block * kBlockRows;
    const int count = std::min(kBlockRows, int(rowids_.size()) - start);
    assert(start >= 0 && count > 0);
    Block b;
    b.index = block;
    b.values.resize(std::size_t(count));

    QueryPtr& q = selField_[std::size_t(field)];
    if (!q)
        q = prepare("SELECT rowid, " + quoteIdent(fields_[std::size_t(field)]) + " FROM " + quotedTable_ +
                    " WHERE rowid >= ? ORDER BY rowid LIMIT ?");
    {
        const ResetQuery guard(*q);
        q->bindInt(1, rowids_[std::size_t(start)]);
        q->bindInt(2, count);
        // Rows that vanished behind our back read as empty.
        alignRows(*q, rowids_.slice(std::size_t(start), std::size_t(count)),
                  [&](std::size_t k, std::string_view text) {
                      b.values[k].assign(text);
                      return true;
                  });
    }

    b.lastUse = ++useClock_;
    auto& fc = cache_[std::size_t(field)];
    if (fc.blocks.size() >= kCacheBlocksPerField) {
        auto oldest = std::min_element(fc.blocks.begin(), fc.blocks.end(),
                                       [](const Block& x, const Block& y) { return x.lastUse < y.lastUse; });
        *oldest = std::move(b);
        fc.lastHit = std::size_t(oldest - fc.blocks.begin());
    } else {
        fc.blocks.push_back(std::move(b));
        fc.lastHit = fc.blocks.size() - 1;
    }
    return fc.blocks[fc.lastHit].values.begin();
}

const std::string& Cursor::value(int row, int field) const {
    assert(row >= 0 && row < int(rowids_.size()));
    dropCacheIfStale();
    const int block = row / kBlockRows;
    const auto offset = std::size_t(row - block * kBlockRows);
    auto& fc = cache_[std::size_t(field)];
    if (fc.lastHit < fc.blocks.size() && fc.blocks[fc.lastHit].index == block) {
        fc.blocks[fc.lastHit].lastUse = ++useClock_;
        return fc.blocks[fc.lastHit].values[offset];
    }
    for (std::size_t i = 0; i < fc.blocks.size(); ++i) {
        auto& b = fc.blocks[i];
        if (b.index == block) {
            b.lastUse = ++useClock_;
            fc.lastHit = i;
            return b.values[offset];
        }
    }
    if (rowCache_.row == row)
        return rowCache_.values[std::size_t(field)];
    // Another field of this block is cached: the caller reads whole rows here and
    // there, not a column. Read single rows until that stops paying.
    bool sibling = false;
    for (std::size_t f = 0; f < cache_.size() && !sibling; ++f)
        if (f != std::size_t(field))
            for (const auto& b : cache_[f].blocks)
                if (b.index == block) {
                    sibling = true;
                    break;
                }
    if (sibling) {
        auto i = std::size_t(field);
        if (pointBlock_[i] != block) {
            pointBlock_[i] = block;
            pointReads_[i] = 0;
        }
        if (++pointReads_[i] <= kPointReadsPerBlock)
            return *readRow(row, field);
    }
    return *(readBlock(block, field) + std::ptrdiff_t(offset));
}

const std::string* Cursor::readRow(int row, int field) const {
    if (!selRow_)
        selRow_ = prepare("SELECT " + fieldList_ + " FROM " + quotedTable_ + " WHERE rowid = ?");
    Query& q = *selRow_;
    const ResetQuery guard(q);
    q.bindInt(1, rowids_[std::size_t(row)]);
    rowCache_.row = -1;
    rowCache_.values.assign(fields_.size(), std::string());
    if (q.step())
        for (std::size_t f = 0; f < fields_.size(); ++f)
            rowCache_.values[f] = q.text(int(f));
    rowCache_.row = row;
    return &rowCache_.values[std::size_t(field)];
}

void Cursor::setField(std::string_view name, std::string_view text) {
    requireOpen();
    int i = fieldIndex(name);
    if (i < 0)
        throw Error("字段\"" + std::string(name) + "\"不存在");
    if (!pending())
        throw Error("表\"" + table_ + "\"不在编辑状态");
    buf_[std::size_t(i)] = std::string(text);
    set_ |= fieldBit(i);
    checkInvariants();
}

void Cursor::edit() {
    requireOpen();
    if (pending())
        return;
    if (cur_ < 0) {
        append();
        return;
    }
    // On a server the row is saved only as it was seen: what it holds now,
    // unless a dialog was filled from it before.
    if (engine_->isServer() && shownRowid_ != rowids_[std::size_t(cur_)])
        keepShown();
    buf_.assign(fields_.size(), std::nullopt);
    set_ = 0;
    state_ = State::Edit;
    checkInvariants();
}

void Cursor::keepShown() {
    requireOpen();
    shownRowid_ = -1;
    if (cur_ < 0)
        return;
    shown_.assign(fields_.size(), {});
    for (std::size_t f = 0; f < fields_.size(); ++f)
        shown_[f] = value(cur_, int(f));
    shownRowid_ = rowids_[std::size_t(cur_)];
}

// The UPDATE holds the shown values in its condition, so a change another
// program committed in between makes it write nothing; no lock is held
// while the user types.
void Cursor::postCheckedEdit(FieldSet written) {
    const std::int64_t rowid = rowids_[std::size_t(cur_)];
    if (shownRowid_ != rowid)
        keepShown();
    std::string sql = "UPDATE " + quotedTable_ + " SET ";
    bool firstSet = true;
    for (std::size_t f = 0; f < fields_.size(); ++f) {
        if (!(written & fieldBit(int(f))))
            continue;
        sql += (firstSet ? "" : ", ") + quoteIdent(fields_[f]) + " = ?";
        firstSet = false;
    }
    sql += " WHERE rowid = ?";
    for (const std::string& f : fields_)
        sql += " AND COALESCE(" + quoteIdent(f) + ", '') = ?";
    {
        const QueryPtr q = prepare(sql);
        int k = 0;
        for (std::size_t i = 0; i < buf_.size(); ++i) {
            if (!(written & fieldBit(int(i))))
                continue;
            if (buf_[i])
                q->bindText(++k, *buf_[i]);
            else
                q->bindNull(++k);
        }
        q->bindInt(++k, rowid);
        for (const std::string& v : shown_)
            q->bindText(++k, v);
        (void)q->step();
    }
    if (engine_->changes() != 0)
        return;
    const QueryPtr there = prepare("SELECT 1 FROM " + quotedTable_ + " WHERE rowid = ?");
    there->bindInt(1, rowid);
    throw Error(there->step() ? kRowChangedText : kRowGone);
}

long long Cursor::appendPosition() {
    requireOpen();
    if (!engine_->isServer())
        return recordCount() + 1;
    lockBook();
    const QueryPtr count = prepare("SELECT count(*) FROM " + quotedTable_);
    (void)count->step();
    return count->integer(0) + 1;
}

void Cursor::lockBook() {
    requireOpen();
    if (!engine_->isServer())
        return;
    lockServerBook(*engine_, table_);
}

void lockServerBook(Engine& e, const std::string& table) {
    if (!e.inTransaction())
        throw Error("服务器出错:锁定本表时没有进行中的事务");
    const QueryPtr lock = e.prepare("SELECT pg_advisory_xact_lock(hashtext(current_schema()), hashtext(?))");
    lock->bindText(1, table);
    (void)lock->step();
}

bool Cursor::refresh() {
    requireOpen();
    if (pending())
        throw Error("表\"" + table_ + "\"有未保存的记录");
    const std::int64_t id = cur_ >= 0 ? rowids_[std::size_t(cur_)] : -1;
    const int was = cur_;
    try {
        loadRowids();
    } catch (...) {
        close();
        throw;
    }
    clearCache();
    seenChanges_ = engine_->totalChanges();
    const int n = int(rowids_.size());
    const int at = id >= 0 ? positionOf(id, 0) : -1;
    if (n == 0)
        cur_ = -1;
    else if (at >= 0)
        cur_ = at;
    else if (id >= 0) // the next row after it, else the last
        cur_ = std::min(int(rowids_.lowerBound(id)), n - 1);
    else
        cur_ = std::clamp(was, 0, n - 1);
    eof_ = n == 0;
    checkInvariants();
    for (auto* o : observers_)
        o->cursorReset();
    for (auto* o : observers_)
        o->currentChanged(cur_);
    return id < 0 || at >= 0;
}

int Cursor::rowOf(std::int64_t rowid) const { return positionOf(rowid, 0); }

void Cursor::append() {
    requireOpen();
    finishPending();
    buf_.assign(fields_.size(), std::nullopt);
    set_ = 0;
    state_ = State::Insert;
    checkInvariants();
}

void Cursor::cancel() noexcept {
    if (!pending())
        return;
    clearPending();
    state_ = State::Browse;
    checkInvariants();
}

// Own writes keep the cache valid; only a change made elsewhere on the
// connection should throw it away.
void Cursor::post() {
    requireOpen();
    if (!pending())
        throw Error("表\"" + table_ + "\"没有要保存的记录");
    const bool cacheFresh = engine_->totalChanges() == seenChanges_;
    const bool inserted = state_ == State::Insert;
    const FieldSet all = fields_.size() == std::size_t(kMaxFieldSetFields) ? ~FieldSet(0)
                                                                          : fieldBit(int(fields_.size())) - 1;
    // An edit writes only the fields it set; an explicit post of an edit that set
    // none writes the row back whole, as it reads.
    if (!inserted && set_ == 0) {
        for (std::size_t f = 0; f < fields_.size(); ++f)
            buf_[f] = value(cur_, int(f));
        set_ = all;
    }
    const FieldSet written = inserted ? all : set_;

    const std::int64_t before = engine_->totalChanges();
    if (!inserted && engine_->isServer()) {
        postCheckedEdit(written);
    } else {
        Query& q = inserted ? *insStmt_ : updates_.forFields(written);
        const ResetQuery guard(q);
        int k = 0;
        for (std::size_t i = 0; i < buf_.size(); ++i) {
            if (!(written & fieldBit(int(i))))
                continue;
            if (buf_[i])
                q.bindText(++k, *buf_[i]);
            else
                q.bindNull(++k);
        }
        if (!inserted)
            q.bindInt(k + 1, rowids_[std::size_t(cur_)]);
        (void)q.step();
        // The row is gone from the file (someone else removed it): nothing was saved.
        if (state_ == State::Edit && engine_->changes() == 0)
            throw Error(kRowGone);
    }

    shownRowid_ = -1;
    if (!cacheFresh)
        clearCache();
    seenChanges_ = engine_->totalChanges();
    if (loadedChanges_ == before) // our own write: the rowids below stay in step with the file
        loadedChanges_ = seenChanges_;
    rowCache_.row = -1;

    if (inserted) {
        const std::int64_t id = engine_->lastRowid();
        // A new row goes last: an engine that reused a lower rowid would break the order.
        assert(rowids_.empty() || rowids_.back() < id);
        rowids_.push_back(id);
    }
    const int row = inserted ? int(rowids_.size()) - 1 : cur_;
    const int block = row / kBlockRows;
    const auto offset = std::size_t(row - block * kBlockRows);
    // The pending values go into the cached blocks; buf_ is cleared below anyway.
    for (std::size_t f = 0; f < cache_.size(); ++f) {
        if (!(written & fieldBit(int(f))))
            continue;
        auto& blocks = cache_[f].blocks;
        for (auto& b : blocks) {
            if (b.index != block)
                continue;
            std::string v = buf_[f] ? std::move(*buf_[f]) : std::string();
            if (!inserted)
                b.values[offset] = std::move(v);
            else if (b.values.size() == offset)
                b.values.push_back(std::move(v));
        }
        // A block read before the insert that cannot take the new row is dropped.
        if (inserted)
            std::erase_if(blocks, [&](const Block& b) { return b.index == block && b.values.size() != offset + 1; });
    }

    clearPending();
    state_ = State::Browse;
    eof_ = false;
    for (auto* o : observers_)
        inserted ? o->rowInserted(row) : o->rowUpdated(row);
    if (row != cur_)
        setCurrent(row);
    checkInvariants();
    if (afterPost)
        afterPost();
}

void Cursor::rewriteRows(const std::function<RowRanges()>& write) {
    requireOpen();
    if (pending())
        throw Error("表\"" + table_ + "\"有未保存的记录");
    const std::int64_t before = engine_->totalChanges();
    const auto taken = [&] {
        clearCache();
        shownRowid_ = -1;
        seenChanges_ = engine_->totalChanges();
    };
    RowRanges changed;
    try {
        changed = write();
    } catch (...) {
        taken();
        for (auto* o : observers_)
            o->rowsUpdated(0, int(rowids_.size()));
        throw;
    }
    taken();
    if (loadedChanges_ == before)
        loadedChanges_ = seenChanges_;
    for (const auto& [from, to] : changed)
        for (auto* o : observers_)
            o->rowsUpdated(from, to);
    checkInvariants();
}

void Cursor::remove() {
    requireOpen();
    if (state_ == State::Insert) {
        cancel();
        return;
    }
    cancel();
    if (cur_ < 0)
        throw Error("表\"" + table_ + "\"中没有记录可删除");
    const bool cacheFresh = engine_->totalChanges() == seenChanges_;
    const std::int64_t before = engine_->totalChanges();
    {
        Query& q = *delStmt_;
        const ResetQuery guard(q);
        q.bindInt(1, rowids_[std::size_t(cur_)]);
        (void)q.step();
        if (engine_->changes() == 0)
            throw Error(kRowGone);
    }
    const int row = cur_;
    rowids_.erase(std::size_t(row));
    rowCache_.row = -1;
    // Rows before the deleted one keep their places, and so their blocks.
    if (cacheFresh) {
        for (auto& fc : cache_)
            std::erase_if(fc.blocks, [&](const Block& b) { return b.index >= row / kBlockRows; });
    } else {
        clearCache();
    }
    seenChanges_ = engine_->totalChanges();
    if (loadedChanges_ == before)
        loadedChanges_ = seenChanges_;
    for (auto* o : observers_)
        o->rowRemoved(row);
    const int n = int(rowids_.size());
    eof_ = n == 0;
    setCurrent(n == 0 ? -1 : std::min(row, n - 1));
    checkInvariants();
}

void Cursor::addObserver(CursorObserver* o) {
    if (std::find(observers_.begin(), observers_.end(), o) == observers_.end())
        observers_.push_back(o);
}

void Cursor::removeObserver(CursorObserver* o) noexcept {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

void Cursor::checkAscending() const {
#ifndef NDEBUG
    for (std::size_t i = 1; i < rowids_.size(); ++i)
        assert(rowids_[i - 1] < rowids_[i]);
#endif
}

void Cursor::checkInvariants() const {
#ifndef NDEBUG
    if (!isOpen()) {
        assert(rowids_.empty() && cur_ == -1 && !eof_);
        assert(buf_.empty() && set_ == 0 && cache_.empty() && engine_ == nullptr);
        return;
    }
    const int n = int(rowids_.size());
    assert(engine_ != nullptr);
    // The rowids ascend (checked whole on loading, here at the ends where they change).
    assert(n < 2 || rowids_[std::size_t(n - 2)] < rowids_[std::size_t(n - 1)]);
    assert(n < 2 || cur_ < 1 || cur_ >= n || rowids_[std::size_t(cur_ - 1)] < rowids_[std::size_t(cur_)]);
    // The current row is a stored one, none only in an empty table; eof is on the last row.
    assert(cur_ >= -1 && cur_ < n);
    assert((cur_ == -1) == (n == 0));
    assert(n > 0 || eof_);
    assert(!eof_ || n == 0 || cur_ == n - 1);
    // A pending row has a value slot per field, and a value only where a field was set.
    if (pending()) {
        assert(buf_.size() == fields_.size());
        assert(state_ == State::Insert || cur_ >= 0);
        for (std::size_t f = 0; f < buf_.size(); ++f)
            assert(!buf_[f] || (set_ & fieldBit(int(f))));
    } else {
        assert(buf_.empty() && set_ == 0);
    }
    assert(fields_.size() == std::size_t(kMaxFieldSetFields) || set_ >> fields_.size() == 0);
    // Every cached block lies within the rowids.
    assert(cache_.size() == fields_.size() && selField_.size() == fields_.size());
    for (const auto& fc : cache_) {
        assert(fc.blocks.size() <= kCacheBlocksPerField);
        for (const auto& b : fc.blocks) {
            assert(b.index >= 0 && !b.values.empty() && b.values.size() <= std::size_t(kBlockRows));
            assert(std::size_t(b.index) * kBlockRows + b.values.size() <= std::size_t(n));
        }
    }
    assert(rowCache_.row < n);
#endif
}

} // namespace tsl
