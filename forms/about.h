#pragma once
#include <QWidget>

class Roster;

class Tabou : public QWidget {
    Q_OBJECT
public:
    explicit Tabou(Roster& roster);

private:
    Roster& r_;
};
