#pragma once
#include <QWidget>

class Roster;

class Tfhb : public QWidget {
    Q_OBJECT
public:
    explicit Tfhb(Roster& roster);

private:
    Roster& r_;
};
