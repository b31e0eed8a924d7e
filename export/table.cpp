#include "export/table.h"

#include "export/outfile.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <sys/statvfs.h>
#include <utility>

namespace tsl::out {

namespace {

constexpr std::int64_t kProgressEvery = 4096;

thread_local std::vector<std::string> notes;

// Calls the progress function every few thousand rows; true when cancelled.
class Ticker {
public:
    Ticker(const Progress& p, std::int64_t total) : p_(p), total_(total) {}
    bool row() { return ++done_ % kProgressEvery == 0 && p_ && !p_(done_, total_); }
    bool finish() { return p_ && !p_(done_, total_); }

private:
    const Progress& p_;
    std::int64_t total_;
    std::int64_t done_ = 0;
};

} // namespace

std::vector<std::string> takeExportNotes() { return std::exchange(notes, {}); }

bool TableSource::next(std::vector<std::string>& row) {
    if (at_ >= t_.rows.size())
        return false;
    row = t_.rows[at_++];
    return true;
}

std::optional<double> exactNumber(std::string_view s) noexcept {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-')
        ++i;
    const std::size_t intStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    const std::size_t intLen = i - intStart;
    if (intLen == 0 || (intLen > 1 && s[intStart] == '0'))
        return std::nullopt;
    std::size_t fracLen = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const std::size_t fracStart = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        fracLen = i - fracStart;
        if (fracLen == 0 || s[i - 1] == '0')
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    // Significant digits: a whole part of "0" adds none, nor do the zeros right after the point.
    std::size_t significant = intLen + fracLen;
    if (s[intStart] == '0') {
        significant = fracLen;
        for (std::size_t k = intStart + 2; k < s.size() && s[k] == '0'; ++k)
            --significant;
    }
    if (significant > 15)
        return std::nullopt;
    if (s[0] == '-' && intLen == 1 && s[intStart] == '0' && fracLen == 0)
        return std::nullopt; // "-0" would come back as 0
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

std::optional<Percentage> percentage(std::string_view s) noexcept {
    if (s.size() < 2 || s.back() != '%')
        return std::nullopt;
    s.remove_suffix(1);
    const bool negative = s.front() == '-';
    if (negative)
        s.remove_prefix(1);
    const std::size_t point = s.find('.');
    const std::string_view whole = s.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
    auto digitsOnly = [](std::string_view d) {
        return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || (whole.size() > 1 && whole[0] == '0') || !digitsOnly(whole) || !digitsOnly(fraction) ||
        (point != std::string_view::npos && fraction.empty()) || whole.size() + fraction.size() > 15)
        return std::nullopt;
    if (negative && s.find_first_not_of("0.") == std::string_view::npos)
        return std::nullopt; // "-0%" would come back without its sign
    // The point moved two places to the left in the text, so the number is the
    // nearest to the written one rather than a quotient's rounding.
    std::string digits = std::string(whole) + std::string(fraction);
    const std::ptrdiff_t at = std::ptrdiff_t(whole.size()) - 2;
    std::string text = negative ? "-" : "";
    if (at <= 0)
        text += "0." + std::string(std::size_t(-at), '0') + digits;
    else
        text += digits.substr(0, std::size_t(at)) + "." + digits.substr(std::size_t(at));
    double v = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), v).ec != std::errc())
        return std::nullopt;
    return Percentage{v, int(fraction.size())};
}

int displayWidth(std::string_view s) noexcept {
    int w = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else if (c >= 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xC0) {
            len = 2;
            cp = c & 0x1F;
        }
        for (std::size_t k = 1; k < len && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += len;
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
        w += wide ? 2 : 1;
    }
    return w;
}

// ---- csv ----------------------------------------------------------------------------

namespace {

class CsvOut {
public:
    explicit CsvOut(OutFile& f) : f_(f) { buf_.reserve(kFlushAt + 4096); }

    void row(const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c > 0)
                buf_ += ',';
            field(cells[c]);
        }
        buf_ += "\r\n";
        if (buf_.size() >= kFlushAt)
            flush();
    }

    void flush() {
        f_.write(buf_.data(), buf_.size());
        buf_.clear();
    }

    void raw(std::string_view s) { buf_ += s; }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;

    void field(std::string_view s) {
        buf_ += '"';
        for (;;) {
            const auto* q = static_cast<const char*>(std::memchr(s.data(), '"', s.size()));
            if (!q) {
                buf_ += s;
                break;
            }
            const std::size_t n = std::size_t(q - s.data()) + 1;
            buf_.append(s.data(), n);
            buf_ += '"';
            s.remove_prefix(n);
        }
        buf_ += '"';
    }

    OutFile& f_;
    std::string buf_;
};

} // namespace

