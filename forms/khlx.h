#pragma once
#include <QObject>
#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Roster;

// Keeps a line edit within a byte budget, counting a character outside ASCII as
// two bytes (the way a GBK edit box counted): of what a user edit puts in (a
// typed character, a paste) only the part that fits the budget is kept. Text the
// program puts there may be longer, and the user can still shorten it.
class ByteLimit : public QObject {
    Q_OBJECT
public:
    ByteLimit(int limit, QLineEdit* edit);
    [[nodiscard]] static int byteLength(const QString& text);
    // `inserted` cut, at a whole character, to what fits in `budget` bytes.
    [[nodiscard]] static QString fitting(const QString& inserted, int budget);

private:
    void edited(const QString& text);

    QLineEdit* edit_;
    int limit_;
    QString before_; // the text before the latest change
    QString now_;
};

// Customer contact dialog: adds a customer to the customer book or changes the
// workspace's current customer row. The caption of btn is the mode.
class Tkhl : public QWidget {
    Q_OBJECT
public:
    explicit Tkhl(Roster& roster);

    static constexpr int kAddressLimit = 150;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* edname;
    QLineEdit* edadd;
    QLineEdit* edyb;
    QLineEdit* eddh;
    QLineEdit* edsj;
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

    void addCustomer();
    void editCustomer();

    Roster& r_;
};
