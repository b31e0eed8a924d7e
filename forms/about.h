#pragma once
#include <QWidget>

class QLabel;
class Roster;

// The About window: author, home page and database, program name, version and purpose. No behaviour.
class Tabou : public QWidget {
    Q_OBJECT
public:
    explicit Tabou(Roster& roster);

    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Image4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;

private:
    Roster& r_;
};