Outcome writeCsv(const std::string& path, const Columns& cols, RowSource& rows, const Progress& progress) {
    notes.clear();
    OutFile file(path);
    CsvOut out(file);
    out.raw("\xEF\xBB\xBF");
    out.row(cols.header);
    Ticker tick(progress, rows.size());
    std::vector<std::string> row;
    while (rows.next(row)) {
        out.row(row);
        if (tick.row())
            return Outcome::Cancelled;
    }
    if (auto total = rows.totalRow(); !total.empty())
        out.row(total);
    out.flush();
    if (tick.finish())
        return Outcome::Cancelled;
    file.commit();
    return Outcome::Written;
}

// ---- xlsx ---------------------------------------------------------------------------

namespace {

constexpr std::int64_t kMaxXlsxRows = 1048576;
constexpr std::size_t kMaxCellUnits = 32767; // characters in a cell, as Excel counts them (UTF-16)

// The longest prefix of `s` that a cell holds, cut on a character boundary;
// npos when all of it fits.
std::size_t cellCut(const std::string& s) {
    if (s.size() <= kMaxCellUnits)
        return std::string::npos;
    std::size_t units = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        units += len == 4 ? 2 : 1;
        if (units > kMaxCellUnits)
            return i;
        i += len;
    }
    return std::string::npos;
}

std::string cellRef(std::int64_t row, std::size_t col) {
    std::string letters;
    for (std::size_t n = col + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), char('A' + (n - 1) % 26));
    return letters + std::to_string(row + 1);
}

// Why the library failed, in words for the user: the system's reason when a
// file operation left one, a full disk when the folder has no room left.
std::string xlsxReason(lxw_error e, int err, const std::string& folder) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case EROFS:
    case EFBIG:
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENAMETOOLONG:
        return reasonText(err);
    default:
        break;
    }
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0)
        return reasonText(ENOSPC);
    switch (e) {
    case LXW_ERROR_MEMORY_MALLOC_FAILED: return reasonText(ENOMEM);
    case LXW_ERROR_CREATING_TMPFILE:
    case LXW_ERROR_READING_TMPFILE: return "临时文件夹已满或者不能写入";
    default: return "Excel 文件写入出错 (错误 " + std::to_string(int(e)) + ")";
    }
}

std::string sheetName(std::string name) {
    for (char& c : name)
        if (std::strchr("[]:*?/\\", c))
            c = '_';
    if (name.empty())
        name = "Sheet1";
    // At most 31 characters, cut on a character boundary.
    std::size_t chars = 0, i = 0;
    while (i < name.size() && chars < 31) {
        const auto c = static_cast<unsigned char>(name[i]);
        i += c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        ++chars;
    }
    name.resize(std::min(i, name.size()));
    return name;
}

// A workbook given up before its close (cancel, failure) is dropped unwritten.
struct WorkbookDropper {
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};

class XlsxOut {
public:
    XlsxOut(const std::string& finalPath, const std::string& tempPath, const std::string& sheet,
            const Columns& cols)
        : path_(finalPath), temp_(tempPath), cols_(cols) {
        lxw_workbook_options opt{};
        opt.constant_memory = LXW_TRUE;
        errno = 0;
        wb_.reset(workbook_new_opt(tempPath.c_str(), &opt));
        if (!wb_)
            fail(LXW_ERROR_CREATING_XLSX_FILE);
        ws_ = workbook_add_worksheet(wb_.get(), sheetName(sheet).c_str());
        if (!ws_)
            fail(LXW_ERROR_MEMORY_MALLOC_FAILED);
        bold_ = workbook_add_format(wb_.get());
        format_set_bold(bold_);
        widths_.assign(cols.header.size(), 0);
        worksheet_freeze_panes(ws_, 1, 0);
    }

