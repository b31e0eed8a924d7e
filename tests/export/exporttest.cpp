#include "tests/export/exporttest.h"

#include "tests/support/tempdir.h"

#include <cstdio>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <sys/wait.h>

namespace tsltest {

namespace {

std::string unescapeXml(std::string text) {
    // &amp; last, so an escaped entity comes out as written.
    for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}})
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; ++at)
            text.replace(at, std::char_traits<char>::length(from), to);
    return text;
}

} // namespace

Run run(const std::string& command) {
    Run r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::optional<std::vector<std::vector<std::string>>> parseQuotedCsv(const std::string& b) {
    static const std::regex field(R"re("((?:[^"]|"")*)"(,|\r\n))re"), quotes("\"\"");
    if (b.rfind("\xEF\xBB\xBF", 0) != 0)
        return std::nullopt;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::smatch m;
    for (auto at = b.cbegin() + 3; at != b.cend(); at = m[0].second) {
        if (!std::regex_search(at, b.cend(), m, field, std::regex_constants::match_continuous))
            return std::nullopt;
        row.push_back(std::regex_replace(m[1].str(), quotes, "\""));
        if (m[2] == "\r\n")
            rows.push_back(std::exchange(row, {}));
    }
    if (!row.empty())
        return std::nullopt; // the last line has no line end
    return rows;
}

XlsxSheet readXlsx(const std::string& path) {
    XlsxSheet sheet;
    const Run r = run("unzip -p " + shellQuote(path) + " xl/worksheets/sheet1.xml");
    if (r.status != 0)
        throw std::runtime_error("unzip failed: " + r.out);
    sheet.xml = r.out;
    static const std::regex cell(R"re(<c r="([A-Z]+[0-9]+)"([^>]*?)(/>|>([\s\S]*?)</c>))re");
    static const std::regex value(R"re(<v>([\s\S]*?)</v>)re");
    static const std::regex inlineText(R"re(<t[^>]*>([\s\S]*?)</t>)re");
    for (std::sregex_iterator it(sheet.xml.begin(), sheet.xml.end(), cell), end; it != end; ++it) {
        const std::string attrs = (*it)[2], body = (*it)[4];
        XlsxCell c;
        std::smatch m;
        if (attrs.find("t=\"inlineStr\"") != std::string::npos || attrs.find("t=\"str\"") != std::string::npos) {
            if (std::regex_search(body, m, inlineText))
                c.text = m[1];
            c.text = unescapeXml(c.text);
        } else if (attrs.find("t=\"") != std::string::npos) {
            c.text = "<unexpected cell type>";
        } else if (std::regex_search(body, m, value)) {
            c.number = true;
            c.text = m[1];
        } else {
            continue; // blank, formatted only
        }
        sheet.cells[(*it)[1]] = c;
    }
    return sheet;
}

std::string pdfText(const std::string& path, int page) {
    const std::string pages = page > 0 ? " -f " + std::to_string(page) + " -l " + std::to_string(page) : "";
    return run("pdftotext -layout" + pages + " " + shellQuote(path) + " -").out;
}

int pdfPages(const std::string& path) {
    std::smatch m;
    static const std::regex pages(R"(Pages:\s+([0-9]+))");
    const std::string info = run("pdfinfo " + shellQuote(path)).out;
    return std::regex_search(info, m, pages) ? std::stoi(m[1]) : -1;
}

std::vector<std::vector<PdfWord>> pdfWords(const std::string& path) {
    const Run r = run("pdftotext -bbox " + shellQuote(path) + " -");
    if (r.status != 0)
        throw std::runtime_error("pdftotext -bbox failed: " + r.out);
    static const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">(.*)</word>)re");
    std::vector<std::vector<PdfWord>> pages;
    std::istringstream lines(r.out);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (line.find("<page ") != std::string::npos) {
            pages.emplace_back();
        } else if (std::regex_search(line, m, word)) {
            if (pages.empty())
                throw std::runtime_error("pdftotext -bbox: a word before the first page");
            pages.back().push_back({unescapeXml(m[5]), std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])});
        }
    }
    return pages;
}

void makeLedger(const std::string& file, const std::map<int, std::vector<std::vector<std::string>>>& rows) {
    writeFile(file, readFile(indexTemplate()));
    std::string sql = "BEGIN;";
    for (const auto& [book, list] : rows)
        for (const auto& r : list) {
            sql += "INSERT INTO \"" + std::to_string(book) + "\" VALUES (";
            for (std::size_t i = 0; i < r.size(); ++i)
                sql += (i ? "," : "") + sqlQuote(r[i]);
            sql += ");";
        }
    sqlExec(file, sql + "COMMIT;");
}

} // namespace tsltest
