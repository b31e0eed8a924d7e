#include "export/bookprint.h"

#include "export/capital.h"
#include "storage/intconv.h"

namespace tsl::out {

BookPrint bookPrintOf(std::string ledger, const Book& book, std::string date, RowSource& rows) {
    BookPrint b{std::move(ledger), book.number, std::move(date), {}, 0, 0};
    b.table.columns = book.columns();
    if (rows.size() > 0)
        b.table.rows.reserve(std::size_t(rows.size()));
    const std::size_t fields = book.fields.size();
    for (std::vector<std::string> r; rows.next(r);) {
        r.resize(fields);
        if (book.amountPos >= 0) {
            if (const auto v = tryStrToInt(r[std::size_t(book.amountPos)]))
                b.total += *v;
            else
                ++b.skipped;
        }
        b.table.rows.push_back(r);
    }
    return b;
}

std::string bookTitle(const Book& book) {
    switch (book.number) {
    case 1: return "客户联系";
    case 2: return "发货表单";
    case 3: return "进货表单";
    default: return "职工交货";
    }
}

PageDoc bookPages(const BookPrint& b) {
    const Book* book = findBook(b.book);
    const std::string title = book ? bookTitle(*book) : std::string();
    const std::string label = book ? std::string(book->label) : std::string();
    PageDoc d;
    d.title = title;
    d.lines = {"帐本: " + b.ledger + "      帐簿: " + label + "      共 " + std::to_string(b.table.rows.size()) + " 行",
               "打印日期: " + b.date};
    d.continued = title + " (续)   " + b.ledger;
    d.table = &b.table;
    if (book && book->amountPos >= 0) {
        d.closing = {"合计金额: " + intToStr(b.total) + "元", "大写金额: " + capitalYuan(b.total)};
        if (b.skipped > 0)
            d.closing.push_back("另有 " + std::to_string(b.skipped) + " 行的金额不是整数,未计入合计.");
    }
    d.docName = title + " - " + b.ledger;
    return d;
}

QPageLayout::Orientation bookOrientation(const BookPrint& b) { return orientationFor(b.table.columns.header.size()); }

Outcome writeBookPdf(const std::string& path, const BookPrint& b, const Progress& progress) {
    return writePagesPdf(path, bookPages(b), bookOrientation(b), progress);
}

ReportPrint reportPrintOf(std::string ledger, std::string date, std::string_view message) {
    ReportPrint r{std::move(ledger), std::move(date), {}, {}, {}};
    r.table.columns.header = {"项目", "数值"};
    r.table.columns.numeric = {false, true};
    bool first = true;
    while (!message.empty()) {
        const std::size_t end = message.find('\n');
        std::string_view line = message.substr(0, end);
        message = end == std::string_view::npos ? std::string_view() : message.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.back() == ' ' || line.back() == '\r'))
            line = line.front() == ' ' ? line.substr(1) : line.substr(0, line.size() - 1);
        if (line.empty())
            continue;
        if (first) {
            r.title = line;
            first = false;
        } else if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
            r.table.rows.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
        } else {
            r.closing.emplace_back(line);
        }
    }
    return r;
}

PageDoc reportPages(const ReportPrint& r) {
    PageDoc d;
    d.title = r.title;
    d.lines = {"帐本: " + r.ledger, "打印日期: " + r.date};
    d.continued = r.title + " (续)   " + r.ledger;
    d.table = &r.table;
    d.closing = r.closing;
    d.docName = r.title + " - " + r.ledger;
    return d;
}

QPageLayout::Orientation reportOrientation(const ReportPrint& r) {
    return orientationFor(r.table.columns.header.size());
}

Outcome writeReportPdf(const std::string& path, const ReportPrint& r, const Progress& progress) {
    return writePagesPdf(path, reportPages(r), reportOrientation(r), progress);
}

} // namespace tsl::out
