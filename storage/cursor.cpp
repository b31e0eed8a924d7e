#include "cursor.h"

#include "connection.h"
#include "error.h"
#include "schema.h"

#include <sqlite3.h>

#include <algorithm>

namespace tsl {

namespace {

constexpr int kBlockRows = 256;
constexpr std::size_t kCacheBlocksPerField = 8;
constexpr int kPointReadsPerBlock = 8;
const char* const kRowGone = "该记录已不在帐本中,可能已被另一个程序删除";

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

std::string columnText(sqlite3_stmt* st, int col) {
    auto* t = sqlite3_column_text(st, col);
    if (!t)
        return {};
    return std::string(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st, col)));
}

// Resets a statement when leaving scope, so a throw never leaves it mid-step.
struct StmtReset {
    sqlite3_stmt* st;
    ~StmtReset() {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

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

sqlite3_stmt* Cursor::prepare(const std::string& sql) const {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(conn_.handle(), sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &st,
                           nullptr) != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(conn_.handle());
        sqlite3_finalize(st);
        throw Error(msg);
    }
    return st;
}

void Cursor::open() {
    if (isOpen())
        return;
    if (!conn_.connected())
        throw Error("数据库没有连接");
    if (table_.empty())
        throw Error("没有指定表名");
    quotedTable_ = quoteIdent(table_);

    sqlite3_stmt* head = nullptr;
    try {
        head = prepare("SELECT * FROM " + quotedTable_ + " LIMIT 0");
    } catch (const Error&) {
        throw Error("找不到表\"" + table_ + "\"");
    }
    fields_.clear();
    for (int i = 0, n = sqlite3_column_count(head); i < n; ++i)
        fields_.emplace_back(sqlite3_column_name(head, i));
    sqlite3_finalize(head);

    std::string fieldList, marks, assigns;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i) {
            fieldList += ", ";
            marks += ", ";
            assigns += ", ";
        }
        fieldList += quoteIdent(fields_[i]);
        marks += "?";
        assigns += quoteIdent(fields_[i]) + " = ?";
    }

    try {
        loadRowids();
        selField_.assign(fields_.size(), nullptr);
        pointBlock_.assign(fields_.size(), -1);
        pointReads_.assign(fields_.size(), 0);
        delStmt_ = prepare("DELETE FROM " + quotedTable_ + " WHERE rowid = ?");
        insStmt_ = prepare("INSERT INTO " + quotedTable_ + " (" + fieldList + ") VALUES (" + marks + ")");
        updStmt_ = prepare("UPDATE " + quotedTable_ + " SET " + assigns + " WHERE rowid = ?");
    } catch (...) {
        finalizeStatements();
        rowids_.clear();
        throw;
    }

    cache_.assign(fields_.size(), FieldCache{});
    seenChanges_ = sqlite3_total_changes64(conn_.handle());
    buf_.clear();
    bufTouched_ = false;
    state_ = State::Browse;
    cur_ = rowids_.empty() ? -1 : 0;
    eof_ = rowids_.empty();
    for (auto* o : observers_)
        o->cursorReset();
    if (afterOpen)
        afterOpen();
}

void Cursor::loadRowids() {
    rowids_.clear();
    sqlite3_stmt* ids = prepare("SELECT rowid FROM " + quotedTable_ + " ORDER BY rowid");
    int rc;
    while ((rc = sqlite3_step(ids)) == SQLITE_ROW)
        rowids_.push_back(sqlite3_column_int64(ids, 0));
    sqlite3_finalize(ids);
    if (rc != SQLITE_DONE)
        throw Error(sqlite3_errmsg(conn_.handle()));
}

// A rollback undoes writes that total_changes still counts as done, so the rows
// and values held here may be ones the file no longer has: read them again.
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
    seenChanges_ = sqlite3_total_changes64(conn_.handle());
    const int n = int(rowids_.size());
    cur_ = n == 0 ? -1 : std::clamp(cur_, 0, n - 1);
    eof_ = n == 0;
    for (auto* o : observers_)
        o->cursorReset();
    for (auto* o : observers_)
        o->currentChanged(cur_);
}

void Cursor::finalizeStatements() noexcept {
    for (sqlite3_stmt** st : {&delStmt_, &insStmt_, &updStmt_, &selRow_}) {
        sqlite3_finalize(*st);
        *st = nullptr;
    }
    for (sqlite3_stmt* st : selField_)
        sqlite3_finalize(st);
    selField_.clear();
}