    void row(const std::vector<std::string>& cells, lxw_format* fmt) {
        if (row_ >= kMaxXlsxRows)
            throw ExportError("表格有 " + std::to_string(row_ + 1) + " 行以上,超出 Excel 一张表的 " +
                              std::to_string(kMaxXlsxRows) + " 行.");
        if (cells.size() > widths_.size())
            widths_.resize(cells.size(), 0);
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string* text = &cells[c];
            std::string cut;
            if (const std::size_t keep = cellCut(*text); keep != std::string::npos) {
                cut = text->substr(0, keep);
                text = &cut;
                notes.push_back("格子 " + cellRef(row_, c) + " 的文字超过 Excel 一格能放的 " +
                                std::to_string(kMaxCellUnits) + " 个字符,只导出了前面的部分.");
            }
            const std::string& s = *text;
            lxw_error e = LXW_NO_ERROR;
            errno = 0;
            if (s.empty()) {
                if (fmt)
                    e = worksheet_write_blank(ws_, lxw_row_t(row_), lxw_col_t(c), fmt);
            } else if (auto v = cols_.isNumeric(c) ? exactNumber(s) : std::nullopt) {
                e = worksheet_write_number(ws_, lxw_row_t(row_), lxw_col_t(c), *v, fmt);
            } else if (auto p = cols_.isNumeric(c) ? percentage(s) : std::nullopt) {
                e = worksheet_write_number(ws_, lxw_row_t(row_), lxw_col_t(c), p->value,
                                           percentFormat(p->decimals, fmt));
            } else {
                e = worksheet_write_string(ws_, lxw_row_t(row_), lxw_col_t(c), s.c_str(), fmt);
            }
            if (e != LXW_NO_ERROR)
                fail(e);
            widths_[c] = std::max(widths_[c], s.size() < 200 ? displayWidth(s) : 200);
        }
        ++row_;
    }

    lxw_format* bold() const { return bold_; }

    // "0.0%" for one decimal, bold when `fmt` is; made once for each.
    lxw_format* percentFormat(int decimals, lxw_format* fmt) {
        const bool bold = fmt == bold_;
        lxw_format*& f = percent_[{decimals, bold}];
        if (!f) {
            f = workbook_add_format(wb_.get());
            if (!f)
                fail(LXW_ERROR_MEMORY_MALLOC_FAILED);
            const std::string code = decimals > 0 ? "0." + std::string(std::size_t(decimals), '0') + "%" : "0%";
            format_set_num_format(f, code.c_str());
            if (bold)
                format_set_bold(f);
        }
        return f;
    }

    // Column widths are known only at the end; the worksheet writes them ahead
    // of its rows when the workbook is closed.
    void close() {
        for (std::size_t c = 0; c < widths_.size(); ++c)
            worksheet_set_column(ws_, lxw_col_t(c), lxw_col_t(c), std::clamp(widths_[c] + 2, 6, 80), nullptr);
        errno = 0;
        const lxw_error e = workbook_close(wb_.release());
        if (e != LXW_NO_ERROR)
            fail(e);
    }

private:
    [[noreturn]] void fail(lxw_error e) const {
        const int err = errno;
        const auto slash = temp_.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : temp_.substr(0, slash + 1);
        throw ExportError("不能写入文件 \"" + path_ + "\": " + xlsxReason(e, err, folder) + "!");
    }

    std::string path_;
    std::string temp_;
    const Columns& cols_;
    std::unique_ptr<lxw_workbook, WorkbookDropper> wb_;
    lxw_worksheet* ws_ = nullptr;
    lxw_format* bold_ = nullptr;
    std::map<std::pair<int, bool>, lxw_format*> percent_; // the workbook owns them
    std::vector<int> widths_;
    std::int64_t row_ = 0;
};

} // namespace

Outcome writeXlsx(const std::string& path, const std::string& sheet, const Columns& cols, RowSource& rows,
                  const Progress& progress) {
    if (rows.size() + 2 > kMaxXlsxRows)
        throw ExportError("表格有 " + std::to_string(rows.size()) + " 行,超出 Excel 一张表的 " +
                          std::to_string(kMaxXlsxRows) + " 行.");
    notes.clear();
    OutFile file(path);
    {
        XlsxOut out(path, file.writerPath(), sheet, cols); // the library writes the file by its name
        out.row(cols.header, out.bold());
        Ticker tick(progress, rows.size());
        std::vector<std::string> row;
        while (rows.next(row)) {
            out.row(row, nullptr);
            if (tick.row())
                return Outcome::Cancelled;
        }
        if (auto total = rows.totalRow(); !total.empty())
            out.row(total, out.bold());
        if (tick.finish())
            return Outcome::Cancelled;
        out.close();
    }
    file.commit();
    return Outcome::Written;
}

} // namespace tsl::out
