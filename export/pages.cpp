#include "export/pages.h"

#include "export/outfile.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <map>
#include <numeric>

namespace tsl::out {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QFont face(double points) {
    QFont f(QString::fromLatin1(kStatementFace));
    if (!QFontDatabase::hasFamily(f.family()))
        f.setFamilies({QString::fromLatin1(kStatementFace), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC")});
    f.setPointSizeF(points);
    return f;
}

constexpr int kWrap = Qt::TextWrapAnywhere;

// Where everything goes, worked out before the first stroke so that every page
// can say how many pages there are.
struct Layout {
    double mm = 0; // device pixels per millimetre
    double width = 0, height = 0;
    double pad = 0;
    QFont title, info, cell, foot;
    double titleBlock = 0;  // title and the lines under it, page 1
    double runningHead = 0; // the short line heading pages 2 on
    double footer = 0;
    double headerRow = 0;
    double closingBlock = 0;
    std::vector<double> colX; // left edge of each column, and the right edge of the last
    double headingLine = 0; // the heading of the rows kept apart, with room above it
    // The rows in the order painted: the table's, then (after the heading, an
    // entry without a row) those kept apart. A row's number counts through both.
    std::vector<const std::vector<std::string>*> items;
    std::vector<double> rowH;            // by item
    std::vector<std::size_t> pageStart; // first item of every page
    bool closingOwnPage = false;
    // Cells too long for kMaxCellLines lines, by row (the header as row -1) and column: their cut text.
    std::map<std::pair<std::ptrdiff_t, std::size_t>, QString> cut;
    [[nodiscard]] int pages() const { return int(pageStart.size()) + (closingOwnPage ? 1 : 0); }
};

double wrappedHeight(const QFontMetricsF& fm, double width, const QString& text) {
    if (text.isEmpty())
        return fm.height();
    return fm.boundingRect(QRectF(0, 0, width, 1e9), kWrap, text).height();
}

// The longest beginning of `text` that, ended by "…", wraps within `maxHeight`.
QString cutToFit(const QFontMetricsF& fm, double width, const QString& text, double maxHeight) {
    qsizetype lo = 0, hi = text.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (wrappedHeight(fm, width, text.left(mid) + QChar(0x2026)) <= maxHeight)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo > 0 && text.at(lo - 1).isHighSurrogate())
        --lo; // never half a character
    return text.left(lo) + QChar(0x2026);
}

// Column widths: every column as wide as its widest text, when that fits;
// otherwise the narrow ones keep their width and the wide ones share the rest
// and wrap.
std::vector<double> columnWidths(const std::vector<double>& natural, double avail) {
    const double sum = std::accumulate(natural.begin(), natural.end(), 0.0);
    std::vector<double> w = natural;
    if (sum <= avail) {
        for (double& x : w)
            x *= avail / sum;
        return w;
    }
    std::vector<bool> fixed(w.size(), false);
    double left = avail;
    std::size_t open = w.size();
    for (bool changed = true; changed && open > 0;) {
        changed = false;
        const double share = left / double(open);
        for (std::size_t c = 0; c < w.size(); ++c)
            if (!fixed[c] && natural[c] <= share) {
                fixed[c] = true;
                left -= natural[c];
                --open;
                changed = true;
            }
    }
    for (std::size_t c = 0; c < w.size(); ++c)
        if (!fixed[c])
            w[c] = left / double(open);
    return w;
}

const Table& tableOf(const PageDoc& doc) {
    static const Table none;
    return doc.table ? *doc.table : none;
}

const std::vector<std::vector<std::string>>& apartOf(const PageDoc& doc) {
    static const std::vector<std::vector<std::string>> none;
    return doc.apart ? *doc.apart : none;
}

bool layOut(Layout& L, const QPaintDevice& dev, const PageDoc& doc, const Progress& progress) {
    const Table& t = tableOf(doc);
    L.mm = dev.logicalDpiX() / 25.4;
    L.width = dev.width();
    L.height = dev.height();
    L.pad = 1.2 * L.mm;
    L.title = face(18);
    L.info = face(10);
    L.cell = face(9);
    L.foot = face(8);
    const QFontMetricsF title(L.title, &dev), info(L.info, &dev), cell(L.cell, &dev), foot(L.foot, &dev);
    L.titleBlock = title.height() + 3 * L.mm + double(doc.lines.size()) * info.lineSpacing() + 4 * L.mm;
    L.runningHead = foot.lineSpacing() + 2 * L.mm;
    L.footer = foot.lineSpacing() + 4 * L.mm;
    L.closingBlock = doc.closing.empty() ? 0 : 4 * L.mm + double(doc.closing.size()) * info.lineSpacing();
    L.headingLine = 4 * L.mm + info.lineSpacing();
    const auto& apart = apartOf(doc);
    L.items.clear();
    L.items.reserve(t.rows.size() + apart.size() + 1);
    for (const auto& r : t.rows)
        L.items.push_back(&r);
    if (!apart.empty()) {
        L.items.push_back(nullptr);
        for (const auto& r : apart)
            L.items.push_back(&r);
    }
    const double maxCell = cell.height() + (kMaxCellLines - 1) * cell.lineSpacing() + 0.5;

    const auto& header = t.columns.header;
    const std::size_t cols = header.size();
    std::vector<double> natural(cols, 0);
    std::int64_t done = 0;
    auto tick = [&] { return ++done % 1024 != 0 || !progress || progress(done / 2, std::int64_t(t.rows.size())); };
    for (std::size_t c = 0; c < cols; ++c)
        natural[c] = cell.horizontalAdvance(q(header[c]));
    for (const auto* item : L.items) {
        if (!item)
            continue;
        const auto& r = *item;
        for (std::size_t c = 0; c < cols && c < r.size(); ++c)
            natural[c] = std::max(natural[c], cell.horizontalAdvance(q(r[c])));
        if (!tick())
            return false;
    }
    for (double& n : natural)
        n += 2 * L.pad + 1;
    const std::vector<double> w = cols ? columnWidths(natural, L.width) : std::vector<double>{};
    L.colX.assign(1, 0);
    for (double x : w)
        L.colX.push_back(L.colX.back() + x);

    auto rowHeight = [&](const std::vector<std::string>& r, std::ptrdiff_t row) {
        double h = cell.height();
        for (std::size_t c = 0; c < cols && c < r.size(); ++c) {
            if (r[c].empty())
                continue;
            const double inner = w[c] - 2 * L.pad;
            const QString text = q(r[c]);
            double need = wrappedHeight(cell, inner, text);
            if (need > maxCell) {
                const QString shown = cutToFit(cell, inner, text, maxCell);
                need = wrappedHeight(cell, inner, shown);
                L.cut.emplace(std::make_pair(row, c), shown);
            }
            h = std::max(h, need);
        }
        return h + 2 * L.pad;
    };
    L.headerRow = cols ? rowHeight(header, -1) : 0;

    const double bottom = L.height - L.footer;
    double y = L.titleBlock + L.headerRow;
    L.pageStart.assign(1, 0);
    L.rowH.clear();
    L.rowH.reserve(L.items.size());
    for (std::size_t i = 0; i < L.items.size(); ++i) {
        // The heading brings its own column titles under it.
        const double h = L.items[i] ? rowHeight(*L.items[i], std::ptrdiff_t(i)) : L.headingLine + L.headerRow;
        L.rowH.push_back(h);
        // A heading stays with the first row under it.
        const double keep =
            !L.items[i] && i + 1 < L.items.size() ? rowHeight(*L.items[i + 1], std::ptrdiff_t(i + 1)) : 0;
        if (y + h + keep > bottom && i > L.pageStart.back()) {
            L.pageStart.push_back(i);
            y = L.runningHead + L.headerRow;
        }
        y += h;
        if (!tick())
            return false;
    }
    L.closingOwnPage = y + L.closingBlock > bottom;
    return true;
}

QString cellText(const Layout& L, const std::vector<std::string>& r, std::ptrdiff_t row, std::size_t c) {
    if (const auto it = L.cut.find({row, c}); it != L.cut.end())
        return it->second;
    return q(r[c]);
}

void paintHeaderRow(QPainter& p, const Layout& L, const std::vector<std::string>& header, double y) {
    p.save();
    p.setBrush(QColor(230, 230, 230));
    for (std::size_t c = 0; c < header.size(); ++c) {
        const QRectF box(L.colX[c], y, L.colX[c + 1] - L.colX[c], L.headerRow);
        p.drawRect(box);
        p.drawText(box.adjusted(L.pad, L.pad, -L.pad, -L.pad), kWrap | Qt::AlignCenter, cellText(L, header, -1, c));
    }
    p.restore();
}

void paintRow(QPainter& p, const Layout& L, const Columns& cols, const std::vector<std::string>& r, std::size_t row,
              double y, double h) {
    for (std::size_t c = 0; c + 1 < L.colX.size(); ++c) {
        const QRectF box(L.colX[c], y, L.colX[c + 1] - L.colX[c], h);
        p.drawRect(box);
        if (c >= r.size() || r[c].empty())
            continue;
        const int align = (cols.isNumeric(c) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
        p.drawText(box.adjusted(L.pad, L.pad, -L.pad, -L.pad), kWrap | align, cellText(L, r, std::ptrdiff_t(row), c));
    }
}

} // namespace

QPageLayout::Orientation orientationFor(std::size_t columns) {
    return columns <= 5 ? QPageLayout::Portrait : QPageLayout::Landscape;
}

QPageLayout pageLayout(QPageLayout::Orientation orientation) {
    return QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
}

int paintPages(QPagedPaintDevice& device, const PageDoc& doc, const Progress& progress) {
    const Table& t = tableOf(doc);
    Layout L;
    if (!layOut(L, device, doc, progress))
        return 0;
    const int pages = L.pages();

    QPainter p(&device);
    p.setPen(QPen(Qt::black, 0.2 * L.mm));
    const QFontMetricsF info(L.info, &device);
    std::int64_t done = 0;
    const std::int64_t all = std::int64_t(L.items.size());

    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            device.newPage();
        double y = 0;
        if (page == 0) {
            p.setFont(L.title);
            const QFontMetricsF title(L.title, &device);
            p.drawText(QRectF(0, 0, L.width, title.height()), Qt::AlignHCenter | Qt::AlignTop, q(doc.title));
            y = title.height() + 3 * L.mm;
            p.setFont(L.info);
            for (const std::string& line : doc.lines) {
                p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft | Qt::TextSingleLine, q(line));
                y += info.lineSpacing();
            }
            y = L.titleBlock;
        } else {
            p.setFont(L.foot);
            p.drawText(QRectF(0, 0, L.width, L.runningHead), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                       q(doc.continued));
            y = L.runningHead;
        }

