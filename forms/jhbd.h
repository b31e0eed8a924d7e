#pragma once
#include <QWidget>

class Roster;

class Tjhb : public QWidget {
    Q_OBJECT
public:
    explicit Tjhb(Roster& roster);

private:
    Roster& r_;
};
