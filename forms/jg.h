#pragma once
#include <QWidget>

class Roster;

class Tj : public QWidget {
    Q_OBJECT
public:
    explicit Tj(Roster& roster);

private:
    Roster& r_;
};
