#include "storage/findtext.h"

#include "storage/connection.h"
#include "storage/engine.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace tsl {
namespace {

const std::string kFindFailed = "查找失败: ";

// Separates the fields in a row's folded text, so a match never spans two.
constexpr char kFieldGap = '\x1f';

sqlite3_stmt* prepareOn(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        throw Error(kFindFailed, sqliteError(db));
    }
    return st;
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Error(kFindFailed, sqliteError(db));
}

void stepDone(sqlite3* db, sqlite3_stmt* st) {
    const ResetOnExit reset(st);
    if (sqlite3_step(st) != SQLITE_DONE)
        throw Error(kFindFailed, sqliteError(db));
}

// Answers kept for typing on and going back: how many, the most rows one may
// hold, and the most rows whose texts are kept to be searched again in memory.
constexpr std::size_t kAnswersKept = 4;
constexpr std::size_t kIdsKept = 200'000;
constexpr std::size_t kTextsKept = 20'000;

// Whether `hay` holds `needle` exactly as SQLite's instr() over text sees it:
// byte for byte, tried only where a character starts.
bool holds(std::string_view hay, std::string_view needle) {
    if (needle.empty())
        return true;
    std::size_t i = 0;
    while (needle.size() <= hay.size() - i) {
        if (hay[i] == needle[0] && hay.compare(i, needle.size(), needle) == 0)
            return true;
        do
            ++i;
        while (i < hay.size() && (static_cast<unsigned char>(hay[i]) & 0xC0) == 0x80);
    }
    return false;
}

// Whether the trigram index reads a text as SQLite reads UTF-8 text: every
// character whole, no byte out of place (a lone continuation byte, a sequence
// cut short) and no NUL (the index stops there). Other texts never ask the index.
bool plainUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c == 0 ? 0 : c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        if (len == 0 || len > s.size() - i)
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

// A quoted phrase of the index's query language.
std::string phrase(std::string_view text) {
    std::string q = "\"";
    for (const char c : text)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + '"';
}

// A row that holds the needle holds each of its trigrams (three characters in a
// row): the query for the index, each trigram a quoted phrase, at most a dozen
// of them spread over the needle. Empty for a needle the index cannot answer.
std::string trigramQuery(std::string_view needle) {
    if (!plainUtf8(needle))
        return {};
    std::vector<std::string_view> chars;
    for (std::size_t i = 0; i < needle.size(); ++i)
        if ((static_cast<unsigned char>(needle[i]) & 0xC0) != 0x80)
            chars.push_back(needle.substr(i, 1));
        else
            chars.back() = std::string_view(chars.back().data(), chars.back().size() + 1);
    if (chars.size() < 3)
        return {};
    const std::size_t n = chars.size() - 2; // trigrams
    constexpr std::size_t kMost = 12;
    std::vector<std::string> grams;
    for (std::size_t k = 0; k < std::min(n, kMost); ++k) {
        const std::size_t at = n <= kMost ? k : k * (n - 1) / (kMost - 1);
        std::string g;
        for (std::size_t j = at; j < at + 3; ++j)
            g += chars[j];
        if (std::find(grams.begin(), grams.end(), g) == grams.end())
            grams.push_back(std::move(g));
    }
    std::string q;
    for (const std::string& g : grams) {
        if (!q.empty())
            q += " AND ";
        q += phrase(g);
    }
    return q;
}

// The one token of a needle of one or two characters: the index names exactly
// the rows that hold it (within a field, as the needle never holds the gap).
// Empty for any other needle.
std::string shortQuery(std::string_view needle) {
    if (needle.empty() || !plainUtf8(needle))
        return {};
    std::size_t chars = 0;
    for (const char c : needle)
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return chars <= 2 ? phrase(needle) : std::string();
}

// The trigram tokenizer run on each field of a folded text on its own: no
// trigram spans two fields (no needle does), a fifth fewer to index. Its
// arguments go to the trigram tokenizer.
struct FieldTrigrams {
    fts5_tokenizer inner{};
    Fts5Tokenizer* made = nullptr;
};

using TokenFn = int (*)(void*, int, const char*, int, int, int);

struct FieldPiece {
    void* ctx;
    TokenFn token;
    int offset;
};

