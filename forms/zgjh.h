#pragma once
#include <QWidget>

class AmountSpin;
class DropDown;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Roster;

// Worker delivery dialog: adds a row to the delivery book with a fresh serial
// stamp, or changes the workspace's current row.
class Tzgj : public QWidget {
    Q_OBJECT
public:
    explicit Tzgj(Roster& roster);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label6;
    DropDown* edname;
    DropDown* edzl;
    QLineEdit* edsm;
    AmountSpin* edje;
    QFrame* Bevel1;
    QLabel* Image1;
    QPushButton* btn;
    QPushButton* btncancel;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void btnClick();
    void btncancelClick();
    void FormCloseQuery();

    Roster& r_;
};