        if (std::size_t(page) < L.pageStart.size()) {
            const std::size_t from = L.pageStart[std::size_t(page)];
            const std::size_t to = std::size_t(page) + 1 < L.pageStart.size() ? L.pageStart[std::size_t(page) + 1]
                                                                              : L.items.size();
            p.setFont(L.cell);
            if (from >= to || L.items[from]) { // a heading brings its own titles
                paintHeaderRow(p, L, t.columns.header, y);
                y += L.headerRow;
            }
            for (std::size_t i = from; i < to; ++i) {
                if (L.items[i]) {
                    paintRow(p, L, t.columns, *L.items[i], i, y, L.rowH[i]);
                } else {
                    p.setFont(L.info);
                    const double top = i == from ? y : y + 4 * L.mm;
                    p.drawText(QRectF(0, top, L.width, info.lineSpacing()), Qt::AlignLeft | Qt::TextSingleLine,
                               q(doc.apartHeading));
                    p.setFont(L.cell);
                    paintHeaderRow(p, L, t.columns.header, y + L.headingLine);
                }
                y += L.rowH[i];
                if (++done % 1024 == 0 && progress && !progress(all / 2 + done / 2, all)) {
                    p.end();
                    return 0;
                }
            }
        }

        if (page == pages - 1 && !doc.closing.empty()) {
            y += 4 * L.mm;
            p.setFont(L.info);
            for (const std::string& line : doc.closing) {
                p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft | Qt::TextSingleLine, q(line));
                y += info.lineSpacing();
            }
        }

        p.setFont(L.foot);
        p.drawText(QRectF(0, L.height - L.footer, L.width, L.footer), Qt::AlignHCenter | Qt::AlignBottom,
                   QStringLiteral("第 %1 页 / 共 %2 页").arg(page + 1).arg(pages));
    }
    p.end();
    return pages;
}

Outcome writePagesPdf(const std::string& path, const PageDoc& doc, QPageLayout::Orientation orientation,
                      const Progress& progress) {
    OutFile file(path);
    int pages = 0;
    {
        QPdfWriter pdf(QString::fromStdString(file.writerPath()));
        pdf.setResolution(300);
        pdf.setPageLayout(pageLayout(orientation));
        pdf.setCreator(QStringLiteral("tessolan"));
        pdf.setTitle(q(doc.docName));
        pages = paintPages(pdf, doc, progress);
    }
    if (pages == 0)
        return Outcome::Cancelled;
    file.commit();
    return Outcome::Written;
}

} // namespace tsl::out
