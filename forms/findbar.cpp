#include "forms/findbar.h"

#include "storage/findtext.h"
#include "storage/intconv.h"
#include "storage/schema.h"
#include "forms/shownrows.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"
#include "widgets/waitcursor.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// 3,204: the count and total as a bookkeeper reads them.
QString grouped(std::int64_t v) {
    QString digits = QString::number(v < 0 ? -v : v);
    for (int i = int(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return v < 0 ? QStringLiteral("-") + digits : digits;
}

} // namespace

FindBar::FindBar(QWidget* parent, ShownRows& shown, Prompter& prompter)
    : QWidget(parent), shown_(shown), model_(shown.model()), prompter_(prompter) {
    setObjectName(QStringLiteral("findBar"));
    auto* title = new QLabel(QStringLiteral("查找:"), this);
    title->setObjectName(QStringLiteral("lbFindTitle"));
    title->setGeometry(6, 4, 40, 18);
    edFind = new QLineEdit(this);
    edFind->setObjectName(QStringLiteral("edFind"));
    edFind->setGeometry(46, 3, 180, 20);
    edFind->installEventFilter(this);
    cbFindFilter = new QCheckBox(QStringLiteral("只显示找到的行"), this);
    cbFindFilter->setObjectName(QStringLiteral("cbFindFilter"));
    cbFindFilter->setChecked(true);
    cbFindFilter->setGeometry(236, 4, 120, 18);
    lbFind = new QLabel(this);
    lbFind->setObjectName(QStringLiteral("lbFind"));
    btnFindClose = new QToolButton(this);
    btnFindClose->setObjectName(QStringLiteral("btnFindClose"));
    btnFindClose->setText(QStringLiteral("×"));
    btnFindClose->setToolTip(QStringLiteral("关闭查找(Esc)"));
    btnFindClose->setAutoRaise(true);

    // The first search makes only the copy; its index fills afterwards, a slice
    // whenever the window has nothing else to do, so typing never waits for it.
    indexTimer_ = new QTimer(this);
    indexTimer_->setInterval(0);
    connect(indexTimer_, &QTimer::timeout, this, [this] {
        if (!copy_ || !isVisible() || !copy_->indexSome())
            indexTimer_->stop();
    });
    connect(edFind, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(cbFindFilter, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(btnFindClose, &QToolButton::clicked, this, [this] { close(); });
    // The window deletes its grid model before the cursor, and both before its
    // children: the copy stops watching the cursor while there is one.
    connect(&model_, &QObject::destroyed, this, [this] { copy_.reset(); });
    // Rows came or went while found: found again (the command is over by then).
    connect(&shown_, &ShownRows::rowsChanged, this, [this] {
        if (isVisible())
            refresh();
    });
    // With the whole book shown, an add, edit or delete changes what was found
    // too: found again once the command is over (a renumbering: once).
    auto later = [this] {
        if (refreshQueued_ || refreshing_ || !isVisible() || shown_.filtered())
            return;
        refreshQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            refreshQueued_ = false;
            if (isVisible())
                refresh();
        });
    };
    connect(&model_, &QAbstractItemModel::dataChanged, this, later);
    connect(&model_, &QAbstractItemModel::rowsInserted, this, later);
    connect(&model_, &QAbstractItemModel::rowsRemoved, this, later);
    hide();
}

FindBar::~FindBar() = default;

void FindBar::resizeEvent(QResizeEvent*) {
    lbFind->setGeometry(364, 4, std::max(0, width() - 364 - 30), 18);
    btnFindClose->setGeometry(width() - 26, 2, 22, 22);
}

void FindBar::open() {
    const bool was = isVisible();
    show();
    raise();
    edFind->setFocus(Qt::ShortcutFocusReason);
    edFind->selectAll();
    if (!was) {
        if (shownChanged)
            shownChanged();
        refresh();
    }
}

void FindBar::close() {
    if (!isVisible())
        return;
    hide();
    found_.clear();
    indexTimer_->stop();
    copy_.reset();
    shown_.clearFound(); // every row again, in the order chosen, on the same current row
    if (shownChanged)
        shownChanged();
    if (auto* p = parentWidget())
        p->setFocus();
}

void FindBar::refresh() {
    refreshing_ = true;
    guarded(prompter_, [this] {
        tsl::Cursor& book = model_.cursor();
        if (!book.isOpen()) {
            shown_.clearFound();
            lbFind->clear();
            return;
        }
        if (!copy_)
            copy_ = std::make_unique<tsl::FindCopy>(book);
        const int amountPos = tsl::amountPosition(std::atoi(book.tableName().c_str()));
        const WaitCursor wait; // the first search of a big book makes its copy
        const std::string needle = edFind->text().toStdString();
        tsl::FindCopy::Found found = copy_->find(needle, amountPos);
        if (!copy_->indexReady() && !indexTimer_->isActive())
            indexTimer_->start();
        const bool filter = cbFindFilter->isChecked() && !needle.empty();
        QString text = (filter ? QStringLiteral("显示 ") : QStringLiteral("找到 ")) + grouped(std::int64_t(found.rows.size())) +
                       QStringLiteral(" / ") + grouped(book.recordCount()) + QStringLiteral(" 行");
        if (amountPos >= 0) {
            text += QStringLiteral(",合计 ") + grouped(found.total) + QStringLiteral(" 元");
            if (found.badAmounts > 0)
                text += QStringLiteral("(") + grouped(found.badAmounts) + QStringLiteral(" 行的金额不是整数,未计入)");
        }
        lbFind->setText(text);
        found_ = found.rows;
        if (filter)
            shown_.setFound(std::move(found.rows));
        else
            shown_.clearFound();
    });
    refreshing_ = false;
}

void FindBar::step(bool forward) {
    guarded(prompter_, [this, forward] {
        tsl::Cursor& book = model_.cursor();
        if (!book.isOpen() || found_.empty() || edFind->text().isEmpty())
            return;
        // The rows found by the line they stand on (the grid may be sorted).
        std::vector<std::pair<int, int>> lines; // line, position
        lines.reserve(found_.size());
        for (int p : found_)
            if (const int line = model_.lineOf(p); line >= 0)
                lines.emplace_back(line, p);
        if (lines.empty())
            return;
        std::sort(lines.begin(), lines.end());
        const int at = model_.lineOf(book.currentRow());
        int to;
        if (forward) {
            const auto it = std::upper_bound(lines.begin(), lines.end(), std::pair{at, INT_MAX});
            to = it == lines.end() ? lines.front().second : it->second;
        } else {
            const auto it = std::lower_bound(lines.begin(), lines.end(), std::pair{at, INT_MIN});
            to = (at < 0 || it == lines.begin()) ? lines.back().second : (it - 1)->second;
        }
        book.moveTo(to);
    });
}

bool FindBar::eventFilter(QObject* o, QEvent* e) {
    if (o == edFind && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            step(!(k->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(o, e);
}