int fieldToken(void* p, int flags, const char* token, int n, int start, int end) {
    const auto* piece = static_cast<FieldPiece*>(p);
    return piece->token(piece->ctx, flags, token, n, start + piece->offset, end + piece->offset);
}

int fieldCreate(void* api, const char** argv, int argc, Fts5Tokenizer** out) {
    auto* fts5 = static_cast<fts5_api*>(api);
    auto t = std::make_unique<FieldTrigrams>();
    void* data = nullptr;
    int rc = fts5->xFindTokenizer(fts5, "trigram", &data, &t->inner);
    if (rc == SQLITE_OK)
        rc = t->inner.xCreate(data, argv, argc, &t->made);
    if (rc == SQLITE_OK)
        *out = reinterpret_cast<Fts5Tokenizer*>(t.release());
    return rc;
}

void fieldDelete(Fts5Tokenizer* p) {
    auto* t = reinterpret_cast<FieldTrigrams*>(p);
    t->inner.xDelete(t->made);
    delete t;
}

// Where each character of `text` starts, and its end as the last entry.
std::vector<int> charStarts(const char* text, int n) {
    std::vector<int> at;
    for (int i = 0; i < n; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 || i == 0)
            at.push_back(i);
    at.push_back(n);
    return at;
}

// Besides the trigrams, every character and every pair of characters in a row
// of a field is a token of its own, so a needle of one or two characters is one
// lookup. A query of one or two characters is that one token; a longer one is
// its trigrams alone.
int shortGrams(const char* text, int n, bool query, void* ctx, TokenFn token) {
    const std::vector<int> at = charStarts(text, n);
    const std::size_t chars = at.size() - 1;
    if (query)
        return chars >= 1 && chars <= 2 ? token(ctx, 0, text, n, 0, n) : SQLITE_OK;
    for (std::size_t k = 0; k < chars; ++k)
        for (std::size_t len = 1; len <= 2 && k + len <= chars; ++len)
            if (const int rc = token(ctx, 0, text + at[k], at[k + len] - at[k], at[k], at[k + len]))
                return rc;
    return SQLITE_OK;
}

// The token every row holds (no needle holds the gap): the rows that do not
// hold a needle found in most of them are this AND NOT the needle.
const std::string kEveryRow(1, kFieldGap);

int fieldTokenize(Fts5Tokenizer* p, void* ctx, int flags, const char* text, int n, TokenFn token) {
    auto* t = reinterpret_cast<FieldTrigrams*>(p);
    const bool query = (flags & FTS5_TOKENIZE_QUERY) != 0;
    if (query ? std::string_view(text, std::size_t(n)) == kEveryRow : n > 0)
        if (const int rc = token(ctx, 0, kEveryRow.data(), 1, 0, 0))
            return rc;
    if (query && std::string_view(text, std::size_t(n)) == kEveryRow)
        return SQLITE_OK;
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        if (i < n && text[i] != kFieldGap)
            continue;
        FieldPiece piece{ctx, token, start};
        if (i > start) {
            if (const int rc = t->inner.xTokenize(t->made, &piece, flags, text + start, i - start, fieldToken))
                return rc;
            if (const int rc = shortGrams(text + start, i - start, query, &piece, fieldToken))
                return rc;
        }
        start = i + 1;
    }
    return SQLITE_OK;
}

// Registers the field tokenizer on a connection; false when its SQLite has no FTS5.
bool addFieldTrigrams(sqlite3* db) {
    fts5_api* api = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(st, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
        sqlite3_step(st);
    }
    sqlite3_finalize(st);
    fts5_tokenizer t{fieldCreate, fieldDelete, fieldTokenize};
    return api && api->xCreateTokenizer(api, "fields", api, &t, nullptr) == SQLITE_OK;
}

} // namespace

std::string foldForFind(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            ++i;
            continue;
        }
        // U+FF01..U+FF5E: EF BC 81..EF BD 9E; U+3000: E3 80 80.
        if (c == 0xEF && i + 2 < text.size()) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]), c2 = static_cast<unsigned char>(text[i + 2]);
            const int cp = ((c & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F);
            if ((c1 == 0xBC || c1 == 0xBD) && (c2 & 0xC0) == 0x80 && cp >= 0xFF01 && cp <= 0xFF5E) {
                const int a = cp - 0xFF01 + 0x21;
                out += char(a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a);
                i += 3;
                continue;
            }
        }
        if (c == 0xE3 && i + 2 < text.size() && text[i + 1] == '\x80' && text[i + 2] == '\x80') {
            out += ' ';
            i += 3;
            continue;
        }
        out += char(c);
        ++i;
    }
    return out;
}

