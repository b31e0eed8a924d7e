#include "forms/periodbox.h"

#include "storage/period.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The lowest day of an edit stands for an open end and shows 不限.
const QDate kOpen(1900, 1, 1);

QDate toQ(const std::optional<tsl::Date>& d) { return d ? QDate(d->year, d->month, d->day) : kOpen; }

std::optional<tsl::Date> fromQ(const QDate& d) {
    if (!d.isValid() || d == kOpen)
        return std::nullopt;
    return tsl::Date{d.year(), d.month(), d.day()};
}

QDateEdit* dateEdit(QWidget* parent, const char* name) {
    auto* e = new QDateEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setDisplayFormat(QStringLiteral("yyyy年M月d日"));
    e->setMinimumDate(kOpen);
    e->setSpecialValueText(QStringLiteral("不限"));
    e->setCalendarPopup(true);
    return e;
}

} // namespace

PeriodBox::PeriodBox(QWidget* parent, tsl::Date today, const tsl::Period& initial) : QDialog(parent) {
    setObjectName(QStringLiteral("periodBox"));
    setWindowTitle(QStringLiteral("对帐单的期间"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    fromEdit = dateEdit(this, "fromEdit");
    toEdit = dateEdit(this, "toEdit");
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("起:"), this), 0, 0);
    grid->addWidget(fromEdit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("止:"), this), 1, 0);
    grid->addWidget(toEdit, 1, 1);

    auto* picks = new QHBoxLayout;
    auto pick = [&](const char* name, const QString& text, auto period) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, period] { setPeriod(period); });
        picks->addWidget(b);
        return b;
    };
    thisMonthButton = pick("thisMonthButton", QStringLiteral("本月"), tsl::quickPeriod(tsl::QuickPeriod::ThisMonth, today));
    lastMonthButton = pick("lastMonthButton", QStringLiteral("上月"), tsl::quickPeriod(tsl::QuickPeriod::LastMonth, today));
    quarterButton = pick("quarterButton", QStringLiteral("本季度"), tsl::quickPeriod(tsl::QuickPeriod::ThisQuarter, today));
    yearButton = pick("yearButton", QStringLiteral("全年"), tsl::quickPeriod(tsl::QuickPeriod::WholeYear, today));
    allButton = pick("allButton", QStringLiteral("全部"), tsl::Period{});

    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("problem"));
    QPalette red = problem->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    problem->setPalette(red);

    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancel);

    grid->setColumnStretch(1, 1);
    auto* all = new QVBoxLayout(this);
    all->setSizeConstraint(QLayout::SetFixedSize); // as small as its contents, never resized
    all->addLayout(grid);
    all->addLayout(picks);
    all->addWidget(problem);
    all->addLayout(buttons);

    connect(fromEdit, &QDateEdit::dateChanged, this, [this] { check(); });
    connect(toEdit, &QDateEdit::dateChanged, this, [this] { check(); });
    setPeriod(initial);
}

tsl::Period PeriodBox::period() const { return {fromQ(fromEdit->date()), fromQ(toEdit->date())}; }

void PeriodBox::setPeriod(const tsl::Period& p) {
    fromEdit->setDate(toQ(p.from));
    toEdit->setDate(toQ(p.to));
    check();
}

// A period that ends before it starts cannot be taken.
void PeriodBox::check() {
    const tsl::Period p = period();
    const bool backwards = p.from && p.to && *p.to < *p.from;
    problem->setText(backwards ? QStringLiteral("起日期晚于止日期!") : QString());
    okButton->setEnabled(!backwards);
}
