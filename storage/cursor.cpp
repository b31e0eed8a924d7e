#include "storage/cursor.h"

#include "storage/connection.h"
#include "storage/error.h"
#include "storage/prepared.h"
#include "storage/schema.h"

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

std::string columnText(sqlite3_stmt* st, int col) { return std::string(columnView(st, col)); }

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
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v3(conn_.handle(), sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    StmtOwner st(raw);
    if (rc != SQLITE_OK)
        throw sqliteError(conn_.handle());
    return st.release();
}

void Cursor::open() {
    if (isOpen())
        return;
    if (!conn_.connected())
        throw Error("数据库没有连接");
    if (table_.empty())
        throw Error("没有指定表名");
    quotedTable_ = quoteIdent(table_);

    StmtOwner head;
    try {
        head.reset(prepare("SELECT * FROM " + quotedTable_ + " LIMIT 0"));
    } catch (const Error& e) {
        // A damaged or locked file says so; anything else here is a missing table.
        if (e.kind() != Failure::Other && e.kind() != Failure::MissingTable)
            throw;
        throw Error(Failure::MissingTable, e.file(), table_);
    }
    fields_.clear();
    for (int i = 0, n = sqlite3_column_count(head.get()); i < n; ++i)
        fields_.emplace_back(sqlite3_column_name(head.get(), i));
    head.reset();

    fieldList_.clear();
    std::string marks;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i) {
            fieldList_ += ", ";
            marks += ", ";
        }
        fieldList_ += quoteIdent(fields_[i]);
        marks += "?";
    }

    try {
        loadRowids(true);
        selField_ = std::vector<StmtOwner>(fields_.size());
        pointBlock_.assign(fields_.size(), -1);
        pointReads_.assign(fields_.size(), 0);
        delStmt_.reset(prepare("DELETE FROM " + quotedTable_ + " WHERE rowid = ?"));
        insStmt_.reset(prepare("INSERT INTO " + quotedTable_ + " (" + fieldList_ + ") VALUES (" + marks + ")"));
    } catch (...) {
        finalizeStatements();
        rowids_.clear();
        throw;
    }

    cache_.assign(fields_.size(), FieldCache{});
    seenChanges_ = sqlite3_total_changes64(conn_.handle());
    startAtFirst();
}

void Cursor::startAtFirst() {
    buf_.clear();
    set_.clear();
    bufTouched_ = false;
    state_ = State::Browse;
    cur_ = rowids_.empty() ? -1 : 0;
    eof_ = rowids_.empty();
    for (auto* o : observers_)
        o->cursorReset();
    if (afterOpen)
        afterOpen();
}

void Cursor::setOpenPass(int pos, std::function<void(int, std::string_view)> each) {
    openPassPos_ = each ? pos : -1;
    openPass_ = openPassPos_ >= 0 ? std::move(each) : nullptr;
}

std::pair<long long, long long> Cursor::fileVersion() const {
    if (!versionStmt_)
        versionStmt_.reset(prepare("SELECT (SELECT data_version FROM pragma_data_version), "
                                   "(SELECT schema_version FROM pragma_schema_version)"));
    sqlite3_stmt* const st = versionStmt_.get();
    const ResetOnExit guard(st);
    if (sqlite3_step(st) != SQLITE_ROW)
        throw sqliteError(conn_.handle());
    return {sqlite3_column_int64(st, 0), sqlite3_column_int64(st, 1)};
}

void Cursor::loadRowids(bool withPass) {
    rowids_.clear();
    sqlite3* db = conn_.handle();
    // Taken before reading: a write in between costs at most a needless reload.
    loadedVersion_ = fileVersion();
    loadedChanges_ = sqlite3_total_changes64(db);

    // Rowids are mostly dense: one allocation of the right size spares the
    // doubling's copies and its peak of a list and a half.
    {
        // Two subqueries: min and max together in one would scan the whole table.
        sqlite3_stmt* span = prepare("SELECT (SELECT min(rowid) FROM " + quotedTable_ + "), (SELECT max(rowid) FROM " +
                                     quotedTable_ + ")");
        const StmtOwner done(span);
        if (sqlite3_step(span) == SQLITE_ROW && sqlite3_column_type(span, 0) != SQLITE_NULL) {
            const auto lo = sqlite3_column_int64(span, 0), hi = sqlite3_column_int64(span, 1);
            if (hi >= lo && hi - lo < (std::int64_t(1) << 24))
                rowids_.reserve(std::size_t(hi - lo + 1));
        }
    }

    const bool pass = withPass && openPass_ && openPassPos_ < int(fields_.size());
    std::string sql = "SELECT rowid";
    if (pass)
        sql += ", " + quoteIdent(fields_[std::size_t(openPassPos_)]);
    sqlite3_stmt* ids = prepare(sql + " FROM " + quotedTable_ + " ORDER BY rowid");
    const StmtOwner done(ids);
    int rc;
    while ((rc = sqlite3_step(ids)) == SQLITE_ROW) {
        rowids_.push_back(sqlite3_column_int64(ids, 0));
        if (pass)
            openPass_(int(rowids_.size()) - 1, columnView(ids, 1));
    }
    if (rc != SQLITE_DONE)
        throw sqliteError(db);
}