FindCopy::FindCopy(Cursor& book) : book_(book) { book_.addObserver(this); }

FindCopy::~FindCopy() { book_.removeObserver(this); }

std::pair<std::int64_t, std::int64_t> FindCopy::bookVersion() const { return book_.connection().engine().fileVersion(); }

void FindCopy::noteSeen() {
    seenChanges_ = book_.connection().engine().totalChanges();
    seenVersion_ = bookVersion();
}

// The cursor's own write, taken in: the version is left as it was, as an own
// write never moves it and another program's write since still has to be read.
void FindCopy::noteOwnWrite() { seenChanges_ = book_.connection().engine().totalChanges(); }

namespace {

// One row of the copy: its rowid, folded text, amount (the whole number, or NULL
// when the text is none) and whether the index cannot read the text (1, or NULL).
std::optional<std::int64_t> bindRow(sqlite3_stmt* st, std::int64_t rowid, const std::string& text, std::string_view amount,
                                    bool hasAmount) {
    sqlite3_bind_int64(st, 1, rowid);
    sqlite3_bind_text(st, 2, text.data(), int(text.size()), SQLITE_STATIC);
    const std::optional<std::int64_t> v = hasAmount ? tryStrToInt(amount) : std::nullopt;
    if (v)
        sqlite3_bind_int64(st, 3, *v);
    else
        sqlite3_bind_null(st, 3);
    if (plainUtf8(text))
        sqlite3_bind_null(st, 4);
    else
        sqlite3_bind_int(st, 4, 1);
    return v;
}

} // namespace

