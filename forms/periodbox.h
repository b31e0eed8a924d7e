#pragma once
// The small box that asks a statement's period: 起 and 止 dates, each may be
// left open (不限), and quick picks around today.
#include <QDialog>

namespace tsl {
struct Date;
struct Period;
} // namespace tsl

class QDateEdit;
class QLabel;
class QPushButton;

class PeriodBox final : public QDialog {
    Q_OBJECT
public:
    PeriodBox(QWidget* parent, tsl::Date today, const tsl::Period& initial);

    [[nodiscard]] tsl::Period period() const;
    void setPeriod(const tsl::Period& p);

    QDateEdit* fromEdit = nullptr;
    QDateEdit* toEdit = nullptr;
    QPushButton* thisMonthButton = nullptr;
    QPushButton* lastMonthButton = nullptr;
    QPushButton* quarterButton = nullptr;
    QPushButton* yearButton = nullptr;
    QPushButton* allButton = nullptr;
    QPushButton* okButton = nullptr;
    QLabel* problem = nullptr;

private:
    void check();
};
