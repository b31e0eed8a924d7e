#include "cursor.h"

#include "connection.h"
#include "error.h"

#include <sqlite3.h>

#include <algorithm>

namespace tsl {

namespace {

constexpr int kBlockRows = 256;
constexpr std::size_t kCacheBlocks = 8;

std::string quoteIdent(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

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
        rowids_.clear();
        sqlite3_stmt* ids = prepare("SELECT rowid FROM " + quotedTable_ + " ORDER BY rowid");
        int rc;
        while ((rc = sqlite3_step(ids)) == SQLITE_ROW)
            rowids_.push_back(sqlite3_column_int64(ids, 0));
        sqlite3_finalize(ids);
        if (rc != SQLITE_DONE)
            throw Error(sqlite3_errmsg(conn_.handle()));

        selBlock_ = prepare("SELECT rowid, * FROM " + quotedTable_ + " WHERE rowid >= ? ORDER BY rowid LIMIT ?");
        delStmt_ = prepare("DELETE FROM " + quotedTable_ + " WHERE rowid = ?");
        insStmt_ = prepare("INSERT INTO " + quotedTable_ + " (" + fieldList + ") VALUES (" + marks + ")");
        updStmt_ = prepare("UPDATE " + quotedTable_ + " SET " + assigns + " WHERE rowid = ?");
    } catch (...) {
        finalizeStatements();
        rowids_.clear();
        throw;
    }

    cache_.clear();
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

void Cursor::finalizeStatements() noexcept {
    for (sqlite3_stmt** st : {&selBlock_, &delStmt_, &insStmt_, &updStmt_}) {
        sqlite3_finalize(*st);
        *st = nullptr;
    }
}

void Cursor::close() noexcept {
    if (!isOpen())
        return;
    finalizeStatements();
    state_ = State::Closed;
    rowids_.clear();
    rowids_.shrink_to_fit();
    cache_.clear();
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
    return rowValues(cur_)[std::size_t(pos)];
}

std::string Cursor::fieldText(std::string_view name) const {
    requireOpen();
    int i = fieldIndex(name);
    if (i < 0)
        throw Error("字段\"" + std::string(name) + "\"不存在");
    return fieldText(i);
}

std::string Cursor::rowText(int row, int pos) const {
    (void)fieldName(pos);
    if (row < 0 || row >= int(rowids_.size()))
        return {};
    return rowValues(row)[std::size_t(pos)];
}

void Cursor::dropCacheIfStale() const {
    long long now = sqlite3_total_changes64(conn_.handle());
    if (now != seenChanges_) {
        cache_.clear();
        seenChanges_ = now;
    }
}

void Cursor::readBlock(int block) const {
    const int start = block * kBlockRows;
    const int count = std::min(kBlockRows, int(rowids_.size()) - start);
    Block b;
    b.index = block;
    b.rows.assign(std::size_t(count), std::vector<std::string>(fields_.size()));

    StmtReset guard{selBlock_};
    sqlite3_bind_int64(selBlock_, 1, rowids_[std::size_t(start)]);
    sqlite3_bind_int(selBlock_, 2, count);
    int k = 0;
    int rc;
    while (k < count && (rc = sqlite3_step(selBlock_)) == SQLITE_ROW) {
        std::int64_t id = sqlite3_column_int64(selBlock_, 0);
        // Rows that vanished behind our back read as empty.
        while (k < count && rowids_[std::size_t(start + k)] < id)
            ++k;
        if (k < count && rowids_[std::size_t(start + k)] == id) {
            auto& row = b.rows[std::size_t(k)];
            for (std::size_t f = 0; f < fields_.size(); ++f)
                row[f] = columnText(selBlock_, int(f) + 1);
            ++k;
        }
    }
    if (k < count && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw Error(sqlite3_errmsg(conn_.handle()));

    b.lastUse = ++useClock_;
    if (cache_.size() >= kCacheBlocks) {
        auto oldest = std::min_element(cache_.begin(), cache_.end(),
                                       [](const Block& x, const Block& y) { return x.lastUse < y.lastUse; });
        *oldest = std::move(b);
    } else {
        cache_.push_back(std::move(b));
    }
}

const std::vector<std::string>& Cursor::rowValues(int row) const {
    dropCacheIfStale();
    const int block = row / kBlockRows;
    for (auto& b : cache_) {
        if (b.index == block) {
            b.lastUse = ++useClock_;
            return b.rows[std::size_t(row - block * kBlockRows)];
        }
    }
    readBlock(block);
    for (auto& b : cache_)
        if (b.index == block)
            return b.rows[std::size_t(row - block * kBlockRows)];
    throw Error("读取失败");
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
    const auto& vals = rowValues(cur_);
    buf_.assign(vals.begin(), vals.end());
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
    }

    std::vector<std::string> values;
    values.reserve(buf_.size());
    for (auto& v : buf_)
        values.push_back(v.value_or(std::string()));

    if (!cacheFresh)
        cache_.clear();
    seenChanges_ = sqlite3_total_changes64(db);

    const bool inserted = state_ == State::Insert;
    int row;
    if (inserted) {
        rowids_.push_back(sqlite3_last_insert_rowid(db));
        row = int(rowids_.size()) - 1;
        const int block = row / kBlockRows;
        for (auto& b : cache_)
            if (b.index == block && int(b.rows.size()) == row - block * kBlockRows)
                b.rows.push_back(values);
    } else {
        row = cur_;
        const int block = row / kBlockRows;
        for (auto& b : cache_)
            if (b.index == block)
                b.rows[std::size_t(row - block * kBlockRows)] = values;
    }
    // A block read before the insert is short by one row; drop any that cannot take it.
    if (inserted) {
        const int block = row / kBlockRows;
        std::erase_if(cache_, [&](const Block& b) {
            return b.index == block && int(b.rows.size()) != std::min(kBlockRows, int(rowids_.size()) - block * kBlockRows);
        });
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
    {
        StmtReset guard{delStmt_};
        sqlite3_bind_int64(delStmt_, 1, rowids_[std::size_t(cur_)]);
        if (sqlite3_step(delStmt_) != SQLITE_DONE)
            throw Error(sqlite3_errmsg(db));
    }
    const int row = cur_;
    rowids_.erase(rowids_.begin() + row);
    cache_.clear();
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