bool Cursor::restart() {
    if (!isOpen() || openPass_)
        return false;
    if (sqlite3_total_changes64(conn_.handle()) != loadedChanges_ || fileVersion() != loadedVersion_)
        return false;
    startAtFirst();
    return true;
}

// A rollback undoes writes that total_changes still counts as done, so the rows
// and values held here may be ones the file no longer has: read them again.
void Cursor::reloadAfterRollback() noexcept {
    if (!isOpen())
        return;
    cancel();
    try {
        loadRowids(false);
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
    for (StmtOwner* st : {&delStmt_, &insStmt_, &selRow_, &findStmt_, &versionStmt_})
        st->reset();
    selField_.clear();
    updStmts_.clear();
    findPos_ = -1;
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
    set_.clear();
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
    if (pending()) {
        const auto i = std::size_t(pos);
        if (state_ == State::Edit && !set_[i])
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
    auto it = std::lower_bound(rowids_.begin() + from, rowids_.end(), rowid);
    return it != rowids_.end() && *it == rowid ? int(it - rowids_.begin()) : -1;
}

bool Cursor::forEachMatch(int pos, std::string_view text, const std::function<bool()>& visit) {
    (void)fieldName(pos);
    first();
    const int n = int(rowids_.size());
    // A NULL, and a row gone since the rowids were read, read as "" but are never
    // equal in SQL: for "" only a walk gives the same rows.
    if (text.empty()) {
        for (int i = 0; i < n; ++i) {
            if (fieldText(pos).empty() && !visit())
                return true;
            next();
        }
        return false;
    }
    if (!findStmt_ || findPos_ != pos) {
        findStmt_.reset();
        // As text and in binary order whatever the column declares, as fieldText compares.
        findStmt_.reset(prepare("SELECT rowid, " + fieldList_ + " FROM " + quotedTable_ + " WHERE CAST(" +
                                quoteIdent(fields_[std::size_t(pos)]) +
                                " AS TEXT) COLLATE BINARY = ?1 ORDER BY rowid"));
        findPos_ = pos;
    }
    sqlite3_stmt* st = findStmt_.get();
    const ResetOnExit guard(st);
    sqlite3_bind_text(st, 1, text.data(), int(text.size()), SQLITE_STATIC);
    int from = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const int row = positionOf(sqlite3_column_int64(st, 0), from);
        if (row < 0)
            continue; // added since this cursor read its rows: a walk would not see it either
        from = row + 1;
        dropCacheIfStale();
        rowCache_.row = -1;
        rowCache_.values.resize(fields_.size());
        for (std::size_t f = 0; f < fields_.size(); ++f)
            rowCache_.values[f] = columnText(st, int(f) + 1);
        rowCache_.row = row;
        eof_ = false;
        if (row != cur_)
            setCurrent(row);
        if (!visit())
            return true;
    }
    if (rc != SQLITE_DONE)
        throw sqliteError(conn_.handle());
    eof_ = true;
    if (n > 0 && cur_ != n - 1)
        setCurrent(n - 1);
    return false;
}

void Cursor::scanField(int pos, const std::function<bool(int, std::string_view)>& each) const {
    (void)fieldName(pos);
    sqlite3_stmt* st = prepare("SELECT rowid, " + quoteIdent(fields_[std::size_t(pos)]) + " FROM " + quotedTable_ +
                               " ORDER BY rowid");
    const StmtOwner done(st);
    const int n = int(rowids_.size());
    int row = 0;
    int rc = SQLITE_DONE;
    while (row < n && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        const std::int64_t id = sqlite3_column_int64(st, 0);
        for (; row < n && rowids_[std::size_t(row)] < id; ++row)
            if (!each(row, {}))
                return;
        if (row < n && rowids_[std::size_t(row)] == id) {
            if (!each(row, columnView(st, 1)))
                return;
            ++row;
        }
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw sqliteError(conn_.handle());
    for (; row < n; ++row)
        if (!each(row, {}))
            return;
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

    StmtOwner& owned = selField_[std::size_t(field)];
    if (!owned)
        owned.reset(prepare("SELECT rowid, " + quoteIdent(fields_[std::size_t(field)]) + " FROM " + quotedTable_ +
                            " WHERE rowid >= ? ORDER BY rowid LIMIT ?"));
    sqlite3_stmt* const st = owned.get();
    const ResetOnExit guard(st);
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
        throw sqliteError(conn_.handle());

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
        selRow_.reset(prepare("SELECT * FROM " + quotedTable_ + " WHERE rowid = ?"));
    sqlite3_stmt* const st = selRow_.get();
    const ResetOnExit guard(st);
    sqlite3_bind_int64(st, 1, rowids_[std::size_t(row)]);
    rowCache_.row = -1;
    rowCache_.values.assign(fields_.size(), std::string());
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
        for (std::size_t f = 0; f < fields_.size(); ++f)
            rowCache_.values[f] = columnText(st, int(f));
    } else if (rc != SQLITE_DONE) {
        throw sqliteError(conn_.handle());
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
    set_[std::size_t(i)] = 1;
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
    buf_.assign(fields_.size(), std::nullopt);
    set_.assign(fields_.size(), 0);
    bufTouched_ = false;
    state_ = State::Edit;
}

void Cursor::append() {
    requireOpen();
    finishPending();
    buf_.assign(fields_.size(), std::nullopt);
    set_.assign(fields_.size(), 0);
    bufTouched_ = false;
    state_ = State::Insert;
}

void Cursor::cancel() noexcept {
    if (!pending())
        return;
    buf_.clear();
    set_.clear();
    bufTouched_ = false;
    state_ = State::Browse;
}

sqlite3_stmt* Cursor::updateFor(const std::vector<char>& fields) {
    std::string key;
    for (char f : fields)
        key += f ? '1' : '0';
    for (const auto& [k, st] : updStmts_)
        if (k == key)
            return st.get();
    std::string assigns;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i])
            assigns += (assigns.empty() ? "" : ", ") + quoteIdent(fields_[i]) + " = ?";
    StmtOwner owned(prepare("UPDATE " + quotedTable_ + " SET " + assigns + " WHERE rowid = ?"));
    sqlite3_stmt* const st = owned.get();
    updStmts_.emplace_back(std::move(key), std::move(owned));
    return st;
}