void FindCopy::build(int amountPos) {
    amountPos_ = amountPos;
    changed();
    put_.reset();
    remove_.reset();
    find_.reset();
    match_.reset();
    odd_.reset();
    named_.reset();
    rowsWith_.reset();
    allIds_.clear();
    allAmounts_.clear();
    allHas_.clear();
    copy_ = {};
    // "": a private temporary file, removed when closed; nothing of it needs to survive a crash.
    if (sqlite3_open_v2("", &copy_.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw Error(kFindFailed, sqliteError(copy_.db));
    exec(copy_.db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                   "CREATE TABLE x(id INTEGER PRIMARY KEY, t TEXT, a INTEGER, o INTEGER);"
                   "CREATE INDEX xo ON x(o) WHERE o IS NOT NULL");
    // The index holds no positions (detail=none): a row it names is checked
    // with instr() on its text, so it only has to name every row that holds
    // the needle. Its own case folding is off: the text is folded already. An
    // SQLite without FTS5 or its trigram tokenizer (before 3.34): every search scans.
    const bool indexed = addFieldTrigrams(copy_.db) &&
                         sqlite3_exec(copy_.db,
                                      "CREATE VIRTUAL TABLE f USING fts5(t, content='x', content_rowid='id',"
                                      " detail='none', tokenize='fields case_sensitive 1')",
                                      nullptr, nullptr, nullptr) == SQLITE_OK;
    exec(copy_.db, "BEGIN");
    {
        const StmtOwner load(prepareOn(copy_.db, "INSERT INTO x(id, t, a, o) VALUES(?1, ?2, ?3, ?4)"));
        std::string sql = "SELECT rowid";
        for (int i = 0; i < book_.fieldCount(); ++i)
            sql += ", " + quoteIdent(book_.fieldName(i));
        sql += " FROM " + quoteIdent(book_.tableName()) + " ORDER BY rowid";
        // Through the book's engine: a ledger file or a ledger on a server alike.
        const QueryPtr rows = book_.connection().engine().prepare(sql);
        const ResetQuery done(*rows);
        std::string text;
        while (rows->step()) {
            text.clear();
            for (int i = 0; i < book_.fieldCount(); ++i) {
                if (i)
                    text += kFieldGap;
                text += rows->text(i + 1);
            }
            text = foldForFind(text);
            const std::int64_t rowid = rows->integer(0);
            const auto v = bindRow(load.get(), rowid, text, amountPos_ >= 0 ? rows->text(amountPos_ + 1) : std::string_view(),
                                   amountPos_ >= 0);
            stepDone(copy_.db, load.get());
            allIds_.push_back(rowid);
            allAmounts_.push_back(v.value_or(0));
            allHas_.push_back(v.has_value());
        }
    }
    // The index fills later, in slices between keystrokes (indexSome): rows up
    // to the mark in m are in it and kept so by the triggers; the rest wait for
    // their slice, which reads them as they then stand. No merging while it
    // fills (a merge in a slice would make it long): the segments the slices
    // leave are merged afterwards, a piece at a time.
    if (indexed)
        exec(copy_.db, "CREATE TABLE m(v INTEGER NOT NULL); INSERT INTO m VALUES(0);"
                       "INSERT INTO f(f, rank) VALUES('hashsize', 67108864);"
                       "INSERT INTO f(f, rank) VALUES('automerge', 0);"
                       "INSERT INTO f(f, rank) VALUES('crisismerge', 2000);"
                       "CREATE TRIGGER xi AFTER INSERT ON x WHEN new.id <= (SELECT v FROM m) BEGIN"
                       " INSERT INTO f(rowid, t) VALUES(new.id, new.t); END;"
                       "CREATE TRIGGER xd AFTER DELETE ON x WHEN old.id <= (SELECT v FROM m) BEGIN"
                       " INSERT INTO f(f, rowid, t) VALUES('delete', old.id, old.t); END;"
                       "CREATE TRIGGER xu AFTER UPDATE ON x WHEN old.id <= (SELECT v FROM m) BEGIN"
                       " INSERT INTO f(f, rowid, t) VALUES('delete', old.id, old.t);"
                       " INSERT INTO f(rowid, t) VALUES(new.id, new.t); END");
    exec(copy_.db, "COMMIT");
    put_.reset(prepareOn(copy_.db, "INSERT INTO x(id, t, a, o) VALUES(?1, ?2, ?3, ?4) ON CONFLICT(id) DO UPDATE"
                                   " SET t = excluded.t, a = excluded.a, o = excluded.o"));
    remove_.reset(prepareOn(copy_.db, "DELETE FROM x WHERE id = (SELECT id FROM x ORDER BY id LIMIT 1 OFFSET ?1)"));
    find_.reset(prepareOn(copy_.db, "SELECT id, a, t FROM x WHERE instr(t, ?1) ORDER BY id"));
    indexStage_ = indexed ? IndexStage::filling : IndexStage::none;
    indexedTo_ = 0;
    if (indexed) {
        named_.reset(prepareOn(copy_.db, "SELECT rowid FROM f WHERE f MATCH ?1 ORDER BY rowid"));
        // How many rows hold a token, counted inside the index without a row
        // going out of it: for a needle in most rows the index is asked for the others.
        exec(copy_.db, "CREATE VIRTUAL TABLE v USING fts5vocab(f, 'row')");
        rowsWith_.reset(prepareOn(copy_.db, "SELECT doc FROM v WHERE term = ?1"));
    }
    if (indexed)
        match_.reset(prepareOn(copy_.db, "SELECT x.id, x.a, x.t FROM f JOIN x ON x.id = f.rowid"
                                         " WHERE f MATCH ?2 AND instr(x.t, ?1) ORDER BY f.rowid"));
    odd_.reset(prepareOn(copy_.db, "SELECT EXISTS(SELECT 1 FROM x WHERE o IS NOT NULL)"));
    stale_ = false;
    noteSeen();
}

void FindCopy::changed() { kept_.clear(); }

void FindCopy::rowsUpdated(int from, int to) {
    // Many rows at once (a renumbering) are copied again more cheaply than put one by one.
    if (to - from > kSliceRows) {
        changed();
        stale_ = true;
        return;
    }
    for (int r = from; r < to; ++r)
        put(r);
}

void FindCopy::put(int row) {
    changed();
    if (stale_ || !copy_.db)
        return;
    const std::int64_t rowid = book_.rowidAt(row);
    std::string text;
    for (int i = 0; i < book_.fieldCount(); ++i) {
        if (i)
            text += kFieldGap;
        text += book_.rowText(row, i);
    }
    text = foldForFind(text);
    const std::string amount = amountPos_ >= 0 ? book_.rowText(row, amountPos_) : std::string();
    const auto v = bindRow(put_.get(), rowid, text, amount, amountPos_ >= 0);
    try {
        stepDone(copy_.db, put_.get());
        noteOwnWrite();
    } catch (const Error&) {
        stale_ = true; // made again at the next search
        return;
    }
    const auto at = std::lower_bound(allIds_.begin(), allIds_.end(), rowid);
    const auto k = at - allIds_.begin();
    if (at == allIds_.end() || *at != rowid) {
        allIds_.insert(at, rowid);
        allAmounts_.insert(allAmounts_.begin() + k, 0);
        allHas_.insert(allHas_.begin() + k, 0);
    }
    allAmounts_[std::size_t(k)] = v.value_or(0);
    allHas_[std::size_t(k)] = v.has_value();
}

void FindCopy::rowRemoved(int row) {
    changed();
    if (stale_ || !copy_.db)
        return;
    sqlite3_bind_int64(remove_.get(), 1, row);
    try {
        stepDone(copy_.db, remove_.get());
        noteOwnWrite();
    } catch (const Error&) {
        stale_ = true;
        return;
    }
    if (row >= 0 && std::size_t(row) < allIds_.size()) {
        allIds_.erase(allIds_.begin() + row);
        allAmounts_.erase(allAmounts_.begin() + row);
        allHas_.erase(allHas_.begin() + row);
    }
}

bool FindCopy::indexSome(int rows) {
    if (stale_ || !copy_.db || indexStage_ == IndexStage::none || indexStage_ == IndexStage::ready)
        return false;
    try {
        sqlite3* db = copy_.db;
        if (indexStage_ == IndexStage::filling) {
            // One transaction per slice: each ends as one segment of the index.
            const StmtOwner last(prepareOn(db, "SELECT max(id) FROM (SELECT id FROM x WHERE id > ?1 ORDER BY id LIMIT ?2)"));
            sqlite3_bind_int64(last.get(), 1, indexedTo_);
            sqlite3_bind_int(last.get(), 2, std::max(rows, 1));
            if (sqlite3_step(last.get()) != SQLITE_ROW)
                throw Error(kFindFailed, sqliteError(db));
            if (sqlite3_column_type(last.get(), 0) == SQLITE_NULL) {
                indexStage_ = IndexStage::merging;
                return true;
            }
            const std::int64_t to = sqlite3_column_int64(last.get(), 0);
            exec(db, "BEGIN");
            try {
                const StmtOwner fill(prepareOn(db, "INSERT INTO f(rowid, t) SELECT id, t FROM x WHERE id > ?1 AND id <= ?2"));
                sqlite3_bind_int64(fill.get(), 1, indexedTo_);
                sqlite3_bind_int64(fill.get(), 2, to);
                stepDone(db, fill.get());
                const StmtOwner mark(prepareOn(db, "UPDATE m SET v = ?1"));
                sqlite3_bind_int64(mark.get(), 1, to);
                stepDone(db, mark.get());
                exec(db, "COMMIT");
            } catch (const Error&) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
            indexedTo_ = to;
            return true;
        }
        // The segments the slices left merged a few hundred pages at a time,
        // until a merge finds nothing left to do; the usual merging after that.
        const auto before = sqlite3_total_changes64(db);
        exec(db, "INSERT INTO f(f, rank) VALUES('merge', -250)");
        if (sqlite3_total_changes64(db) - before >= 2) // less: nothing was merged
            return true;
        exec(db, "UPDATE m SET v = 9223372036854775807;"
                 "INSERT INTO f(f, rank) VALUES('hashsize', 1048576);"
                 "INSERT INTO f(f, rank) VALUES('automerge', 4);"
                 "INSERT INTO f(f, rank) VALUES('crisismerge', 16)");
        indexStage_ = IndexStage::ready;
        return false;
    } catch (const Error&) {
        indexStage_ = IndexStage::none; // searches scan
        return false;
    }
}

std::int64_t FindCopy::copyBytes() const {
    if (!copy_.db)
        return 0;
    std::int64_t bytes = 1;
    for (const char* sql : {"PRAGMA page_count", "PRAGMA page_size"}) {
        const StmtOwner st(prepareOn(copy_.db, sql));
        bytes *= sqlite3_step(st.get()) == SQLITE_ROW ? sqlite3_column_int64(st.get(), 0) : 0;
    }
    return bytes;
}

bool FindCopy::oddRows() {
    const ResetOnExit reset(odd_.get());
    if (sqlite3_step(odd_.get()) != SQLITE_ROW)
        throw Error(kFindFailed, sqliteError(copy_.db));
    return sqlite3_column_int(odd_.get(), 0) != 0;
}

FindCopy::Answer FindCopy::query(sqlite3_stmt* st, const std::string& needle, const std::string* match) {
    Answer answer;
    answer.needle = needle;
    answer.textsKept = true;
    const ResetOnExit reset(st);
    sqlite3_bind_text(st, 1, needle.data(), int(needle.size()), SQLITE_STATIC);
    if (match)
        sqlite3_bind_text(st, 2, match->data(), int(match->size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        answer.ids.push_back(sqlite3_column_int64(st, 0));
        const bool has = sqlite3_column_type(st, 1) != SQLITE_NULL;
        answer.amounts.push_back(has ? sqlite3_column_int64(st, 1) : 0);
        answer.hasAmount.push_back(has);
        if (!answer.textsKept)
            continue;
        if (answer.texts.size() < kTextsKept) {
            answer.texts.emplace_back(columnView(st, 2));
        } else {
            answer.textsKept = false;
            answer.texts = {};
        }
    }
    if (rc != SQLITE_DONE)
        throw Error(kFindFailed, sqliteError(copy_.db));
    return answer;
}

FindCopy::Answer FindCopy::whole() const {
    Answer answer;
    answer.ids = allIds_;
    answer.amounts = allAmounts_;
    answer.hasAmount = allHas_;
    return answer;
}

// The rows the index names for a needle of one or two characters: exactly
// those that hold it, their amounts from memory, their texts left unread. An
// index out of step with the copy is given up.
FindCopy::Answer FindCopy::named(const std::string& needle, const std::string& match) {
    const std::string_view token = needle;
    bool most = false; // most rows hold it
    {
        sqlite3_stmt* count = rowsWith_.get();
        const ResetOnExit reset(count);
        sqlite3_bind_text(count, 1, token.data(), int(token.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(count);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw Error(kFindFailed, sqliteError(copy_.db));
        most = rc == SQLITE_ROW && std::uint64_t(sqlite3_column_int64(count, 0)) * 2 > allIds_.size();
    }
    Answer answer;
    answer.needle = needle;
    sqlite3_stmt* st = named_.get();
    const ResetOnExit reset(st);
    const std::string others = phrase(kEveryRow) + " NOT " + match;
    const std::string& asked = most ? others : match;
    sqlite3_bind_text(st, 1, asked.data(), int(asked.size()), SQLITE_STATIC);
    if (most) {
        // The index names the few rows without the needle; the rest are the answer.
        answer.ids.reserve(allIds_.size());
        answer.amounts.reserve(allIds_.size());
        answer.hasAmount.reserve(allIds_.size());
        std::size_t k = 0;
        int rc;
        const auto upTo = [&](std::size_t end) {
            answer.ids.insert(answer.ids.end(), allIds_.begin() + std::ptrdiff_t(k), allIds_.begin() + std::ptrdiff_t(end));
            answer.amounts.insert(answer.amounts.end(), allAmounts_.begin() + std::ptrdiff_t(k),
                                  allAmounts_.begin() + std::ptrdiff_t(end));
            answer.hasAmount.insert(answer.hasAmount.end(), allHas_.begin() + std::ptrdiff_t(k),
                                    allHas_.begin() + std::ptrdiff_t(end));
        };
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const auto at = std::lower_bound(allIds_.begin() + std::ptrdiff_t(k), allIds_.end(), sqlite3_column_int64(st, 0));
            if (at == allIds_.end() || *at != sqlite3_column_int64(st, 0)) { // never so: then this and later searches scan
                indexStage_ = IndexStage::none;
                return {};
            }
            const auto end = std::size_t(at - allIds_.begin());
            upTo(end);
            k = end + 1;
        }
        if (rc != SQLITE_DONE)
            throw Error(kFindFailed, sqliteError(copy_.db));
        upTo(allIds_.size());
        return answer;
    }
    std::size_t k = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const std::int64_t rowid = sqlite3_column_int64(st, 0);
        while (k < allIds_.size() && allIds_[k] < rowid)
            ++k;
        if (k == allIds_.size() || allIds_[k] != rowid) { // never so: then this and later searches scan
            indexStage_ = IndexStage::none;
            return {};
        }
        answer.ids.push_back(rowid);
        answer.amounts.push_back(allAmounts_[k]);
        answer.hasAmount.push_back(allHas_[k]);
    }
    if (rc != SQLITE_DONE)
        throw Error(kFindFailed, sqliteError(copy_.db));
    return answer;
}

FindCopy::Answer FindCopy::search(const std::string& needle) {
    if (needle.empty()) {
        Answer all = whole();
        all.needle = needle;
        return all;
    }
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if (it->needle == needle) {
            Answer again = std::move(*it);
            kept_.erase(it);
            return again;
        }
    // Typing on: the rows that hold this needle are among those that hold any
    // part of it, so the kept answer with the fewest rows is searched again. A
    // part that starts inside a character counts only at the very start, as
    // instr() tries a needle only where a character starts.
    const Answer* base = nullptr;
    for (const Answer& a : kept_) {
        if (!a.textsKept || (base && base->ids.size() <= a.ids.size()))
            continue;
        const bool midChar = !a.needle.empty() && (static_cast<unsigned char>(a.needle[0]) & 0xC0) == 0x80;
        if (midChar ? needle.starts_with(a.needle) : needle.find(a.needle) != std::string::npos)
            base = &a;
    }
    if (base) {
        Answer answer;
        answer.needle = needle;
        answer.textsKept = true;
        for (std::size_t k = 0; k < base->ids.size(); ++k) {
            if (!holds(base->texts[k], needle))
                continue;
            answer.ids.push_back(base->ids[k]);
            answer.amounts.push_back(base->amounts[k]);
            answer.hasAmount.push_back(base->hasAmount[k]);
            answer.texts.push_back(base->texts[k]);
        }
        return answer;
    }
    if (indexStage_ == IndexStage::ready) {
        if (const std::string one = shortQuery(needle); !one.empty() && !oddRows())
            if (Answer answer = named(needle, one); indexStage_ == IndexStage::ready)
                return answer;
        if (const std::string match = trigramQuery(needle); !match.empty() && !oddRows())
            return query(match_.get(), needle, &match);
    }
    return query(find_.get(), needle, nullptr);
}

void FindCopy::keep(Answer answer) {
    if (answer.ids.size() > kIdsKept)
        return;
    kept_.push_front(std::move(answer));
    while (kept_.size() > kAnswersKept)
        kept_.pop_back();
}

std::vector<int> FindCopy::rowsHolding(std::string_view needle) { return find(needle, amountPos_).rows; }

FindCopy::Found FindCopy::find(std::string_view needle, int amountPos) {
    std::string folded = foldForFind(needle);
    std::erase(folded, kFieldGap);
    const int n = book_.recordCount();
    if (amountPos >= book_.fieldCount())
        amountPos = -1;
    if (stale_ || !copy_.db || amountPos != amountPos_ ||
        seenChanges_ != book_.connection().engine().totalChanges() || seenVersion_ != bookVersion())
        build(amountPos);
    Answer answer = search(folded);
    Found found;
    found.rows.reserve(answer.ids.size());
    // Both lists are in rowid order: one walk turns rowids into positions, or,
    // for a few rows, one binary search each.
    const bool few = answer.ids.size() * 32 < std::size_t(n);
    int pos = 0;
    for (std::size_t k = 0; k < answer.ids.size(); ++k) {
        const std::int64_t rowid = answer.ids[k];
        if (few) {
            int hi = n;
            while (pos < hi) {
                const int mid = pos + (hi - pos) / 2;
                if (book_.rowidAt(mid) < rowid)
                    pos = mid + 1;
                else
                    hi = mid;
            }
        } else {
            while (pos < n && book_.rowidAt(pos) < rowid)
                ++pos;
        }
        if (pos >= n || book_.rowidAt(pos) != rowid)
            continue;
        found.rows.push_back(pos);
        if (amountPos < 0)
            continue;
        if (answer.hasAmount[k])
            found.total += answer.amounts[k];
        else
            ++found.badAmounts;
    }
    keep(std::move(answer));
    return found;
}

} // namespace tsl
