#pragma once
#include <QWidget>

class Roster;

class Tkhl : public QWidget {
    Q_OBJECT
public:
    explicit Tkhl(Roster& roster);

private:
    Roster& r_;
};
