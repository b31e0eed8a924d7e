#include "export/collate.h"

#include <QByteArray>
#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace tsl::out {
namespace {

QCollator pinyin() {
    QCollator c{QLocale(QLocale::Chinese, QLocale::China)};
    c.setNumericMode(true);
    return c;
}

// Ranks of distinct texts: equal rank for texts the collation holds equal.
std::vector<int> ranks(const std::vector<std::string_view>& distinct) {
    const QCollator c = pinyin();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(distinct.size());
    for (std::string_view t : distinct)
        keys.push_back(c.sortKey(QString::fromUtf8(t.data(), qsizetype(t.size()))));
    std::vector<int> order(distinct.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return keys[std::size_t(a)].compare(keys[std::size_t(b)]) < 0; });
    std::vector<int> rank(distinct.size());
    int r = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && keys[std::size_t(order[i - 1])].compare(keys[std::size_t(order[i])]) != 0)
            ++r;
        rank[std::size_t(order[i])] = r;
    }
    return rank;
}

// Items (by the rank of their text) in rank order; ties keep their order.
std::vector<int> byRank(const std::vector<int>& rankOfItem, bool descending) {
    std::vector<int> items(rankOfItem.size());
    std::iota(items.begin(), items.end(), 0);
    std::stable_sort(items.begin(), items.end(), [&](int a, int b) {
        const int ra = rankOfItem[std::size_t(a)], rb = rankOfItem[std::size_t(b)];
        return descending ? ra > rb : ra < rb;
    });
    return items;
}

// Gives every text the index of its first occurrence among the distinct ones.
struct Distinct {
    std::vector<std::string> texts; // owned: a scan's views do not outlive it
    std::unordered_map<std::string, int> index;
    std::vector<int> of; // per item
    void add(std::string_view t) {
        auto [it, fresh] = index.try_emplace(std::string(t), int(texts.size()));
        if (fresh)
            texts.emplace_back(t);
        of.push_back(it->second);
    }
    std::vector<int> itemRanks() const {
        const std::vector<std::string_view> views(texts.begin(), texts.end());
        const std::vector<int> r = ranks(views);
        std::vector<int> out(of.size());
        for (std::size_t i = 0; i < of.size(); ++i)
            out[i] = r[std::size_t(of[i])];
        return out;
    }
};

} // namespace

std::vector<int> collatedOrder(const std::vector<std::string>& texts, bool descending) {
    Distinct d;
    for (const std::string& t : texts)
        d.add(t);
    return byRank(d.itemRanks(), descending);
}

std::vector<int> collatedRows(const Cursor& book, int pos, bool descending) {
    Distinct d;
    d.of.reserve(std::size_t(book.recordCount()));
    book.scanField(pos, [&](int, std::string_view text) {
        d.add(text);
        return true;
    });
    // Rows the scan did not reach (none, unless the file lost some) stay last.
    std::vector<int> rows = byRank(d.itemRanks(), descending);
    for (int p = int(d.of.size()); p < book.recordCount(); ++p)
        rows.push_back(p);
    return rows;
}

} // namespace tsl::out
