#include "export/statement.h"

#include "export/capital.h"
#include "storage/intconv.h"
#include "export/outfile.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
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
    double totalBlock = 0;
    std::vector<double> colX; // left edge of each column, and the right edge of the last
    std::vector<double> rowH;
    std::vector<std::size_t> pageStart; // first row of every page
    bool totalOwnPage = false;
    [[nodiscard]] int pages() const { return int(pageStart.size()) + (totalOwnPage ? 1 : 0); }
};

double wrappedHeight(const QFontMetricsF& fm, double width, const QString& text) {
    if (text.isEmpty())
        return fm.height();
    return fm.boundingRect(QRectF(0, 0, width, 1e9), kWrap, text).height();
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

bool layOut(Layout& L, const QPaintDevice& dev, const Statement& s, const Progress& progress) {
    L.mm = dev.logicalDpiX() / 25.4;
    L.width = dev.width();
    L.height = dev.height();
    L.pad = 1.2 * L.mm;
    L.title = face(18);
    L.info = face(10);
    L.cell = face(9);
    L.foot = face(8);
    const QFontMetricsF title(L.title, &dev), info(L.info, &dev), cell(L.cell, &dev), foot(L.foot, &dev);
    L.titleBlock = title.height() + 3 * L.mm + 2 * info.lineSpacing() + 4 * L.mm;
    L.runningHead = foot.lineSpacing() + 2 * L.mm;
    L.footer = foot.lineSpacing() + 4 * L.mm;
    L.totalBlock = 4 * L.mm + 2 * info.lineSpacing();

    const auto& header = s.table.columns.header;
    const std::size_t cols = header.size();
    std::vector<double> natural(cols, 0);
    std::int64_t done = 0;
    auto tick = [&] { return ++done % 1024 != 0 || !progress || progress(done / 2, std::int64_t(s.table.rows.size())); };
    for (std::size_t c = 0; c < cols; ++c)
        natural[c] = cell.horizontalAdvance(q(header[c]));
    for (const auto& r : s.table.rows) {
        for (std::size_t c = 0; c < cols && c < r.size(); ++c)
            natural[c] = std::max(natural[c], cell.horizontalAdvance(q(r[c])));
        if (!tick())
            return false;
    }
    for (double& n : natural)
        n += 2 * L.pad + 1;
    const std::vector<double> w = columnWidths(natural, L.width);
    L.colX.assign(1, 0);
    for (double x : w)
        L.colX.push_back(L.colX.back() + x);

    auto rowHeight = [&](const std::vector<std::string>& r) {
        double h = cell.height();
        for (std::size_t c = 0; c < cols && c < r.size(); ++c)
            if (!r[c].empty())
                h = std::max(h, wrappedHeight(cell, w[c] - 2 * L.pad, q(r[c])));
        return h + 2 * L.pad;
    };
    L.headerRow = rowHeight(header);

    const double bottom = L.height - L.footer;
    double y = L.titleBlock + L.headerRow;
    L.pageStart.assign(1, 0);
    L.rowH.clear();
    L.rowH.reserve(s.table.rows.size());
    for (std::size_t i = 0; i < s.table.rows.size(); ++i) {
        const double h = rowHeight(s.table.rows[i]);
        L.rowH.push_back(h);
        if (y + h > bottom && i > L.pageStart.back()) {
            L.pageStart.push_back(i);
            y = L.runningHead + L.headerRow;
        }
        y += h;
        if (!tick())
            return false;
    }
    L.totalOwnPage = y + L.totalBlock > bottom;
    return true;
}

void paintHeaderRow(QPainter& p, const Layout& L, const std::vector<std::string>& header, double y) {
    p.save();
    p.setBrush(QColor(230, 230, 230));
    for (std::size_t c = 0; c < header.size(); ++c) {
        const QRectF box(L.colX[c], y, L.colX[c + 1] - L.colX[c], L.headerRow);
        p.drawRect(box);
        p.drawText(box.adjusted(L.pad, L.pad, -L.pad, -L.pad), kWrap | Qt::AlignCenter, q(header[c]));
    }
    p.restore();
}

void paintRow(QPainter& p, const Layout& L, const Columns& cols, const std::vector<std::string>& r, double y,
              double h) {
    for (std::size_t c = 0; c + 1 < L.colX.size(); ++c) {
        const QRectF box(L.colX[c], y, L.colX[c + 1] - L.colX[c], h);
        p.drawRect(box);
        if (c >= r.size() || r[c].empty())
            continue;
        const int align = (cols.isNumeric(c) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
        p.drawText(box.adjusted(L.pad, L.pad, -L.pad, -L.pad), kWrap | align, q(r[c]));
    }
}

} // namespace

QString statementTitle(const Statement& s) {
    const Book* b = findBook(s.book);
    return QStringLiteral("对帐单 - %1 - %2").arg(q(s.ledger), b ? q(std::string(b->label)) + QLatin1Char(' ') + q(s.name) : q(s.name));
}

int paintStatement(QPagedPaintDevice& device, const Statement& s, const Progress& progress) {
    Layout L;
    if (!layOut(L, device, s, progress))
        return 0;
    const Book* book = findBook(s.book);
    const QString label = book ? q(std::string(book->label)) : QString();
    const QString party = book && !book->party.empty() ? q(std::string(book->party)) : QStringLiteral("名称");
    const int pages = L.pages();

    QPainter p(&device);
    p.setPen(QPen(Qt::black, 0.2 * L.mm));
    const QFontMetricsF info(L.info, &device);
    std::int64_t done = 0;
    const std::int64_t all = std::int64_t(s.table.rows.size());

    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            device.newPage();
        double y = 0;
        if (page == 0) {
            p.setFont(L.title);
            const QFontMetricsF title(L.title, &device);
            p.drawText(QRectF(0, 0, L.width, title.height()), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("对帐单"));
            y = title.height() + 3 * L.mm;
            p.setFont(L.info);
            p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft | Qt::TextSingleLine,
                       QStringLiteral("帐本: %1      帐簿: %2      %3: %4").arg(q(s.ledger), label, party, q(s.name)));
            y += info.lineSpacing();
            p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft,
                       QStringLiteral("打印日期: %1").arg(q(s.date)));
            y = L.titleBlock;
        } else {
            p.setFont(L.foot);
            p.drawText(QRectF(0, 0, L.width, L.runningHead), Qt::AlignLeft | Qt::AlignTop,
                       QStringLiteral("对帐单 (续)   %1   %2   %3: %4").arg(q(s.ledger), label, party, q(s.name)));
            y = L.runningHead;
        }

        if (std::size_t(page) < L.pageStart.size()) {
            const std::size_t from = L.pageStart[std::size_t(page)];
            const std::size_t to = std::size_t(page) + 1 < L.pageStart.size() ? L.pageStart[std::size_t(page) + 1]
                                                                              : s.table.rows.size();
            p.setFont(L.cell);
            paintHeaderRow(p, L, s.table.columns.header, y);
            y += L.headerRow;
            for (std::size_t i = from; i < to; ++i) {
                paintRow(p, L, s.table.columns, s.table.rows[i], y, L.rowH[i]);
                y += L.rowH[i];
                if (++done % 1024 == 0 && progress && !progress(all / 2 + done / 2, all)) {
                    p.end();
                    return 0;
                }
            }
        }

        if (page == pages - 1) {
            y += 4 * L.mm;
            p.setFont(L.info);
            p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft,
                       QStringLiteral("合计金额: %1元").arg(q(intToStr(s.total))));
            y += info.lineSpacing();
            p.drawText(QRectF(0, y, L.width, info.lineSpacing()), Qt::AlignLeft,
                       QStringLiteral("大写金额: %1").arg(q(capitalYuan(s.total))));
        }

        p.setFont(L.foot);
        p.drawText(QRectF(0, L.height - L.footer, L.width, L.footer), Qt::AlignHCenter | Qt::AlignBottom,
                   QStringLiteral("第 %1 页 / 共 %2 页").arg(page + 1).arg(pages));
    }
    p.end();
    return pages;
}

Outcome writeStatementPdf(const std::string& path, const Statement& s, const Progress& progress) {
    OutFile file(path);
    int pages = 0;
    {
        QPdfWriter pdf(QString::fromStdString(file.writerPath()));
        pdf.setResolution(300);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                      QPageLayout::Millimeter));
        pdf.setCreator(QStringLiteral("tessolan"));
        pdf.setTitle(statementTitle(s));
        pages = paintStatement(pdf, s, progress);
    }
    if (pages == 0)
        return Outcome::Cancelled;
    file.commit();
    return Outcome::Written;
}

} // namespace tsl::out