// Own writes keep the cache valid; only a change made elsewhere on the
// connection should throw it away.
void Cursor::post() {
    requireOpen();
    if (!pending())
        throw Error("表\"" + table_ + "\"没有要保存的记录");
    sqlite3* db = conn_.handle();
    const bool cacheFresh = sqlite3_total_changes64(db) == seenChanges_;
    const bool inserted = state_ == State::Insert;
    // An edit writes only the fields it set; an explicit post of an edit that set
    // none writes the row back whole, as it reads.
    if (!inserted && std::find(set_.begin(), set_.end(), 1) == set_.end()) {
        for (std::size_t f = 0; f < fields_.size(); ++f)
            buf_[f] = value(cur_, int(f));
        set_.assign(fields_.size(), 1);
    }
    auto written = [&](std::size_t f) { return inserted || set_[f]; };

    sqlite3_stmt* st = inserted ? insStmt_.get() : updateFor(set_);
    const long long before = sqlite3_total_changes64(db);
    {
        const ResetOnExit guard(st);
        int k = 0;
        for (std::size_t i = 0; i < buf_.size(); ++i) {
            if (!written(i))
                continue;
            if (buf_[i])
                sqlite3_bind_text(st, ++k, buf_[i]->data(), int(buf_[i]->size()), SQLITE_STATIC);
            else
                sqlite3_bind_null(st, ++k);
        }
        if (!inserted)
            sqlite3_bind_int64(st, k + 1, rowids_[std::size_t(cur_)]);
        if (sqlite3_step(st) != SQLITE_DONE)
            throw sqliteError(db);
        // The row is gone from the file (someone else removed it): nothing was saved.
        if (state_ == State::Edit && sqlite3_changes(db) == 0)
            throw Error(kRowGone);
    }

    if (!cacheFresh)
        clearCache();
    seenChanges_ = sqlite3_total_changes64(db);
    if (loadedChanges_ == before) // our own write: the rowids below stay in step with the file
        loadedChanges_ = seenChanges_;
    rowCache_.row = -1;

    if (inserted)
        rowids_.push_back(sqlite3_last_insert_rowid(db));
    const int row = inserted ? int(rowids_.size()) - 1 : cur_;
    const int block = row / kBlockRows;
    const auto offset = std::size_t(row - block * kBlockRows);
    // The pending values go into the cached blocks; buf_ is cleared below anyway.
    for (std::size_t f = 0; f < cache_.size(); ++f) {
        if (!written(f))
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

    buf_.clear();
    set_.clear();
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
    const long long before = sqlite3_total_changes64(db);
    {
        sqlite3_stmt* const st = delStmt_.get();
        const ResetOnExit guard(st);
        sqlite3_bind_int64(st, 1, rowids_[std::size_t(cur_)]);
        if (sqlite3_step(st) != SQLITE_DONE)
            throw sqliteError(db);
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
    if (loadedChanges_ == before)
        loadedChanges_ = seenChanges_;
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
