#include "books/yeartables.h"

#include "books/income.h"
#include "storage/intconv.h"

#include <cstdio>

namespace tsl::books {

namespace {

std::string num(std::int64_t v) { return intToStr(v); }

} // namespace

std::string shareText(std::int64_t part, std::int64_t whole) {
    if (whole <= 0)
        return "-";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f%%", 100.0 * double(part) / double(whole));
    return buf;
}

TextTable monthTable(const YearFigures& f) {
    TextTable t;
    t.header = {"月份", "发货次数", "发货金额", "进货金额", "交货金额", "收入"};
    t.numeric = {false, true, true, true, true, true};
    const auto& ship = f.book(Movement::Shipments);
    const auto& buy = f.book(Movement::Purchases);
    const auto& work = f.book(Movement::Deliveries);
    for (int line = 0; line < kMonthLines; ++line) {
        const auto i = std::size_t(line);
        if (line == kUndated && ship.months[i].count + buy.months[i].count + work.months[i].count == 0)
            continue;
        t.rows.push_back({std::string(monthLabel(line)), num(ship.months[i].count), num(ship.months[i].total),
                          num(buy.months[i].total), num(work.months[i].total), num(income(f, line))});
    }
    t.rows.push_back({"合计", num(ship.all.count), num(ship.all.total), num(buy.all.total), num(work.all.total),
                      num(income(f))});
    return t;
}

TextTable comparisonTable(const YearFigures& mine, std::string_view myName, const YearFigures& other,
                          std::string_view otherName) {
    TextTable t;
    t.header = {"月份"};
    t.numeric = {false};
    for (std::string_view what : {"发货", "进货", "交货", "收入"}) {
        t.header.push_back(std::string(what) + "(" + std::string(myName) + ")");
        t.header.push_back(std::string(what) + "(" + std::string(otherName) + ")");
        t.header.push_back(std::string(what) + "差额");
        t.numeric.insert(t.numeric.end(), 3, true);
    }
    auto line = [&](std::string label, auto value) {
        std::vector<std::string> row{std::move(label)};
        for (int k = 0; k < 4; ++k) {
            const std::int64_t a = value(mine, k), b = value(other, k);
            row.insert(row.end(), {num(a), num(b), num(a - b)});
        }
        t.rows.push_back(std::move(row));
    };
    for (int l = 0; l < kMonthLines; ++l) {
        const auto i = std::size_t(l);
        if (l == kUndated) {
            std::int64_t n = 0;
            for (const auto* f : {&mine, &other})
                for (const auto& b : f->books)
                    n += b.months[i].count;
            if (n == 0)
                continue;
        }
        line(std::string(monthLabel(l)),
             [i, l](const YearFigures& f, int k) { return k < 3 ? f.books[std::size_t(k)].months[i].total : income(f, l); });
    }
    line("合计", [](const YearFigures& f, int k) { return k < 3 ? f.books[std::size_t(k)].all.total : income(f); });
    return t;
}

TextTable nameTable(const YearFigures& f, Movement m) {
    const auto& b = f.book(m);
    TextTable t;
    t.header = {std::string(movementParty(m)), "次数", "金额", "占比"};
    t.numeric = {false, true, true, false};
    t.rows.reserve(b.names.size());
    for (const auto& n : b.names)
        t.rows.push_back({n.name, num(n.tally.count), num(n.tally.total), shareText(n.tally.total, b.all.total)});
    return t;
}

std::string badAmountNotice(const YearFigures& f, std::size_t shown) {
    if (f.badCount() == 0)
        return {};
    std::string out = "有" + num(f.badCount()) + "行的金额不是整数,没有计入:";
    std::string examples;
    std::size_t listed = 0;
    for (int m = 0; m < kMovements; ++m) {
        const auto& b = f.books[std::size_t(m)];
        if (b.badCount == 0)
            continue;
        out += std::string(movementLabel(Movement(m))) + num(b.badCount) + "行,";
        for (const auto& r : b.bad) {
            if (listed++ >= shown)
                break;
            examples += std::string(movementLabel(Movement(m))) + "第" + num(r.row) + "行 " + r.stamp + " " + r.name +
                        " 金额\"" + r.amount + "\";";
        }
    }
    out.back() = '!'; // in place of the last ","
    out += " " + examples;
    if (std::size_t(f.badCount()) > shown)
        out += "…";
    return out;
}

} // namespace tsl::books
