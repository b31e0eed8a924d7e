// The book exports, the statements and the year figures read the same from a
// ledger file and from the same rows uploaded to a server ledger.
#include "export/ledger.h"
#include "storage/connection.h"
#include "storage/error.h"
#include "storage/ledgermove.h"
#include "storage/pgsession.h"
#include "storage/period.h"
#include "storage/stamp.h"
#include "storage/yearfigures.h"
#include "tests/support/pgserver.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace tsl::out;
using Lines = std::vector<std::string>;

namespace {

// Stored order unlike the order written; names told apart only by case or a
// trailing space, NULLs, amounts that are no whole number, a date no pattern
// reads, and a book long enough to be read in several blocks from the server.
void fillLedger(const std::string& file) {
    using tsltest::sqlExec;
    sqlExec(file, "INSERT INTO \"1\" VALUES('张三', '杭州', '310000', NULL, '139'), ('ABC', '', '', '', '')");
    sqlExec(file, "INSERT INTO \"2\"(rowid, \"日期\", \"客户姓名\", \"数量\", \"总金额\") VALUES"
                  "(9, '(3)2026-3-5', '张三', '2', '30'), (2, '(1)2026-1-9', 'abc', '1', '10'),"
                  "(5, '(2)2026-12-31', 'ABC', NULL, '7'), (7, '(4)某天', '张三', '1', '4'),"
                  "(8, '(5)2026-6-1', '张三 ', '1', '1.5'), (4, '(6)2026-6-2', NULL, NULL, NULL),"
                  "(11, '(7)2026-12-1', '张三', '3', '2147483647'), (12, '(8)2026-12-2', '张三', '3', '2147483647'),"
                  "(13, '(9)2026-12-3', '张三', '1', '十'), (14, '(10)某日', 'ABC', '1', '3')");
    sqlExec(file, "INSERT INTO \"3\" VALUES('(1)2026-2-1', '纱厂', '羊毛', '5', '-20'), ('(2)2026-2-1', '纱厂', '', '', '')");
    sqlExec(file, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
                  "INSERT INTO \"4\" SELECT '(' || i || ')2026-' || (i % 12 + 1) || '-3', '工' || (i % 7), '套口', i, i * 3 "
                  "FROM n");
}

Lines rowsOf(RowSource& src) {
    Lines out;
    std::vector<std::string> row;
    while (src.next(row)) {
        std::string line;
        for (const auto& cell : row)
            line += cell + "|";
        out.push_back(line);
    }
    return out;
}

std::string joined(const std::vector<std::string>& cells) {
    std::string s;
    for (const auto& c : cells)
        s += c + "|";
    return s;
}

Lines exported(tsl::Engine& db, int book, std::optional<std::string> name, bool strict) {
    BookRows rows(db, *findBook(book), std::move(name), strict);
    Lines out = rowsOf(rows);
    out.push_back("size " + std::to_string(rows.size()) + " skipped " + std::to_string(rows.skipped()));
    out.push_back(joined(rows.totalRow()));
    return out;
}

Lines statement(tsl::Engine& db, int book, const std::string& name, const tsl::Period& period) {
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-M-d"), 2026);
    const Statement s = readStatement(db, "x", *findBook(book), name, "d", period, &dates);
    Table t = sheetOf(s);
    Lines out;
    for (const auto& r : t.rows)
        out.push_back(joined(r));
    out.push_back(joined(t.total));
    out.push_back(std::to_string(s.total) + " " + s.period);
    return out;
}

Lines figures(tsl::Engine& db) {
    const tsl::YearFigures f = tsl::readYearFigures(db, tsl::stampDatePatterns("yyyy-M-d"), 2026);
    Lines out{"customers " + std::to_string(f.customers)};
    for (const tsl::BookFigures& b : f.books) {
        for (const tsl::Tally& t : b.months)
            out.push_back(std::to_string(t.count) + "/" + std::to_string(t.total));
        for (const tsl::NameTally& n : b.names)
            out.push_back(n.name + " " + std::to_string(n.tally.count) + "/" + std::to_string(n.tally.total));
        for (const tsl::BadAmount& bad : b.bad)
            out.push_back(std::to_string(bad.row) + " " + bad.stamp + " " + bad.name + " " + bad.amount);
        out.push_back("bad " + std::to_string(b.badCount));
    }
    return out;
}

// What a reading gave, or the message it was refused with.
Lines outcome(const std::function<Lines()>& read) {
    try {
        return read();
    } catch (const tsl::Error& e) {
        return {std::string("refused: ") + e.what()};
    }
}

} // namespace

TEST(ServerReads, FileAndServerLedgerReadAlike) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("src.mdb");
    fillLedger("src.mdb");
    const std::string address = tsltest::freshDatabase("serverreads");
    {
        tsl::pg::Session s(address);
        tsl::pg::ensureLayout(s);
        tsl::upload("src.mdb", s, "帐本 一");
    }
    const LedgerFile file("src.mdb");
    tsl::Connection server;
    server.setServer(address, "帐本 一");
    server.connect();

    const tsl::Period december{tsl::Date{2026, 12, 1}, tsl::Date{2026, 12, 31}};
    struct Case {
        const char* what;
        std::function<Lines(tsl::Engine&)> read;
        std::size_t atLeast; // lines the file gives, so an empty reading on both sides cannot pass
    };
    const Case cases[] = {
        {"customers", [](tsl::Engine& e) { return exported(e, 1, {}, false); }, 4},
        {"shipments", [](tsl::Engine& e) { return exported(e, 2, {}, false); }, 11},
        {"purchases", [](tsl::Engine& e) { return exported(e, 3, {}, false); }, 4},
        {"deliveries", [](tsl::Engine& e) { return exported(e, 4, {}, false); }, 2502},
        {"one name, exact bytes", [](tsl::Engine& e) { return exported(e, 2, "ABC", false); }, 4},
        {"strict stops on 十", [](tsl::Engine& e) { return exported(e, 2, "张三", true); }, 1},
        {"statement", [](tsl::Engine& e) { return statement(e, 2, "abc", {}); }, 3},
        {"statement stops on 十", [](tsl::Engine& e) { return statement(e, 2, "张三", {}); }, 1},
        {"statement of a period", [&](tsl::Engine& e) { return statement(e, 4, "工3", december); }, 3},
        {"statement, undated rows apart", [&](tsl::Engine& e) { return statement(e, 2, "ABC", december); }, 5},
        {"statement of nobody", [](tsl::Engine& e) { return statement(e, 3, "无名", {}); }, 1},
        {"year figures", [](tsl::Engine& e) { return figures(e); }, 55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Lines fromFile = outcome([&] { return c.read(file.engine()); });
        EXPECT_GE(fromFile.size(), c.atLeast);
        EXPECT_EQ(outcome([&] { return c.read(server.engine()); }), fromFile);
    }
}
