#include "export/statement.h"

#include "export/capital.h"
#include "storage/intconv.h"

namespace tsl::out {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

} // namespace

QString statementTitle(const Statement& s) {
    const Book* b = findBook(s.book);
    return QStringLiteral("对帐单 - %1 - %2").arg(q(s.ledger), b ? q(std::string(b->label)) + QLatin1Char(' ') + q(s.name) : q(s.name));
}

PageDoc statementPages(const Statement& s) {
    const Book* book = findBook(s.book);
    const std::string label = book ? std::string(book->label) : std::string();
    const std::string party = book && !book->party.empty() ? std::string(book->party) : "名称";
    PageDoc d;
    d.title = "对帐单";
    d.lines = {"帐本: " + s.ledger + "      帐簿: " + label + "      " + party + ": " + s.name,
               "打印日期: " + s.date};
    if (!s.period.empty())
        d.lines.push_back("期间: " + s.period);
    d.continued = "对帐单 (续)   " + s.ledger + "   " + label + "   " + party + ": " + s.name;
    d.table = &s.table;
    if (!s.undated.empty()) {
        d.apartHeading = std::string(kUndatedHeading);
        d.apart = &s.undated;
    }
    d.closing = {"合计金额: " + intToStr(s.total) + "元", "大写金额: " + capitalYuan(s.total)};
    d.docName = statementTitle(s).toStdString();
    return d;
}

int paintStatement(QPagedPaintDevice& device, const Statement& s, const Progress& progress) {
    return paintPages(device, statementPages(s), progress);
}

Outcome writeStatementPdf(const std::string& path, const Statement& s, const Progress& progress) {
    return writePagesPdf(path, statementPages(s), QPageLayout::Portrait, progress);
}

} // namespace tsl::out
