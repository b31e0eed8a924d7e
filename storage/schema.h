#pragma once
#include <span>
#include <string>
#include <string_view>

namespace tsl {

// File names, always relative to the current directory.
inline constexpr std::string_view kStoredIndexFile = "run.dll"; // index while the program is not running
inline constexpr std::string_view kIndexFile = "tsl.mdb";       // index while it runs
inline constexpr std::string_view kLedgerSuffix = ".mdb";

inline constexpr std::string_view kConnectionPrefix =
    "Provider=msdatashape.1;Data Provider=microsoft.jet.oledb.4.0;Data Source=";

// Connection string for a database file.
[[nodiscard]] std::string connectionString(std::string_view file);

// Table names.
namespace table {
inline constexpr std::string_view customers = "1";
inline constexpr std::string_view shipments = "2";
inline constexpr std::string_view purchases = "3";
inline constexpr std::string_view deliveries = "4";
inline constexpr std::string_view ledgers = "5";
inline constexpr std::string_view customerNames = "temp1";
inline constexpr std::string_view workerNames = "temp2";
inline constexpr std::string_view purchaseSources = "temp3";
inline constexpr std::string_view purchaseKinds = "temp4";
inline constexpr std::string_view garmentKinds = "temp5";
inline constexpr std::string_view workKinds = "temp6";
} // namespace table

// Field names used by name.
namespace field {
inline constexpr std::string_view ledgerName = "name";
inline constexpr std::string_view lookup = "1"; // the only field of a lookup list
inline constexpr std::string_view stamp = "日期";
inline constexpr std::string_view amount = "总金额";
// customer book
inline constexpr std::string_view custName = "姓名";
inline constexpr std::string_view custAddress = "地址";
inline constexpr std::string_view custPostcode = "邮编";
inline constexpr std::string_view custPhone = "电话";
inline constexpr std::string_view custMobile = "手机";
// shipment book
inline constexpr std::string_view shipCustomer = "客户姓名";
inline constexpr std::string_view shipKind = "毛衫种类";
inline constexpr std::string_view shipQuantity = "数量";
inline constexpr std::string_view shipAddress = "发货地点";
inline constexpr std::string_view shipPostcode = "邮编";
// purchase book
inline constexpr std::string_view buySource = "货物来源";
inline constexpr std::string_view buyKind = "货物种类";
inline constexpr std::string_view buyQuantity = "货物数目";
// delivery book
inline constexpr std::string_view delWorker = "交货人";
inline constexpr std::string_view delKind = "交货种类";
inline constexpr std::string_view delQuantity = "交货总数";
} // namespace field

// Positions used by position.
namespace pos {
inline constexpr int stamp = 0;        // books 2..4
inline constexpr int settleName = 1;   // books 2..4: customer, source, worker
inline constexpr int lookupText = 0;   // lookup lists
inline constexpr int ledgerName = 0;   // ledger list
inline constexpr int custName = 0;     // customer book
inline constexpr int custAddress = 1;
inline constexpr int custPostcode = 2;
} // namespace pos

struct TableDef {
    std::string_view name;
    std::span<const std::string_view> fields; // in stored order
};

// Every table of a ledger file and of the ledger index, in one place.
[[nodiscard]] std::span<const TableDef> schema();
[[nodiscard]] const TableDef* findTable(std::string_view name);

// Position of the amount in a book's status summary: 6, 4, 4 for books 2..4; -1 otherwise.
[[nodiscard]] int amountPosition(int view);

// A table or field name as an SQL identifier: in double quotes, quotes inside doubled.
[[nodiscard]] std::string quoteIdent(std::string_view name);

// The SQL that creates every table (used only by the build step that writes the empty index).
[[nodiscard]] std::string schemaSql();

} // namespace tsl
