#pragma once
#include <QWidget>

class Roster;

class Tzgj : public QWidget {
    Q_OBJECT
public:
    explicit Tzgj(Roster& roster);

private:
    Roster& r_;
};