void Cursor::close() noexcept {
    if (!isOpen())
        return;
    finalizeStatements();
    state_ = State::Closed;
    rowids_.clear();
    rowids_.shrink_to_fit();
    cache_.clear();
    rowCache_.row = -1;
    buf_.clear();
    fields_.clear();
    cur_ = -1;
    eof_ = false;
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
    if (bufTouched_)
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
    if (pending())
        return buf_[std::size_t(pos)].value_or(std::string());
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

void Cursor::clearCache() const noexcept {
    rowCache_.row = -1;
    for (auto& fc : cache_)
        fc.blocks.clear();
}

void Cursor::dropCacheIfStale() const {
    long long now = sqlite3_total_changes64(conn_.handle());
    if (now != seenChanges_) {
        clearCache();
        seenChanges_ = now;
    }
}

std::vector<std::string>::iterator Cursor::readBlock(int block, int field) const {
    const int start = block * kBlockRows;
    const int count = std::min(kBlockRows, int(rowids_.size()) - start);
    Block b;
    b.index = block;
    b.values.resize(std::size_t(count));

    sqlite3_stmt*& st = selField_[std::size_t(field)];
    if (!st)
        st = prepare("SELECT rowid, " + quoteIdent(fields_[std::size_t(field)]) + " FROM " + quotedTable_ +
                     " WHERE rowid >= ? ORDER BY rowid LIMIT ?");
    StmtReset guard{st};
    sqlite3_bind_int64(st, 1, rowids_[std::size_t(start)]);
    sqlite3_bind_int(st, 2, count);
    int k = 0;
    int rc = SQLITE_DONE;
    while (k < count && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::int64_t id = sqlite3_column_int64(st, 0);
        // Rows that vanished behind our back read as empty.
        while (k < count && rowids_[std::size_t(start + k)] < id)
            ++k;
        if (k < count && rowids_[std::size_t(start + k)] == id) {
            b.values[std::size_t(k)] = columnText(st, 1);
            ++k;
        }
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw Error(sqlite3_errmsg(conn_.handle()));

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
        selRow_ = prepare("SELECT * FROM " + quotedTable_ + " WHERE rowid = ?");
    StmtReset guard{selRow_};
    sqlite3_bind_int64(selRow_, 1, rowids_[std::size_t(row)]);
    rowCache_.row = -1;
    rowCache_.values.assign(fields_.size(), std::string());
    int rc = sqlite3_step(selRow_);
    if (rc == SQLITE_ROW) {
        for (std::size_t f = 0; f < fields_.size(); ++f)
            rowCache_.values[f] = columnText(selRow_, int(f));
    } else if (rc != SQLITE_DONE) {
        throw Error(sqlite3_errmsg(conn_.handle()));
    }
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
    bufTouched_ = true;
}

void Cursor::edit() {
    requireOpen();
    if (pending())
        return;
    if (cur_ < 0) {
        append();
        return;
    }
    std::vector<std::optional<std::string>> vals;
    vals.reserve(fields_.size());
    for (int f = 0; f < int(fields_.size()); ++f)
        vals.emplace_back(value(cur_, f));
    buf_ = std::move(vals);
    bufTouched_ = false;
    state_ = State::Edit;
}

void Cursor::append() {
    requireOpen();
    finishPending();
    buf_.assign(fields_.size(), std::nullopt);
    bufTouched_ = false;
    state_ = State::Insert;
}

void Cursor::cancel() noexcept {
    if (!pending())
        return;
    buf_.clear();
    bufTouched_ = false;
    state_ = State::Browse;
}

// Own writes keep the cache valid; only a change made elsewhere on the
// connection should throw it away.
void Cursor::post() {
    requireOpen();
    if (!pending())
        throw Error("表\"" + table_ + "\"没有要保存的记录");
    sqlite3* db = conn_.handle();
    const bool cacheFresh = sqlite3_total_changes64(db) == seenChanges_;

    sqlite3_stmt* st = state_ == State::Insert ? insStmt_ : updStmt_;
    {
        StmtReset guard{st};
        for (std::size_t i = 0; i < buf_.size(); ++i) {
            if (buf_[i])
                sqlite3_bind_text(st, int(i) + 1, buf_[i]->data(), int(buf_[i]->size()), SQLITE_STATIC);
            else
                sqlite3_bind_null(st, int(i) + 1);
        }
        if (state_ == State::Edit)
            sqlite3_bind_int64(st, int(buf_.size()) + 1, rowids_[std::size_t(cur_)]);
        if (sqlite3_step(st) != SQLITE_DONE)
            throw Error(sqlite3_errmsg(db));
        // The row is gone from the file (someone else removed it): nothing was saved.
        if (state_ == State::Edit && sqlite3_changes(db) == 0)
            throw Error(kRowGone);
    }

    if (!cacheFresh)
        clearCache();
    seenChanges_ = sqlite3_total_changes64(db);
    rowCache_.row = -1;

    const bool inserted = state_ == State::Insert;
    if (inserted)
        rowids_.push_back(sqlite3_last_insert_rowid(db));
    const int row = inserted ? int(rowids_.size()) - 1 : cur_;
    const int block = row / kBlockRows;
    const auto offset = std::size_t(row - block * kBlockRows);
    // The pending values go into the cached blocks; buf_ is cleared below anyway.
    for (std::size_t f = 0; f < cache_.size(); ++f) {
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

    buf_.clear();
    bufTouched_ = false;
    state_ = State::Browse;
    eof_ = false;
    for (auto* o : observers_)
        inserted ? o->rowInserted(row) : o->rowUpdated(row);
    if (row != cur_)
        setCurrent(row);
    if (afterPost)
        afterPost();
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
    sqlite3* db = conn_.handle();
    const bool cacheFresh = sqlite3_total_changes64(db) == seenChanges_;
    {
        StmtReset guard{delStmt_};
        sqlite3_bind_int64(delStmt_, 1, rowids_[std::size_t(cur_)]);
        if (sqlite3_step(delStmt_) != SQLITE_DONE)
            throw Error(sqlite3_errmsg(db));
        if (sqlite3_changes(db) == 0)
            throw Error(kRowGone);
    }
    const int row = cur_;
    rowids_.erase(rowids_.begin() + row);
    rowCache_.row = -1;
    // Rows before the deleted one keep their places, and so their blocks.
    if (cacheFresh) {
        for (auto& fc : cache_)
            std::erase_if(fc.blocks, [&](const Block& b) { return b.index >= row / kBlockRows; });
    } else {
        clearCache();
    }
    seenChanges_ = sqlite3_total_changes64(db);
    for (auto* o : observers_)
        o->rowRemoved(row);
    const int n = int(rowids_.size());
    eof_ = n == 0;
    setCurrent(n == 0 ? -1 : std::min(row, n - 1));
}

void Cursor::addObserver(CursorObserver* o) {
    if (std::find(observers_.begin(), observers_.end(), o) == observers_.end())
        observers_.push_back(o);
}

void Cursor::removeObserver(CursorObserver* o) noexcept {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

} // namespace tsl
