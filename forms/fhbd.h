#pragma once
#include <QWidget>

class AmountSpin;
class DropDown;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Roster;

// Shipment dialog: adds a row to the shipment book with a fresh serial stamp, or
// changes the workspace's current row. Fills the address and postcode from the
// customer book when the user changes the customer name.
class Tfhb : public QWidget {
    Q_OBJECT
public:
    explicit Tfhb(Roster& roster);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    DropDown* edname;
    DropDown* edzl;
    QLineEdit* edsm;
    QLineEdit* edadd;
    QLineEdit* edyb;
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
    void ednameChange();

    Roster& r_;
};
