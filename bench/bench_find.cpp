// Finding the rows of the shipment book that hold a text: the program searches
// a folded copy of the book it makes at the first search, as the user types the
// needle one character at a time; raw SQLite runs the one statement a developer
// would write over the book's fields (ASCII case folded by lower(), no width
// folding) for the whole needle, the same rows.
#include "bench/benchutil.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/findtext.h"
#include "storage/schema.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tslbench {

namespace {

const std::string kNeedle = "客户12号";

std::vector<std::int64_t> rawFind(RawDb& db) {
    std::string where;
    for (const std::string_view f : tsl::findTable(tsl::table::shipments)->fields)
        where += (where.empty() ? "" : " OR ") + std::string("instr(lower(") + tsl::quoteIdent(f) + "), ?1)";
    sqlite3_stmt* st = db.prepare("SELECT rowid FROM \"2\" WHERE " + where + " ORDER BY rowid");
    sqlite3_bind_text(st, 1, kNeedle.data(), int(kNeedle.size()), SQLITE_STATIC);
    std::vector<std::int64_t> ids;
    while (sqlite3_step(st) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return ids;
}

std::size_t rawCount(int rows) {
    static std::map<int, std::size_t> counts;
    if (!counts.count(rows)) {
        RawDb db(ledger(rows));
        counts[rows] = rawFind(db).size();
    }
    return counts[rows];
}

void firstProgram(benchmark::State& state, int rows) {
    CursorOn book(ledger(rows));
    for (auto _ : state) {
        std::vector<int> found;
        tsl::FindCopy find(book.cur);
        record(state, Op::FindFirst, rows, true, timed([&] { found = find.rowsHolding(kNeedle); }));
        if (found.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

// The needle as it grows under the user's fingers: 客, 客户, 客户1, ...
std::vector<std::string> typed() {
    std::vector<std::string> out;
    for (std::size_t i = 1; i <= kNeedle.size(); ++i)
        if (i == kNeedle.size() || (static_cast<unsigned char>(kNeedle[i]) & 0xC0) != 0x80)
            out.push_back(kNeedle.substr(0, i));
    return out;
}

// Milliseconds of each keystroke over every iteration, for the note.
std::map<int, std::vector<std::vector<double>>>& keystrokeTimes() {
    static std::map<int, std::vector<std::vector<double>>> times;
    return times;
}

// The index filled between keystrokes after the first search: how many slices,
// the longest (what a keystroke may wait behind) and all of them together.
struct Filling {
    int slices = 0;
    double longestMs = 0;
    double totalMs = 0;
    double copyMiB = 0;  // the copy alone
    double indexMiB = 0; // what the index added
};

// Needles searched afresh (nothing kept) once the index is whole: the whole
// book, one character in nearly every row, in a quarter, in one row of a hundred.
const std::vector<std::string> kAfresh = {"", "客", "绒", "张", "张三"};

std::map<int, std::vector<std::vector<double>>>& afreshTimes() {
    static std::map<int, std::vector<std::vector<double>>> times;
    return times;
}

// CPU milliseconds of the same (the machine may be shared), by the needle's line.
std::map<std::string, std::vector<double>>& cpuTimes() {
    static std::map<std::string, std::vector<double>> times;
    return times;
}

std::map<int, Filling>& fillings() {
    static std::map<int, Filling> f;
    return f;
}

void printKeystrokes() {
    for (auto& [rows, f] : fillings())
        std::printf("find index, %d rows, filled after the first search: %d slices, longest %.1f ms, all %.0f ms;"
                    " copy %.1f MiB, index %.1f MiB\n",
                    rows, f.slices, f.longestMs, f.totalMs, f.copyMiB, f.indexMiB);
    for (auto& [rows, each] : afreshTimes()) {
        std::printf("find afresh, %d rows (median ms):", rows);
        for (std::size_t k = 0; k < each.size(); ++k)
            std::printf(" '%s' %.1f (CPU %.1f)", kAfresh[k].c_str(), median(each[k]),
                        median(cpuTimes()[std::to_string(rows) + "/" + kAfresh[k]]));
        std::printf("\n");
    }
    for (auto& [rows, each] : keystrokeTimes()) {
        std::printf("find keystroke, %d rows, typing %s (median ms per keystroke):", rows, kNeedle.c_str());
        const std::vector<std::string> needles = typed();
        for (std::size_t k = 0; k < each.size(); ++k)
            std::printf(" %s %.1f (CPU %.1f)", needles[k].c_str(), median(each[k]),
                        median(cpuTimes()[std::to_string(rows) + "+" + needles[k]]));
        std::printf("\n");
    }
}

// One iteration: the bar opens on the whole book, then the needle is typed;
// the line's time is the median keystroke.
void keystrokeProgram(benchmark::State& state, int rows) {
    CursorOn book(ledger(rows));
    tsl::FindCopy find(book.cur);
    (void)find.rowsHolding("");
    Filling filling;
    const double before = double(find.copyBytes());
    for (bool more = true; more;) {
        const double ms = timed([&] { more = find.indexSome(); }) * 1e3;
        ++filling.slices;
        filling.longestMs = std::max(filling.longestMs, ms);
        filling.totalMs += ms;
    }
    filling.copyMiB = before / (1 << 20);
    filling.indexMiB = (double(find.copyBytes()) - before) / (1 << 20);
    fillings()[rows] = filling;
    if (!find.indexReady())
        state.SkipWithError("no index");
    const std::vector<std::string> needles = typed();
    auto& each = keystrokeTimes()[rows];
    each.resize(needles.size());
    for (auto _ : state) {
        find.forgetFound();
        (void)find.rowsHolding("");
        std::vector<double> wall, cpu;
        std::vector<int> found;
        for (std::size_t k = 0; k < needles.size(); ++k) {
            wall.push_back(timed([&] { found = find.rowsHolding(needles[k]); }));
            cpu.push_back(gLastCpuSeconds);
            each[k].push_back(wall.back() * 1e3);
            cpuTimes()[std::to_string(rows) + "+" + needles[k]].push_back(gLastCpuSeconds * 1e3);
        }
        auto& afresh = afreshTimes()[rows];
        afresh.resize(kAfresh.size());
        for (std::size_t k = 0; k < kAfresh.size(); ++k) {
            find.forgetFound();
            afresh[k].push_back(timed([&] { (void)find.rowsHolding(kAfresh[k]); }) * 1e3);
            cpuTimes()[std::to_string(rows) + "/" + kAfresh[k]].push_back(gLastCpuSeconds * 1e3);
        }
        gLastCpuSeconds = median(cpu);
        record(state, Op::FindKeystroke, rows, true, median(wall));
        if (found.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

template <Op op>
void raw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    for (auto _ : state) {
        std::vector<std::int64_t> ids;
        record(state, op, rows, false, timed([&] { ids = rawFind(db); }));
        if (ids.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

} // namespace

void registerFind(int rows) {
    addPair("find", "first", "copy", firstProgram, raw<Op::FindFirst>, rows, rows >= 1'000'000 ? 3 : 0);
    addPair("find", "keystroke", "typing", keystrokeProgram, raw<Op::FindKeystroke>, rows);
    static const bool noted = (addNote(printKeystrokes), true);
    (void)noted;
}

} // namespace tslbench
