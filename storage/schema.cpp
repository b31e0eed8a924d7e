#include "storage/schema.h"

#include <array>

namespace tsl {

namespace {

constexpr std::array<std::string_view, 5> kCustomers{"姓名", "地址", "邮编", "电话", "手机"};
constexpr std::array<std::string_view, 7> kShipments{"日期", "客户姓名", "毛衫种类", "数量",
                                                     "发货地点", "邮编", "总金额"};
constexpr std::array<std::string_view, 5> kPurchases{"日期", "货物来源", "货物种类", "货物数目",
                                                     "总金额"};
constexpr std::array<std::string_view, 5> kDeliveries{"日期", "交货人", "交货种类", "交货总数",
                                                      "总金额"};
constexpr std::array<std::string_view, 1> kLedgers{"name"};
constexpr std::array<std::string_view, 1> kLookup{"1"};

constexpr std::array<TableDef, 11> kSchema{{
    {table::customers, kCustomers},
    {table::shipments, kShipments},
    {table::purchases, kPurchases},
    {table::deliveries, kDeliveries},
    {table::ledgers, kLedgers},
    {table::customerNames, kLookup},
    {table::workerNames, kLookup},
    {table::purchaseSources, kLookup},
    {table::purchaseKinds, kLookup},
    {table::garmentKinds, kLookup},
    {table::workKinds, kLookup},
}};

} // namespace

std::string quoteIdent(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string connectionString(std::string_view file) {
    std::string s(kConnectionPrefix);
    s += file;
    return s;
}

std::span<const TableDef> schema() { return kSchema; }

const TableDef* findTable(std::string_view name) {
    for (const auto& t : kSchema)
        if (t.name == name)
            return &t;
    return nullptr;
}

int amountPosition(int view) {
    switch (view) {
    case 2: return 6;
    case 3: return 4;
    case 4: return 4;
    default: return -1;
    }
}

std::string schemaSql() {
    std::string sql;
    for (const auto& t : kSchema) {
        sql += "CREATE TABLE " + quoteIdent(t.name) + " (";
        bool firstField = true;
        for (auto f : t.fields) {
            if (!firstField)
                sql += ", ";
            firstField = false;
            sql += quoteIdent(f) + " TEXT";
        }
        sql += ");\n";
    }
    return sql;
}

} // namespace tsl
