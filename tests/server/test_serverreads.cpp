// The book exports, the statements and the year figures read the same from a
// ledger file and from its rows uploaded to a server ledger.
#include "export/ledger.h"
#include "storage/connection.h"
#include "storage/ledgermove.h"
#include "storage/period.h"
#include "storage/pgsession.h"
#include "storage/stamp.h"
#include "storage/yearfigures.h"
#include "tests/support/pgserver.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tsl::out;

TEST(ServerReads, FileAndServerLedgerReadAlike) {
    tsltest::TempDir dir;
    dir.seedIndex("src.mdb");
    // Stored order unlike the order written; names apart only by case or a
    // trailing space; NULLs; amounts no whole number; a date no pattern reads;
    // a book read from the server in several blocks.
    tsltest::sqlExec("src.mdb",
                     "INSERT INTO \"1\" VALUES('张三', '杭州', NULL, '', '139');"
                     "INSERT INTO \"2\"(rowid, \"日期\", \"客户姓名\", \"总金额\") VALUES (9, '(3)2026-3-5', '张三', '30'),"
                     "(2, '(1)2026-1-9', 'abc', '1.5'), (5, '(2)2026-12-31', 'ABC', '7'), (7, '(4)某天', 'ABC', '4'),"
                     "(8, '(5)2026-12-1', '张三 ', '9'), (4, '(6)2026-6-2', NULL, NULL), (3, '(7)2026-12-2', '张三', '十');"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) INSERT INTO \"4\" "
                     "SELECT '(' || i || ')2026-' || (i % 12 + 1) || '-3', '工' || (i % 7), '', i, i * 3 FROM n");
    const std::string address = tsltest::freshDatabase("serverreads");
    tsl::pg::Session session(address);
    tsl::pg::ensureLayout(session);
    tsl::upload("src.mdb", session, "帐本 一");
    const LedgerFile file("src.mdb");
    tsl::Connection server;
    server.setServer(address, "帐本 一");
    server.connect();

    const std::vector<std::string> patterns = tsl::stampDatePatterns("yyyy-M-d");
    const tsl::StampDateReader dates(patterns, 2026);
    const tsl::Period december{tsl::Date{2026, 12, 1}, tsl::Date{2026, 12, 31}};
    auto text = [](const std::vector<std::string>& cells) {
        std::string s;
        for (const auto& c : cells)
            s += c + "|";
        return s + "\n";
    };
    auto book = [&](int number, std::optional<std::string> name, bool strict) {
        return [=](tsl::Engine& e) {
            BookRows rows(e, *findBook(number), name, strict);
            std::string s = std::to_string(rows.size());
            for (std::vector<std::string> row; rows.next(row);)
                s += text(row);
            return s + text(rows.totalRow());
        };
    };
    auto statement = [&](int number, const std::string& name, const tsl::Period& period) {
        return [&, number, name, period](tsl::Engine& e) {
            const Statement s = readStatement(e, "x", *findBook(number), name, "d", period, &dates);
            std::string out = std::to_string(s.total) + s.period;
            for (const auto& row : sheetOf(s).rows)
                out += text(row);
            return out;
        };
    };
    auto year = [&](tsl::Engine& e) {
        const tsl::YearFigures f = tsl::readYearFigures(e, patterns, 2026);
        std::string s = std::to_string(f.customers) + "\n";
        for (const tsl::BookFigures& b : f.books) {
            for (const tsl::Tally& t : b.months)
                s += std::to_string(t.count) + "/" + std::to_string(t.total) + " ";
            for (const tsl::NameTally& n : b.names)
                s += n.name + "=" + std::to_string(n.tally.total) + " ";
            for (const tsl::BadAmount& bad : b.bad)
                s += std::to_string(bad.row) + bad.stamp + bad.name + bad.amount + " ";
        }
        return s;
    };
    const std::function<std::string(tsl::Engine&)> reads[] = {
        book(1, {}, false), book(2, {}, false), book(3, {}, false), book(4, {}, false), book(2, "ABC", false),
        book(2, "张三", true), statement(4, "工3", {}), statement(2, "ABC", december), statement(2, "张三", {}),
        statement(3, "无名", {}), year};
    for (std::size_t i = 0; i < std::size(reads); ++i) {
        SCOPED_TRACE(i);
        auto outcome = [&](tsl::Engine& e) {
            try {
                return reads[i](e);
            } catch (const tsl::Error& err) {
                return std::string("refused: ") + err.what();
            }
        };
        const std::string fromFile = outcome(file.engine());
        EXPECT_GT(fromFile.size(), 20u);
        EXPECT_EQ(outcome(server.engine()), fromFile);
    }
}
