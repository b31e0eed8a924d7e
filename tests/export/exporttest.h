#pragma once
// Reading back what the exporters write, with outside tools where there are
// some (unzip, pdftotext, pdffonts) and a strict parser for csv.
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tsltest {

struct Run {
    std::string out; // stdout and stderr
    int status = -1;
};
[[nodiscard]] Run run(const std::string& command);
[[nodiscard]] std::string shellQuote(const std::string& s);

// RFC 4180 with every field quoted: fails (nullopt) on anything else, a
// missing byte-order mark included.
[[nodiscard]] std::optional<std::vector<std::vector<std::string>>> parseQuotedCsv(const std::string& bytes);

// The cells of the first worksheet of an xlsx file, by reference ("A1"):
// a number's text as stored, or the string.
struct XlsxCell {
    bool number = false;
    std::string text;
};
struct XlsxSheet {
    std::map<std::string, XlsxCell> cells;
    std::string xml; // the worksheet as written
};
[[nodiscard]] XlsxSheet readXlsx(const std::string& path);

// The text of a PDF, one page or all (page 0).
[[nodiscard]] std::string pdfText(const std::string& path, int page = 0);
[[nodiscard]] int pdfPages(const std::string& path);

// Every word of a PDF with its box (points from the page's top left), as
// `pdftotext -bbox` finds them, page by page in reading order.
struct PdfWord {
    std::string text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};
[[nodiscard]] std::vector<std::vector<PdfWord>> pdfWords(const std::string& path);

// A ledger file made from the empty index with rows in its books: each row's fields in order.
void makeLedger(const std::string& file, const std::map<int, std::vector<std::vector<std::string>>>& rows);

// The message `f` throws, or "no error".
template <class F>
std::string errorOf(F f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace tsltest
